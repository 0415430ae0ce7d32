#include "blorb/blorb.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "blorb/format.h"
#include "common/encode.h"
#include "common/output.h"
#include "common/platform.h"

Chunk** Blorb = nullptr;
int32_t Chunks = 1;
bool Strict = false;
int32_t IndexEntries = 0;

static size_t TableCapacity = 0;

// The whole file's size, known once the index is built.
static int64_t FileSize = 0;

static bool is_indexed(const Chunk* record) { return strcmp(record->usage, "0") != 0; }

static bool is_form(const Chunk* record) { return strcmp(record->type, "FORM") == 0; }

static int64_t chunk_size(const Chunk* record) { return ChunkBytes(record->type, record->length); }

static void add_slot(Chunk* record) {
  if (static_cast<size_t>(Chunks) == TableCapacity) {
    TableCapacity = TableCapacity == 0 ? 256 : TableCapacity * 2;
    Blorb = static_cast<Chunk**>(my_realloc(Blorb, TableCapacity * sizeof(Chunk*)));
  }
  Blorb[Chunks++] = record;
}

[[noreturn]] static void output_failed() {
  // The kernel refuses to copy from pages of a mapped resource that another
  // program has truncated away: that is the resource's fault, not the disk's.
  if (errno == EFAULT) ResourceCutShort();
  printf("%s: Error: Can't write Blorb Output File \"%s\".\n", MyName, Shown(OutputName));
  AbandonOutput();
}

// Stream errors are sticky, so one look after each chunk catches any failed
// write since the last look.
static void check_output(FILE* output) {
  if (ferror(output)) output_failed();
}

void BuildIndex(FILE* control) {
  Chunk* index = static_cast<Chunk*>(my_malloc(sizeof(Chunk)));
  memset(index, 0, sizeof(Chunk));
  strcpy(index->type, "RIdx");
  strcpy(index->usage, "0");
  Chunks = 0;
  add_slot(index);

  // The end test comes before the first read too, so an empty control file
  // still costs one read, and a final line end one more; each advances Line.
  int32_t count = 0;
  while (!feof(control)) {
    ++Line;
    Chunk* record = ReadChunk(control);
    // An error is not the end of the file: stop rather than pack what was
    // read so far as if it were everything.
    if (ferror(control)) {
      printf("%s: Error: Can't read Blorb Control File \"%s\".\n", MyName, Shown(ControlName));
      AbandonOutput();
    }
    if (record == nullptr) continue;
    WarnAbout(record);
    add_slot(record);
    if (is_indexed(record)) ++count;
  }
  WarnAboutJob();
  // The listing is complete: its names are no longer needed.
  ResetConstantNames();

  index->length = static_cast<int32_t>(4 + kIndexEntrySize * count);
  index->data = static_cast<unsigned char*>(my_malloc(static_cast<size_t>(index->length)));
  str_long(index->data, static_cast<uint32_t>(count));

  // Every size is known now, so each start can be stored directly instead of
  // seeking back to patch it while the chunks are written.
  int64_t start = static_cast<int64_t>(kContainerHeaderSize) + chunk_size(index);
  unsigned char* entry = index->data + 4;
  for (int32_t slot = 1; slot < Chunks; ++slot) {
    const Chunk* record = Blorb[slot];
    if (is_indexed(record)) {
      // A usage of five or six characters spills past four bytes; the number,
      // stored next, overwrites the spill, so the index keeps four.
      str_id(entry, record->usage);
      str_long(entry + 4, static_cast<uint32_t>(record->number));
      str_long(entry + 8, static_cast<uint32_t>(start));
      entry += kIndexEntrySize;
      ++IndexEntries;
    }
    start += chunk_size(record);
  }
  FileSize = start;
}

// Data reaches the output at most this much per write. The kernel sizes the
// page-cache folios of a file by the writes that fill it: written whole, a
// resource of many megabytes is cached in folios of 2 MiB. On a virtual
// machine whose host takes back free memory, blocks that large are mostly ones
// it has taken, and getting them back cost more than the copy: 1 GiB packed in
// 0.7-2.4 s instead of 0.35 s. Pieces of 256 KiB, which the stream passes on
// as writes just short of that, keep every folio at 128 KiB or less, a size
// the guest's own free memory still has.
constexpr size_t kWritePiece = 256 * 1024;

void Write_Chunk(FILE* output, const Chunk* record) {
  if (!is_form(record)) {
    write_id(output, record->type);
    write_int(output, static_cast<uint32_t>(record->length));
  }
  const unsigned char* data = record->data;
  size_t left = static_cast<size_t>(record->length);
  while (left > 0) {
    size_t piece = left < kWritePiece ? left : kWritePiece;
    // The error stays flagged on the stream for the caller; writing on after
    // it would only fail again.
    if (fwrite(data, 1, piece, output) != piece) break;
    data += piece;
    left -= piece;
  }
  if (record->length & 1) putc(0, output);
}

static void write_header(FILE* output, int64_t size) {
  write_id(output, "FORM");
  if (size < 0) {
    write_id(output, "latr");  // placeholder: a file cut short never passes as complete
  } else {
    write_int(output, static_cast<uint32_t>(size - 8));
  }
  write_id(output, "IFRS");
  check_output(output);
}

// The table belongs to the job like the records in it: a finished job holds
// no heap block.
static void release_table() {
  for (int32_t slot = 0; slot < Chunks && Blorb != nullptr; ++slot) {
    if (Blorb[slot] != nullptr) ReleaseChunk(Blorb[slot]);
    Blorb[slot] = nullptr;
  }
  free(Blorb);
  Blorb = nullptr;
  TableCapacity = 0;
  ResetWarnings();
}

void WriteBlorb(FILE* control, FILE* output) {
  // A pipe or a terminal cannot go back to the length: it is written first,
  // from the sizes the index is built from, which no longer change.
  bool stream = OutputIsStream();
  if (!stream) write_header(output, -1);
  BuildIndex(control);
  if (stream && Strict && (WarningsGiven > 0 || RecordsNotPacked())) {
    // What went down a pipe cannot be taken back: a job that is to fail for
    // its warnings sends nothing at all.
    release_table();
    return;
  }
  if (stream) write_header(output, FileSize);

  for (int32_t slot = 0; slot < Chunks; ++slot) {
    Write_Chunk(output, Blorb[slot]);
    check_output(output);
    CheckResource(Blorb[slot]);
    ReleaseChunk(Blorb[slot]);
    Blorb[slot] = nullptr;
  }
  release_table();

  if (stream) {
    if (fflush(output) != 0 || ferror(output)) output_failed();
    return;
  }
  // The length goes in last, and only after everything before it reached the
  // file: until then the placeholder marks the file as incomplete.
  int64_t end = StreamPosition(output);
  if (end < 0 || fflush(output) != 0 || !SeekStream(output, 4)) output_failed();
  write_int(output, static_cast<uint32_t>(end - 8));
  if (fflush(output) != 0 || ferror(output)) output_failed();
}

void ResetBlorb() {
  for (int32_t slot = 0; slot < Chunks && Blorb != nullptr; ++slot) {
    if (Blorb[slot] != nullptr) ReleaseChunk(Blorb[slot]);
  }
  free(Blorb);
  Blorb = nullptr;
  TableCapacity = 0;
  Chunks = 1;
  IndexEntries = 0;
  FileSize = 0;
  Line = 0;
  WarningsGiven = 0;
  ResetReader();
  ResetWarnings();
}
