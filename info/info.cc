#include "info/info.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "blorb/format.h"
#include "common/platform.h"

// Every length, count and offset in the file is 32 bits wide and may hold
// anything up to 0xFFFFFFFF, so sums of them are made in 64 bits, where an
// offset plus a header plus a length cannot wrap.
static uint64_t long_at(const unsigned char* p) {
  return uint64_t{p[0]} << 24 | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 8 | uint64_t{p[3]};
}

static bool is_id(const unsigned char* p, const char* id) { return memcmp(p, id, kIdSize) == 0; }

static const char* plural(uint64_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

static unsigned long long wide(uint64_t value) { return static_cast<unsigned long long>(value); }

[[noreturn]] static void memory_exceeded() {
  fprintf(stderr, "blorbinfo: Error: Memory exceeded!\n");
  exit(2);
}

static void* grow(void* block, size_t count, size_t each) {
  if (count > SIZE_MAX / each) memory_exceeded();
  void* grown = realloc(block, count * each == 0 ? 1 : count * each);
  if (grown == nullptr) memory_exceeded();
  return grown;
}

// Writes one byte of an identifier or a text as it is shown, returning how
// many characters it took: the file decides what these bytes are, and a line
// feed or an escape sequence among them must not break the listing.
static size_t escape(unsigned char c, char* shown) {
  if (c == '"' || c == '\\') {
    shown[0] = '\\';
    shown[1] = static_cast<char>(c);
    return 2;
  }
  if (c >= 0x20 && c <= 0x7E) {
    shown[0] = static_cast<char>(c);
    return 1;
  }
  static const char kHex[] = "0123456789ABCDEF";
  shown[0] = '\\';
  shown[1] = 'x';
  shown[2] = kHex[c >> 4];
  shown[3] = kHex[c & 15];
  return 4;
}

// A quoted identifier whose four bytes all needed \xHH, and its terminator.
constexpr size_t kQuotedIdSize = 2 + 4 * kIdSize + 1;

static const char* quoted(const unsigned char* id, char* buffer) {
  size_t at = 0;
  buffer[at++] = '"';
  for (size_t i = 0; i < kIdSize; ++i) at += escape(id[i], buffer + at);
  buffer[at++] = '"';
  buffer[at] = '\0';
  return buffer;
}

static void print_text(FILE* out, const unsigned char* text, size_t length) {
  char shown[4];
  fputc('"', out);
  for (size_t i = 0; i < length; ++i) fwrite(shown, 1, escape(text[i], shown), out);
  fputc('"', out);
}

// Where the problems of one file are told, and how many have been.
struct Report {
  FILE* out;
  const char* name;
  size_t problems;
};

__attribute__((format(printf, 3, 4))) static void problem(Report* report, uint64_t offset,
                                                           const char* format, ...) {
  fprintf(report->out, "blorbinfo: %s: Problem at 0x%06llX: ", report->name, wide(offset));
  va_list arguments;
  va_start(arguments, format);
  vfprintf(report->out, format, arguments);
  va_end(arguments);
  fputc('\n', report->out);
  ++report->problems;
}

// A chunk as its header describes it; its data may reach beyond the file.
struct Piece {
  uint64_t offset;
  const unsigned char* type;
  uint64_t length;
  uint64_t end;  // just past the data, before any pad byte
};

// The caller has made sure that a whole header lies at offset.
static Piece piece_at(const unsigned char* bytes, uint64_t offset) {
  Piece piece;
  piece.offset = offset;
  piece.type = bytes + offset;
  piece.length = long_at(bytes + offset + kIdSize);
  piece.end = offset + kChunkHeaderSize + piece.length;
  return piece;
}

// The chunks in file order, found by following each header's length from the
// first chunk after the container header, as every reader does: a wrong
// length anywhere misleads the reader about everything after it.
struct Walk {
  uint64_t* offsets;  // ascending
  size_t count;
  size_t capacity;
  // Where the next chunk would start: the file's size when the chunks fill it
  // exactly, less when bytes too few for a header are left over, more when the
  // last chunk or its pad byte reaches beyond the file.
  uint64_t end;
};

static Walk walk_chunks(const unsigned char* bytes, size_t size) {
  Walk walk = {nullptr, 0, 0, 0};
  uint64_t offset = kContainerHeaderSize;
  while (offset + kChunkHeaderSize <= size) {
    if (walk.count == walk.capacity) {
      walk.capacity = 2 * walk.capacity + 16;
      walk.offsets = static_cast<uint64_t*>(grow(walk.offsets, walk.capacity, sizeof(uint64_t)));
    }
    walk.offsets[walk.count++] = offset;
    Piece piece = piece_at(bytes, offset);
    // Chunks start at even offsets: an odd length is followed by a pad byte.
    offset = piece.end + (piece.length & 1);
  }
  walk.end = offset;
  return walk;
}

static bool is_chunk_start(const Walk* walk, uint64_t offset) {
  size_t low = 0;
  size_t high = walk->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (walk->offsets[middle] < offset) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low < walk->count && walk->offsets[low] == offset;
}

// The resource index as far as the file holds it: the first "RIdx" chunk,
// wherever it stands, so that a misplaced index is still listed.
struct Index {
  bool found;
  uint64_t offset;
  uint64_t length;
  bool hasCount;    // the chunk is long enough and the file holds the field
  uint64_t count;   // what the count field says
  uint64_t entries;  // entries that the chunk's length and the file both hold
};

static Index find_index(const unsigned char* bytes, size_t size, const Walk* walk) {
  Index index = {false, 0, 0, false, 0, 0};
  for (size_t i = 0; i < walk->count && !index.found; ++i) {
    if (!is_id(bytes + walk->offsets[i], "RIdx")) continue;
    Piece piece = piece_at(bytes, walk->offsets[i]);
    index.found = true;
    index.offset = piece.offset;
    index.length = piece.length;
    uint64_t data = piece.offset + kChunkHeaderSize;
    if (piece.length >= 4 && data + 4 <= size) {
      index.hasCount = true;
      index.count = long_at(bytes + data);
      uint64_t held = piece.end <= size ? piece.length : size - data;
      uint64_t room = (held - 4) / kIndexEntryBytes;
      index.entries = index.count < room ? index.count : room;
    }
  }
  return index;
}

static uint64_t entry_offset(const Index* index, uint64_t k) {
  return index->offset + kChunkHeaderSize + 4 + kIndexEntryBytes * k;
}

// A start is good when a chunk other than the index itself begins there.
static bool is_resource_start(const Walk* walk, const Index* index, uint64_t start) {
  return start != index->offset && is_chunk_start(walk, start);
}

static void list_entries(FILE* out, const char* name, const unsigned char* bytes, const Walk* walk,
                         const Index* index) {
  char usage[kQuotedIdSize];
  char type[kQuotedIdSize];
  for (uint64_t k = 0; k < index->entries; ++k) {
    const unsigned char* entry = bytes + entry_offset(index, k);
    uint64_t start = long_at(entry + 8);
    fprintf(out, "%s: index entry at 0x%06llX: %s %llu, start 0x%06llX: ", name,
            wide(entry_offset(index, k)), quoted(entry, usage), wide(long_at(entry + 4)), wide(start));
    if (is_resource_start(walk, index, start)) {
      Piece piece = piece_at(bytes, start);
      fprintf(out, "%s, %llu %s\n", quoted(piece.type, type), wide(piece.length),
              plural(piece.length, "byte", "bytes"));
    } else {
      fprintf(out, "no resource chunk there\n");
    }
  }
}

// What a chunk holds, where people want to see it without a hex dump: the
// form type of an embedded IFF file, the texts and the release and format
// numbers. Only for chunks that lie whole inside the file.
static void list_contents(FILE* out, const unsigned char* bytes, const Piece* piece) {
  const unsigned char* data = bytes + piece->offset + kChunkHeaderSize;
  char shown[kQuotedIdSize];
  if (is_id(piece->type, "FORM") && piece->length >= kIdSize) {
    fprintf(out, ", form type %s", quoted(data, shown));
  } else if (is_id(piece->type, "RIdx") && piece->length >= 4) {
    fprintf(out, ", %llu %s", wide(long_at(data)), plural(long_at(data), "entry", "entries"));
  } else if (is_id(piece->type, "AUTH") || is_id(piece->type, "(c) ") || is_id(piece->type, "ANNO")) {
    fprintf(out, ", text ");
    print_text(out, data, piece->length);
  } else if (is_id(piece->type, "RelN") && piece->length == 2) {
    fprintf(out, ", number %u", static_cast<unsigned>(data[0] << 8 | data[1]));
  } else if (is_id(piece->type, "Fspc") && piece->length == 4) {
    fprintf(out, ", number %llu", wide(long_at(data)));
  }
}

static void list_chunks(FILE* out, const char* name, const unsigned char* bytes, size_t size,
                        const Walk* walk) {
  char type[kQuotedIdSize];
  for (size_t i = 0; i < walk->count; ++i) {
    Piece piece = piece_at(bytes, walk->offsets[i]);
    fprintf(out, "%s: chunk at 0x%06llX: %s, %llu %s", name, wide(piece.offset), quoted(piece.type, type),
            wide(piece.length), plural(piece.length, "byte", "bytes"));
    if (piece.end <= size) list_contents(out, bytes, &piece);
    fputc('\n', out);
  }
}

static void check_container(Report* report, const unsigned char* bytes, size_t size) {
  char id[kQuotedIdSize];
  if (!is_id(bytes, "FORM")) {
    problem(report, 0, "File starts with %s, not \"FORM\": it is not an IFF file", quoted(bytes, id));
  }
  if (long_at(bytes + kIdSize) != size - 8) {
    problem(report, kIdSize, "FORM length is %llu, but the file size less 8 is %llu",
            wide(long_at(bytes + kIdSize)), wide(size - 8));
  }
  if (!is_id(bytes + 8, "IFRS")) {
    problem(report, 8, "Form type is %s, not \"IFRS\": it is not a Blorb file", quoted(bytes + 8, id));
  }
}

// One entry of the index, for finding repeated usage and number pairs.
struct Pair {
  unsigned char usage[kIdSize];
  uint64_t number;
  uint64_t entry;
};

static int compare_pairs(const void* a, const void* b) {
  const Pair* left = static_cast<const Pair*>(a);
  const Pair* right = static_cast<const Pair*>(b);
  int order = memcmp(left->usage, right->usage, kIdSize);
  if (order != 0) return order;
  if (left->number != right->number) return left->number < right->number ? -1 : 1;
  if (left->entry != right->entry) return left->entry < right->entry ? -1 : 1;
  return 0;
}

// For each entry, the first entry with the same usage and number: itself
// when it is the first. Sorting keeps hostile indexes of millions of entries
// from taking quadratic time.
static uint64_t* first_of_pairs(const unsigned char* bytes, const Index* index) {
  size_t count = static_cast<size_t>(index->entries);
  Pair* pairs = static_cast<Pair*>(grow(nullptr, count, sizeof(Pair)));
  for (size_t k = 0; k < count; ++k) {
    const unsigned char* entry = bytes + entry_offset(index, k);
    memcpy(pairs[k].usage, entry, kIdSize);
    pairs[k].number = long_at(entry + 4);
    pairs[k].entry = k;
  }
  qsort(pairs, count, sizeof(Pair), compare_pairs);
  uint64_t* first = static_cast<uint64_t*>(grow(nullptr, count, sizeof(uint64_t)));
  for (size_t k = 0; k < count; ++k) {
    bool repeat = k > 0 && memcmp(pairs[k].usage, pairs[k - 1].usage, kIdSize) == 0 &&
                  pairs[k].number == pairs[k - 1].number;
    first[pairs[k].entry] = repeat ? first[pairs[k - 1].entry] : pairs[k].entry;
  }
  free(pairs);
  return first;
}

static void check_entries(Report* report, const unsigned char* bytes, const Walk* walk,
                          const Index* index) {
  uint64_t* first = first_of_pairs(bytes, index);
  bool execSeen = false;
  uint64_t firstExec = 0;
  char usage[kQuotedIdSize];
  for (uint64_t k = 0; k < index->entries; ++k) {
    uint64_t at = entry_offset(index, k);
    const unsigned char* entry = bytes + at;
    quoted(entry, usage);
    uint64_t number = long_at(entry + 4);
    uint64_t start = long_at(entry + 8);
    if (start % 2 != 0) {
      problem(report, at, "Index entry %s %llu starts at 0x%06llX, an odd offset, where no chunk can start",
              usage, wide(number), wide(start));
    } else if (!is_resource_start(walk, index, start)) {
      problem(report, at, "Index entry %s %llu starts at 0x%06llX, where no resource chunk starts", usage,
              wide(number), wide(start));
    }
    // Some interpreters read the index in step with the chunks and give up
    // on an entry that points backwards.
    if (k > 0 && start <= long_at(entry - kIndexEntryBytes + 8)) {
      problem(report, at,
              "Index entry %s %llu starts at 0x%06llX, not after the start of the entry before it, "
              "0x%06llX: interpreters that match entries to chunks in one pass refuse the file",
              usage, wide(number), wide(start), wide(long_at(entry - kIndexEntryBytes + 8)));
    }
    if (first[k] != k) {
      problem(report, at,
              "Index entry %s %llu repeats the usage and number of the entry at 0x%06llX: "
              "readers will find only one of the two",
              usage, wide(number), wide(entry_offset(index, first[k])));
    }
    if (!IsLookedUpUsage(reinterpret_cast<const char*>(entry))) {
      problem(report, at,
              "Index entry %s %llu has a usage that readers do not look up (Pict, Snd, Data, Exec): "
              "no game can ask for this resource",
              usage, wide(number));
    }
    if (is_id(entry, "Exec")) {
      if (number != 0) {
        problem(report, at,
                "Index entry \"Exec\" %llu is not numbered 0: interpreters look for the story as Exec 0 "
                "and will not find it",
                wide(number));
      }
      if (execSeen) {
        problem(report, at,
                "Index entry \"Exec\" %llu is a second story (the first is the entry at 0x%06llX): "
                "interpreters run only one",
                wide(number), wide(entry_offset(index, firstExec)));
      } else {
        execSeen = true;
        firstExec = k;
      }
    }
  }
  free(first);
}

static void check_index(Report* report, const unsigned char* bytes, const Walk* walk, const Index* index) {
  char type[kQuotedIdSize];
  if (walk->count == 0) {
    problem(report, kContainerHeaderSize,
            "No chunk follows the container header: the resource index \"RIdx\" must come first");
  } else if (!is_id(bytes + walk->offsets[0], "RIdx")) {
    problem(report, walk->offsets[0], "First chunk is %s, not the resource index \"RIdx\"",
            quoted(bytes + walk->offsets[0], type));
  }
  if (!index->found) return;
  if (index->length < 4) {
    problem(report, index->offset, "Resource index is %llu %s, too short to hold its count",
            wide(index->length), plural(index->length, "byte", "bytes"));
  } else if (index->hasCount && 4 + kIndexEntryBytes * index->count != index->length) {
    problem(report, index->offset, "Resource index is %llu bytes, but its count of %llu needs 4 + 12 x %llu = %llu",
            wide(index->length), wide(index->count), wide(index->count),
            wide(4 + kIndexEntryBytes * index->count));
  }
  check_entries(report, bytes, walk, index);
}

static void check_chunks(Report* report, const unsigned char* bytes, size_t size, const Walk* walk,
                         const Index* index) {
  char type[kQuotedIdSize];
  for (size_t i = 0; i < walk->count; ++i) {
    Piece piece = piece_at(bytes, walk->offsets[i]);
    quoted(piece.type, type);
    if (is_id(piece.type, "RIdx") && piece.offset != index->offset) {
      problem(report, piece.offset, "Second resource index (the first is at 0x%06llX): readers use only one",
              wide(index->offset));
    }
    bool inside = piece.end <= size;
    if (!inside) {
      problem(report, piece.offset, "Chunk %s of %llu %s ends at 0x%06llX, past the end of the file at 0x%06llX",
              type, wide(piece.length), plural(piece.length, "byte", "bytes"), wide(piece.end), wide(size));
    } else if (piece.length % 2 != 0 && piece.end == size) {
      problem(report, piece.end, "Pad byte missing after the chunk at 0x%06llX, whose length %llu is odd",
              wide(piece.offset), wide(piece.length));
    } else if (piece.length % 2 != 0 && bytes[piece.end] != 0) {
      problem(report, piece.end, "Pad byte after the chunk at 0x%06llX is 0x%02X, not 0", wide(piece.offset),
              bytes[piece.end]);
    }
    if (inside && is_id(piece.type, "FORM") && piece.length < kIdSize) {
      problem(report, piece.offset, "FORM chunk of %llu %s has no room for its form type", wide(piece.length),
              plural(piece.length, "byte", "bytes"));
    }
    // The signature is checked on the bytes that are there, so that a chunk
    // cut short is still told apart from one that never had its signature.
    // An embedded IFF file is checked with its own header, as it was packed.
    bool embedded = is_id(piece.type, "FORM");
    uint64_t from = piece.offset + (embedded ? 0 : kChunkHeaderSize);
    uint64_t to = inside ? piece.end : size;
    const char* signature = SignatureProblem(reinterpret_cast<const char*>(piece.type), bytes + from,
                                             static_cast<size_t>(to - from));
    if (signature != nullptr) problem(report, piece.offset, "%s", signature);
  }
  if (walk->end < size) {
    problem(report, walk->end, "%llu %s after the %s, too few for a chunk header", wide(size - walk->end),
            plural(size - walk->end, "byte", "bytes"), walk->count == 0 ? "container header" : "last chunk");
  }
}

size_t ListBlorb(FILE* out, const char* name, const unsigned char* bytes, size_t size) {
  Report report = {out, name, 0};
  char formType[kQuotedIdSize];
  if (size < kContainerHeaderSize) {
    fprintf(out, "%s: %llu %s, no form type\n", name, wide(size), plural(size, "byte", "bytes"));
    problem(&report, 0, "File is %llu %s, too short for the container header (\"FORM\", length, \"IFRS\")",
            wide(size), plural(size, "byte", "bytes"));
  } else {
    fprintf(out, "%s: %llu bytes, form type %s\n", name, wide(size), quoted(bytes + 8, formType));
    Walk walk = walk_chunks(bytes, size);
    Index index = find_index(bytes, size, &walk);
    if (index.found) list_entries(out, name, bytes, &walk, &index);
    list_chunks(out, name, bytes, size, &walk);
    // Problems in the order a reader meets them when the file is sound: the
    // header, the index and its entries, then the chunks.
    check_container(&report, bytes, size);
    check_index(&report, bytes, &walk, &index);
    check_chunks(&report, bytes, size, &walk, &index);
    free(walk.offsets);
  }
  if (report.problems == 0) {
    fprintf(out, "%s: no problems\n", name);
  } else {
    fprintf(out, "%s: %llu %s\n", name, wide(report.problems), plural(report.problems, "problem", "problems"));
  }
  return report.problems;
}

// The whole file, or null: after a message on standard error when it cannot
// be read, or with *tooLarge set when it holds more than any Blorb file can.
static unsigned char* read_file(const char* name, size_t* size, bool* tooLarge) {
  *size = 0;
  *tooLarge = false;
  FILE* file = OpenStreamForReading(name);
  if (file == nullptr) {
    const char* problem = NameProblem(name);
    fprintf(stderr, "blorbinfo: Error: Can't open \"%s\": %s\n", name, problem != nullptr ? problem : strerror(errno));
    return nullptr;
  }
  // A regular file's size is known before reading it, which spares the copies
  // of a growing buffer and reading gigabytes only to refuse them; pipes and
  // devices are read until they end.
  size_t capacity = 65536;
  FileStatus info;
  if (StatusOfDescriptor(DescriptorOfStream(file), &info) && info.kind == kRegularFile && info.size > 0) {
    if (static_cast<uint64_t>(info.size) > kMaxBlorbFileSize) {
      fclose(file);
      *tooLarge = true;
      return nullptr;
    }
    capacity = static_cast<size_t>(info.size) + 1;  // one more, to meet the end
  }
  unsigned char* bytes = static_cast<unsigned char*>(grow(nullptr, capacity, 1));
  for (;;) {
    *size += fread(bytes + *size, 1, capacity - *size, file);
    if (*size < capacity) break;
    if (*size > kMaxBlorbFileSize) {
      *tooLarge = true;
      break;
    }
    capacity = capacity > kMaxBlorbFileSize / 2 ? kMaxBlorbFileSize + 1 : 2 * capacity;
    bytes = static_cast<unsigned char*>(grow(bytes, capacity, 1));
  }
  if (!*tooLarge && ferror(file)) {
    fprintf(stderr, "blorbinfo: Error: Can't read \"%s\": %s\n", name, strerror(errno));
    free(bytes);
    fclose(file);
    return nullptr;
  }
  fclose(file);
  if (*tooLarge) {
    free(bytes);
    return nullptr;
  }
  return bytes;
}

int BlorbinfoMain(int argc, char** argv) {
  int status = 0;
  if (argc < 2) {
    fprintf(stderr, "Usage: blorbinfo FILE...\n");
    status = 2;
  }
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    size_t size = 0;
    bool tooLarge = false;
    unsigned char* bytes = read_file(name, &size, &tooLarge);
    size_t problems = 0;
    if (bytes != nullptr) {
      problems = ListBlorb(stdout, name, bytes, size);
      free(bytes);
    } else if (tooLarge) {
      printf("%s: more than %llu bytes\n", name, wide(kMaxBlorbFileSize));
      printf("blorbinfo: %s: Problem at 0x%06llX: File goes on past %llu bytes, beyond what readers can reach\n",
             name, wide(kMaxBlorbFileSize), wide(kMaxBlorbFileSize));
      printf("%s: 1 problem\n", name);
      problems = 1;
    } else {
      status = 2;
    }
    if (problems > 0 && status == 0) status = 1;
  }
  // The listing is the whole point of a run: losing it is no success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "blorbinfo: Error: Can't write standard output.\n");
    status = 2;
  }
  return status;
}
