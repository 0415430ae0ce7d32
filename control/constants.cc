// Checks on the names the constants listing gives pictures and sounds. The
// listing is pasted into the game's source, so a name that is no identifier,
// or that is given twice, breaks the game's build far from its cause.
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "control/chunk.h"

// Every name listed so far with the record that listed it: an
// open-addressing table that doubles when half full.
struct NameEntry {
  char* name;  // null marks an empty slot
  int64_t record;
};

static NameEntry* Names = nullptr;
static size_t NamesCapacity = 0;
static size_t NamesCount = 0;

static size_t slot_of(const char* name, size_t capacity) {
  uint64_t hash = 1469598103934665603u;
  for (; *name != '\0'; ++name) hash = (hash ^ static_cast<unsigned char>(*name)) * 1099511628211u;
  return static_cast<size_t>(hash ^ (hash >> 29)) & (capacity - 1);
}

static NameEntry* find(NameEntry* table, size_t capacity, const char* name) {
  size_t slot = slot_of(name, capacity);
  while (table[slot].name != nullptr && strcmp(table[slot].name, name) != 0) slot = (slot + 1) & (capacity - 1);
  return &table[slot];
}

// Letters, digits and underscores, not starting with a digit: what every
// compiler a game is written for takes as a name.
static bool is_identifier(const char* name) {
  if (*name >= '0' && *name <= '9') return false;
  for (; *name != '\0'; ++name) {
    char c = *name;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

// The record that first listed the name, or 0 when this is the first.
static int64_t remember(char* name) {
  if (2 * (NamesCount + 1) > NamesCapacity) {
    size_t capacity = NamesCapacity == 0 ? 64 : 2 * NamesCapacity;
    NameEntry* table = static_cast<NameEntry*>(my_malloc(capacity * sizeof(NameEntry)));
    memset(table, 0, capacity * sizeof(NameEntry));
    for (size_t i = 0; i < NamesCapacity; ++i) {
      if (Names[i].name != nullptr) *find(table, capacity, Names[i].name) = Names[i];
    }
    free(Names);
    Names = table;
    NamesCapacity = capacity;
  }
  NameEntry* entry = find(Names, NamesCapacity, name);
  if (entry->name != nullptr) {
    free(name);
    return entry->record;
  }
  entry->name = name;
  entry->record = Line;
  ++NamesCount;
  return 0;
}

void CheckConstantName(const char* prefix, const char* shortName) {
  size_t prefixLength = strlen(prefix);
  size_t shortLength = strlen(shortName);
  char* name = static_cast<char*>(my_malloc(prefixLength + shortLength + 1));
  memcpy(name, prefix, prefixLength);
  memcpy(name + prefixLength, shortName, shortLength + 1);
  // ".png" and ".hidden" leave nothing after the prefix: "image_" is an
  // identifier, but one that tells the game nothing about the picture.
  if (shortLength == 0) {
    StartWarning(Line);
    fprintf(stderr,
            "Constant name \"%s\" takes nothing from the file's name, which is all "
            "extension: the game cannot tell what it names\n",
            name);
  } else if (!is_identifier(name)) {
    StartWarning(Line);
    fprintf(stderr,
            "Constant name \"%s\" is not an identifier (letters, digits and "
            "underscores, not starting with a digit): no compiler will take it\n",
            Shown(name));
  }
  int64_t earlier = remember(name);
  if (earlier != 0) {
    StartWarning(Line);
    fprintf(stderr,
            "Constant name \"%s%s\" repeats that of record %" PRId64
            ": the game can name only one of the two\n",
            prefix, Shown(shortName), earlier);
  }
}

bool ListOnly = false;

// The include text of a ListOnly run, as it grows.
static char* Include = nullptr;
static size_t IncludeLength = 0;
static size_t IncludeCapacity = 0;

static void append_include(const char* text, size_t length) {
  AppendBytes(&Include, &IncludeLength, &IncludeCapacity, text, length);
}

void ListConstant(const char* prefix, const char* shortName, int32_t number) {
  // Control bytes in a name are shown, as in every message: no compiler takes
  // such a name either way, and the warning about it says so.
  const char* shown = Shown(shortName);
  if (!ListOnly) {
    printf("constant %s%s %" PRId32 "\n", prefix, shown, number);
    return;
  }
  char digits[16];
  int count = snprintf(digits, sizeof digits, " %" PRId32 ";\n", number);
  append_include("Constant ", 9);
  append_include(prefix, strlen(prefix));
  append_include(shown, strlen(shown));
  append_include(digits, static_cast<size_t>(count));
}

char* TakeInclude(size_t* length) {
  static const char kComment[] = "! The pictures and sounds of the Blorb file, by number: written by blorbpack\n";
  size_t commentLength = sizeof kComment - 1;
  char* text = static_cast<char*>(my_malloc(commentLength + IncludeLength));
  memcpy(text, kComment, commentLength);
  if (IncludeLength > 0) memcpy(text + commentLength, Include, IncludeLength);
  *length = commentLength + IncludeLength;
  free(Include);
  Include = nullptr;
  IncludeLength = 0;
  IncludeCapacity = 0;
  return text;
}

void ResetConstantNames() {
  for (size_t i = 0; i < NamesCapacity; ++i) free(Names[i].name);
  free(Names);
  Names = nullptr;
  NamesCapacity = 0;
  NamesCount = 0;
}
