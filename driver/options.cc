#include "driver/options.h"

#include <cstring>

int ReadOptions(int argc, char** argv, Options* options) {
  *options = Options{false, false, false, nullptr, false, nullptr};
  int next = 1;
  for (; next < argc; ++next) {
    const char* option = argv[next];
    if (strcmp(option, "--") == 0) {
      options->ended = true;
      ++next;
      break;
    }
    if (strcmp(option, "-q") == 0 || strcmp(option, "--quiet") == 0) {
      options->quiet = true;
    } else if (strcmp(option, "--strict") == 0) {
      options->strict = true;
    } else if (strcmp(option, "--constants") == 0) {
      options->constants = true;
    } else if (strcmp(option, "--depfile") == 0) {
      if (next + 1 >= argc) {
        options->problem = "--depfile needs the name of the dependency file";
        return argc;
      }
      options->depfile = argv[++next];
    } else if (strncmp(option, "--depfile=", 10) == 0) {
      options->depfile = option + 10;
    } else {
      break;
    }
  }
  if (options->depfile != nullptr && options->depfile[0] == '\0') {
    options->problem = "--depfile needs the name of the dependency file";
  } else if (options->constants && (options->depfile != nullptr || options->strict)) {
    // Nothing is packed, so there is nothing to depend on and nothing to be
    // strict about.
    options->problem = "--constants takes no --depfile and no --strict";
  } else if (options->constants && next >= argc) {
    options->problem = "--constants needs the name of the control file";
  }
  return next;
}
