// The platform layer on Windows, for a reading run: mapping a file, the
// folders that files are made in, and the guard that ends a run cleanly.
// Windows will not let another program cut short a file while a view of it
// is mapped, so the guard's exception is for what it cannot prevent (a file
// on a network share that goes away).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "common/platform.h"

// The packager reads its resources instead: what it maps it must check after
// writing, and reading costs it little.
unsigned char* MapFile(int, int64_t) { return nullptr; }

unsigned char* MapFileLazily(int descriptor, int64_t size) {
  HANDLE file = HandleOf(descriptor);
  if (file == INVALID_HANDLE_VALUE || size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX) return nullptr;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    errno = EIO;
    return nullptr;
  }
  // The view keeps the mapping for as long as it lasts.
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
  CloseHandle(mapping);
  if (view == nullptr) errno = ENOMEM;
  return static_cast<unsigned char*>(view);
}

void UnmapFile(unsigned char* data, int64_t) {
  if (data != nullptr) UnmapViewOfFile(data);
}

// Unlocking pages that were never locked takes them out of the process's
// working set; the system keeps them in its cache of the file.
void ForgetMappedPages(const unsigned char* data, size_t length) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uintptr_t page = system.dwPageSize;
  uintptr_t start = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + length) / page * page;
  if (start < end) VirtualUnlock(reinterpret_cast<void*>(start), end - start);
}

// Folders opened by OpenFolder: a descriptor of the folder itself, held open
// without leave to delete or rename it, so that it stays the folder it was
// while files are made in it by its full name.
constexpr int kMaxFolders = 8;
struct OpenedFolder {
  int descriptor;
  wchar_t* path;  // extended-length, as GetFinalPathNameByHandleW gives it
};
static OpenedFolder Folders[kMaxFolders];
static int FolderCount = 0;

static const wchar_t* folder_path(int folder) {
  for (int i = 0; i < FolderCount; ++i) {
    if (Folders[i].descriptor == folder) return Folders[i].path;
  }
  return nullptr;
}

void CloseDescriptor(int descriptor) {
  for (int i = 0; i < FolderCount; ++i) {
    if (Folders[i].descriptor == descriptor) {
      free(Folders[i].path);
      Folders[i] = Folders[--FolderCount];
      break;
    }
  }
  _close(descriptor);
}

// The full name of name in the folder; null, with errno, for a name that is
// not one plain name Windows keeps as it is.
static wchar_t* in_folder(int folder, const char* name) {
  const wchar_t* path = folder_path(folder);
  if (path == nullptr) {
    errno = EBADF;
    return nullptr;
  }
  if (name[0] == '\0' || strpbrk(name, "\\/:") != nullptr || NameProblem(name) != nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  size_t length = wcslen(path);
  wchar_t* joined =
      count > 0 ? static_cast<wchar_t*>(malloc((length + 1 + static_cast<size_t>(count)) * sizeof(wchar_t))) : nullptr;
  if (joined == nullptr) {
    errno = count > 0 ? ENOMEM : EINVAL;
    return nullptr;
  }
  memcpy(joined, path, length * sizeof(wchar_t));
  joined[length] = L'\\';
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, joined + length + 1, count);
  return joined;
}

bool MakeFolder(const char* path) {
  wchar_t* wide = WindowsName(path);
  if (wide == nullptr) {
    errno = EINVAL;
    return false;
  }
  bool made = CreateDirectoryW(wide, nullptr) != 0;
  if (!made) SetErrno(GetLastError(), wide);
  free(wide);
  return made;
}

bool RemoveFolder(const char* path) {
  wchar_t* wide = WindowsName(path);
  bool removed = wide != nullptr && RemoveDirectoryW(wide) != 0;
  free(wide);
  return removed;
}

