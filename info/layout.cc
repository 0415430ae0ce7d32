#include "info/layout.h"

#include <cstdarg>
#include <cstdlib>

#include "common/escape.h"

[[noreturn]] static void memory_exceeded() {
  fprintf(stderr, "blorbinfo: Error: Memory exceeded!\n");
  exit(2);
}

void* grow(void* block, size_t count, size_t each) {
  if (count > SIZE_MAX / each) memory_exceeded();
  void* grown = realloc(block, count * each == 0 ? 1 : count * each);
  if (grown == nullptr) memory_exceeded();
  return grown;
}

// The file decides what these bytes are, and a line feed or an escape
// sequence among them must not break the listing.
static size_t escape(unsigned char c, char* shown) { return EscapeByte(c, kEscapeAllButAscii, shown); }

const char* quoted(const unsigned char* id, char* buffer) { return quote_bytes(id, kIdSize, buffer); }

const char* quote_bytes(const unsigned char* text, size_t length, char* buffer) {
  size_t at = 0;
  buffer[at++] = '"';
  for (size_t i = 0; i < length; ++i) at += escape(text[i], buffer + at);
  buffer[at++] = '"';
  buffer[at] = '\0';
  return buffer;
}

void print_escaped(FILE* out, const unsigned char* text, size_t length) {
  char shown[kMaxShownByte];
  for (size_t i = 0; i < length; ++i) fwrite(shown, 1, escape(text[i], shown), out);
}

void print_text(FILE* out, const unsigned char* text, size_t length) {
  fputc('"', out);
  print_escaped(out, text, length);
  fputc('"', out);
}

void begin_line(FILE* out, const char* name) {
  print_escaped(out, reinterpret_cast<const unsigned char*>(name), strlen(name));
  fputs(": ", out);
}

void print_line(FILE* out, const char* name, const char* label, uint64_t offset, const char* format,
                va_list arguments) {
  begin_line(out, name);
  fprintf(out, "%s at 0x%06llX: ", label, wide(offset));
  vfprintf(out, format, arguments);
  fputc('\n', out);
}

void problem(Report* report, uint64_t offset, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  print_line(report->out, report->name, "Problem", offset, format, arguments);
  va_end(arguments);
  ++report->problems;
}

void note(Report* report, uint64_t offset, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  print_line(report->out, report->name, "Note", offset, format, arguments);
  va_end(arguments);
}

Piece piece_at(const unsigned char* bytes, uint64_t offset) {
  Piece piece;
  piece.offset = offset;
  piece.type = bytes + offset;
  piece.length = long_at(bytes + offset + kIdSize);
  piece.end = offset + kChunkHeaderSize + piece.length;
  return piece;
}

Walk walk_chunks(const unsigned char* bytes, size_t size) {
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

size_t chunk_position(const Walk* walk, uint64_t offset) {
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
  return low;
}

static bool is_chunk_start(const Walk* walk, uint64_t offset) {
  size_t position = chunk_position(walk, offset);
  return position < walk->count && walk->offsets[position] == offset;
}

Index find_index(const unsigned char* bytes, size_t size, const Walk* walk) {
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

bool is_resource_start(const Walk* walk, const Index* index, uint64_t start) {
  return start != index->offset && is_chunk_start(walk, start);
}
