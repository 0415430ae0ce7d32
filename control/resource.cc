// The file branch of the reader: every record whose usage is not "0", "1" or
// "3" names a file whose whole content becomes the chunk's data. Pictures and
// sounds also get a line in the constants listing, so that a game can refer to
// them by name.
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "common/output.h"
#include "common/platform.h"
#include "control/chunk.h"

// Large files are mapped rather than copied: the data then stays in the page
// cache it is already in, instead of a second copy in fresh heap pages that
// the kernel must first zero. Small files are cheaper to read.
constexpr int64_t kMapThreshold = 256 * 1024;

// First read of a stream whose size is unknown.
constexpr size_t kStreamBlock = 64 * 1024;

// A mapped file is checked once its data is written: by then another program
// may have cut it short or rewritten it. Its descriptor is closed as soon as
// it is mapped, so that a job of any number of large files never runs out of
// descriptors; the check finds the file again by its name, which must still
// lead to the same file. Kept here rather than in every record: a job may hold
// millions of records, and few are mapped. Records are written in the order
// they were read, so the entries are too, and the search starts at the first
// one not yet released.
struct MappedFile {
  const unsigned char* data;  // null once released
  char* name;
  FileStatus status;  // the file when it was mapped
};

static MappedFile* Mapped = nullptr;
static size_t MappedCapacity = 0;
static size_t MappedFiles = 0;
static size_t FirstMapped = 0;

static MappedFile* mapped_file(const Chunk* chunk) {
  for (size_t i = FirstMapped; i < MappedFiles; ++i) {
    if (Mapped[i].data == chunk->data) return &Mapped[i];
  }
  return nullptr;
}

static void remember_mapped(const unsigned char* data, const char* name, const FileStatus* status) {
  if (MappedFiles == MappedCapacity) {
    MappedCapacity = MappedCapacity == 0 ? 16 : MappedCapacity * 2;
    Mapped = static_cast<MappedFile*>(my_realloc(Mapped, MappedCapacity * sizeof *Mapped));
  }
  size_t length = strlen(name);
  char* copy = static_cast<char*>(my_malloc(length + 1));
  memcpy(copy, name, length + 1);
  Mapped[MappedFiles++] = {data, copy, *status};
}

void ReleaseChunk(Chunk* chunk) {
  if (chunk->mapped) {
    MappedFile* file = mapped_file(chunk);
    UnmapFile(chunk->data, chunk->length);
    if (file != nullptr) {
      free(file->name);
      file->name = nullptr;
      file->data = nullptr;
      while (FirstMapped < MappedFiles && Mapped[FirstMapped].data == nullptr) ++FirstMapped;
      if (FirstMapped == MappedFiles) {
        // All released: the table is done with, as the job may be.
        free(Mapped);
        Mapped = nullptr;
        MappedCapacity = MappedFiles = FirstMapped = 0;
      }
    }
  } else {
    free(chunk->data);
  }
  free(chunk);
}

void CheckResource(const Chunk* chunk) {
  const MappedFile* file = chunk->mapped ? mapped_file(chunk) : nullptr;
  if (file == nullptr) return;
  FileStatus now;
  // A name that no longer leads to the file that was mapped: the resource was
  // replaced or removed meanwhile, and what was packed is no longer it.
  if (!StatusOfName(file->name, &now) || !SameFile(&now, &file->status)) ResourceChanged();
  if (now.size < chunk->length) ResourceCutShort();
  if (now.size != chunk->length || now.modified != file->status.modified) ResourceChanged();
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
    bool failed = false;
    count += ReadFully(fd, data + count, capacity - count, &failed);
    if (failed) report_short_read();
    if (failed || count < capacity || count == limit) break;
    capacity = capacity * 2 < limit ? capacity * 2 : limit;
    data = static_cast<unsigned char*>(my_realloc(data, capacity));
  }
  *size = static_cast<int64_t>(count);
  return data;
}

