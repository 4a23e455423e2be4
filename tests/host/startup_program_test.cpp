// The start-up and the settings block on Linux, with the scripted desktop answering: the platform
// refusal, a stub with nothing appended, the 64-bit requirement, and how a block replaces the settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/extract.h"
#include "pe_image.h"
#include "platform/host/desktop.h"
#include "startup/startup.h"
#include "test_support.h"

namespace {

using sfxtest::Bytes;

// An image whose sections end at 0x800: the settings block goes there.
Bytes StubImage() {
  sfxtest::PeImageSpec layout;
  layout.sections = sfxtest::TypicalSections();
  return sfxtest::MakePeImage(layout);
}

SettingsBlock Block(char kind, const wchar_t *setup, const wchar_t *destination = L"") {
  SettingsBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.magic, "TAVREN", 6);
  block.kind = kind;
  block.magicEnd = 'U';
  wcscpy(block.setupCommand, setup);
  wcscpy(block.destination, destination);
  block.openFolderAfter = 1;
  return block;
}

Bytes WithBlock(const SettingsBlock &block, size_t extra = 100) {
  Bytes file = StubImage();
  Bytes bytes(SETTINGS_BLOCK_SIZE);
  EncodeSettingsBlock(&block, bytes.data());
  file.insert(file.end(), bytes.begin(), bytes.end());
  file.insert(file.end(), extra, 0);
  return file;
}

class Startup : public ::testing::Test {
protected:
  void SetUp() override {
    DesktopReset();
    HostSetPlatformId(VER_PLATFORM_WIN32_NT);
    HostSetWow64(true, true);
    HostSetUiLanguage(1033);
  }
  void TearDown() override {
    HostSetPlatformId(VER_PLATFORM_WIN32_NT);
    HostSetUiLanguage(1033);
  }
  // Runs the start-up as the program at `path` with the given arguments; returns the exit code.
  UINT Start(const Bytes &file, const std::wstring &arguments = L"") {
    std::string path = dir.file("setup.exe");
    sfxtest::WriteFile(path, file);
    std::wstring own = sfxtest::PlatformPath(path);
    HostSetModulePath(own);
    HostSetCommandLine(L"\"" + own + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
    return RunProgram();
  }
  std::vector<DesktopCall> Boxes() {
    std::vector<DesktopCall> boxes;
    for (const DesktopCall &c : DesktopCalls())
      if (c.kind == DesktopKind::MessageBox) boxes.push_back(c);
    return boxes;
  }
  sfxtest::TempDir dir;
};

TEST_F(Startup, RefusesWindows9x) {
  HostSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(Start(WithBlock(Block('3', L""))), 0xFFFFFFFEu);
  auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"VAZ-IDA [Unicode version]");
  EXPECT_EQ(boxes[0].text, L"This sfx-module cannot be run in Windows 9x.");
  EXPECT_EQ(boxes[0].style, (UINT)MB_ICONERROR);
}

TEST_F(Startup, BareStubFailsSilently) {
  EXPECT_EQ(Start(StubImage()), 0xFFFFFFFFu);
  EXPECT_TRUE(Boxes().empty()) << DesktopTranscript();
}

TEST_F(Startup, SixtyFourBitRequirement) {
  struct Case {
    bool wow64Functions, isWow64;
    int language;
    const wchar_t *setup;
    const wchar_t *message; // null: no message
  } cases[] = {
      {true, false, 1033, L"setup.exe", L"This sfx-module cannot be run in Win32."},
      {false, false, 1033, L"setup.exe", L"This sfx-module cannot be run in Win32."},
      {true, false, 1041, L"setup.exe", L"このセットアップモジュールは Windows 64ビット用です。"},
      {true, true, 1033, L"setup.exe", nullptr},
      // Without a setup command the kind is ignored.
      {true, false, 1033, L"", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(sfxtest::Narrow(c.setup) + " wow64=" + std::to_string(c.isWow64));
    DesktopReset();
    HostSetWow64(c.wow64Functions, c.isWow64);
    HostSetUiLanguage(c.language);
    UINT code = Start(WithBlock(Block('6', c.setup)));
    auto boxes = Boxes();
    bool refused = !boxes.empty() && boxes[0].text == (c.message ? c.message : L"");
    if (c.message) {
      ASSERT_TRUE(refused) << DesktopTranscript();
      EXPECT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].caption, L"VAZ-IDA");
      EXPECT_EQ(boxes[0].style, (UINT)MB_ICONERROR);
      EXPECT_EQ(code, 0xFFFFFFFFu);
    } else {
      for (const DesktopCall &b : boxes) {
        EXPECT_NE(b.text, L"This sfx-module cannot be run in Win32.");
      }
    }
  }
}

