// The stub's resources as the platform sees them in the built sfx.exe (loaded as a data file): the five
// dialog templates in English and Japanese walked item by item against the table of their controls, dialogs
// really created from each language variant, the string table in both languages, the icons, and the
// animation clip played by the common controls' animation control.
// The platform's wide names (RT_DIALOG, ...) throughout.
#define UNICODE
#define _UNICODE
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "test_support.h"

namespace {

const LANGID ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID JAPANESE = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);
const DWORD CHILD = WS_CHILD | WS_VISIBLE;

// ---- what the templates must hold ----

struct Rect4 {
  short x, y, cx, cy;
  bool operator==(const Rect4 &) const = default;
};

struct ControlSpec {
  int id;
  const wchar_t *cls;
  const wchar_t *textEn;
  const wchar_t *textJa; // nullptr: the same as English
  DWORD style;
  Rect4 en;
  Rect4 ja; // x == -1: the same as English
};

struct DialogSpec {
  int id;
  DWORD style;
  const wchar_t *captionEn;
  const wchar_t *captionJa;
  Rect4 sizeEn, sizeJa;
  std::vector<ControlSpec> controls;
};

const Rect4 SAME = {-1, -1, -1, -1};
const DWORD LABEL = CHILD | SS_LEFT | WS_GROUP;
const DWORD ICON = CHILD | SS_ICON;
const DWORD FIELD = CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
const DWORD PUSH = CHILD | BS_PUSHBUTTON | WS_TABSTOP;
const DWORD DEFPUSH = CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP;
const DWORD CHECK = CHILD | BS_AUTOCHECKBOX | WS_TABSTOP;

