// Fuzz target: the whole packaging job on arbitrary control-file bytes.
//
// Property: whatever the control file holds, the job ends without a crash, a
// sanitizer report or an exit(), and the file it writes is a well-formed Blorb
// file: "FORM", a length equal to the file size minus 8, "IFRS", the "RIdx"
// index, then one chunk per record read, back to back, each even-aligned and
// inside the file, ending exactly at its end; every index entry's start points
// at the chunk of the record it stands for, under that record's usage and
// number. The expected layout is worked out here from the records the reader
// made, with none of the writer's code, so a writer that agrees with itself
// is not enough.
//
// Each input is read twice from the same bytes: once through BuildIndex alone,
// to take a copy of the records, then through WriteBlorb for the file. Between
// the two and after them the program-wide state goes back to its start, and
// each input first checks that it found it there.
//
// Resource names are confined to a scratch directory made fresh for each
// process: the job runs with it as its current directory, and every '/' of the
// input becomes '_' before the job sees it, so a name can only reach an entry
// of that directory ("." and ".." are directories, which are refused). Devices
// such as /dev/zero, which would be read up to 2 GiB, and the rest of the
// machine stay out of reach, and the packager itself is not changed for it.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "blorb/blorb.h"
#include "common/encode.h"
#include "control/chunk.h"

namespace {

// Files in the scratch directory; the seed corpus names them. big.bin is just
// large enough to be mapped rather than read.
struct ScratchFile {
  const char* name;
  std::string bytes;
};

const ScratchFile kScratchFiles[] = {
    {"title.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\0IEND", 16)},
    {"chime.aiff", std::string("FORM\0\0\0\x04" "AIFF", 12)},
    {"odd.txt", "abc"},
    {"a b.txt", "two words\n"},
    {"empty", ""},
    {"big.bin", std::string(256 * 1024, 'B')},
};

