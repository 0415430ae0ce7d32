// The checks of the optional chunks the format defines, and the dispatch of
// every chunk's data to its checks. The file's structure is checked before
// these (structure.cc); here every chunk lies whole in the file.
#include "info/layout.h"

#include <cstdlib>

// Types allowed once, in the order of Resources::firstOnce.
static const char kOnce[] = "IFhdPlteFspcRDesIFmdRelNResoAPalLoopAUTH(c) ";

uint64_t utf8_error(const unsigned char* text, uint64_t length) {
  uint64_t at = 0;
  while (at < length) {
    unsigned char c = text[at];
    // How many continuation bytes follow; 4 for a byte that starts nothing.
    uint64_t more = c < 0x80                  ? 0
                    : c >= 0xC2 && c <= 0xDF ? 1
                    : c >= 0xE0 && c <= 0xEF ? 2
                    : c >= 0xF0 && c <= 0xF4 ? 3
                                             : 4;
    if (more == 4 || length - at - 1 < more) return at;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
    for (uint64_t k = 1; k <= more; ++k) {
      unsigned char next = text[at + k];
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return at;
    }
    at += 1 + more;
  }
  return length;
}

// A picture or sound ("Pict" or "Snd ") named by an optional chunk must be
// one the index has.
static const Entry* named_resource(Report* report, uint64_t at, const Resources* resources, const char* usage,
                                   uint64_t number, const char* what) {
  const Entry* entry = find_entry(resources, reinterpret_cast<const unsigned char*>(usage), number);
  if (entry == nullptr) {
    problem(report, at, "%s names %s %llu, which the index does not have", what,
            is_id(reinterpret_cast<const unsigned char*>(usage), "Pict") ? "picture" : "sound",
            wide(number));
  }
  return entry;
}

// A number in a list of them and its place, for finding repeats.
struct Numbered {
  uint64_t number;
  uint64_t position;
};

static int compare_numbered(const void* a, const void* b) {
  const Numbered* left = static_cast<const Numbered*>(a);
  const Numbered* right = static_cast<const Numbered*>(b);
  if (left->number != right->number) return left->number < right->number ? -1 : 1;
  return left->position < right->position ? -1 : left->position > right->position ? 1 : 0;
}

// For each of count numbers stride bytes apart, the first position holding
// the same number: itself when it is the first. Sorting keeps long lists
// from taking quadratic time.
static uint64_t* first_of_numbers(const unsigned char* data, uint64_t count, uint64_t stride) {
  size_t n = static_cast<size_t>(count);
  Numbered* items = static_cast<Numbered*>(grow(nullptr, n, sizeof(Numbered)));
  for (size_t k = 0; k < n; ++k) items[k] = {long_at(data + stride * k), k};
  qsort(items, n, sizeof(Numbered), compare_numbered);
  uint64_t* first = static_cast<uint64_t*>(grow(nullptr, n, sizeof(uint64_t)));
  for (size_t k = 0; k < n; ++k) {
    bool repeat = k > 0 && items[k].number == items[k - 1].number;
    first[items[k].position] = repeat ? first[items[k - 1].position] : items[k].position;
  }
  free(items);
  return first;
}

