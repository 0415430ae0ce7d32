// What the operating system decides, behind a few plain functions: which file
// a name or a descriptor is, the temporary file that becomes the output in one
// step, the signals that must not leave that file behind, the standard
// descriptors, mapping a file into memory, and the folder that blorbinfo
// unpacks into. Everything else in the program is the same on every system.
//
// Two sources for each system, SYSTEM being posix (Linux, the BSDs, macOS) or
// windows: platform_files_SYSTEM.cc, the files' part (the library
// blorb_platform), uses none of the packager's state, so that blorbinfo links
// it too; platform_SYSTEM.cc holds the packager's output file and signals.
// Windows, where there is more to say, splits the files' part by job:
// platform_names_windows.cc and platform_reading_windows.cc beside it.
// File names, arguments and messages are UTF-8 everywhere; files are read and
// written as bytes, never translated.
#ifndef BLORBPACK_COMMON_PLATFORM_H
#define BLORBPACK_COMMON_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Called first in main: where the system hands the command line over in
// another form (UTF-16 on Windows), argv is replaced by the same arguments in
// UTF-8, for the life of the process.
void UseUtf8Arguments(int* argc, char*** argv);

// True for a character that separates the components of a path: "/" on POSIX
// systems, where every other character may be part of a name; "\", "/" and
// ":" (after a drive letter) on Windows.
bool IsPathSeparator(char c);

// Why the system cannot give a file by this exact name, or null when it can:
// on Windows, names it would quietly change into the name of another file or
// of a device (a trailing space or dot, CON.txt). Never anything on POSIX
// systems. Every call of the layer that takes a name refuses such a one.
const char* NameProblem(const char* name);

enum FileKind { kNoFile, kRegularFile, kDirectory, kOtherFile };

struct FileStatus {
  int kind;              // a FileKind; kNoFile when the file cannot be examined
  uint64_t device;       // device and inode together tell one file from another,
  uint64_t inode;        // whatever names lead to it
  int64_t size;          // bytes; meaningful for regular files
  int64_t modified;      // last modification, in nanoseconds
  unsigned permissions;  // the permission bits
  bool isDevice;         // a terminal or another device, such as /dev/null
};

// Fill status for the file a name leads to (links followed) or a descriptor
// is open on. False, with kind kNoFile, when there is none or it cannot be
// examined.
bool StatusOfName(const char* name, FileStatus* status);
bool StatusOfDescriptor(int descriptor, FileStatus* status);

// True when both are the same existing file.
bool SameFile(const FileStatus* a, const FileStatus* b);

// Descriptors 0, 1 and 2 that are closed when the program starts are opened on
// the null device, so that no file the program opens later can take their
// place and receive what is meant for standard output or standard error. All
// three pass bytes unchanged: where the system has a text mode (Windows), they
// are put in binary mode, so that lines end with a line feed alone.
void OpenStandardDescriptors();

// Makes standard descriptor descriptor (1 or 2) lead where descriptor onto
// leads, or to the null device when onto is -1, so that what is printed
// there never reaches the file it led to. False when that fails.
bool MoveStandardStream(int descriptor, int onto);

// A second descriptor on what descriptor is open on, not passed on to other
// programs; -1 on failure.
int DuplicateDescriptor(int descriptor);

// Writes text straight to standard error, bypassing stdio. Safe in a signal
// handler and when the heap is exhausted.
void WriteStandardError(const char* text);

// The name of the file that writing to name would reach: symbolic links are
// followed to the file they point to, which need not exist yet. A new heap
// string (my_malloc) that the caller releases with free(), or null when the
// links go round in a loop.
char* ResolveLinks(const char* name);

// Creates a new file beside name, in the same directory, under a name no file
// had and no one can guess: name (less of its end, where the system's limit
// on a name's length requires) followed by ".tmp." and six random letters and
// digits. It gets what the file name already leads to had: its permission
// bits, its access ACL and the other extended attributes the process may set,
// its group and, when root runs the packager, its owner; a new output gets
// what creating a file gives (0666 less the umask). Returns a descriptor open
// for writing, or -1, also when that file could not be replaced or given what
// it had (TemporaryProblem says why). The temporary file is remembered until
// it replaces name or is removed; there is at most one at a time.
int CreateTemporary(const char* name);

// Why the last CreateTemporary refused to replace the file: "it belongs to
// another user, ..." or "its group could not be kept (REASON)", to follow
// "cannot be replaced: "; null when it failed for another reason (the folder
// missing or read-only), or succeeded.
const char* TemporaryProblem();

// The remembered temporary file, or null when there is none.
const char* TemporaryName();

// Moves the temporary file over name in one step, so that name leads either
// to the old file or to the complete new one, never to anything in between.
// False when that fails; the temporary file is then still there.
bool ReplaceWithTemporary(const char* name);

// For an output named "-": a new descriptor on what standard output is, for
// the Blorb file, while standard output itself becomes a copy of standard
// error, so that the messages and the listing go there. -1 on failure.
int TakeStandardOutput();

// Removes the temporary file if there is one. Safe in a signal handler.
void RemoveTemporary();

// True when the existing file name leads to may be written by this process.
bool CanWrite(const char* name);

// Opens an existing file for reading its bytes unchanged, not passed on to
// other programs; -1 on failure.
int OpenForReading(const char* name);

// A new descriptor on standard input, in binary, for a file named "-"; -1 on
// failure.
int OpenStandardInput();

