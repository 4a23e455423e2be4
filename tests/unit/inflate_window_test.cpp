// The mapped archive window: views of ten granules that move with the cursor, remaps at granule
// boundaries, the end of the file, seeks backwards, and Inflate reading an entry that spans several
// views or starts off a granule boundary.
#include "inflate_harness.h"

#ifndef _WIN32
#include "platform/host/desktop.h"
#endif

using namespace inflatetest;

namespace {

struct WindowFile {
  sfxtest::TempDir dir;
  std::string path;
  Bytes bytes;
  explicit WindowFile(const Bytes &content) : path(dir.file("archive.bin")), bytes(content) {
    sfxtest::WriteFile(path, bytes);
  }
};

// Reads n bytes one call at a time and checks them against the file.
void ExpectBytes(const Bytes &file, DWORD from, DWORD n) {
  for (DWORD i = 0; i < n; i++) {
    const BYTE *p = ReadArchiveWindow(1, nullptr);
    ASSERT_NE(p, nullptr) << "at " << from + i;
    ASSERT_EQ(*p, file[from + i]) << "at " << from + i;
  }
  EXPECT_EQ(g_windowCursor, from + n);
  EXPECT_EQ(g_windowPastEnd, 0);
}

TEST(ArchiveWindow, SmallFileIsMappedWholeAndNeverRemapped) {
  WindowFile f(PseudoRandom(300000, 1));
  ASSERT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(f.path).c_str()), 1);
  EXPECT_EQ(g_windowSize, 10 * g_allocationGranularity);
  EXPECT_EQ(g_windowFileSize, 300000u);
  BYTE *view = g_windowView;
  for (DWORD offset : {1000u, 250000u, 7u, 299999u}) {
    ASSERT_EQ(SeekArchiveWindow(offset), 1);
    ExpectBytes(f.bytes, offset, 300000 - offset < 5000 ? 300000 - offset : 5000);
    EXPECT_EQ(g_windowView, view);
  }
  CloseArchiveWindow();
  EXPECT_EQ(g_windowView, nullptr);
  EXPECT_EQ(g_windowMapping, nullptr);
}

TEST(ArchiveWindow, LargeFileViewsFollowTheCursor) {
  WindowFile f(PseudoRandom(3 * 1024 * 1024 + 12345, 2));
  DWORD size = (DWORD)f.bytes.size();
  ASSERT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(f.path).c_str()), 1);
  DWORD g = g_allocationGranularity;
  EXPECT_EQ(g_windowSize, 10 * g);

  // An entry off a granule boundary, beyond the first view: the view starts at the offset rounded down.
  DWORD entry = 7 * g + 4321 + g_windowSize;
  ASSERT_EQ(SeekArchiveWindow(entry), 1);
  EXPECT_EQ(g_windowViewOffset, entry % g);
  EXPECT_EQ(g_windowCursor, entry);
  // Across three view changes, one byte per call.
  ExpectBytes(f.bytes, entry, 3 * g_windowSize);

  // Back before the current view: remapped there.
  ASSERT_EQ(SeekArchiveWindow(1000), 1);
  EXPECT_EQ(g_windowViewOffset, 1000u);
  ExpectBytes(f.bytes, 1000, 2 * g);

  // A seek inside the current view only moves the cursor.
  BYTE *view = g_windowView;
  ASSERT_EQ(SeekArchiveWindow(5 * g + 17), 1);
  EXPECT_EQ(g_windowView, view);
  ExpectBytes(f.bytes, 5 * g + 17, 10);

  // Up to the last byte, then the end of the file: the fallback zero and the flag; the cursor stays.
  ASSERT_EQ(SeekArchiveWindow(size - 100000), 1);
  ExpectBytes(f.bytes, size - 100000, 100000);
  for (int i = 0; i < 3; i++) {
    DWORD place = 99;
    const BYTE *p = ReadArchiveWindow(1, &place);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 0);
    EXPECT_EQ(place, 0u);
    EXPECT_EQ(g_windowPastEnd, 1);
    EXPECT_EQ(g_windowCursor, size);
  }
  EXPECT_EQ(ReadArchiveWindow(1, nullptr), &g_windowFallbackByte);

  EXPECT_EQ(SeekArchiveWindow(size + 1), 0);
  EXPECT_EQ(g_windowCursor, size);
  CloseArchiveWindow();
  EXPECT_EQ(g_windowPastEnd, 0);
  EXPECT_EQ(SeekArchiveWindow(0), 0); // no view
  EXPECT_EQ(ReadArchiveWindow(1, nullptr), &g_windowFallbackByte);
  CloseArchiveWindow();
}

