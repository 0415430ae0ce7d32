#include "common/escape.h"

size_t EscapeByte(unsigned char c, EscapeStyle style, char* shown) {
  bool control = c < 0x20 || c == 0x7F;
  if (style == kEscapeAllButAscii && (c == '"' || c == '\\')) {
    shown[0] = '\\';
    shown[1] = static_cast<char>(c);
    return 2;
  }
  if (!control && (style == kEscapeControls || c < 0x80)) {
    shown[0] = static_cast<char>(c);
    return 1;
  }
  static const char kHex[] = "0123456789ABCDEF";
  shown[0] = '\\';
  shown[1] = 'x';
  shown[2] = kHex[c >> 4];
  shown[3] = kHex[c & 15];
  return 4;
}
