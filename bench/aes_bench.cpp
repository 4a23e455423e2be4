// AES entry benchmark: key derivation time per password for each strength, and the throughput of
// counter-mode decryption with HMAC-SHA1 over a large AES-256 stored entry, side by side with 7zz
// extracting the same entry. Runs are interleaved; medians are printed.
//
//   cmake --preset host-release && cmake --build --preset host-release --target aes_bench
//   build/host-release/bench/aes_bench [megabytes=64] [runs=7]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "crypto/aes_entry.h"
#include "crypto/sha1.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// CPU seconds of this process, and of its finished children (7zz): steadier than wall time on a
// machine shared with other work.
double OwnCpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

double ChildrenCpu() {
  rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return (double)u.ru_utime.tv_sec + (double)u.ru_utime.tv_usec * 1e-6 + (double)u.ru_stime.tv_sec +
         (double)u.ru_stime.tv_usec * 1e-6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

uint32_t Le(const std::vector<BYTE> &b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | b[at + i];
  return v;
}

} // namespace

int main(int argc, char **argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  const char *password = "correct horse battery staple";

  // ---- key derivation: one AesContextInit per password tried
  {
    BYTE salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<double> times[4];
    for (int run = 0; run < runs; run++) {
      for (DWORD strength = 1; strength <= 3; strength++) {
        const int reps = 50;
        AesEntryContext context;
        BYTE verifier[2];
        double start = OwnCpu();
        for (int i = 0; i < reps; i++) {
          salt[0] = (BYTE)i;
          AesContextInit(strength, (const BYTE *)password, (DWORD)strlen(password), salt, verifier, &context);
        }
        times[strength].push_back((OwnCpu() - start) / reps);
      }
    }
    for (DWORD strength = 1; strength <= 3; strength++)
      std::printf("key derivation, AES-%u (%u PBKDF2 blocks x 1000 iterations): %.3f ms CPU per password\n",
                  64 + 64 * strength, 2 + strength - 1, Median(times[strength]) * 1e3);
  }

  // ---- the entry: a random file stored by 7zz with AES-256
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("aes_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string data = (dir / "data.bin").string(), zip = (dir / "aes256.zip").string();
  {
    std::vector<BYTE> block(1 << 20);
    uint32_t seed = 12345;
    FILE *f = fopen(data.c_str(), "wb");
    for (size_t m = 0; m < megabytes; m++) {
      for (auto &b : block) {
        seed = seed * 1103515245u + 12345u;
        b = (BYTE)(seed >> 16);
      }
      fwrite(block.data(), 1, block.size(), f);
    }
    fclose(f);
  }
  const std::string make = "cd '" + dir.string() + "' && 7zz a -tzip -mem=AES256 -pSECRET -mm=Copy '" + zip +
                           "' data.bin > /dev/null";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "7zz could not make the archive\n");
    return 1;
  }
  std::vector<BYTE> header(4096);
  FILE *probe = fopen(zip.c_str(), "rb");
  header.resize(fread(header.data(), 1, header.size(), probe));
  fclose(probe);
  const DWORD storedSize = Le(header, 18, 4);
  const long dataStart = 30 + (long)Le(header, 26, 2) + (long)Le(header, 28, 2);
  const double mb = (double)megabytes;

  std::vector<BYTE> buffer(131072); // the worker's work buffer size
  std::vector<BYTE> whole(storedSize);
  {
    FILE *f = fopen(zip.c_str(), "rb");
    fseek(f, dataStart, SEEK_SET);
    whole.resize(fread(whole.data(), 1, storedSize, f));
    fclose(f);
  }
  std::vector<double> ours, oursCpu, inMemory, byteByByte, ctrOnly, sha1Only, sevenZip, sevenZipCpu;
  for (int run = 0; run < runs; run++) {
    // As the stub reads a stored entry: 128 KiB reads from the archive, decrypted in place.
    auto start = Clock::now();
    double cpuStart = OwnCpu();
    FILE *f = fopen(zip.c_str(), "rb");
    fseek(f, dataStart, SEEK_SET);
    LONG left = AesEntryBegin(f, "SECRET", storedSize, 3);
    while (left > 0) {
      size_t n = fread(buffer.data(), 1, std::min<size_t>(buffer.size(), (size_t)left), f);
      if (!n) break;
      AesEntryDecrypt(buffer.data(), (DWORD)n);
      left -= (LONG)n;
    }
    LONG auth = AesEntryAuthenticate(f, (DWORD)(dataStart + storedSize));
    fclose(f);
    ours.push_back(Seconds(start));
    oursCpu.push_back(OwnCpu() - cpuStart);
    if (auth != 0) {
      std::fprintf(stderr, "authentication failed\n");
      return 1;
    }

    // The crypto alone, over data already in memory (password derivation excluded).
    std::vector<BYTE> copy(whole.begin() + 18, whole.end() - 10);
    AesEntryContext context;
    BYTE verifier[2];
    AesContextInit(3, (const BYTE *)"SECRET", 6, whole.data(), verifier, &context);
    AesEntryContext ctr = context;
    cpuStart = OwnCpu();
    AesContextDecrypt(copy.data(), (DWORD)copy.size(), &context);
    inMemory.push_back(OwnCpu() - cpuStart);
    // One byte per call, as Inflate's bit input feeds a deflated entry.
    {
      FILE *f2 = fopen(zip.c_str(), "rb");
      fseek(f2, dataStart, SEEK_SET);
      AesEntryBegin(f2, "SECRET", storedSize, 3);
      fclose(f2);
      cpuStart = OwnCpu();
      BYTE *p = copy.data();
      for (size_t i = 0, n = copy.size(); i < n; i++) AesEntryDecrypt(p + i, 1);
      byteByByte.push_back(OwnCpu() - cpuStart);
    }
    cpuStart = OwnCpu();
    AesCtrXor(copy.data(), (DWORD)copy.size(), &ctr);
    ctrOnly.push_back(OwnCpu() - cpuStart);
    Sha1Context sha;
    Sha1Init(&sha);
    cpuStart = OwnCpu();
    Sha1Update(copy.data(), (DWORD)copy.size(), &sha);
    sha1Only.push_back(OwnCpu() - cpuStart);

    start = Clock::now();
    cpuStart = ChildrenCpu();
    const std::string extract = "7zz x -so -pSECRET '" + zip + "' > /dev/null 2>&1";
    if (std::system(extract.c_str()) != 0) {
      std::fprintf(stderr, "7zz could not extract\n");
      return 1;
    }
    sevenZip.push_back(Seconds(start));
    sevenZipCpu.push_back(ChildrenCpu() - cpuStart);
  }
  std::printf("AES-256 stored entry of %zu MB, %d interleaved runs, medians (MB/s by wall time | by CPU time):\n",
              megabytes, runs);
  std::printf("  vazsfx: read + AES-CTR + HMAC-SHA1, 128 KiB reads, incl. key derivation: %7.1f | %7.1f\n",
              mb / Median(ours), mb / Median(oursCpu));
  std::printf("  7zz x -so > /dev/null, whole process:                                   %7.1f | %7.1f\n",
              mb / Median(sevenZip), mb / Median(sevenZipCpu));
  std::printf("  vazsfx in memory: AES-CTR + HMAC-SHA1                                           | %7.1f\n",
              mb / Median(inMemory));
  std::printf("  vazsfx in memory: the same, one byte per call                                  | %7.1f\n",
              mb / Median(byteByByte));
  std::printf("  vazsfx in memory: AES-256-CTR alone                                             | %7.1f\n",
              mb / Median(ctrOnly));
  std::printf("  vazsfx in memory: SHA-1 alone                                                   | %7.1f\n",
              mb / Median(sha1Only));
  fs::remove_all(dir);
  return 0;
}
