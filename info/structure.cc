#include "info/layout.h"

#include <cstdlib>

// What is mistaken for a Blorb file most often of all: no control characters
// but the usual white space in its first 4 KiB.
static bool looks_like_text(const unsigned char* bytes, size_t size) {
  size_t look = size < 4096 ? size : 4096;
  for (size_t k = 0; k < look; ++k) {
    unsigned char c = bytes[k];
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F) return false;
  }
  return true;
}

bool is_iff(const unsigned char* bytes, size_t size) {
  return size == 0 || memcmp(bytes, "FORM", size < kIdSize ? size : kIdSize) == 0;
}

void check_not_iff(Report* report, const unsigned char* bytes, size_t size) {
  char shown[2 + 4 * kIdSize + 1];
  char buffer[64];
  const char* kind = LooksLike(bytes, size, buffer, sizeof buffer);
  if (kind == nullptr && looks_like_text(bytes, size)) kind = "a text file";
  problem(report, 0, "File starts with %s, not \"FORM\": it is not an IFF file%s%s",
          quote_bytes(bytes, size < kIdSize ? size : kIdSize, shown), kind != nullptr ? "; it looks like " : "",
          kind != nullptr ? kind : "");
}

void check_container(Report* report, const unsigned char* bytes, size_t size, bool adrift) {
  char id[kQuotedIdSize];
  if (long_at(bytes + kIdSize) != size - 8 && adrift) {
    // ADRIFT 5 writes this length wrong, and the format lets readers of its
    // files ignore it: every reader of them does.
    note(report, kIdSize,
         "FORM length is %llu, but the file size less 8 is %llu: the ADRIFT 5 packager writes it so, and "
         "readers of ADRIFT files ignore it",
         wide(long_at(bytes + kIdSize)), wide(size - 8));
  } else if (long_at(bytes + kIdSize) != size - 8 && is_id(bytes + kIdSize, "latr")) {
    // The packager writes the length last, over this placeholder.
    problem(report, kIdSize,
            "FORM length holds \"latr\", the placeholder a packaging run writes first: the file is the "
            "unfinished output of a run that did not complete");
  } else if (long_at(bytes + kIdSize) != size - 8) {
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
    // on an entry that points backwards. The format lets two entries share a
    // chunk, but those interpreters give up on that too, so it is told apart.
    uint64_t before = k > 0 ? long_at(entry - kIndexEntryBytes + 8) : 0;
    if (k > 0 && start == before) {
      problem(report, at,
              "Index entry %s %llu starts at 0x%06llX, the chunk of the entry before it: the format allows "
              "two entries to share a chunk, but interpreters that match entries to chunks in one pass refuse "
              "the file",
              usage, wide(number), wide(start));
    } else if (k > 0 && start < before) {
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
    } else if (start % 2 == 0 && is_resource_start(walk, index, start)) {
      Piece piece = piece_at(bytes, start);
      check_entry_type(report, at, entry, &piece);
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

void check_index(Report* report, const unsigned char* bytes, const Walk* walk, const Index* index) {
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

void check_chunks(Report* report, const unsigned char* bytes, size_t size, const Walk* walk,
                  const Index* index, Resources* resources) {
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
    if (inside) check_chunk_data(report, bytes, &piece, resources);
  }
  if (walk->end < size) {
    problem(report, walk->end, "%llu %s after the %s, too few for a chunk header", wide(size - walk->end),
            plural(size - walk->end, "byte", "bytes"), walk->count == 0 ? "container header" : "last chunk");
  }
}