static void check_descriptions(Report* report, const unsigned char* bytes, const Piece* piece,
                               const Resources* resources) {
  if (piece->length < 4) {
    problem(report, piece->offset, "RDes chunk of %llu %s has no room for its count", wide(piece->length),
            plural(piece->length, "byte", "bytes"));
    return;
  }
  size_t count = 0;
  uint64_t end = 0;
  Description* descriptions = read_descriptions(bytes, piece, &count, &end);
  uint64_t claimed = long_at(bytes + piece->offset + kChunkHeaderSize);
  Description* sorted = static_cast<Description*>(grow(nullptr, count, sizeof(Description)));
  if (count > 0) memcpy(sorted, descriptions, count * sizeof(Description));
  sort_descriptions(sorted, count);
  char usage[kQuotedIdSize];
  for (size_t k = 0; k < count; ++k) {
    const Description* description = &descriptions[k];
    quoted(description->usage, usage);
    const Description* first = find_description(sorted, count, description->usage, description->number);
    if (first->at != description->at) {
      problem(report, description->at, "RDes entry %s %llu repeats the entry at 0x%06llX", usage,
              wide(description->number), wide(first->at));
    }
    if (find_entry(resources, description->usage, description->number) == nullptr) {
      problem(report, description->at, "RDes entry %s %llu describes a resource the index does not have", usage,
              wide(description->number));
    }
    uint64_t bad = utf8_error(description->text, description->length);
    if (bad < description->length) {
      problem(report, description->at, "RDes entry %s %llu is not UTF-8 text: byte 0x%02X at 0x%06llX", usage,
              wide(description->number), description->text[bad], wide(description->at + 12 + bad));
    }
  }
  if (count < claimed) {
    problem(report, piece->offset + kChunkHeaderSize + end,
            "RDes entry %llu of %llu runs past the end of the chunk", wide(count + 1), wide(claimed));
  } else if (end != piece->length) {
    problem(report, piece->offset + kChunkHeaderSize + end, "RDes chunk holds %llu %s after its %llu %s",
            wide(piece->length - end), plural(piece->length - end, "byte", "bytes"), wide(claimed),
            plural(claimed, "entry", "entries"));
  }
  free(sorted);
  free(descriptions);
}

// A ratio is numerator and denominator; 0/0 stands for no limit except in
// the standard ratio, and one zero half is never a ratio at all.
static void check_ratio(Report* report, uint64_t at, uint64_t picture, const unsigned char* ratio, const char* which,
                        bool limit) {
  uint64_t numerator = long_at(ratio);
  uint64_t denominator = long_at(ratio + 4);
  bool bothZero = numerator == 0 && denominator == 0;
  if ((numerator == 0 || denominator == 0) && !(limit && bothZero)) {
    problem(report, at, "Reso entry for picture %llu has a %s ratio of %llu/%llu, %s", wide(picture), which,
            wide(numerator), wide(denominator),
            limit ? "with one half zero (only 0/0, no limit, may hold a zero)" : "which may hold no zero");
  }
}

static void check_scaling(Report* report, const unsigned char* bytes, const Piece* piece, const Resources* resources) {
  const unsigned char* data = bytes + piece->offset + kChunkHeaderSize;
  uint64_t at = piece->offset + kChunkHeaderSize;
  if (piece->length < 24 || (piece->length - 24) % 28 != 0) {
    problem(report, piece->offset, "Reso chunk is %llu %s, not 24 + 28 x its entries", wide(piece->length),
            plural(piece->length, "byte", "bytes"));
    return;
  }
  const char* axes[] = {"width", "height"};
  for (int axis = 0; axis < 2; ++axis) {
    uint64_t standard = long_at(data + 4 * axis);
    uint64_t minimum = long_at(data + 8 + 4 * axis);
    uint64_t maximum = long_at(data + 16 + 4 * axis);
    if (standard == 0) {
      problem(report, at + 4 * static_cast<uint64_t>(axis), "Reso standard window %s is 0", axes[axis]);
    } else if ((minimum != 0 && minimum > standard) || (maximum != 0 && maximum < standard)) {
      problem(report, at + 4 * static_cast<uint64_t>(axis),
              "Reso window %s: minimum %llu and maximum %llu do not bracket the standard %llu", axes[axis],
              wide(minimum), wide(maximum), wide(standard));
    }
  }
  uint64_t count = (piece->length - 24) / 28;
  uint64_t* first = first_of_numbers(data + 24, count, 28);
  for (uint64_t k = 0; k < count; ++k) {
    const unsigned char* entry = data + 24 + 28 * k;
    uint64_t entryAt = at + 24 + 28 * k;
    uint64_t picture = long_at(entry);
    if (first[k] != k) {
      problem(report, entryAt, "Reso entry for picture %llu repeats the entry at 0x%06llX", wide(picture),
              wide(at + 24 + 28 * first[k]));
    }
    named_resource(report, entryAt, resources, "Pict", picture, "Reso entry");
    check_ratio(report, entryAt, picture, entry + 4, "standard", false);
    check_ratio(report, entryAt, picture, entry + 12, "minimum", true);
    check_ratio(report, entryAt, picture, entry + 20, "maximum", true);
  }
  free(first);
}