const std::vector<DialogSpec> &Dialogs() {
  static const std::vector<DialogSpec> dialogs = {
      {103, WS_POPUP | DS_MODALFRAME | DS_CENTER | DS_SETFONT, L"", L"", {0, 0, 157, 39}, {0, 0, 157, 39},
       {
           {-1, L"STATIC", L"CRC checking...", L"CRC をチェックしています...", LABEL, {7, 7, 79, 8}, SAME},
           {1004, L"msctls_progress32", L"Progress1", nullptr, CHILD, {7, 24, 143, 8}, SAME},
       }},
      {204,
       WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFOREGROUND | DS_CENTER |
           DS_SETFONT,
       L"Confirm Extracting", L"展開先の指定", {0, 0, 279, 106}, {0, 0, 267, 98},
       {
           {1010, L"STATIC", L"#100", nullptr, ICON, {13, 11, 20, 21}, {13, 10, 20, 21}},
           {-1, L"STATIC", L"Please type the location where you want to place the extracted files.",
            L"展開先のフォルダを指定してください。", LABEL, {43, 17, 220, 13}, {42, 15, 215, 13}},
           {-1, L"STATIC", L"&Extract to:", L"展開先(&F):", LABEL, {7, 46, 31, 8}, {7, 42, 31, 8}},
           {1004, L"EDIT", L"", nullptr, FIELD, {43, 43, 190, 14}, {41, 39, 180, 14}},
           {1000, L"BUTTON", L"&Browse...", L"参照(&B)...", PUSH, {236, 43, 34, 14}, {224, 38, 35, 14}},
           {203, L"BUTTON", L"&Create folder as the archive name to extract", L"書庫名でフォルダを作成(&K)", CHECK,
            {45, 63, 161, 10}, {43, 60, 117, 10}},
           {IDOK, L"BUTTON", L"&OK", L"OK", DEFPUSH, {167, 85, 50, 14}, {155, 77, 50, 14}},
           {IDCANCEL, L"BUTTON", L"Cancel", L"キャンセル", PUSH, {222, 85, 50, 14}, {209, 77, 50, 14}},
       }},
      {1000, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT, L"Password needed",
       L"パスワードの入力", {0, 0, 235, 100}, {0, 0, 235, 100},
       {
           {-1, L"STATIC", L"#101", nullptr, ICON, {7, 7, 20, 20}, SAME},
           {1005, L"STATIC", L"'%s'\n\npassword protected.\nPlease enter the password in the box below. ",
            L"'%s'\n\nは暗号化されています。パスワードを入力してください。", CHILD | SS_LEFTNOWORDWRAP | WS_GROUP,
            {43, 7, 185, 31}, SAME},
           {-1, L"STATIC", L"&Password:", nullptr, LABEL, {7, 44, 33, 8}, SAME},
           {1004, L"EDIT", L"", nullptr, FIELD, {43, 42, 185, 14}, SAME},
           {1006, L"BUTTON", L"not &mask", L"入力文字をマスクしない(&M)", CHECK, {43, 63, 185, 10}, SAME},
           {IDOK, L"BUTTON", L"&OK", nullptr, DEFPUSH, {72, 79, 50, 14}, SAME},
           {IDCANCEL, L"BUTTON", L"&Cancel", L"キャンセル(&C)", PUSH, {125, 79, 50, 14}, SAME},
           {1003, L"BUTTON", L"&Skip", L"スキップ(&S)", PUSH, {178, 79, 50, 14}, SAME},
       }},
      {2007, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND | DS_CENTER | DS_SETFONT,
       L"Confirm File Replace", L"ファイル上書きの確認", {0, 0, 283, 151}, {0, 0, 283, 151},
       {
           {-1, L"STATIC", L"#102", nullptr, ICON, {7, 13, 20, 20}, {7, 13, 20, 21}},
           {1009, L"STATIC", L"'%s'", L"展開先には既に '%s' のファイルが存在します。", LABEL, {50, 12, 226, 20}, SAME},
           {-1, L"STATIC", L"Would you like to replace the existing file", L"現在のファイル", LABEL,
            {38, 36, 147, 8}, {38, 36, 45, 8}},
           {201, L"STATIC", L"", nullptr, ICON, {48, 51, 20, 20}, {48, 51, 20, 21}},
           {1005, L"STATIC", L"", nullptr, LABEL, {93, 52, 183, 17}, SAME},
           {-1, L"STATIC", L"with this one?", L"に新しい次のファイルを上書きしますか？", LABEL, {38, 78, 120, 8}, SAME},
           {202, L"STATIC", L"", nullptr, ICON, {48, 93, 20, 20}, {48, 93, 20, 21}},
           {1008, L"STATIC", L"", nullptr, LABEL, {93, 93, 183, 17}, SAME},
           {IDYES, L"BUTTON", L"&Yes", L"はい(&Y)", DEFPUSH, {7, 125, 49, 14}, SAME},
           {IDNO, L"BUTTON", L"&No", L"いいえ(&N)", PUSH, {62, 125, 49, 14}, {58, 125, 49, 14}},
           {1003, L"BUTTON", L"Yes to &All", L"全て上書き(&A)", PUSH, {117, 125, 49, 14}, {109, 125, 49, 14}},
           {1004, L"BUTTON", L"Newe&r", L"新しいもののみ(&U)", PUSH, {172, 125, 49, 14}, {160, 125, 64, 14}},
           {1007, L"BUTTON", L"&Cancel", L"キャンセル(&C)", PUSH, {227, 125, 49, 14}, SAME},
       }},
      {2008, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND | DS_CENTER | DS_SETFONT,
       L"Decompressing...", L"進捗状況", {0, 0, 251, 90}, {0, 0, 251, 90},
       {
           {-1, L"STATIC", L"Please wait...", L"展開中...", LABEL, {7, 55, 53, 8}, {7, 55, 31, 8}},
           {1004, L"msctls_progress32", L"Progress1", nullptr, CHILD, {7, 69, 179, 8}, SAME},
           {IDCANCEL, L"BUTTON", L"&Cancel", L"キャンセル", PUSH, {194, 69, 50, 14}, SAME},
           {1006, L"STATIC", L"", nullptr, LABEL, {60, 55, 184, 8}, {41, 55, 203, 8}},
       }},
  };
  return dialogs;
}

const wchar_t *TextFor(const ControlSpec &c, LANGID lang) {
  return lang == JAPANESE && c.textJa ? c.textJa : c.textEn;
}
Rect4 PositionFor(const ControlSpec &c, LANGID lang) { return lang == JAPANESE && c.ja.x != -1 ? c.ja : c.en; }

// ---- the strings as the source headers give them ----

struct StringSpec {
  UINT id;
  const wchar_t *text;
};
#define SFX_STRING(id, text) {id, text},
const StringSpec ENGLISH_STRINGS[] = {
#include "resources/strings_en.h"
};
const StringSpec JAPANESE_STRINGS[] = {
#include "resources/strings_ja.h"
};
#undef SFX_STRING

// ---- the stub, loaded for its resources ----

HMODULE Stub() {
  static HMODULE module = [] {
    std::wstring path = sfxtest::Widen(sfxtest::BinaryDir() + "\\sfx.exe");
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }();
  return module;
}

class Resources : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
  }
  void SetUp() override { ASSERT_NE(Stub(), nullptr) << "cannot load sfx.exe from " << sfxtest::BinaryDir(); }
};