int OpenFolder(const char* path) {
  if (FolderCount == kMaxFolders) {
    errno = EMFILE;
    return -1;
  }
  wchar_t* wide = WindowsName(path);
  if (wide == nullptr) {
    errno = EINVAL;
    return -1;
  }
  DWORD attributes = GetFileAttributesW(wide);
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    SetErrno(GetLastError(), wide);
  } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    errno = ELOOP;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
  } else {
    handle = CreateFileW(wide, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) SetErrno(GetLastError(), wide);
  }
  free(wide);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
  wchar_t* full = needed > 0 ? static_cast<wchar_t*>(malloc((needed + 1) * sizeof(wchar_t))) : nullptr;
  int descriptor = -1;
  if (full != nullptr && GetFinalPathNameByHandleW(handle, full, needed + 1, FILE_NAME_NORMALIZED) < needed + 1) {
    descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  }
  if (descriptor < 0) {
    errno = EIO;
    free(full);
    CloseHandle(handle);
    return -1;
  }
  size_t length = wcslen(full);
  if (length > 0 && full[length - 1] == L'\\') full[length - 1] = L'\0';  // a drive's root
  Folders[FolderCount++] = {descriptor, full};
  return descriptor;
}

int FolderIsEmpty(int folder) {
  const wchar_t* path = folder_path(folder);
  if (path == nullptr) return -1;
  size_t length = wcslen(path);
  wchar_t* pattern = static_cast<wchar_t*>(malloc((length + 3) * sizeof(wchar_t)));
  if (pattern == nullptr) return -1;
  memcpy(pattern, path, length * sizeof(wchar_t));
  memcpy(pattern + length, L"\\*", 3 * sizeof(wchar_t));
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW(pattern, &entry);
  free(pattern);
  if (listing == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : -1;
  int empty = 1;
  do {
    if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
      empty = 0;
      break;
    }
  } while (FindNextFileW(listing, &entry));
  FindClose(listing);
  return empty;
}

int CreateInFolder(int folder, const char* name) {
  wchar_t* path = in_folder(folder, name);
  if (path == nullptr) return -1;
  // CREATE_NEW refuses any name already taken, a link included, which is
  // never followed. Others may delete or rename the file while it is open,
  // as the guard and MoveInFolder do.
  HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) SetErrno(GetLastError(), path);
  free(path);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) CloseHandle(handle);
  return descriptor;
}

bool MoveInFolder(int folder, const char* from, const char* to) {
  wchar_t* source = in_folder(folder, from);
  wchar_t* target = source != nullptr ? in_folder(folder, to) : nullptr;
  // Without MOVEFILE_REPLACE_EXISTING: whatever already has the name stays.
  bool moved = target != nullptr && MoveFileExW(source, target, 0) != 0;
  if (target != nullptr && !moved) SetErrno(GetLastError(), target);
  free(source);
  free(target);
  return moved;
}

void RemoveFromFolder(int folder, const char* name) {
  wchar_t* path = in_folder(folder, name);
  if (path != nullptr) DeleteFileW(path);
  free(path);
}

// What the guard removes and tells when it ends the run: plain static
// storage, which the exception and console handlers may read.
static char GuardMessage[1024];
static size_t GuardLength = 0;
static int GuardStatus = 2;
static wchar_t HalfPath[1024];
static volatile LONG HalfWritten = 0;

static void remove_half_written() {
  if (HalfWritten != 0) DeleteFileW(HalfPath);
}

static LONG WINAPI mapped_file_lost(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_IN_PAGE_ERROR) return EXCEPTION_CONTINUE_SEARCH;
  remove_half_written();
  _write(2, GuardMessage, static_cast<unsigned>(GuardLength));
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(GuardStatus));
  return EXCEPTION_CONTINUE_SEARCH;
}

static BOOL WINAPI reading_interrupted(DWORD) {
  remove_half_written();
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

void GuardMappedReading(const char* message, int status) {
  static bool installed = false;
  GuardLength = strlen(message);
  if (GuardLength > sizeof GuardMessage) GuardLength = sizeof GuardMessage;
  memcpy(GuardMessage, message, GuardLength);
  GuardStatus = status;
  if (!installed) {
    AddVectoredExceptionHandler(1, mapped_file_lost);
    SetConsoleCtrlHandler(reading_interrupted, TRUE);
    installed = true;
  }
}

bool RemoveWhenEnding(int folder, const char* name) {
  HalfWritten = 0;
  if (name == nullptr) return true;
  wchar_t* path = in_folder(folder, name);
  size_t length = path != nullptr ? wcslen(path) : 0;
  bool kept = path != nullptr && length < sizeof HalfPath / sizeof HalfPath[0];
  if (kept) {
    memcpy(HalfPath, path, (length + 1) * sizeof(wchar_t));
    HalfWritten = 1;
  }
  free(path);
  return kept;
}
