#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "blorb/blorb.h"
#include "common/encode.h"
#include "control/chunk.h"
#include "tests/test_support.h"

namespace {

struct Record {
  std::string usage;
  int32_t number;
  std::string type;
  std::string data;
};

struct Reading {
  std::vector<Record> records;
  std::string stdoutText;
  int64_t lines;
};

// Runs the real reading loop over text and takes the chunk table apart.
Reading ReadAll(const std::string& text) {
  static char name[] = "bp";
  MyName = name;
  FILE* control = StreamOf(text);
  testing::internal::CaptureStdout();
  BuildIndex(control);
  Reading reading;
  reading.stdoutText = testing::internal::GetCapturedStdout();
  reading.lines = Line;
  for (int32_t slot = 1; slot < Chunks; ++slot) {
    const Chunk* chunk = Blorb[slot];
    reading.records.push_back({chunk->usage, chunk->number, chunk->type,
                               std::string(reinterpret_cast<char*>(chunk->data),
                                           static_cast<size_t>(chunk->length))});
  }
  ResetBlorb();
  fclose(control);
  MyName = nullptr;
  return reading;
}

}  // namespace

TEST(ReadChunk, InlineUsagesEncodeTheirArgument) {
  struct Case {
    const char* text;
    const char* usage;
    int32_t number;
    const char* type;
    std::string data;
  } cases[] = {
      {"0 5 ANNO Hello  world\n", "0", 5, "ANNO", "Hello  world"},
      {"1 5 Vers 7\n", "0", 5, "Vers", std::string("\x00\x07", 2)},
      {"1 5 Vers 65543\n", "0", 5, "Vers", std::string("\x00\x07", 2)},  // low 16 bits only
      {"1 5 Vers -1\n", "0", 5, "Vers", "\xFF\xFF"},
      {"3 5 Rel 300\n", "0", 5, "Rel", std::string("\x00\x00\x01\x2C", 4)},
      {"3 5 Rel none\n", "0", 5, "Rel", std::string(4, '\0')},  // no digits reads as 0
      {"3 5 Rel   -2147483648xyz\n", "0", 5, "Rel", std::string("\x80\x00\x00\x00", 4)},
      {"3 -7 Rel +12\n", "0", -7, "Rel", std::string("\x00\x00\x00\x0C", 4)},
      {"0 1 ANNO Hi\r\n", "0", 1, "ANNO", "Hi"},              // CR LF is a line end
      {"0 1 ANNO a\rb\n", "0", 1, "ANNO", "a\rb"},            // a lone CR is not
      {"0 1 ANNO a\r\r\n", "0", 1, "ANNO", "a\r"},
      {"0 12ANNO x\n", "0", 12, "ANNO", "x"},                 // number runs into type
      {"0\n 7\n\tANNO\n\n  text here  \n", "0", 7, "ANNO", "text here  "},
      {"\n\n  0\t\t+3   AUTH\t Me\n", "0", 3, "AUTH", "Me"},
      {"0 1 ANNO end", "0", 1, "ANNO", "end"},                // no final line feed
      {"0 1 ANNO\nPict 1 PNG a.png\n", "0", 1, "ANNO", "Pict 1 PNG a.png"},
      {"0 -2147483648 (c) x\n", "0", INT32_MIN, "(c)", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Reading reading = ReadAll(c.text);
    ASSERT_EQ(reading.records.size(), 1u);
    EXPECT_EQ(reading.records[0].usage, c.usage);
    EXPECT_EQ(reading.records[0].number, c.number);
    EXPECT_EQ(reading.records[0].type, c.type);
    EXPECT_EQ(reading.records[0].data, c.data);
    EXPECT_EQ(reading.stdoutText, "");
  }
}

TEST(ReadChunk, NulBytesInTextArePacked) {
  Reading reading = ReadAll(std::string("0 1 ANNO a\0b\n", 13));
  ASSERT_EQ(reading.records.size(), 1u);
  EXPECT_EQ(reading.records[0].data, std::string("a\0b", 3));
}

TEST(ReadChunk, EndOfFileYieldsNoRecordButCountsTheRead) {
  struct Case {
    const char* text;
    size_t records;
    int64_t lines;
  } cases[] = {
      {"", 0, 1},
      {"\n\n\n", 0, 1},
      {"0 1 ANNO", 0, 1},  // nothing after the type
      {"0 1 ANNO   \n\n", 0, 1},
      {"0 1", 0, 1},
      {"Pict -", 0, 1},
      {"0 1 ANNO x", 1, 1},
      {"0 1 ANNO x\n", 1, 2},
      {"0 1 ANNO x\r\n\r\n", 1, 2},
      {"0 1 ANNO x\n0 2 ANNO y\n", 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Reading reading = ReadAll(c.text);
    EXPECT_EQ(reading.records.size(), c.records);
    EXPECT_EQ(reading.lines, c.lines);
  }
}

TEST(ReadChunk, MalformedRecordsAreRejectedWithTheirPosition) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"Picture 1 PNG a.png\n", "bp: Error: 1: Usage is longer than 6 characters\n"},
      {"Pict x PNG a.png\n", "bp: Error: 1: Resource number is not a decimal integer\n"},
      {"Pict - PNG a.png\n", "bp: Error: 1: Resource number is not a decimal integer\n"},
      {"Pict +\n", "bp: Error: 1: Resource number is not a decimal integer\n"},
      {"Pict 2147483648 PNG a.png\n", "bp: Error: 1: Number out of range\n"},
      {"Pict -2147483649 PNG a.png\n", "bp: Error: 1: Number out of range\n"},
      {"Pict 99999999999999999999999 PNG a.png\n", "bp: Error: 1: Number out of range\n"},
      {"0 1 ANNOX text\n", "bp: Error: 1: Chunk type is longer than 4 characters\n"},
      {"1 1 Vers 65536000000\n", "bp: Error: 1: Number out of range\n"},
      {"3 1 Rel -2147483649\n", "bp: Error: 1: Number out of range\n"},
      // The checks run in a fixed order; the first failure is the one told.
      {"Picture x PNGXX a.png\n", "bp: Error: 1: Usage is longer than 6 characters\n"},
      {"Pict 4294967296 PNGXX a.png\n", "bp: Error: 1: Number out of range\n"},
      {"3 1 RelXX 99999999999\n", "bp: Error: 1: Chunk type is longer than 4 characters\n"},
      {"\n\n0 1 ANNO ok\nPict x\n", "bp: Error: 2: Resource number is not a decimal integer\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Reading reading = ReadAll(c.text);
    EXPECT_EQ(reading.stdoutText, c.message);
    for (const Record& record : reading.records) EXPECT_EQ(record.data, "ok");
  }
}