TEST(ArchiveWindow, EndOfAFileThatIsAWholeNumberOfGranules) {
  WindowFile f(PseudoRandom(16 * 65536, 3));
  DWORD size = (DWORD)f.bytes.size();
  ASSERT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(f.path).c_str()), 1);
  ASSERT_EQ(size % g_allocationGranularity, 0u);
  ASSERT_EQ(SeekArchiveWindow(size), 1);
  const BYTE *p = ReadArchiveWindow(1, nullptr);
  EXPECT_EQ(p, &g_windowFallbackByte);
  EXPECT_EQ(g_windowPastEnd, 1);
  ASSERT_EQ(SeekArchiveWindow(size - 1), 1);
  p = ReadArchiveWindow(1, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(*p, f.bytes[size - 1]);
  CloseArchiveWindow();
}

TEST(ArchiveWindow, LongerRequestsAreBoundedByTheFile) {
  WindowFile f(PseudoRandom(2 * 1024 * 1024, 4));
  DWORD size = (DWORD)f.bytes.size();
  ASSERT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(f.path).c_str()), 1);
  ASSERT_EQ(SeekArchiveWindow(g_windowSize - 10), 1);
  const BYTE *p = ReadArchiveWindow(100, nullptr); // crosses the view: remapped at the cursor
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(memcmp(p, f.bytes.data() + g_windowSize - 10, 100), 0);
  ASSERT_EQ(SeekArchiveWindow(size - 10), 1);
  p = ReadArchiveWindow(100, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(memcmp(p, f.bytes.data() + size - 10, 10), 0);
  EXPECT_EQ(g_windowCursor, size);
  CloseArchiveWindow();
}

// Stored blocks read one byte per call: an entry of several views, starting off a granule boundary,
// decodes the same as a small one that fits in the first view.
TEST(ArchiveWindow, InflateAcrossSeveralViews) {
  Bytes data = PseudoRandom(2 * 1024 * 1024 + 999, 5);
  BitWriter w;
  for (size_t at = 0; at < data.size(); at += 65535) {
    size_t n = std::min<size_t>(65535, data.size() - at);
    StoredBlock(w, at + n == data.size(), data, at, n);
  }
  Bytes stream = w.Finish();
  for (size_t lead : {size_t(0), size_t(37), size_t(700001)}) {
    SCOPED_TRACE(lead);
    InflateRun run = RunInflate(stream, 0, lead, 5);
    EXPECT_EQ(run.result, INFLATE_OK);
    EXPECT_TRUE(run.output == data);
    EXPECT_EQ(run.crc, Crc32(data));
  }
}

#ifndef _WIN32
// The failures show their messages (on the host's scripted desktop) and stop the run.
TEST(ArchiveWindow, FailuresAreShownAndStopTheRun) {
  sfxtest::TempDir dir;
  struct Case {
    const char *name;
    std::string path;
    const wchar_t *text;
    HWND owner;
  };
  std::string empty = dir.file("empty.zip");
  sfxtest::WriteFile(empty, Bytes());
  g_progressWindow = (HWND)0x1234;
  const Case cases[] = {
      {"missing file", dir.file("missing.zip"), L"Cannot open arhive.", nullptr},
      {"empty file", empty, L"CreateFileMapping() Error!", (HWND)0x1234},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DesktopReset();
    g_cancelState = 0;
    EXPECT_EQ(OpenArchiveWindow(sfxtest::PlatformPath(c.path).c_str()), 0);
    EXPECT_EQ(g_cancelState, -1);
    EXPECT_EQ(g_windowView, nullptr);
    EXPECT_EQ(g_windowMapping, nullptr);
    ASSERT_EQ(DesktopCalls().size(), 1u);
    EXPECT_EQ(DesktopCalls()[0].kind, DesktopKind::MessageBox);
    EXPECT_EQ(DesktopCalls()[0].caption, L"VAZ-IDA");
    EXPECT_EQ(DesktopCalls()[0].text, c.text);
    EXPECT_EQ(DesktopCalls()[0].style, (UINT)MB_ICONERROR);
    EXPECT_EQ(DesktopCalls()[0].window, c.owner);
  }
  g_progressWindow = nullptr;
  g_cancelState = 0;
  DesktopReset();
}
#endif

} // namespace
