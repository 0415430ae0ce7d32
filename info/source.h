// How blorbinfo holds the file it reads. A regular file is mapped, not
// copied: its pages are read as they are touched, so a check that looks at
// headers reads little of a large file, and no size costs heap memory. A pipe
// or a device, which cannot be mapped, is read into memory whole.
#ifndef BLORBPACK_INFO_SOURCE_H
#define BLORBPACK_INFO_SOURCE_H

#include <cstddef>

struct BlorbSource {
  const unsigned char* bytes;  // null when the file is too large to read
  size_t size;
  bool mapped;
  // The open file, while it is mapped (else -1): unpacking copies chunks from
  // it in the kernel where the system can.
  int descriptor;
  // More than kMaxBlorbFileSize bytes. A mapped file still has its bytes; a
  // stream is not read past that point.
  bool tooLarge;
};

// Opens the file name and holds its bytes. False, after a message on standard
// error, when it cannot be opened or read. A file that another program cuts
// short while it is mapped ends the run with status 2 and a message.
bool OpenBlorb(const char* name, BlorbSource* source);
void CloseBlorb(BlorbSource* source);

#endif
