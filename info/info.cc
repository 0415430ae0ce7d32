#include "info/info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "info/inspect.h"

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

// The whole file, or null: after a message on standard error when it cannot
// be read, or with *tooLarge set when it holds more than any Blorb file can.
static unsigned char* read_file(const char* name, size_t* size, bool* tooLarge) {
  *size = 0;
  *tooLarge = false;
  FILE* file = fopen(name, "rb");
  if (file == nullptr) {
    fprintf(stderr, "blorbinfo: Error: Can't open \"%s\": %s\n", name, strerror(errno));
    return nullptr;
  }
  // A regular file's size is known before reading it, which spares the copies
  // of a growing buffer and reading gigabytes only to refuse them; pipes and
  // devices are read until they end.
  size_t capacity = 65536;
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    if (static_cast<uint64_t>(info.st_size) > kMaxBlorbFileSize) {
      fclose(file);
      *tooLarge = true;
      return nullptr;
    }
    capacity = static_cast<size_t>(info.st_size) + 1;  // one more, to meet the end
  }
  unsigned char* bytes = static_cast<unsigned char*>(grow(nullptr, capacity, 1));
  for (;;) {
    *size += fread(bytes + *size, 1, capacity - *size, file);
    if (*size < capacity) break;
    if (*size > kMaxBlorbFileSize) {
      *tooLarge = true;
      break;
    }
    capacity = capacity > kMaxBlorbFileSize / 2 ? kMaxBlorbFileSize + 1 : 2 * capacity;
    bytes = static_cast<unsigned char*>(grow(bytes, capacity, 1));
  }
  if (!*tooLarge && ferror(file)) {
    fprintf(stderr, "blorbinfo: Error: Can't read \"%s\": %s\n", name, strerror(errno));
    free(bytes);
    fclose(file);
    return nullptr;
  }
  fclose(file);
  if (*tooLarge) {
    free(bytes);
    return nullptr;
  }
  return bytes;
}

int BlorbinfoMain(int argc, char** argv) {
  int status = 0;
  if (argc < 2) {
    fprintf(stderr, "Usage: blorbinfo FILE...\n");
    status = 2;
  }
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    size_t size = 0;
    bool tooLarge = false;
    unsigned char* bytes = read_file(name, &size, &tooLarge);
    size_t problems = 0;
    if (bytes != nullptr) {
      problems = ListBlorb(stdout, name, bytes, size);
      free(bytes);
    } else if (tooLarge) {
      printf("%s: more than %llu bytes\n", name, wide(kMaxBlorbFileSize));
      printf("blorbinfo: %s: Problem at 0x%06llX: File goes on past %llu bytes, beyond what readers can reach\n",
             name, wide(kMaxBlorbFileSize), wide(kMaxBlorbFileSize));
      printf("%s: 1 problem\n", name);
      problems = 1;
    } else {
      status = 2;
    }
    if (problems > 0 && status == 0) status = 1;
  }
  // The listing is the whole point of a run: losing it is no success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "blorbinfo: Error: Can't write standard output.\n");
    status = 2;
  }
  return status;
}
