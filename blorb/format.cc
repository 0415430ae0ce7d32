#include "blorb/format.h"

#include <cstring>

bool IsLookedUpUsage(const char* usage) {
  return memcmp(usage, "Pict", kIdSize) == 0 || memcmp(usage, "Snd ", kIdSize) == 0 ||
         memcmp(usage, "Data", kIdSize) == 0 || memcmp(usage, "Exec", kIdSize) == 0;
}

// One usage's types, four bytes each as stored, the defined ones first.
struct UsageTypes {
  const char* usage;
  const char* defined;
  const char* readBySome;
  const char* named;
};

static const UsageTypes kUsageTypes[] = {
    {"Pict", "PNG JPEGRect", "GIF ", "PNG, JPEG or Rect"},
    {"Snd ", "FORMOGGVMOD SONG", "WAV MIDIMP3 ", "FORM (AIFF), OGGV, MOD or SONG"},
    {"Data", "TEXTBINAFORM", "", "TEXT, BINA or FORM"},
    {"Exec", "ZCODGLULTAD2TAD3HUGOALANADRILEVEAGT MAGSADVSEXEC", "",
     "ZCOD, GLUL, TAD2, TAD3, HUGO, ALAN, ADRI, LEVE, AGT, MAGS, ADVS or EXEC"},
};

static bool among(const char* types, const char* type) {
  for (size_t at = 0; types[at] != '\0'; at += kIdSize) {
    if (memcmp(types + at, type, kIdSize) == 0) return true;
  }
  return false;
}

static const UsageTypes* types_of(const char* usage) {
  for (const UsageTypes& entry : kUsageTypes) {
    if (memcmp(entry.usage, usage, kIdSize) == 0) return &entry;
  }
  return nullptr;
}

TypeFit FitOfType(const char* usage, const char* type) {
  const UsageTypes* types = types_of(usage);
  if (types == nullptr) return kTypeUndefined;
  if (among(types->defined, type)) return kTypeDefined;
  if (among(types->readBySome, type)) return kTypeReadBySome;
  return kTypeUndefined;
}

const char* DefinedTypes(const char* usage) {
  const UsageTypes* types = types_of(usage);
  return types == nullptr ? nullptr : types->named;
}

static bool starts_with(const unsigned char* data, size_t length, const char* prefix, size_t count) {
  return length >= count && memcmp(data, prefix, count) == 0;
}

static unsigned long big_endian(const unsigned char* p) {
  return static_cast<unsigned long>(p[0]) << 24 | static_cast<unsigned long>(p[1]) << 16 |
         static_cast<unsigned long>(p[2]) << 8 | p[3];
}

const char* SignatureProblem(const char* type, const unsigned char* data, size_t length) {
  if (memcmp(type, "PNG ", kIdSize) == 0 && !starts_with(data, length, "\x89PNG\r\n\x1A\n", 8)) {
    return "PNG chunk does not start with the PNG signature: interpreters will not show the picture";
  }
  if (memcmp(type, "JPEG", kIdSize) == 0 && !starts_with(data, length, "\xFF\xD8\xFF", 3)) {
    return "JPEG chunk does not start with FF D8 FF: interpreters will not show the picture";
  }
  if (memcmp(type, "OGGV", kIdSize) == 0 && !starts_with(data, length, "OggS", 4)) {
    return "OGGV chunk does not start with \"OggS\": interpreters will not play the sound";
  }
  if (memcmp(type, "GLUL", kIdSize) == 0 && !starts_with(data, length, "Glul", 4)) {
    return "GLUL chunk does not start with \"Glul\": interpreters will refuse to run the story";
  }
  if (memcmp(type, "ZCOD", kIdSize) == 0 && (length == 0 || data[0] < 1 || data[0] > 8)) {
    return "ZCOD chunk does not start with a Z-machine version from 1 to 8: interpreters will refuse to run the story";
  }
  if (memcmp(type, "FORM", kIdSize) == 0 &&
      !(starts_with(data, length, "FORM", 4) && length >= 8 && big_endian(data + 4) == length - 8)) {
    return "embedded FORM is not one complete IFF chunk (\"FORM\" and a length equal to its size less 8): "
           "the whole Blorb file will be unreadable";
  }
  return nullptr;
}
