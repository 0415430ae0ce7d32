// The platform layer on Windows: the packager's output file and resources.
// The temporary file is created so that it may be deleted and renamed while
// it is open, which lets a console interrupt remove it at any moment.
#define _CRT_RAND_S  // rand_s, from the system's random number generator
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "common/encode.h"
#include "common/platform.h"

static char* copy(const char* text) {
  size_t length = strlen(text);
  char* path = static_cast<char*>(my_malloc(length + 1));
  memcpy(path, text, length + 1);
  return path;
}

// A symbolic link (a reparse point) is followed to the file it leads to, as
// opening the name would, so that the link stays and that file is replaced;
// any other name is taken as it is.
char* ResolveLinks(const char* name) {
  wchar_t* wide = WindowsName(name);
  if (wide == nullptr) return copy(name);
  DWORD attributes = GetFileAttributesW(wide);
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (link) {
    handle = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  free(wide);
  // Links that go round in a loop lead to no file, and must not be replaced
  // by one.
  if (link && handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_CANT_RESOLVE_FILENAME) {
    errno = ELOOP;
    return nullptr;
  }
  if (handle == INVALID_HANDLE_VALUE) return copy(name);
  // The final path comes in the extended-length form (\\?\C:\...), which the
  // rest of the layer takes as it is.
  wchar_t final[32768];
  DWORD length = GetFinalPathNameByHandleW(handle, final, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (length == 0 || length >= 32768) return copy(name);
  int count = WideCharToMultiByte(CP_UTF8, 0, final, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return copy(name);
  char* path = static_cast<char*>(my_malloc(static_cast<size_t>(count)));
  WideCharToMultiByte(CP_UTF8, 0, final, -1, path, count, nullptr, nullptr);
  return path;
}

// The temporary file's name in both forms: UTF-8 for messages, UTF-16 for the
// system. The console handler runs on a thread of its own, so both are
// published and withdrawn under the lock.
static SRWLOCK TemporaryLock = SRWLOCK_INIT;
static char* Temporary = nullptr;
static wchar_t* TemporaryWide = nullptr;

static void forget_temporary() {
  AcquireSRWLockExclusive(&TemporaryLock);
  char* name = Temporary;
  wchar_t* wide = TemporaryWide;
  Temporary = nullptr;
  TemporaryWide = nullptr;
  ReleaseSRWLockExclusive(&TemporaryLock);
  free(name);
  free(wide);
}

// How much of name the temporary name keeps before its mark: all of it,
// unless the last component would then pass the 255 characters a name may
// have; its end is then dropped, never in the middle of a character. Bytes
// are counted, which are never fewer than UTF-16 units.
static size_t temporary_stem(const char* name, size_t added) {
  constexpr size_t kLongest = 255;
  size_t length = strlen(name);
  size_t start = length;
  while (start > 0 && !IsPathSeparator(name[start - 1])) --start;
  if (length - start + added <= kLongest) return length;
  size_t stem = start + (kLongest - added);
  while (stem > start && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80) --stem;
  return stem;
}

static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

int CreateTemporary(const char* name) {
  forget_temporary();  // one that was removed already
  static const char kMark[] = ".tmp.";
  constexpr size_t kRandom = 6;
  if (NameProblem(name) != nullptr) return -1;
  size_t length = temporary_stem(name, sizeof kMark - 1 + kRandom);
  size_t total = length + sizeof kMark - 1 + kRandom;
  char* path = static_cast<char*>(my_malloc(total + 1));
  memcpy(path, name, length);
  memcpy(path + length, kMark, sizeof kMark - 1);
  path[total] = '\0';

  HANDLE handle = INVALID_HANDLE_VALUE;
  wchar_t* wide = nullptr;
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    for (size_t i = 0; i < kRandom; ++i) {
      unsigned random = 0;
      if (rand_s(&random) != 0) break;
      path[total - kRandom + i] = kLetters[random % 62];
    }
    free(wide);
    wide = WindowsName(path);
    if (wide == nullptr) break;
    // CREATE_NEW: never an existing file. Others may read it, and delete or
    // rename it, as this process does when it is interrupted or done.
    handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  int descriptor = -1;
  if (handle != INVALID_HANDLE_VALUE) {
    descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
      CloseHandle(handle);
      DeleteFileW(wide);
    }
  }
  if (descriptor < 0) {
    free(path);
    free(wide);
    return -1;
  }
  AcquireSRWLockExclusive(&TemporaryLock);
  Temporary = path;
  TemporaryWide = wide;
  ReleaseSRWLockExclusive(&TemporaryLock);
  return descriptor;
}

// Nothing of the replaced file is carried over here, so nothing can fail to
// be: the new file gets the folder's defaults.
const char* TemporaryProblem() { return nullptr; }

const char* TemporaryName() { return Temporary; }

bool ReplaceWithTemporary(const char* name) {
  if (Temporary == nullptr) return false;
  wchar_t* target = WindowsName(name);
  if (target == nullptr) return false;
  // rename() will not replace an existing file here; this does, in one step.
  AcquireSRWLockExclusive(&TemporaryLock);
  bool moved = MoveFileExW(TemporaryWide, target, MOVEFILE_REPLACE_EXISTING) != 0;
  ReleaseSRWLockExclusive(&TemporaryLock);
  free(target);
  if (moved) forget_temporary();
  return moved;
}

int TakeStandardOutput() {
  int descriptor = _dup(1);
  if (descriptor < 0) return -1;
  if (_dup2(2, 1) != 0) {
    _close(descriptor);
    return -1;
  }
  _setmode(descriptor, _O_BINARY);
  return descriptor;
}

// The name stays remembered, as on POSIX systems: every caller is about to
// end the process.
void RemoveTemporary() {
  AcquireSRWLockExclusive(&TemporaryLock);
  if (TemporaryWide != nullptr) DeleteFileW(TemporaryWide);
  ReleaseSRWLockExclusive(&TemporaryLock);
}

// Ctrl+C, Ctrl+Break, the console closed, the user logging off, the system
// shutting down: the temporary file goes, then the process ends at once with
// the status that tells an interrupted program, as the system's own handling
// would, but without running exit handlers on this thread while the main one
// is mid-write. The file was opened for deletion by others, so it can go while
// the main thread still writes to it.
static BOOL WINAPI console_interrupted(DWORD) {
  RemoveTemporary();
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

void InstallSignalHandlers() { SetConsoleCtrlHandler(console_interrupted, TRUE); }
