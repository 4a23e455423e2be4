// The walk's platform-dependent pieces, on Linux (the project's layer) and under Wine (the real API):
// DOS and local time conversion, full-path normalisation and the containment of hostile entry names,
// entry-name decoding in the ANSI code page, and a whole walk over a hand-built archive whose entries
// need no question.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "archive/reader.h"
#include "crypto/zipcrypto.h"
#include "decompress/decompress.h"
#include "extract/extract.h"
#include "extract/questions.h"
#include "extract/worker.h"
#include "startup/startup.h"
#include "test_support.h"
#include "walk_zip.h"

#ifndef _WIN32
#include "platform/host/desktop.h"
#endif

namespace fs = std::filesystem;
using namespace walktest;

namespace {

const uint64_t UNIX_EPOCH_TICKS = 116444736000000000ULL;
const WORD DATE_2020_02_29 = ((2020 - 1980) << 9) | (2 << 5) | 29;
const WORD TIME_13_37_58 = (13 << 11) | (37 << 5) | (58 / 2);

uint64_t Ticks(const FILETIME &t) { return ((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime; }

std::wstring W(const std::string &utf8) { return sfxtest::Widen(utf8); }

void WriteBytes(const std::string &path, const Bytes &bytes) { sfxtest::WriteFile(path, bytes); }

FILE *OpenArchive(const std::string &path) { return fopen(path.c_str(), "rb"); }

// Resets what one walk leaves behind in the program-wide state.
void ResetWalkState() {
  g_cancelState = 0;
  g_overwriteWithoutAsking = 0;
  g_newerOnly = 0;
  g_deleteAfterSetup = 0;
  g_setupCommand[0] = 0;
  g_progressWindow = NULL;
  StringListClear();
  BuildCrcTable();
}

TEST(WalkTime, DosTimeConvertsFieldByField) {
  FILETIME ft;
  ASSERT_TRUE(DosDateTimeToFileTime(DATE_2020_02_29, TIME_13_37_58, &ft));
  // 2020-02-29 13:37:58 is 1582983478 seconds after 1970-01-01.
  EXPECT_EQ(Ticks(ft), 1582983478ULL * 10000000ULL + UNIX_EPOCH_TICKS);
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 2020);
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wDayOfWeek, 6); // a Saturday
  EXPECT_EQ(st.wHour, 13);
  EXPECT_EQ(st.wMinute, 37);
  EXPECT_EQ(st.wSecond, 58);
  WORD date = 0, time = 0;
  ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, DATE_2020_02_29);
  EXPECT_EQ(time, TIME_13_37_58);
  FILETIME back;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
  EXPECT_EQ(Ticks(back), Ticks(ft));
}

TEST(WalkTime, FirstAndLastDosDates) {
  FILETIME ft;
  ASSERT_TRUE(DosDateTimeToFileTime((0 << 9) | (1 << 5) | 1, 0, &ft));
  EXPECT_EQ(Ticks(ft), 315532800ULL * 10000000ULL + UNIX_EPOCH_TICKS); // 1980-01-01 00:00:00
  ASSERT_TRUE(DosDateTimeToFileTime((127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29, &ft));
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 2107);
  EXPECT_EQ(st.wSecond, 58);
}

TEST(WalkTime, LocalAndUtcAreInverse) {
  FILETIME local, utc, again;
  ASSERT_TRUE(DosDateTimeToFileTime(DATE_2020_02_29, TIME_13_37_58, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &again));
  EXPECT_EQ(Ticks(again), Ticks(local));
  // The offset is whole minutes and less than a day.
  int64_t offset = (int64_t)Ticks(local) - (int64_t)Ticks(utc);
  EXPECT_EQ(offset % (60LL * 10000000LL), 0);
  EXPECT_LT(offset < 0 ? -offset : offset, 86400LL * 10000000LL);
  EXPECT_EQ(CompareFileTime(&utc, &utc), 0);
  FILETIME later = utc;
  later.dwLowDateTime += 1;
  if (!later.dwLowDateTime)
    later.dwHighDateTime++;
  EXPECT_EQ(CompareFileTime(&utc, &later), -1);
  EXPECT_EQ(CompareFileTime(&later, &utc), 1);
}

// ---- full paths ----

std::wstring FullPath(const std::wstring &path) {
  WCHAR buffer[1040];
  DWORD n = GetFullPathNameW(path.c_str(), 1040, buffer, NULL);
  return n && n < 1040 ? std::wstring(buffer, n) : std::wstring(L"<failed>");
}

