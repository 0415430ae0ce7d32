#include <string>

#include <gtest/gtest.h>

#include "blorb/format.h"

TEST(SignatureProblem, ChecksOnlyUnambiguousTypesAtTheirBoundaries) {
  struct Case {
    const char* type;
    std::string data;
    bool problem;
  } cases[] = {
      {"PNG ", std::string("\x89PNG\r\n\x1A\n", 8), false},
      {"PNG ", std::string("\x89PNG\r\n\x1A", 7), true},  // one byte short
      {"PNG ", "", true},
      {"JPEG", "\xFF\xD8\xFF", false},
      {"JPEG", "\xFF\xD8\xFE", true},
      {"OGGV", "OggS", false},
      {"OGGV", "Oggs", true},
      {"GLUL", "Glul", false},
      {"GLUL", "Glu", true},
      {"ZCOD", std::string("\x01", 1), false},
      {"ZCOD", std::string("\x08", 1), false},
      {"ZCOD", std::string("\x00", 1), true},
      {"ZCOD", std::string("\x09", 1), true},
      {"ZCOD", "", true},
      {"FORM", std::string("FORM\0\0\0\0", 8), false},
      {"FORM", std::string("FORM\0\0\0\x04" "AIFF", 12), false},
      {"FORM", std::string("FORM\0\0\0\x05" "AIFF", 12), true},  // length says more than there is
      {"FORM", std::string("FORM\0\0\0\x03" "AIFF", 12), true},  // or less
      {"FORM", std::string("FORM\0\0\0", 7), true},
      {"FORM", std::string("LIST\0\0\0\x04" "AIFF", 12), true},
      {"FORM", std::string("FORM\xFF\xFF\xFF\xF8", 8), true},
      {"TEXT", "", false},  // no signature to check
      {"MOD ", "anything", false},
      {"png ", "anything", false},  // types are exact case
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.data);
    const char* problem =
        SignatureProblem(c.type, reinterpret_cast<const unsigned char*>(c.data.data()), c.data.size());
    EXPECT_EQ(problem != nullptr, c.problem);
  }
}

// The tracker formats carry their mark deep inside: a MOD's at 1080, an S3M's
// at 44. Returns data of the given size with mark at offset.
static std::string marked(size_t size, size_t offset, const std::string& mark) {
  std::string data(size, '\0');
  data.replace(offset, mark.size(), mark);
  return data;
}

TEST(LooksLike, NamesWhatTheSignaturesShow) {
  std::string zcode(64, '\0');
  zcode[0] = 5;
  zcode[0x0F] = 64;  // static memory at 64, inside the file
  std::string notZcode = zcode;
  notZcode[0x0F] = 65;  // beyond the file's end
  struct Case {
    std::string data;
    const char* kind;  // null: nothing fits
  } cases[] = {
      {std::string("\x89PNG\r\n\x1A\n", 8), "a PNG picture"},
      {"\xFF\xD8\xFF\xE0", "a JPEG picture"},
      {"GIF89a", "a GIF picture"},
      {"Glul", "a Glulx story"},
      {"OggS", "an Ogg sound"},
      {std::string("FORM\0\0\0\x04" "AIFF", 12), "an IFF FORM of type \"AIFF\""},
      {std::string("FORM\0\0\0\x04" "AI\nF", 12), "an IFF FORM"},  // a type that cannot be quoted
      {std::string("FORM\0\0\0\x04", 8), nullptr},
      {marked(1084, 1080, "M.K."), "a MOD sound"},
      {marked(1084, 1080, "M.K.").substr(0, 1083), nullptr},  // one byte short of the mark
      {marked(48, 44, "SCRM"), "an S3M module (a MOD sound)"},
      {"Extended Module: x", "an XM module (a MOD sound)"},
      {"IMPM", "an IT module (a MOD sound)"},
      {zcode, "a Z-code story (version 5)"},
      {notZcode, nullptr},
      {zcode.substr(0, 63), nullptr},
      {"plain text", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data.substr(0, 16));
    char buffer[64];
    const char* kind =
        LooksLike(reinterpret_cast<const unsigned char*>(c.data.data()), c.data.size(), buffer, sizeof buffer);
    EXPECT_STREQ(kind, c.kind);
  }
}

TEST(IsLookedUpUsage, FourStoredBytesExactCase) {
  EXPECT_TRUE(IsLookedUpUsage("Pict"));
  EXPECT_TRUE(IsLookedUpUsage("Snd "));
  EXPECT_TRUE(IsLookedUpUsage("Data"));
  EXPECT_TRUE(IsLookedUpUsage("Exec"));
  EXPECT_FALSE(IsLookedUpUsage("pict"));
  EXPECT_FALSE(IsLookedUpUsage("Snd\0"));
  EXPECT_FALSE(IsLookedUpUsage("0x  "));
}

TEST(TypeProblem, TypesAreCheckedAgainstTheirUsage) {
  struct Case {
    const char* usage;
    const char* type;
    bool defined;
    bool fewReaders;
  } cases[] = {
      {"Pict", "PNG ", true, false},  {"Pict", "JPEG", true, false}, {"Pict", "Rect", true, false},
      {"Pict", "GIF ", false, true},  {"Pict", "WAV ", false, false}, {"Pict", "PNG", false, false},
      {"Snd ", "FORM", true, false},  {"Snd ", "OGGV", true, false}, {"Snd ", "MOD ", true, false},
      {"Snd ", "SONG", true, false},  {"Snd ", "AIFF", false, false}, {"Snd ", "WAV ", false, true},
      {"Snd ", "MIDI", false, true},  {"Snd ", "MP3 ", false, true},  {"Snd ", "GIF ", false, false},
      {"Exec", "ZCOD", true, false},  {"Exec", "AGT ", true, false}, {"Exec", "EXEC", true, false},
      {"Exec", "TEXT", false, false}, {"Data", "TEXT", true, false}, {"Data", "BINA", true, false},
      {"Data", "FORM", true, false},  {"Data", "BIN ", false, false}, {"pict", "GIF ", false, false},
      {"Soun", "WAV ", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.usage) + "/" + c.type);
    EXPECT_EQ(IsDefinedType(c.usage, c.type), c.defined);
    EXPECT_EQ(IsFewReadersType(c.usage, c.type), c.fewReaders);
    // A usage readers do not look up has no types to get wrong.
    bool lookedUp = IsLookedUpUsage(c.usage);
    EXPECT_EQ(TypeProblem(c.usage, c.type) != nullptr, lookedUp && !c.defined);
  }
  EXPECT_NE(std::string(TypeProblem("Snd ", "AIFF")).find("packed under type FORM"), std::string::npos);
  EXPECT_NE(std::string(TypeProblem("Snd ", "MP3 ")).find("most will not"), std::string::npos);
}