std::string ScratchDir;
int ScratchFd = -1;
char ProgramName[] = "blorbpack";

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveScratch() {
  if (!ScratchDir.empty()) nftw(ScratchDir.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

constexpr size_t kNowhere = SIZE_MAX;

void Require(bool holds, const char* what, size_t offset = kNowhere) {
  if (holds) return;
  if (offset == kNowhere) {
    fprintf(stderr, "control_fuzz: %s\n", what);
  } else {
    fprintf(stderr, "control_fuzz: %s (at byte %zu of the output)\n", what, offset);
  }
  RemoveScratch();
  abort();
}

void WriteScratchFile(const ScratchFile& file) {
  std::string path = ScratchDir + "/" + file.name;
  FILE* stream = fopen(path.c_str(), "wb");
  Require(stream != nullptr, "cannot create a scratch file");
  Require(fwrite(file.bytes.data(), 1, file.bytes.size(), stream) == file.bytes.size(),
          "cannot fill a scratch file");
  Require(fclose(stream) == 0, "cannot close a scratch file");
}

void MakeScratch() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                        "/blorbpack-fuzz-XXXXXX";
  Require(mkdtemp(&pattern[0]) != nullptr, "cannot make the scratch directory");
  ScratchDir = pattern;
  atexit(RemoveScratch);
  for (const ScratchFile& file : kScratchFiles) WriteScratchFile(file);
  Require(mkdir((ScratchDir + "/dir").c_str(), 0700) == 0, "cannot make a scratch subdirectory");
  ScratchFd = open(ScratchDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Require(ScratchFd >= 0, "cannot open the scratch directory");
}

// What the reader made of one record, taken before the writer releases it.
struct Record {
  std::string type;
  std::string usage;
  int32_t number;
  std::string data;
};

std::string Padded(const char* id) {
  std::string text(id, strnlen(id, 4));
  text.resize(4, ' ');
  return text;
}

uint32_t BigEndian(const std::string& bytes, size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void RequireStartState() {
  Require(Blorb == nullptr && Chunks == 1 && IndexEntries == 0 && Line == 0 && RecordLine == 0 &&
              headerPrinted == 0 && PackedSize == kEmptyBlorbSize,
          "the program-wide state did not go back to its start");
}

FILE* ControlStream(std::string* text) {
  // fmemopen wants a buffer even for no bytes.
  char* buffer = text->empty() ? ProgramName : &(*text)[0];
  FILE* control = fmemopen(buffer, text->size(), "r");
  Require(control != nullptr, "cannot open the control stream");
  return control;
}

std::vector<Record> ReadRecords(std::string* text) {
  FILE* control = ControlStream(text);
  BuildIndex(control);
  fclose(control);
  std::vector<Record> records;
  int32_t indexed = 0;
  for (int32_t slot = 1; slot < Chunks; ++slot) {
    const Chunk* chunk = Blorb[slot];
    Require(chunk->length >= 0 && (chunk->length == 0 || chunk->data != nullptr),
            "a record has no data for its length");
    records.push_back({chunk->type, chunk->usage, chunk->number,
                       std::string(reinterpret_cast<const char*>(chunk->data),
                                   static_cast<size_t>(chunk->length))});
    if (records.back().usage != "0") ++indexed;
  }
  Require(IndexEntries == indexed, "the index count differs from the indexed records");
  ResetBlorb();
  RequireStartState();
  return records;
}

std::string WrittenFile(std::string* text, FILE* output) {
  FILE* control = ControlStream(text);
  WriteBlorb(control, output);
  fclose(control);
  ResetBlorb();
  RequireStartState();
  std::string bytes;
  Require(fseeko(output, 0, SEEK_SET) == 0, "cannot rewind the output");
  char block[65536];
  size_t got;
  while ((got = fread(block, 1, sizeof block, output)) > 0) bytes.append(block, got);
  Require(!ferror(output), "cannot read the output back");
  return bytes;
}

void CheckFile(const std::string& file, const std::vector<Record>& records) {
  Require(file.size() >= 24, "the file is shorter than an empty Blorb file");
  Require(file.compare(0, 4, "FORM") == 0, "no FORM");
  Require(BigEndian(file, 4) == file.size() - 8, "the container length is not the size minus 8", 4);
  Require(file.compare(8, 8, "IFRSRIdx") == 0, "no IFRS and RIdx", 8);

  size_t indexed = 0;
  for (const Record& record : records) {
    if (record.usage != "0") ++indexed;
  }
  std::vector<size_t> starts;
  size_t position = 24 + 12 * indexed;
  Require(BigEndian(file, 16) == 4 + 12 * indexed, "wrong index length", 16);
  Require(BigEndian(file, 20) == indexed, "wrong index count", 20);

  for (const Record& record : records) {
    Require(position % 2 == 0, "a chunk starts at an odd offset", position);
    starts.push_back(position);
    size_t header = record.type == "FORM" ? 0 : 8;
    size_t size = header + record.data.size() + record.data.size() % 2;
    Require(position + size <= file.size(), "a chunk runs past the end of the file", position);
    if (header != 0) {
      Require(file.compare(position, 4, Padded(record.type.c_str())) == 0, "wrong chunk type", position);
      Require(BigEndian(file, position + 4) == record.data.size(), "wrong chunk length", position + 4);
    }
    Require(file.compare(position + header, record.data.size(), record.data) == 0,
            "the chunk data differs from the record's", position + header);
    if (record.data.size() % 2 != 0) {
      Require(file[position + size - 1] == '\0', "the pad byte is not zero", position + size - 1);
    }
    position += size;
  }
  Require(position == file.size(), "the chunks do not end where the file ends", position);

  size_t entry = 24;
  for (size_t k = 0; k < records.size(); ++k) {
    const Record& record = records[k];
    if (record.usage == "0") continue;
    Require(file.compare(entry, 4, Padded(record.usage.c_str())) == 0, "wrong usage in an index entry",
            entry);
    Require(BigEndian(file, entry + 4) == static_cast<uint32_t>(record.number),
            "wrong number in an index entry", entry + 4);
    uint32_t start = BigEndian(file, entry + 8);
    Require(start == starts[k], "an index entry does not point at its chunk", entry + 8);
    entry += 12;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Messages and the constants listing are not what is checked here.
  Require(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
  MakeScratch();
  MyName = ProgramName;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RequireStartState();
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text) {
    if (c == '/') c = '_';
  }

  int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Require(home >= 0 && fchdir(ScratchFd) == 0, "cannot enter the scratch directory");
  // A file with no name, which no record can reach: a record that names the
  // output ends a real run, and here would end the fuzzer.
  FILE* output = tmpfile();
  Require(output != nullptr, "cannot create the output");
  OutputFile = output;
  OutputName = "out.blorb";
  ControlName = "control";

  std::vector<Record> records = ReadRecords(&text);
  std::string file = WrittenFile(&text, output);
  CheckFile(file, records);

  fclose(output);
  OutputFile = nullptr;
  OutputName = "";
  ControlName = "";
  Require(fchdir(home) == 0, "cannot leave the scratch directory");
  close(home);
  return 0;
}
