// mksfx: makes a self-extracting file from the stub, a settings block and a ZIP archive, and shows the
// settings block of one. The command line and every check live here; the pieces are in the other files.
#include "mksfx.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "startup/startup.h"

#ifdef _WIN32
#include <shellapi.h>
#endif

#ifndef MKSFX_VERSION
#define MKSFX_VERSION "0"
#endif
#ifndef MKSFX_DEFAULT_STUB
#define MKSFX_DEFAULT_STUB ""
#endif

namespace mksfx {

namespace fs = std::filesystem;

static const char USAGE[] =
    "Usage: mksfx [options] -o OUT.exe ARCHIVE.zip\n"
    "       mksfx --info FILE.exe\n"
    "Makes a self-extracting file: the stub, a settings block, then the ZIP archive.\n"
    "\n"
    "  -o, --output OUT.exe     the file to write (replaced only once complete)\n"
    "  --stub PATH              the stub (default: sfx.exe beside mksfx, else the built one)\n"
    "  --dest TEXT              destination folder, may begin with a keyword such as %temp%\n"
    "                           (at most 259 UTF-16 units)\n"
    "  --run COMMAND            setup command run from the destination after extraction (at most 127)\n"
    "  --delete-after           delete the extracted files once the setup command has finished\n"
    "  --overwrite              create the destination and replace files without asking\n"
    "  --no-open                do not open the destination folder after extraction\n"
    "  --no-dialog              extract without showing the destination dialog\n"
    "  --crc                    store the archive's CRC-32; the stub checks it before extracting\n"
    "  --question TEXT          yes/no question asked before extraction (at most 63)\n"
    "  --question-caption TEXT  caption of that question (at most 31)\n"
    "  --x64                    the setup command needs 64-bit Windows\n"
    "  --info FILE.exe          print the settings block of a self-extracting file\n"
    "  --help                   print this text\n"
    "  --version                print the version\n"
    "\n"
    "Exit status: 0 done, 1 refused (message on stderr), 2 usage error; --info: 1 when the file has no block.\n";

struct Options {
  std::optional<NativeString> output, stub, info, archive;
  std::map<std::string, NativeString> texts;  // "--dest", "--run", "--question", "--question-caption"
  bool deleteAfter = false, overwrite = false, noOpen = false, noDialog = false, crc = false, x64 = false;
};

static NativeString Native(const char *text) { return NativeString(text, text + std::strlen(text)); }

static Options ParseArguments(const std::vector<NativeString> &args, bool &done) {
  Options o;
  done = false;
  const char *textOptions[] = {"--dest", "--run", "--question", "--question-caption"};
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = ToUtf8(args[i]);
    if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
      if (o.archive) UsageFail("more than one archive given (" + ToUtf8(*o.archive) + ", " + arg + ")");
      o.archive = args[i];
      continue;
    }
    if (arg == "--") { optionsEnd = true; continue; }
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      done = true;
      return o;
    }
    if (arg == "--version") {
      std::printf("mksfx %s\n", MKSFX_VERSION);
      done = true;
      return o;
    }
    // Options with a value take it from "--name=value" or from the next argument.
    std::string name = arg;
    std::optional<NativeString> inlineValue;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      const NativeString &raw = args[i];
      // Split the native text at the same '=' (ASCII, so its position is found the same way).
      inlineValue = raw.substr(raw.find(static_cast<NativeString::value_type>('=')) + 1);
    }
    auto value = [&]() -> NativeString {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) UsageFail(name + " needs a value");
      return args[++i];
    };
    auto flag = [&](bool &target) {
      if (inlineValue) UsageFail(name + " takes no value");
      target = true;
    };
    if (name == "-o" || name == "--output") o.output = value();
    else if (name == "--stub") o.stub = value();
    else if (name == "--info") o.info = value();
    else if (std::find(std::begin(textOptions), std::end(textOptions), name) != std::end(textOptions))
      o.texts[name] = value();
    else if (name == "--delete-after") flag(o.deleteAfter);
    else if (name == "--overwrite") flag(o.overwrite);
    else if (name == "--no-open") flag(o.noOpen);
    else if (name == "--no-dialog") flag(o.noDialog);
    else if (name == "--crc") flag(o.crc);
    else if (name == "--x64") flag(o.x64);
    else UsageFail("unknown option " + arg);
  }
  if (o.info) {
    if (o.output || o.stub || o.archive || !o.texts.empty() || o.deleteAfter || o.overwrite || o.noOpen ||
        o.noDialog || o.crc || o.x64)
      UsageFail("--info takes a file and no other options");
    return o;
  }
  if (!o.output) UsageFail("no output file given (-o OUT.exe)");
  if (!o.archive) UsageFail("no archive given");
  return o;
}

static fs::path OwnProgramPath() {
#ifdef _WIN32
  std::wstring buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return fs::path(buffer);
#else
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec);
#endif
}