TEST(WalkFullPath, NormalisesAsThePlatformDoes) {
  struct Case {
    const wchar_t *input;
    const wchar_t *expected;
  } cases[] = {
      {L"Z:\\a\\b\\..\\c", L"Z:\\a\\c"},    {L"Z:\\a\\.\\b", L"Z:\\a\\b"},
      {L"Z:\\a\\\\\\b", L"Z:\\a\\b"},       {L"Z:/a/b", L"Z:\\a\\b"},
      {L"Z:\\a\\b\\", L"Z:\\a\\b\\"},       {L"Z:\\a\\b. . ", L"Z:\\a\\b"},
      {L"Z:\\a\\b.\\c", L"Z:\\a\\b\\c"},    {L"Z:\\a\\..\\..\\..\\x", L"Z:\\x"},
      {L"Z:\\a\\b\\..", L"Z:\\a"},          {L"Z:\\a\\CON", L"\\\\.\\CON"},
      {L"Z:\\a\\nul.txt", L"\\\\.\\nul"},   {L"Z:\\a\\COM1", L"\\\\.\\COM1"},
      {L"Z:\\a\\lpt9.log", L"\\\\.\\lpt9"}, {L"Z:\\a\\CONSOLE", L"Z:\\a\\CONSOLE"},
      {L"Z:\\a\\COM0", L"Z:\\a\\COM0"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(FullPath(c.input), c.expected) << sfxtest::Narrow(c.input);
}

TEST(WalkFullPath, ReportsTheNeededSize) {
  WCHAR small[4];
  DWORD n = GetFullPathNameW(L"Z:\\abc\\def", 4, small, NULL);
  EXPECT_EQ(n, 11u); // 10 characters and the terminator
  WCHAR *filePart = NULL;
  WCHAR buffer[64];
  ASSERT_EQ(GetFullPathNameW(L"Z:\\abc\\def", 64, buffer, &filePart), 10u);
  ASSERT_NE(filePart, nullptr);
  EXPECT_EQ(std::wstring(filePart), L"def");
}

// ---- containment of entry names ----

// The worker's name preparation without the progress dialog.
std::wstring Prepare(const std::string &raw) {
  static WCHAR name[ENTRY_NAME_UNITS];
  std::wstring w = W(raw);
  wcscpy(name, w.c_str());
  SlashesToBackslashes(name);
  WCHAR *p = name[0] == '\\' ? name + 1 : name;
  StripParentRefs(p);
  TrimTrailingSpaces(p);
  return p;
}

struct HostileName {
  const char *raw;
  const char *inside; // where it lands below the destination, or nullptr when it must be refused
};

const HostileName kHostileNames[] = {
    {"..", nullptr},
    {"a/..", nullptr},
    {"....//evil.txt", nullptr}, // "..\" appears once the first one is stripped
    {"....//....//evil.txt", nullptr},
    {"....//new/....//dest/x.txt", nullptr}, // a folder level outside, the file back inside
    {"CON", nullptr},
    {"nul.txt", nullptr},
    {"sub/aux", nullptr},
    {"COM1.log", nullptr},
    {"LPT1", nullptr},
    {"...", nullptr},
    {". . .", nullptr},
    {"../evil1.txt", "evil1.txt"},
    {"..\\evil2.txt", "evil2.txt"},
    {"/abs/evil3.txt", "abs/evil3.txt"},
    {"\\\\server\\share\\evil4.txt", "server/share/evil4.txt"},
    {"x/../../evil5.txt", "x/evil5.txt"},
    {"ok/fine.txt", "ok/fine.txt"},
};

TEST(WalkContainment, HostileNamesStayInsideTheDestination) {
  sfxtest::TempDir temp;
  fs::path outer = fs::path(temp.path()) / "outer";
  fs::path dest = outer / "dest";
  fs::create_directories(dest);
  std::wstring destination = sfxtest::PlatformPath(dest.string()) + L"\\";
  for (const HostileName &h : kHostileNames) {
    std::wstring name = Prepare(h.raw);
    int inside = NameStaysInside(destination.c_str(), name.c_str());
    EXPECT_EQ(inside != 0, h.inside != nullptr) << h.raw << " prepared as " << sfxtest::Narrow(name);
    if (!inside)
      continue;
    // Build the path as the worker does and create the file there.
    WCHAR prepared[ENTRY_NAME_UNITS];
    wcscpy(prepared, name.c_str());
    WCHAR output[OUTPUT_PATH_UNITS];
    ASSERT_EQ(BuildOutputPath(destination.c_str(), prepared, output), 1) << h.raw;
    HANDLE file = CreateFileW(output, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << h.raw;
    CloseHandle(file);
    EXPECT_TRUE(fs::is_regular_file(dest / fs::path(h.inside))) << h.raw;
  }
  // Nothing beside the destination, nothing beside its parent.
  std::set<std::string> outerNames, tempNames;
  for (auto &e : fs::directory_iterator(outer))
    outerNames.insert(e.path().filename().string());
  for (auto &e : fs::directory_iterator(temp.path()))
    tempNames.insert(e.path().filename().string());
  EXPECT_EQ(outerNames, std::set<std::string>{"dest"});
  EXPECT_EQ(tempNames, std::set<std::string>{"outer"});
}

TEST(WalkContainment, DestinationItselfIsNotAnEntry) {
  std::wstring destination = L"Z:\\some\\dest\\";
  EXPECT_FALSE(IsInsideDestination(destination.c_str(), L"Z:\\some\\dest\\", 0));
  EXPECT_TRUE(IsInsideDestination(destination.c_str(), L"Z:\\some\\dest\\", 1));
  EXPECT_TRUE(IsInsideDestination(destination.c_str(), L"Z:\\some\\dest", 1));
  EXPECT_FALSE(IsInsideDestination(destination.c_str(), L"Z:\\some\\destination\\x", 1));
  EXPECT_FALSE(IsInsideDestination(destination.c_str(), L"Z:\\some\\dest\\..\\x", 1));
  EXPECT_TRUE(IsInsideDestination(destination.c_str(), L"Z:\\some\\dest\\a\\..\\x", 0));
}

// ---- name decoding ----

struct DecodedName {
  std::string raw;
  uint16_t flags;
  uint8_t host;
  const char *as1252; // expected name (UTF-8 here) with the ANSI code page 1252
  const char *as932;  // and with 932
};

std::vector<std::wstring> ReadNames(const std::string &path) {
  std::vector<std::wstring> names;
  g_archiveFile = OpenArchive(path);
  if (!g_archiveFile)
    return names;
  EXPECT_NE(LocateCentralDirectory(), 0u);
  static BYTE window[SCAN_WINDOW_SIZE];
  static EntryHeader entry;
  while (ReadNextEntry(&entry, window)) {
    names.push_back(entry.name);
    fseek(g_archiveFile, ftell(g_archiveFile) + (long)entry.compressedSize, SEEK_SET);
  }
  fclose(g_archiveFile);
  g_archiveFile = NULL;
  return names;
}

void CheckNamesForCodePage(UINT codePage) {
  const DecodedName cases[] = {
      {"Gr\xC3\xBC\xC3\x9F"
       "e/\xE6\x97\xA5\xE6\x9C\xAC.txt",
       0x800, 0, "Grüße/日本.txt", "Grüße/日本.txt"},
      {"\xC3\xA9t\xC3\xA9.txt", 0, 3, "été.txt", "été.txt"},
      {"\xC3\xA9.txt", 0, 0, "Ã©.txt", "\xEF\xBE\x83\xEF\xBD\xA9.txt"}, // Windows archive: ANSI
      {"\x93\xFA\x96\x7B\x8C\xEA.txt", 0, 0, "“ú–{Œê.txt", "日本語.txt"},
      {"a:b?c\"d<e>f|g*h.txt", 0, 0, "a_b_c_d_e_f_g_h.txt", "a_b_c_d_e_f_g_h.txt"},
      {"plain.txt", 0x800, 3, "plain.txt", "plain.txt"},
      {"\xC3\xBC\n", 0x800, 0, "ü", "ü"},
  };
  std::vector<ZipEntry> entries;
  for (const DecodedName &c : cases) {
    ZipEntry e;
    e.name = c.raw;
    e.flags = c.flags;
    e.hostSystem = c.host;
    e.data = {'x'};
    entries.push_back(e);
  }
  sfxtest::TempDir temp;
  WriteBytes(temp.file("names.zip"), BuildZip(entries));
  std::vector<std::wstring> names = ReadNames(temp.file("names.zip"));
  ASSERT_EQ(names.size(), std::size(cases));
  for (size_t i = 0; i < names.size(); i++)
    EXPECT_EQ(names[i], W(codePage == 932 ? cases[i].as932 : cases[i].as1252)) << "case " << i;
}

TEST(WalkNames, DecodedInTheAnsiCodePageOrUtf8) {
#ifdef _WIN32
  UINT codePage = GetACP();
  const char *prefix = getenv("SFX_WINE_PREFIX");
  if (prefix && std::string(prefix) == "ja") {
    EXPECT_EQ(codePage, 932u);
  }
  if (prefix && std::string(prefix) == "en") {
    EXPECT_EQ(codePage, 1252u);
  }
  if (codePage != 1252 && codePage != 932)
    GTEST_SKIP() << "ANSI code page " << codePage;
  CheckNamesForCodePage(codePage);
#else
  HostSetAnsiCodePage(1252);
  CheckNamesForCodePage(1252);
  HostSetAnsiCodePage(932);
  CheckNamesForCodePage(932);
  HostSetAnsiCodePage(1252);
#endif
}

// ---- a whole walk without questions ----

TEST(WalkWorker, ExtractsAHandBuiltArchive) {
  const uint64_t ntfsTime = 132000000000000000ULL + 1234567; // not a DOS-representable time
  std::vector<ZipEntry> entries(7);
  entries[0].name = "top.txt";
  entries[0].data = Bytes(100000, 'a');
  entries[1].name = "one/two/deep.txt"; // folders without folder entries
  entries[1].data = {'d', 'e', 'e', 'p'};
  entries[2].name = "folder/";
  entries[2].externalAttributes = 0x10;
  entries[3].name = "ntfs.txt";
  entries[3].data = {'n'};
  entries[3].localExtra = NtfsTimeExtra(ntfsTime);
  entries[4].name = "descriptor.txt";
  entries[4].data = Bytes(5000, 'q');
  entries[4].dataDescriptor = true;
  entries[5].name = "readonly.txt";
  entries[5].data = {'r'};
  entries[5].externalAttributes = 0x21;
  entries[6].name = "secret.txt"; // no password known: skipped without a message
  entries[6].data = {'s'};
  entries[6].password = "pw";
  ZipEntry zip64;
  zip64.name = "zip64.txt";
  zip64.data = Bytes(3000, 'z');
  zip64.dataDescriptor = true;
  zip64.localPlaceholder = 0xFFFFFFFF; // Zip64's placeholder, as zip writes it for a piped stream
  entries.push_back(zip64);
  ZipEntry unlisted;
  unlisted.name = "unlisted.txt";
  unlisted.data = {'u', 'l'};
  unlisted.inCentral = false;
  entries.push_back(unlisted);

  sfxtest::TempDir temp;
  WriteBytes(temp.file("walk.zip"), BuildZip(entries));
  fs::path dest = fs::path(temp.path()) / "dest";
  fs::create_directories(dest);
  ResetWalkState();
#ifndef _WIN32
  DesktopReset();
#endif
  std::wstring destination = sfxtest::PlatformPath(dest.string()) + L"\\";
  wcscpy(g_destination, destination.c_str());
  g_archiveFile = OpenArchive(temp.file("walk.zip"));
  ASSERT_TRUE(g_archiveFile);
  ASSERT_NE(LocateCentralDirectory(), 0u);
  std::wstring archivePath = sfxtest::PlatformPath(temp.file("walk.zip"));
  DWORD result = ExtractionWorker((LPVOID)archivePath.c_str());
  fclose(g_archiveFile);
  g_archiveFile = NULL;
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(g_cancelState, 0);

  EXPECT_EQ(sfxtest::ReadFile((dest / "top.txt").string()), entries[0].data);
  EXPECT_EQ(sfxtest::ReadFile((dest / "one" / "two" / "deep.txt").string()), entries[1].data);
  EXPECT_TRUE(fs::is_directory(dest / "folder"));
  EXPECT_EQ(sfxtest::ReadFile((dest / "descriptor.txt").string()), entries[4].data);
  EXPECT_EQ(sfxtest::ReadFile((dest / "unlisted.txt").string()), unlisted.data);
  EXPECT_EQ(sfxtest::ReadFile((dest / "zip64.txt").string()), zip64.data);
  EXPECT_FALSE(fs::exists(dest / "secret.txt"));

  auto writeTime = [&](const fs::path &p) {
    std::wstring path = sfxtest::PlatformPath(p.string());
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    FILETIME t = {0, 0};
    if (h != INVALID_HANDLE_VALUE) {
      GetFileTime(h, NULL, NULL, &t);
      CloseHandle(h);
    }
    return Ticks(t);
  };
  FILETIME local, utc;
  ASSERT_TRUE(DosDateTimeToFileTime(DATE_2020_02_29, TIME_13_37_58, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  EXPECT_EQ(writeTime(dest / "top.txt"), Ticks(utc));
  EXPECT_EQ(writeTime(dest / "one" / "two" / "deep.txt"), Ticks(utc));
  EXPECT_EQ(writeTime(dest / "ntfs.txt"), ntfsTime);
  DWORD attributes = GetFileAttributesW(sfxtest::PlatformPath((dest / "readonly.txt").string()).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  attributes = GetFileAttributesW(sfxtest::PlatformPath((dest / "top.txt").string()).c_str());
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(sfxtest::PlatformPath((dest / "readonly.txt").string()).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// ---- the cipher's set-up ----

TEST(WalkCipher, SetupChecksThePasswordAndRestoresTheStream) {
  ZipEntry plain, described, empty;
  plain.name = "p.txt";
  plain.data = Bytes(40, 'p');
  plain.password = "right";
  described.name = "d.txt";
  described.data = Bytes(3, 'd');
  described.password = "right";
  described.dataDescriptor = true; // the check byte is the time's high byte
  // A zip written to a pipe leaves placeholders in the local header; the central header has the values.
  described.localPlaceholder = 0x12340000;
  empty.name = "e.txt";
  empty.password = "right"; // CRC-32 0: any password passes
  sfxtest::TempDir temp;
  WriteBytes(temp.file("c.zip"), BuildZip({plain, described, empty}));
  ResetWalkState();
  g_archiveFile = OpenArchive(temp.file("c.zip"));
  ASSERT_TRUE(g_archiveFile);
  ASSERT_NE(LocateCentralDirectory(), 0u);
  static BYTE window[SCAN_WINDOW_SIZE];
  static EntryHeader entry;

  ASSERT_TRUE(ReadNextEntry(&entry, window));
  long start = ftell(g_archiveFile);
  DWORD size = entry.compressedSize;
  EXPECT_EQ(SetupDecryption("", &entry), 0u); // refused without reading
  EXPECT_EQ(ftell(g_archiveFile), start);
  EXPECT_EQ(SetupDecryption("wrong", &entry), 0u);
  EXPECT_EQ(ftell(g_archiveFile), start);
  EXPECT_EQ(entry.compressedSize, size);
  ASSERT_EQ(SetupDecryption("right", &entry), 1u);
  EXPECT_EQ(entry.compressedSize, size - 12);
  EXPECT_EQ(ftell(g_archiveFile), start + 12);
  Bytes data(entry.compressedSize);
  ASSERT_EQ(ReadEntryBytes(data.data(), (DWORD)data.size()), (LONG)data.size());
  EXPECT_EQ(data, plain.data);
  fseek(g_archiveFile, start + (long)size, SEEK_SET);

  ASSERT_TRUE(ReadNextEntry(&entry, window));
  EXPECT_TRUE(entry.flags & 8);
  EXPECT_EQ(entry.compressedSize, 15u);
  EXPECT_EQ(entry.uncompressedSize, 3u);
  EXPECT_EQ(entry.crc32, Crc32(described.data));
  ASSERT_EQ(SetupDecryption("right", &entry), 1u);
  EXPECT_EQ(entry.compressedSize, 3u);
  Bytes small(3);
  ASSERT_EQ(ReadEntryBytes(small.data(), 3), 3);
  EXPECT_EQ(small, described.data);
  fseek(g_archiveFile, ftell(g_archiveFile) + 16, SEEK_SET); // the descriptor

  ASSERT_TRUE(ReadNextEntry(&entry, window));
  EXPECT_EQ(entry.crc32, 0u);
  EXPECT_EQ(SetupDecryption("anything", &entry), 1u);
  EXPECT_EQ(entry.compressedSize, 0u);
  EXPECT_EQ(SetupDecryption(NULL, NULL), 1u);
  EXPECT_EQ(g_decrypting, 0);
  fclose(g_archiveFile);
  g_archiveFile = NULL;
}

} // namespace
