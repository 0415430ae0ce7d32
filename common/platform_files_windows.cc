// The platform layer on Windows, files as such: names and arguments, the
// standard descriptors, what a name or a descriptor is, streams. Names and
// arguments arrive in UTF-8 and go to the system's wide-character calls; every
// descriptor is in binary mode. Mapping and folders are in
// platform_reading_windows.cc.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "common/platform.h"

// Allocated with malloc, not my_malloc: blorbinfo links this file too, and
// a failure here is a name that does not open, not the end of the run.
static wchar_t* to_wide(const char* text) {
  int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (count <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(malloc(static_cast<size_t>(count) * sizeof(wchar_t)));
  if (wide == nullptr) return nullptr;
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, count);
  return wide;
}

static char* to_utf8(const wchar_t* wide) {
  int count = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return nullptr;
  char* text = static_cast<char*>(malloc(static_cast<size_t>(count)));
  if (text == nullptr) return nullptr;
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, count, nullptr, nullptr);
  return text;
}

void UseUtf8Arguments(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  char** utf8 = static_cast<char**>(calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
  bool complete = utf8 != nullptr;
  for (int i = 0; complete && i < count; ++i) {
    utf8[i] = to_utf8(wide[i]);
    complete = utf8[i] != nullptr;
  }
  LocalFree(wide);
  if (!complete) {
    // The arguments in the system's own code page, as the runtime gave them.
    if (utf8 != nullptr) {
      for (int i = 0; i < count; ++i) free(utf8[i]);
      free(utf8);
    }
    return;
  }
  *argc = count;
  *argv = utf8;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

static bool is_slash(char c) { return c == '\\' || c == '/'; }

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, in any letter case, name
// devices in every directory, whatever extension follows them.
static bool is_device_name(const char* component, size_t length) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  size_t base = 0;
  while (base < length && component[base] != '.') ++base;
  char upper[5] = {0, 0, 0, 0, 0};
  if (base < 3 || base > 4) return false;
  for (size_t i = 0; i < base; ++i) {
    char c = component[i];
    upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (base == 3) {
    for (const char* device : kDevices) {
      if (memcmp(upper, device, 3) == 0) return true;
    }
    return false;
  }
  return (memcmp(upper, "COM", 3) == 0 || memcmp(upper, "LPT", 3) == 0) && upper[3] >= '1' &&
         upper[3] <= '9';
}

const char* NameProblem(const char* name) {
  int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (count <= 0) return "is not valid UTF-8";
  // Paths that already say how Windows is to take them (\\?\, \\.\) are
  // taken as they are.
  if (is_slash(name[0]) && is_slash(name[1]) && (name[2] == '?' || name[2] == '.') && is_slash(name[3])) {
    return nullptr;
  }
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p != '\0' && !is_slash(*p)) continue;
    size_t length = static_cast<size_t>(p - component);
    bool dots = (length == 1 && component[0] == '.') ||
                (length == 2 && component[0] == '.' && component[1] == '.');
    if (length > 0 && !dots && (component[length - 1] == ' ' || component[length - 1] == '.')) {
      return "ends in a space or a dot, which Windows drops from file names";
    }
    if (*p == '\0') {
      // A device by its bare name (NUL, CON) is what was asked for, as
      // /dev/null is elsewhere; with an extension it passes for a file.
      if (is_device_name(component, length) && memchr(component, '.', length) != nullptr) {
        return "is the name of a device on Windows, not of a file";
      }
      return nullptr;
    }
    component = p + 1;
  }
}

wchar_t* WindowsName(const char* name) {
  if (NameProblem(name) != nullptr) return nullptr;
  wchar_t* wide = to_wide(name);
  // Past MAX_PATH the classic calls fail; the extended-length form has no
  // such limit but is taken literally, so it is made from the full path,
  // which the system has already cleaned of "." and ".." and "/".
  if (wide == nullptr || wcslen(wide) < MAX_PATH - 12 || wcsncmp(wide, L"\\\\?\\", 4) == 0 ||
      wcsncmp(wide, L"\\\\.\\", 4) == 0) {
    return wide;
  }
  DWORD needed = GetFullPathNameW(wide, 0, nullptr, nullptr);
  wchar_t* full = needed > 0 ? static_cast<wchar_t*>(malloc((needed + 8) * sizeof(wchar_t))) : nullptr;
  if (full == nullptr) return wide;
  DWORD got = GetFullPathNameW(wide, needed, full + 4, nullptr);
  if (got == 0 || got >= needed) {
    free(full);
    return wide;
  }
  if (full[4] == L'\\' && full[5] == L'\\') {
    // \\server\share\x becomes \\?\UNC\server\share\x.
    memmove(full + 8, full + 6, (got - 1) * sizeof(wchar_t));
    memcpy(full, L"\\\\?\\UNC\\", 8 * sizeof(wchar_t));
  } else {
    memcpy(full, L"\\\\?\\", 4 * sizeof(wchar_t));
  }
  free(wide);
  return full;
}

static bool no_status(FileStatus* status) {
  memset(status, 0, sizeof *status);
  status->kind = kNoFile;
  return false;
}

