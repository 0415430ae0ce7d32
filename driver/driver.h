// The run of one packaging job, from the command line to the exit status.
#ifndef BLORBPACK_DRIVER_DRIVER_H
#define BLORBPACK_DRIVER_DRIVER_H

// Command line: "in-file out-file", or "base-name", which reads base-name.blc
// and writes base-name.blorb; "--help" or "--version" alone prints the usage
// or the banner. Returns the exit status: 0 when every record was packed and
// everything printed, 1 for a record not packed (the Blorb file is still
// written with all the others), a usage error, or a file that cannot be
// opened, read or written. Memory exhaustion ends the process with status 2
// wherever it happens.
int BlorbpackMain(int argc, char** argv);

#endif
