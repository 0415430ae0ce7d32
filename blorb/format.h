// What readers of Blorb files require of the resources in them: the usages
// they look up and the signatures by which they recognise pictures, sounds,
// story files and embedded IFF chunks. Shared by the packager, which warns,
// and by the checker, which reports problems; it holds no state of its own.
#ifndef BLORBPACK_BLORB_FORMAT_H
#define BLORBPACK_BLORB_FORMAT_H

#include <cstddef>

// Identifiers as stored in the file: four bytes, padded with spaces.
constexpr size_t kIdSize = 4;
constexpr size_t kChunkHeaderSize = 8;   // type and length
constexpr size_t kContainerHeaderSize = 12;  // "FORM", length, "IFRS"
constexpr size_t kIndexEntryBytes = 12;  // usage, number, start

// Offsets and lengths are 32-bit fields, and the readers that hold them in
// signed numbers cannot reach a byte beyond this.
constexpr size_t kMaxBlorbFileSize = 2147483647;

// Whether readers look resources up under this usage: "Pict", "Snd ", "Data"
// or "Exec", compared as four stored bytes, exact case.
bool IsLookedUpUsage(const char* usage);

// How the format takes a chunk type under a usage: one it defines, one that
// only some interpreters read (ADRIFT's GIF pictures and WAV, MIDI and MP3
// sounds), or one it does not define. Usages other than the four looked up
// have no types of their own: every type is undefined under them.
enum TypeFit { kTypeDefined, kTypeReadBySome, kTypeUndefined };
TypeFit FitOfType(const char* usage, const char* type);

// The types the format defines for a looked-up usage, for messages
// ("PNG, JPEG or Rect"), or null for any other usage.
const char* DefinedTypes(const char* usage);

// Why data does not look like what its chunk type promises, or null when it
// does or when the type has no unambiguous signature. The text says what is
// wrong and what readers will do about it.
const char* SignatureProblem(const char* type, const unsigned char* data, size_t length);

#endif
