#include "control/chunk.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "common/escape.h"
#include "common/platform.h"

int16_t headerPrinted = 0;
int64_t PackedSize = kEmptyBlorbSize;

int64_t RecordLine = 0;

// Line on which the next character read from the control stream stands.
static int64_t ControlLine = 1;
// Nothing has been read from the control stream yet: a byte order mark may
// stand there.
static bool AtStart = true;

// Records not packed whole, by number and starting line, for the closing note.
struct Unpacked {
  int64_t record;
  int64_t line;
};
static Unpacked* Skipped = nullptr;
static size_t SkippedCount = 0;
static size_t SkippedCapacity = 0;

// The control file is read as text on every platform: "\r\n" reads as "\n",
// and any other "\r" is an ordinary character. Formatted input may put one
// character back, and the byte-order-mark test up to two; they are kept here,
// because the carriage-return lookahead may already have put one back into
// the stream itself.
struct ControlReader {
  FILE* stream;
  int pending[3];   // characters put back, the next one last
  int pendingCount;
  bool atEnd;       // a read met the end of the stream (or an error)
};

// Line ends are counted as they come from the stream, never again when a
// character put back is read a second time.
static int next_char(ControlReader* reader) {
  if (reader->pendingCount > 0) return reader->pending[--reader->pendingCount];
  int c = ReadChar(reader->stream);
  if (c == '\r') {
    int next = ReadChar(reader->stream);
    if (next == '\n') {
      ++ControlLine;
      return '\n';
    }
    if (next != EOF) ungetc(next, reader->stream);
  } else if (c == '\n') {
    ++ControlLine;
  } else if (c == EOF) {
    reader->atEnd = true;
  }
  return c;
}

static void put_back(ControlReader* reader, int c) {
  if (c != EOF) reader->pending[reader->pendingCount++] = c;
}

// Editors on Windows start a UTF-8 file with EF BB BF, which would otherwise
// become part of the first usage.
static void skip_byte_order_mark(ControlReader* reader) {
  static const int kMark[] = {0xEF, 0xBB, 0xBF};
  int count = 0;
  while (count < 3) {
    int c = ReadChar(reader->stream);
    if (c == kMark[count]) {
      ++count;
      continue;
    }
    if (c != EOF) ungetc(c, reader->stream);
    while (count > 0) put_back(reader, kMark[--count]);
    return;
  }
}

static bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool is_digit(int c) { return c >= '0' && c <= '9'; }

static void skip_space(ControlReader* reader) {
  int c;
  do c = next_char(reader);
  while (is_space(c));
  put_back(reader, c);
}

// Reads a token ended by white space, however long: its first `room`
// characters are stored and terminated, *length counts all of them, so that an
// over-long token is measured rather than cut or overflowed. *line is the line
// it starts on.
static bool read_token(ControlReader* reader, char* field, size_t room, size_t* length, int64_t* line) {
  skip_space(reader);
  int c = next_char(reader);
  if (c == EOF) return false;
  *line = ControlLine;
  size_t count = 0;
  do {
    if (count < room) field[count] = static_cast<char>(c);
    ++count;
    c = next_char(reader);
  } while (c != EOF && !is_space(c));
  put_back(reader, c);
  field[count < room ? count : room] = '\0';
  *length = count;
  return true;
}

// A NUL byte would end the stored token early: "AN\0O" would be written as
// "AN  ", and "a\0.png" would open "a".
static bool holds_nul(const char* field, size_t length, size_t room) {
  return strlen(field) < (length < room ? length : room);
}

enum NumberResult { kNumberRead, kNumberMissing, kNotInteger, kOutOfRange };

// Accumulates decimal digits, saturating once the value can no longer fit a
// signed 32-bit field, so that any number of digits is safe.
static int64_t add_digit(int64_t value, int c) {
  value = value * 10 + (c - '0');
  return value > kMaxBlorbSize + 1 ? kMaxBlorbSize + 2 : value;
}

static bool fits_int32(int64_t magnitude, bool negative) {
  return magnitude <= (negative ? kMaxBlorbSize + 1 : kMaxBlorbSize);
}

// The number as formatted input reads it: white space, an optional sign that is
// consumed even when no digit follows, then digits; the first other character
// is put back and becomes the start of what is read next.
static NumberResult read_number(ControlReader* reader, int32_t* number) {
  skip_space(reader);
  int c = next_char(reader);
  if (c == EOF) return kNumberMissing;
  bool negative = c == '-';
  if (c == '-' || c == '+') c = next_char(reader);
  if (!is_digit(c)) {
    put_back(reader, c);
    return c == EOF ? kNumberMissing : kNotInteger;
  }
  int64_t magnitude = 0;
  do {
    magnitude = add_digit(magnitude, c);
    c = next_char(reader);
  } while (is_digit(c));
  put_back(reader, c);
  if (!fits_int32(magnitude, negative)) return kOutOfRange;
  *number = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return kNumberRead;
}

