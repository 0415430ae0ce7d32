// The chunk record, the unit in which everything is packed, and the reader
// that turns each record of the control file into one.
//
// Control-file syntax: each record is four parts, normally on one line:
//   usage   a token ended by white space ("0", "1", "2", "3", "Pict", "Snd", ...)
//   number  an optional sign and decimal digits, ended by any other character
//   type    a token ended by white space (ANNO, PNG , FORM, ...)
//   argument  after white space (line ends included) is skipped: every
//           character up to the next line feed or the end of the file.
// Usages "0" (text), "1" (16-bit number) and "3" (32-bit number) carry their
// data inline; every other usage names a file whose whole content is the data.
#ifndef BLORBPACK_CONTROL_CHUNK_H
#define BLORBPACK_CONTROL_CHUNK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int kMaxTypeLength = 4;
constexpr int kMaxUsageLength = 6;

struct Chunk {
  char type[kMaxTypeLength + 1];    // up to four characters, padded on output
  char usage[kMaxUsageLength + 1];  // "0" means not indexed; the index keeps four
  int32_t number;                   // resource number
  int32_t length;                   // number of data bytes
  unsigned char* data;              // owned; null when there are no bytes
  bool mapped;                      // data is a mapping of the resource file
};

// Releases a record and its data, however the data was obtained.
void ReleaseChunk(Chunk* chunk);

// Called once a record's data has been written. Data read into memory was
// copied when it was read; mapped data is the file itself, so the file must
// still have the size and time it had when it was mapped, or what was written
// may be zeros or a mix of two versions: the run then ends by
// ResourceCutShort or ResourceChanged.
void CheckResource(const Chunk* chunk);

// Set once the constants header has been printed; it is printed at the first
// resource file that opens, and never again.
extern int16_t headerPrinted;

// Bytes the Blorb file will take with every record read so far, index
// included. Checked before a record is accepted so that nothing is read that
// cannot fit in a Blorb file.
extern int64_t PackedSize;

// Size of the container header, the index chunk's header and its count field:
// what an empty control file produces.
constexpr int64_t kEmptyBlorbSize = 24;
constexpr int64_t kIndexEntrySize = 12;

// Line of the control file on which the record being read starts, counting
// line feeds (CR LF is one line end). Line numbers records, which an editor
// does not show; this is what lets the author find one.
extern int64_t RecordLine;

// Reads one record and returns a new chunk record that the caller owns, or
// null when there is none: the control file ended (after nothing but white
// space, or in the middle of a record), the record was rejected, or its file
// could not be loaded. Problems the author can fix are reported on standard
// output, quoting Line. A UTF-8 byte order mark at the very start of the
// control file is skipped.
Chunk* ReadChunk(FILE* control);

// Marks the record being read as asked for but not packed whole: rejected,
// cut short, or its file could not be opened or read in full. Any such record
// makes the run end with status 1, even though the Blorb file is written with
// all the others.
void NotPacked();

// Whether any record was not packed so far.
bool RecordsNotPacked();

// At the end of a run: when records were not packed, prints one line on
// standard error that names each by its number and the line it starts on,
// and says so. Forgets them either way.
bool ReportNotPacked();

// Bytes a chunk of this type and length takes in the Blorb file: its header,
// unless it is an embedded "FORM" that brings its own, the data and the pad
// byte after an odd length.
int64_t ChunkBytes(const char* type, int64_t length);

// Accounts for a record about to be accepted. When the Blorb file would grow
// beyond what its 32-bit length field can describe, the run ends with status 1
// before anything more is read.
void ReserveOutput(int64_t length, const char* type, bool indexed);

// The file branch of ReadChunk: name is the terminated argument, which it
// releases; chunk has usage, number and type filled.
Chunk* ReadResource(Chunk* chunk, char* name);

// A run that writes the constants alone: the file branch opens no file and
// loads no data; every picture and sound is listed into the include text.
extern bool ListOnly;

// Lists one picture or sound: on standard output as "constant NAME N", or,
// when ListOnly, into the include text as "Constant NAME N;".
void ListConstant(const char* prefix, const char* shortName, int32_t number);

// The Inform 6 include of a ListOnly run: a comment line, then every constant
// listed, in the order of the records. The caller owns the text, which holds
// *length bytes and no terminator; the listing starts afresh.
char* TakeInclude(size_t* length);

// Set to keep the names of the files that records name, for a dependency file.
extern bool NoteDependencies;
void NoteDependency(const char* name);

// A make rule "output: control file...", with every prerequisite also given an
// empty rule of its own, so that make does not stop when one of them is
// deleted. Names are escaped as compilers escape them in such rules. The
// caller owns the text, which holds *length bytes; the names are forgotten.
char* TakeDependencyRule(const char* output, const char* control, size_t* length);

// Warns on standard error when the constant just listed for the record being
// read is no name a compiler takes, or repeats an earlier one.
void CheckConstantName(const char* prefix, const char* shortName);
void ResetConstantNames();

// Program-wide reader state back to its start, for running several jobs in one
// process.
void ResetReader();

#endif
