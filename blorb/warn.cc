// Warnings about records that are packed exactly as asked but that the
// interpreters players use will mishandle without a word. They go to standard
// error only, so that standard output and the Blorb file stay what they would
// be without them.
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "blorb/blorb.h"
#include "blorb/format.h"
#include "common/encode.h"

// Every indexed (usage, number) pair seen so far, with the record that
// brought it: an open-addressing table that doubles when half full.
struct SeenEntry {
  char usage[kIdSize];
  int32_t number;
  int64_t line;  // 0 marks an empty slot
};

static SeenEntry* Seen = nullptr;
static size_t SeenCapacity = 0;
static size_t SeenCount = 0;
static int64_t FirstExec = 0;

// The records that brought sounds 1 and 2 (0: none), and whether the story is
// Z-code: the Z-machine plays its two bleeps under those numbers and never
// asks the Blorb file for them. The story may come after the sounds.
static int64_t BleepSounds[2] = {0, 0};
static bool ZcodeStory = false;

// Frontispiece records, checked once every picture is known.
struct Frontispiece {
  int64_t line;
  int32_t picture;
};
static Frontispiece* Frontispieces = nullptr;
static size_t FrontispieceCount = 0;
static size_t FrontispieceCapacity = 0;

static size_t slot_of(const char* usage, int32_t number, size_t capacity) {
  uint64_t hash = 1469598103934665603u;
  for (size_t i = 0; i < kIdSize; ++i) hash = (hash ^ static_cast<unsigned char>(usage[i])) * 1099511628211u;
  hash = (hash ^ static_cast<uint32_t>(number)) * 1099511628211u;
  return static_cast<size_t>(hash ^ (hash >> 29)) & (capacity - 1);
}

static SeenEntry* find(SeenEntry* table, size_t capacity, const char* usage, int32_t number) {
  size_t slot = slot_of(usage, number, capacity);
  while (table[slot].line != 0 &&
         !(table[slot].number == number && memcmp(table[slot].usage, usage, kIdSize) == 0)) {
    slot = (slot + 1) & (capacity - 1);
  }
  return &table[slot];
}

// The record that first used this pair, or 0 when this is the first.
static int64_t remember(const char* usage, int32_t number) {
  if (2 * (SeenCount + 1) > SeenCapacity) {
    size_t capacity = SeenCapacity == 0 ? 64 : 2 * SeenCapacity;
    SeenEntry* table = static_cast<SeenEntry*>(my_malloc(capacity * sizeof(SeenEntry)));
    memset(table, 0, capacity * sizeof(SeenEntry));
    for (size_t i = 0; i < SeenCapacity; ++i) {
      if (Seen[i].line != 0) *find(table, capacity, Seen[i].usage, Seen[i].number) = Seen[i];
    }
    free(Seen);
    Seen = table;
    SeenCapacity = capacity;
  }
  SeenEntry* entry = find(Seen, SeenCapacity, usage, number);
  if (entry->line != 0) return entry->line;
  memcpy(entry->usage, usage, kIdSize);
  entry->number = number;
  entry->line = Line;
  ++SeenCount;
  return 0;
}