TEST_F(Startup, NamedArchiveThatCannotBeOpened) {
  std::wstring missing = sfxtest::PlatformPath(dir.file("missing.zip"));
  EXPECT_EQ(Start(WithBlock(Block('3', L"")), L"\"" + missing + L"\""), 0xFFFFFFFFu);
  auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u) << DesktopTranscript();
  EXPECT_EQ(boxes[0].text, L"The system cannot find the file specified.\r\n");
  EXPECT_EQ(boxes[0].style, (UINT)(MB_RETRYCANCEL | MB_ICONERROR));
  EXPECT_EQ(boxes[1].text, L"Cannot open arhive.");
  EXPECT_EQ(boxes[1].caption, L"VAZ-IDA");
}

// ReadSettingsBlock on the own file, with the image headers of the program at g_instance.
class SettingsBlockReading : public ::testing::Test {
protected:
  void SetUp() override {
    DesktopReset();
    HostSetWow64(true, true);
    image = StubImage();
    g_instance = reinterpret_cast<HINSTANCE>(image.data());
    ResetEffectiveSettings();
  }
  int Read(const Bytes &file, int *temporary) {
    std::string path = dir.file("setup.exe");
    sfxtest::WriteFile(path, file);
    g_archiveFile = fopen(path.c_str(), "rb");
    int result = ReadSettingsBlock(sfxtest::PlatformPath(path).c_str(), temporary);
    if (result) {
      EXPECT_EQ(ftell(g_archiveFile), 0) << "rewound for the archive search";
      fclose(g_archiveFile);
    } else {
      EXPECT_EQ(g_archiveFile, nullptr) << "closed on failure";
    }
    g_archiveFile = nullptr;
    return result;
  }
  Bytes image;
  sfxtest::TempDir dir;
};

TEST_F(SettingsBlockReading, AValidBlockReplacesEverySetting) {
  SettingsBlock block = Block('3', L"setup.exe /s", L"%temp%");
  block.overwriteWithoutAsking = 1;
  block.openFolderAfter = 0;
  block.deleteAfterSetup = 1;
  block.skipDestinationDialog = 7;
  block.archiveCrc = 0xDEADBEEF;
  wcscpy(block.questionCaption, L"Question");
  wcscpy(block.questionText, L"Install it?");
  g_openFolderAfter = 1;
  g_skipDestinationDialog = 0;
  int temporary = -1;
  ASSERT_EQ(Read(WithBlock(block), &temporary), 1);
  WCHAR temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  EXPECT_EQ(std::wstring(g_destination), std::wstring(temp) + L"~setup.exe");
  EXPECT_EQ(temporary, 1);
  EXPECT_EQ(std::wstring(g_setupCommand), L"setup.exe /s");
  EXPECT_EQ(g_overwriteWithoutAsking, 1u);
  EXPECT_EQ(g_openFolderAfter, 0u) << "the block wins over the starting value";
  EXPECT_EQ(g_deleteAfterSetup, 1u);
  EXPECT_EQ(g_skipDestinationDialog, 7u) << "flags are copied as stored";
  EXPECT_EQ(g_expectedArchiveCrc, 0xDEADBEEFu);
  EXPECT_EQ(std::wstring(g_questionCaption), L"Question");
  EXPECT_EQ(std::wstring(g_questionText), L"Install it?");
  EXPECT_EQ(g_requires64Bit, 0);
}

