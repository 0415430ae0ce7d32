#include "info/info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "info/inspect.h"
#include "info/source.h"
#include "info/unpack.h"

size_t ListBlorb(FILE* out, const char* name, const unsigned char* bytes, size_t size) {
  Report report = {out, name, 0};
  char formType[kQuotedIdSize];
  if (size < kContainerHeaderSize) {
    fprintf(out, "%s: %llu %s, no form type\n", name, wide(size), plural(size, "byte", "bytes"));
    problem(&report, 0, "File is %llu %s, too short for the container header (\"FORM\", length, \"IFRS\")",
            wide(size), plural(size, "byte", "bytes"));
  } else {
    fprintf(out, "%s: %llu bytes, form type %s\n", name, wide(size), quoted(bytes + 8, formType));
    Walk walk = walk_chunks(bytes, size);
    Index index = find_index(bytes, size, &walk);
    if (index.found) list_entries(out, name, bytes, &walk, &index);
    list_chunks(out, name, bytes, size, &walk);
    // Problems in the order a reader meets them when the file is sound: the
    // header, the index and its entries, then the chunks.
    check_container(&report, bytes, size);
    check_index(&report, bytes, &walk, &index);
    check_chunks(&report, bytes, size, &walk, &index);
    free(walk.offsets);
  }
  if (report.problems == 0) {
    fprintf(out, "%s: no problems\n", name);
  } else {
    fprintf(out, "%s: %llu %s\n", name, wide(report.problems), plural(report.problems, "problem", "problems"));
  }
  return report.problems;
}

int BlorbinfoMain(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "--unpack") == 0) return UnpackMain(argc, argv);
  int status = 0;
  if (argc < 2) {
    fprintf(stderr, "Usage: blorbinfo FILE...\n       blorbinfo --unpack DIR FILE\n");
    status = 2;
  }
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    BlorbSource source;
    size_t problems = 0;
    if (!OpenBlorb(name, &source)) {
      status = 2;
    } else if (source.tooLarge) {
      printf("%s: more than %llu bytes\n", name, wide(kMaxBlorbFileSize));
      printf("blorbinfo: %s: Problem at 0x%06llX: File goes on past %llu bytes, beyond what readers can reach\n",
             name, wide(kMaxBlorbFileSize), wide(kMaxBlorbFileSize));
      printf("%s: 1 problem\n", name);
      problems = 1;
    } else {
      problems = ListBlorb(stdout, name, source.bytes, source.size);
    }
    CloseBlorb(&source);
    if (problems > 0 && status == 0) status = 1;
  }
  // The listing is the whole point of a run: losing it is no success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "blorbinfo: Error: Can't write standard output.\n");
    status = 2;
  }
  return status;
}
