#include "info/inspect.h"

void list_entries(FILE* out, const char* name, const unsigned char* bytes, const Walk* walk,
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

void list_chunks(FILE* out, const char* name, const unsigned char* bytes, size_t size, const Walk* walk) {
  char type[kQuotedIdSize];
  for (size_t i = 0; i < walk->count; ++i) {
    Piece piece = piece_at(bytes, walk->offsets[i]);
    fprintf(out, "%s: chunk at 0x%06llX: %s, %llu %s", name, wide(piece.offset), quoted(piece.type, type),
            wide(piece.length), plural(piece.length, "byte", "bytes"));
    if (piece.end <= size) list_contents(out, bytes, &piece);
    fputc('\n', out);
  }
}
