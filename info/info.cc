#include "info/info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "info/layout.h"
#include "info/source.h"
#include "info/unpack.h"

size_t ListBlorb(FILE* out, const char* name, const unsigned char* bytes, size_t size) {
  Report report = {out, name, 0};
  char formType[kQuotedIdSize];
  begin_line(out, name);
  if (!is_iff(bytes, size)) {
    // Walking chunks through a story or a picture would only list nonsense.
    fprintf(out, "%llu %s, no form type\n", wide(size), plural(size, "byte", "bytes"));
    check_not_iff(&report, bytes, size);
  } else if (size < kContainerHeaderSize) {
    fprintf(out, "%llu %s, no form type\n", wide(size), plural(size, "byte", "bytes"));
    problem(&report, 0, "File is %llu %s, too short for the container header (\"FORM\", length, \"IFRS\")",
            wide(size), plural(size, "byte", "bytes"));
  } else {
    fprintf(out, "%llu bytes, form type %s\n", wide(size), quoted(bytes + 8, formType));
    Walk walk = walk_chunks(bytes, size);
    Index index = find_index(bytes, size, &walk);
    Resources resources = find_resources(bytes, size, &walk, &index);
    if (index.found) list_entries(out, name, bytes, &walk, &index, &resources);
    list_chunks(out, name, bytes, size, &walk);
    // Problems in the order a reader meets them when the file is sound: the
    // header, the index and its entries, then the chunks. The chunks of an
    // IFF file of another form type are listed but not held to Blorb's rules.
    const Entry* story = find_entry(&resources, reinterpret_cast<const unsigned char*>("Exec"), 0);
    check_container(&report, bytes, size, story != nullptr && story->chunk != nullptr && is_id(story->chunk, "ADRI"));
    if (is_id(bytes + 8, "IFRS")) {
      check_index(&report, bytes, &walk, &index);
      check_chunks(&report, bytes, size, &walk, &index, &resources);
    }
    free_resources(&resources);
    free(walk.offsets);
  }
  begin_line(out, name);
  if (report.problems == 0) {
    fprintf(out, "no problems\n");
  } else {
    fprintf(out, "%llu %s\n", wide(report.problems), plural(report.problems, "problem", "problems"));
  }
  return report.problems;
}

static const char kUsage[] =
    "Usage: blorbinfo FILE...\n"
    "       blorbinfo --unpack DIR FILE\n";

// In the form of the packager's banner, whose release it shares.
static const char kVersion[] = "blorbinfo version 1.0 (Apr 20 2009), a Blorb file lister and checker\n";