// The same as a buffered stream, or null.
FILE* OpenStreamForReading(const char* name);

// The descriptor a stream reads or writes.
int DescriptorOfStream(FILE* stream);

// 64-bit positions on a stream: the position, or -1; seeking from the start,
// false on failure.
int64_t StreamPosition(FILE* stream);
bool SeekStream(FILE* stream, int64_t offset);

// The size of a disk device (on POSIX systems, a block device), found by
// seeking to its end and back to the start; -1 for anything else, whose size is
// known only by reading it to its end.
int64_t DeviceSize(int descriptor);

// Opens an existing file that is not a regular file (a device, a FIFO, a
// terminal) for writing, without creating anything. Returns -1 on failure.
int OpenForWriting(const char* name);

// A buffered binary output stream on a descriptor, or null.
FILE* StreamOnDescriptor(int descriptor);
void CloseDescriptor(int descriptor);

// Reads up to size bytes; fewer only at the end of the file or after a
// failure, which sets *failed.
size_t ReadFully(int descriptor, unsigned char* data, size_t size, bool* failed);

// Writes all size bytes; false when that fails.
bool WriteFully(int descriptor, const unsigned char* data, size_t size);

// Copies length bytes at offset of the file from to the end of the file to,
// inside the system, without passing them through the process: the bytes
// then cost no page faults and no copy of ours. Returns how many it copied:
// all of them, or fewer after a failure, which sets errno, or at the end of
// the file from, which leaves errno 0. *unsupported is
// set, with nothing copied, where the system or the two files do not allow
// such a copy; the caller then writes the bytes itself.
size_t CopyFileBytes(int from, int64_t offset, int to, size_t length, bool* unsupported);

// Interruption (SIGINT, SIGTERM, SIGHUP), a closed pipe (SIGPIPE) and the
// file size limit (SIGXFSZ) remove the temporary file, then end the process
// by the same signal, so that whoever started it sees why it ended. Signals
// that were ignored when the program started stay ignored. A mapped resource
// that another program cuts short (SIGBUS) ends the run by ResourceCutShort.
// On Windows the console's interrupts (Ctrl+C, Ctrl+Break, its window closed)
// remove the temporary file and end the process at once.
void InstallSignalHandlers();

// Maps size bytes of an open regular file read-only and reads them in, or
// returns null when the file cannot be mapped, and always on Windows, where
// the file is read instead. The mapping outlives the descriptor.
unsigned char* MapFile(int descriptor, int64_t size);
void UnmapFile(unsigned char* data, int64_t size);

// Maps size bytes of an open regular file read-only without reading anything
// in: each page is read when it is first touched, so that a reader that looks
// at a few headers of a large file reads only those. Null when the file
// cannot be mapped (always on Windows); a size of 0 cannot be. Released with
// UnmapFile.
unsigned char* MapFileLazily(int descriptor, int64_t size);

// The mapped pages that lie wholly in [data, data + length) leave the
// process's memory; they stay in the system's cache of the file and are read
// in again if touched. For a reader that is done with them, so that a file
// copied out of a mapping does not end up resident as a whole.
void ForgetMappedPages(const unsigned char* data, size_t length);

// A reading run's guard. A mapped file that another program cuts short would
// end the process by SIGBUS: it ends instead with message on standard error and
// the given status. An ending signal (as for InstallSignalHandlers) ends it by
// that signal. Either way the file named by RemoveWhenEnding goes first.
void GuardMappedReading(const char* message, int status);

// Names the half-written file that the guard removes (null: none). False,
// with nothing named, when the name is too long to be kept.
bool RemoveWhenEnding(int folder, const char* name);

// A folder that files are made in through a descriptor, never by a path, so
// that no link can lead a new file out of it.
// Creates the folder (0777 less the umask); false, with errno, when it cannot
// (EEXIST when the name is taken).
bool MakeFolder(const char* path);
// Opens an existing folder; -1, with errno, when it cannot, also when path is
// itself a symbolic link (ELOOP) or not a folder (ENOTDIR).
int OpenFolder(const char* path);
// Removes an empty folder that MakeFolder made; false when it cannot.
bool RemoveFolder(const char* path);
// 1 when the folder holds nothing, 0 when it holds something, -1 when it
// cannot be read.
int FolderIsEmpty(int folder);
// Creates name in the folder, for writing; -1, with errno, when anything
// already has that name, a link included, which is never followed.
int CreateInFolder(int folder, const char* name);
// Gives the file named from the name to as well, unless something already
// has that name (false, with errno), then removes the name from.
bool MoveInFolder(int folder, const char* from, const char* to);
void RemoveFromFolder(int folder, const char* name);

#if defined(_WIN32)
// Within the layer: the name as Windows takes it, in UTF-16 and, when it is
// too long for the classic calls, as an extended-length path; null when
// NameProblem has a reason against it (or memory ran out). Released with
// free().
wchar_t* WindowsName(const char* name);
// errno for the reason GetLastError gave about the file wide names, for
// messages that quote it.
void SetErrno(unsigned long error, const wchar_t* wide);
// The handle of a descriptor, or INVALID_HANDLE_VALUE.
void* HandleOf(int descriptor);
#endif

// One character of a stream that only this thread reads, without the stream's
// lock: the control file is read a character at a time.
#if defined(_WIN32)
inline int ReadChar(FILE* stream) { return _getc_nolock(stream); }
#else
inline int ReadChar(FILE* stream) { return getc_unlocked(stream); }
#endif

#endif