// The argument of a "1" or "3" record, converted like strtol: leading white
// space, an optional sign, the digits up to the first other character, and 0
// when there are none. *digits tells whether there were any, *rest whether
// anything but white space follows them.
static bool convert_argument(const char* text, int32_t* value, bool* digits, bool* rest) {
  while (is_space(static_cast<unsigned char>(*text))) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t magnitude = 0;
  const char* first = text;
  for (; is_digit(*text); ++text) magnitude = add_digit(magnitude, *text);
  *digits = text != first;
  while (is_space(static_cast<unsigned char>(*text))) ++text;
  *rest = *text != '\0';
  if (!fits_int32(magnitude, negative)) return false;
  *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

// Author, copyright and annotation chunks may hold printable ASCII only.
static bool is_text_type(const char* type) {
  return strcmp(type, "AUTH") == 0 || strcmp(type, "(c)") == 0 || strcmp(type, "ANNO") == 0;
}

static bool is_printable(const char* text, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < 0x20 || text[i] > 0x7E) return false;
  }
  return true;
}

int64_t ChunkBytes(const char* type, int64_t length) {
  return (strcmp(type, "FORM") == 0 ? 0 : 8) + length + (length & 1);
}

void ReserveOutput(int64_t length, const char* type, bool indexed) {
  int64_t bytes = ChunkBytes(type, length);
  if (indexed) bytes += kIndexEntrySize;
  if (PackedSize + bytes > kMaxBlorbSize) {
    printf("%s: Error: Blorb Output File \"%s\" would be larger than 2 GiB.\n", MyName, Shown(OutputName));
    AbandonOutput();
  }
  PackedSize += bytes;
}

// Up to this many characters of an argument are quoted in a warning.
constexpr size_t kQuotedLength = 24;

// Quoted as a C string would be, so that no byte can break the line.
static void print_quoted(const char* text, size_t count) {
  fputc('"', stderr);
  char shown[kMaxShownByte];
  for (size_t i = 0; i < count && i < kQuotedLength; ++i) {
    fwrite(shown, 1, EscapeByte(static_cast<unsigned char>(text[i]), kEscapeAllButAscii, shown), stderr);
  }
  fputs(count > kQuotedLength ? "...\"" : "\"", stderr);
}

