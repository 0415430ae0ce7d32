// The listing: what the index says, then every chunk in file order with what
// it holds, as far as a person wants to see it without a hex dump.
#include "info/layout.h"

void list_entries(FILE* out, const char* name, const unsigned char* bytes, const Walk* walk,
                  const Index* index, const Resources* resources) {
  char usage[kQuotedIdSize];
  char type[kQuotedIdSize];
  for (uint64_t k = 0; k < index->entries; ++k) {
    const unsigned char* entry = bytes + entry_offset(index, k);
    uint64_t start = long_at(entry + 8);
    begin_line(out, name);
    fprintf(out, "index entry at 0x%06llX: %s %llu, start 0x%06llX: ", wide(entry_offset(index, k)),
            quoted(entry, usage), wide(long_at(entry + 4)), wide(start));
    if (is_resource_start(walk, index, start)) {
      Piece piece = piece_at(bytes, start);
      fprintf(out, "%s, %llu %s", quoted(piece.type, type), wide(piece.length),
              plural(piece.length, "byte", "bytes"));
    } else {
      fprintf(out, "no resource chunk there");
    }
    const Description* description =
        find_description(resources->descriptions, resources->descriptionCount, entry, long_at(entry + 4));
    if (description != nullptr) {
      fprintf(out, ", described ");
      print_text(out, description->text, description->length);
    }
    fputc('\n', out);
  }
}

// What each story format is called, by its chunk type.
static const char* const kStoryKinds[][2] = {
    {"ZCOD", "Z-code"}, {"GLUL", "Glulx"},  {"TAD2", "TADS 2"},           {"TAD3", "TADS 3"},
    {"HUGO", "Hugo"},   {"ALAN", "Alan"},   {"ADRI", "ADRIFT"},           {"LEVE", "Level 9"},
    {"AGT ", "AGT"},    {"MAGS", "Magnetic Scrolls"}, {"ADVS", "AdvSys"}, {"EXEC", "native program"},
};

static void list_story(FILE* out, const unsigned char* data, const Piece* piece) {
  for (const auto& kind : kStoryKinds) {
    if (!is_id(piece->type, kind[0])) continue;
    fprintf(out, ", story: %s", kind[1]);
    if (is_id(piece->type, "ZCOD") && piece->length >= 1) {
      fprintf(out, " version %u", data[0]);
      // The release and the serial (often the compile date) tell builds of
      // one game apart.
      if (piece->length >= 0x18) {
        char serial[2 + 4 * 6 + 1];
        fprintf(out, ", release %u, serial %s", short_at(data + 2), quote_bytes(data + 0x12, 6, serial));
      }
    } else if (is_id(piece->type, "GLUL") && piece->length >= 8) {
      fprintf(out, " version %u.%u.%u", short_at(data + 4), data[6], data[7]);
    }
  }
}

// Only for chunks that lie whole inside the file.
static void list_contents(FILE* out, const unsigned char* bytes, const Piece* piece) {
  const unsigned char* data = bytes + piece->offset + kChunkHeaderSize;
  char shown[kQuotedIdSize];
  uint64_t width = 0;
  uint64_t height = 0;
  if (picture_size(piece, data, &width, &height)) {
    fprintf(out, ", %llu x %llu pixels", wide(width), wide(height));
  } else if (is_id(piece->type, "FORM") && piece->length >= kIdSize) {
    fprintf(out, ", form type %s", quoted(data, shown));
  } else if (is_id(piece->type, "RIdx") && piece->length >= 4) {
    fprintf(out, ", %llu %s", wide(long_at(data)), plural(long_at(data), "entry", "entries"));
  } else if (is_id(piece->type, "AUTH") || is_id(piece->type, "(c) ") || is_id(piece->type, "ANNO")) {
    fprintf(out, ", text ");
    print_text(out, data, piece->length);
  } else if (is_id(piece->type, "RelN") && piece->length == 2) {
    fprintf(out, ", number %u", short_at(data));
  } else if (is_id(piece->type, "Fspc") && piece->length == 4) {
    fprintf(out, ", picture %llu", wide(long_at(data)));
  } else if (is_id(piece->type, "RDes") && piece->length >= 4) {
    fprintf(out, ", %llu %s", wide(long_at(data)), plural(long_at(data), "description", "descriptions"));
  } else if (is_id(piece->type, "IFhd") && piece->length == 13) {
    char serial[2 + 4 * 6 + 1];
    fprintf(out, ", release %u, serial %s", short_at(data), quote_bytes(data + 2, 6, serial));
  } else if (is_id(piece->type, "IFmd")) {
    list_ifmd(out, data, static_cast<size_t>(piece->length));
  } else {
    list_story(out, data, piece);
  }
}

void list_chunks(FILE* out, const char* name, const unsigned char* bytes, size_t size, const Walk* walk) {
  char type[kQuotedIdSize];
  for (size_t i = 0; i < walk->count; ++i) {
    Piece piece = piece_at(bytes, walk->offsets[i]);
    begin_line(out, name);
    fprintf(out, "chunk at 0x%06llX: %s, %llu %s", wide(piece.offset), quoted(piece.type, type),
            wide(piece.length), plural(piece.length, "byte", "bytes"));
    if (piece.end <= size) list_contents(out, bytes, &piece);
    fputc('\n', out);
  }
}
