#include "common/output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "common/faults.h"

// Where the output's name leads (links followed), what stood there when the
// run began (kind kNoFile when nothing did), and the file being written.
static char* FinalName = nullptr;
static FileStatus Replaced;
static FileStatus Written;
static bool WrittenDirectly = false;

static void forget_output() {
  free(FinalName);
  FinalName = nullptr;
  memset(&Replaced, 0, sizeof Replaced);
  memset(&Written, 0, sizeof Written);
  WrittenDirectly = false;
}

// A Blorb file, even one cut short by an earlier run, begins with "FORM", a
// length and "IFRS". Other IFF files (AIFF sounds, saved games) begin with
// "FORM" too; they, and anything else in its place, were most likely named by
// mistake. A file that cannot be read cannot be told apart, and stays.
static bool looks_like_blorb(const char* name) {
  FILE* file = OpenStreamForReading(name);
  if (file == nullptr) return false;
  char start[12];
  bool blorb = fread(start, 1, sizeof start, file) == sizeof start && memcmp(start, "FORM", 4) == 0 &&
               memcmp(start + 8, "IFRS", 4) == 0;
  fclose(file);
  return blorb;
}

// The standard streams (1 and 2) that were the output file when the run began,
// before the messages were moved off them.
static bool StreamWasOutput[3] = {false, false, false};

static bool is_standard_stream(int descriptor) {
  FileStatus stream;
  return StreamWasOutput[descriptor] ||
         (StatusOfDescriptor(descriptor, &stream) && SameFile(&stream, &Replaced));
}

void KeepMessagesOffOutput(const char* name) {
  FileStatus output;
  FileStatus stream;
  for (int descriptor = 1; descriptor <= 2; ++descriptor) {
    StreamWasOutput[descriptor] = StatusOfName(name, &output) && output.kind == kRegularFile &&
                                  StatusOfDescriptor(descriptor, &stream) && SameFile(&stream, &output);
  }
  fflush(stdout);
  fflush(stderr);
  if (StreamWasOutput[1]) MoveStandardStream(1, StreamWasOutput[2] ? -1 : 2);
  if (StreamWasOutput[2]) MoveStandardStream(2, StreamWasOutput[1] ? -1 : 1);
}

// "-" is standard output, whatever it is: the Blorb file goes there as it is
// written, and the messages and the listing go to standard error instead.
static bool open_standard_output(const FileStatus* control) {
  StatusOfDescriptor(1, &Replaced);
  const char* refusal = nullptr;
  if (SameFile(&Replaced, control)) {
    printf("%s: Error: Blorb Control File \"%s\" is also the output file.\n", MyName, Shown(ControlName));
    return false;
  }
  if (!Replaced.isDevice && is_standard_stream(2)) refusal = "is also standard error";
  int descriptor = refusal == nullptr ? TakeStandardOutput() : -1;
  if (descriptor >= 0) {
    WrittenDirectly = true;
    StatusOfDescriptor(descriptor, &Written);
    OutputFile = OutputStream(descriptor);
    if (OutputFile == nullptr) CloseDescriptor(descriptor);
  }
  if (refusal != nullptr) {
    printf("%s: Error: Blorb Output File \"-\" %s.\n", MyName, refusal);
  } else if (OutputFile == nullptr) {
    printf("%s: Error: Can't open Blorb Output File \"-\"\n.", MyName);
  }
  return OutputFile != nullptr;
}

