#include "tests/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

FILE* ScratchStream() {
  static bool ownFiles = false;  // tmpfile has failed once: it is slow to fail
  FILE* stream = ownFiles ? nullptr : tmpfile();
  if (stream != nullptr) return stream;
  ownFiles = true;
  // Windows' C library makes tmpfile's files under names of its own choosing
  // in one shared folder, and under Wine, with two test programs at a time
  // making hundreds each, it sometimes finds none free. A file in a folder of
  // this process's own serves instead; the folder goes when the process ends.
  static std::string folder;
  static unsigned count = 0;
  if (folder.empty()) {
    folder = MakeScratchDir();
    atexit([] {
      std::error_code error;
      std::filesystem::remove_all(folder, error);
    });
  }
  std::string name = folder + "/stream-" + std::to_string(count++);
  stream = fopen(name.c_str(), "w+b");
  if (stream == nullptr) abort();
  return stream;
}

FILE* StreamOf(const std::string& text) {
  FILE* stream = ScratchStream();
  fwrite(text.data(), 1, text.size(), stream);
  rewind(stream);
  return stream;
}

std::string ContentsOf(FILE* stream) {
  fflush(stream);
  rewind(stream);
  std::string bytes;
  char block[4096];
  size_t got;
  while ((got = fread(block, 1, sizeof block, stream)) > 0) bytes.append(block, got);
  return bytes;
}

// The standard library's, so that the tests run unchanged on every system.
std::string MakeScratchDir() {
  std::random_device random;
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) abort();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path path = base / ("blorbpack-test-" + std::to_string(random()));
    // create_directory is false for a folder that already exists.
    if (std::filesystem::create_directory(path, error)) return path.generic_string();
  }
  abort();
}

void RemoveTree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
  if (error) abort();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}
