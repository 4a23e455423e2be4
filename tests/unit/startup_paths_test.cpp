// Path routines, destination keywords, folder-tree creation and the string list.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "startup/startup.h"
#include "test_support.h"

namespace {

std::wstring Apply(void (*routine)(WCHAR *), const std::wstring &text) {
  WCHAR buffer[MAX_PATH];
  lstrcpynW(buffer, text.c_str(), MAX_PATH);
  routine(buffer);
  return buffer;
}

TEST(PathRoutines, SplitAndTrim) {
  WCHAR folder[MAX_PATH], name[MAX_PATH];
  struct Case {
    const wchar_t *path, *folder, *name;
  } cases[] = {{L"C:\\a\\b.zip", L"C:\\a\\", L"b.zip"}, {L"C:\\a\\", L"C:\\a\\", L""},
               {L"b.zip", L"", L"b.zip"},             {L"", L"", L""}};
  for (const Case &c : cases) {
    SplitPath(c.path, folder, name);
    EXPECT_EQ(std::wstring(folder), c.folder);
    EXPECT_EQ(std::wstring(name), c.name);
  }
  SplitPath(L"C:\\a\\b.zip", NULL, name);
  EXPECT_EQ(std::wstring(name), L"b.zip");

  EXPECT_EQ(Apply(TrimTrailingSpaces, L"   "), L"");
  EXPECT_EQ(Apply(TrimTrailingSpaces, L"a b \t  "), L"a b \t");
  EXPECT_EQ(Apply(StripTrailingBackslash, L""), L"");
  EXPECT_EQ(Apply(StripTrailingBackslash, L"C:\\a\\\\"), L"C:\\a\\");
  EXPECT_EQ(Apply(AppendBackslash, L""), L"");
  EXPECT_EQ(Apply(AppendBackslash, L"C:\\a"), L"C:\\a\\");
  EXPECT_EQ(Apply(AppendBackslash, L"C:\\a\\"), L"C:\\a\\");
  EXPECT_EQ(Apply(SlashesToBackslashes, L"D:/data/out"), L"D:\\data\\out");

  // A path that fills its buffer gets no separator rather than a write past the end.
  std::wstring full = L"C:\\" + std::wstring(MAX_PATH - 4, L'x');
  EXPECT_EQ(Apply(AppendBackslash, full), full);
}

std::wstring Expand(const std::wstring &stored, DWORD deleteAfter, int *temporary, const wchar_t *ownPath) {
  static SettingsBlock block;
  memset(&block, 0, sizeof block);
  lstrcpynW(block.destination, stored.c_str(), SETTINGS_DESTINATION_CHARS);
  block.deleteAfterSetup = deleteAfter;
  WCHAR output[MAX_PATH];
  lstrcpyW(output, L"unchanged");
  *temporary = ExpandDestinationKeyword(output, &block, ownPath);
  return output;
}

std::wstring WithoutBackslash(std::wstring s) {
  if (!s.empty() && s.back() == L'\\') s.pop_back();
  return s;
}

TEST(DestinationKeywords, Expansion) {
  WCHAR temp[MAX_PATH], windows[MAX_PATH], system[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  GetWindowsDirectoryW(windows, MAX_PATH);
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring tempFolder = WithoutBackslash(temp);

  int temporary = -1;
  const wchar_t *own = L"C:\\dl\\setup.exe";
  EXPECT_EQ(Expand(L"", 1, &temporary, own), L"unchanged");
  EXPECT_EQ(temporary, 0);
  EXPECT_EQ(Expand(L"%temp%", 0, &temporary, own), tempFolder);
  EXPECT_EQ(temporary, 0);
  EXPECT_EQ(Expand(L"%temp%", 1, &temporary, own), tempFolder + L"\\~setup.exe");
  EXPECT_EQ(temporary, 1);
  EXPECT_EQ(Expand(L"%temp%\\Sub", 1, &temporary, own), tempFolder + L"\\Sub");
  EXPECT_EQ(temporary, 0);
  EXPECT_EQ(Expand(L"%temp%Sub", 0, &temporary, own), tempFolder + L"Sub");
  EXPECT_EQ(Expand(L"%WinDir%\\x", 0, &temporary, own), WithoutBackslash(windows) + L"\\x");
  EXPECT_EQ(Expand(L"%SystemDir%", 0, &temporary, own), WithoutBackslash(system));
  EXPECT_EQ(Expand(L"%desktop%\\x", 0, &temporary, own), L"\\x") << "keywords are case-sensitive";
  EXPECT_EQ(Expand(L"%WinDir", 0, &temporary, own), L"%WinDir");
  EXPECT_EQ(Expand(L"C:\\Fixed\\Path", 0, &temporary, own), L"C:\\Fixed\\Path");

  std::wstring programFiles = Expand(L"%ProgramFiles%\\Tool", 0, &temporary, own);
  EXPECT_GT(programFiles.size(), std::wstring(L"\\Tool").size());
  EXPECT_EQ(programFiles.substr(programFiles.size() - 5), L"\\Tool");
  for (const wchar_t *keyword : {L"%Desktop%", L"%MyDocuments%"}) {
    std::wstring folder = Expand(keyword, 0, &temporary, own);
    EXPECT_GT(folder.size(), 2u) << sfxtest::Narrow(keyword);
    EXPECT_EQ(folder[1], L':');
  }
}

TEST(FolderTree, CreatesEveryLevelAndRefusesRelativeForms) {
  sfxtest::TempDir dir;
  std::wstring base = sfxtest::PlatformPath(dir.path());
  EXPECT_EQ(CreateFolderTree((base + L"\\a\\b\\").c_str()), 1);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("a/b")) || std::filesystem::is_directory(dir.file("a\\b")));
  EXPECT_EQ(CreateFolderTree((base + L"\\a\\b\\c").c_str()), 1) << "no trailing backslash";
  EXPECT_NE(GetFileAttributesW((base + L"\\a\\b\\c").c_str()), INVALID_FILE_ATTRIBUTES);