static Chunk* drop(Chunk* chunk, char* name, int fd) {
  NotPacked();
  if (fd >= 0) CloseDescriptor(fd);
  free(name);
  free(chunk);
  return nullptr;
}

// The whole regular file of the given size into memory. A mapped file is
// remembered by its name, to be checked once its data is written.
static unsigned char* load(int fd, int64_t size, const char* name, const FileStatus* status, Chunk* chunk) {
  size_t bytes = static_cast<size_t>(size);
  if (size >= kMapThreshold) {
    unsigned char* map = MapFile(fd, size);
    if (map != nullptr) {
      chunk->mapped = true;
      remember_mapped(map, name, status);
      return map;
    }
  }
  unsigned char* data = static_cast<unsigned char*>(my_malloc(bytes));
  bool failed = false;
  size_t got = ReadFully(fd, data, bytes, &failed);
  if (got < bytes) {
    report_short_read();
    // The record keeps the size it was given; what could not be read is
    // packed as zeros, never as whatever the heap held.
    memset(data + got, 0, bytes - got);
  }
  return data;
}

static void list_constant(const Chunk* chunk, const char* name) {
  const char* prefix = nullptr;
  if (strcmp(chunk->usage, "Pict") == 0) prefix = "image_";
  if (strcmp(chunk->usage, "Snd") == 0) prefix = "sound_";
  if (prefix == nullptr) return;
  char* shortName = ShortProgramName(name);
  ListConstant(prefix, shortName, chunk->number);
  CheckConstantName(prefix, shortName);
  free(shortName);
}

Chunk* ReadResource(Chunk* chunk, char* name) {
  // "2" packs a file without indexing it; "2x" is indexed as "0x".
  if (chunk->usage[0] == '2') chunk->usage[0] = '0';
  NoteDependency(name);
  if (ListOnly) {
    list_constant(chunk, name);
    free(name);
    return chunk;
  }

  int fd = OpenForReading(name);
  FileStatus status;
  // A directory opens for reading but has no content to pack.
  if (fd < 0 || !StatusOfDescriptor(fd, &status) || status.kind == kDirectory) {
    ReportNameProblem(name);
    printf("%s: Error: %" PRId64 ": Can't open file %s\n", MyName, Line, Shown(name));
    return drop(chunk, name, fd);
  }
  // Packing the output into itself would read a half-written file, or the
  // previous Blorb file that the author named by mistake, and then replace it.
  if (IsOutputFile(&status)) {
    printf("%s: Error: %" PRId64 ": File %s is also the output file.\n", MyName, Line, Shown(name));
    drop(chunk, name, fd);
    AbandonOutput();
  }

  int64_t size = 0;
  unsigned char* data = nullptr;
  int64_t end;
  if (status.kind == kRegularFile && status.size > 0) {
    size = status.size;
  } else if ((end = DeviceSize(fd)) >= 0) {
    size = end;
  } else {
    // Pipes and devices, and files that report no size but have content to
    // read (those under /proc).
    data = read_to_end(fd, &size);
  }
  if (size > kMaxBlorbSize) {
    printf("%s: Error: %" PRId64 ": File %s is too large\n", MyName, Line, Shown(name));
    free(data);
    return drop(chunk, name, fd);
  }
  ReserveOutput(size, chunk->type, strcmp(chunk->usage, "0") != 0);

  // The header comes with the first file that opens, even one that gets no
  // constant line, and never when every record is inline.
  if (headerPrinted == 0) {
    printf("\n# CONSTANTS FOR RESOURCES IN BLORB FILE\n");
    headerPrinted = 1;
  }
  list_constant(chunk, name);
  if (data == nullptr) data = load(fd, size, name, &status, chunk);
  CloseDescriptor(fd);
  free(name);
  chunk->data = data;
  chunk->length = static_cast<int32_t>(size);
  return chunk;
}
