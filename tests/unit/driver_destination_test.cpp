// The driver's destination passes: how a typed or stored destination resolves against the archive's folder.
#include <gtest/gtest.h>

#include <string>

#include "startup/startup.h"
#include "test_support.h"

namespace {

const wchar_t *const ARCHIVE_FOLDER = L"C:\\Users\\me\\Downloads\\";

// One pass as the driver makes it, followed by its trailing-blank and backslash steps.
std::wstring Resolve(const std::wstring &typed, bool *accepted) {
  WCHAR destination[MAX_PATH];
  lstrcpynW(destination, typed.c_str(), MAX_PATH);
  *accepted = ResolveDestination(destination, ARCHIVE_FOLDER) != 0;
  TrimTrailingSpaces(destination);
  AppendBackslash(destination);
  return destination;
}

TEST(DestinationPasses, ResolutionTable) {
  struct Case {
    const wchar_t *typed;
    const wchar_t *used;
    bool accepted;
  } cases[] = {
      {L"", L"C:\\Users\\me\\Downloads\\", true},
      {L"out", L"C:\\Users\\me\\Downloads\\out\\", true},
      {L"out\\", L"C:\\Users\\me\\Downloads\\out\\", true},
      {L"\\out", L"C:\\Users\\me\\Downloads\\out\\", true},
      {L".\\out", L"C:\\Users\\me\\Downloads\\out\\", true},
      {L"..\\out", L"C:\\Users\\me\\out\\", true},
      {L"..\\..\\out", L"C:\\Users\\out\\", true},
      {L"..\\..\\..\\out", L"C:\\out\\", true},
      {L"..\\..\\..\\..\\out", L"C:\\Users\\me\\Downloads\\", false},
      {L"D:/data/out", L"D:\\data\\out\\", true},
      {L"D:", L"D:\\", true},
      {L"\\\\server\\share\\out", L"\\\\server\\share\\out\\", true},
      {L"sub\\out", L"sub\\out\\", true},
      {L"out?x", L"C:\\Users\\me\\Downloads\\", false},
      {L"D:\\a;b", L"C:\\Users\\me\\Downloads\\", false},
      {L"out   ", L"C:\\Users\\me\\Downloads\\out\\", true},
      // A drive-relative form has no backslash: it becomes a name inside the archive's folder.
      {L"D:out", L"C:\\Users\\me\\Downloads\\D:out\\", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(sfxtest::Narrow(c.typed));
    bool accepted;
    EXPECT_EQ(Resolve(c.typed, &accepted), c.used);
    EXPECT_EQ(accepted, c.accepted);
  }
}

TEST(DestinationPasses, RejectedPassStartsOverFromTheArchiveFolder) {
  WCHAR destination[MAX_PATH];
  lstrcpyW(destination, L"out|x");
  EXPECT_EQ(ResolveDestination(destination, ARCHIVE_FOLDER), 0);
  EXPECT_EQ(std::wstring(destination), ARCHIVE_FOLDER);
  // The next pass with the plain name out still resolves inside the archive's folder.
  lstrcpyW(destination, L"out");
  EXPECT_EQ(ResolveDestination(destination, ARCHIVE_FOLDER), 1);
  EXPECT_EQ(std::wstring(destination), L"C:\\Users\\me\\Downloads\\out");
}

TEST(DestinationPasses, ResultsLongerThanAPathAreRejected) {
  WCHAR destination[MAX_PATH];
  std::wstring longName(250, L'n');
  lstrcpyW(destination, longName.c_str());
  EXPECT_EQ(ResolveDestination(destination, ARCHIVE_FOLDER), 0);
  EXPECT_EQ(std::wstring(destination), ARCHIVE_FOLDER);
}

} // namespace
