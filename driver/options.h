// The options of a run. Each is recognised by its whole name and only before
// the file names; "--" ends them, and anything else is the first file name,
// as it always was, so that a run without options reads its arguments as
// before.
#ifndef BLORBPACK_DRIVER_OPTIONS_H
#define BLORBPACK_DRIVER_OPTIONS_H

struct Options {
  bool quiet;           // -q, --quiet: no banner
  bool strict;          // --strict: a warning fails the run
  bool constants;       // --constants: the include alone, from the control file
  const char* depfile;  // --depfile FILE or --depfile=FILE, or null
  bool ended;           // "--" was given: what follows is only file names
  const char* problem;  // why the options cannot run, or null
};

// Reads the options from argv[1] on; returns the index of the first file name.
int ReadOptions(int argc, char** argv, Options* options);

#endif
