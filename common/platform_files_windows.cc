// The platform layer on Windows, files as such: the standard descriptors, what
// a name or a descriptor is, opening, reading and writing. Every descriptor is
// in binary mode. Names and arguments are in platform_names_windows.cc,
// mapping and folders in platform_reading_windows.cc.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "common/platform.h"

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
    status->isDevice = type == FILE_TYPE_CHAR;
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

bool MoveStandardStream(int descriptor, int onto) {
  int source = onto >= 0 ? onto : _open("NUL", _O_RDWR | _O_BINARY | _O_NOINHERIT);
  if (source < 0) return false;
  bool moved = _dup2(source, descriptor) == 0;
  if (onto < 0) _close(source);
  _setmode(descriptor, _O_BINARY);
  return moved;
}

int DuplicateDescriptor(int descriptor) {
  int copy = _dup(descriptor);
  if (copy >= 0) _setmode(copy, _O_BINARY);
  return copy;
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

int OpenStandardInput() {
  int descriptor = _dup(0);
  if (descriptor >= 0) _setmode(descriptor, _O_BINARY);
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