// Loop and APal are lists of fixed-size entries, each opening with the
// number of a resource.
static void check_list(Report* report, const unsigned char* bytes, const Piece* piece, const Resources* resources,
                       uint64_t stride, const char* usage, const char* shape) {
  char type[kQuotedIdSize];
  quoted(piece->type, type);
  if (piece->length % stride != 0) {
    problem(report, piece->offset, "%s chunk is %llu %s, not a multiple of %llu (%s)", type, wide(piece->length),
            plural(piece->length, "byte", "bytes"), wide(stride), shape);
    return;
  }
  char what[64];
  snprintf(what, sizeof what, "%s entry", type);
  for (uint64_t at = 0; at < piece->length; at += stride) {
    uint64_t entryAt = piece->offset + kChunkHeaderSize + at;
    named_resource(report, entryAt, resources, usage, long_at(bytes + entryAt), what);
  }
}

static void check_release(Report* report, const unsigned char* data, const Piece* piece, const Resources* resources) {
  if (piece->length != 13) {
    problem(report, piece->offset, "IFhd chunk is %llu %s, not 13 (release, serial, checksum, initial PC)",
            wide(piece->length), plural(piece->length, "byte", "bytes"));
    return;
  }
  // The story's header holds the same three fields at its own offsets.
  const unsigned char* story = resources->zcode;
  if (story == nullptr || resources->zcodeLength < 0x1E) return;
  if (memcmp(data, story + 2, 2) != 0 || memcmp(data + 2, story + 0x12, 6) != 0 ||
      memcmp(data + 8, story + 0x1C, 2) != 0) {
    char serial[2 + 4 * 6 + 1];
    char storySerial[2 + 4 * 6 + 1];
    problem(report, piece->offset,
            "IFhd chunk holds release %u, serial %s, checksum 0x%04X, but the Z-code story has release %u, "
            "serial %s, checksum 0x%04X: interpreters take it for another story's header",
            short_at(data), quote_bytes(data + 2, 6, serial), short_at(data + 8), short_at(story + 2),
            quote_bytes(story + 0x12, 6, storySerial), short_at(story + 0x1C));
  }
}