  // A file in the way: the level below it cannot be made.
  sfxtest::WriteFile(dir.file("f"), std::string("x"));
  EXPECT_EQ(CreateFolderTree((base + L"\\f\\g\\").c_str()), 0);

  for (const wchar_t *refused : {L"rel\\out\\", L"\\out\\", L"D:out\\", L"\\\\srv"}) {
    EXPECT_EQ(CreateFolderTree(refused), 0) << sfxtest::Narrow(refused);
  }
  EXPECT_FALSE(std::filesystem::exists("rel"));
}

TEST(StringList, GrowsKeepsOrderAndClears) {
  StringListClear();
  EXPECT_EQ(StringListFirst(), nullptr);
  EXPECT_EQ(StringListNext(), nullptr);
  EXPECT_EQ(StringListCount(), 0);

  for (int i = 0; i < 600; ++i) {
    std::wstring text = L"file" + std::to_wstring(i);
    WCHAR *copy = RememberExtractedFile(text.c_str());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::wstring(copy), text);
    if (i == 257) {
      EXPECT_EQ(g_stringListCapacity, 513);
    }
  }
  EXPECT_EQ(StringListCount(), 600);
  EXPECT_EQ(g_stringListCapacity, 769);
  int seen = 0;
  for (WCHAR *t = StringListFirst(); t; t = StringListNext(), ++seen) {
    EXPECT_EQ(std::wstring(t), L"file" + std::to_wstring(seen));
  }
  EXPECT_EQ(seen, 600);
  EXPECT_EQ(StringListNext(), nullptr);

  StringListFirst();
  StringListClear();
  EXPECT_EQ(StringListNext(), nullptr) << "the clear ends a walk";
  EXPECT_EQ(StringListCount(), 0);
  StringListAdd(L"again");
  EXPECT_EQ(StringListNext(), nullptr) << "no walk started on the new list";
  EXPECT_EQ(std::wstring(StringListFirst()), L"again");
  StringListClear();
}

} // namespace
