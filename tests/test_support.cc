#include "tests/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

FILE* StreamOf(const std::string& text) {
  FILE* stream = tmpfile();
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
