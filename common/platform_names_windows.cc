// The platform layer on Windows, names and arguments: they arrive in UTF-8
// and go to the system's wide-character calls, and names that Windows would
// quietly take for another file or a device are refused.
#include <cstdlib>
#include <cstring>
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
