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

// Whether the format defines this chunk type for resources of this usage,
// both given as four stored bytes: pictures are "PNG ", "JPEG" or "Rect";
// sounds "FORM" (AIFF), "OGGV", "MOD " or "SONG"; stories "ZCOD", "GLUL",
// "TAD2", "TAD3", "HUGO", "ALAN", "ADRI", "LEVE", "AGT ", "MAGS", "ADVS" or
// "EXEC"; data "TEXT", "BINA" or "FORM". False for a usage readers do not
// look up.
bool IsDefinedType(const char* usage, const char* type);

// Whether this is a type the format leaves out but some interpreters read
// all the same: "GIF " pictures and "WAV ", "MIDI" or "MP3 " sounds.
bool IsFewReadersType(const char* usage, const char* type);

// Why a chunk type does not suit its usage (four stored bytes each), or null
// when it does or when readers do not look the usage up. The text is meant to
// follow the type's name, as in: Chunk type "GIF" <text>.
const char* TypeProblem(const char* usage, const char* type);

// Why data does not look like what its chunk type promises, or null when it
// does or when the type has no unambiguous signature. The text says what is
// wrong and what readers will do about it.
const char* SignatureProblem(const char* type, const unsigned char* data, size_t length);

// What data looks like, by the signatures of what people most often pack
// under the wrong type or take for a Blorb file: "a PNG picture", "a JPEG
// picture", "an IFF FORM of type \"AIFF\"", "a Z-code story (version 5)", "a
// Glulx story" and more, by signatures alone; null when nothing fits. A text made
// up for these bytes is written into buffer, of room bytes.
const char* LooksLike(const unsigned char* bytes, size_t size, char* buffer, size_t room);

#endif
