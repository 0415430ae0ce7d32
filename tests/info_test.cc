#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "info/info.h"

using namespace std::string_literals;

namespace {

// What ListBlorb prints for bytes, and in *problems the count it returns. It
// reads a copy of exactly their size, so that the sanitizers catch a read
// past the end.
std::string Listing(const std::string& bytes, size_t* problems) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  unsigned char* copy = static_cast<unsigned char*>(malloc(bytes.empty() ? 1 : bytes.size()));
  memcpy(copy, bytes.data(), bytes.size());
  *problems = ListBlorb(out, "f", copy, bytes.size());
  free(copy);
  fclose(out);
  std::string listing(text, length);
  free(text);
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
      // Every optional chunk, at the edges of its rules, and a picture with a note.
      "FORM\x00\x00\x02\xAEIFRS"  // 694 - 8
      "RIdx\x00\x00\x00@\x00\x00\x00\x05"  // 4 + 12 * 5
      "Pict\x00\x00\x00\x01\x00\x00\x00T"
      "Pict\x00\x00\x00\x02\x00\x00\x00t"
      "Pict\x00\x00\x00\x03\x00\x00\x00\x84"
      "Snd \x00\x00\x00\x07\x00\x00\x00\x92"
      "Exec\x00\x00\x00\x00\x00\x00\x00\x9E"
      "PNG \x00\x00\x00\x18\x89PNG\x0D\x0A\x1A\x0A\x00\x00\x00\x0DIHDR\x00\x00\x02\x80\x00\x00\x01\xE0"  // 0x54
      "Rect\x00\x00\x00\x08\x00\x00\x00\x00\x00\x00\x00\xC8"  // 0x74
      "GIF \x00\x00\x00\x06GIF89a"  // 0x84
      "FORM\x00\x00\x00\x04" "AIFF"  // 0x92
      "ZCOD\x00\x00\x00 \x05\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00" "260102\x00\x00\x00\x00\xAB\xCD\x00\x00"  // 0x9E
      "IFhd\x00\x00\x00\x0D\x00\x07" "260102\xAB\xCD\x00\x00\x00\x00"  // 0xC6
      "Fspc\x00\x00\x00\x04\x00\x00\x00\x01"  // 0xDC
      "RDes\x00\x00\x00" "0\x00\x00\x00\x02Pict\x00\x00\x00\x01\x00\x00\x00\x0D" "Caf\xC3\xA9 \x22" "a\x5C" "b\x22\x0A\x7FSnd \x00\x00\x00\x07\x00\x00\x00\x07" "Foghorn"  // 0xE8
      "IFmd\x00\x00\x01\x04<\x3Fxml version=\x22" "1.0\x22 encoding=\x22UTF-8\x22\x3F>\x0A<ifindex version=\x22" "1.0\x22><story><identification><ifid>4E5B2A3C-0000-4000-8000-0123456789AB</ifid></identification><bibliographic><title>Fog &amp; Light</title><author>A. N. Author</author></bibliographic></story></ifindex>\x0A"  // 0x120
      "Reso\x00\x00\x00" "4\x00\x00\x02X\x00\x00\x01\x90\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04\xB0\x00\x00\x03 \x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x01"  // 0x22C
      "APal\x00\x00\x00\x00"  // 0x268
      "Loop\x00\x00\x00\x08\x00\x00\x00\x07\x00\x00\x00\x00"  // 0x270
      "Plte\x00\x00\x00\x01\x10\x00"  // 0x280
      "SNam\x00\x00\x00\x06\x00" "F\x00o\x00g"  // 0x28A
      "RelN\x00\x00\x00\x02\x00\x07"  // 0x298
      "AUTH\x00\x00\x00\x0C" "A. N. Author"s,  // 0x2A2
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
      EXPECT_EQ(LinesStartingWith(listing, "f: Problem at 0x"), problems);
      EXPECT_EQ(LastLine(listing), "f: " + std::to_string(problems) + (problems == 1 ? " problem" : " problems"));
    }
  }
}
