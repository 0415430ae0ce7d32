// Helpers shared by the unit tests: streams over strings and scratch files.
#ifndef BLORBPACK_TESTS_TEST_SUPPORT_H
#define BLORBPACK_TESTS_TEST_SUPPORT_H

#include <cstdio>
#include <string>

// A read-only stream over a copy of text; the caller closes it.
FILE* StreamOf(const std::string& text);

// A new, empty stream for reading and writing; the caller closes it.
FILE* ScratchStream();

// Everything written to stream from its start.
std::string ContentsOf(FILE* stream);

// A fresh folder under the system's temporary folder, removed by the caller
// with RemoveTree.
std::string MakeScratchDir();
void RemoveTree(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

#endif
