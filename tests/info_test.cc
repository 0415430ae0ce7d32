#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "info/info.h"
#include "tests/test_support.h"

using namespace std::string_literals;

namespace {

// What ListBlorb prints for bytes, and in *problems the count it returns. It
// reads a copy of exactly their size, so that the sanitizers catch a read
// past the end.
std::string Listing(const std::string& bytes, size_t* problems) {
  FILE* out = tmpfile();
  unsigned char* copy = static_cast<unsigned char*>(malloc(bytes.empty() ? 1 : bytes.size()));
  memcpy(copy, bytes.data(), bytes.size());
  *problems = ListBlorb(out, "f", copy, bytes.size());
  free(copy);
  std::string listing = ContentsOf(out);
  fclose(out);
  return listing;
}

size_t LinesStartingWith(const std::string& text, const std::string& prefix) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    if (text.compare(at, prefix.size(), prefix) == 0) ++count;
    if (text.find('\n', at) == std::string::npos) break;
  }
  return count;
}

std::string LastLine(const std::string& text) {
  size_t end = text.size() - 1;  // the final line feed
  size_t start = text.rfind('\n', end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

}  // namespace

TEST(ListBlorb, EveryCutOfAPassingFileHasProblemsAndCountsThem) {
  const std::string files[] = {
      "FORM" "\0\0\0\x10" "IFRS" "RIdx" "\0\0\0\x04" "\0\0\0\0"s,
      // Every signature readers check, an embedded FORM and odd lengths.
      "FORM" "\0\0\0\xA0" "IFRS"                            // 168 - 8
      "RIdx" "\0\0\0\x40" "\0\0\0\x05"                      // 4 + 12 * 5
      "Pict" "\0\0\0\x01" "\0\0\0\x54"
      "Pict" "\0\0\0\x02" "\0\0\0\x64"
      "Snd " "\0\0\0\x01" "\0\0\0\x70"
      "Exec" "\0\0\0\0" "\0\0\0\x7C"
      "Snd " "\0\0\0\x02" "\0\0\0\x86"
      "PNG " "\0\0\0\x08" "\x89PNG\r\n\x1A\n"               // 0x54
      "JPEG" "\0\0\0\x03" "\xFF\xD8\xFF" "\0"               // 0x64
      "FORM" "\0\0\0\x04" "AIFF"                            // 0x70
      "ZCOD" "\0\0\0\x01" "\x05" "\0"                       // 0x7C
      "OGGV" "\0\0\0\x04" "OggS"                            // 0x86
      "GLUL" "\0\0\0\x04" "Glul"                            // 0x92
      "AUTH" "\0\0\0\x01" "x" "\0"s,                        // 0x9E
  };
  for (const std::string& file : files) {
    size_t problems = 1;
    std::string listing = Listing(file, &problems);
    EXPECT_EQ(problems, 0u) << listing;
    EXPECT_EQ(LastLine(listing), "f: no problems");
    for (size_t length = 0; length < file.size(); ++length) {
      SCOPED_TRACE("cut to " + std::to_string(length) + " of " + std::to_string(file.size()) + " bytes");
      listing = Listing(file.substr(0, length), &problems);
      EXPECT_GT(problems, 0u);
      EXPECT_EQ(LinesStartingWith(listing, "blorbinfo: f: Problem at 0x"), problems);
      EXPECT_EQ(LastLine(listing), "f: " + std::to_string(problems) + (problems == 1 ? " problem" : " problems"));
    }
  }
}
