// Whole-file and positioned reads, and the output written to a temporary file beside its target that
// replaces the target only once complete: a refusal or a crash never leaves a partial output under its name.
#include "mksfx.h"

#include <cerrno>
#include <cstring>
#include <random>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace mksfx {

namespace fs = std::filesystem;

static std::FILE *OpenFile(const fs::path &path, const char *mode) {
#ifdef _WIN32
  std::wstring wmode(mode, mode + std::strlen(mode));
  return _wfopen(path.c_str(), wmode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

static int SeekFile(std::FILE *file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET);
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

static std::string ErrnoText() { return std::strerror(errno); }

InputFile::InputFile(const fs::path &path) : path_(path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) Fail(Display(path) + ": is a folder, not a file");
  file_ = OpenFile(path, "rb");
  if (file_ == nullptr) Fail(Display(path) + ": cannot open: " + ErrnoText());
  size_ = fs::file_size(path, ec);
  if (ec) Fail(Display(path) + ": cannot take its size: " + ec.message());
}

InputFile::~InputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void InputFile::ReadAt(uint64_t offset, uint8_t *out, size_t length) {
  if (SeekFile(file_, offset) != 0 || std::fread(out, 1, length, file_) != length)
    Fail(Display(path_) + ": cannot read " + std::to_string(length) + " bytes at offset " + std::to_string(offset));
}

Bytes InputFile::ReadAt(uint64_t offset, size_t length) {
  Bytes out(length);
  if (length != 0) ReadAt(offset, out.data(), length);
  return out;
}

Bytes ReadWholeFile(const fs::path &path) {
  InputFile file(path);
  if (file.size() > 0x7FFFFFFF) Fail(Display(path) + ": too large");
  return file.ReadAt(0, static_cast<size_t>(file.size()));
}

OutputFile::OutputFile(const fs::path &target) : target_(target) {
  std::error_code ec;
  if (fs::is_directory(target, ec)) Fail(Display(target) + ": is a folder");
  static std::mt19937 rng{std::random_device{}()};
  fs::path folder = target.parent_path();
  for (int attempt = 0; attempt < 100 && file_ == nullptr; ++attempt) {
    fs::path name = target.filename();
    name += ".mksfx-" + std::to_string(rng() % 1000000) + ".tmp";
    fs::path candidate = folder / name;
    if (fs::exists(candidate, ec)) continue;
#ifdef _WIN32
    file_ = OpenFile(candidate, "w+b");
#else
    // "x": fail rather than reuse a file that appeared since the test above.
    file_ = OpenFile(candidate, "w+bx");
    if (file_ == nullptr && errno == EEXIST) continue;
#endif
    if (file_ == nullptr) Fail(Display(target) + ": cannot create a file beside it: " + ErrnoText());
    temp_ = candidate;
  }
  if (file_ == nullptr) Fail(Display(target) + ": cannot find a free temporary name beside it");
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_ && !temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
  }
}

void OutputFile::Seek(uint64_t offset) {
  if (SeekFile(file_, offset) != 0) Fail(Display(temp_) + ": cannot seek: " + ErrnoText());
}

void OutputFile::Write(const uint8_t *data, size_t length) {
  Seek(size_);
  if (length != 0 && std::fwrite(data, 1, length, file_) != length)
    Fail(Display(temp_) + ": cannot write: " + ErrnoText());
  size_ += length;
}

void OutputFile::WriteAt(uint64_t offset, const Bytes &data) {
  Seek(offset);
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file_) != data.size())
    Fail(Display(temp_) + ": cannot write: " + ErrnoText());
  if (offset + data.size() > size_) size_ = offset + data.size();
}

size_t OutputFile::ReadAt(uint64_t offset, uint8_t *out, size_t length) {
  if (offset >= size_) return 0;
  if (length > size_ - offset) length = static_cast<size_t>(size_ - offset);
  Seek(offset);
  size_t got = std::fread(out, 1, length, file_);
  if (got != length) Fail(Display(temp_) + ": cannot read back what was written");
  return got;
}

void OutputFile::Commit() {
  int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) Fail(Display(temp_) + ": cannot write: " + ErrnoText());
#ifdef _WIN32
  if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING))
    Fail(Display(target_) + ": cannot replace it (error " + std::to_string(GetLastError()) + ")");
#else
  std::error_code ec;
  fs::rename(temp_, target_, ec);
  if (ec) Fail(Display(target_) + ": cannot rename the finished file to it: " + ec.message());
#endif
  committed_ = true;
}

} // namespace mksfx
