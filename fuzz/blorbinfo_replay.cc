// Runs the blorbinfo fuzz target once over every file in the folders it is
// given, without libFuzzer, so that the seed corpus stays a test under the
// ordinary and the sanitizer builds. Each input is copied to a block of
// exactly its size, so that a read past its end is caught.
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool replay(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::string bytes;
  char block[4096];
  size_t got;
  while ((got = fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
  bool read = !ferror(file);
  fclose(file);
  if (!read) return false;
  uint8_t* copy = static_cast<uint8_t*>(malloc(bytes.size() == 0 ? 1 : bytes.size()));
  if (copy == nullptr) return false;
  for (size_t i = 0; i < bytes.size(); ++i) copy[i] = static_cast<uint8_t>(bytes[i]);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  free(copy);
  return true;
}

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    DIR* folder = opendir(argv[i]);
    if (folder == nullptr) {
      fprintf(stderr, "blorbinfo_replay: can't open folder %s\n", argv[i]);
      return 1;
    }
    while (dirent* entry = readdir(folder)) {
      if (entry->d_name[0] == '.') continue;
      std::string path = std::string(argv[i]) + "/" + entry->d_name;
      if (!replay(path)) {
        fprintf(stderr, "blorbinfo_replay: can't read %s\n", path.c_str());
        closedir(folder);
        return 1;
      }
      ++inputs;
    }
    closedir(folder);
  }
  fprintf(stderr, "blorbinfo_replay: %d inputs replayed\n", inputs);
  // An empty corpus would pass without testing anything.
  return inputs > 0 ? 0 : 1;
}
