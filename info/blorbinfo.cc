#include "info/info.h"

int main(int argc, char** argv) { return BlorbinfoMain(argc, argv); }
