#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "info/info.h"
#include "tests/test_support.h"

using namespace std::string_literals;

namespace {

// What ListBlorb prints for bytes, and in *problems the count it returns. It
// reads a copy of exactly their size, so that the sanitizers catch a read
// past the end.
std::string Listing(const std::string& bytes, size_t* problems) {
  FILE* out = ScratchStream();
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

namespace {

std::string Long(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string Chunk(const std::string& type, const std::string& data) {
  return type + Long(static_cast<uint32_t>(data.size())) + data + (data.size() % 2 != 0 ? "\0"s : "");
}

struct Indexed {
  const char* usage;
  uint32_t number;
  size_t chunk;  // place among the chunks
};

// A Blorb file whose index points each entry at one of chunks, in order.
std::string Blorb(const std::vector<Indexed>& entries, const std::vector<std::string>& chunks) {
  size_t at = 12 + 8 + 4 + 12 * entries.size();
  std::vector<size_t> starts;
  std::string body;
  for (const std::string& chunk : chunks) {
    starts.push_back(at + body.size());
    body += chunk;
  }
  std::string index = Long(static_cast<uint32_t>(entries.size()));
  for (const Indexed& entry : entries) {
    index += entry.usage + Long(entry.number) + Long(static_cast<uint32_t>(starts[entry.chunk]));
  }
  std::string rest = "IFRS" + Chunk("RIdx", index) + body;
  return "FORM" + Long(static_cast<uint32_t>(rest.size())) + rest;
}

// The problem and note lines of a listing, without the file's name.
std::string Findings(const std::string& listing) {
  std::string found;
  for (size_t at = 0; at < listing.size(); at = listing.find('\n', at) + 1) {
    std::string line = listing.substr(at, listing.find('\n', at) - at);
    if (line.compare(0, 14, "f: Problem at ") == 0 || line.compare(0, 11, "f: Note at ") == 0) {
      found += line.substr(3) + "\n";
    }
  }
  return found;
}

const std::string kPng = "\x89PNG\r\n\x1A\n" "\0\0\0\x0D" "IHDR" "\0\0\0\x02" "\0\0\0\x01"s;
const std::string kStory = "\x05\0\0\x07"s + std::string(14, '\0') + "260102" + std::string(4, '\0') + "\xAB\xCD"s;
const std::string kHeader = "\0\x07" "260102" "\xAB\xCD" "\0\0\0"s;

std::string Ratio(uint32_t numerator, uint32_t denominator) { return Long(numerator) + Long(denominator); }

std::string Reso(uint32_t px, uint32_t minx, uint32_t maxx, const std::string& entries) {
  return Chunk("Reso", Long(px) + Long(10) + Long(minx) + Long(0) + Long(maxx) + Long(0) + entries);
}

std::string Xml(const std::string& text) { return Chunk("IFmd", text); }

}  // namespace

// Each rule on resources and optional chunks, at its edge: the passing side
// draws nothing, the failing side exactly its problem at its offset. Every
// file holds a PNG picture 1 (at 0x24) and a sound 7 (at 0x44).
TEST(ListBlorb, ResourceAndOptionalChunkRulesAtTheirEdges) {
  auto with = [](const std::vector<std::string>& extra) {
    std::vector<std::string> chunks = {Chunk("PNG ", kPng), Chunk("OGGV", "OggS")};
    chunks.insert(chunks.end(), extra.begin(), extra.end());
    return Blorb({{"Pict", 1, 0}, {"Snd ", 7, 1}}, chunks);
  };
  struct Case {
    const char* what;
    std::string file;
    const char* findings;
  } cases[] = {
      {"defined types", Blorb({{"Pict", 1, 0}, {"Pict", 2, 1}, {"Snd ", 1, 2}, {"Data", 1, 3}, {"Exec", 0, 4}},
                              {Chunk("PNG ", kPng), Chunk("Rect", Long(0) + Long(0)), Chunk("MOD ", "m"),
                               Chunk("FORM", "FORM\0\0\0\x04" "DATA"s), Chunk("ADRI", "a")}), ""},
      {"undefined types", Blorb({{"Pict", 1, 0}, {"Snd ", 1, 1}, {"Data", 1, 2}, {"Exec", 0, 3}},
                                {Chunk("TEXT", "t"), Chunk("PNG ", kPng), Chunk("JPEG", "\xFF\xD8\xFF\xD9"),
                                 Chunk("TEXT", "t")}), 
       "Problem at 0x000018: Index entry \"Pict\" 1: chunk type \"TEXT\" is not a picture type (PNG, JPEG or Rect): interpreters will not show the picture\n"
       "Problem at 0x000024: Index entry \"Snd \" 1: chunk type \"PNG \" is not a sound type (FORM for AIFF, OGGV, MOD or SONG): interpreters will not play the sound\n"
       "Problem at 0x000030: Index entry \"Data\" 1: chunk type \"JPEG\" is not a data type (TEXT, BINA or FORM): games cannot tell how to read the resource\n"
       "Problem at 0x00003C: Index entry \"Exec\" 0: chunk type \"TEXT\" is not a story type (ZCOD, GLUL, TAD2, TAD3, HUGO, ALAN, ADRI, LEVE, AGT, MAGS, ADVS or EXEC): interpreters will not run the story\n"
       "Problem at 0x000072: JPEG chunk has no frame header before its image data: interpreters cannot size the picture\n"},
      {"read by some", Blorb({{"Pict", 1, 0}, {"Snd ", 1, 1}, {"Snd ", 2, 2}, {"Snd ", 3, 3}},
                             {Chunk("GIF ", "GIF89a"), Chunk("WAV ", "w"), Chunk("MIDI", "m"), Chunk("MP3 ", "3")}), 
       "Note at 0x000018: Index entry \"Pict\" 1: chunk type \"GIF \" is read only by some interpreters: most will not show the picture\n"
       "Note at 0x000024: Index entry \"Snd \" 1: chunk type \"WAV \" is read only by some interpreters: most will not play the sound\n"
       "Note at 0x000030: Index entry \"Snd \" 2: chunk type \"MIDI\" is read only by some interpreters: most will not play the sound\n"
       "Note at 0x00003C: Index entry \"Snd \" 3: chunk type \"MP3 \" is read only by some interpreters: most will not play the sound\n"},
      // ADRIFT 5 writes a wrong container length, which its readers ignore.
      {"ADRIFT length", [] {
         std::string file = Blorb({{"Exec", 0, 0}}, {Chunk("ADRI", "a")});
         file[7] = static_cast<char>(file[7] + 8);
         return file;
       }(),
       "Note at 0x000004: FORM length is 46, but the file size less 8 is 38: the ADRIFT 5 packager writes it so, "
       "and readers of ADRIFT files ignore it\n"},
      // The format lets entries share a chunk; one-pass readers do not.
      {"shared chunk", Blorb({{"Pict", 1, 0}, {"Pict", 2, 0}}, {Chunk("PNG ", kPng)}),
       "Problem at 0x000024: Index entry \"Pict\" 2 starts at 0x000030, the chunk of the entry before it: the format "
       "allows two entries to share a chunk, but interpreters that match entries to chunks in one pass refuse the "
       "file\n"},
      {"PNG without IHDR", Blorb({{"Pict", 1, 0}}, {Chunk("PNG ", kPng.substr(0, 23))}),
       "Problem at 0x000024: PNG chunk has no IHDR header after its signature: interpreters cannot size the picture\n"},
      {"JPEG frames", Blorb({{"Pict", 1, 0}, {"Pict", 2, 1}},
                            {Chunk("JPEG", "\xFF\xD8\xFF\xE0\0\x04xx\xFF\xFF\xC2\0\x07\x08\0\x03\0\x04"s),
                             Chunk("JPEG", "\xFF\xD8\xFF\xC4\0\x02\xFF\xDA\0\x07\x08\0\x03\0\x04"s)}),
       "Problem at 0x00004A: JPEG chunk has no frame header before its image data: interpreters cannot size the picture\n"},
      {"Rect of 7", Blorb({{"Pict", 1, 0}}, {Chunk("Rect", "\0\0\0\0\0\0\0"s)}),
       "Problem at 0x000024: Rect chunk is 7 bytes, not 8 (width and height)\n"},
      {"Fspc", with({Chunk("Fspc", Long(1))}), ""},
      {"Fspc wrong", Blorb({{"Pict", 1, 0}}, {Chunk("Rect", Long(1) + Long(1)), Chunk("Fspc", Long(1)),
                                              Chunk("Fspc", Long(2)), Chunk("Fspc", "\0\0\0\0\x01"s)}),
       "Problem at 0x000034: Fspc chunk names picture 1, a Rect, which holds no picture to show\n"
       "Problem at 0x000040: Second \"Fspc\" chunk (the first is at 0x000034): the format allows one\n"
       "Problem at 0x000040: Fspc chunk names picture 2, which the index does not have\n"
       "Problem at 0x00004C: Second \"Fspc\" chunk (the first is at 0x000034): the format allows one\n"
       "Problem at 0x00004C: Fspc chunk is 5 bytes, not 4 (a picture number)\n"},
      {"RDes filled", with({Chunk("RDes", Long(2) + "Pict" + Long(1) + Long(4) + "\xF0\x9F\x98\x80" + "Snd " +
                                              Long(7) + Long(0))}),
       ""},
      {"RDes wrong", with({Chunk("RDes", Long(3) + "Pict" + Long(1) + Long(2) + "\xC0\x80" + "Pict" + Long(1) +
                                             Long(3) + "\xED\xA0\x80" + "Data" + Long(1) + Long(0) + "x")}), 
       "Problem at 0x000068: RDes entry \"Pict\" 1 is not UTF-8 text: byte 0xC0 at 0x000074\n"
       "Problem at 0x000076: RDes entry \"Pict\" 1 repeats the entry at 0x000068\n"
       "Problem at 0x000076: RDes entry \"Pict\" 1 is not UTF-8 text: byte 0xED at 0x000082\n"
       "Problem at 0x000085: RDes entry \"Data\" 1 describes a resource the index does not have\n"
       "Problem at 0x000091: RDes chunk holds 1 byte after its 3 entries\n"},
      {"RDes cut", with({Chunk("RDes", Long(2) + "Pict" + Long(1) + Long(1) + "a" + "Pict" + Long(2) + Long(1))}),
       "Problem at 0x000075: RDes entry 2 of 2 runs past the end of the chunk\n"},
      {"Reso at its edges", with({Reso(10, 10, 10, Long(1) + Ratio(1, 1) + Ratio(0, 0) + Ratio(0, 0))}), ""},
      {"Reso wrong", with({Reso(0, 0, 0, ""), Reso(10, 11, 0, Long(1) + Ratio(0, 0) + Ratio(0, 1) + Ratio(1, 0) +
                                                              Long(1) + Ratio(1, 1) + Ratio(0, 0) + Ratio(0, 0) +
                                                              Long(2) + Ratio(1, 1) + Ratio(0, 0) + Ratio(0, 0)),
                           Chunk("Reso", std::string(25, '\0'))}),
       "Problem at 0x000064: Reso standard window width is 0\n"
       "Problem at 0x00007C: Second \"Reso\" chunk (the first is at 0x00005C): the format allows one\n"
       "Problem at 0x000084: Reso window width: minimum 11 and maximum 0 do not bracket the standard 10\n"
       "Problem at 0x00009C: Reso entry for picture 1 has a standard ratio of 0/0, which may hold no zero\n"
       "Problem at 0x00009C: Reso entry for picture 1 has a minimum ratio of 0/1, with one half zero (only 0/0, no limit, may hold a zero)\n"
       "Problem at 0x00009C: Reso entry for picture 1 has a maximum ratio of 1/0, with one half zero (only 0/0, no limit, may hold a zero)\n"
       "Problem at 0x0000B8: Reso entry for picture 1 repeats the entry at 0x00009C\n"
       "Problem at 0x0000D4: Reso entry names picture 2, which the index does not have\n"
       "Problem at 0x0000F0: Second \"Reso\" chunk (the first is at 0x00005C): the format allows one\n"
       "Problem at 0x0000F0: Reso chunk is 25 bytes, not 24 + 28 x its entries\n"},
      {"lists", with({Chunk("Loop", Long(7) + Long(0)), Chunk("APal", "")}), ""},
      {"lists wrong", with({Chunk("Loop", Long(1) + Long(0)), Chunk("APal", Long(1) + Long(7)),
                            Chunk("Loop", std::string(12, '\0')), Chunk("APal", std::string(6, '\0'))}),
       "Problem at 0x000064: \"Loop\" entry names sound 1, which the index does not have\n"
       "Problem at 0x000078: \"APal\" entry names picture 7, which the index does not have\n"
       "Problem at 0x00007C: Second \"Loop\" chunk (the first is at 0x00005C): the format allows one\n"
       "Problem at 0x00007C: \"Loop\" chunk is 12 bytes, not a multiple of 8 (sound number, repeat count)\n"
       "Problem at 0x000090: Second \"APal\" chunk (the first is at 0x00006C): the format allows one\n"
       "Problem at 0x000090: \"APal\" chunk is 6 bytes, not a multiple of 4 (picture numbers)\n"},
      {"Plte of 1", with({Chunk("Plte", "\x20")}), ""},
      {"Plte of 768", with({Chunk("Plte", std::string(768, '\0'))}), ""},
      {"Plte wrong", with({Chunk("Plte", "\x11"), Chunk("Plte", "rg"), Chunk("Plte", std::string(771, '\0'))}),
       "Problem at 0x00005C: Plte chunk is 1 byte: a palette is 1 byte holding 16 or 32, or 3 to 768 bytes of colours in threes\n"
       "Problem at 0x000066: Second \"Plte\" chunk (the first is at 0x00005C): the format allows one\n"
       "Problem at 0x000066: Plte chunk is 2 bytes: a palette is 1 byte holding 16 or 32, or 3 to 768 bytes of colours in threes\n"
       "Problem at 0x000070: Second \"Plte\" chunk (the first is at 0x00005C): the format allows one\n"
       "Problem at 0x000070: Plte chunk is 771 bytes: a palette is 1 byte holding 16 or 32, or 3 to 768 bytes of colours in threes\n"},
      {"IFhd matching", Blorb({{"Exec", 0, 0}}, {Chunk("ZCOD", kStory), Chunk("IFhd", kHeader)}), ""},
      {"IFhd alone", Blorb({}, {Chunk("IFhd", kHeader)}), ""},
      {"IFhd wrong", Blorb({{"Exec", 0, 0}}, {Chunk("ZCOD", kStory), Chunk("IFhd", "\0\x07" "260103" "\xAB\xCD" "\0\0\0"s),
                                              Chunk("IFhd", kHeader.substr(0, 12))}), 
       "Problem at 0x00004A: IFhd chunk holds release 7, serial \"260103\", checksum 0xABCD, but the Z-code story has release 7, serial \"260102\", checksum 0xABCD: interpreters take it for another story's header\n"
       "Problem at 0x000060: Second \"IFhd\" chunk (the first is at 0x00004A): the format allows one\n"
       "Problem at 0x000060: IFhd chunk is 12 bytes, not 13 (release, serial, checksum, initial PC)\n"},
      {"texts", Blorb({}, {Chunk("AUTH", " ~"), Chunk("ANNO", "a"), Chunk("ANNO", "b"), Chunk("SNam", "\0a"s)}), ""},
      {"texts wrong", Blorb({}, {Chunk("AUTH", "a\x7F"), Chunk("(c) ", "\x1F"), Chunk("SNam", "\0a\0"s)}),
       "Problem at 0x000021: AUTH chunk holds byte 0x7F, outside printable ASCII, which readers may show as garbage\n"
       "Problem at 0x00002A: (c) chunk holds byte 0x1F, outside printable ASCII, which readers may show as garbage\n"
       "Problem at 0x00002C: SNam chunk is 3 bytes, an odd length for UTF-16 text\n"},
      {"IFmd", Blorb({}, {Xml("<ifindex/>")}), ""},
      {"IFmd wrong", Blorb({}, {Xml("<story/>"), Xml("<ifindex>"), Xml("<ifindex>\xE9</ifindex>"), Xml("")}),
       "Problem at 0x000018: IFmd chunk has the root element \"story\", not \"ifindex\": it is no iFiction record\n"
       "Problem at 0x000028: Second \"IFmd\" chunk (the first is at 0x000018): the format allows one\n"
       "Problem at 0x000028: IFmd chunk is not well-formed UTF-8 XML: no element found at line 1, column 10\n"
       "Problem at 0x00003A: Second \"IFmd\" chunk (the first is at 0x000018): the format allows one\n"
       "Problem at 0x00003A: IFmd chunk is not UTF-8 text: byte 0xE9 at 0x00004B\n"
       "Problem at 0x000056: Second \"IFmd\" chunk (the first is at 0x000018): the format allows one\n"
       "Problem at 0x000056: IFmd chunk is not well-formed UTF-8 XML: no element found at line 1, column 1\n"},
      // expat reads UTF-16 by itself and finds it well-formed.
      {"IFmd UTF-16", Blorb({}, {Xml("\xFF\xFE<\0i\0/\0>\0"s), Xml("<\0i\0/\0>\0"s), Xml("\0<\0i\0/\0>"s)}),
       "Problem at 0x000018: IFmd chunk is not UTF-8 text: byte 0xFF at 0x000020, and it starts as UTF-16 does\n"
       "Problem at 0x00002A: Second \"IFmd\" chunk (the first is at 0x000018): the format allows one\n"
       "Problem at 0x00002A: IFmd chunk is not UTF-8 text: byte 0x00 at 0x000033, and it starts as UTF-16 does\n"
       "Problem at 0x00003A: Second \"IFmd\" chunk (the first is at 0x000018): the format allows one\n"
       "Problem at 0x00003A: IFmd chunk is not UTF-8 text: byte 0x00 at 0x000042, and it starts as UTF-16 does\n"},
      // A sequence cut by the end of its text, where the file ends too: the
      // check reads nothing past it.
      {"IFmd cut sequence", Blorb({}, {Xml("<ifindex/>\xE2\x82")}),
       "Problem at 0x000018: IFmd chunk is not UTF-8 text: byte 0xE2 at 0x00002A\n"},
      {"RDes cut sequence", with({Chunk("RDes", Long(1) + "Pict" + Long(1) + Long(2) + "\xE2\x82")}),
       "Problem at 0x000068: RDes entry \"Pict\" 1 is not UTF-8 text: byte 0xE2 at 0x000074\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t problems = 0;
    std::string listing = Listing(c.file, &problems);
    EXPECT_EQ(Findings(listing), c.findings) << listing;
  }
}

// What the listing says a picture or a record holds is what a reader finds: a
// JPEG's size from its frame header, not from a Huffman table (marker C4, in
// the range of the frame markers) that comes first; an IFmd title of a
// million short lines whole, which expat hands over a line at a time (the
// suite's time limit catches a title that grows by each piece alone).
TEST(ListBlorb, ListingShowsWhatReadersFind) {
  std::string title;
  for (int i = 0; i < 1000000; ++i) title += "a\n";
  std::string huffman = "\xFF\xC4\0\x09\x11\x22\x33\x44\x55\x66\x77"s;
  std::string frame = "\xFF\xC0\0\x0B\x08\0\x03\0\x04\x01\x01\x11\0"s;
  std::string file = Blorb({{"Pict", 1, 0}}, {Chunk("JPEG", "\xFF\xD8"s + huffman + frame + "\xFF\xD9"),
                                              Xml("<ifindex><story><bibliographic><title>" + title +
                                                  "</title></bibliographic></story></ifindex>")});
  size_t problems = 1;
  std::string listing = Listing(file, &problems);
  EXPECT_EQ(problems, 0u);
  EXPECT_NE(listing.find("\"JPEG\", 28 bytes, 4 x 3 pixels\n"), std::string::npos) << listing.substr(0, 600);
  std::string shown;
  for (int i = 0; i < 1000000; ++i) shown += "a\\x0A";
  EXPECT_NE(listing.find(", title \"" + shown + "\"\n"), std::string::npos);
}
