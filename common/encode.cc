#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "common/encode.h"

char* MyName = nullptr;
int64_t Line = 0;
const char* ControlName = "";
const char* OutputName = "";
FILE* OutputFile = nullptr;

// Only a regular file is ours to delete: the output may be a device. Safe in
// a signal handler.
static void discard_output() {
  struct stat info;
  if (OutputName[0] != '\0' && stat(OutputName, &info) == 0 && S_ISREG(info.st_mode)) {
    unlink(OutputName);
  }
}

void AbandonOutput() {
  fflush(stdout);
  if (OutputFile != nullptr) fclose(OutputFile);
  OutputFile = nullptr;
  discard_output();
  exit(1);
}

static void write_text(const char* text) {
  ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
  (void)ignored;
}

// Also called from a signal handler, so only async-signal-safe calls, and
// nothing that touches the heap or the output stream, which may be mid-update.
// Standard output is flushed all the same, so that the messages before the
// failure are not lost: the only accesses that can fault are reads of mapped
// resource data, and none of those happens inside a call on stdout.
void ResourceCutShort() {
  fflush(stdout);
  write_text(MyName != nullptr ? MyName : "blorbpack");
  write_text(": Error: A resource file was cut short while it was being packed.\n");
  discard_output();
  _exit(1);
}

static void mapping_lost(int) { ResourceCutShort(); }

void InstallMappingGuard() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = mapping_lost;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

void write_int(FILE* stream, uint32_t value) {
  unsigned char bytes[4];
  str_long(bytes, value);
  fwrite(bytes, 1, 4, stream);
}

void write_id(FILE* stream, const char* text) {
  size_t length = strlen(text);
  fwrite(text, 1, length, stream);
  for (; length < 4; ++length) putc(' ', stream);
}

void str_long(unsigned char* buffer, uint32_t value) {
  buffer[0] = static_cast<unsigned char>(value >> 24);
  buffer[1] = static_cast<unsigned char>(value >> 16);
  buffer[2] = static_cast<unsigned char>(value >> 8);
  buffer[3] = static_cast<unsigned char>(value);
}

void str_short(unsigned char* buffer, uint32_t value) {
  buffer[0] = static_cast<unsigned char>(value >> 8);
  buffer[1] = static_cast<unsigned char>(value);
}

void str_id(unsigned char* buffer, const char* text) {
  size_t i = 0;
  for (; text[i] != '\0'; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  for (; i < 4; ++i) buffer[i] = ' ';
}

char* ShortProgramName(const char* path) {
  const char* slash = strrchr(path, '/');
  const char* tail = slash != nullptr ? slash + 1 : path;
  size_t length = strlen(tail);
  char* name = static_cast<char*>(my_malloc(length + 1));
  memcpy(name, tail, length + 1);
  char* dot = strrchr(name, '.');
  if (dot != nullptr) *dot = '\0';
  return name;
}
