#include "driver/driver.h"

#include <cstdlib>
#include <cstring>

#include "blorb/blorb.h"
#include "common/encode.h"
#include "common/output.h"
#include "common/platform.h"
#include "control/chunk.h"

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
  printf("%s version 1.0 (Apr 20 2009), a Blorb resource packager\n", MyName);
  printf("Resource index and container writer version .5b\n");

  if (argc < 2) {
    printf("Usage is one of:\n %s in-file out-file\n %s base-name\n", MyName, MyName);
    return finish(1);
  }
  // The banner above is the version. Given with another argument, these are
  // file names, as they always were.
  if (argc == 2 && strcmp(argv[1], "--version") == 0) return finish(0);
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    printf("Usage is one of:\n %s in-file out-file\n %s base-name\n", MyName, MyName);
    printf("Packs the records of the control file in-file (base-name.blc) into the Blorb\n"
           "file out-file (base-name.blorb) and lists a constant for every picture and\n"
           "sound. Exit status 0 when every record was packed, 1 when one was not or a\n"
           "file could not be opened, read or written, 2 when memory ran out.\n"
           " %s --help      this text\n"
           " %s --version   the banner alone\n"
           "See blorbpack(1).\n",
           MyName, MyName);
    return finish(0);
  }
  char* controlName;
  char* outputName;
  if (argc == 2) {
    controlName = concat(argv[1], ".blc");
    outputName = concat(argv[1], ".blorb");
  } else {
    controlName = concat(argv[1], "");
    outputName = concat(argv[2], "");
  }
  ControlName = controlName;
  OutputName = outputName;

  int status = 1;
  // Read as bytes: the reader takes "\r\n" as a line end itself, and a 0x1A
  // byte is a character like any other.
  FILE* control = OpenStreamForReading(controlName);
  FileStatus controlInfo;
  if (control == nullptr || !StatusOfDescriptor(DescriptorOfStream(control), &controlInfo) ||
      controlInfo.kind == kDirectory) {
    ReportNameProblem(controlName);
    printf("%s: Error: Can't open Blorb Control File \"%s\".\n", MyName, Shown(controlName));
  } else if (OpenBlorbOutput(outputName, &controlInfo)) {
    WriteBlorb(control, OutputFile);
    CloseBlorbOutput();
    // The Blorb file holds every other record, but what was asked for is not
    // all there: a build must not ship it as if it were.
    status = ReportNotPacked() ? 1 : 0;
  }
  if (control != nullptr) fclose(control);
  ControlName = "";
  OutputName = "";
  free(controlName);
  free(outputName);
  return finish(status);
}
