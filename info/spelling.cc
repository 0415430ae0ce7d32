#include "info/spelling.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "info/layout.h"
#include "info/unpack.h"

// The white space that ends a token of the control file.
static bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The token that blorbpack stores as this identifier (its characters, then
// spaces up to four bytes) into token, which has room for five; or why there
// is none.
const char* spell_id(const unsigned char* id, char* token) {
  size_t length = kIdSize;
  while (length > 0 && id[length - 1] == ' ') --length;
  if (length == 0) return "it is all spaces, and a token cannot be empty";
  for (size_t i = 0; i < length; ++i) {
    if (id[i] == 0 || is_space(id[i])) return "white space or a NUL byte in it would end the token";
    token[i] = static_cast<char>(id[i]);
  }
  token[length] = '\0';
  return nullptr;
}

// A usage must also mean a file-backed, indexed record to the reader.
const char* spell_usage(const unsigned char* usage, char* token) {
  const char* why = spell_id(usage, token);
  if (why != nullptr) return why;
  if (strcmp(token, "0") == 0 || strcmp(token, "1") == 0 || strcmp(token, "3") == 0) {
    return "blorbpack reads the usages \"0\", \"1\" and \"3\" as inline data, which it does not index";
  }
  if (token[0] == '2') return "blorbpack turns the leading \"2\" of a usage into \"0\"";
  return nullptr;
}

// An identifier as a word for a file name: lower-case letters, digits and
// underscores, the rest left out.
void word_of(const unsigned char* id, char* word) {
  size_t at = 0;
  for (size_t i = 0; i < kIdSize; ++i) {
    unsigned char c = id[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') word[at++] = static_cast<char>(c);
  }
  word[at] = '\0';
}

struct Suffix {
  const char* type;
  const char* suffix;
};

// Where the usual extension is not the type itself in lower case.
static const Suffix kSuffixes[] = {
    {"JPEG", "jpg"}, {"OGGV", "ogg"}, {"MIDI", "mid"}, {"TEXT", "txt"}, {"ANNO", "txt"}, {"AUTH", "txt"},
    {"(c) ", "txt"}, {"BINA", "bin"}, {"IFmd", "xml"}, {"GLUL", "ulx"}, {"TAD2", "gam"}, {"TAD3", "t3"},
    {"HUGO", "hex"}, {"ADRI", "taf"}, {"AGT ", "agx"}, {"MAGS", "mag"},
};

// data and length are what the file holds of the chunk, a FORM's header
// included.
void suffix_of(const unsigned char* type, const unsigned char* data, size_t length, char* suffix) {
  if (is_id(type, "FORM")) {
    strcpy(suffix, length >= 12 && is_id(data + 8, "AIFF") ? "aiff" : "iff");
    return;
  }
  if (is_id(type, "ZCOD")) {
    if (length > 0 && data[0] >= 1 && data[0] <= 8) {
      suffix[0] = 'z';
      suffix[1] = static_cast<char>('0' + data[0]);
      suffix[2] = '\0';
    } else {
      strcpy(suffix, "zcode");
    }
    return;
  }
  for (const Suffix& known : kSuffixes) {
    if (is_id(type, known.type)) {
      strcpy(suffix, known.suffix);
      return;
    }
  }
  word_of(type, suffix);
  // Never a second control file.
  if (suffix[0] == '\0' || strcmp(suffix, "blc") == 0) strcpy(suffix, "bin");
}

static uint64_t hash_of(const char* name) {
  uint64_t hash = 1469598103934665603u;
  for (; *name != '\0'; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 1099511628211u;
  return hash == 0 ? 1 : hash;
}

// Takes the name unless it was given before; false when it was.
static bool take_name(Names* names, const char* name) {
  if (2 * (names->count + 1) > names->capacity) {
    size_t capacity = names->capacity == 0 ? 64 : 2 * names->capacity;
    uint64_t* slots = static_cast<uint64_t*>(grow(nullptr, capacity, sizeof(uint64_t)));
    memset(slots, 0, capacity * sizeof(uint64_t));
    for (size_t i = 0; i < names->capacity; ++i) {
      if (names->slots[i] == 0) continue;
      size_t slot = static_cast<size_t>(names->slots[i]) & (capacity - 1);
      while (slots[slot] != 0) slot = (slot + 1) & (capacity - 1);
      slots[slot] = names->slots[i];
    }
    free(names->slots);
    names->slots = slots;
    names->capacity = capacity;
  }
  uint64_t hash = hash_of(name);
  size_t slot = static_cast<size_t>(hash) & (names->capacity - 1);
  while (names->slots[slot] != 0) {
    if (names->slots[slot] == hash) return false;
    slot = (slot + 1) & (names->capacity - 1);
  }
  names->slots[slot] = hash;
  ++names->count;
  return true;
}

// word_NUMBER.suffix, or word_NUMBER_2.suffix and on when that was given
// before. A word that is empty or starts with a digit gets a prefix, so that
// every name starts with a letter.
void name_file(Names* names, const char* prefix, const char* word, uint64_t number, const char* suffix,
               char* file) {
  char stem[48];  // at most 47 characters, as the names below take them
  if (word[0] == '\0') {
    snprintf(stem, sizeof stem, "%s_%llu", prefix, wide(number));
  } else if (word[0] >= '0' && word[0] <= '9') {
    snprintf(stem, sizeof stem, "%s_%s_%llu", prefix, word, wide(number));
  } else {
    snprintf(stem, sizeof stem, "%s_%llu", word, wide(number));
  }
  snprintf(file, kFileNameRoom, "%.47s.%.7s", stem, suffix);
  for (uint64_t repeat = 2; !take_name(names, file); ++repeat) {
    snprintf(file, kFileNameRoom, "%.47s_%llu.%.7s", stem, wide(repeat), suffix);
  }
}

// Numbers are written as the reader reads them: signed 32-bit decimals.
long long signed_of(uint64_t value) {
  return value >= 0x80000000u ? static_cast<long long>(value) - 0x100000000LL : static_cast<long long>(value);
}

// Text that a record of usage "0" gives back exactly: the reader skips white
// space before it and ends it at a line feed (a carriage return before that
// goes too), so printable ASCII that does not start with a space.
bool is_inline_text(const unsigned char* data, size_t length) {
  if (length == 0 || length > kMaxInlineText || data[0] == ' ') return false;
  for (size_t i = 0; i < length; ++i) {
    if (data[i] < 0x20 || data[i] > 0x7E) return false;
  }
  return true;
}

bool is_text_type(const unsigned char* type) {
  return is_id(type, "ANNO") || is_id(type, "AUTH") || is_id(type, "(c) ") || is_id(type, "TEXT");
}

const char* ControlFileStem(const char* name, char* buffer, size_t room) {
  const char* slash = strrchr(name, '/');
  const char* tail = slash != nullptr ? slash + 1 : name;
  const char* dot = strrchr(tail, '.');
  size_t length = dot != nullptr ? static_cast<size_t>(dot - tail) : strlen(tail);
  bool plain = length > 0 && length <= kLongestControlStem && length < room && tail[0] != '.' && tail[0] != '-';
  for (size_t i = 0; i < length && plain; ++i) {
    char c = tail[i];
    plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
            c == '.';
  }
  if (!plain) {
    snprintf(buffer, room, "blorb");
    return buffer;
  }
  memcpy(buffer, tail, length);
  buffer[length] = '\0';
  return buffer;
}
