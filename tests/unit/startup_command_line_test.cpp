// The command line: program name separation, options, archive name and destination, and texts longer
// than their buffers.
#include <gtest/gtest.h>

#include <string>

#include "startup/startup.h"
#include "test_support.h"

namespace {

struct Reading {
  std::wstring archive;
  std::wstring setup;
  std::wstring destination;
  DWORD deleteAfter, skipDialog, openFolder, overwrite;
};

Reading Parse(const std::wstring &arguments) {
  ResetEffectiveSettings();
  WCHAR archive[MAX_PATH] = {0};
  ParseCommandLine(arguments.c_str(), archive);
  return Reading{archive, g_setupCommand, g_destination, g_deleteAfterSetup, g_skipDestinationDialog,
                 g_openFolderAfter, g_overwriteWithoutAsking};
}

TEST(CommandLine, SkipsTheProgramName) {
  EXPECT_EQ(std::wstring(SkipProgramName(L"\"C:\\My Apps\\sfx.exe\"  /o a.zip")), L"/o a.zip");
  EXPECT_EQ(std::wstring(SkipProgramName(L"sfx.exe\t /h")), L"/h");
  EXPECT_EQ(std::wstring(SkipProgramName(L"\"unterminated name")), L"");
  EXPECT_EQ(std::wstring(SkipProgramName(L"sfx.exe")), L"");
  EXPECT_EQ(std::wstring(SkipProgramName(L"\"a\"b c")), L"b c");
}

TEST(CommandLine, OptionsAndArchiveNames) {
  struct Case {
    const wchar_t *arguments;
    const wchar_t *archive;
    const wchar_t *setup;
    DWORD deleteAfter, skipDialog, openFolder, overwrite;
  } cases[] = {
      {L"/o /h C:\\in\\a.zip", L"C:\\in\\a.zip", L"", 0, 1, 1, 1},
      {L"C:\\in\\a.zip /n", L"C:\\in\\a.zip", L"", 0, 0, 0, 0},
      {L"/e:setup.exe a.zip", L"a.zip", L"setup.exe", 0, 0, 1, 0},
      {L"/E:setup.exe /D a.zip", L"a.zip", L"setup.exe", 1, 0, 1, 0},
      // Blanks only: the program's own file.
      {L"   ", L"", L"", 0, 0, 1, 0},
      // The slash before dir is an option letter d; without a setup command the flag goes again.
      {L"C:/dir/a.zip", L"ir/a.zip", L"", 0, 0, 1, 0},
      // The value ran to the end of the text: the name is what stands before the first slash.
      {L"/e:setup.exe", L"", L"setup.exe", 0, 0, 1, 0},
      // An unknown letter sets no end of an option: the whole text is the name.
      {L"/x a.zip", L"/x a.zip", L"", 0, 0, 1, 0},
      // The second slash is the first one's letter, so o is no option.
      {L"//o a.zip", L"//o a.zip", L"", 0, 0, 1, 0},
      {L"/d a.zip", L"a.zip", L"", 0, 0, 1, 0},
      // /e without a colon is ignored.
      {L"/e a.zip", L"/e a.zip", L"", 0, 0, 1, 0},
      // A slash inside a value (not its first character) is read as an option too, and its end counts.
      {L"/e:tools/h.exe a.zip", L".exe a.zip", L"tools/h.exe", 0, 1, 1, 0},
      {L"/e:", L"", L"", 0, 0, 1, 0},
      {L"a.zip   ", L"a.zip", L"", 0, 0, 1, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(sfxtest::Narrow(c.arguments));
    Reading r = Parse(c.arguments);
    EXPECT_EQ(r.archive, c.archive);
    EXPECT_EQ(r.setup, c.setup);
    EXPECT_EQ(r.deleteAfter, c.deleteAfter);
    EXPECT_EQ(r.skipDialog, c.skipDialog);
    EXPECT_EQ(r.openFolder, c.openFolder);
    EXPECT_EQ(r.overwrite, c.overwrite);
  }
}

TEST(CommandLine, QuotedNamesAndDestinations) {
  sfxtest::TempDir dir;
  sfxtest::WriteFile(dir.file("plain.txt"), std::string("x"));
  std::wstring existingFile = sfxtest::PlatformPath(dir.file("plain.txt"));
  std::wstring existingFolder = sfxtest::PlatformPath(dir.path());
  std::wstring missing = sfxtest::PlatformPath(dir.file("new"));

  Reading r = Parse(L"\"C:\\My Files\\a.zip\" \"" + missing + L"\"");
  EXPECT_EQ(r.archive, L"C:\\My Files\\a.zip");
  EXPECT_EQ(r.destination, missing);

  r = Parse(L"\"a.zip\" \"" + existingFolder + L"\"");
  EXPECT_EQ(r.destination, existingFolder);

  r = Parse(L"\"a.zip\" \"" + existingFile + L"\"");
  EXPECT_EQ(r.archive, L"a.zip");
  EXPECT_EQ(r.destination, L"") << "an existing file is no destination";

  r = Parse(L"\"a.zip\"\"" + missing + L"\"");
  EXPECT_EQ(r.destination, L"") << "no blank between the two quoted paths";

  // A quoted /e value leaves no double quote behind, so the quoted archive name still counts.
  r = Parse(L"/e:\"setup.exe\" \"a.zip\"");
  EXPECT_EQ(r.setup, L"setup.exe");
  EXPECT_EQ(r.archive, L"a.zip");

  r = Parse(L"/e:\"set up.exe /s\"");
  EXPECT_EQ(r.setup, L"set up.exe /s");
  EXPECT_EQ(r.archive, L"");
}

TEST(CommandLine, OverlongTextsAreCutToTheirBuffers) {
  std::wstring longName(600, L'n');
  Reading r = Parse(longName);
  EXPECT_EQ(r.archive, std::wstring(MAX_PATH - 1, L'n')) << "argument copy 511, archive path 259";

  r = Parse(L"\"" + std::wstring(400, L'a') + L"\"");
  EXPECT_EQ(r.archive.size(), (size_t)MAX_PATH - 1);

  r = Parse(L"/e:" + std::wstring(300, L's') + L" a.zip");
  EXPECT_EQ(r.setup, std::wstring(127, L's'));
  EXPECT_EQ(r.archive, L"a.zip");

  r = Parse(L"\"a.zip\" \"Z:\\" + std::wstring(400, L'd') + L"\"");
  EXPECT_EQ(r.destination.size(), (size_t)MAX_PATH - 1);
  EXPECT_EQ(r.destination.substr(0, 3), L"Z:\\");

  // Text behind the 511th character is gone: an option there is never seen.
  r = Parse(std::wstring(520, L' ') + L"/o");
  EXPECT_EQ(r.overwrite, 0u);
}

} // namespace
