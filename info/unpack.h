// Taking a Blorb file apart: a control file and one file per chunk, from
// which blorbpack packs the same bytes again.
//
//   blorbinfo --unpack DIR FILE
//   cd DIR && blorbpack NAME          (NAME.blc in, NAME.blorb out)
//
// DIR is created, or must be an empty folder; nothing is written outside it
// and no link in it is followed. NAME is FILE's name without its folder and
// its last extension when that is a plain name (letters, digits, '_', '-'
// and '.', not starting with '.' or '-'), else "blorb". NAME.blc is the only
// .blc file in DIR, and it appears only once complete.
//
// Each chunk becomes one record, in file order; the index is not a record,
// since blorbpack builds it from the records:
//   - a chunk that an index entry names: "USAGE NUMBER TYPE FILE", where FILE
//     is named after the usage and the number, pict_1.png, snd_3.aiff, ...;
//   - any other chunk: inline when the control file can spell its data
//     exactly ("0 0 ANNO text" for 1 to 1024 bytes of printable ASCII that
//     do not start with a space; "1 0 RelN N" for 2 bytes, "3 0 Fspc N" for
//     4), else "2 0 TYPE FILE", with FILE named after the type and the
//     chunk's place in the file, anno_7.txt.
// A FORM chunk's file holds the whole chunk, its header included, as
// blorbpack embeds such a file. File names are made of lower-case letters,
// digits and '_' before one extension, so that the constant names blorbpack
// makes of them are identifiers; they never repeat.
//
// What blorbpack cannot reproduce (the index not in chunk order, one chunk
// under two entries, a container or index length it would write otherwise,
// bytes after the last chunk, a pad byte missing or not zero, a chunk cut
// short, an identifier no control-file token can spell...) is told one
// reason a line, every chunk is still written to its file, and the status is 1:
//   FILE: Cannot re-pack at 0xOFFSET: TEXT
// The run ends with a line that names DIR, the control file and how many
// files were written:
//   FILE: unpacked into "DIR": "NAME.blc" and N files; blorbpack re-packs them byte for byte
//   FILE: unpacked into "DIR": "NAME.blc" and N files; R reasons why blorbpack cannot re-pack them byte for byte
#ifndef BLORBPACK_INFO_UNPACK_H
#define BLORBPACK_INFO_UNPACK_H

#include <cstddef>
#include <cstdio>

struct BlorbSource;

// Unpacks the Blorb file that source holds into the folder dir; name is the
// file as the user named it. A source that is too large for blorbpack to
// write may hold no bytes: nothing of it was read. Returns the exit status: 0
// when blorbpack re-packs the files byte for byte, 1 when it cannot (the
// reasons are on out), 2 when the folder cannot be used or a file cannot be
// written (the reason is on standard error, and what the run made is
// removed: the files, and the folder when the run created it).
int UnpackBlorb(FILE* out, const char* dir, const char* name, const BlorbSource* source);

// The name of the control file that unpacking the file name writes, without
// its ".blc", into buffer of room bytes.
const char* ControlFileStem(const char* name, char* buffer, size_t room);

// The command line blorbinfo --unpack DIR FILE. Returns the exit status.
int UnpackMain(int argc, char** argv);

#endif
