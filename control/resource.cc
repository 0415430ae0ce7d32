// The file branch of the reader: every record whose usage is not "0", "1" or
// "3" names a file whose whole content becomes the chunk's data. Pictures and
// sounds also get a line in the constants listing, so that a game can refer to
// them by name.
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "common/encode.h"
#include "control/chunk.h"

// First read of a stream whose size is unknown.
constexpr size_t kStreamBlock = 64 * 1024;

static bool is_output_file(const struct stat& info) {
  struct stat output;
  return OutputFile != nullptr && fstat(fileno(OutputFile), &output) == 0 &&
         output.st_dev == info.st_dev && output.st_ino == info.st_ino;
}

// Pipes and character devices cannot tell their size: read them to the end,
// but never more than one byte past the largest Blorb length, which is enough
// to know that the resource is too large.
static unsigned char* read_to_end(FILE* file, int64_t* size) {
  size_t capacity = kStreamBlock;
  size_t count = 0;
  unsigned char* data = static_cast<unsigned char*>(my_malloc(capacity));
  const size_t limit = static_cast<size_t>(kMaxBlorbSize) + 1;
  while (count < limit) {
    if (count == capacity) {
      capacity = capacity * 2 < limit ? capacity * 2 : limit;
      data = static_cast<unsigned char*>(my_realloc(data, capacity));
    }
    size_t got = fread(data + count, 1, capacity - count, file);
    count += got;
    if (got == 0) break;
  }
  if (ferror(file)) fputs("Couldn't read the file. What's up with that?\n", stderr);
  *size = static_cast<int64_t>(count);
  return data;
}

static Chunk* drop(Chunk* chunk, char* name, FILE* file) {
  if (file != nullptr) fclose(file);
  free(name);
  free(chunk);
  return nullptr;
}

Chunk* ReadResource(Chunk* chunk, char* name) {
  // "2" packs a file without indexing it; "2x" is indexed as "0x".
  if (chunk->usage[0] == '2') chunk->usage[0] = '0';

  FILE* file = fopen(name, "rb");
  struct stat info;
  // A directory opens for reading on some systems but has no content to pack,
  // and packing the output into itself would read a half-written file.
  if (file == nullptr || fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode) ||
      is_output_file(info)) {
    printf("%s: Error: %" PRId64 ": Can't open file %s\n", MyName, Line, name);
    return drop(chunk, name, file);
  }

  int64_t size = 0;
  unsigned char* data = nullptr;
  if (S_ISREG(info.st_mode)) {
    size = info.st_size;
  } else if (S_ISBLK(info.st_mode) && fseeko(file, 0, SEEK_END) == 0) {
    size = ftello(file);
    fseeko(file, 0, SEEK_SET);
  } else {
    data = read_to_end(file, &size);
  }
  if (size > kMaxBlorbSize) {
    printf("%s: Error: %" PRId64 ": File %s is too large\n", MyName, Line, name);
    free(data);
    return drop(chunk, name, file);
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
    free(shortName);
  }
  free(name);

  if (data == nullptr) {
    data = static_cast<unsigned char*>(my_malloc(static_cast<size_t>(size)));
    size_t got = fread(data, 1, static_cast<size_t>(size), file);
    if (got < static_cast<size_t>(size)) {
      fputs("Couldn't read the file. What's up with that?\n", stderr);
      // The record keeps the size it was given; what could not be read is
      // packed as zeros, never as whatever the heap held.
      memset(data + got, 0, static_cast<size_t>(size) - got);
    }
  }
  fclose(file);
  chunk->data = data;
  chunk->length = static_cast<int32_t>(size);
  return chunk;
}
