// Small text files a build reads (the constants include, the dependency
// file), put in place as the Blorb file is: whole or not at all.
#ifndef BLORBPACK_COMMON_REPLACE_H
#define BLORBPACK_COMMON_REPLACE_H

#include <cstddef>

// Makes the file name leads to hold exactly these bytes. A regular file that
// already holds them is left alone, modification time included, so that a
// build does not redo what depends on it; otherwise a temporary file beside it
// is moved over it in one step. A device or FIFO is written directly. False
// when that cannot be done, or the file is read-only or a folder; whatever
// was there before is then as it was.
bool ReplaceIfChanged(const char* name, const char* bytes, size_t length);

#endif
