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
  std::string stderrText;  // warnings, then the note on records not packed
  int64_t lines;
};

// Runs the real reading loop over text and takes the chunk table apart.
Reading ReadAll(const std::string& text) {
  static char name[] = "bp";
  MyName = name;
  FILE* control = StreamOf(text);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  BuildIndex(control);
  ReportNotPacked();
  Reading reading;
  reading.stderrText = testing::internal::GetCapturedStderr();
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
      {"\xEF\xBB\xBF" "0 1 ANNO x\n", "0", 1, "ANNO", "x"},  // a UTF-8 byte order mark
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
  const char* cut = "bp: Error: 1: Record is cut short by the end of the control file\n";
  struct Case {
    const char* text;
    size_t records;
    int64_t lines;
    const char* message;
  } cases[] = {
      {"", 0, 1, ""},
      {"\n\n\n", 0, 1, ""},
      {" \t\r\n\f", 0, 1, ""},
      {"\xEF\xBB\xBF\n", 0, 1, ""},
      {"0 1 ANNO", 0, 1, cut},  // nothing after the type
      {"0 1 ANNO   \n\n", 0, 1, cut},
      {"0 1", 0, 1, cut},
      {"Pict -", 0, 1, cut},
      {"Exec", 0, 1, cut},
      {"0 1 ANNO x", 1, 1, ""},
      {"0 1 ANNO x\n", 1, 2, ""},
      {"0 1 ANNO x\r\n\r\n", 1, 2, ""},
      {"0 1 ANNO x\n0 2 ANNO y\n", 2, 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Reading reading = ReadAll(c.text);
    EXPECT_EQ(reading.records.size(), c.records);
    EXPECT_EQ(reading.lines, c.lines);
    EXPECT_EQ(reading.stdoutText, c.message);
  }
}

// The note counts line feeds, CR LF as one and a lone CR as none, and names
// the line on which a record's first token stands.
TEST(ReadChunk, RecordsNotPackedAreNamedWithTheLineTheyStartOn) {
  struct Case {
    std::string text;
    const char* note;
  } cases[] = {
      {"\n\n0 1 ANNO ok\nPict x\n", "record 2 (line 4)"},
      {"0 1 ANNO ok\r\n\r\nPict x\r\n", "record 2 (line 3)"},
      {"0 1 TEXT a\rb\nPict x\n", "record 2 (line 2)"},
      {"\n0\n 7\n\tANNOX\n\n  text\nPict x", "record 1 (line 2), record 2 (line 7)"},
      {"0 1 ANNO ok\n\nExec 0 ZCOD\n\n", "record 2 (line 3)"},
      {"\xEF\xBB\xBF\nPict x\n", "record 1 (line 2)"},
      {std::string("0 1 AN\0O ok\n", 12), "record 1 (line 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Reading reading = ReadAll(c.text);
    std::string records = std::string(c.note).find(',') == std::string::npos ? "1 record" : "2 records";
    // The note is the last line, after any warning.
    size_t note = reading.stderrText.rfind("bp: Note: ");
    ASSERT_NE(note, std::string::npos);
    EXPECT_EQ(reading.stderrText.substr(note), "bp: Note: " + records + " not packed: " + c.note + "\n");
  }
  EXPECT_EQ(ReadAll("0 1 ANNO ok\n").stderrText, "");
}

TEST(ReadChunk, ArgumentFromALaterLineIsQuotedInAWarning) {
  Reading reading = ReadAll("0 1 TEXT  \n\n  \"q\\\x01 and a long tail that goes on\n");
  ASSERT_EQ(reading.records.size(), 1u);
  EXPECT_EQ(reading.stderrText,
            "bp: Warning: 1: Nothing follows the type on line 1, so the argument is taken from line 3: "
            "\"\\\"q\\\\\\x01 and a long tail tha...\"\n");
}

TEST(ReadChunk, MalformedRecordsAreRejectedWithTheirPosition) {
  struct Case {
    std::string text;
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
      // Only a whole byte order mark is skipped.
      {"\xEF\xBBPicts 1 PNG a.png\n", "bp: Error: 1: Usage is longer than 6 characters\n"},
      {std::string("Pi\0ct 1 PNG a.png\n", 17), "bp: Error: 1: Record holds a NUL byte\n"},
      {std::string("0 1 AN\0O ok\n", 12), "bp: Error: 1: Record holds a NUL byte\n"},
      {std::string("2 1 TEXT a\0.png\n", 16), "bp: Error: 1: Record holds a NUL byte\n"},
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

TEST(ReadChunk, SixteenBitValuesOutsideTheirRangeDrawAWarning) {
  struct Case {
    const char* text;
    bool warned;
  } cases[] = {
      {"1 0 RelN 65535\n", false},
      {"1 0 RelN -32768\n", false},
      {"1 0 RelN 65536\n", true},
      {"1 0 RelN -32769\n", true},
      {"3 0 Numb 65536\n", false},  // 32 bits hold it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Reading reading = ReadAll(c.text);
    ASSERT_EQ(reading.records.size(), 1u);
    EXPECT_EQ(reading.stderrText.find("does not fit in 16 bits") != std::string::npos, c.warned);
  }
  EXPECT_EQ(ReadAll("1 0 RelN -32769\n").stderrText,
            "bp: Warning: 1: Number -32769 does not fit in 16 bits (-32768 to 65535): it is packed as its low "
            "16 bits, 32767\n");
}
