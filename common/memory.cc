#include <cstdlib>
#include <new>
#include <unistd.h>

#include "common/encode.h"
#include "common/faults.h"
#include "common/platform.h"

void MemoryExceeded() {
  // write(2) rather than stdio: stderr may itself need memory it cannot get.
  static const char kMessage[] = "Error: Memory exceeded!\n";
  ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
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

static void new_handler() { MemoryExceeded(); }

void InstallMemoryHandler() { std::set_new_handler(new_handler); }
