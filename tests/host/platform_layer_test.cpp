// The Linux platform layer where its behaviour is the platform's and the stub relies on it: wsprintf,
// the lstr family, Windows paths on Linux, folder search, attributes, the system's error texts, global
// memory, and OpenStream's reports through the scripted desktop.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <string>

#include "extract/extract.h"
#include "platform/host/desktop.h"
#include "test_support.h"

namespace {


TEST(HostStrings, WsprintfFollowsThePlatform) {
  WCHAR out[2048];
  wsprintfW(out, L"%s|%5s|%-4s|%S", L"wide", L"ab", L"x", "narrow");
  EXPECT_EQ(std::wstring(out), L"wide|   ab|x   |narrow");
  wsprintfW(out, L"%02d, %02d, %04d,  %02d:%02d:%02d", 3, 7, 2024, 9, 5, 0);
  EXPECT_EQ(std::wstring(out), L"03, 07, 2024,  09:05:00");
  wsprintfW(out, L"Unknown error %ld", (long)-5);
  EXPECT_EQ(std::wstring(out), L"Unknown error -5");
  wsprintfW(out, L"%u %x %X %%s %c", 4000000000u, 255u, 255u, L'z');
  EXPECT_EQ(std::wstring(out), L"4000000000 ff FF %s z");
  // The platform writes at most 1024 units with the terminator.
  std::wstring big(1500, L'b');
  EXPECT_EQ(wsprintfW(out, L"%s", big.c_str()), 1023);
  EXPECT_EQ(wcslen(out), 1023u);
  char narrow[64];
  wsprintfA(narrow, "%s-%d", "a", 12);
  EXPECT_STREQ(narrow, "a-12");

  WCHAR small[4];
  lstrcpynW(small, L"abcdef", 4);
  EXPECT_EQ(std::wstring(small), L"abc");
  EXPECT_EQ(lstrcmpiW(L"ABC.INF", L"abc.inf"), 0);
  EXPECT_LT(lstrcmpW(L"a", L"b"), 0);
}

TEST(HostPaths, DriveZIsTheLinuxRoot) {
  EXPECT_EQ(HostToLinuxPath(L"Z:\\tmp\\a b\\c.txt"), "/tmp/a b/c.txt");
  EXPECT_EQ(HostToLinuxPath(L"rel\\x"), "rel/x");
  EXPECT_EQ(HostToLinuxPath(L"C:\\Windows"), "");
  EXPECT_EQ(HostToLinuxPath(L"\\\\server\\share"), "");
  EXPECT_EQ(HostFromLinuxPath("/tmp/x"), L"Z:\\tmp\\x");
  EXPECT_EQ(HostToLinuxPath(L"Z:\\日本"), "/日本");
}

TEST(HostFiles, SearchAttributesAndErrors) {
  sfxtest::TempDir dir;
  std::wstring base = sfxtest::PlatformPath(dir.path()) + L"\\";
  sfxtest::WriteFile(dir.file("a.txt"), std::string("1"));
  sfxtest::WriteFile(dir.file("b.dat"), std::string("22"));
  ASSERT_TRUE(CreateDirectoryW((base + L"sub").c_str(), NULL));
  EXPECT_FALSE(CreateDirectoryW((base + L"sub").c_str(), NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);

  std::set<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((base + L"*.*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do names.insert(data.cFileName);
  while (FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  FindClose(find);
  EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"a.txt", L"b.dat", L"sub"}));
  find = FindFirstFileW((base + L"*.TXT").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::wstring(data.cFileName), L"a.txt");
  EXPECT_EQ(data.nFileSizeLow, 1u);
  EXPECT_FALSE(FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(FindFirstFileW((base + L"none\\*.*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);

  EXPECT_EQ(GetFileAttributesW((base + L"sub").c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW((base + L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW((base + L"missing\\x").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(L"C:\\Windows"), INVALID_FILE_ATTRIBUTES);

  std::wstring file = base + L"a.txt";
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(DeleteFileW(file.c_str())) << "read-only files cannot be deleted";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileW(file.c_str()));
  EXPECT_FALSE(RemoveDirectoryW(base.c_str())) << "not empty";
  EXPECT_TRUE(RemoveDirectoryW((base + L"sub").c_str()));
}

TEST(HostFiles, TimesRoundTripThroughHandles) {
  sfxtest::TempDir dir;
  std::wstring path = sfxtest::PlatformPath(dir.file("t.bin"));
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME when = {0x12345600u, 0x01D00000u}; // some day in 2014
  ASSERT_TRUE(SetFileTime(h, NULL, NULL, &when));
  FILETIME back;
  ASSERT_TRUE(GetFileTime(h, NULL, NULL, &back));
  EXPECT_EQ(back.dwHighDateTime, when.dwHighDateTime);
  EXPECT_EQ(back.dwLowDateTime, when.dwLowDateTime);
  EXPECT_EQ(GetFileSize(h, NULL), 0u);
  CloseHandle(h);
  EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, 0, NULL, CREATE_NEW, 0, NULL), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
}

TEST(HostKernel, GlobalBlocksAndErrorTexts) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
  BYTE *p = (BYTE *)GlobalLock(block);
  EXPECT_EQ(GlobalHandle(p), block);
  p[7] = 9;
  GlobalUnlock(block);
  HGLOBAL grown = GlobalReAlloc(block, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT);
  BYTE *q = (BYTE *)GlobalLock(grown);
  EXPECT_EQ(q[7], 9);
  EXPECT_EQ(q[4095], 0) << "the new part is zero-filled";
  EXPECT_EQ(GlobalHandle(q), grown);
  GlobalFree(grown);

  WCHAR *text = NULL;
  ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, ERROR_ACCESS_DENIED, 0,
                           (LPWSTR)&text, 0, NULL),
            0u);
  EXPECT_EQ(std::wstring(text), L"Access is denied.\r\n");
  LocalFree(text);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, 99999, 0,
                           (LPWSTR)&text, 0, NULL),
            0u);
}

class OpenStreamReports : public ::testing::Test {
protected:
  void SetUp() override { DesktopReset(); }
  sfxtest::TempDir dir;
};

TEST_F(OpenStreamReports, FailuresShowTheSystemTextAndRetryRepeats) {
  std::wstring missing = sfxtest::PlatformPath(dir.file("none.zip"));
  // Retry twice, then Cancel: three attempts, three boxes, no stream and no file created.
  DesktopQueueMessageBoxAnswer(IDRETRY);
  DesktopQueueMessageBoxAnswer(IDRETRY);
  DesktopQueueMessageBoxAnswer(IDCANCEL);
  EXPECT_EQ(OpenStream(missing.c_str(), L"rb"), nullptr);
  ASSERT_EQ(DesktopCalls().size(), 3u);
  for (const DesktopCall &c : DesktopCalls()) {
    EXPECT_EQ(c.caption, L"VAZ-IDA");
    EXPECT_EQ(c.text, L"The system cannot find the file specified.\r\n");
    EXPECT_EQ(c.style, (UINT)(MB_RETRYCANCEL | MB_ICONERROR));
  }
  EXPECT_FALSE(sfxtest::FileExists(dir.file("none.zip")));

  // A file that cannot be written: access denied.
  sfxtest::WriteFile(dir.file("ro.txt"), std::string("old"));
  chmod(dir.file("ro.txt").c_str(), 0444);
  DesktopReset();
  if (geteuid() != 0) {
    EXPECT_EQ(OpenStream(sfxtest::PlatformPath(dir.file("ro.txt")).c_str(), L"wb"), nullptr);
    ASSERT_EQ(DesktopCalls().size(), 1u);
    EXPECT_EQ(DesktopCalls()[0].text, L"Access is denied.\r\n");
  }

  // A folder in the way of the path: path not found.
  DesktopReset();
  EXPECT_EQ(OpenStream(sfxtest::PlatformPath(dir.file("no/dir/f")).c_str(), L"wb"), nullptr);
  ASSERT_EQ(DesktopCalls().size(), 1u);
  EXPECT_EQ(DesktopCalls()[0].text, L"The system cannot find the path specified.\r\n");
}

TEST_F(OpenStreamReports, WritesAndReadsNamesOutsideTheAnsiCodePage) {
  std::wstring path = sfxtest::PlatformPath(dir.path()) + L"\\データ\u0416.bin";
  FILE *out = OpenStream(path.c_str(), L"wb");
  ASSERT_NE(out, nullptr);
  fputs("payload", out);
  fclose(out);
  FILE *in = OpenStream(path.c_str(), L"rb");
  ASSERT_NE(in, nullptr);
  char buffer[16] = {0};
  EXPECT_EQ(fread(buffer, 1, sizeof buffer, in), 7u);
  fclose(in);
  EXPECT_STREQ(buffer, "payload");
  EXPECT_TRUE(DesktopCalls().empty());
  // "wb" truncates an existing file.
  out = OpenStream(path.c_str(), L"wb");
  ASSERT_NE(out, nullptr);
  fclose(out);
  EXPECT_EQ(sfxtest::ReadFile(HostToLinuxPath(path.c_str())).size(), 0u);
}

} // namespace
