// What the parts of blorbinfo share: reading the file's fields, showing its
// bytes as text, telling problems, and the file's layout as readers find it
// (the chunks in order and the resource index). Internal to info/.
#ifndef BLORBPACK_INFO_LAYOUT_H
#define BLORBPACK_INFO_LAYOUT_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "blorb/format.h"

// Every length, count and offset in the file is 32 bits wide and may hold
// anything up to 0xFFFFFFFF, so sums of them are made in 64 bits, where an
// offset plus a header plus a length cannot wrap.
inline uint64_t long_at(const unsigned char* p) {
  return uint64_t{p[0]} << 24 | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 8 | uint64_t{p[3]};
}
inline unsigned short_at(const unsigned char* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

inline bool is_id(const unsigned char* p, const char* id) { return memcmp(p, id, kIdSize) == 0; }

inline const char* plural(uint64_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

inline unsigned long long wide(uint64_t value) { return static_cast<unsigned long long>(value); }

// Never null: when the heap refuses, the run ends with status 2.
void* grow(void* block, size_t count, size_t each);

// A quoted identifier whose four bytes all needed \xHH, and its terminator.
constexpr size_t kQuotedIdSize = 2 + 4 * kIdSize + 1;

// The identifier at id, quoted and escaped into buffer, which is returned;
// quote_bytes does the same for length bytes into 2 + 4 x length + 1.
const char* quoted(const unsigned char* id, char* buffer);
const char* quote_bytes(const unsigned char* text, size_t length, char* buffer);

// Bytes as they are shown: printable ASCII as it is, but for the quote and
// the backslash (\" and \\); every other byte as \xHH, so that what a file or
// a file name holds can never break or forge a line. print_text adds quotes.
void print_escaped(FILE* out, const unsigned char* text, size_t length);
void print_text(FILE* out, const unsigned char* text, size_t length);

// Where text is not UTF-8 (overlong forms, surrogates, values past U+10FFFF
// and a sequence cut by the end of the text included), or length when it
// all is. Nothing past text + length is read.
uint64_t utf8_error(const unsigned char* text, uint64_t length);

// Where the problems of one file are told, and how many have been.
struct Report {
  FILE* out;
  const char* name;
  size_t problems;
};

// Starts a line of the file's output: its escaped name and ": ".
void begin_line(FILE* out, const char* name);

// A whole line: the name, "LABEL at 0xOFFSET: " and the formatted text.
__attribute__((format(printf, 5, 0))) void print_line(FILE* out, const char* name, const char* label,
                                                      uint64_t offset, const char* format, va_list arguments);

__attribute__((format(printf, 3, 4))) void problem(Report* report, uint64_t offset, const char* format, ...);

// What a reader should know but that does not make the file wrong: told on
// its own line and not counted among the problems.
__attribute__((format(printf, 3, 4))) void note(Report* report, uint64_t offset, const char* format, ...);

// A chunk as its header describes it; its data may reach beyond the file.
struct Piece {
  uint64_t offset;
  const unsigned char* type;
  uint64_t length;
  uint64_t end;  // just past the data, before any pad byte
};

// The caller has made sure that a whole header lies at offset.
Piece piece_at(const unsigned char* bytes, uint64_t offset);

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

Walk walk_chunks(const unsigned char* bytes, size_t size);

// The first chunk of the walk at or after offset, or walk->count.
size_t chunk_position(const Walk* walk, uint64_t offset);

// The resource index as far as the file holds it: the first "RIdx" chunk,
// wherever it stands, so that a misplaced index is still listed.
struct Index {
  bool found;
  uint64_t offset;
  uint64_t length;
  bool hasCount;     // the chunk is long enough and the file holds the field
  uint64_t count;    // what the count field says
  uint64_t entries;  // entries that the chunk's length and the file both hold
};

Index find_index(const unsigned char* bytes, size_t size, const Walk* walk);

inline uint64_t entry_offset(const Index* index, uint64_t k) {
  return index->offset + kChunkHeaderSize + 4 + kIndexEntryBytes * k;
}

// A start is good when a chunk other than the index itself begins there.
bool is_resource_start(const Walk* walk, const Index* index, uint64_t start);

// One index entry, found by its usage and number.
struct Entry {
  const unsigned char* usage;
  uint64_t number;
  uint64_t order;                 // its place in the index
  const unsigned char* chunk;     // the chunk header at its start, or null
};

// One entry of an "RDes" chunk: the text describing a resource.
struct Description {
  const unsigned char* usage;
  uint64_t number;
  uint64_t at;                    // file offset of the entry
  const unsigned char* text;
  uint64_t length;
};

// The chunk types the format allows once in a file, besides the index.
constexpr size_t kOnceTypes = 11;

// What the checks of the resources and the optional chunks, and the listing,
// look things up in. Built once per file from the index and the chunks.
struct Resources {
  Entry* entries;                 // sorted by usage, number and order
  size_t count;
  const unsigned char* zcode;     // the story's data when Exec 0 is ZCOD
  uint64_t zcodeLength;
  Description* descriptions;      // of the first "RDes" chunk, sorted like entries
  size_t descriptionCount;
  uint64_t firstOnce[kOnceTypes]; // where the first of each lies; 0 before one is met
};

// The RDes entries that the chunk holds whole, in file order, never null;
// *end is where reading stopped (the chunk's length when its entries fill it
// exactly). sort_descriptions orders them as Resources keeps them.
Description* read_descriptions(const unsigned char* bytes, const Piece* piece, size_t* count, uint64_t* end);
void sort_descriptions(Description* descriptions, size_t count);

Resources find_resources(const unsigned char* bytes, size_t size, const Walk* walk, const Index* index);
void free_resources(Resources* resources);

// The first entry of the index under usage and number, or null; the same of
// descriptions sorted by sort_descriptions.
const Entry* find_entry(const Resources* resources, const unsigned char* usage, uint64_t number);
const Description* find_description(const Description* sorted, size_t count, const unsigned char* usage,
                                    uint64_t number);

// The type of the chunk an index entry starts at, against its usage.
void check_entry_type(Report* report, uint64_t at, const unsigned char* entry, const Piece* piece);

// The data of a chunk that lies whole in the file: pictures, stories and
// every optional chunk, by its type.
void check_chunk_data(Report* report, const unsigned char* bytes, const Piece* piece, Resources* resources);

// A picture's size as readers learn it: from the PNG header, the JPEG frame
// header or the Rect's two numbers. False when it cannot be read.
bool picture_size(const Piece* piece, const unsigned char* data, uint64_t* width, uint64_t* height);

// The IFmd chunk's XML: null when it is well-formed, with an "ifindex" root
// element, else why not (in a static buffer); *checked is false when this
// blorbinfo was built without an XML parser. list_ifmd prints what the
// listing shows of it: title, author and IFID.
const char* ifmd_problem(const unsigned char* data, size_t length, bool* checked);
void list_ifmd(FILE* out, const unsigned char* data, size_t length);

// The file's structure: the container header, the index and its entries, and
// every chunk lying whole and even-aligned in the file with its signature.
// Whether the file starts as an IFF FORM does, as far as it goes; when it
// does not, check_not_iff tells that in one problem, with what it looks like.
bool is_iff(const unsigned char* bytes, size_t size);
void check_not_iff(Report* report, const unsigned char* bytes, size_t size);
// A story of type "ADRI" as Exec 0 makes a wrong container length a note.
void check_container(Report* report, const unsigned char* bytes, size_t size, bool adrift);
void check_index(Report* report, const unsigned char* bytes, const Walk* walk, const Index* index);
void check_chunks(Report* report, const unsigned char* bytes, size_t size, const Walk* walk,
                  const Index* index, Resources* resources);

// The listing lines: index entries, then chunks with what they hold.
void list_entries(FILE* out, const char* name, const unsigned char* bytes, const Walk* walk,
                  const Index* index, const Resources* resources);
void list_chunks(FILE* out, const char* name, const unsigned char* bytes, size_t size, const Walk* walk);

#endif
