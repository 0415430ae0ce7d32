#include <cstdlib>
#include <cstring>
#include <new>

#include "common/encode.h"
#include "common/faults.h"
#include "common/platform.h"

void MemoryExceeded() {
  // Not through stdio: stderr may itself need memory it cannot get.
  WriteStandardError("Error: Memory exceeded!\n");
  // The Blorb file being written is not the output yet and never will be.
  RemoveTemporary();
  exit(2);
}

void* my_malloc(size_t size) {
  // malloc(0) may legally return null; a zero-byte request is not a failure.
  void* block = AllocationFails() ? nullptr : malloc(size == 0 ? 1 : size);
  if (block == nullptr) MemoryExceeded();
  return block;
}

void* my_realloc(void* block, size_t size) {
  void* grown = AllocationFails() ? nullptr : realloc(block, size == 0 ? 1 : size);
  if (grown == nullptr) MemoryExceeded();
  return grown;
}

void AppendBytes(char** text, size_t* length, size_t* capacity, const char* bytes, size_t count) {
  if (*length + count > *capacity) {
    *capacity = 2 * (*length + count) + 256;
    *text = static_cast<char*>(my_realloc(*text, *capacity));
  }
  memcpy(*text + *length, bytes, count);
  *length += count;
}

static void new_handler() { MemoryExceeded(); }

void InstallMemoryHandler() { std::set_new_handler(new_handler); }
