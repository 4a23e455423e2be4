// Whole runs of the start-up and the driver on Linux: self-extracting files made by mksfx (on a small
// PE image) and plain archives named on the command line, with the scripted desktop answering. Each row
// of the driver's outcomes is reached with its message and exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "pe_image.h"
#include "platform/host/desktop.h"
#include "startup/startup.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class DriverRun : public ::testing::Test {
protected:
  void SetUp() override {
    if (!sfxtest::HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    DesktopReset();
    HostSetPlatformId(VER_PLATFORM_WIN32_NT);
    HostSetUiLanguage(1033);
    sfxtest::PeImageSpec layout;
    layout.sections = sfxtest::TypicalSections();
    sfxtest::WriteFile(dir.file("stub.exe"), sfxtest::MakePeImage(layout));
    fs::create_directories(dir.file("content/docs"));
    sfxtest::WriteFile(dir.file("content/readme.txt"), std::string("read me\n"));
    sfxtest::WriteFile(dir.file("content/docs/big.bin"), std::string(300000, 'b'));
    ASSERT_EQ(sfxtest::Run("cd '" + dir.file("content") + "' && zip -q -0 -r ../payload.zip ."), 0);
  }

  // Makes dir/<folder>/setup.exe with mksfx and the given options.
  std::string Make(const std::string &options, const std::string &folder = "") {
    std::string out = dir.file(folder.empty() ? "setup.exe" : folder + "/setup.exe");
    fs::create_directories(fs::path(out).parent_path());
    std::string mksfx = sfxtest::BinaryDir() + "/tools/mksfx";
    std::string command = "'" + mksfx + "' --stub '" + dir.file("stub.exe") + "' " + options + " -o '" + out + "' '" +
                          dir.file("payload.zip") + "'";
    EXPECT_EQ(sfxtest::Run(command), 0) << command;
    return out;
  }

  UINT Start(const std::string &program, const std::wstring &arguments = L"") {
    std::wstring own = sfxtest::PlatformPath(program);
    HostSetModulePath(own);
    HostSetCommandLine(L"\"" + own + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
    return RunProgram();
  }

  std::vector<DesktopCall> Calls(DesktopKind kind) {
    std::vector<DesktopCall> out;
    for (const DesktopCall &c : DesktopCalls())
      if (c.kind == kind) out.push_back(c);
    return out;
  }

  std::string Dest(const std::string &name) { return dir.file(name); }
  std::string Quoted(const std::string &linuxPath) { return "'" + HostNarrow(sfxtest::PlatformPath(linuxPath)) + "'"; }

  sfxtest::TempDir dir;
};

TEST_F(DriverRun, NormalRunExtractsAndOpensTheFolder) {
  std::string out = Make("--dest " + Quoted(Dest("out")) + " --no-dialog --overwrite");
  EXPECT_EQ(Start(out), 0u) << DesktopTranscript();
  EXPECT_EQ(sfxtest::ReadFile(Dest("out/readme.txt")).size(), 8u);
  EXPECT_EQ(sfxtest::ReadFile(Dest("out/docs/big.bin")).size(), 300000u);
  auto opened = Calls(DesktopKind::Dialog);
  ASSERT_FALSE(opened.empty());
  EXPECT_EQ(opened.back().caption, L"ShellExecuteW");
  EXPECT_EQ(opened.back().text, L"open explorer " + sfxtest::PlatformPath(Dest("out")) + L"\\");
  EXPECT_TRUE(Calls(DesktopKind::MessageBox).empty()) << DesktopTranscript();
  // The progress bar followed the stored data.
  EXPECT_GT(DesktopProgressCount(), 0);
}

TEST_F(DriverRun, OutcomesWithTheirMessagesAndExitCodes) {
  struct Case {
    const char *what;
    std::string options;
    std::vector<int> answers;
    UINT exitCode;
    std::wstring caption;     // of the last message box, empty for none
    std::wstring textStart;   // its text begins so
    UINT style;
    bool extracted;
  } cases[] = {
      {"question answered No", "--question 'Install?' --question-caption 'Setup question' --no-dialog --overwrite",
       {IDNO}, 0xFFFFFFFFu, L"Setup question", L"Install?", MB_ICONQUESTION | MB_YESNO, false},
      {"question answered Yes", "--question 'Install?' --question-caption 'Q' --no-dialog --overwrite",
       {IDYES}, 0u, L"Q", L"Install?", MB_ICONQUESTION | MB_YESNO, true},
      {"folder creation declined", "--no-dialog", {IDCANCEL}, 0u, L"VAZ-IDA", L"The Folder '",
       MB_ICONQUESTION | MB_OKCANCEL, false},
      {"folder creation accepted", "--no-dialog", {IDOK}, 0u, L"VAZ-IDA", L"The Folder '", MB_ICONQUESTION | MB_OKCANCEL,
       true},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DesktopReset();
    for (int a : c.answers) DesktopQueueMessageBoxAnswer(a);
    std::string dest = Dest("case" + std::to_string(n++));
    std::string out = Make("--dest " + Quoted(dest) + " " + c.options, "p" + std::to_string(n));
    EXPECT_EQ(Start(out), c.exitCode) << DesktopTranscript();
    auto boxes = Calls(DesktopKind::MessageBox);
    ASSERT_FALSE(boxes.empty()) << DesktopTranscript();
    EXPECT_EQ(boxes.back().caption, c.caption);
    EXPECT_EQ(boxes.back().text.substr(0, c.textStart.size()), c.textStart);
    EXPECT_EQ(boxes.back().style, c.style);
    EXPECT_EQ(sfxtest::FileExists(dest + "/readme.txt"), c.extracted);
  }
}

TEST_F(DriverRun, CreateFolderQuestionNamesTheFolder) {
  std::string dest = Dest("made");
  DesktopQueueMessageBoxAnswer(IDOK);
  EXPECT_EQ(Start(Make("--dest " + Quoted(dest) + " --no-dialog")), 0u);
  auto boxes = Calls(DesktopKind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"The Folder '" + sfxtest::PlatformPath(dest) + L"\\' does not exist.\nDo you want to create it?");
}

TEST_F(DriverRun, FolderThatCannotBeCreated) {
  sfxtest::WriteFile(Dest("afile"), std::string("x"));
  EXPECT_EQ(Start(Make("--dest " + Quoted(Dest("afile/sub")) + " --no-dialog --overwrite")), 0u);
  auto boxes = Calls(DesktopKind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u) << DesktopTranscript();
  EXPECT_EQ(boxes[0].text, L"Cannot create a folder.\nThis archive forbids writing.");
  EXPECT_EQ(boxes[0].style, (UINT)MB_ICONERROR);
}

TEST_F(DriverRun, NoEndRecordAndNothingAppended) {
  sfxtest::Bytes junk = sfxtest::ReadFile(Make("--no-dialog"));
  junk.resize(junk.size() - 22); // the end record goes
  std::string broken = dir.file("broken.exe");
  sfxtest::WriteFile(broken, junk);
  EXPECT_EQ(Start(broken), 0xFFFFFFFFu);
  auto boxes = Calls(DesktopKind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u) << DesktopTranscript();
  EXPECT_EQ(boxes[0].text, L"not supported archive format.");
  EXPECT_EQ(boxes[0].style, (UINT)MB_ICONERROR);
}

TEST_F(DriverRun, RejectedDestinationWithoutDialogStopsInsteadOfLooping) {
  // The archive's own folder holds a ';', so the fallback is rejected too.
  std::string out = Make("--dest 'x?y' --no-dialog --overwrite", "a;b");
  EXPECT_EQ(Start(out), 0xFFFFFFFFu);
  auto boxes = Calls(DesktopKind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u) << DesktopTranscript();
  EXPECT_EQ(boxes[0].text, L"Invalid path!");
  EXPECT_EQ(boxes[0].caption, L"VAZ-IDA");
  EXPECT_EQ(boxes[0].style, (UINT)MB_ICONERROR);

  // With the destination dialog confirmed as it stands, the same rejected folder comes back: the run stops too.
  DesktopReset();
  out = Make("--dest 'x?y' --overwrite", "c;d");
  EXPECT_EQ(Start(out), 0xFFFFFFFFu);
  boxes = Calls(DesktopKind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u) << DesktopTranscript();
  EXPECT_EQ(boxes[0].text, L"Invalid path!");

  // A rejected destination whose archive folder is fine falls back to that folder.
  DesktopReset();
  out = Make("--dest 'x?y' --no-dialog --overwrite", "fine");
  EXPECT_EQ(Start(out), 0u) << DesktopTranscript();
  EXPECT_TRUE(sfxtest::FileExists(dir.file("fine/readme.txt")));
}

TEST_F(DriverRun, CancelDuringALargeEntryRemovesThePartialFile) {
  std::string dest = Dest("cancelled");
  std::string out = Make("--dest " + Quoted(dest) + " --no-dialog --overwrite");
  int progress = 0;
  DesktopSetHook([&](const DesktopCall &call, LRESULT *) {
    if (call.kind == DesktopKind::SendMessage && call.message == PROGRESS_MESSAGE && ++progress == 2) {
      g_cancelState = 100; // the Cancel button
    }
    return false;
  });
  EXPECT_EQ(Start(out), 0xFFFFFFFFu) << DesktopTranscript();
  EXPECT_FALSE(sfxtest::FileExists(dest + "/docs/big.bin"));
  EXPECT_TRUE(Calls(DesktopKind::Dialog).empty()) << "no folder opened after a cancel";
  DesktopSetHook(nullptr);
}

TEST_F(DriverRun, NamedArchiveWithOptionsAndDestination) {
  std::string dest = Dest("named");
  std::wstring arguments = L"/h /o /n \"" + sfxtest::PlatformPath(dir.file("payload.zip")) + L"\" \"" +
                           sfxtest::PlatformPath(dest) + L"\"";
  EXPECT_EQ(Start(dir.file("stub.exe"), arguments), 0u) << DesktopTranscript();
  EXPECT_TRUE(sfxtest::FileExists(dest + "/docs/big.bin"));
  EXPECT_TRUE(Calls(DesktopKind::Dialog).empty()) << "/n: no folder opened";
  EXPECT_TRUE(Calls(DesktopKind::MessageBox).empty()) << DesktopTranscript();
}

TEST_F(DriverRun, BareArchiveNameExtractsIntoTheCurrentFolder) {
  // sfx.exe /h a.zip from a prompt: the archive's folder is the current one, not an empty path that the
  // folder question would name as '' and that could never be created.
  fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  UINT code = Start(dir.file("stub.exe"), L"/h /n payload.zip");
  fs::current_path(previous);
  EXPECT_EQ(code, 0u) << DesktopTranscript();
  EXPECT_EQ(sfxtest::ReadFile(dir.file("readme.txt")).size(), 8u);
  EXPECT_TRUE(sfxtest::FileExists(dir.file("docs/big.bin")));
  EXPECT_TRUE(Calls(DesktopKind::MessageBox).empty()) << DesktopTranscript();
}

} // namespace