// The built stub's path as the build recorded it; a Windows build run under Wine sees the Linux root as
// drive Z:.
static fs::path BuiltStubPath() {
  std::string path = MKSFX_DEFAULT_STUB;
  if (path.empty()) return {};
#ifdef _WIN32
  if (path[0] == '/') {
    path = "Z:" + path;
    for (char &c : path)
      if (c == '/') c = '\\';
  }
#endif
  return fs::path(Native(path.c_str()));
}

static fs::path DefaultStub() {
  std::error_code ec;
  fs::path self = OwnProgramPath();
  if (!self.empty()) {
    fs::path beside = self.parent_path() / "sfx.exe";
    if (fs::is_regular_file(beside, ec)) return beside;
  }
  fs::path built = BuiltStubPath();
  if (!built.empty() && fs::is_regular_file(built, ec)) return built;
  Fail("no stub found (neither sfx.exe beside mksfx nor " + Display(built) + "); give one with --stub PATH");
}

struct TextField {
  const char *option;
  const char *field;
  WCHAR *target;
  int units;
};

static void PutText(const Options &o, const TextField &f) {
  auto it = o.texts.find(f.option);
  f.target[0] = 0;
  if (it == o.texts.end()) return;
  FieldText text = ToFieldText(it->second, f.option);
  // The field holds the text and its terminator.
  if (text.utf16Units > static_cast<size_t>(f.units - 1))
    Fail(std::string("the ") + f.field + " (" + f.option + ") is too long: " + std::to_string(text.utf16Units) +
         " UTF-16 units; its field holds at most " + std::to_string(f.units - 1));
  for (size_t i = 0; i < text.units.size(); ++i) f.target[i] = static_cast<WCHAR>(text.units[i]);
  f.target[text.units.size()] = 0;
}

static int Build(const Options &o) {
  fs::path stubPath = o.stub ? fs::path(*o.stub) : DefaultStub();
  fs::path archivePath(*o.archive), outputPath(*o.output);

  static SettingsBlock block;
  std::memset(&block, 0, sizeof block);
  std::memcpy(block.magic, "TAVREN", 6);
  block.kind = o.x64 ? '6' : '3';
  block.magicEnd = 'U';
  const TextField fields[] = {
      {"--dest", "destination", block.destination, SETTINGS_DESTINATION_CHARS},
      {"--run", "setup command", block.setupCommand, SETTINGS_SETUP_COMMAND_CHARS},
      {"--question-caption", "question caption", block.questionCaption, SETTINGS_QUESTION_CAPTION_CHARS},
      {"--question", "question text", block.questionText, SETTINGS_QUESTION_TEXT_CHARS},
  };
  for (const TextField &f : fields) PutText(o, f);
  block.overwriteWithoutAsking = o.overwrite ? 1 : 0;
  block.openFolderAfter = o.noOpen ? 0 : 1;
  block.deleteAfterSetup = o.deleteAfter ? 1 : 0;
  block.skipDestinationDialog = o.noDialog ? 1 : 0;
  block.archiveCrc = 0;

  Bytes stub = ReadWholeFile(stubPath);
  CheckStub(stub, "stub " + Display(stubPath));
  InputFile archive(archivePath);
  const uint64_t shift = stub.size() + SETTINGS_BLOCK_SIZE;
  ArchivePlan plan = PlanArchive(archive, shift);

  OutputFile out(outputPath);
  out.Write(stub);
  Bytes blockBytes(SETTINGS_BLOCK_SIZE);
  EncodeSettingsBlock(&block, blockBytes.data());
  out.Write(blockBytes);
  uint32_t crc = 0;
  Bytes buffer(1 << 20);
  for (uint64_t at = 0; at < plan.tailStart;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), plan.tailStart - at));
    archive.ReadAt(at, buffer.data(), n);
    crc = Crc32Update(crc, buffer.data(), n);
    out.Write(buffer.data(), n);
    at += n;
  }
  crc = Crc32Update(crc, plan.tail.data(), plan.tail.size());
  out.Write(plan.tail);

  if (o.crc) {
    // Zero stands for "no check" in the block: such an archive cannot carry its CRC-32.
    if (crc == 0) Fail(Display(archivePath) + ": the CRC-32 of the archive is 0, which the stub reads as no check");
    block.archiveCrc = crc;
    EncodeSettingsBlock(&block, blockBytes.data());
    out.WriteAt(stub.size(), blockBytes);
  }

  // The stub scans its own file for local headers from offset 0: the block must not hold the signature
  // either, even across its edges.
  Bytes head(stub.size() + SETTINGS_BLOCK_SIZE + 3);
  size_t headLength = out.ReadAt(0, head.data(), head.size());
  int64_t signature = FindLocalHeaderSignature(head.data(), headLength);
  if (signature >= 0 && static_cast<uint64_t>(signature) < shift)
    Fail("the settings block would hold the bytes 50 4B 03 04 (at offset " + std::to_string(signature) +
         " of the output, the block begins at " + std::to_string(stub.size()) +
         "), which the stub would take for an entry; change the texts");

  int64_t stubFinds = StubEndRecordSearch(out);
  if (stubFinds != static_cast<int64_t>(shift + plan.endRecord))
    Fail(Display(archivePath) + ": the stub would not find this archive's end of central directory record "
         "(it takes the first bytes 50 4B 05 06 of its last 256-byte window: such bytes in the archive comment "
         "mislead it); change the archive comment");

  out.Commit();
  // The stub drops both settings when there is no setup command.
  if (o.deleteAfter && block.setupCommand[0] == 0)
    std::fprintf(stderr, "mksfx: warning: --delete-after has no effect without --run\n");
  if (o.x64 && block.setupCommand[0] == 0)
    std::fprintf(stderr, "mksfx: warning: --x64 has no effect without --run\n");
  return 0;
}

