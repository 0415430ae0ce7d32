// blorbinfo on arbitrary bytes. Property: whatever the bytes, listing and
// checking them ends without reading outside them, without undefined
// behaviour and without leaks; a file that passes holds the container
// header and the index where every reader looks for them; and cutting the
// last byte off a file that passes always leaves problems to report, since a
// reader would find that file cut short.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "info/info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = fopen("/dev/null", "w");
  if (sink == nullptr) abort();
  if (ListBlorb(sink, "fuzz", data, size) != 0) return 0;
  if (size < 24 || memcmp(data, "FORM", 4) != 0 || memcmp(data + 8, "IFRS", 4) != 0 ||
      memcmp(data + 12, "RIdx", 4) != 0) {
    abort();
  }
  // A copy of exactly the shorter size, so that reading the byte that is no
  // longer there is caught.
  unsigned char* cut = static_cast<unsigned char*>(malloc(size - 1));
  memcpy(cut, data, size - 1);
  size_t problems = ListBlorb(sink, "fuzz", cut, size - 1);
  free(cut);
  if (problems == 0) abort();
  return 0;
}
