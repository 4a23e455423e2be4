// The worker's decisions under the scripted desktop: the replace question's five answers, the password
// loop, refused names, hostile names, CRC failures and missing decoders, folders that cannot be created,
// cancel in the middle of an entry, and the list of extracted files.
#include <gtest/gtest.h>

#include <set>

#include "../unit/walk_zip.h"
#include "walk_host.h"

namespace fs = std::filesystem;
using namespace walktest;

namespace {

std::string Text(const sfxtest::Bytes &b) { return std::string(b.begin(), b.end()); }
sfxtest::Bytes B(const std::string &s) { return sfxtest::Bytes(s.begin(), s.end()); }

ZipEntry Stored(const std::string &name, const std::string &data) {
  ZipEntry e;
  e.name = name;
  e.data = B(data);
  return e;
}

void SetTime(const fs::path &path, int64_t unixSeconds) {
  std::wstring p = HostFromLinuxPath(path.string());
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint64_t ticks = (uint64_t)unixSeconds * 10000000ULL + 116444736000000000ULL;
  FILETIME t = {(DWORD)ticks, (DWORD)(ticks >> 32)};
  SetFileTime(h, NULL, NULL, &t);
  CloseHandle(h);
}

const int64_t YEAR_2000 = 946684800, YEAR_2030 = 1893456000; // the archive's entries are from 2020

struct OverwriteCase {
  const char *label;
  std::vector<int> answers;
  bool withoutAsking;
  int64_t existingTimes[3];
  const char *expected; // per file: N new, O old
  size_t questions;
  DWORD result;
  LONG cancelState;
};

TEST(WalkDecisions, ReplaceQuestion) {
  const OverwriteCase cases[] = {
      {"yes", {IDYES, IDYES, IDYES}, false, {YEAR_2000, YEAR_2000, YEAR_2000}, "NNN", 3, 0, 0},
      {"no", {IDNO, IDNO, IDNO}, false, {YEAR_2000, YEAR_2000, YEAR_2000}, "OOO", 3, 0, 0},
      {"yes then no", {IDYES, IDNO, IDYES}, false, {YEAR_2000, YEAR_2000, YEAR_2000}, "NON", 3, 0, 0},
      {"yes to all", {100}, false, {YEAR_2030, YEAR_2000, YEAR_2030}, "NNN", 1, 0, 0},
      {"newer, existing older", {1004}, false, {YEAR_2000, YEAR_2000, YEAR_2000}, "NNN", 1, 0, 0},
      {"newer, existing newer", {1004}, false, {YEAR_2030, YEAR_2030, YEAR_2030}, "OOO", 1, 0, 0},
      {"newer, mixed", {1004}, false, {YEAR_2000, YEAR_2030, YEAR_2000}, "NON", 1, 0, 0},
      {"cancel", {-1}, false, {YEAR_2000, YEAR_2000, YEAR_2000}, "OOO", 1, (DWORD)-1, 100},
      {"not shown", {}, false, {YEAR_2000, YEAR_2000, YEAR_2000}, "OOO", 3, 0, 0},
      {"without asking", {}, true, {YEAR_2030, YEAR_2030, YEAR_2030}, "NNN", 0, 0, 0},
  };
  for (const OverwriteCase &c : cases) {
    SCOPED_TRACE(c.label);
    sfxtest::TempDir temp;
    sfxtest::WriteFile(temp.file("a.zip"), BuildZip({Stored("a.txt", "new a"), Stored("sub/b.txt", "new b"),
                                                     Stored("c.txt", "new c")}));
    fs::path dest = fs::path(temp.path()) / "dest";
    const char *names[3] = {"a.txt", "sub/b.txt", "c.txt"};
    fs::create_directories(dest / "sub");
    for (int i = 0; i < 3; i++) {
      sfxtest::WriteFile((dest / names[i]).string(), std::string("old"));
      SetTime(dest / names[i], c.existingTimes[i]);
    }
    WalkOptions options;
    options.overwriteAnswers = c.answers;
    options.overwriteWithoutAsking = c.withoutAsking;
    WalkOutcome out = RunWalk(temp.file("a.zip"), dest.string(), options);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.cancelState, c.cancelState);
    std::vector<std::wstring> asked = out.Asked(L"AskOverwrite");
    EXPECT_EQ(asked.size(), c.questions);
    if (!asked.empty()) {
      EXPECT_EQ(asked[0], HostFromLinuxPath((dest / "a.txt").string()));
    }
    for (int i = 0; i < 3; i++) {
      std::string content = Text(sfxtest::ReadFile((dest / names[i]).string()));
      EXPECT_EQ(content, c.expected[i] == 'N' ? std::string("new ") + names[i][i == 1 ? 4 : 0] : "old")
          << names[i];
    }
    // The animation stands still while each question is shown; Cancel closes the progress dialog.
    EXPECT_EQ(out.Sent(PAUSE_ANIMATION_MESSAGE), (int)c.questions);
    EXPECT_EQ(out.Sent(RESUME_ANIMATION_MESSAGE), (int)c.questions);
    EXPECT_GE(out.Sent(WM_CLOSE), 1);
    EXPECT_TRUE(out.Boxes().empty());
  }
}