static bool status_of_handle(HANDLE handle, FileStatus* status) {
  memset(status, 0, sizeof *status);
  DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return no_status(status);
  if (type != FILE_TYPE_DISK) {
    // Consoles, pipes and devices have no identity to compare: each is told
    // apart from every other file, itself included.
    static uint64_t others = 0;
    status->kind = kOtherFile;
    status->device = UINT64_MAX;
    status->inode = ++others;
    return true;
  }
  // Each query asks for no more access than the handle may have: standard
  // output redirected to a file may be open for writing alone.
  FILE_STANDARD_INFO standard;
  if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
    return no_status(status);
  }
  status->kind = standard.Directory ? kDirectory : kRegularFile;
  status->size = standard.EndOfFile.QuadPart;
  // The volume and the file's identifier on it: one file, whatever name,
  // letter case or link leads to it. Identifiers of 128 bits (ReFS) are
  // folded; on NTFS the upper half is zero.
  FILE_ID_INFO id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    uint64_t low;
    uint64_t high;
    memcpy(&low, id.FileId.Identifier, sizeof low);
    memcpy(&high, id.FileId.Identifier + sizeof low, sizeof high);
    status->device = id.VolumeSerialNumber;
    status->inode = low ^ high;
  } else if (GetFileInformationByHandle(handle, &info)) {
    status->device = info.dwVolumeSerialNumber;
    status->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  } else {
    return no_status(status);
  }
  status->permissions = 0666;
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    status->modified = basic.LastWriteTime.QuadPart * 100;  // ticks of 100 ns
    if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) status->permissions = 0444;
  }
  return true;
}

bool StatusOfName(const char* name, FileStatus* status) {
  wchar_t* wide = WindowsName(name);
  if (wide == nullptr) return no_status(status);
  // No access asked beyond the attributes: any file can be examined, also one
  // another program holds open. Directories open only with backup semantics.
  HANDLE handle = CreateFileW(wide, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  free(wide);
  if (handle == INVALID_HANDLE_VALUE) return no_status(status);
  bool known = status_of_handle(handle, status);
  CloseHandle(handle);
  return known;
}

HANDLE HandleOf(int descriptor) {
  intptr_t handle = _get_osfhandle(descriptor);
  // -2: a standard stream of a process that has no console.
  return handle == -1 || handle == -2 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(handle);
}

bool StatusOfDescriptor(int descriptor, FileStatus* status) {
  HANDLE handle = HandleOf(descriptor);
  if (handle == INVALID_HANDLE_VALUE) return no_status(status);
  return status_of_handle(handle, status);
}

// A volume serial number of 0 is one the system could not tell (Wine, for a
// standard stream inherited from a POSIX shell): the identifier decides alone.
bool SameFile(const FileStatus* a, const FileStatus* b) {
  return a->kind != kNoFile && b->kind != kNoFile && a->inode == b->inode &&
         (a->device == b->device || a->device == 0 || b->device == 0);
}

void OpenStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (HandleOf(descriptor) == INVALID_HANDLE_VALUE) {
      int opened = _open("NUL", _O_RDWR | _O_BINARY | _O_NOINHERIT);
      if (opened >= 0 && opened != descriptor) {
        _dup2(opened, descriptor);
        _close(opened);
      }
    }
    _setmode(descriptor, _O_BINARY);
  }
}

void SetErrno(unsigned long error, const wchar_t* wide) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED: {
      DWORD attributes = GetFileAttributesW(wide);
      bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      errno = directory ? EISDIR : EACCES;
      break;
    }
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EBUSY;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      errno = ENAMETOOLONG;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DIRECTORY:
      errno = ENOTDIR;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
  }
}

int OpenForReading(const char* name) {
  wchar_t* wide = WindowsName(name);
  if (wide == nullptr) {
    errno = NameProblem(name) != nullptr ? EINVAL : ENOMEM;
    return -1;
  }
  // Others may go on reading, writing, renaming and deleting the file, as on
  // POSIX systems. A handle made without inheritance stays in this process.
  HANDLE handle = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) SetErrno(GetLastError(), wide);
  free(wide);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) CloseHandle(handle);
  return descriptor;
}

FILE* OpenStreamForReading(const char* name) {
  int descriptor = OpenForReading(name);
  if (descriptor < 0) return nullptr;
  FILE* stream = _fdopen(descriptor, "rb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

// Disks are not opened as files here: every file has its size.
int64_t DeviceSize(int) { return -1; }

int DescriptorOfStream(FILE* stream) { return _fileno(stream); }

int64_t StreamPosition(FILE* stream) { return _ftelli64(stream); }

bool SeekStream(FILE* stream, int64_t offset) { return _fseeki64(stream, offset, SEEK_SET) == 0; }

void WriteStandardError(const char* text) {
  WriteFully(2, reinterpret_cast<const unsigned char*>(text), strlen(text));
}

bool CanWrite(const char* name) {
  wchar_t* wide = WindowsName(name);
  if (wide == nullptr) return false;
  DWORD attributes = GetFileAttributesW(wide);
  free(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

int OpenForWriting(const char* name) {
  wchar_t* wide = WindowsName(name);
  if (wide == nullptr) return -1;
  HANDLE handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  free(wide);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) CloseHandle(handle);
  return descriptor;
}

FILE* StreamOnDescriptor(int descriptor) { return _fdopen(descriptor, "wb"); }

// The runtime counts in unsigned int: the pieces stay well below that.
constexpr size_t kPiece = 1u << 30;

size_t ReadFully(int descriptor, unsigned char* data, size_t size, bool* failed) {
  size_t count = 0;
  *failed = false;
  while (count < size) {
    size_t left = size - count;
    int got = _read(descriptor, data + count, static_cast<unsigned>(left < kPiece ? left : kPiece));
    if (got < 0) *failed = true;
    if (got <= 0) break;
    count += static_cast<size_t>(got);
  }
  return count;
}

bool WriteFully(int descriptor, const unsigned char* data, size_t size) {
  while (size > 0) {
    int put = _write(descriptor, data, static_cast<unsigned>(size < kPiece ? size : kPiece));
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// No copy inside the system between two descriptors: the caller writes.
size_t CopyFileBytes(int, int64_t, int, size_t, bool* unsupported) {
  *unsupported = true;
  errno = 0;
  return 0;
}