TEST(ReadChunk, RejectedNumberLeavesRestOfLineAsItsArgument) {
  // The number's reading stops at "x"; only that line is consumed, so the
  // next line is a record of its own.
  Reading reading = ReadAll("Pict x PNG a.png\n0 1 ANNO after\n");
  EXPECT_EQ(reading.stdoutText, "bp: Error: 1: Resource number is not a decimal integer\n");
  ASSERT_EQ(reading.records.size(), 1u);
  EXPECT_EQ(reading.records[0].data, "after");
  EXPECT_EQ(reading.lines, 3);
}

TEST(ReadChunk, LongTokensAreMeasuredNotStored) {
  std::string usage(100000, 'u');
  std::string type(100000, 't');
  Reading reading = ReadAll(usage + " 1 ANNO x\n0 1 " + type + " y\n0 2 ANNO z\n");
  EXPECT_EQ(reading.stdoutText,
            "bp: Error: 1: Usage is longer than 6 characters\n"
            "bp: Error: 2: Chunk type is longer than 4 characters\n");
  ASSERT_EQ(reading.records.size(), 1u);
  EXPECT_EQ(reading.records[0].data, "z");
}

TEST(ReadChunk, LongTextArgumentsAreKeptWhole) {
  std::string text(1 << 20, 'a');
  text[12345] = ' ';
  Reading reading = ReadAll("0 1 ANNO " + text + "\n");
  ASSERT_EQ(reading.records.size(), 1u);
  EXPECT_EQ(reading.records[0].data, text);
}

// The last byte a 32-bit length can describe is the limit itself: a job of
// exactly 2,147,483,647 bytes fits, one byte more ends the run before
// anything of the record is read. Sizes are set directly, so nothing is big.
TEST(ReserveOutputDeathTest, TheLimitIsTheLargestLengthField) {
  static char name[] = "bp";
  MyName = name;
  PackedSize = kMaxBlorbSize - 34;  // room for a header, 13 bytes, a pad and an index entry
  EXPECT_EXIT(
      {
        ReserveOutput(13, "BIN", true);
        exit(PackedSize == kMaxBlorbSize ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
  PackedSize = kMaxBlorbSize - 33;
  EXPECT_EXIT(ReserveOutput(13, "BIN", true), testing::ExitedWithCode(1), "");
  ResetReader();
  MyName = nullptr;
}
