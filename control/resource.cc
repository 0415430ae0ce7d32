// The file branch of the reader: every record whose usage is not "0", "1" or
// "3" names a file whose whole content becomes the chunk's data. Pictures and
// sounds also get a line in the constants listing, so that a game can refer to
// them by name.
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/encode.h"
#include "control/chunk.h"

// Large files are mapped rather than copied: the data then stays in the page
// cache it is already in, instead of a second copy in fresh heap pages that
// the kernel must first zero. Small files are cheaper to read.
constexpr int64_t kMapThreshold = 256 * 1024;

// First read of a stream whose size is unknown.
constexpr size_t kStreamBlock = 64 * 1024;

void ReleaseChunk(Chunk* chunk) {
  if (chunk->mapped) {
    munmap(chunk->data, static_cast<size_t>(chunk->length));
  } else {
    free(chunk->data);
  }
  free(chunk);
}

static bool is_output_file(const struct stat& info) {
  struct stat output;
  return OutputFile != nullptr && fstat(fileno(OutputFile), &output) == 0 &&
         output.st_dev == info.st_dev && output.st_ino == info.st_ino;
}

// Reads up to size bytes; fewer only at the end of the file or on an error.
static size_t read_fully(int fd, unsigned char* data, size_t size) {
  size_t count = 0;
  while (count < size) {
    ssize_t got = read(fd, data + count, size - count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    count += static_cast<size_t>(got);
  }
  return count;
}

// The record is packed, but not whole.
static void report_short_read() {
  fputs("Couldn't read the file. What's up with that?\n", stderr);
  NotPacked();
}

// Pipes and character devices cannot tell their size: read them to the end,
// but never more than one byte past the largest Blorb length, which is enough
// to know that the resource is too large.
static unsigned char* read_to_end(int fd, int64_t* size) {
  size_t capacity = kStreamBlock;
  size_t count = 0;
  unsigned char* data = static_cast<unsigned char*>(my_malloc(capacity));
  const size_t limit = static_cast<size_t>(kMaxBlorbSize) + 1;
  for (;;) {
    ssize_t got = read(fd, data + count, capacity - count);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) report_short_read();
    if (got <= 0) break;
    count += static_cast<size_t>(got);
    if (count == limit) break;
    if (count == capacity) {
      capacity = capacity * 2 < limit ? capacity * 2 : limit;
      data = static_cast<unsigned char*>(my_realloc(data, capacity));
    }
  }
  *size = static_cast<int64_t>(count);
  return data;
}

static Chunk* drop(Chunk* chunk, char* name, int fd) {
  NotPacked();
  if (fd >= 0) close(fd);
  free(name);
  free(chunk);
  return nullptr;
}

// The whole regular file of the given size into memory.
static unsigned char* load(int fd, int64_t size, bool* mapped) {
  size_t bytes = static_cast<size_t>(size);
  *mapped = false;
  if (size >= kMapThreshold) {
    void* map = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (map != MAP_FAILED) {
      *mapped = true;
      return static_cast<unsigned char*>(map);
    }
  }
  unsigned char* data = static_cast<unsigned char*>(my_malloc(bytes));
  size_t got = read_fully(fd, data, bytes);
  if (got < bytes) {
    report_short_read();
    // The record keeps the size it was given; what could not be read is
    // packed as zeros, never as whatever the heap held.
    memset(data + got, 0, bytes - got);
  }
  return data;
}

Chunk* ReadResource(Chunk* chunk, char* name) {
  // "2" packs a file without indexing it; "2x" is indexed as "0x".
  if (chunk->usage[0] == '2') chunk->usage[0] = '0';

  int fd = open(name, O_RDONLY | O_CLOEXEC);
  struct stat info;
  // A directory opens for reading but has no content to pack, and packing
  // the output into itself would read a half-written file.
  if (fd < 0 || fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || is_output_file(info)) {
    printf("%s: Error: %" PRId64 ": Can't open file %s\n", MyName, Line, name);
    return drop(chunk, name, fd);
  }

  int64_t size = 0;
  unsigned char* data = nullptr;
  off_t end;
  if (S_ISREG(info.st_mode)) {
    size = info.st_size;
  } else if (S_ISBLK(info.st_mode) && (end = lseek(fd, 0, SEEK_END)) >= 0) {
    size = end;
    lseek(fd, 0, SEEK_SET);
  } else {
    data = read_to_end(fd, &size);
  }
  if (size > kMaxBlorbSize) {
    printf("%s: Error: %" PRId64 ": File %s is too large\n", MyName, Line, name);
    free(data);
    return drop(chunk, name, fd);
  }
  ReserveOutput(size, chunk->type, strcmp(chunk->usage, "0") != 0);

  const char* prefix = nullptr;
  if (strcmp(chunk->usage, "Pict") == 0) prefix = "image_";
  if (strcmp(chunk->usage, "Snd") == 0) prefix = "sound_";
  // The header comes with the first file that opens, even one that gets no
  // constant line, and never when every record is inline.
  if (headerPrinted == 0) {
    printf("\n# CONSTANTS FOR RESOURCES IN BLORB FILE\n");
    headerPrinted = 1;
  }
  if (prefix != nullptr) {
    char* shortName = ShortProgramName(name);
    printf("constant %s%s %" PRId32 "\n", prefix, shortName, chunk->number);
    CheckConstantName(prefix, shortName);
    free(shortName);
  }
  free(name);

  if (data == nullptr) data = load(fd, size, &chunk->mapped);
  close(fd);
  chunk->data = data;
  chunk->length = static_cast<int32_t>(size);
  return chunk;
}