void check_chunk_data(Report* report, const unsigned char* bytes, const Piece* piece, Resources* resources) {
  const unsigned char* data = bytes + piece->offset + kChunkHeaderSize;
  uint64_t length = piece->length;
  char type[kQuotedIdSize];
  quoted(piece->type, type);
  for (size_t k = 0; k < kOnceTypes; ++k) {
    if (!is_id(piece->type, kOnce + kIdSize * k)) continue;
    if (resources->firstOnce[k] == 0) {
      resources->firstOnce[k] = piece->offset;
    } else {
      problem(report, piece->offset, "Second %s chunk (the first is at 0x%06llX): the format allows one", type,
              wide(resources->firstOnce[k]));
    }
  }
  uint64_t width = 0;
  uint64_t height = 0;
  if (is_id(piece->type, "PNG ") && length >= 8 && memcmp(data, "\x89PNG\r\n\x1A\n", 8) == 0 &&
      !picture_size(piece, data, &width, &height)) {
    problem(report, piece->offset, "PNG chunk has no IHDR header after its signature: interpreters cannot size "
                                   "the picture");
  } else if (is_id(piece->type, "JPEG") && length >= 3 && memcmp(data, "\xFF\xD8\xFF", 3) == 0 &&
             !picture_size(piece, data, &width, &height)) {
    problem(report, piece->offset, "JPEG chunk has no frame header before its image data: interpreters cannot "
                                   "size the picture");
  } else if (is_id(piece->type, "Rect") && length != 8) {
    problem(report, piece->offset, "Rect chunk is %llu %s, not 8 (width and height)", wide(length),
            plural(length, "byte", "bytes"));
  } else if (is_id(piece->type, "Fspc")) {
    if (length != 4) {
      problem(report, piece->offset, "Fspc chunk is %llu %s, not 4 (a picture number)", wide(length),
              plural(length, "byte", "bytes"));
      return;
    }
    const Entry* entry = named_resource(report, piece->offset, resources, "Pict", long_at(data), "Fspc chunk");
    if (entry != nullptr && entry->chunk != nullptr && is_id(entry->chunk, "Rect")) {
      problem(report, piece->offset, "Fspc chunk names picture %llu, a Rect, which holds no picture to show",
              wide(long_at(data)));
    }
  } else if (is_id(piece->type, "RDes")) {
    check_descriptions(report, bytes, piece, resources);
  } else if (is_id(piece->type, "Reso")) {
    check_scaling(report, bytes, piece, resources);
  } else if (is_id(piece->type, "Loop")) {
    check_list(report, bytes, piece, resources, 8, "Snd ", "sound number, repeat count");
  } else if (is_id(piece->type, "APal")) {
    check_list(report, bytes, piece, resources, 4, "Pict", "picture numbers");
  } else if (is_id(piece->type, "Plte")) {
    bool depth = length == 1 && (data[0] == 16 || data[0] == 32);
    bool colours = length >= 3 && length <= 3 * 256 && length % 3 == 0;
    if (!depth && !colours) {
      problem(report, piece->offset, "Plte chunk is %llu %s: a palette is 1 byte holding 16 or 32, or 3 to 768 "
                                     "bytes of colours in threes",
              wide(length), plural(length, "byte", "bytes"));
    }
  } else if (is_id(piece->type, "RelN") && length != 2) {
    problem(report, piece->offset, "RelN chunk is %llu %s, not 2 (a release number)", wide(length),
            plural(length, "byte", "bytes"));
  } else if (is_id(piece->type, "IFhd")) {
    check_release(report, data, piece, resources);
  } else if (is_id(piece->type, "AUTH") || is_id(piece->type, "(c) ") || is_id(piece->type, "ANNO")) {
    const char* text = is_id(piece->type, "AUTH") ? "AUTH" : is_id(piece->type, "ANNO") ? "ANNO" : "(c)";
    for (uint64_t k = 0; k < length; ++k) {
      if (data[k] >= 0x20 && data[k] <= 0x7E) continue;
      problem(report, piece->offset + kChunkHeaderSize + k,
              "%s chunk holds byte 0x%02X, outside printable ASCII, which readers may show as garbage", text,
              data[k]);
      break;
    }
  } else if (is_id(piece->type, "SNam") && length % 2 != 0) {
    problem(report, piece->offset, "SNam chunk is %llu %s, an odd length for UTF-16 text", wide(length),
            plural(length, "byte", "bytes"));
  } else if (is_id(piece->type, "IFmd")) {
    // expat would take UTF-16 by its byte order mark or its pattern of NUL
    // bytes, and find it well-formed; readers expect UTF-8, in which no XML
    // document holds a NUL byte.
    uint64_t bad = utf8_error(data, length);
    for (uint64_t at = 0; at < bad; ++at) {
      if (data[at] == 0) bad = at;
    }
    if (bad < length) {
      bool utf16 = length >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE) ||
                                   (data[0] == 0 && data[1] == '<') || (data[0] == '<' && data[1] == 0));
      problem(report, piece->offset, "IFmd chunk is not UTF-8 text: byte 0x%02X at 0x%06llX%s", data[bad],
              wide(piece->offset + kChunkHeaderSize + bad), utf16 ? ", and it starts as UTF-16 does" : "");
      return;
    }
    bool checked = false;
    const char* why = ifmd_problem(data, static_cast<size_t>(length), &checked);
    if (why != nullptr) problem(report, piece->offset, "IFmd chunk %s", why);
    if (!checked) {
      note(report, piece->offset, "IFmd chunk not checked: this blorbinfo was built without the expat XML library");
    }
  }
}