std::vector<uint8_t> ResourceBytes(LPCWSTR type, LPCWSTR name, LANGID lang) {
  HRSRC found = FindResourceExW(Stub(), type, name, lang);
  if (!found)
    return {};
  HGLOBAL loaded = LoadResource(Stub(), found);
  auto *p = static_cast<const uint8_t *>(LockResource(loaded));
  return p ? std::vector<uint8_t>(p, p + SizeofResource(Stub(), found)) : std::vector<uint8_t>();
}

// ---- the classic template, walked by hand ----

struct TemplateItem {
  DWORD style;
  Rect4 pos;
  WORD id;
  std::wstring cls; // predefined classes by name
  std::wstring text;
  bool textIsOrdinal;
};

struct Template {
  DWORD style;
  Rect4 pos;
  std::wstring caption;
  WORD pointSize;
  std::wstring font;
  std::vector<TemplateItem> items;
};

// Reads one of the template's "string or ordinal" fields; fails the test on a field that runs past the end.
class TemplateReader {
public:
  explicit TemplateReader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  WORD Word() {
    if (pos_ + 2 > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    WORD w = WORD(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return w;
  }
  DWORD Dword() {
    DWORD lo = Word();
    return lo | DWORD(Word()) << 16;
  }
  std::wstring String() {
    std::wstring s;
    while (ok_) {
      WORD w = Word();
      if (!w)
        break;
      s += wchar_t(w);
    }
    return s;
  }
  // 0xFFFF followed by an ordinal, or a string.
  std::wstring StringOrOrdinal(bool *ordinal, WORD *value) {
    *ordinal = false;
    if (pos_ + 2 <= bytes_.size() && bytes_[pos_] == 0xFF && bytes_[pos_ + 1] == 0xFF) {
      Word();
      *ordinal = true;
      *value = Word();
      return L"";
    }
    return String();
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t(3); }
  size_t Remaining() const { return bytes_.size() - std::min(pos_, bytes_.size()); }

private:
  const std::vector<uint8_t> &bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

std::wstring PredefinedClass(WORD atom) {
  switch (atom) {
  case 0x80:
    return L"BUTTON";
  case 0x81:
    return L"EDIT";
  case 0x82:
    return L"STATIC";
  case 0x83:
    return L"LISTBOX";
  case 0x84:
    return L"SCROLLBAR";
  case 0x85:
    return L"COMBOBOX";
  }
  return L"#" + std::to_wstring(atom);
}

bool ParseTemplate(const std::vector<uint8_t> &bytes, Template *t) {
  TemplateReader r(bytes);
  t->style = r.Dword();
  r.Dword(); // extended style
  WORD count = r.Word();
  t->pos.x = short(r.Word());
  t->pos.y = short(r.Word());
  t->pos.cx = short(r.Word());
  t->pos.cy = short(r.Word());
  bool ordinal;
  WORD value;
  r.StringOrOrdinal(&ordinal, &value); // menu
  r.StringOrOrdinal(&ordinal, &value); // class
  t->caption = r.String();
  if (t->style & DS_SETFONT) {
    t->pointSize = r.Word();
    t->font = r.String();
  }
  for (WORD i = 0; i < count && r.ok(); i++) {
    r.AlignDword();
    TemplateItem item;
    item.style = r.Dword();
    r.Dword();
    item.pos.x = short(r.Word());
    item.pos.y = short(r.Word());
    item.pos.cx = short(r.Word());
    item.pos.cy = short(r.Word());
    item.id = r.Word();
    item.cls = r.StringOrOrdinal(&ordinal, &value);
    if (ordinal)
      item.cls = PredefinedClass(value);
    item.text = r.StringOrOrdinal(&item.textIsOrdinal, &value);
    if (item.textIsOrdinal)
      item.text = L"#" + std::to_wstring(value);
    WORD extra = r.Word();
    for (WORD k = 0; k < extra; k++) // creation data, counted in bytes
      if (k % 2 == 0)
        r.Word();
    t->items.push_back(item);
  }
  return r.ok() && t->items.size() == count;
}

bool SameClass(const std::wstring &a, const std::wstring &b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string Show(const std::wstring &w) { return sfxtest::Narrow(w); }

std::vector<std::pair<int, LANGID>> AllVariants() {
  std::vector<std::pair<int, LANGID>> v;
  for (const DialogSpec &d : Dialogs())
    for (LANGID lang : {ENGLISH, JAPANESE})
      v.push_back({d.id, lang});
  return v;
}

TEST_F(Resources, EveryTemplateHoldsItsControlsInBothLanguages) {
  for (const DialogSpec &d : Dialogs()) {
    for (LANGID lang : {ENGLISH, JAPANESE}) {
      SCOPED_TRACE("dialog " + std::to_string(d.id) + (lang == ENGLISH ? " English" : " Japanese"));
      std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(d.id), lang);
      ASSERT_FALSE(bytes.empty());
      // A classic template, not an extended one (which starts with 1, 0xFFFF).
      ASSERT_FALSE(bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF);
      Template t;
      ASSERT_TRUE(ParseTemplate(bytes, &t));
      EXPECT_EQ(t.style, d.style) << std::hex << t.style;
      EXPECT_EQ(t.pos, lang == ENGLISH ? d.sizeEn : d.sizeJa);
      EXPECT_EQ(Show(t.caption), Show(lang == ENGLISH ? d.captionEn : d.captionJa));
      EXPECT_EQ(t.pointSize, 9);
      EXPECT_EQ(Show(t.font), Show(lang == ENGLISH ? L"MS Shell Dlg" : L"ＭＳ Ｐゴシック"));
      ASSERT_EQ(t.items.size(), d.controls.size());
      for (size_t i = 0; i < d.controls.size(); i++) {
        const ControlSpec &c = d.controls[i];
        const TemplateItem &item = t.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
        EXPECT_EQ(item.id, WORD(c.id));
        EXPECT_TRUE(SameClass(item.cls, c.cls)) << Show(item.cls);
        EXPECT_EQ(Show(item.text), Show(TextFor(c, lang)));
        EXPECT_EQ(item.style, c.style) << std::hex << item.style;
        EXPECT_EQ(item.pos, PositionFor(c, lang));
      }
    }
  }
}

// The text of the password message is itself the format; its trailing blank must survive the compiler.
TEST_F(Resources, PasswordMessageKeepsItsTrailingBlank) {
  Template t;
  ASSERT_TRUE(ParseTemplate(ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_PASSWORD), ENGLISH), &t));
  auto it = std::find_if(t.items.begin(), t.items.end(),
                         [](const TemplateItem &i) { return i.id == IDC_PASSWORD_MESSAGE; });
  ASSERT_NE(it, t.items.end());
  EXPECT_EQ(it->text.back(), L' ');
  EXPECT_EQ(it->text.substr(it->text.size() - 7), L"below. ");
}

BOOL CALLBACK EnumName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
  if (IS_INTRESOURCE(name))
    reinterpret_cast<std::vector<int> *>(out)->push_back(int(reinterpret_cast<ULONG_PTR>(name)));
  else
    reinterpret_cast<std::vector<int> *>(out)->push_back(-1);
  return TRUE;
}

