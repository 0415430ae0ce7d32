#include "common/replace.h"

#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "common/platform.h"

// Reads one byte past length, so that a longer file is told from an equal one.
static bool holds_exactly(const char* name, const char* bytes, size_t length) {
  int descriptor = OpenForReading(name);
  if (descriptor < 0) return false;
  unsigned char* data = static_cast<unsigned char*>(my_malloc(length + 1));
  bool failed = false;
  size_t got = ReadFully(descriptor, data, length + 1, &failed);
  CloseDescriptor(descriptor);
  bool same = !failed && got == length && memcmp(data, bytes, length) == 0;
  free(data);
  return same;
}

bool ReplaceIfChanged(const char* name, const char* bytes, size_t length) {
  if (name[0] == '\0') return false;
  char* target = ResolveLinks(name);
  if (target == nullptr) return false;
  FileStatus status;
  // Some names lead to a file only through the system's own links, which
  // point nowhere that can be named (/dev/stdout on a pipe).
  if (!StatusOfName(target, &status) && StatusOfName(name, &status)) {
    free(target);
    target = static_cast<char*>(my_malloc(strlen(name) + 1));
    strcpy(target, name);
  }
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes);
  bool done = false;
  if (status.kind == kRegularFile && holds_exactly(target, bytes, length)) {
    done = true;
  } else if (status.kind == kOtherFile) {
    int descriptor = OpenForWriting(target);
    done = descriptor >= 0 && WriteFully(descriptor, data, length);
    if (descriptor >= 0) CloseDescriptor(descriptor);
  } else if (status.kind == kNoFile || (status.kind == kRegularFile && CanWrite(target))) {
    // A file its owner made read-only stays as it is, as the Blorb file does.
    int descriptor = CreateTemporary(target);
    if (descriptor >= 0) {
      bool written = WriteFully(descriptor, data, length);
      CloseDescriptor(descriptor);
      done = written && ReplaceWithTemporary(target);
      if (!done) RemoveTemporary();
    }
  }
  free(target);
  return done;
}
