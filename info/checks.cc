// The checks of what chunks hold: each resource against its usage, the data
// by which readers size pictures and recognise stories, and every optional
// chunk the format defines. The file's structure is checked before these
// (structure.cc); here every chunk lies whole in the file.
#include "info/inspect.h"

#include <cstdlib>

static int compare_keys(const unsigned char* usageA, uint64_t numberA, const unsigned char* usageB,
                        uint64_t numberB) {
  int order = memcmp(usageA, usageB, kIdSize);
  if (order != 0) return order;
  if (numberA != numberB) return numberA < numberB ? -1 : 1;
  return 0;
}

static int compare_entries(const void* a, const void* b) {
  const Entry* left = static_cast<const Entry*>(a);
  const Entry* right = static_cast<const Entry*>(b);
  int order = compare_keys(left->usage, left->number, right->usage, right->number);
  if (order != 0) return order;
  return left->order < right->order ? -1 : left->order > right->order ? 1 : 0;
}

static int compare_descriptions(const void* a, const void* b) {
  const Description* left = static_cast<const Description*>(a);
  const Description* right = static_cast<const Description*>(b);
  int order = compare_keys(left->usage, left->number, right->usage, right->number);
  if (order != 0) return order;
  return left->at < right->at ? -1 : left->at > right->at ? 1 : 0;
}

// The RDes entries that the chunk holds whole, in file order, never null;
// *end is where reading stopped (the chunk's length when its entries fill it
// exactly).
static Description* read_descriptions(const unsigned char* bytes, const Piece* piece, size_t* count,
                                      uint64_t* end) {
  const unsigned char* data = bytes + piece->offset + kChunkHeaderSize;
  *count = 0;
  *end = 0;
  if (piece->length < 4) return static_cast<Description*>(grow(nullptr, 0, sizeof(Description)));
  uint64_t claimed = long_at(data);
  // Each entry takes at least 12 bytes, which bounds what a hostile count
  // can make us allocate.
  uint64_t room = (piece->length - 4) / 12;
  Description* descriptions =
      static_cast<Description*>(grow(nullptr, static_cast<size_t>(claimed < room ? claimed : room), sizeof(Description)));
  uint64_t at = 4;
  for (uint64_t k = 0; k < claimed; ++k) {
    if (piece->length - at < 12 || piece->length - at - 12 < long_at(data + at + 8)) break;
    Description* description = &descriptions[(*count)++];
    description->usage = data + at;
    description->number = long_at(data + at + 4);
    description->at = piece->offset + kChunkHeaderSize + at;
    description->length = long_at(data + at + 8);
    description->text = data + at + 12;
    at += 12 + description->length;
  }
  *end = at;
  return descriptions;
}

// Types allowed once, in the order of Resources::firstOnce.
static const char kOnce[] = "IFhdPlteFspcRDesIFmdRelNResoAPalLoopAUTH(c) ";

Resources find_resources(const unsigned char* bytes, size_t size, const Walk* walk, const Index* index) {
  Resources resources;
  memset(&resources, 0, sizeof resources);
  resources.count = static_cast<size_t>(index->entries);
  resources.entries = static_cast<Entry*>(grow(nullptr, resources.count, sizeof(Entry)));
  for (size_t k = 0; k < resources.count; ++k) {
    const unsigned char* entry = bytes + entry_offset(index, k);
    Entry* found = &resources.entries[k];
    found->usage = entry;
    found->number = long_at(entry + 4);
    found->order = k;
    uint64_t start = long_at(entry + 8);
    found->chunk = is_resource_start(walk, index, start) ? bytes + start : nullptr;
    if (found->chunk == nullptr || !is_id(entry, "Exec") || found->number != 0 ||
        !is_id(found->chunk, "ZCOD") || resources.zcode != nullptr) {
      continue;
    }
    Piece story = piece_at(bytes, start);
    if (story.end <= size) {
      resources.zcode = bytes + start + kChunkHeaderSize;
      resources.zcodeLength = story.length;
    }
  }
  qsort(resources.entries, resources.count, sizeof(Entry), compare_entries);
  for (size_t i = 0; i < walk->count; ++i) {
    Piece piece = piece_at(bytes, walk->offsets[i]);
    if (!is_id(piece.type, "RDes") || piece.end > size) continue;
    uint64_t end = 0;
    resources.descriptions = read_descriptions(bytes, &piece, &resources.descriptionCount, &end);
    qsort(resources.descriptions, resources.descriptionCount, sizeof(Description), compare_descriptions);
    break;
  }
  return resources;
}

void free_resources(Resources* resources) {
  free(resources->entries);
  free(resources->descriptions);
}

const Entry* find_entry(const Resources* resources, const unsigned char* usage, uint64_t number) {
  size_t low = 0;
  size_t high = resources->count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    const Entry* entry = &resources->entries[middle];
    if (compare_keys(entry->usage, entry->number, usage, number) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == resources->count) return nullptr;
  const Entry* entry = &resources->entries[low];
  return compare_keys(entry->usage, entry->number, usage, number) == 0 ? entry : nullptr;
}

