// The output file from its opening to its replacing of the previous one. The
// Blorb file is written to a temporary file beside the output and moved over
// it in one step once it is complete, so that a run that fails, is stopped
// or runs beside another one leaves the output as it found it: absent, or the
// previous file with its content, permissions and links. Outputs that cannot
// be replaced that way (devices, FIFOs, terminals, and standard output, which
// "-" names) are written directly.
#ifndef BLORBPACK_COMMON_OUTPUT_H
#define BLORBPACK_COMMON_OUTPUT_H

#include "common/platform.h"

// Refuses an output that would destroy a file of the job or be mixed with the
// program's messages, then opens the output and sets OutputFile. control is
// the control file's status. False after a message on standard output: the
// run then ends with status 1, and no file was touched.
bool OpenBlorbOutput(const char* name, const FileStatus* control);

// Called before anything is printed: when the shell made the output file
// standard output or standard error (blorbpack game >game.blorb), the
// program's messages go to the other stream instead, or nowhere when both are
// it, so that the file stays as the shell made it. OpenBlorbOutput then
// refuses that output.
void KeepMessagesOffOutput(const char* name);

// Instead of CloseBlorbOutput, for a run that must not put its file in place:
// the temporary file is removed and the output left as it was.
void DiscardBlorbOutput();

// True when the output is written where its name leads as the file is made,
// which may not allow seeking back (a pipe, a FIFO, a terminal, a device, or
// standard output, named "-"): the container's length must then be written
// first.
bool OutputIsStream();

// Called once the whole Blorb file has been written to OutputFile: closes it,
// makes sure standard output (the constants listing) has reached its place,
// and only then puts the new file where the output's name leads. Any failure
// ends the run with a message and status 1, the output as it was.
void CloseBlorbOutput();

// True when status is the output file of the run, the previous one or the
// one being written, by whatever name it was reached.
bool IsOutputFile(const FileStatus* status);

#endif
