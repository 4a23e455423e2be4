// mksfx.exe on Windows takes its texts from the wide command line: Japanese texts and characters beyond
// the ANSI code page reach the settings block as the same UTF-16 units, and an over-long one is refused
// without output.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "pe_image.h"
#include "test_support.h"

namespace {

using sfxtest::Bytes;

void Put(Bytes &b, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
// "PK" and the record's two bytes, pushed one by one.
void Signature(Bytes &b, uint8_t third, uint8_t fourth) {
  b.push_back(0x50);
  b.push_back(0x4B);
  b.push_back(third);
  b.push_back(fourth);
}

uint32_t Crc32(const std::string &data) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char ch : data) {
    c ^= ch;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// A one-entry archive with a stored file.
Bytes StoredZip(const std::string &name, const std::string &data) {
  Bytes z;
  uint32_t crc = Crc32(data), size = static_cast<uint32_t>(data.size());
  Signature(z, 3, 4);
  Put(z, 20, 2), Put(z, 0, 2), Put(z, 0, 2), Put(z, 0, 2), Put(z, 0x5821, 2);
  Put(z, crc, 4), Put(z, size, 4), Put(z, size, 4), Put(z, static_cast<uint32_t>(name.size()), 2), Put(z, 0, 2);
  z.insert(z.end(), name.begin(), name.end());
  z.insert(z.end(), data.begin(), data.end());
  uint32_t central = static_cast<uint32_t>(z.size());
  Signature(z, 1, 2);
  Put(z, 20, 2), Put(z, 20, 2), Put(z, 0, 2), Put(z, 0, 2), Put(z, 0, 2), Put(z, 0x5821, 2);
  Put(z, crc, 4), Put(z, size, 4), Put(z, size, 4), Put(z, static_cast<uint32_t>(name.size()), 2);
  Put(z, 0, 2), Put(z, 0, 2), Put(z, 0, 2), Put(z, 0, 2), Put(z, 0x20, 4), Put(z, 0, 4);
  z.insert(z.end(), name.begin(), name.end());
  uint32_t centralSize = static_cast<uint32_t>(z.size()) - central;
  Signature(z, 5, 6);
  Put(z, 0, 2), Put(z, 0, 2), Put(z, 1, 2), Put(z, 1, 2), Put(z, centralSize, 4), Put(z, central, 4), Put(z, 0, 2);
  return z;
}

std::wstring Quote(const std::wstring &s) { return L"\"" + s + L"\""; }

// Runs mksfx.exe with an exact command line; returns its exit code.
DWORD RunMksfx(const std::wstring &arguments) {
  std::wstring program = sfxtest::Widen(sfxtest::BinaryDir() + "\\tools\\mksfx.exe");
  std::wstring commandLine = Quote(program) + L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start mksfx.exe, error " << GetLastError();
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

std::wstring FieldText(const Bytes &block, size_t offset, size_t units) {
  std::wstring text;
  for (size_t i = 0; i < units; ++i) {
    wchar_t unit = static_cast<wchar_t>(block[offset + 2 * i] | (block[offset + 2 * i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

class MksfxWideTest : public ::testing::Test {
protected:
  void SetUp() override {
    stub = sfxtest::MakeTypicalStub();
    sfxtest::WriteFile(dir.file("stub.exe"), stub);
    sfxtest::WriteFile(dir.file("a.zip"), StoredZip("readme.txt", "hello from the archive\r\n"));
    common = L"--stub " + Quote(sfxtest::Widen(dir.file("stub.exe")));
  }
  sfxtest::TempDir dir;
  Bytes stub;
  std::wstring common;
};

TEST_F(MksfxWideTest, JapaneseTextsReachTheBlockUnitByUnit) {
  const std::wstring destination = L"%ProgramFiles%\\ソフト\\日本語版";
  const std::wstring question = L"インストールしますか？";
  const std::wstring caption = L"確認 \xD83D\xDE00";  // with a surrogate pair
  std::string out = dir.file("out.exe");
  DWORD code = RunMksfx(common + L" --dest " + Quote(destination) + L" --question " + Quote(question) +
                        L" --question-caption " + Quote(caption) + L" --run setup.exe --crc -o " +
                        Quote(sfxtest::Widen(out)) + L" " + Quote(sfxtest::Widen(dir.file("a.zip"))));
  ASSERT_EQ(code, 0u);
  Bytes sfx = sfxtest::ReadFile(out);
  ASSERT_GT(sfx.size(), stub.size() + 996);
  Bytes block(sfx.begin() + static_cast<long>(stub.size()), sfx.begin() + static_cast<long>(stub.size() + 996));
  EXPECT_EQ(std::string(block.begin(), block.begin() + 8), "TAVREN3U");
  EXPECT_EQ(FieldText(block, 0x008, 260), destination);
  EXPECT_EQ(FieldText(block, 0x210, 128), L"setup.exe");
  EXPECT_EQ(FieldText(block, 0x324, 32), caption);
  EXPECT_EQ(FieldText(block, 0x364, 64), question);
  EXPECT_EQ(RunMksfx(L"--info " + Quote(sfxtest::Widen(out))), 0u);
}

TEST_F(MksfxWideTest, OverLongJapaneseTextIsRefusedWithoutOutput) {
  std::string out = dir.file("long.exe");
  std::wstring question(64, L'\x8CEA');  // 64 units: one more than the field holds with its terminator
  DWORD code = RunMksfx(common + L" --question " + Quote(question) + L" -o " + Quote(sfxtest::Widen(out)) + L" " +
                        Quote(sfxtest::Widen(dir.file("a.zip"))));
  EXPECT_EQ(code, 1u);
  EXPECT_FALSE(sfxtest::FileExists(out));
}

} // namespace