static const char kHelp[] =
    "Usage: blorbinfo FILE...\n"
    "       blorbinfo --unpack DIR FILE\n"
    "Lists what each Blorb FILE holds and checks it against what interpreters accept;\n"
    "with --unpack, takes FILE apart into DIR for blorbpack to pack again.\n"
    "\n"
    "Every line starts with the file's name, escaped as texts are, and \": \":\n"
    "  game.zblorb: 1600 bytes, form type \"IFRS\"\n"
    "  game.zblorb: index entry at 0x000018: \"Pict\" 1, start 0x000054: \"PNG \", 73 bytes\n"
    "  game.zblorb: chunk at 0x000054: \"PNG \", 73 bytes, 2 x 2 pixels\n"
    "  game.zblorb: chunk at 0x00023A: \"ZCOD\", 900 bytes, story: Z-code version 5, release 1, serial \"261208\"\n"
    "  game.zblorb: no problems\n"
    "  old.blorb: Problem at 0x000024: Index entry \"Snd \" 3: chunk type \"AIFF\" is not a sound type: ...\n"
    "  old.blorb: Note at 0x000030: Index entry \"Pict\" 2: chunk type \"GIF \" is read only by some ...\n"
    "  old.blorb: 1 problem\n"
    "The listing shows the index entries with their RDes descriptions, then every chunk\n"
    "with what it holds: picture sizes, the story's kind and version, form types, texts,\n"
    "numbers, and the title, author and IFID of the IFmd record. Texts are quoted, with\n"
    "\\\", \\\\ and \\xHH for quotes, backslashes and bytes outside printable ASCII.\n"
    "\n"
    "Checks: the container (FORM, its length, IFRS); the index (first, alone, sized by\n"
    "its count, entries in chunk order at real chunks, no pair twice, one Exec, numbered\n"
    "0); every chunk inside the file and padded; each resource's type against its usage,\n"
    "and its data (signatures, picture sizes, Rect, Z-code version); Fspc, RDes, Reso,\n"
    "Loop, APal, Plte, RelN, IFhd, AUTH, (c), ANNO, SNam and IFmd by their own rules,\n"
    "each at most once. GIF, WAV, MIDI and MP3 resources get a Note line, which is no\n"
    "problem: only some interpreters read them.\n"
    "\n"
    "Unpacking creates DIR (or takes an empty one) and writes into it NAME.blc, NAME\n"
    "being FILE's name without its extension, and one file per chunk that needs one:\n"
    "  blorbinfo --unpack game game.zblorb\n"
    "  game.zblorb: unpacked into \"game\": \"game.blc\" and 6 files; blorbpack re-packs them byte for byte\n"
    "  cd game && blorbpack game        (writes game/game.blorb, the same bytes)\n"
    "What blorbpack cannot reproduce is told one reason a line, and the status is 1:\n"
    "  old.blorb: Cannot re-pack at 0x000024: Index entry \"Pict\" 2 names the chunk at ...\n"
    "\n"
    "Exit status: 0 every file passes (unpacking: re-packs byte for byte), 1 a problem\n"
    "was found (unpacking: a reason), 2 a file could not be read or written, no file\n"
    "was named, DIR was not empty, standard output was lost or memory ran out.\n"
    "blorbinfo --help and blorbinfo --version print this text and the version.\n"
    "See blorbinfo(1).\n";

// Room for a line that stays whole on standard output: see BlorbinfoMain.
constexpr size_t kLineRoom = 64 * 1024;

int BlorbinfoMain(int argc, char** argv) {
  bool help = argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "--version") == 0);
  // A file cut short while it is read ends the run in the guard, where
  // nothing more can be written: what was written by then must be whole
  // lines, so standard output passes on each line once it is complete, not
  // blocks that end in the middle of one.
  if (!help) setvbuf(stdout, nullptr, _IOLBF, kLineRoom);
  if (argc >= 2 && strcmp(argv[1], "--unpack") == 0) return UnpackMain(argc, argv);
  int status = 0;
  if (help) {
    fputs(strcmp(argv[1], "--help") == 0 ? kHelp : kVersion, stdout);
    argc = 1;  // no file to list
  } else if (argc < 2) {
    fputs(kUsage, stderr);
    fputs("Try 'blorbinfo --help' for the checks, the listing and unpacking.\n", stderr);
    status = 2;
  }
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    BlorbSource source;
    size_t problems = 0;
    if (!OpenBlorb(name, &source)) {
      status = 2;
    } else if (source.tooLarge) {
      Report report = {stdout, name, 0};
      begin_line(stdout, name);
      printf("more than %llu bytes\n", wide(kMaxBlorbFileSize));
      problem(&report, kMaxBlorbFileSize, "File goes on past %llu bytes, beyond what readers can reach",
              wide(kMaxBlorbFileSize));
      begin_line(stdout, name);
      printf("1 problem\n");
      problems = 1;
    } else {
      problems = ListBlorb(stdout, name, source.bytes, source.size);
    }
    CloseBlorb(&source);
    // An unreadable file's status 2 outranks any number of problems.
    if (problems > 0 && status == 0) status = 1;
  }
  // The listing is the whole point of a run: losing it is no success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "blorbinfo: Error: Can't write standard output.\n");
    status = 2;
  }
  return status;
}