BOOL CALLBACK EnumLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR out) {
  reinterpret_cast<std::set<LANGID> *>(out)->insert(lang);
  return TRUE;
}

std::vector<int> Names(LPCWSTR type) {
  std::vector<int> names;
  EnumResourceNamesW(Stub(), type, EnumName, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

std::set<LANGID> Languages(LPCWSTR type, int id) {
  std::set<LANGID> langs;
  EnumResourceLanguagesW(Stub(), type, MAKEINTRESOURCEW(id), EnumLanguage, reinterpret_cast<LONG_PTR>(&langs));
  return langs;
}

// Both languages define the same dialogs with the same controls (ids, classes, styles, order) and the same
// strings; nothing exists in one language only.
TEST_F(Resources, BothLanguagesDefineTheSameDialogsControlsAndStrings) {
  std::vector<int> dialogs = Names(RT_DIALOG);
  EXPECT_EQ(dialogs, (std::vector<int>{103, 204, 1000, 2007, 2008}));
  for (int id : dialogs) {
    SCOPED_TRACE("dialog " + std::to_string(id));
    EXPECT_EQ(Languages(RT_DIALOG, id), (std::set<LANGID>{ENGLISH, JAPANESE}));
    Template en, ja;
    ASSERT_TRUE(ParseTemplate(ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(id), ENGLISH), &en));
    ASSERT_TRUE(ParseTemplate(ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(id), JAPANESE), &ja));
    EXPECT_EQ(en.style, ja.style);
    EXPECT_EQ(en.pointSize, ja.pointSize);
    EXPECT_EQ(en.caption.empty(), ja.caption.empty());
    ASSERT_EQ(en.items.size(), ja.items.size());
    for (size_t i = 0; i < en.items.size(); i++) {
      EXPECT_EQ(en.items[i].id, ja.items[i].id);
      EXPECT_TRUE(SameClass(en.items[i].cls, ja.items[i].cls));
      EXPECT_EQ(en.items[i].style, ja.items[i].style);
      EXPECT_EQ(en.items[i].text.empty(), ja.items[i].text.empty());
    }
  }
  EXPECT_EQ(Names(RT_STRING), (std::vector<int>{1}));
  EXPECT_EQ(Languages(RT_STRING, 1), (std::set<LANGID>{ENGLISH, JAPANESE}));
  ASSERT_EQ(std::size(ENGLISH_STRINGS), std::size(JAPANESE_STRINGS));
  for (size_t i = 0; i < std::size(ENGLISH_STRINGS); i++)
    EXPECT_EQ(ENGLISH_STRINGS[i].id, JAPANESE_STRINGS[i].id);
}

