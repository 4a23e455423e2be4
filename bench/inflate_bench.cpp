// Raw decoder benchmark: our Inflate (through the mapped archive window, one byte per call, into the
// output sink) against zlib's inflate over the same raw Deflate streams, with the same sink behind both.
// Usage: inflate_bench [--runs N] [--level L] FILE...
// Each FILE is compressed once with zlib's deflate (raw, level L, default 6); then the two decoders run
// interleaved N times (default 7) over all streams. Printed: medians, min-max spread, ratios, the sink's
// own share (the CRC-32 and the write to /dev/null, measured alone), and the process's peak RSS.
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "archive/window.h"
#include "decompress/decompress.h"
#include "decompress/inflate.h"
#include "extract/extract.h"

namespace {

struct Stream {
  std::string name;
  std::string path; // the raw stream in a file, for the mapped window
  std::vector<unsigned char> data;
  size_t originalSize = 0;
  uint32_t crc = 0;
};

std::vector<unsigned char> ReadAll(const std::string &path) {
  std::vector<unsigned char> bytes;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) {
    return bytes;
  }
  unsigned char buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  fclose(f);
  return bytes;
}

std::wstring PlatformPath(const std::string &path) {
  std::wstring w = L"Z:";
  for (char c : path) {
    w += c == '/' ? L'\\' : (wchar_t)(unsigned char)c;
  }
  return w;
}

// CPU time of the process: the machine is shared, and waiting for a core is not the decoder's time.
double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

int OurInflate(const Stream &s) {
  g_outputCrc = 0;
  if (!OpenArchiveWindow(PlatformPath(s.path).c_str()) || !SeekArchiveWindow(0)) {
    return 0;
  }
  InflateEntry(0);
  CloseArchiveWindow();
  return g_outputCrc == s.crc && g_cancelState == 0;
}

int ZlibInflate(const Stream &s) {
  static unsigned char out[65536];
  z_stream z;
  memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) {
    return 0;
  }
  g_outputCrc = 0;
  z.next_in = const_cast<unsigned char *>(s.data.data());
  z.avail_in = (uInt)s.data.size();
  int r;
  do {
    z.next_out = out;
    z.avail_out = sizeof out;
    r = inflate(&z, Z_NO_FLUSH);
    if (r != Z_OK && r != Z_STREAM_END) {
      break;
    }
    WriteOutput(out, (DWORD)(sizeof out - z.avail_out));
  } while (r != Z_STREAM_END);
  inflateEnd(&z);
  return r == Z_STREAM_END && g_outputCrc == s.crc;
}

// The sink alone over the same output volume.
int SinkOnly(const Stream &s) {
  static std::vector<unsigned char> zeros(65536, 0x5A);
  g_outputCrc = 0;
  for (size_t left = s.originalSize; left;) {
    size_t n = std::min<size_t>(left, zeros.size());
    WriteOutput(zeros.data(), (DWORD)n);
    left -= n;
  }
  return 1;
}

struct Figures {
  std::vector<double> times;
  double Median() const {
    std::vector<double> t = times;
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
  }
  double Min() const { return *std::min_element(times.begin(), times.end()); }
  double Max() const { return *std::max_element(times.begin(), times.end()); }
};

} // namespace

int main(int argc, char **argv) {
  int runs = 7;
  int level = 6;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(5, atoi(argv[++i]));
    } else if (a == "--level" && i + 1 < argc) {
      level = atoi(argv[++i]);
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.empty()) {
    fprintf(stderr, "usage: inflate_bench [--runs N] [--level L] FILE...\n");
    return 2;
  }

  char folder[] = "/tmp/inflate-bench-XXXXXX";
  if (!mkdtemp(folder)) {
    return 1;
  }
  std::vector<Stream> streams;
  size_t totalIn = 0, totalOut = 0;
  for (const std::string &input : inputs) {
    std::vector<unsigned char> original = ReadAll(input);
    Stream s;
    s.name = input;
    s.originalSize = original.size();
    s.crc = (uint32_t)crc32(0, original.data(), (uInt)original.size());
    z_stream z;
    memset(&z, 0, sizeof z);
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    s.data.resize(deflateBound(&z, original.size()));
    z.next_in = original.data();
    z.avail_in = (uInt)original.size();
    z.next_out = s.data.data();
    z.avail_out = (uInt)s.data.size();
    deflate(&z, Z_FINISH);
    s.data.resize(z.total_out);
    deflateEnd(&z);
    s.path = std::string(folder) + "/" + std::to_string(streams.size()) + ".raw";
    FILE *f = fopen(s.path.c_str(), "wb");
    fwrite(s.data.data(), 1, s.data.size(), f);
    fclose(f);
    totalIn += s.data.size();
    totalOut += s.originalSize;
    streams.push_back(std::move(s));
  }

  BuildCrcTable();
  g_outputFile = fopen("/dev/null", "wb");
  g_archiveFile = fopen(streams[0].path.c_str(), "rb");
  g_cancelState = 0;

  Figures ours, zlib, sink;
  for (int run = 0; run < runs; run++) {
    // Alternate the order so that neither decoder always follows the other.
    for (int turn = 0; turn < 3; turn++) {
      int which = (turn + run) % 3;
      double t0 = Now();
      for (const Stream &s : streams) {
        int ok = which == 0 ? OurInflate(s) : which == 1 ? ZlibInflate(s) : SinkOnly(s);
        if (!ok) {
          fprintf(stderr, "%s: %s decoded wrongly\n", s.name.c_str(), which == 0 ? "Inflate" : "zlib");
          return 1;
        }
      }
      double t = Now() - t0;
      (which == 0 ? ours : which == 1 ? zlib : sink).times.push_back(t);
    }
  }
  ReleaseFixedTables();
  for (const Stream &s : streams) {
    unlink(s.path.c_str());
  }
  rmdir(folder);

  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  double mb = totalOut / 1e6;
  printf("raw Deflate streams: %zu files, %.1f MB compressed (zlib level %d), %.1f MB out, %d runs\n",
         streams.size(), totalIn / 1e6, level, mb, runs);
  printf("%-28s %9s %9s %9s %10s\n", "decoder + sink, CPU time", "median s", "min s", "max s", "MB/s out");
  printf("%-28s %9.3f %9.3f %9.3f %10.1f\n", "Inflate (window, 1 B/call)", ours.Median(), ours.Min(), ours.Max(),
         mb / ours.Median());
  printf("%-28s %9.3f %9.3f %9.3f %10.1f\n", "zlib inflate", zlib.Median(), zlib.Min(), zlib.Max(),
         mb / zlib.Median());
  printf("%-28s %9.3f %9.3f %9.3f\n", "sink alone (CRC, write)", sink.Median(), sink.Min(), sink.Max());
  double oursDecode = ours.Median() - sink.Median();
  double zlibDecode = zlib.Median() - sink.Median();
  printf("ratio zlib/Inflate with sink: %.2f  (> 1: Inflate faster)\n", zlib.Median() / ours.Median());
  printf("ratio zlib/Inflate decoding alone (sink median subtracted): %.2f  (%.1f vs %.1f MB/s)\n",
         zlibDecode / oursDecode, mb / oursDecode, mb / zlibDecode);
  printf("peak RSS of the benchmark process: %ld KiB (inputs held in memory for zlib)\n", usage.ru_maxrss);
  return 0;
}
