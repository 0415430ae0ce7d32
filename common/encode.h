// Helpers shared by every step of a packaging job: the allocation path that
// never comes back empty-handed, the big-endian and identifier encoders of the
// Blorb format, the short-name rule, and the program-wide variables that more
// than one step reads.
#ifndef BLORBPACK_COMMON_ENCODE_H
#define BLORBPACK_COMMON_ENCODE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Short program name (e.g. "blorbpack"); every message that names the program
// starts with it. Owned by the driver, lives for the whole run.
extern char* MyName;

// Number of record reads begun; the first record is 1. Error messages quote it
// so that the author can find the record in the control file.
extern int64_t Line;

// The two files of the job, kept where every step can name them in a message
// and where a fatal error can find the output to discard it. Set by the driver.
extern const char* ControlName;
extern const char* OutputName;
extern FILE* OutputFile;

// Warnings given so far in this job: a strict run fails when there are any.
extern int64_t WarningsGiven;
// Every warning starts here, with the program's name and the record it is
// about, so that --strict counts each one.
void StartWarning(int64_t line);

// Largest value a Blorb length or offset field can hold.
constexpr int64_t kMaxBlorbSize = INT32_MAX;

// Never return null: when the heap refuses, the process ends with status 2
// after "Error: Memory exceeded!\n" on standard error. A request for zero
// bytes succeeds and returns a block that may be released like any other.
void* my_malloc(size_t size);
void* my_realloc(void* block, size_t size);
// Appends count bytes to a text that grows geometrically, for the texts a
// run builds up piece by piece.
void AppendBytes(char** text, size_t* length, size_t* capacity, const char* bytes, size_t count);

// Installs the same out-of-memory ending for allocations made by the C++
// runtime, so that none surfaces as an uncaught std::bad_alloc.
void InstallMemoryHandler();

[[noreturn]] void MemoryExceeded();

// Ends the run after the output file was opened and something went wrong: the
// output is closed and the temporary file removed, so that the output's name
// leads to what it led to before the run. The caller has already printed the
// reason. Exit status 1.
[[noreturn]] void AbandonOutput();

// A mapped resource that another program cut short (the kernel's fault when
// its data is touched, or its size found smaller after the data was written)
// or changed in place while the job ran ends the run as AbandonOutput does,
// with a message on standard error. Safe in a signal handler.
[[noreturn]] void ResourceCutShort();
[[noreturn]] void ResourceChanged();

// Output-stream encoders.
void write_int(FILE* stream, uint32_t value);
void write_id(FILE* stream, const char* text);

// In-memory encoders: big-endian, most significant byte first; str_id pads
// with spaces to four bytes and stores no terminator.
void str_long(unsigned char* buffer, uint32_t value);
void str_short(unsigned char* buffer, uint32_t value);
void str_id(unsigned char* buffer, const char* text);

// The last component of path with its last extension removed:
// "tools/packer.exe" -> "packer". Components are separated as the system
// separates them: by "/" alone on POSIX systems, where a backslash is an
// ordinary character ("tools\packer.exe" -> "tools\packer"); by "\", "/"
// and ":" on Windows ("C:packer.exe" -> "packer"). The caller owns the result
// and releases it with free().
char* ShortProgramName(const char* path);

// Every name, usage, type and text a message prints goes through Shown: the
// text itself when it holds no control byte, else a copy with each of them
// (0x01 to 0x1F, 0x7F) as \xHH, so that a crafted file name or control file
// cannot act on the author's terminal. The copy stays valid until Shown has
// been called four more times, enough for every argument of one message.
const char* Shown(const char* text);
// The same of the first count bytes of text at most.
const char* ShownPrefix(const char* text, size_t count);
// Releases the copies, at the end of a run.
void ReleaseShown();

// Before the message that a file could not be opened: where the system would
// have taken the name for another file (on Windows: a trailing dot or space, a
// device's name), a line on standard output that says why. Nothing on POSIX
// systems.
void ReportNameProblem(const char* name);

#endif
