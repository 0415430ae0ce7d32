#include "info/source.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "blorb/format.h"
#include "common/escape.h"
#include "common/platform.h"
#include "info/layout.h"

// First read of a stream whose size is unknown.
constexpr size_t kStreamBlock = 65536;

// The name is escaped as on standard output, so that it cannot forge a line.
static void cannot(const char* what, const char* name, int error) {
  fprintf(stderr, "blorbinfo: Error: Can't %s \"", what);
  print_escaped(stderr, reinterpret_cast<const unsigned char*>(name), strlen(name));
  fprintf(stderr, "\": %s\n", strerror(error));
}

// The message the guard writes if the file is cut short while it is mapped:
// made now, since the guard may not format anything then. The name is
// escaped as print_escaped escapes it; a very long one is cut.
static void guard(const char* name) {
  static const char kEnd[] = "\" was cut short while it was being read.\n";
  char message[512] = "blorbinfo: Error: \"";
  size_t at = strlen(message);
  for (const char* c = name; *c != '\0' && at + kMaxShownByte + sizeof kEnd < sizeof message; ++c) {
    at += EscapeByte(static_cast<unsigned char>(*c), kEscapeAllButAscii, message + at);
  }
  memcpy(message + at, kEnd, sizeof kEnd);
  GuardMappedReading(message, 2);
}

// Pipes and devices are read to their end, but never more than one byte past
// the largest Blorb file, which is enough to know that it is too large.
static bool read_stream(int descriptor, const char* name, BlorbSource* source) {
  const size_t limit = kMaxBlorbFileSize + 1;
  size_t capacity = kStreamBlock;
  unsigned char* bytes = static_cast<unsigned char*>(grow(nullptr, capacity, 1));
  size_t size = 0;
  bool failed = false;
  for (;;) {
    size += ReadFully(descriptor, bytes + size, capacity - size, &failed);
    if (failed || size < capacity || size == limit) break;
    capacity = capacity < limit / 2 ? 2 * capacity : limit;
    bytes = static_cast<unsigned char*>(grow(bytes, capacity, 1));
  }
  if (failed) {
    cannot("read", name, errno);
    free(bytes);
    return false;
  }
  if (size == limit) {
    free(bytes);
    source->tooLarge = true;
    source->size = limit;
    return true;
  }
  source->bytes = bytes;
  source->size = size;
  return true;
}

bool OpenBlorb(const char* name, BlorbSource* source) {
  *source = {nullptr, 0, false, -1, false};
  // "-" is standard input, as a pipe passes on what blorbpack writes there.
  int descriptor = strcmp(name, "-") == 0 ? OpenStandardInput() : OpenForReading(name);
  FileStatus status;
  if (descriptor < 0 || !StatusOfDescriptor(descriptor, &status)) {
    cannot("open", name, errno);
    if (descriptor >= 0) CloseDescriptor(descriptor);
    return false;
  }
  if (status.kind == kDirectory) {
    cannot("read", name, EISDIR);
    CloseDescriptor(descriptor);
    return false;
  }
  bool read = true;
  // An empty regular file may still have something to read (those under
  // /proc do), and no mapping can be empty: it is read like a stream.
  if (status.kind == kRegularFile && status.size > 0 &&
      static_cast<uint64_t>(status.size) <= static_cast<uint64_t>(SIZE_MAX)) {
    unsigned char* map = MapFileLazily(descriptor, status.size);
    if (map == nullptr) {
      cannot("read", name, errno);
      read = false;
    } else {
      guard(name);
      source->bytes = map;
      source->size = static_cast<size_t>(status.size);
      source->mapped = true;
      source->descriptor = descriptor;
      source->tooLarge = source->size > kMaxBlorbFileSize;
    }
  } else {
    read = read_stream(descriptor, name, source);
  }
  if (!source->mapped) CloseDescriptor(descriptor);
  return read;
}

void CloseBlorb(BlorbSource* source) {
  if (source->mapped) {
    UnmapFile(const_cast<unsigned char*>(source->bytes), static_cast<int64_t>(source->size));
    CloseDescriptor(source->descriptor);
  } else {
    free(const_cast<unsigned char*>(source->bytes));
  }
  *source = {nullptr, 0, false, -1, false};
}
