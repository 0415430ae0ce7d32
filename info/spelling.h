// How a chunk is written in a control file and named as a file, so that
// blorbpack reads back exactly its bytes: the tokens that give back an
// identifier, the data a record can hold inline, and file names that make
// identifiers of constants and never repeat. Internal to info/.
#ifndef BLORBPACK_INFO_SPELLING_H
#define BLORBPACK_INFO_SPELLING_H

#include <cstddef>
#include <cstdint>

#include "blorb/format.h"

// Longer texts go to files, where they are easier to read and edit.
constexpr size_t kMaxInlineText = 1024;

constexpr size_t kTokenRoom = kIdSize + 1;  // an identifier's token or word
constexpr size_t kSuffixRoom = 8;
// A chunk file's name: a prefix, a word and a number in the stem (at most 47
// characters), a repeat count, an extension of at most 7.
constexpr size_t kFileNameRoom = 80;
constexpr size_t kLongestControlStem = 64;
constexpr size_t kControlStemRoom = kLongestControlStem + 1;

// The token that blorbpack stores as this identifier (its characters, then
// spaces up to four bytes) into token; or, as a phrase, why there is none.
const char* spell_id(const unsigned char* id, char* token);
// The same for a usage, which must also make the reader index a file.
const char* spell_usage(const unsigned char* usage, char* token);

// Whether a record of usage "0" gives these bytes back exactly.
bool is_inline_text(const unsigned char* data, size_t length);
// Chunk types that hold text, which are never written as numbers.
bool is_text_type(const unsigned char* type);
// A 32-bit field as the reader reads a number: signed.
long long signed_of(uint64_t value);

// An identifier as a word for a file name: lower-case letters, digits and
// underscores, the rest left out.
void word_of(const unsigned char* id, char* word);
// The extension of a chunk file, from the type and what the file holds.
void suffix_of(const unsigned char* type, const unsigned char* data, size_t length, char* suffix);

// The names given so far, as 64-bit hashes in an open-addressing table that
// doubles when half full. Two names with one hash only make the second one
// take a longer name, so equal names are always caught.
struct Names {
  uint64_t* slots;  // 0 marks a free slot
  size_t capacity;
  size_t count;
};

// word_NUMBER.suffix into file, or word_NUMBER_2.suffix and on when that was
// given before; a word that is empty or starts with a digit gets the prefix
// first, so that every name starts with a letter.
void name_file(Names* names, const char* prefix, const char* word, uint64_t number, const char* suffix,
               char* file);

#endif