TEST_F(SettingsBlockReading, IgnoredBlocksLeaveTheStartingSettings) {
  struct Case {
    const char *what;
    size_t at;
    uint8_t value;
    size_t keep; // bytes of the block kept in the file (0: all, plus more behind)
  } cases[] = {
      {"first magic byte", 0, 'X', 0},
      {"sixth magic byte", 5, 'x', 0},
      {"byte 7", 7, 'V', 0},
      {"short block", 0, 'T', 500},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ResetEffectiveSettings();
    g_overwriteWithoutAsking = 1; // as the command line might have set it
    SettingsBlock block = Block('3', L"setup.exe", L"D:\\x");
    block.archiveCrc = 1234;
    Bytes file = WithBlock(block, c.keep ? 0 : 100);
    file[0x800 + c.at] = c.value;
    if (c.keep) file.resize(0x800 + c.keep);
    int temporary = -1;
    ASSERT_EQ(Read(file, &temporary), 1);
    EXPECT_EQ(std::wstring(g_destination), L"");
    EXPECT_EQ(std::wstring(g_setupCommand), L"");
    EXPECT_EQ(g_expectedArchiveCrc, 0u);
    EXPECT_EQ(g_overwriteWithoutAsking, 1u);
    EXPECT_EQ(temporary, 0);
  }
}

TEST_F(SettingsBlockReading, KindAndTextsWithoutTerminator) {
  // A kind that is neither 3 nor 6 behaves like 3; a setup-less block never asks for 64 bits or deletes.
  SettingsBlock block = Block('9', L"setup.exe");
  int temporary;
  ASSERT_EQ(Read(WithBlock(block), &temporary), 1);
  EXPECT_EQ(g_requires64Bit, 0);

  block = Block('6', L"");
  block.deleteAfterSetup = 1;
  HostSetWow64(true, false);
  ASSERT_EQ(Read(WithBlock(block), &temporary), 1);
  EXPECT_EQ(g_deleteAfterSetup, 0u);
  EXPECT_TRUE(DesktopCalls().empty());

  block = Block('6', L"a.exe");
  HostSetWow64(true, true);
  ASSERT_EQ(Read(WithBlock(block), &temporary), 1);
  EXPECT_EQ(g_requires64Bit, 1);

  // Fields filled to their end without a terminator are cut at the field's end; what lies behind a
  // terminator is ignored.
  Bytes file = WithBlock(Block('3', L"x"));
  for (int i = 0; i < SETTINGS_SETUP_COMMAND_CHARS; ++i) {
    file[0x800 + SETTINGS_SETUP_COMMAND_OFFSET + 2 * i] = 'c';
    file[0x800 + SETTINGS_SETUP_COMMAND_OFFSET + 2 * i + 1] = 0;
  }
  for (int i = 0; i < SETTINGS_QUESTION_CAPTION_CHARS; ++i) file[0x800 + SETTINGS_QUESTION_CAPTION_OFFSET + 2 * i] = 'q';
  file[0x800 + SETTINGS_QUESTION_CAPTION_OFFSET + 2 * 3] = 0;
  ASSERT_EQ(Read(file, &temporary), 1);
  EXPECT_EQ(std::wstring(g_setupCommand), std::wstring(127, L'c'));
  EXPECT_EQ(std::wstring(g_questionCaption), L"qqq");
}

TEST(SettingsBlockBytes, EncodesAtTheFixedOffsets) {
  SettingsBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.magic, "TAVREN", 6);
  block.kind = '6';
  block.magicEnd = 'U';
  wcscpy(block.destination, L"%ProgramFiles%\\Tool");
  wcscpy(block.setupCommand, L"セットアップ.exe");
  block.archiveCrc = 0x01020304;
  wcscpy(block.questionText, L"\U0001F600?");
  Bytes bytes(SETTINGS_BLOCK_SIZE, 0xAA);
  EncodeSettingsBlock(&block, bytes.data());
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "TAVREN6U");
  EXPECT_EQ(bytes[0x008], '%');
  EXPECT_EQ(bytes[0x009], 0);
  EXPECT_EQ(bytes[0x210], 0xBB); // U+30BB, low byte first
  EXPECT_EQ(bytes[0x211], 0x30);
  EXPECT_EQ(bytes[0x320], 4);
  EXPECT_EQ(bytes[0x323], 1);
  // The character outside the basic plane becomes a surrogate pair in the file.
  EXPECT_EQ(bytes[0x365], 0xD8);
  EXPECT_EQ(bytes[0x367], 0xDE);
  EXPECT_EQ(bytes[0x3E3], 0) << "zero-filled behind each text";
  SettingsBlock back;
  ASSERT_EQ(DecodeSettingsBlock(bytes.data(), &back), 1);
  EXPECT_EQ(std::wstring(back.setupCommand), L"セットアップ.exe");
  EXPECT_EQ(std::wstring(back.questionText), L"\U0001F600?");
  EXPECT_EQ(back.kind, '6');
}

} // namespace
