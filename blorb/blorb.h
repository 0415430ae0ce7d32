// The chunk table, the resource index and the container writer.
//
// A Blorb file is an IFF container; every integer is 32-bit big-endian:
//
//   offset    size  content
//   0         4     "FORM"
//   4         4     length of everything after this field (file size - 8)
//   8         4     "IFRS"
//   12        4     "RIdx"
//   16        4     length of the index data: 4 + 12 * n
//   20        4     n, the number of indexed resources
//   24 + 12k  4     entry k: usage, padded with spaces (first four characters)
//   28 + 12k  4     entry k: resource number, two's complement
//   32 + 12k  4     entry k: start, file offset of the resource's chunk
//   24 + 12n  ...   the chunks, in control-file order
//
// Each chunk is its type (padded to four bytes), its length, the data and one
// zero byte when the length is odd. A chunk of type "FORM" is already a
// complete IFF chunk and is written without a second header.
// Index entries stand in control-file order, one per record whose usage is
// not "0".
#ifndef BLORBPACK_BLORB_BLORB_H
#define BLORBPACK_BLORB_BLORB_H

#include <cstdint>
#include <cstdio>

#include "control/chunk.h"

// Slot 0 holds the index chunk; records take slots 1, 2, ... in control-file
// order. The table grows as records arrive.
extern Chunk** Blorb;
extern int32_t Chunks;
// Number of index entries filled.
extern int32_t IndexEntries;
// Set for --strict: a job with warnings or records not packed is to fail, so
// an output that cannot be taken back (a pipe, a terminal) is sent nothing.
extern bool Strict;

// Reads the whole control stream and writes the whole Blorb file to output,
// which must be open for binary writing and at its start, and seekable unless
// OutputIsStream says it is not (the length then comes first). A failure
// of the output or of the control stream ends the run with status 1.
void WriteBlorb(FILE* control, FILE* output);

// Loads the chunk table from the control stream and builds the index chunk,
// whose start fields it fills from the chunk sizes it now knows.
void BuildIndex(FILE* control);

// Writes one chunk record at the current position.
void Write_Chunk(FILE* output, const Chunk* record);

// Tells on standard error what readers will mishandle in a record that was
// just read: a usage or number no game can ask for, a usage cut to four
// characters, a repeated pair, a second story, a chunk type its usage does not
// allow, data that does not match its chunk type. Line names the record.
void WarnAbout(const Chunk* record);
// What can be told only once every record has been read: a frontispiece
// (Fspc) that names a picture no Pict record has.
void WarnAboutJob();
void ResetWarnings();

// Releases whatever the table still holds and puts the program-wide state of
// a job back to its start, for running several jobs in one process.
void ResetBlorb();

#endif
