// The builder's shared pieces: refusals, files, the stub's checks, the archive's checks and rebasing,
// command-line texts and the CRC-32. The builder stops at the first refusal; nothing it writes becomes
// visible under the output name unless the whole file was written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace mksfx {

using Bytes = std::vector<uint8_t>;
// Command-line arguments as the platform hands them over: UTF-8 on Linux, UTF-16 on Windows.
using NativeString = std::filesystem::path::string_type;

enum { EXIT_REFUSED = 1, EXIT_USAGE = 2 };

// Thrown for every refusal; main prints the message on stderr and exits with the status.
struct Failure {
  std::string message;
  int status;
};
[[noreturn]] void Fail(const std::string &message);
[[noreturn]] void UsageFail(const std::string &message);

// ---- texts (text.cpp) ----
std::string ToUtf8(const NativeString &text);
std::string Display(const std::filesystem::path &path);
// A command-line text as code units for a settings-block field (WCHAR width of the platform) and the
// number of UTF-16 units it takes in the file. Fails on malformed UTF-8.
struct FieldText {
  std::vector<wchar_t> units;
  size_t utf16Units = 0;
};
FieldText ToFieldText(const NativeString &text, const std::string &option);
// A decoded field (terminated WCHAR text) as UTF-8.
std::string WideToUtf8(const wchar_t *text);
std::string Hex32(uint32_t value);

// ---- CRC-32 of the ZIP format (crc.cpp) ----
uint32_t Crc32Update(uint32_t crc, const uint8_t *data, size_t length);

// ---- files (files.cpp) ----
class InputFile {
public:
  explicit InputFile(const std::filesystem::path &path);
  ~InputFile();
  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;
  uint64_t size() const { return size_; }
  // Reads exactly `length` bytes at `offset`; a short read is a refusal.
  void ReadAt(uint64_t offset, uint8_t *out, size_t length);
  Bytes ReadAt(uint64_t offset, size_t length);
  const std::filesystem::path &path() const { return path_; }

private:
  std::filesystem::path path_;
  std::FILE *file_ = nullptr;
  uint64_t size_ = 0;
};

Bytes ReadWholeFile(const std::filesystem::path &path);

// A temporary file beside the target, renamed over it by Commit and removed if never committed.
class OutputFile {
public:
  explicit OutputFile(const std::filesystem::path &target);
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  void Write(const uint8_t *data, size_t length);
  void Write(const Bytes &data) { Write(data.data(), data.size()); }
  void WriteAt(uint64_t offset, const Bytes &data);
  // Reads back what was written (up to `length` bytes; returns the count).
  size_t ReadAt(uint64_t offset, uint8_t *out, size_t length);
  uint64_t size() const { return size_; }
  void Commit();

private:
  void Seek(uint64_t offset);
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::FILE *file_ = nullptr;
  uint64_t size_ = 0;
  bool committed_ = false;
};

// ---- the stub (stub.cpp) ----
// Checks that the bytes hold the headers FindOverlayOffset reads and describe a 32-bit x86 PE image;
// returns the overlay offset, or fails naming `what`.
uint32_t CheckPeImage(const Bytes &image, const std::string &what);
// Checks a stub: a PE32 image with nothing appended and without the local header signature.
void CheckStub(const Bytes &stub, const std::string &what);
// Offset of the first local header signature at or after `from`, or -1.
int64_t FindLocalHeaderSignature(const uint8_t *data, size_t length);

// ---- the archive (archive.cpp) ----
struct ArchivePlan {
  uint64_t size = 0;
  // The archive is copied unchanged up to tailStart (the central directory); the tail is written
  // from `tail`, its offsets rebased.
  uint64_t tailStart = 0;
  Bytes tail;
  uint64_t endRecord = 0;    // offset of the end record in the archive
  uint32_t entries = 0;
};
// Checks the archive and prepares its rebased tail, for an archive that will begin at `shift`.
ArchivePlan PlanArchive(InputFile &archive, uint64_t shift);
// The offset at which the stub's end-record search lands in a file, or -1 when it finds none.
int64_t StubEndRecordSearch(OutputFile &file);

} // namespace mksfx
