// What the checks and the listing look resources up in: the index entries
// by usage and number, the story, and the descriptions of the first RDes
// chunk; and what a resource's own bytes say of it (its type against its
// usage, a picture's size).
#include "info/layout.h"

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

Description* read_descriptions(const unsigned char* bytes, const Piece* piece, size_t* count,
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
      static_cast<Description*>(grow(nullptr, static_cast<size_t>(claimed < room ? claimed : room),
                                     sizeof(Description)));
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

void sort_descriptions(Description* descriptions, size_t count) {
  qsort(descriptions, count, sizeof(Description), compare_descriptions);
}

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
    sort_descriptions(resources.descriptions, resources.descriptionCount);
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

const Description* find_description(const Description* sorted, size_t count, const unsigned char* usage,
                                    uint64_t number) {
  size_t low = 0;
  size_t high = count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    const Description* description = &sorted[middle];
    if (compare_keys(description->usage, description->number, usage, number) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == count) return nullptr;
  const Description* description = &sorted[low];
  return compare_keys(description->usage, description->number, usage, number) == 0 ? description : nullptr;
}

// The packager warns in the same words, from the same table.
void check_entry_type(Report* report, uint64_t at, const unsigned char* entry, const Piece* piece) {
  const char* usage = reinterpret_cast<const char*>(entry);
  const char* type = reinterpret_cast<const char*>(piece->type);
  const char* why = TypeProblem(usage, type);
  if (why == nullptr) return;
  char shownUsage[kQuotedIdSize];
  char shownType[kQuotedIdSize];
  quoted(entry, shownUsage);
  quoted(piece->type, shownType);
  if (IsFewReadersType(usage, type)) {
    note(report, at, "Index entry %s %llu: chunk type %s %s", shownUsage, wide(long_at(entry + 4)), shownType, why);
  } else {
    problem(report, at, "Index entry %s %llu: chunk type %s %s", shownUsage, wide(long_at(entry + 4)), shownType,
            why);
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