Chunk* ReadChunk(FILE* control) {
  ControlReader reader = {control, {0, 0, 0}, 0, false};
  if (AtStart) {
    AtStart = false;
    skip_byte_order_mark(&reader);
  }
  Chunk* chunk = static_cast<Chunk*>(my_malloc(sizeof(Chunk)));
  memset(chunk, 0, sizeof(Chunk));

  // The three tokens as the pattern "%s %d %s " reads them: reading stops at
  // the first failure, and the rest of the line then becomes the argument.
  size_t usageLength = 0;
  size_t typeLength = 0;
  int64_t typeLine = 0;
  bool started = false;
  bool typed = false;
  NumberResult number = kNumberMissing;
  if (read_token(&reader, chunk->usage, kMaxUsageLength, &usageLength, &RecordLine)) {
    started = true;
    number = read_number(&reader, &chunk->number);
    if (number == kNumberRead || number == kOutOfRange) {
      typed = read_token(&reader, chunk->type, kMaxTypeLength, &typeLength, &typeLine);
      if (typed) skip_space(&reader);
    }
  }
  if (reader.atEnd) {
    free(chunk);
    // Line ends and blank lines after the last record produce no record; a
    // record begun and not finished is one the author asked for.
    if (started) {
      printf("%s: Error: %" PRId64 ": Record is cut short by the end of the control file\n", MyName, Line);
      NotPacked();
    }
    return nullptr;
  }
  // The first character of the argument has been read and put back.
  int64_t argumentLine = ControlLine;

  size_t count = 0;
  size_t capacity = 0;
  char* buffer = nullptr;
  for (;;) {
    int c = next_char(&reader);
    if (c == EOF || c == '\n') break;
    // Past what any Blorb length can hold the line is only counted; the size
    // check below then refuses the record whole.
    if (count < static_cast<size_t>(kMaxBlorbSize) + 1) {
      if (count == capacity) {
        capacity = 2 * count + 2;
        // One byte beyond the capacity for the terminator that the numeric
        // and file usages add.
        buffer = static_cast<char*>(my_realloc(buffer, capacity + 1));
      }
      buffer[count] = static_cast<char>(c);
    }
    ++count;
  }
  size_t stored = count < capacity ? count : capacity;
  if (buffer != nullptr) buffer[stored] = '\0';

  // A record whose argument was left out swallows the next line, very often
  // the next record, and nothing else would show it.
  if (typed && argumentLine > typeLine) {
    StartWarning(Line);
    fprintf(stderr,
            "Nothing follows the type on line %" PRId64
            ", so the argument is taken from line %" PRId64 ": ",
            typeLine, argumentLine);
    print_quoted(buffer, stored);
    fputc('\n', stderr);
  }

  const char* reason = nullptr;
  int32_t value = 0;
  bool digits = true;
  bool rest = false;
  bool numeric = strcmp(chunk->usage, "1") == 0 || strcmp(chunk->usage, "3") == 0;
  bool text = strcmp(chunk->usage, "0") == 0;
  if (usageLength > static_cast<size_t>(kMaxUsageLength)) {
    reason = "Usage is longer than 6 characters";
  } else if (number == kNotInteger) {
    reason = "Resource number is not a decimal integer";
  } else if (number == kOutOfRange) {
    reason = "Number out of range";
  } else if (typeLength > static_cast<size_t>(kMaxTypeLength)) {
    reason = "Chunk type is longer than 4 characters";
  } else if (holds_nul(chunk->usage, usageLength, kMaxUsageLength) ||
             holds_nul(chunk->type, typeLength, kMaxTypeLength) ||
             (!text && !numeric && buffer != nullptr && memchr(buffer, 0, stored) != nullptr)) {
    reason = "Record holds a NUL byte";
  } else if (numeric && !convert_argument(buffer != nullptr ? buffer : "", &value, &digits, &rest)) {
    reason = "Number out of range";
  }
  if (reason != nullptr) {
    printf("%s: Error: %" PRId64 ": %s\n", MyName, Line, reason);
    NotPacked();
    free(buffer);
    free(chunk);
    return nullptr;
  }

  if (text) {
    ReserveOutput(static_cast<int64_t>(count), chunk->type, false);
    if (is_text_type(chunk->type) && !is_printable(buffer, count)) {
      StartWarning(Line);
      fprintf(stderr,
              "%s text holds bytes outside printable ASCII (0x20 to 0x7E), "
              "which is all this chunk may hold: readers may show it garbled or not at all\n",
              Shown(chunk->type));
    }
    chunk->data = reinterpret_cast<unsigned char*>(buffer);
    chunk->length = static_cast<int32_t>(count);
    return chunk;
  }
  if (numeric) {
    bool wide = chunk->usage[0] == '3';
    // "one" packs 0 and "1st" packs 1, as the conversion reads them; neither
    // is what the author wrote.
    if (!digits || rest) {
      StartWarning(Line);
      fprintf(stderr, "Number ");
      print_quoted(buffer, stored);
      fprintf(stderr, " %s: it is packed as %" PRId32 "\n",
              digits ? "has characters after its digits" : "has no digits", value);
    }
    if (!wide && (value < -32768 || value > 65535)) {
      StartWarning(Line);
      fprintf(stderr,
              "Number %" PRId32
              " does not fit in 16 bits (-32768 to 65535): it is packed as its low 16 bits, %" PRIu32 "\n",
              value, static_cast<uint32_t>(value) & 0xFFFFu);
    }
    chunk->length = wide ? 4 : 2;
    ReserveOutput(chunk->length, chunk->type, false);
    chunk->data = static_cast<unsigned char*>(my_malloc(static_cast<size_t>(chunk->length)));
    if (wide) {
      str_long(chunk->data, static_cast<uint32_t>(value));
    } else {
      str_short(chunk->data, static_cast<uint32_t>(value));
    }
    chunk->usage[0] = '0';
    free(buffer);
    return chunk;
  }
  if (buffer == nullptr) {
    buffer = static_cast<char*>(my_malloc(1));
    buffer[0] = '\0';
  }
  return ReadResource(chunk, buffer);
}

void NotPacked() {
  // A record is told once, however many of its steps went wrong.
  if (SkippedCount > 0 && Skipped[SkippedCount - 1].record == Line) return;
  if (SkippedCount == SkippedCapacity) {
    SkippedCapacity = SkippedCapacity == 0 ? 16 : 2 * SkippedCapacity;
    Skipped = static_cast<Unpacked*>(my_realloc(Skipped, SkippedCapacity * sizeof(Unpacked)));
  }
  Skipped[SkippedCount++] = {Line, RecordLine};
}

static void forget_not_packed() {
  free(Skipped);
  Skipped = nullptr;
  SkippedCount = 0;
  SkippedCapacity = 0;
}

bool RecordsNotPacked() { return SkippedCount > 0; }

// Records the closing note names one by one.
constexpr size_t kNamedNotPacked = 10;

bool ReportNotPacked() {
  if (SkippedCount == 0) return false;
  fprintf(stderr, "%s: Note: %zu record%s not packed: ", MyName, SkippedCount, SkippedCount == 1 ? "" : "s");
  // The first few are enough to find the fault; thousands would make one
  // line of megabytes.
  size_t named = SkippedCount < kNamedNotPacked ? SkippedCount : kNamedNotPacked;
  for (size_t i = 0; i < named; ++i) {
    fprintf(stderr, "%srecord %" PRId64 " (line %" PRId64 ")", i == 0 ? "" : ", ", Skipped[i].record,
            Skipped[i].line);
  }
  if (SkippedCount > named) fprintf(stderr, ", and %zu more", SkippedCount - named);
  fputc('\n', stderr);
  forget_not_packed();
  return true;
}

void ResetReader() {
  headerPrinted = 0;
  RecordLine = 0;
  ControlLine = 1;
  AtStart = true;
  forget_not_packed();
  ResetConstantNames();
  PackedSize = kEmptyBlorbSize;
}
