// The platform layer on POSIX systems, files as such: names and arguments,
// the standard descriptors, what a name or a descriptor is, streams, mapping,
// and folders that new files are made in. It uses none of the packager's
// state, so that blorbinfo links it too.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/platform.h"

// Names and arguments are bytes, handed over as they are.
void UseUtf8Arguments(int*, char***) {}

bool IsPathSeparator(char c) { return c == '/'; }

const char* NameProblem(const char*) { return nullptr; }

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

bool MoveStandardStream(int descriptor, int onto) {
  int source = onto >= 0 ? onto : open("/dev/null", O_RDWR);
  if (source < 0) return false;
  bool moved = dup2(source, descriptor) >= 0;
  if (onto < 0) close(source);
  return moved;
}

int DuplicateDescriptor(int descriptor) { return fcntl(descriptor, F_DUPFD_CLOEXEC, 3); }

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
  status->isDevice = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
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

int OpenForReading(const char* name) { return open(name, O_RDONLY | O_CLOEXEC); }

int OpenStandardInput() { return fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3); }

FILE* OpenStreamForReading(const char* name) { return fopen(name, "rb"); }

int DescriptorOfStream(FILE* stream) { return fileno(stream); }

int64_t StreamPosition(FILE* stream) { return ftello(stream); }

bool SeekStream(FILE* stream, int64_t offset) { return fseeko(stream, offset, SEEK_SET) == 0; }

int64_t DeviceSize(int descriptor) {
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISBLK(info.st_mode)) return -1;
  off_t end = lseek(descriptor, 0, SEEK_END);
  if (end < 0 || lseek(descriptor, 0, SEEK_SET) != 0) return -1;
  return end;
}

bool CanWrite(const char* name) { return access(name, W_OK) == 0; }

int OpenForWriting(const char* name) { return open(name, O_WRONLY | O_TRUNC | O_CLOEXEC); }

FILE* StreamOnDescriptor(int descriptor) { return fdopen(descriptor, "wb"); }

void CloseDescriptor(int descriptor) { close(descriptor); }

size_t ReadFully(int descriptor, unsigned char* data, size_t size, bool* failed) {
  size_t count = 0;
  *failed = false;
  while (count < size) {
    ssize_t got = read(descriptor, data + count, size - count);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) *failed = true;
    if (got <= 0) break;
    count += static_cast<size_t>(got);
  }
  return count;
}

bool WriteFully(int descriptor, const unsigned char* data, size_t size) {
  while (size > 0) {
    ssize_t put = write(descriptor, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

size_t CopyFileBytes(int from, int64_t offset, int to, size_t length, bool* unsupported) {
  *unsupported = false;
  size_t count = 0;
  errno = 0;
#ifdef __linux__
  off_t at = static_cast<off_t>(offset);
  while (count < length) {
    ssize_t copied = copy_file_range(from, &at, to, nullptr, length - count, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0 && count == 0 &&
        (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
      *unsupported = true;
    }
    if (copied <= 0) break;
    count += static_cast<size_t>(copied);
  }
#else
  (void)from;
  (void)offset;
  (void)to;
  (void)length;
  *unsupported = true;
#endif
  return count;
}

unsigned char* MapFile(int descriptor, int64_t size) {
  int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
  // Read in at once rather than page by page as the writer reaches it.
  flags |= MAP_POPULATE;
#endif
  void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ, flags, descriptor, 0);
  return map == MAP_FAILED ? nullptr : static_cast<unsigned char*>(map);
}

unsigned char* MapFileLazily(int descriptor, int64_t size) {
  void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, descriptor, 0);
  return map == MAP_FAILED ? nullptr : static_cast<unsigned char*>(map);
}

void UnmapFile(unsigned char* data, int64_t size) { munmap(data, static_cast<size_t>(size)); }

void ForgetMappedPages(const unsigned char* data, size_t length) {
  static const uintptr_t kPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kPage - 1) / kPage * kPage;
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + length) / kPage * kPage;
  if (start < end) madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

bool MakeFolder(const char* path) { return mkdir(path, 0777) == 0; }

int OpenFolder(const char* path) {
  // "link/" makes the kernel follow the link before O_NOFOLLOW can see it:
  // the folder is opened by its name without the trailing slashes.
  size_t length = strlen(path);
  while (length > 1 && path[length - 1] == '/') --length;
  char* name = strndup(path, length);
  if (name == nullptr) return -1;
  int folder = open(name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // A link to a folder fails as "not a folder" on some systems: told as the
  // link it is.
  struct stat info;
  if (folder < 0 && errno == ENOTDIR && lstat(name, &info) == 0 && S_ISLNK(info.st_mode)) errno = ELOOP;
  int error = errno;
  free(name);
  errno = error;
  return folder;
}

bool RemoveFolder(const char* path) { return rmdir(path) == 0; }

int FolderIsEmpty(int folder) {
  // The listing gets a descriptor of its own, which closedir() closes.
  int copy = dup(folder);
  if (copy < 0) return -1;
  DIR* listing = fdopendir(copy);
  if (listing == nullptr) {
    close(copy);
    return -1;
  }
  int empty = 1;
  errno = 0;
  while (dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      empty = 0;
      break;
    }
  }
  if (empty == 1 && errno != 0) empty = -1;
  closedir(listing);
  return empty;
}

int CreateInFolder(int folder, const char* name) {
  // O_EXCL refuses any name already taken, a link included, which is never
  // followed: whatever someone else put in the folder stays as it was.
  return openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool MoveInFolder(int folder, const char* from, const char* to) {
  // A second link and then the removal of the first, rather than rename(),
  // which would replace whatever already has the name.
  if (linkat(folder, from, folder, to, 0) != 0) return false;
  unlinkat(folder, from, 0);
  return true;
}

void RemoveFromFolder(int folder, const char* name) { unlinkat(folder, name, 0); }

// What the guard of a reading run removes and tells when it ends it: plain
// static storage, which a signal handler may read.
static char GuardMessage[1024];
static size_t GuardLength = 0;
static int GuardStatus = 2;
static int HalfFolder = -1;
static char HalfName[256];
static volatile sig_atomic_t HalfWritten = 0;

static const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

static void remove_half_written() {
  if (HalfWritten != 0) unlinkat(HalfFolder, HalfName, 0);
}

static void mapped_file_lost(int) {
  remove_half_written();
  ssize_t ignored = write(STDERR_FILENO, GuardMessage, GuardLength);
  (void)ignored;
  _exit(GuardStatus);
}

static void reading_ended(int signal) {
  int saved = errno;
  remove_half_written();
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
  errno = saved;
}

void GuardMappedReading(const char* message, int status) {
  GuardLength = strlen(message);
  if (GuardLength > sizeof GuardMessage) GuardLength = sizeof GuardMessage;
  memcpy(GuardMessage, message, GuardLength);
  GuardStatus = status;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  for (int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
  action.sa_handler = mapped_file_lost;
  sigaction(SIGBUS, &action, nullptr);
  action.sa_handler = reading_ended;
  for (int signal : kEndingSignals) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

bool RemoveWhenEnding(int folder, const char* name) {
  HalfWritten = 0;
  if (name == nullptr) return true;
  size_t length = strlen(name);
  if (length >= sizeof HalfName) return false;
  memcpy(HalfName, name, length + 1);
  HalfFolder = folder;
  HalfWritten = 1;
  return true;
}