// The string block of each language, decoded by hand: 16 counted strings, ids 0 to 15.
std::vector<std::wstring> StringBlock(LANGID lang) {
  std::vector<uint8_t> bytes = ResourceBytes(RT_STRING, MAKEINTRESOURCEW(1), lang);
  std::vector<std::wstring> strings;
  size_t pos = 0;
  for (int i = 0; i < 16 && pos + 2 <= bytes.size(); i++) {
    size_t length = bytes[pos] | bytes[pos + 1] << 8;
    pos += 2;
    std::wstring s;
    for (size_t k = 0; k < length && pos + 2 <= bytes.size(); k++, pos += 2)
      s += wchar_t(bytes[pos] | bytes[pos + 1] << 8);
    strings.push_back(s);
  }
  return strings;
}

TEST_F(Resources, StringTableHoldsTheSourceTextsInBothLanguages) {
  struct {
    LANGID lang;
    const StringSpec *table;
    size_t count;
  } languages[] = {{ENGLISH, ENGLISH_STRINGS, std::size(ENGLISH_STRINGS)},
                   {JAPANESE, JAPANESE_STRINGS, std::size(JAPANESE_STRINGS)}};
  for (const auto &l : languages) {
    SCOPED_TRACE(l.lang == ENGLISH ? "English" : "Japanese");
    std::vector<std::wstring> block = StringBlock(l.lang);
    ASSERT_EQ(block.size(), 16u);
    std::set<UINT> seen;
    for (size_t i = 0; i < l.count; i++) {
      seen.insert(l.table[i].id);
      EXPECT_EQ(Show(block[l.table[i].id]), Show(l.table[i].text)) << "string " << l.table[i].id;
      EXPECT_LT(wcslen(l.table[i].text), 128u) << "string " << l.table[i].id << " does not fit the buffer";
    }
    EXPECT_EQ(seen.size(), 13u);
    for (UINT id : {0u, 14u, 15u})
      EXPECT_TRUE(block[id].empty()) << "string " << id;
  }
  EXPECT_EQ(Show(StringBlock(ENGLISH)[IDS_CANNOT_OPEN_ARCHIVE]), "Cannot open arhive.");
}

// LoadStringW picks the variant of the user interface language (the Japanese prefix runs this test again).
TEST_F(Resources, LoadStringGivesTheUserInterfaceLanguage) {
  bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
  // The Japanese run must really get the Japanese variants, not fall back to English everywhere.
  const char *prefix = getenv("SFX_WINE_PREFIX");
  if (prefix && std::string(prefix) == "ja") {
    ASSERT_TRUE(japanese) << "the ja prefix does not have a Japanese user interface language";
  }
  const StringSpec *table = japanese ? JAPANESE_STRINGS : ENGLISH_STRINGS;
  size_t count = japanese ? std::size(JAPANESE_STRINGS) : std::size(ENGLISH_STRINGS);
  for (size_t i = 0; i < count; i++) {
    wchar_t buffer[128];
    int length = LoadStringW(Stub(), table[i].id, buffer, 128);
    EXPECT_EQ(length, int(wcslen(table[i].text))) << "string " << table[i].id;
    EXPECT_EQ(Show(buffer), Show(table[i].text)) << "string " << table[i].id;
  }
  // The refusal on Windows 9x is read with the ANSI call before anything else is set up.
  char narrow[128];
  ASSERT_GT(LoadStringA(Stub(), IDS_NOT_ON_WIN9X, narrow, sizeof narrow), 0);
  char expected[256];
  WideCharToMultiByte(CP_ACP, 0, table[IDS_NOT_ON_WIN9X - 1].text, -1, expected, sizeof expected, nullptr, nullptr);
  EXPECT_STREQ(narrow, expected);
}