static uint32_t str_value(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

static void warn_indexed(const Chunk* record) {
  // The index keeps four characters of the usage, padded with spaces.
  char usage[kIdSize];
  size_t length = strlen(record->usage);
  for (size_t i = 0; i < kIdSize; ++i) usage[i] = i < length ? record->usage[i] : ' ';

  int64_t earlier = remember(usage, record->number);
  if (earlier != 0) {
    StartWarning(Line);
    fprintf(stderr,
            "Usage \"%s\" and number %" PRId32
            " repeat those of record %" PRId64 ": readers will find only one of the two\n",
            ShownPrefix(record->usage, kIdSize), record->number, earlier);
  }
  if (length > kIdSize) {
    // "Pictur" is a picture to every reader, which may or may not be meant.
    StartWarning(Line);
    fprintf(stderr,
            "Usage \"%s\" is cut to its first four characters, \"%s\", in the index%s\n",
            Shown(record->usage), ShownPrefix(record->usage, kIdSize),
            IsLookedUpUsage(usage) ? ", under which readers look it up" : "");
  }
  if (!IsLookedUpUsage(usage)) {
    StartWarning(Line);
    fprintf(stderr,
            "Usage \"%s\" is not one that readers look up (Pict, Snd, Data, "
            "Exec): no game can ask for this resource\n",
            Shown(record->usage));
  }
  char type[kIdSize];
  str_id(reinterpret_cast<unsigned char*>(type), record->type);
  const char* problem = TypeProblem(usage, type);
  if (problem != nullptr) {
    StartWarning(Line);
    fprintf(stderr, "Chunk type \"%s\" %s\n", Shown(record->type), problem);
  }
  if (record->number < 0) {
    StartWarning(Line);
    fprintf(stderr,
            "Resource number %" PRId32
            " is negative: readers take numbers as unsigned, so no game can ask for this resource\n",
            record->number);
  }
  if (strcmp(record->usage, "Exec") == 0) {
    if (record->number != 0) {
      StartWarning(Line);
      fprintf(stderr,
              "Exec resource is numbered %" PRId32
              ", not 0: interpreters look for the story as Exec 0 and will not find it\n",
              record->number);
    }
    if (FirstExec != 0) {
      StartWarning(Line);
      fprintf(stderr,
              "Second Exec resource (the first is record %" PRId64
              "): interpreters run only one story\n",
              FirstExec);
    } else {
      FirstExec = Line;
    }
    if (strcmp(record->type, "ZCOD") == 0) ZcodeStory = true;
  }
  if (strcmp(record->usage, "Snd") == 0 && (record->number == 1 || record->number == 2) &&
      BleepSounds[record->number - 1] == 0) {
    BleepSounds[record->number - 1] = Line;
  }
}

void WarnAbout(const Chunk* record) {
  if (strcmp(record->usage, "0") != 0) warn_indexed(record);
  char type[kIdSize];
  str_id(reinterpret_cast<unsigned char*>(type), record->type);
  const char* problem = SignatureProblem(type, record->data, static_cast<size_t>(record->length));
  if (problem != nullptr) {
    char buffer[64];
    // An embedded FORM that is only cut wrong is what it claims to be.
    const char* kind = strcmp(record->type, "FORM") == 0
                           ? nullptr
                           : LooksLike(record->data, static_cast<size_t>(record->length), buffer, sizeof buffer);
    StartWarning(Line);
    fprintf(stderr, "%s%s%s\n", problem,
            kind != nullptr ? "; the data looks like " : "", kind != nullptr ? kind : "");
  }
  if (strcmp(record->type, "Fspc") == 0 && record->length == 4) {
    if (FrontispieceCount == FrontispieceCapacity) {
      FrontispieceCapacity = FrontispieceCapacity == 0 ? 4 : 2 * FrontispieceCapacity;
      Frontispieces = static_cast<Frontispiece*>(
          my_realloc(Frontispieces, FrontispieceCapacity * sizeof(Frontispiece)));
    }
    Frontispieces[FrontispieceCount++] = {Line, static_cast<int32_t>(str_value(record->data))};
  }
}

void WarnAboutJob() {
  for (int i = 0; i < 2 && ZcodeStory; ++i) {
    if (BleepSounds[i] == 0) continue;
    StartWarning(BleepSounds[i]);
    fprintf(stderr,
            "Snd %d can never be played beside a Z-code story: the Z-machine keeps "
            "sounds 1 and 2 for its two bleeps\n",
            i + 1);
  }
  for (size_t i = 0; i < FrontispieceCount; ++i) {
    const Frontispiece& f = Frontispieces[i];
    if (SeenCapacity == 0 || find(Seen, SeenCapacity, "Pict", f.picture)->line == 0) {
      StartWarning(f.line);
      fprintf(stderr,
              "Fspc names picture %" PRId32
              ", which no Pict record of this job has: interpreters will show no frontispiece\n",
              f.picture);
    }
  }
}

void ResetWarnings() {
  free(Seen);
  Seen = nullptr;
  SeenCapacity = 0;
  SeenCount = 0;
  FirstExec = 0;
  BleepSounds[0] = 0;
  BleepSounds[1] = 0;
  ZcodeStory = false;
  free(Frontispieces);
  Frontispieces = nullptr;
  FrontispieceCount = 0;
  FrontispieceCapacity = 0;
}