struct PasswordCase {
  const char *label;
  std::vector<DesktopAnswer> answers;
  std::vector<const char *> asked; // entries the question named, in order
  const char *present;             // per entry: 1 extracted, 0 absent
  int invalidMessages;
  DWORD result;
};

TEST(WalkDecisions, PasswordLoop) {
  const PasswordCase cases[] = {
      {"right", {{1, "one"}, {1, "two"}}, {"e1.txt", "e4.txt"}, "1111", 0, 0},
      {"wrong then right",
       {{1, "bad"}, {1, "one"}, {1, "two"}},
       {"e1.txt", "e1.txt", "e4.txt"},
       "1111",
       1,
       0},
      {"wrong then skip",
       {{1, "bad"}, {0, ""}, {1, "one"}, {1, "two"}},
       {"e1.txt", "e1.txt", "e2.txt", "e4.txt"},
       "0111",
       1,
       0},
      {"empty then right", {{1, ""}, {1, "one"}, {0, ""}}, {"e1.txt", "e1.txt", "e4.txt"}, "1110", 1, 0},
      {"cancel", {{2, ""}}, {"e1.txt"}, "0000", 0, (DWORD)-1},
      {"no answer skips", {}, {"e1.txt", "e2.txt", "e4.txt"}, "0010", 0, 0},
  };
  for (const PasswordCase &c : cases) {
    SCOPED_TRACE(c.label);
    ZipEntry e1 = Stored("e1.txt", "first secret"), e2 = Stored("e2.txt", "second secret"),
             e3 = Stored("e3.txt", "plain"), e4 = Stored("e4.txt", "other secret");
    e1.password = e2.password = "one";
    e4.password = "two";
    sfxtest::TempDir temp;
    sfxtest::WriteFile(temp.file("p.zip"), BuildZip({e1, e2, e3, e4}));
    fs::path dest = fs::path(temp.path()) / "dest";
    WalkOptions options;
    options.passwords = c.answers;
    WalkOutcome out = RunWalk(temp.file("p.zip"), dest.string(), options);
    EXPECT_EQ(out.result, c.result);
    std::vector<std::wstring> asked = out.Asked(L"AskPassword");
    ASSERT_EQ(asked.size(), c.asked.size());
    for (size_t i = 0; i < asked.size(); i++)
      EXPECT_EQ(asked[i], sfxtest::Widen(c.asked[i]));
    const ZipEntry *entries[4] = {&e1, &e2, &e3, &e4};
    for (int i = 0; i < 4; i++) {
      fs::path p = dest / entries[i]->name;
      if (c.present[i] == '1') {
        EXPECT_EQ(sfxtest::ReadFile(p.string()), entries[i]->data) << entries[i]->name;
      } else {
        EXPECT_FALSE(fs::exists(p)) << entries[i]->name;
      }
    }
    int invalid = 0;
    for (const DesktopCall *b : out.Boxes()) {
      EXPECT_EQ(b->text, L"Invalid Decryption Password.");
      EXPECT_EQ(b->caption, L"Warning");
      EXPECT_EQ(b->style & 0xF0, (UINT)MB_ICONWARNING);
      EXPECT_EQ(b->window, FakeProgressWindow());
      invalid++;
    }
    EXPECT_EQ(invalid, c.invalidMessages);
    if (c.result == 0) {
      EXPECT_EQ(out.Sent(PAUSE_ANIMATION_MESSAGE), out.Sent(RESUME_ANIMATION_MESSAGE));
    } else {
      EXPECT_EQ(out.Sent(RESUME_ANIMATION_MESSAGE), 0); // Cancel leaves at once
      EXPECT_EQ(out.cancelState, 100);
    }
  }
}