// ---- dialogs created from each language variant ----

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::wstring WindowText(HWND w) {
  wchar_t buffer[512];
  GetWindowTextW(w, buffer, 512);
  return buffer;
}

std::wstring ClassOf(HWND w) {
  wchar_t buffer[128];
  GetClassNameW(w, buffer, 128);
  return buffer;
}

TEST_F(Resources, DialogsCreatedFromEachVariantShowTheirControls) {
  for (auto [id, lang] : AllVariants()) {
    const DialogSpec &d = *std::find_if(Dialogs().begin(), Dialogs().end(),
                                        [id = id](const DialogSpec &s) { return s.id == id; });
    SCOPED_TRACE("dialog " + std::to_string(id) + (lang == ENGLISH ? " English" : " Japanese"));
    std::vector<uint8_t> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(id), lang);
    ASSERT_FALSE(bytes.empty());
    HWND dialog = CreateDialogIndirectParamW(Stub(), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), nullptr,
                                             QuietDialog, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    EXPECT_EQ(Show(WindowText(dialog)), Show(lang == ENGLISH ? d.captionEn : d.captionJa));
    // The dialog manager made the template's font.
    LOGFONTW font = {};
    HFONT hfont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(hfont, nullptr);
    GetObjectW(hfont, sizeof font, &font);
    EXPECT_EQ(Show(font.lfFaceName), Show(lang == ENGLISH ? L"MS Shell Dlg" : L"ＭＳ Ｐゴシック"));
    // The children in creation order, one for each item of the table.
    std::vector<HWND> children;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      children.push_back(c);
    ASSERT_EQ(children.size(), d.controls.size());
    for (size_t i = 0; i < children.size(); i++) {
      const ControlSpec &c = d.controls[i];
      HWND w = children[i];
      SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
      EXPECT_EQ(WORD(GetDlgCtrlID(w)), WORD(c.id));
      EXPECT_TRUE(SameClass(ClassOf(w), c.cls)) << Show(ClassOf(w));
      EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE);
      if ((c.style & SS_TYPEMASK) == SS_ICON && SameClass(c.cls, L"STATIC")) {
        // The dialog manager loads the icon named by the text from the module; 201 and 202 stay empty.
        HICON icon = reinterpret_cast<HICON>(SendMessageW(w, STM_GETICON, 0, 0));
        EXPECT_EQ(icon != nullptr, c.textEn[0] != 0);
      } else {
        EXPECT_EQ(Show(WindowText(w)), Show(TextFor(c, lang)));
      }
      // Positions in dialog units come back out of the pixel rectangle.
      RECT expected = {PositionFor(c, lang).x, PositionFor(c, lang).y,
                       PositionFor(c, lang).x + PositionFor(c, lang).cx, PositionFor(c, lang).y + PositionFor(c, lang).cy};
      MapDialogRect(dialog, &expected);
      RECT actual;
      GetWindowRect(w, &actual);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&actual), 2);
      EXPECT_EQ(actual.left, expected.left);
      EXPECT_EQ(actual.top, expected.top);
    }
    DestroyWindow(dialog);
  }
}

// ---- icons ----

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bits;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(Resources, IconsAreThereAndTheProgramIconIsTheLowest) {
  std::vector<int> groups = Names(RT_GROUP_ICON);
  ASSERT_EQ(groups, (std::vector<int>{100, 101, 102}));
  // The shell shows the first group icon of the file: that must be the program's own.
  EXPECT_EQ(*std::min_element(groups.begin(), groups.end()), IDI_PROGRAM);
  struct {
    int id;
    std::vector<std::pair<int, int>> images; // size, bits per pixel
  } expected[] = {{100, {{32, 8}}}, {101, {{32, 4}, {16, 4}}}, {102, {{32, 4}}}};
  for (const auto &e : expected) {
    SCOPED_TRACE("icon " + std::to_string(e.id));
    EXPECT_EQ(Languages(RT_GROUP_ICON, e.id), (std::set<LANGID>{MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)}));
    std::vector<uint8_t> group = ResourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(e.id),
                                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_GE(group.size(), 6u);
    size_t count = group[4] | group[5] << 8;
    ASSERT_EQ(count, e.images.size());
    ASSERT_EQ(group.size(), 6 + count * sizeof(GroupIconEntry));
    for (size_t i = 0; i < count; i++) {
      GroupIconEntry entry;
      memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
      EXPECT_EQ(entry.width, e.images[i].first);
      EXPECT_EQ(entry.height, e.images[i].first);
      EXPECT_EQ(entry.bits, e.images[i].second);
      EXPECT_EQ(SizeofResource(Stub(), FindResourceW(Stub(), MAKEINTRESOURCEW(entry.id), RT_ICON)), entry.bytes);
    }
    HANDLE icon = LoadImageW(Stub(), MAKEINTRESOURCEW(e.id), IMAGE_ICON, 32, 32, 0);
    EXPECT_NE(icon, nullptr);
    DestroyIcon(static_cast<HICON>(icon));
  }
  // The shell counts the same three icons in the file.
  std::wstring path = sfxtest::Widen(sfxtest::BinaryDir() + "\\sfx.exe");
  EXPECT_EQ(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0), 3u);
}

