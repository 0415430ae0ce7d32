// How bytes that come from files, file names and control files are shown in
// the messages of both tools. A terminal takes some bytes as commands: a
// carriage return overprints the line, ESC [2J clears the screen, ESC c
// resets the terminal. Shown escaped, such bytes can neither act on the
// author's terminal nor break or forge a line.
#ifndef BLORBPACK_COMMON_ESCAPE_H
#define BLORBPACK_COMMON_ESCAPE_H

#include <cstddef>

enum EscapeStyle {
  // The packager's messages: bytes 0x00 to 0x1F and 0x7F as \xHH, every
  // other byte as it is, so that UTF-8 names read as the author wrote them.
  kEscapeControls,
  // blorbinfo's quoted identifiers and texts: \" and \\, printable ASCII as
  // it is, every other byte as \xHH, whatever a file holds.
  kEscapeAllButAscii,
};

// Room that one byte takes at most when shown.
constexpr size_t kMaxShownByte = 4;

// Writes byte c as shown into shown (kMaxShownByte characters, no terminator)
// and returns how many characters it took.
size_t EscapeByte(unsigned char c, EscapeStyle style, char* shown);

#endif
