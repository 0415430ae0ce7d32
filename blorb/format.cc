#include "blorb/format.h"

#include <cstdio>
#include <cstring>

bool IsLookedUpUsage(const char* usage) {
  return memcmp(usage, "Pict", kIdSize) == 0 || memcmp(usage, "Snd ", kIdSize) == 0 ||
         memcmp(usage, "Data", kIdSize) == 0 || memcmp(usage, "Exec", kIdSize) == 0;
}

// Each list is whole four-byte identifiers back to back.
static bool listed(const char* list, const char* id) {
  for (; *list != '\0'; list += kIdSize) {
    if (memcmp(list, id, kIdSize) == 0) return true;
  }
  return false;
}

static const char* defined_types(const char* usage) {
  if (memcmp(usage, "Pict", kIdSize) == 0) return "PNG JPEGRect";
  if (memcmp(usage, "Snd ", kIdSize) == 0) return "FORMOGGVMOD SONG";
  if (memcmp(usage, "Exec", kIdSize) == 0) return "ZCODGLULTAD2TAD3HUGOALANADRILEVEAGT MAGSADVSEXEC";
  if (memcmp(usage, "Data", kIdSize) == 0) return "TEXTBINAFORM";
  return "";
}

bool IsDefinedType(const char* usage, const char* type) { return listed(defined_types(usage), type); }

bool IsFewReadersType(const char* usage, const char* type) {
  if (memcmp(usage, "Pict", kIdSize) == 0) return listed("GIF ", type);
  if (memcmp(usage, "Snd ", kIdSize) == 0) return listed("WAV MIDIMP3 ", type);
  return false;
}

const char* TypeProblem(const char* usage, const char* type) {
  if (!IsLookedUpUsage(usage) || IsDefinedType(usage, type)) return nullptr;
  bool picture = memcmp(usage, "Pict", kIdSize) == 0;
  if (IsFewReadersType(usage, type)) {
    return picture ? "is read only by some interpreters: most will not show the picture"
                   : "is read only by some interpreters: most will not play the sound";
  }
  if (picture) {
    return "is not a picture type (PNG, JPEG or Rect): interpreters will not show the picture";
  }
  if (memcmp(usage, "Snd ", kIdSize) == 0) {
    if (memcmp(type, "AIFF", kIdSize) == 0) {
      return "is not a sound type: an AIFF file is packed under type FORM, as the IFF chunk it already is";
    }
    return "is not a sound type (FORM for AIFF, OGGV, MOD or SONG): interpreters will not play the sound";
  }
  if (memcmp(usage, "Exec", kIdSize) == 0) {
    return "is not a story type (ZCOD, GLUL, TAD2, TAD3, HUGO, ALAN, ADRI, LEVE, AGT, MAGS, ADVS or EXEC): "
           "interpreters will not run the story";
  }
  return "is not a data type (TEXT, BINA or FORM): games cannot tell how to read the resource";
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

static unsigned short_value(const unsigned char* p) { return static_cast<unsigned>(p[0]) << 8 | p[1]; }

static bool is_printable_id(const unsigned char* id) {
  for (size_t i = 0; i < kIdSize; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E || id[i] == '"' || id[i] == '\\') return false;
  }
  return true;
}

const char* LooksLike(const unsigned char* bytes, size_t size, char* buffer, size_t room) {
  struct Signature {
    size_t offset;
    const char* bytes;
    size_t length;
    const char* kind;
  };
  static const Signature kSignatures[] = {
      {0, "Glul", 4, "a Glulx story"},
      {0, "\x89PNG\r\n\x1A\n", 8, "a PNG picture"},
      {0, "\xFF\xD8\xFF", 3, "a JPEG picture"},
      {0, "GIF8", 4, "a GIF picture"},
      {0, "OggS", 4, "an Ogg sound"},
      {0, "MThd", 4, "a MIDI sound"},
      {0, "ID3", 3, "an MP3 sound"},
      {0, "RIFF", 4, "a RIFF file (a WAV sound, perhaps)"},
      {0, "LIST", 4, "an IFF LIST, which holds no Blorb file"},
      {0, "CAT ", 4, "an IFF CAT, which holds no Blorb file"},
      {0, "PK\x03\x04", 4, "a ZIP archive"},
      {0, "\x1F\x8B", 2, "a gzip file"},
      {0, "<?xml", 5, "an XML document"},
      // The tracker formats that MOD chunks hold, each by its own mark.
      {0, "Extended Module: ", 17, "an XM module (a MOD sound)"},
      {0, "IMPM", 4, "an IT module (a MOD sound)"},
      {44, "SCRM", 4, "an S3M module (a MOD sound)"},
      {1080, "M.K.", 4, "a MOD sound"},
      {1080, "M!K!", 4, "a MOD sound"},
      {1080, "FLT4", 4, "a MOD sound"},
      {1080, "4CHN", 4, "a MOD sound"},
      {1080, "6CHN", 4, "a MOD sound"},
      {1080, "8CHN", 4, "a MOD sound"},
  };
  for (const Signature& signature : kSignatures) {
    if (size >= signature.offset + signature.length &&
        memcmp(bytes + signature.offset, signature.bytes, signature.length) == 0) {
      return signature.kind;
    }
  }
  if (size >= kChunkHeaderSize + kIdSize && memcmp(bytes, "FORM", kIdSize) == 0) {
    if (!is_printable_id(bytes + kChunkHeaderSize)) return "an IFF FORM";
    snprintf(buffer, room, "an IFF FORM of type \"%.4s\"", reinterpret_cast<const char*>(bytes + kChunkHeaderSize));
    return buffer;
  }
  // A Z-code story opens with its version and a header of 64 bytes whose
  // static memory starts inside the file.
  if (size >= 64 && bytes[0] >= 1 && bytes[0] <= 8 && short_value(bytes + 0x0E) >= 64 &&
      short_value(bytes + 0x0E) <= size) {
    snprintf(buffer, room, "a Z-code story (version %u)", bytes[0]);
    return buffer;
  }
  return nullptr;
}
