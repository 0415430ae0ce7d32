#include "common/platform.h"
#include "driver/driver.h"

int main(int argc, char** argv) {
  UseUtf8Arguments(&argc, &argv);
  return BlorbpackMain(argc, argv);
}