// ---- the manifest and the version block ----

TEST_F(Resources, ManifestAndVersionBlockAreThere) {
  std::vector<uint8_t> manifest = ResourceBytes(RT_MANIFEST, MAKEINTRESOURCEW(1),
                                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_FALSE(manifest.empty());
  EXPECT_EQ(Names(RT_MANIFEST), (std::vector<int>{1}));
  std::string text(manifest.begin(), manifest.end());
  for (const char *needle :
       {"name=\"Self-Extracter\"", "<description>Self-Extracter Module</description>", "version=\"1.0.0.0\"",
        "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", "level=\"asInvoker\"",
        "uiAccess=\"false\"", "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
        "<dpiAware", ">true</dpiAware>"})
    EXPECT_NE(text.find(needle), std::string::npos) << needle;

  // The version block: its fixed part (signature, an application) and the description among its strings.
  std::vector<uint8_t> version = ResourceBytes(RT_VERSION, MAKEINTRESOURCEW(1),
                                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_GT(version.size(), 40 + sizeof(VS_FIXEDFILEINFO));
  // Header: length, value length, type, L"VS_VERSION_INFO" and its terminator, padding to 32 bits.
  size_t fixedAt = (6 + 2 * 16 + 3) & ~size_t(3);
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, version.data() + fixedAt, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileType, DWORD(VFT_APP));
  EXPECT_EQ(fixed.dwFileOS, DWORD(VOS_NT_WINDOWS32));
  std::wstring wide;
  for (size_t i = 0; i + 1 < version.size(); i += 2)
    wide += wchar_t(version[i] | version[i + 1] << 8);
  EXPECT_NE(wide.find(L"Self-Extracter Module"), std::wstring::npos);
  EXPECT_NE(wide.find(L"FileVersion"), std::wstring::npos);
}

// The stub must never hold the local header signature anywhere, its resources included.
TEST_F(Resources, NoResourceHoldsTheLocalHeaderSignature) {
  const uint8_t signature[4] = {0x50, 0x4B, 0x03, 0x04};
  struct {
    LPCWSTR type;
    int id;
    LANGID lang;
  } resources[] = {{L"AVI", IDR_PAPER_FLIGHT, 0}, {RT_MANIFEST, 1, 0}, {RT_VERSION, 1, 0},
                   {RT_GROUP_ICON, IDI_PROGRAM, 0}, {RT_GROUP_ICON, IDI_PASSWORD, 0},
                   {RT_GROUP_ICON, IDI_REPLACE, 0}, {RT_STRING, 1, ENGLISH}, {RT_STRING, 1, JAPANESE}};
  std::vector<std::vector<uint8_t>> all;
  for (const auto &r : resources)
    all.push_back(ResourceBytes(r.type, MAKEINTRESOURCEW(r.id), r.lang));
  for (int id : Names(RT_ICON))
    all.push_back(ResourceBytes(RT_ICON, MAKEINTRESOURCEW(id), 0));
  for (const DialogSpec &d : Dialogs())
    for (LANGID lang : {ENGLISH, JAPANESE})
      all.push_back(ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(d.id), lang));
  EXPECT_EQ(all.size(), std::size(resources) + 4 + 10); // four icon images
  for (const std::vector<uint8_t> &bytes : all) {
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(std::search(bytes.begin(), bytes.end(), signature, signature + 4), bytes.end());
  }
}

// The stub is shipped inside every self-extracting file: it stays within 96 KiB with all its resources.
TEST_F(Resources, StubStaysWithinItsSizeBudget) {
  std::string path = sfxtest::BinaryDir() + "\\sfx.exe";
  ASSERT_TRUE(sfxtest::FileExists(path));
  EXPECT_LE(sfxtest::ReadFile(path).size(), 98304u);
}

