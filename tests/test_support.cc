#include "tests/test_support.h"

#include <cstdlib>
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

std::string MakeScratchDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/blorbpack-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) abort();
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::string command = "rm -rf '" + path + "'";
  if (system(command.c_str()) != 0) abort();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}
