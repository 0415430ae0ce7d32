#include "driver/driver.h"

#include <cstdlib>
#include <cstring>

#include "blorb/blorb.h"
#include "common/encode.h"
#include "common/output.h"
#include "common/platform.h"
#include "common/replace.h"
#include "control/chunk.h"
#include "driver/options.h"

static char* concat(const char* base, const char* extension) {
  size_t baseLength = strlen(base);
  size_t extensionLength = strlen(extension);
  char* name = static_cast<char*>(my_malloc(baseLength + extensionLength + 1));
  memcpy(name, base, baseLength);
  memcpy(name + baseLength, extension, extensionLength + 1);
  return name;
}

// Standard output carries the constants listing that a build needs: losing it
// is a failure even when the Blorb file itself was written.
static int finish(int status) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "%s: Error: Can't write standard output.\n", MyName);
    if (status == 0) status = 1;
  }
  free(MyName);
  MyName = nullptr;
  ReleaseShown();
  return status;
}

static void print_banner() {
  printf("%s version 1.0 (Apr 20 2009), a Blorb resource packager\n", MyName);
  printf("Resource index and container writer version .5b\n");
}

static void print_usage() {
  printf("Usage is one of:\n %s in-file out-file\n %s base-name\n", MyName, MyName);
}

static void print_help() {
  printf("Usage is one of:\n %s [options] in-file out-file\n %s [options] base-name\n"
         " %s [-q] --constants control-file [include-file]\n",
         MyName, MyName, MyName);
  printf("Packs the records of the control file in-file (base-name.blc) into the Blorb\n"
         "file out-file (base-name.blorb) and lists a constant for every picture and\n"
         "sound. Exit status 0 when every record was packed, 1 when one was not or a\n"
         "file could not be opened, read or written, 2 when memory ran out or the\n"
         "options do not go together.\n"
         "Options come before the file names; -- ends them:\n"
         " -q, --quiet       no banner\n"
         " --strict          any warning fails the run, which leaves the output as it was\n"
         " --depfile FILE    writes a make rule: out-file, then every file the job reads\n"
         " --constants       writes the constants alone, as an Inform 6 include, to\n"
         "                   include-file (- or none: standard output), reading only the\n"
         "                   control file; an include that would not change is left alone\n"
         " --help            this text\n"
         " --version         the banner and the package's version\n"
         "An out-file of - is standard output; the listing then goes to standard error.\n"
         "Each record of the control file is usage, number, chunk type and argument:\n"
         " Pict 1 PNG pics/title.png     a picture (JPEG for a JPEG file)\n"
         " Snd 3 FORM sounds/chime.aiff  a sound (FORM for AIFF, OGGV for Ogg Vorbis)\n"
         " Exec 0 ZCOD game.z5           the story (GLUL for a Glulx story)\n"
         " 0 0 ANNO A two-room game.     a text, as written\n"
         " 1 0 RelN 1                    a 16-bit number (usage 3: 32 bits)\n"
         " 2 0 TEXT credits.txt          a file packed without an index entry\n"
         "See blorbpack(1).\n");
}

// Opens the control file as bytes: the reader takes "\r\n" as a line end
// itself, and a 0x1A byte is a character like any other. Null after the
// message.
static FILE* open_control(const char* name, FileStatus* info) {
  FILE* control = OpenStreamForReading(name);
  if (control == nullptr || !StatusOfDescriptor(DescriptorOfStream(control), info) || info->kind == kDirectory) {
    if (control != nullptr) fclose(control);
    ReportNameProblem(name);
    printf("%s: Error: Can't open Blorb Control File \"%s\".\n", MyName, Shown(name));
    return nullptr;
  }
  return control;
}

// Every record read, none packed: the constants alone, from the control
// file alone. Messages go where a packing run's go, unless standard output
// is the include, which then gets nothing else.
static int write_constants(const char* controlName, const char* includeName, bool quiet) {
  bool toStandardOutput = includeName == nullptr || strcmp(includeName, "-") == 0;
  int include = -1;
  if (toStandardOutput) {
    fflush(stdout);
    include = DuplicateDescriptor(1);
    if (include < 0 || !MoveStandardStream(1, 2)) {
      fprintf(stderr, "%s: Error: Can't write standard output.\n", MyName);
      return 1;
    }
  } else {
    KeepMessagesOffOutput(includeName);
  }
  if (!quiet) print_banner();
  ControlName = controlName;
  FileStatus controlInfo;
  FILE* control = open_control(controlName, &controlInfo);
  if (control == nullptr) return 1;
  FileStatus includeInfo;
  if (!toStandardOutput && StatusOfName(includeName, &includeInfo) && SameFile(&includeInfo, &controlInfo)) {
    printf("%s: Error: Blorb Control File \"%s\" is also the include file.\n", MyName, Shown(controlName));
    fclose(control);
    return 1;
  }

  ListOnly = true;
  while (!feof(control)) {
    ++Line;
    Chunk* record = ReadChunk(control);
    if (ferror(control)) {
      printf("%s: Error: Can't read Blorb Control File \"%s\".\n", MyName, Shown(controlName));
      if (record != nullptr) ReleaseChunk(record);
      break;
    }
    if (record != nullptr) ReleaseChunk(record);
  }
  ListOnly = false;
  bool failed = ferror(control) != 0;
  fclose(control);
  ResetConstantNames();
  size_t length = 0;
  char* text = TakeInclude(&length);
  // A faulty record leaves the include as it was: a build stops there.
  if (ReportNotPacked()) failed = true;
  if (!failed && toStandardOutput) {
    if (!WriteFully(include, reinterpret_cast<unsigned char*>(text), length)) {
      fprintf(stderr, "%s: Error: Can't write standard output.\n", MyName);
      failed = true;
    }
  } else if (!failed && !ReplaceIfChanged(includeName, text, length)) {
    ReportNameProblem(includeName);
    printf("%s: Error: Can't write include file \"%s\".\n", MyName, Shown(includeName));
    failed = true;
  }
  if (include >= 0) CloseDescriptor(include);
  free(text);
  return failed ? 1 : 0;
}

