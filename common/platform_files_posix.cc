// The platform layer on POSIX systems (Linux, the BSDs, macOS): what both
// programs need to read files and talk to the user.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/platform.h"

// Names and arguments are bytes, handed over as they are.
void UseUtf8Arguments(int*, char***) {}

bool IsPathSeparator(char c) { return c == '/'; }

static void fill_status(const struct stat& info, FileStatus* status) {
  if (S_ISREG(info.st_mode)) {
    status->kind = kRegularFile;
  } else if (S_ISDIR(info.st_mode)) {
    status->kind = kDirectory;
  } else {
    status->kind = kOtherFile;
  }
  status->device = static_cast<uint64_t>(info.st_dev);
  status->inode = static_cast<uint64_t>(info.st_ino);
  status->size = static_cast<int64_t>(info.st_size);
#if defined(__APPLE__)
  const struct timespec& modified = info.st_mtimespec;
#else
  const struct timespec& modified = info.st_mtim;
#endif
  status->modified = static_cast<int64_t>(modified.tv_sec) * 1000000000 + modified.tv_nsec;
  status->permissions = static_cast<unsigned>(info.st_mode & 07777);
}

static bool no_status(FileStatus* status) {
  memset(status, 0, sizeof *status);
  status->kind = kNoFile;
  return false;
}

bool StatusOfName(const char* name, FileStatus* status) {
  struct stat info;
  if (stat(name, &info) != 0) return no_status(status);
  fill_status(info, status);
  return true;
}

bool StatusOfDescriptor(int descriptor, FileStatus* status) {
  struct stat info;
  if (fstat(descriptor, &info) != 0) return no_status(status);
  fill_status(info, status);
  return true;
}

bool SameFile(const FileStatus* a, const FileStatus* b) {
  return a->kind != kNoFile && b->kind != kNoFile && a->device == b->device && a->inode == b->inode;
}

void OpenStandardDescriptors() {
  // Opening takes the lowest free descriptor, so going up from 0 refills
  // exactly the closed ones.
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      int opened = open("/dev/null", O_RDWR);
      if (opened >= 0 && opened != descriptor) close(opened);
    }
  }
}

int OpenForReading(const char* name) { return open(name, O_RDONLY | O_CLOEXEC); }

FILE* OpenStreamForReading(const char* name) { return fopen(name, "rb"); }

const char* NameProblem(const char*) { return nullptr; }

int64_t ReadDescriptor(int descriptor, unsigned char* data, size_t size) {
  for (;;) {
    ssize_t got = read(descriptor, data, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

int64_t DeviceSize(int descriptor) {
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISBLK(info.st_mode)) return -1;
  off_t end = lseek(descriptor, 0, SEEK_END);
  if (end < 0 || lseek(descriptor, 0, SEEK_SET) != 0) return -1;
  return end;
}

int DescriptorOfStream(FILE* stream) { return fileno(stream); }

int64_t StreamPosition(FILE* stream) { return ftello(stream); }

bool SeekStream(FILE* stream, int64_t offset) { return fseeko(stream, offset, SEEK_SET) == 0; }

void WriteStandardError(const char* text) {
  size_t length = strlen(text);
  while (length > 0) {
    ssize_t wrote = write(STDERR_FILENO, text, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    text += wrote;
    length -= static_cast<size_t>(wrote);
  }
}