static std::string Quoted(const WCHAR *text) { return "\"" + WideToUtf8(text) + "\""; }

static std::string Flag(DWORD value) {
  if (value == 0) return "no";
  if (value == 1) return "yes";
  return "yes (" + std::to_string(value) + ")";
}

static int Info(const NativeString &file) {
  fs::path path(file);
  InputFile in(path);
  // Headers and sections of a stub are small; read what FindOverlayOffset needs, then the block.
  Bytes head = in.ReadAt(0, static_cast<size_t>(std::min<uint64_t>(in.size(), 64 * 1024)));
  uint32_t overlay = CheckPeImage(head, Display(path));
  if (in.size() < static_cast<uint64_t>(overlay) + SETTINGS_BLOCK_SIZE) {
    std::printf("%s: no settings block (nothing appended behind the image)\n", Display(path).c_str());
    return 1;
  }
  Bytes bytes = in.ReadAt(overlay, SETTINGS_BLOCK_SIZE);
  static SettingsBlock block;
  if (!DecodeSettingsBlock(bytes.data(), &block)) {
    std::printf("%s: no settings block (the bytes behind the image do not begin with TAVREN?U)\n",
                Display(path).c_str());
    return 1;
  }
  std::string kind = block.kind >= 0x20 && block.kind < 0x7F ? std::string(1, block.kind) : Hex32(static_cast<uint8_t>(block.kind));
  std::printf("settings block at: %u\n", static_cast<unsigned>(overlay));
  std::printf("kind: %s (%s)\n", kind.c_str(), block.kind == '6' ? "setup needs 64-bit Windows" : "no requirement");
  std::printf("destination: %s\n", Quoted(block.destination).c_str());
  std::printf("setup command: %s\n", Quoted(block.setupCommand).c_str());
  std::printf("overwrite without asking: %s\n", Flag(block.overwriteWithoutAsking).c_str());
  std::printf("open folder after: %s\n", Flag(block.openFolderAfter).c_str());
  std::printf("delete after setup: %s\n", Flag(block.deleteAfterSetup).c_str());
  std::printf("skip destination dialog: %s\n", Flag(block.skipDestinationDialog).c_str());
  if (block.archiveCrc == 0) {
    std::printf("archive CRC-32: none\n");
  } else {
    uint64_t from = static_cast<uint64_t>(overlay) + SETTINGS_BLOCK_SIZE;
    uint32_t crc = 0;
    Bytes buffer(1 << 20);
    for (uint64_t at = from; at < in.size();) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), in.size() - at));
      in.ReadAt(at, buffer.data(), n);
      crc = Crc32Update(crc, buffer.data(), n);
      at += n;
    }
    std::printf("archive CRC-32: %s (%s)\n", Hex32(block.archiveCrc).c_str(),
                crc == block.archiveCrc ? "matches the archive" : ("the archive's is " + Hex32(crc)).c_str());
  }
  std::printf("question caption: %s\n", Quoted(block.questionCaption).c_str());
  std::printf("question text: %s\n", Quoted(block.questionText).c_str());
  return 0;
}

static int Main(const std::vector<NativeString> &args) {
  try {
    bool done = false;
    Options o = ParseArguments(args, done);
    if (done) return 0;
    if (o.info) return Info(*o.info);
    return Build(o);
  } catch (const Failure &failure) {
    std::fprintf(stderr, "mksfx: %s\n", failure.message.c_str());
    if (failure.status == EXIT_USAGE) std::fprintf(stderr, "Try 'mksfx --help'.\n");
    return failure.status;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "mksfx: %s\n", e.what());
    return EXIT_REFUSED;
  }
}

} // namespace mksfx

int main(int argc, char **argv) {
  std::vector<mksfx::NativeString> args;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  // The wide command line: texts and paths outside the ANSI code page arrive intact.
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide != nullptr && i < count; ++i) args.emplace_back(wide[i]);
  SetConsoleOutputCP(CP_UTF8);
#else
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
#endif
  int status = mksfx::Main(args);
  std::fflush(stdout);
  return status;
}