bool OpenBlorbOutput(const char* name, const FileStatus* control) {
  forget_output();
  if (strcmp(name, "-") == 0) {
    if (open_standard_output(control)) return true;
    forget_output();
    return false;
  }
  FinalName = ResolveLinks(name);
  if (FinalName == nullptr && errno == EACCES) {
    printf("%s: Error: Blorb Output File \"%s\" is a symbolic link that another user made in a shared folder.\n",
           MyName, Shown(name));
    return false;
  }
  if (FinalName == nullptr) {
    printf("%s: Error: Can't open Blorb Output File \"%s\"\n.", MyName, Shown(name));
    return false;
  }
  // Some names lead to a file only through the system's own links, which
  // point nowhere that can be named (/dev/stdout on a pipe).
  if (!StatusOfName(FinalName, &Replaced) && StatusOfName(name, &Replaced)) {
    FinalName = static_cast<char*>(my_realloc(FinalName, strlen(name) + 1));
    strcpy(FinalName, name);
  }

  // A folder cannot be replaced by a file, nor can an empty name be made one:
  // told now rather than after every record was read.
  if (name[0] == '\0' || Replaced.kind == kDirectory) {
    printf("%s: Error: Can't open Blorb Output File \"%s\"\n.", MyName, Shown(name));
    forget_output();
    return false;
  }
  const char* refusal = nullptr;
  if (SameFile(&Replaced, control)) {
    printf("%s: Error: Blorb Control File \"%s\" is also the output file.\n", MyName, Shown(ControlName));
    forget_output();
    return false;
  }
  // A device such as /dev/null may well be standard output too; a file or a
  // pipe would get the messages mixed into the Blorb data.
  if (Replaced.kind != kNoFile && Replaced.kind != kDirectory && !Replaced.isDevice) {
    if (is_standard_stream(1)) {
      refusal = "is also standard output";
    } else if (is_standard_stream(2)) {
      refusal = "is also standard error";
    }
  }
  if (refusal == nullptr && Replaced.kind == kRegularFile && Replaced.size > 0 && !looks_like_blorb(FinalName)) {
    refusal = "exists and is not a Blorb file";
  }
  if (refusal != nullptr) {
    printf("%s: Error: Blorb Output File \"%s\" %s.\n", MyName, Shown(name), refusal);
    forget_output();
    return false;
  }

  int descriptor = -1;
  const char* problem = nullptr;
  if (Replaced.kind == kOtherFile) {
    WrittenDirectly = true;
    descriptor = OpenForWriting(FinalName);
  } else if (Replaced.kind == kNoFile || CanWrite(FinalName)) {
    // A file its owner made read-only stays as it is, as when it was opened
    // for writing in place.
    descriptor = CreateTemporary(FinalName);
    if (descriptor < 0) problem = TemporaryProblem();
  }
  if (descriptor >= 0) {
    StatusOfDescriptor(descriptor, &Written);
    OutputFile = OutputStream(descriptor);
    if (OutputFile == nullptr) {
      CloseDescriptor(descriptor);
      RemoveTemporary();
    }
  }
  if (problem != nullptr) {
    printf("%s: Error: Blorb Output File \"%s\" cannot be replaced: %s.\n", MyName, Shown(name), Shown(problem));
    forget_output();
    return false;
  }
  if (OutputFile == nullptr) {
    ReportNameProblem(name);
    printf("%s: Error: Can't open Blorb Output File \"%s\"\n.", MyName, Shown(name));
    forget_output();
    return false;
  }
  return true;
}

bool OutputIsStream() { return WrittenDirectly; }

void CloseBlorbOutput() {
  FILE* output = OutputFile;
  OutputFile = nullptr;
  if (fclose(output) != 0) {
    printf("%s: Error: Can't write Blorb Output File \"%s\".\n", MyName, Shown(OutputName));
    AbandonOutput();
  }
  // The listing belongs to the result as much as the file: a build that
  // lost it must not find a new file in place either.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "%s: Error: Can't write standard output.\n", MyName);
    RemoveTemporary();
    exit(1);
  }
  if (!WrittenDirectly && !ReplaceOutput(FinalName)) {
    printf("%s: Error: Can't write Blorb Output File \"%s\".\n", MyName, Shown(OutputName));
    AbandonOutput();
  }
  forget_output();
}

void DiscardBlorbOutput() {
  fclose(OutputFile);
  OutputFile = nullptr;
  RemoveTemporary();
  forget_output();
}

bool IsOutputFile(const FileStatus* status) {
  return SameFile(status, &Replaced) || SameFile(status, &Written);
}

void AbandonOutput() {
  fflush(stdout);
  if (OutputFile != nullptr) fclose(OutputFile);
  OutputFile = nullptr;
  RemoveTemporary();
  exit(1);
}

// Also called from a signal handler, so only async-signal-safe calls, and
// nothing that touches the heap or the output stream, which may be mid-update.
// Standard output is flushed all the same, so that the messages before the
// failure are not lost: the only accesses that can fault are reads of mapped
// resource data, and none of those happens inside a call on stdout.
[[noreturn]] static void resource_failed(const char* what) {
  fflush(stdout);
  WriteStandardError(MyName != nullptr ? MyName : "blorbpack");
  WriteStandardError(": Error: A resource file was ");
  WriteStandardError(what);
  WriteStandardError(" while it was being packed.\n");
  RemoveTemporary();
  _Exit(1);
}

void ResourceCutShort() { resource_failed("cut short"); }

void ResourceChanged() { resource_failed("changed"); }
