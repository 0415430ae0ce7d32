// blorbinfo on arbitrary bytes. Properties:
// - whatever the bytes, listing and checking them ends without reading
//   outside them, without undefined behaviour and without leaks;
// - a file that passes holds the container header and the index where every
//   reader looks for them, and cutting its last byte off always leaves
//   problems to report, since a reader would find that file cut short;
// - unpacking the bytes gives a control file and chunk files from which the
//   packager, run here in-process on them as blorbpack would run in that
//   folder, packs exactly the same bytes when the unpacking said it would,
//   and other bytes when it gave reasons why not: every reason is a real one.
//
// The unpacking goes to a scratch folder that each process makes afresh
// (mkdtemp, under TMPDIR) and empties after each input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <unistd.h>

#include "blorb/blorb.h"
#include "common/encode.h"
#include "info/info.h"
#include "info/source.h"
#include "info/unpack.h"

namespace {

FILE* Sink = nullptr;
std::string Scratch;
char ProgramName[] = "blorbpack";

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveTree(const std::string& path) { nftw(path.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS); }

void RemoveScratch() {
  if (!Scratch.empty()) RemoveTree(Scratch);
}

void Require(bool holds, const char* what) {
  if (holds) return;
  fprintf(stderr, "blorbinfo_fuzz: %s\n", what);
  RemoveScratch();
  abort();
}

// Once per process, from LLVMFuzzerInitialize or from the first input of a
// replay, which has no such call.
void Prepare() {
  if (Sink != nullptr) return;
  Sink = fopen("/dev/null", "w");
  Require(Sink != nullptr, "cannot open /dev/null");
  // The packager prints its constants listing, which is not what is checked.
  Require(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                        "/blorbinfo-fuzz-XXXXXX";
  Require(mkdtemp(&pattern[0]) != nullptr, "cannot make the scratch folder");
  Scratch = pattern;
  atexit(RemoveScratch);
  MyName = ProgramName;
}

// What the packager makes of the unpacked folder, as "cd DIR && blorbpack
// fuzz" makes of it.
std::string Repack(const std::string& dir) {
  int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Require(home >= 0 && chdir(dir.c_str()) == 0, "cannot enter the unpacked folder");
  FILE* control = fopen("fuzz.blc", "r");
  Require(control != nullptr, "no control file fuzz.blc");
  FILE* output = fopen("fuzz.blorb", "w+b");
  Require(output != nullptr, "cannot create the re-packed file");
  OutputFile = output;
  OutputName = "fuzz.blorb";
  ControlName = "fuzz.blc";
  // The packager's warnings about what the input holds would bury libFuzzer's
  // output: its stream goes to the sink meanwhile. Sanitizer reports are
  // written to the descriptor itself and still reach the terminal.
  FILE* messages = stderr;
  stderr = Sink;
  WriteBlorb(control, output);
  stderr = messages;
  ResetBlorb();
  std::string bytes;
  Require(fseeko(output, 0, SEEK_SET) == 0, "cannot rewind the re-packed file");
  char block[65536];
  size_t got;
  while ((got = fread(block, 1, sizeof block, output)) > 0) bytes.append(block, got);
  Require(!ferror(output), "cannot read the re-packed file back");
  fclose(output);
  fclose(control);
  OutputFile = nullptr;
  OutputName = "";
  ControlName = "";
  Require(fchdir(home) == 0, "cannot leave the unpacked folder");
  close(home);
  return bytes;
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
  std::string dir = Scratch + "/unpacked";
  BlorbSource source = {data, size, false, -1, false};
  int status = UnpackBlorb(Sink, dir.c_str(), "fuzz.blorb", &source);
  Require(status == 0 || status == 1, "unpacking failed");
  std::string repacked = Repack(dir);
  bool same = repacked.size() == size && (size == 0 || memcmp(repacked.data(), data, size) == 0);
  if (status == 0) Require(same, "the unpacked files re-pack into other bytes, though no reason was given");
  if (status == 1) Require(!same, "a reason was given, but the unpacked files re-pack byte for byte");
  RemoveTree(dir);
}

void CheckListing(const uint8_t* data, size_t size) {
  if (ListBlorb(Sink, "fuzz", data, size) != 0) return;
  Require(size >= 24 && memcmp(data, "FORM", 4) == 0 && memcmp(data + 8, "IFRS", 4) == 0 &&
              memcmp(data + 12, "RIdx", 4) == 0,
          "a file passes without the container header and the index where readers look");
  // A copy of exactly the shorter size, so that reading the byte that is no
  // longer there is caught.
  unsigned char* cut = static_cast<unsigned char*>(malloc(size - 1));
  memcpy(cut, data, size - 1);
  size_t problems = ListBlorb(Sink, "fuzz", cut, size - 1);
  free(cut);
  Require(problems != 0, "a file cut short by one byte passes");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Prepare();
  CheckListing(data, size);
  CheckRoundTrip(data, size);
  return 0;
}
