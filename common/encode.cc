#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "common/escape.h"
#include "common/platform.h"

char* MyName = nullptr;
int64_t Line = 0;
const char* ControlName = "";
const char* OutputName = "";
FILE* OutputFile = nullptr;
int64_t WarningsGiven = 0;

void write_int(FILE* stream, uint32_t value) {
  unsigned char bytes[4];
  str_long(bytes, value);
  fwrite(bytes, 1, 4, stream);
}

void write_id(FILE* stream, const char* text) {
  size_t length = strlen(text);
  fwrite(text, 1, length, stream);
  for (; length < 4; ++length) putc(' ', stream);
}

void str_long(unsigned char* buffer, uint32_t value) {
  buffer[0] = static_cast<unsigned char>(value >> 24);
  buffer[1] = static_cast<unsigned char>(value >> 16);
  buffer[2] = static_cast<unsigned char>(value >> 8);
  buffer[3] = static_cast<unsigned char>(value);
}

void str_short(unsigned char* buffer, uint32_t value) {
  buffer[0] = static_cast<unsigned char>(value >> 8);
  buffer[1] = static_cast<unsigned char>(value);
}

void str_id(unsigned char* buffer, const char* text) {
  size_t i = 0;
  for (; text[i] != '\0'; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  for (; i < 4; ++i) buffer[i] = ' ';
}

char* ShortProgramName(const char* path) {
  const char* tail = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (IsPathSeparator(*p)) tail = p + 1;
  }
  size_t length = strlen(tail);
  char* name = static_cast<char*>(my_malloc(length + 1));
  memcpy(name, tail, length + 1);
  char* dot = strrchr(name, '.');
  if (dot != nullptr) *dot = '\0';
  return name;
}

// The escaped copies made last, released in turn as new ones are made.
constexpr int kShownCopies = 4;
static char* ShownCopies[kShownCopies];
static int NextShownCopy = 0;

const char* ShownPrefix(const char* text, size_t count) {
  size_t length = 0;
  size_t room = 1;
  char shown[kMaxShownByte];
  for (; length < count && text[length] != '\0'; ++length) {
    room += EscapeByte(static_cast<unsigned char>(text[length]), kEscapeControls, shown);
  }
  if (room == length + 1 && text[length] == '\0') return text;
  char* copy = static_cast<char*>(my_malloc(room));
  size_t at = 0;
  for (size_t i = 0; i < length; ++i) {
    at += EscapeByte(static_cast<unsigned char>(text[i]), kEscapeControls, copy + at);
  }
  copy[at] = '\0';
  free(ShownCopies[NextShownCopy]);
  ShownCopies[NextShownCopy] = copy;
  NextShownCopy = (NextShownCopy + 1) % kShownCopies;
  return copy;
}

const char* Shown(const char* text) { return ShownPrefix(text, SIZE_MAX); }

void ReleaseShown() {
  for (char*& copy : ShownCopies) {
    free(copy);
    copy = nullptr;
  }
}

void StartWarning(int64_t line) {
  ++WarningsGiven;
  fprintf(stderr, "%s: Warning: %" PRId64 ": ", MyName, line);
}

void ReportNameProblem(const char* name) {
  const char* problem = NameProblem(name);
  if (problem != nullptr) printf("%s: Error: \"%s\" %s.\n", MyName, Shown(name), problem);
}
