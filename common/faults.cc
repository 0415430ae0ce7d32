// Compiled only into the BLORBPACK_FAULTS test build; see faults.h. The counts
// of allocations and output operations a run made are written at exit to the
// file that BLORBPACK_FAULT_COUNTS names, so that a test knows how many points
// there are to fail:
//   allocations N
//   output M
#include "common/faults.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static long Allocations = 0;
static long OutputOperations = 0;

static long setting(const char* name) {
  const char* text = getenv(name);
  return text != nullptr && text[0] != '\0' ? strtol(text, nullptr, 10) : -1;
}

static void write_counts() {
  const char* path = getenv("BLORBPACK_FAULT_COUNTS");
  if (path == nullptr) return;
  FILE* counts = fopen(path, "w");
  if (counts == nullptr) return;
  fprintf(counts, "allocations %ld\noutput %ld\n", Allocations, OutputOperations);
  fclose(counts);
}

// Registered before main, so that every way out through exit() reports.
static const int kCountsRegistered = atexit(write_counts);

bool AllocationFails() {
  static const long failing = setting("BLORBPACK_FAIL_ALLOC");
  (void)kCountsRegistered;
  return ++Allocations == failing;
}

static bool output_fails() {
  static const long failing = setting("BLORBPACK_FAIL_OUTPUT");
  return ++OutputOperations == failing;
}

// Only the Nth operation fails, as a disk that is full for a moment: the
// packager must notice that one failure, whatever succeeds after it.
static ssize_t device_write(void* cookie, const char* data, size_t size) {
  if (output_fails()) {
    errno = ENOSPC;
    return -1;
  }
  int fd = *static_cast<int*>(cookie);
  size_t done = 0;
  while (done < size) {
    ssize_t wrote = write(fd, data + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(wrote);
  }
  return static_cast<ssize_t>(done);
}

static int device_seek(void* cookie, off64_t* position, int whence) {
  if (output_fails()) {
    errno = EIO;
    return -1;
  }
  off_t reached = lseek(*static_cast<int*>(cookie), *position, whence);
  if (reached < 0) return -1;
  *position = reached;
  return 0;
}

static int device_close(void* cookie) {
  int* fd = static_cast<int*>(cookie);
  bool fails = output_fails();
  int closed = close(*fd);
  free(fd);
  if (fails) errno = EIO;
  return fails ? -1 : closed;
}

bool ReplaceOutput(const char* name) {
  if (setting("BLORBPACK_FAIL_OUTPUT") >= 0 && output_fails()) return false;
  return ReplaceWithTemporary(name);
}

FILE* OutputStream(int fd) {
  if (setting("BLORBPACK_FAIL_OUTPUT") < 0) return StreamOnDescriptor(fd);
  int* cookie = static_cast<int*>(malloc(sizeof(int)));
  if (cookie == nullptr) abort();
  *cookie = fd;
  cookie_io_functions_t device = {nullptr, device_write, device_seek, device_close};
  FILE* stream = fopencookie(cookie, "wb", device);
  if (stream == nullptr) {
    free(cookie);
    return nullptr;
  }
  // glibc sizes a buffer it allocates itself as it likes, so a small one is
  // given to it.
  static char buffer[4096];
  long size = setting("BLORBPACK_OUTPUT_BUFFER");
  if (size == 0) setvbuf(stream, nullptr, _IONBF, 0);
  if (size > 0 && static_cast<size_t>(size) <= sizeof buffer) {
    setvbuf(stream, buffer, _IOFBF, static_cast<size_t>(size));
  }
  return stream;
}
