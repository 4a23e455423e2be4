// The ring window that the two legacy LZ decoders (Unreduce, Explode) write through: a match copied byte by
// byte (source and destination may overlap), the window handed to the sink each time it fills.
#include "decompress/legacy.h"

DWORD CopyWindowMatch(BYTE *window, DWORD out, DWORD source, DWORD length) {
  while (length-- > 0) {
    window[out++] = window[source];
    source = (source + 1) & (LEGACY_WINDOW_SIZE - 1);
    if (out == LEGACY_WINDOW_SIZE) {
      WriteOutput(window, LEGACY_WINDOW_SIZE);
      out = 0;
    }
  }
  return out;
}
