// open_stream_probe: calls OpenStream on the path of its first argument, with the mode of its second
// ("rb" by default), and tells what came of it, so that an end-to-end test can answer OpenStream's
// Retry/Cancel box with winauto and see the outcome.
// Prints "opened N bytes: TEXT" (the file's size and its first line) and exits 0 when a stream came
// back; prints "none" and exits 1 when OpenStream returned none; exits 2 on bad arguments.
#include "extract/extract.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

int main() {
  int argc = 0;
  LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) return 2;
  FILE *stream = OpenStream(argv[1], argc > 2 ? argv[2] : L"rb");
  if (stream == NULL) {
    printf("none\n");
    fflush(stdout);
    return 1;
  }
  char line[256] = {};
  size_t got = fread(line, 1, sizeof line - 1, stream);
  line[got] = 0;
  line[strcspn(line, "\r\n")] = 0;
  fseek(stream, 0, SEEK_END);
  long size = ftell(stream);
  fclose(stream);
  printf("opened %ld bytes: %s\n", size, line);
  fflush(stdout);
  return 0;
}
