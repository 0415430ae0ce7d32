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

TEST(IsLookedUpUsage, FourStoredBytesExactCase) {
  EXPECT_TRUE(IsLookedUpUsage("Pict"));
  EXPECT_TRUE(IsLookedUpUsage("Snd "));
  EXPECT_TRUE(IsLookedUpUsage("Data"));
  EXPECT_TRUE(IsLookedUpUsage("Exec"));
  EXPECT_FALSE(IsLookedUpUsage("pict"));
  EXPECT_FALSE(IsLookedUpUsage("Snd\0"));
  EXPECT_FALSE(IsLookedUpUsage("0x  "));
}
