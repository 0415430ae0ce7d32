#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "blorb/blorb.h"
#include "common/encode.h"
#include "tests/test_support.h"

namespace {

// Runs the whole writer over control text and returns the file it wrote.
std::string Pack(const std::string& text, std::string* printed = nullptr) {
  static char name[] = "bp";
  MyName = name;
  FILE* control = StreamOf(text);
  FILE* output = ScratchStream();
  testing::internal::CaptureStdout();
  WriteBlorb(control, output);
  std::string out = testing::internal::GetCapturedStdout();
  if (printed != nullptr) *printed = out;
  std::string bytes = ContentsOf(output);
  fclose(output);
  fclose(control);
  ResetBlorb();
  MyName = nullptr;
  return bytes;
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

TEST(WriteBlorb, EmptyControlFileGivesEmptyIndex) {
  EXPECT_EQ(Pack(""), std::string("FORM\0\0\0\x10IFRSRIdx\0\0\0\x04\0\0\0\0", 24));
}

TEST(WriteBlorb, OddTextIsPadded) {
  EXPECT_EQ(Pack("0 1 ANNO Hi!\n"),
            std::string("FORM\0\0\0\x1CIFRSRIdx\0\0\0\x04\0\0\0\0"
                        "ANNO\0\0\0\x03Hi!\0",
                        36));
}

TEST(WriteBlorb, ManyRecordsGrowTheTableAndEveryStartPointsAtItsChunk) {
  std::string dir = MakeScratchDir();
  WriteFile(dir + "/p.png", "12345");
  WriteFile(dir + "/s.aiff", std::string("FORM\0\0\0\x04" "AIFF", 12));
  std::string text;
  // Past the table's first three sizes, with as few file opens as that takes:
  // opening a file is dear under Wine.
  constexpr int kRecords = 1200;
  for (int i = 0; i < kRecords; ++i) {
    switch (i % 3) {
      case 0: text += "Pict " + std::to_string(i) + " PNG " + dir + "/p.png\n"; break;
      case 1: text += "Snd " + std::to_string(-i) + " FORM " + dir + "/s.aiff\n"; break;
      default: text += "0 " + std::to_string(i) + " ANNO " + std::string(static_cast<size_t>(i % 7 + 1), 'x') + "\n";
    }
  }
  std::string printed;
  std::string bytes = Pack(text, &printed);
  RemoveTree(dir);

  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(BigEndian(bytes, 4), bytes.size() - 8);
  uint32_t count = BigEndian(bytes, 20);
  ASSERT_EQ(count, 800u);
  EXPECT_EQ(BigEndian(bytes, 16), 4 + 12 * count);
  for (uint32_t k = 0; k < count; ++k) {
    SCOPED_TRACE(k);
    size_t entry = 24 + 12 * k;
    std::string usage = bytes.substr(entry, 4);
    uint32_t start = BigEndian(bytes, entry + 8);
    ASSERT_LT(start + 8, bytes.size());
    EXPECT_EQ(start % 2, 0u);
    if (k % 2 == 0) {
      EXPECT_EQ(usage, "Pict");
      EXPECT_EQ(bytes.substr(start, 13), std::string("PNG \0\0\0\x05" "12345", 13));
      EXPECT_EQ(BigEndian(bytes, entry + 4), 3 * (k / 2));
    } else {
      EXPECT_EQ(usage, "Snd ");
      EXPECT_EQ(bytes.substr(start, 12), std::string("FORM\0\0\0\x04" "AIFF", 12));
      EXPECT_EQ(static_cast<int32_t>(BigEndian(bytes, entry + 4)), -static_cast<int32_t>(3 * (k / 2) + 1));
    }
  }
  EXPECT_EQ(printed.rfind("\n# CONSTANTS FOR RESOURCES IN BLORB FILE\nconstant image_p 0\nconstant sound_s -1\n", 0), 0u);
}

TEST(WarnAbout, RepeatedPairIsFoundAmongManyAndNamesTheFirstRecord) {
  // The records go straight to the check, as the reader hands them over: the
  // pairs are what is tested, and thousands of file opens would only make the
  // test slow where opening a file is dear.
  static char name[] = "bp";
  MyName = name;
  unsigned char text[] = {'d'};
  auto warn = [&](const char* usage, int32_t number, int64_t line) {
    Chunk record{};
    snprintf(record.type, sizeof record.type, "TEXT");
    snprintf(record.usage, sizeof record.usage, "%s", usage);
    record.number = number;
    record.length = 1;
    record.data = text;
    Line = line;
    WarnAbout(&record);
  };
  testing::internal::CaptureStderr();
  // Enough pairs to make the table of pairs grow many times over.
  for (int32_t i = 0; i < 3000; ++i) warn("Data", i, i + 1);
  warn("Data", 1, 3001);
  warn("Datum", 2999, 3002);  // stored as "Datu": a pair of its own
  std::string warnings = testing::internal::GetCapturedStderr();
  ResetBlorb();
  Line = 0;
  MyName = nullptr;
  EXPECT_EQ(warnings,
            "bp: Warning: 3001: Usage \"Data\" and number 1 repeat those of record 2: readers will find only one "
            "of the two\n"
            "bp: Warning: 3002: Usage \"Datum\" is cut to its first four characters, \"Datu\", in the index\n"
            "bp: Warning: 3002: Usage \"Datum\" is not one that readers look up (Pict, Snd, Data, Exec): no game "
            "can ask for this resource\n");
}

// A mapped resource goes out in several writes; each has to continue exactly
// where the last one stopped, also when the chunks before it ended in the
// middle of the stream's buffer, and the pad byte still has to follow. Its
// mapping is released with it: no heap checker sees a mapping left behind.
TEST(WriteBlorb, LargeResourceArrivesWholeAndPadded) {
  std::string dir = MakeScratchDir();
  constexpr size_t kSize = 2 * 262144 + 12345;  // odd, and over the mapping threshold
  std::string data(kSize, '\0');
  for (size_t i = 0; i < kSize; ++i) data[i] = static_cast<char>(i * 131 + i / 4093);
  WriteFile(dir + "/big.bin", data);
  std::string bytes = Pack("0 1 ANNO abc\nData 7 BINA " + dir + "/big.bin\n");
  if (FILE* maps = fopen("/proc/self/maps", "r")) {  // where the system lists them
    EXPECT_EQ(ContentsOf(maps).find(dir), std::string::npos);
    fclose(maps);
  }
  RemoveTree(dir);

  std::string head("FORM\x00\x08\x30\x6A" "IFRS"
                   "RIdx\0\0\0\x10\0\0\0\x01"
                   "Data\0\0\0\x07\0\0\0\x30"  // start 48
                   "ANNO\0\0\0\x03" "abc\0"
                   "BINA\x00\x08\x30\x39",
                   56);
  ASSERT_EQ(bytes.size(), 56 + kSize + 1);
  EXPECT_EQ(bytes.substr(0, 56), head);
  EXPECT_TRUE(bytes.compare(56, kSize, data) == 0);
  EXPECT_EQ(bytes.back(), '\0');
}