TEST(WalkDecisions, RefusedNamesAreSkippedAndTheWalkGoesOn) {
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("n.zip"),
                     BuildZip({Stored("good1.txt", "1"), Stored("semi;colon.txt", "x"), Stored("   ", "x"),
                               Stored("a:b?.txt", "reserved"), Stored("good2.txt", "2")}));
  fs::path dest = fs::path(temp.path()) / "dest";
  WalkOutcome out = RunWalk(temp.file("n.zip"), dest.string());
  EXPECT_EQ(out.result, 0u);
  auto boxes = out.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0]->text, L"semi;colon.txt\n\ninvalid filename.(skipped)");
  EXPECT_EQ(boxes[0]->caption, L"VAZ-IDA");
  EXPECT_EQ(boxes[0]->style & 0xF0, (UINT)MB_ICONWARNING);
  EXPECT_EQ(boxes[0]->window, nullptr);
  EXPECT_EQ(boxes[1]->text, L"\n\ninvalid filename.(skipped)");
  std::map<std::string, std::string> expected = {
      {"good1.txt", "1"}, {"a_b_.txt", "reserved"}, {"good2.txt", "2"}};
  EXPECT_EQ(Tree(dest.string()), expected);
}

TEST(WalkDecisions, HostileNamesNeverLeaveTheDestination) {
  struct Case {
    const char *raw;
    const char *inside; // where it lands, or nullptr: refused with string 6
  } cases[] = {
      {"..", nullptr},
      {"a/..", nullptr},
      {"....//evil1.txt", nullptr},
      {"....//....//evil2.txt", nullptr},
      {"....//sibling/....//dest/evil3.txt", nullptr},
      {"CON", nullptr},
      {"nul.txt", nullptr},
      {"deep/aux.log", nullptr},
      {"...", nullptr},
      {"../up1.txt", "up1.txt"},
      {"..\\up2.txt", "up2.txt"},
      {"/abs/root.txt", "abs/root.txt"},
      {"\\\\server\\share\\unc.txt", "server/share/unc.txt"},
      {"C:\\drive.txt", "C_/drive.txt"},
      {"x/.. /y.txt", "x/.. /y.txt"},
  };
  std::vector<ZipEntry> entries;
  for (const Case &c : cases)
    entries.push_back(Stored(c.raw, std::string("data of ") + c.raw));
  entries.push_back(Stored("last.txt", "last"));
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("h.zip"), BuildZip(entries));
  fs::path outer = fs::path(temp.path()) / "outer";
  fs::path dest = outer / "dest";
  WalkOutcome out = RunWalk(temp.file("h.zip"), dest.string());
  EXPECT_EQ(out.result, 0u);
  EXPECT_EQ(out.cancelState, 0);
  size_t refused = 0;
  for (const Case &c : cases) {
    if (!c.inside) {
      refused++;
      continue;
    }
    EXPECT_EQ(Text(sfxtest::ReadFile((dest / c.inside).string())), std::string("data of ") + c.raw) << c.raw;
  }
  EXPECT_EQ(Text(sfxtest::ReadFile((dest / "last.txt").string())), "last");
  auto boxes = out.Boxes();
  EXPECT_EQ(boxes.size(), refused);
  for (const DesktopCall *b : boxes) {
    EXPECT_NE(b->text.find(L"invalid filename.(skipped)"), std::wstring::npos);
    EXPECT_EQ(b->caption, L"VAZ-IDA");
  }
  std::set<std::string> beside, above;
  for (auto &e : fs::directory_iterator(outer))
    beside.insert(e.path().filename().string());
  for (auto &e : fs::directory_iterator(temp.path()))
    above.insert(e.path().filename().string());
  EXPECT_EQ(beside, std::set<std::string>{"dest"});
  EXPECT_EQ(above, (std::set<std::string>{"h.zip", "outer"}));
}

TEST(WalkDecisions, CrcFailuresAndMissingDecoders) {
  ZipEntry bad = Stored("bad.txt", "damaged");
  bad.badCrc = true;
  ZipEntry unknown = Stored("method12.bin", "whatever");
  unknown.method = 12;
  ZipEntry unknownEmpty = Stored("method12-empty.bin", "");
  unknownEmpty.method = 12;
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("c.zip"), BuildZip({bad, unknown, unknownEmpty, Stored("fine.txt", "fine")}));
  fs::path dest = fs::path(temp.path()) / "dest";
  WalkOutcome out = RunWalk(temp.file("c.zip"), dest.string());
  EXPECT_EQ(out.result, 0u);
  auto boxes = out.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const DesktopCall *b : boxes) {
    EXPECT_EQ(b->text, L"CRC Error!");
    EXPECT_EQ(b->caption, L"VAZ-IDA");
    EXPECT_EQ(b->style & 0xF0, (UINT)MB_ICONERROR);
    EXPECT_EQ(b->window, FakeProgressWindow());
  }
  std::map<std::string, std::string> expected = {{"method12-empty.bin", ""}, {"fine.txt", "fine"}};
  EXPECT_EQ(Tree(dest.string()), expected);
}