// Packs the job. With strict set, a warning or a record not packed leaves the
// output as it was.
static int pack(const char* controlName, const char* outputName, const char* depfile, bool strict) {
  int status = 1;
  FileStatus controlInfo;
  FILE* control = open_control(controlName, &controlInfo);
  if (control == nullptr) return 1;
  NoteDependencies = depfile != nullptr;
  Strict = strict;
  if (OpenBlorbOutput(outputName, &controlInfo)) {
    WriteBlorb(control, OutputFile);
    if (strict && (WarningsGiven > 0 || RecordsNotPacked())) {
      DiscardBlorbOutput();
      ReportNotPacked();
      printf("%s: Error: --strict: Blorb Output File \"%s\" is left as it was, for the %s above.\n", MyName,
             Shown(outputName), WarningsGiven > 0 ? "warnings" : "records not packed");
      status = 1;
    } else {
      CloseBlorbOutput();
      // The Blorb file holds every other record, but what was asked for is
      // not all there: a build must not ship it as if it were.
      status = ReportNotPacked() ? 1 : 0;
      size_t length = 0;
      char* rule = depfile != nullptr ? TakeDependencyRule(outputName, controlName, &length) : nullptr;
      if (rule != nullptr && !ReplaceIfChanged(depfile, rule, length)) {
        ReportNameProblem(depfile);
        printf("%s: Error: Can't write dependency file \"%s\".\n", MyName, Shown(depfile));
        status = 1;
      }
      free(rule);
    }
  }
  NoteDependencies = false;
  Strict = false;
  fclose(control);
  return status;
}

int BlorbpackMain(int argc, char** argv) {
  // Before anything is opened, so that no file can become standard output.
  OpenStandardDescriptors();
  InstallMemoryHandler();
  InstallSignalHandlers();
  MyName = ShortProgramName(argc > 0 && argv[0] != nullptr ? argv[0] : "blorbpack");
  // Kept as it is shown: the signal-safe messages print it as it stands.
  const char* shownName = Shown(MyName);
  if (shownName != MyName) {
    char* copy = concat(shownName, "");
    free(MyName);
    MyName = copy;
  }

  Options options;
  int first = ReadOptions(argc, argv, &options);
  int files = argc - first;
  if (options.problem != nullptr) {
    if (!options.quiet) print_banner();
    printf("%s: Error: %s.\n", MyName, options.problem);
    print_usage();
    printf("See %s --help.\n", MyName);
    return finish(2);
  }
  // The banner keeps its historic text; the release's own version follows it.
  // Given with another argument, these are file names, as they always were.
  if (files == 1 && !options.ended && strcmp(argv[first], "--version") == 0) {
    print_banner();
    printf("Package version %s\n", BLORBPACK_VERSION);
    return finish(0);
  }
  if (files == 1 && !options.ended && strcmp(argv[first], "--help") == 0) {
    if (!options.quiet) print_banner();
    print_help();
    return finish(0);
  }
  if (options.constants) {
    int status = write_constants(argv[first], files >= 2 ? argv[first + 1] : nullptr, options.quiet);
    ControlName = "";
    return finish(status);
  }

  char* controlName = nullptr;
  char* outputName = nullptr;
  if (files == 1) {
    controlName = concat(argv[first], ".blc");
    outputName = concat(argv[first], ".blorb");
  } else if (files >= 2) {
    controlName = concat(argv[first], "");
    outputName = concat(argv[first + 1], "");
  }
  if (outputName != nullptr) KeepMessagesOffOutput(outputName);
  if (!options.quiet) print_banner();
  if (files < 1) {
    print_usage();
    return finish(1);
  }
  ControlName = controlName;
  OutputName = outputName;
  int status = pack(controlName, outputName, options.depfile, options.strict);
  ControlName = "";
  OutputName = "";
  free(controlName);
  free(outputName);
  return finish(status);
}
