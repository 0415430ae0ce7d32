#include "common/platform.h"
#include "info/info.h"

int main(int argc, char** argv) {
  UseUtf8Arguments(&argc, &argv);
  OpenStandardDescriptors();
  return BlorbinfoMain(argc, argv);
}