TEST(WalkDecisions, FolderThatCannotBeCreatedStopsTheWalk) {
  sfxtest::TempDir temp;
  sfxtest::WriteFile(
      temp.file("f.zip"),
      BuildZip({Stored("first.txt", "1"), Stored("blocker/inside.txt", "x"), Stored("after.txt", "2")}));
  fs::path dest = fs::path(temp.path()) / "dest";
  fs::create_directories(dest);
  sfxtest::WriteFile((dest / "blocker").string(), std::string("a file where a folder should be"));
  WalkOutcome out = RunWalk(temp.file("f.zip"), dest.string());
  EXPECT_EQ(out.result, (DWORD)-1);
  EXPECT_EQ(out.cancelState, 1);
  auto boxes = out.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text, L"Cannot create a folder.\nThis archive forbids writing.");
  EXPECT_EQ(boxes[0]->style & 0xF0, (UINT)MB_ICONERROR);
  EXPECT_TRUE(fs::exists(dest / "first.txt"));
  EXPECT_FALSE(fs::exists(dest / "after.txt"));
  EXPECT_EQ(out.Sent(WM_CLOSE), 1);
}

TEST(WalkDecisions, CancelDuringALargeStoredEntryRemovesThePartialFile) {
  std::string big(1 << 20, 'b');
  for (size_t i = 0; i < big.size(); i++)
    big[i] = (char)(i * 7 + (i >> 9));
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("big.zip"),
                     BuildZip({Stored("small.txt", "s"), Stored("big.bin", big), Stored("after.txt", "a")}));
  fs::path dest = fs::path(temp.path()) / "dest";
  int progress = 0;
  WalkOptions options;
  options.hook = [&](const DesktopCall &call, LRESULT *) {
    if (call.kind == DesktopKind::SendMessage && call.message == PROGRESS_MESSAGE && ++progress == 4)
      g_cancelState = 100; // the Cancel button, pressed while the third block of big.bin goes out
    return false;
  };
  WalkOutcome out = RunWalk(temp.file("big.zip"), dest.string(), options);
  EXPECT_EQ(out.result, 0u);
  EXPECT_EQ(out.cancelState, 100);
  EXPECT_TRUE(fs::exists(dest / "small.txt"));
  EXPECT_FALSE(fs::exists(dest / "big.bin"));
  EXPECT_FALSE(fs::exists(dest / "after.txt"));
  EXPECT_TRUE(out.Boxes().empty());
  EXPECT_EQ(out.Sent(WM_CLOSE), 1);
}

TEST(WalkDecisions, VerifiedFilesAreRememberedForDeletion) {
  ZipEntry bad = Stored("bad.txt", "x");
  bad.badCrc = true;
  ZipEntry folder = Stored("dir/", "");
  folder.externalAttributes = 0x10;
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("r.zip"),
                     BuildZip({Stored("one.txt", "1"), folder, bad, Stored("dir/two.txt", "2")}));
  fs::path dest = fs::path(temp.path()) / "dest";
  WalkOptions options;
  options.deleteAfterSetup = true;
  WalkOutcome out = RunWalk(temp.file("r.zip"), dest.string(), options);
  std::vector<std::wstring> remembered;
  for (WCHAR *p = StringListFirst(); p; p = StringListNext())
    remembered.push_back(p);
  std::vector<std::wstring> expected = {HostFromLinuxPath((dest / "one.txt").string()),
                                        HostFromLinuxPath((dest / "dir" / "two.txt").string())};
  EXPECT_EQ(remembered, expected);
  StringListClear();
}

TEST(WalkDecisions, StrongEncryptionIsRefusedAndStopsTheWalk) {
  ZipEntry strong = Stored("strong.bin", "ciphertext");
  strong.flags = 0x41;
  strong.localExtra = {0x17, 0x00, 0x08, 0x00, 0x02, 0x00, 0x0E, 0x66, 0x00, 0x01, 0x01, 0x00};
  sfxtest::TempDir temp;
  sfxtest::WriteFile(temp.file("s.zip"),
                     BuildZip({Stored("before.txt", "b"), strong, Stored("after.txt", "a")}));
  fs::path dest = fs::path(temp.path()) / "dest";
  WalkOutcome out = RunWalk(temp.file("s.zip"), dest.string());
  EXPECT_EQ(out.cancelState, -1);
  auto boxes = out.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->text, L"not supported archive format.");
  EXPECT_EQ(boxes[0]->style & 0xF0, (UINT)MB_ICONERROR);
  EXPECT_EQ(boxes[0]->window, nullptr);
  EXPECT_TRUE(fs::exists(dest / "before.txt"));
  EXPECT_FALSE(fs::exists(dest / "strong.bin"));
  EXPECT_FALSE(fs::exists(dest / "after.txt"));
}

} // namespace