// ---- the animation clip ----

struct Capture {
  std::vector<COLORREF> pixels;
  int width = 0, height = 0;
};

Capture CaptureWindow(HWND w) {
  Capture c;
  RECT r;
  GetClientRect(w, &r);
  c.width = r.right;
  c.height = r.bottom;
  HDC dc = GetDC(w);
  HDC mem = CreateCompatibleDC(dc);
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), c.width, -c.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bitmap);
  BitBlt(mem, 0, 0, c.width, c.height, dc, 0, 0, SRCCOPY);
  GdiFlush();
  const uint32_t *p = static_cast<const uint32_t *>(bits);
  for (int i = 0; i < c.width * c.height; i++)
    c.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
  SelectObject(mem, old);
  DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(w, dc);
  return c;
}

int g_animationStops;

LRESULT CALLBACK HostProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == ACN_STOP)
    g_animationStops++;
  return DefWindowProcW(w, message, wParam, lParam);
}

void PumpUntil(bool (*done)(), DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start < milliseconds) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

TEST_F(Resources, AnimationControlOpensAndPlaysTheClip) {
  std::vector<uint8_t> clip = ResourceBytes(L"AVI", MAKEINTRESOURCEW(IDR_PAPER_FLIGHT),
                                            MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_GT(clip.size(), 12u);
  EXPECT_EQ(std::string(clip.begin(), clip.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(clip.begin() + 8, clip.begin() + 12), "AVI ");

  WNDCLASSW wc = {};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ResourcesTestHost";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, wc.lpszClassName, L"clip", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200,
                              nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  HWND animation = CreateWindowExW(0, ANIMATE_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 10, 10, 0, 0, host,
                                   reinterpret_cast<HMENU>(1), Stub(), nullptr);
  ASSERT_NE(animation, nullptr);
  // As the progress dialog opens it: no instance in wParam, so the control looks in its own module.
  ASSERT_TRUE(SendMessageW(animation, ACM_OPENW, 0, reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(IDR_PAPER_FLIGHT))));
  // Without ACS_CENTER the control takes the clip's own size.
  RECT r;
  GetClientRect(animation, &r);
  EXPECT_EQ(r.right, 272);
  EXPECT_EQ(r.bottom, 60);

  // Frame 0 is a key frame: a magenta background around the two folders.
  ASSERT_TRUE(SendMessageW(animation, ACM_PLAY, 1, MAKELONG(0, 0)));
  PumpUntil([] { return false; }, 200);
  Capture first = CaptureWindow(animation);
  ASSERT_EQ(first.width, 272);
  EXPECT_EQ(first.pixels[0], RGB(255, 0, 255));
  EXPECT_EQ(first.pixels[first.pixels.size() - 1], RGB(255, 0, 255));
  std::set<COLORREF> colours(first.pixels.begin(), first.pixels.end());
  EXPECT_GE(colours.size(), 6u);

  // Playing on to the middle moves the paper; the later frames only code what changed.
  g_animationStops = 0;
  ASSERT_TRUE(SendMessageW(animation, ACM_PLAY, 1, MAKELONG(0, 10)));
  PumpUntil([] { return g_animationStops > 0; }, 5000);
  EXPECT_GT(g_animationStops, 0);
  PumpUntil([] { return false; }, 100);
  Capture middle = CaptureWindow(animation);
  EXPECT_NE(middle.pixels, first.pixels);
  EXPECT_EQ(middle.pixels[0], RGB(255, 0, 255));
  size_t changed = 0;
  for (size_t i = 0; i < first.pixels.size(); i++)
    changed += first.pixels[i] != middle.pixels[i];
  // The sheet left the left folder and is in the air: a few hundred pixels, not the whole picture.
  EXPECT_GT(changed, 100u);
  EXPECT_LT(changed, first.pixels.size() / 4);

  // The whole clip to its end and back to the start: the key frame restores the first picture.
  g_animationStops = 0;
  ASSERT_TRUE(SendMessageW(animation, ACM_PLAY, 1, MAKELONG(0, 0xFFFF)));
  PumpUntil([] { return g_animationStops > 0; }, 8000);
  EXPECT_GT(g_animationStops, 0);
  ASSERT_TRUE(SendMessageW(animation, ACM_PLAY, 1, MAKELONG(0, 0)));
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(CaptureWindow(animation).pixels, first.pixels);

  SendMessageW(animation, ACM_STOP, 0, 0);
  DestroyWindow(host);
}

} // namespace