const Description* find_description(const Resources* resources, const unsigned char* usage, uint64_t number) {
  size_t low = 0;
  size_t high = resources->descriptionCount;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    const Description* description = &resources->descriptions[middle];
    if (compare_keys(description->usage, description->number, usage, number) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == resources->descriptionCount) return nullptr;
  const Description* description = &resources->descriptions[low];
  return compare_keys(description->usage, description->number, usage, number) == 0 ? description : nullptr;
}

void check_entry_type(Report* report, uint64_t at, const unsigned char* entry, const Piece* piece) {
  const char* usage = reinterpret_cast<const char*>(entry);
  char shownUsage[kQuotedIdSize];
  char shownType[kQuotedIdSize];
  quoted(entry, shownUsage);
  quoted(piece->type, shownType);
  switch (FitOfType(usage, reinterpret_cast<const char*>(piece->type))) {
    case kTypeDefined:
      break;
    case kTypeReadBySome:
      note(report, at,
           "Index entry %s %llu points at a chunk of type %s, which only some interpreters read: most will "
           "ignore it",
           shownUsage, wide(long_at(entry + 4)), shownType);
      break;
    case kTypeUndefined:
      problem(report, at,
              "Index entry %s %llu points at a chunk of type %s, which the format does not define for its "
              "usage (%s): interpreters will not use it",
              shownUsage, wide(long_at(entry + 4)), shownType, DefinedTypes(usage));
      break;
  }
}

// Finds a JPEG's frame header by walking its segments as decoders do: every
// segment but the standalone markers carries its own length, and the frame
// header must come before the first scan.
static bool jpeg_size(const unsigned char* data, uint64_t length, uint64_t* width, uint64_t* height) {
  uint64_t at = 2;
  for (;;) {
    uint64_t marks = at;
    while (at < length && data[at] == 0xFF) ++at;  // a marker, after any fill bytes
    if (at >= length || at == marks) return false;
    unsigned char marker = data[at++];
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;
    if (marker == 0xD9 || marker == 0xDA || length - at < 2) return false;
    uint64_t segment = short_at(data + at);
    if (segment < 2 || segment > length - at) return false;
    bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (segment < 7) return false;
      *height = short_at(data + at + 3);
      *width = short_at(data + at + 5);
      return true;
    }
    at += segment;
  }
}

bool picture_size(const Piece* piece, const unsigned char* data, uint64_t* width, uint64_t* height) {
  if (is_id(piece->type, "PNG ")) {
    if (piece->length < 24 || memcmp(data + 12, "IHDR", 4) != 0) return false;
    *width = long_at(data + 16);
    *height = long_at(data + 20);
    return true;
  }
  if (is_id(piece->type, "JPEG")) return piece->length >= 4 && jpeg_size(data, piece->length, width, height);
  if (is_id(piece->type, "Rect") && piece->length == 8) {
    *width = long_at(data);
    *height = long_at(data + 4);
    return true;
  }
  return false;
}

// Where text is not UTF-8 (overlong forms, surrogates and values past
// U+10FFFF included), or length when it all is.
static uint64_t utf8_error(const unsigned char* text, uint64_t length) {
  uint64_t at = 0;
  while (at < length) {
    unsigned char c = text[at];
    uint64_t more = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 4;
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

// A picture or sound named by an optional chunk must be one the index has.
static const Entry* named_resource(Report* report, uint64_t at, const Resources* resources, const char* usage,
                                   uint64_t number, const char* what) {
  const Entry* entry = find_entry(resources, reinterpret_cast<const unsigned char*>(usage), number);
  if (entry == nullptr) {
    problem(report, at, "%s names %s %llu, which the index does not have", what,
            usage[0] == 'P' ? "picture" : usage[0] == 'S' ? "sound" : usage[0] == 'D' ? "data" : "story",
            wide(number));
  }
  return entry;
}

// For each of count numbers, the first earlier position holding the same
// number, or the position itself.
static uint64_t* first_of_numbers(const unsigned char* data, uint64_t count, uint64_t stride) {
  struct Item {
    uint64_t number;
    uint64_t position;
  };
  size_t n = static_cast<size_t>(count);
  Item* items = static_cast<Item*>(grow(nullptr, n, sizeof(Item)));
  for (size_t k = 0; k < n; ++k) items[k] = {long_at(data + stride * k), k};
  qsort(items, n, sizeof(Item), [](const void* a, const void* b) {
    const Item* left = static_cast<const Item*>(a);
    const Item* right = static_cast<const Item*>(b);
    if (left->number != right->number) return left->number < right->number ? -1 : 1;
    return left->position < right->position ? -1 : left->position > right->position ? 1 : 0;
  });
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
  qsort(sorted, count, sizeof(Description), compare_descriptions);
  Resources own = *resources;
  own.descriptions = sorted;
  own.descriptionCount = count;
  char usage[kQuotedIdSize];
  for (size_t k = 0; k < count; ++k) {
    const Description* description = &descriptions[k];
    quoted(description->usage, usage);
    const Description* first = find_description(&own, description->usage, description->number);
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
    const char* why = ifmd_problem(data, static_cast<size_t>(length));
    if (why != nullptr) problem(report, piece->offset, "IFmd chunk %s", why);
  }
}
