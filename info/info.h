// The checker: what a Blorb file holds, listed for people, and every way in
// which it departs from what the strictest interpreters accept. It reads files
// made by any tool, so it trusts no field in them, and it shares with the
// packager only the format's rules (blorb/format.h), none of its state.
//
// Output, one line each, every line starting with the file's name:
//   NAME: SIZE bytes, form type "IFRS"
//   NAME: index entry at 0xOFFSET: "USAG" NUMBER, start 0xSTART: "TYPE", LENGTH bytes
//   NAME: chunk at 0xOFFSET: "TYPE", LENGTH bytes[, what the chunk holds]
//   blorbinfo: NAME: Problem at 0xOFFSET: TEXT
//   NAME: N problems
// Identifiers and texts are quoted; bytes outside printable ASCII, quotes and
// backslashes in them are escaped (\xE9, \", \\) so that each line stays one
// line of plain text whatever the file holds.
#ifndef BLORBPACK_INFO_INFO_H
#define BLORBPACK_INFO_INFO_H

#include <cstddef>
#include <cstdio>

// Lists the Blorb file held in bytes[0, size) on out, then a line for each
// problem found and a closing count; name is the file as the user named it.
// Returns the number of problems. Nothing outside the bytes is ever read.
size_t ListBlorb(FILE* out, const char* name, const unsigned char* bytes, size_t size);

// The command line: blorbinfo FILE... Returns the exit status: 0 when every
// file passes, 1 when one has problems, 2 when a file cannot be read, the
// command line names none or standard output is lost.
int BlorbinfoMain(int argc, char** argv);

#endif
