#include "info/unpack.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "blorb/format.h"
#include "common/platform.h"
#include "info/layout.h"
#include "info/source.h"
#include "info/spelling.h"

// Chunk data reaches its file at most this much per write, for the reason the
// packager writes its output in pieces of this size (blorb/blorb.cc): whole
// writes of many megabytes are cached in folios that are slow to come by on
// a virtual machine.
constexpr size_t kWritePiece = 256 * 1024;

// How much of the mapping is read before its pages are let go, in one call.
constexpr size_t kForgetEvery = 8 * 1024 * 1024;

constexpr uint64_t kNoEntry = UINT64_MAX;

// One unpacking job: the file, the folder and the control file being written.
struct Unpacking {
  FILE* out;
  const char* dir;
  const char* name;
  const unsigned char* bytes;
  size_t size;
  bool mapped;
  int source;      // the Blorb file, to copy from in the kernel, or -1
  bool copyFails;  // the kernel cannot copy between these files
  int folder;
  FILE* control;  // under its temporary name until it is complete
  size_t reasons;
  uint64_t files;
  bool failed;  // a file could not be written: the job stops
  Names names;
  // The chunk files written, one after another with their terminators, so
  // that a job that fails can take back what it made.
  char* made;
  size_t madeLength;
  size_t madeCapacity;
  bool recordWritten;  // the control file holds a record
};

__attribute__((format(printf, 3, 4))) static void reason(Unpacking* job, uint64_t offset, const char* format,
                                                          ...) {
  va_list arguments;
  va_start(arguments, format);
  print_line(job->out, job->name, "Cannot re-pack", offset, format, arguments);
  va_end(arguments);
  ++job->reasons;
}

// Names are escaped as on standard output, so that they cannot forge a line.
static void print_name(FILE* out, const char* name) {
  print_escaped(out, reinterpret_cast<const unsigned char*>(name), strlen(name));
}

static void remember_file(Unpacking* job, const char* file) {
  size_t length = strlen(file) + 1;
  if (job->madeCapacity - job->madeLength < length) {
    job->madeCapacity = 2 * job->madeCapacity + length;
    job->made = static_cast<char*>(grow(job->made, job->madeCapacity, 1));
  }
  memcpy(job->made + job->madeLength, file, length);
  job->madeLength += length;
}

static void remove_files(Unpacking* job) {
  for (size_t at = 0; at < job->madeLength; at += strlen(job->made + at) + 1) {
    RemoveFromFolder(job->folder, job->made + at);
  }
}

// Writing from a mapping of a file that another program cut short fails with
// EFAULT where reading would raise SIGBUS: the pages are touched, so that the
// guard meets the end of the file and tells it as a listing does.
static void touch_pages(const unsigned char* data, size_t length) {
  volatile unsigned char sink = 0;
  for (size_t at = 0; at < length; at += 4096) sink = static_cast<unsigned char>(sink + data[at]);
  if (length > 0) sink = static_cast<unsigned char>(sink + data[length - 1]);
}

static bool cannot_write(Unpacking* job, const char* file, int error) {
  fputs("blorbinfo: Error: Can't write \"", stderr);
  print_name(stderr, job->dir);
  fprintf(stderr, "/%s\": %s\n", file, strerror(error));
  job->failed = true;
  return false;
}

// The bytes go from the Blorb file to the new one inside the kernel, as cat
// copies a file, where the system can; else they are written from memory.
static bool write_file(Unpacking* job, const char* file, const unsigned char* data, size_t length) {
  int descriptor = CreateInFolder(job->folder, file);
  if (descriptor < 0) return cannot_write(job, file, errno);
  remember_file(job, file);
  size_t at = 0;
  bool written = true;
  if (job->source >= 0 && !job->copyFails && length > 0) {
    bool unsupported = false;
    at = CopyFileBytes(job->source, data - job->bytes, descriptor, length, &unsupported);
    job->copyFails = unsupported;
    // Short of the end of a file that another program cut short, the rest is
    // read from the mapping, where the guard meets the end and tells it.
    written = at == length || unsupported || errno == 0;
  }
  for (size_t done = at; at < length && written; at += kWritePiece) {
    size_t piece = length - at < kWritePiece ? length - at : kWritePiece;
    written = WriteFully(descriptor, data + at, piece);
    if (!written && errno == EFAULT && job->mapped) touch_pages(data + at, piece);
    // Pages written out are not needed again: a large file passes through
    // memory rather than staying in it whole.
    if (job->mapped && (at + piece - done >= kForgetEvery || at + piece == length)) {
      ForgetMappedPages(data + done, at + piece - done);
      done = at + piece;
    }
  }
  int error = errno;
  CloseDescriptor(descriptor);
  if (!written) return cannot_write(job, file, error);
  ++job->files;
  return true;
}

// The record of a chunk that no index entry names, when its data can be
// written inline; false when it needs a file.
static bool write_inline(Unpacking* job, const unsigned char* type, const char* token,
                         const unsigned char* data, size_t length) {
  bool text = is_inline_text(data, length);
  bool numeric = !is_text_type(type) && (length == 2 || length == 4);
  if (numeric) {
    job->recordWritten = true;
    if (length == 2) {
      fprintf(job->control, "1 0 %s %u\n", token, short_at(data));
    } else {
      fprintf(job->control, "3 0 %s %lld\n", token, signed_of(long_at(data)));
    }
    return true;
  }
  if (!text) return false;
  job->recordWritten = true;
  fprintf(job->control, "0 0 %s ", token);
  fwrite(data, 1, length, job->control);
  fputc('\n', job->control);
  return true;
}

static void container_reasons(Unpacking* job) {
  const unsigned char* bytes = job->bytes;
  char id[kQuotedIdSize];
  if (!is_id(bytes, "FORM")) reason(job, 0, "File starts with %s, but blorbpack writes \"FORM\"", quoted(bytes, id));
  if (long_at(bytes + kIdSize) != job->size - 8) {
    reason(job, kIdSize, "FORM length is %llu, but blorbpack writes the file size less 8, %llu",
           wide(long_at(bytes + kIdSize)), wide(job->size - 8));
  }
  if (!is_id(bytes + 8, "IFRS")) {
    reason(job, 8, "Form type is %s, but blorbpack writes \"IFRS\"", quoted(bytes + 8, id));
  }
}

static void index_reasons(Unpacking* job, const Walk* walk, const Index* index) {
  char type[kQuotedIdSize];
  if (walk->count == 0) {
    reason(job, kContainerHeaderSize,
           "No chunk follows the container header, where blorbpack writes the resource index \"RIdx\"");
  } else if (!is_id(job->bytes + walk->offsets[0], "RIdx")) {
    reason(job, walk->offsets[0], "First chunk is %s, but blorbpack writes the resource index \"RIdx\" first",
           quoted(job->bytes + walk->offsets[0], type));
  }
  if (!index->found) return;
  if (index->length < 4) {
    reason(job, index->offset, "Resource index is %llu %s, too short for the count that blorbpack writes",
           wide(index->length), plural(index->length, "byte", "bytes"));
  } else if (index->hasCount && 4 + kIndexEntryBytes * index->count != index->length) {
    reason(job, index->offset, "Resource index is %llu bytes, but blorbpack writes 4 + 12 x %llu = %llu for its count",
           wide(index->length), wide(index->count), wide(4 + kIndexEntryBytes * index->count));
  }
}

// Gives each chunk the entry that names it, in owner; tells every entry that
// no record can stand for as it is.
static void match_entries(Unpacking* job, const Walk* walk, const Index* index, uint64_t* owner) {
  char usage[kQuotedIdSize];
  char token[kTokenRoom];
  bool matched = false;
  size_t last = 0;  // the furthest chunk an entry named so far
  for (uint64_t k = 0; k < index->entries; ++k) {
    uint64_t at = entry_offset(index, k);
    const unsigned char* entry = job->bytes + at;
    quoted(entry, usage);
    uint64_t number = long_at(entry + 4);
    uint64_t start = long_at(entry + 8);
    size_t position = chunk_position(walk, start);
    if (position == walk->count || walk->offsets[position] != start || start == index->offset) {
      reason(job, at, "Index entry %s %llu starts at 0x%06llX, where no resource chunk starts: no record stands for it",
             usage, wide(number), wide(start));
      continue;
    }
    if (owner[position] != kNoEntry) {
      reason(job, at,
             "Index entry %s %llu names the chunk of the entry at 0x%06llX: blorbpack gives each entry a chunk "
             "of its own",
             usage, wide(number), wide(entry_offset(index, owner[position])));
      continue;
    }
    if (matched && position < last) {
      reason(job, at,
             "Index entry %s %llu names the chunk at 0x%06llX, before the chunk at 0x%06llX of an entry before "
             "it: blorbpack writes the index in chunk order",
             usage, wide(number), wide(start), wide(walk->offsets[last]));
    }
    owner[position] = k;
    if (!matched || position > last) last = position;
    matched = true;
    const char* why = spell_usage(entry, token);
    if (why != nullptr) {
      reason(job, at, "Index entry %s %llu has a usage that no record can give: %s; its chunk is packed unindexed",
             usage, wide(number), why);
    }
  }
}

// Where the chunk lies against what blorbpack writes around it.
static void layout_reasons(Unpacking* job, const Piece* piece) {
  char type[kQuotedIdSize];
  // An embedded FORM's file holds its header, length field included, so it
  // is packed cut short as it is, only with a pad byte after an odd size.
  if (piece->end > job->size && is_id(piece->type, "FORM")) {
    uint64_t held = job->size - piece->offset;
    if (held % 2 != 0) {
      reason(job, piece->offset,
             "Chunk \"FORM\" of %llu %s ends at 0x%06llX, past the end of the file at 0x%06llX: blorbpack packs "
             "the %llu bytes there with a pad byte after them",
             wide(piece->length), plural(piece->length, "byte", "bytes"), wide(piece->end), wide(job->size),
             wide(held));
    }
  } else if (piece->end > job->size) {
    uint64_t held = job->size - (piece->offset + kChunkHeaderSize);
    reason(job, piece->offset,
           "Chunk %s of %llu %s ends at 0x%06llX, past the end of the file at 0x%06llX: blorbpack packs the "
           "%llu %s there",
           quoted(piece->type, type), wide(piece->length), plural(piece->length, "byte", "bytes"),
           wide(piece->end), wide(job->size), wide(held), plural(held, "byte", "bytes"));
  } else if (piece->length % 2 != 0 && piece->end == job->size) {
    reason(job, piece->end, "Pad byte missing after the chunk at 0x%06llX, whose length %llu is odd: blorbpack writes one",
           wide(piece->offset), wide(piece->length));
  } else if (piece->length % 2 != 0 && job->bytes[piece->end] != 0) {
    reason(job, piece->end, "Pad byte after the chunk at 0x%06llX is 0x%02X, but blorbpack writes 0",
           wide(piece->offset), job->bytes[piece->end]);
  }
}

// One chunk: its file, when it needs one, and its record.
static void unpack_chunk(Unpacking* job, const Piece* piece, uint64_t place, const Index* index,
                         uint64_t entry) {
  bool form = is_id(piece->type, "FORM");
  uint64_t from = piece->offset + (form ? 0 : kChunkHeaderSize);
  uint64_t to = piece->end <= job->size ? piece->end : job->size;
  const unsigned char* data = job->bytes + from;
  size_t length = static_cast<size_t>(to - from);

  char type[kTokenRoom];
  char usage[kTokenRoom];
  const char* typeProblem = spell_id(piece->type, type);
  const unsigned char* indexed = entry == kNoEntry ? nullptr : job->bytes + entry_offset(index, entry);
  if (indexed != nullptr && spell_usage(indexed, usage) != nullptr) indexed = nullptr;
  if (indexed == nullptr && typeProblem == nullptr && !form &&
      write_inline(job, piece->type, type, data, length)) {
    return;
  }

  char suffix[kSuffixRoom];
  char word[kTokenRoom];
  char file[kFileNameRoom];
  suffix_of(piece->type, data, length, suffix);
  if (indexed != nullptr) {
    word_of(indexed, word);
    name_file(&job->names, "res", word, long_at(indexed + 4), suffix, file);
  } else {
    word_of(piece->type, word);
    name_file(&job->names, "chunk", word, place, suffix, file);
  }
  if (typeProblem != nullptr) {
    char shown[kQuotedIdSize];
    reason(job, piece->offset, "Chunk type %s cannot be a token of the control file: %s; %s is written, but no record packs it",
           quoted(piece->type, shown), typeProblem, file);
  }
  if (!write_file(job, file, data, length) || typeProblem != nullptr) return;
  // blorbpack skips a UTF-8 byte order mark at the start of its control
  // file: a usage that starts with one must not stand there.
  if (!job->recordWritten && indexed != nullptr && strncmp(usage, "\xEF\xBB\xBF", 3) == 0) {
    fputc('\n', job->control);
  }
  job->recordWritten = true;
  if (indexed != nullptr) {
    fprintf(job->control, "%s %lld %s %s\n", usage, signed_of(long_at(indexed + 4)), type, file);
  } else {
    fprintf(job->control, "2 0 %s %s\n", type, file);
  }
}

static void unpack_chunks(Unpacking* job, bool tooLarge) {
  if (tooLarge) {
    reason(job, kMaxBlorbFileSize, "File goes on past %llu bytes, more than blorbpack writes",
           wide(kMaxBlorbFileSize));
  }
  if (job->bytes == nullptr) return;
  if (job->size < kContainerHeaderSize) {
    reason(job, 0, "File is %llu %s, too short for the container header that blorbpack writes", wide(job->size),
           plural(job->size, "byte", "bytes"));
    return;
  }
  container_reasons(job);
  Walk walk = walk_chunks(job->bytes, job->size);
  Index index = find_index(job->bytes, job->size, &walk);
  index_reasons(job, &walk, &index);
  uint64_t* owner = static_cast<uint64_t*>(grow(nullptr, walk.count, sizeof(uint64_t)));
  for (size_t i = 0; i < walk.count; ++i) owner[i] = kNoEntry;
  if (index.found) match_entries(job, &walk, &index, owner);

  for (size_t i = 0; i < walk.count && !job->failed; ++i) {
    Piece piece = piece_at(job->bytes, walk.offsets[i]);
    layout_reasons(job, &piece);
    // blorbpack builds the index from the records.
    if (index.found && piece.offset == index.offset) continue;
    unpack_chunk(job, &piece, i, &index, owner[i]);
  }
  if (!job->failed && walk.end < job->size) {
    uint64_t left = job->size - walk.end;
    reason(job, walk.end, "%llu %s after the %s, too few for a chunk: no record packs them", wide(left),
           plural(left, "byte", "bytes"), walk.count == 0 ? "container header" : "last chunk");
  }
  free(owner);
  free(walk.offsets);
}

// The folder, created (*made) or found empty; -1 after a message when it
// cannot be used.
static int open_folder(const char* dir, bool* made) {
  const char* why = nullptr;
  int error = 0;
  int folder = -1;
  *made = MakeFolder(dir);
  if (*made) {
    folder = OpenFolder(dir);
    if (folder < 0) error = errno;
  } else if (errno != EEXIST) {
    error = errno;
  } else if ((folder = OpenFolder(dir)) < 0) {
    error = errno;
    if (error == ELOOP) why = "it is a symbolic link";
  } else {
    int empty = FolderIsEmpty(folder);
    if (empty == 0) why = "it is not empty";
    if (empty < 0) error = errno;
  }
  if (why == nullptr && error == 0) return folder;
  fputs("blorbinfo: Error: Can't unpack into \"", stderr);
  print_name(stderr, dir);
  fprintf(stderr, "\": %s\n", why != nullptr ? why : strerror(error));
  if (folder >= 0) CloseDescriptor(folder);
  return -1;
}

int UnpackBlorb(FILE* out, const char* dir, const char* name, const BlorbSource* source) {
  bool made = false;
  int folder = open_folder(dir, &made);
  if (folder < 0) {
    if (made) RemoveFolder(dir);
    return 2;
  }
  char stem[kControlStemRoom];
  ControlFileStem(name, stem, sizeof stem);
  char controlName[sizeof stem + 8];
  char partName[sizeof stem + 16];
  snprintf(controlName, sizeof controlName, "%s.blc", stem);
  // Not a .blc file: until it is complete, the control file is not there.
  snprintf(partName, sizeof partName, "%s.blc.part", stem);

  Unpacking job = {out, dir, name, source->bytes, source->size, source->mapped, source->descriptor,
                   false, folder, nullptr, 0, 0, false, {nullptr, 0, 0}, nullptr, 0, 0, false};
  int descriptor = CreateInFolder(folder, partName);
  if (descriptor < 0 || !RemoveWhenEnding(folder, partName) ||
      (job.control = StreamOnDescriptor(descriptor)) == nullptr) {
    cannot_write(&job, partName, errno);
    if (descriptor >= 0) {
      CloseDescriptor(descriptor);
      RemoveFromFolder(folder, partName);
    }
  } else {
    unpack_chunks(&job, source->tooLarge);
    bool written = !ferror(job.control);
    int error = errno;
    if (fclose(job.control) != 0) written = false;
    if (!job.failed && !written) cannot_write(&job, partName, error != 0 ? error : errno);
    if (!job.failed && !MoveInFolder(folder, partName, controlName)) cannot_write(&job, controlName, errno);
    if (job.failed) RemoveFromFolder(folder, partName);
  }
  RemoveWhenEnding(folder, nullptr);
  // A rerun would find the folder not empty, with nothing to say why: what
  // this run made goes, the folder too when this run created it.
  if (job.failed) remove_files(&job);
  CloseDescriptor(folder);
  if (job.failed && made) RemoveFolder(dir);
  free(job.names.slots);
  free(job.made);
  if (job.failed) return 2;

  begin_line(out, name);
  fputs("unpacked into ", out);
  print_text(out, reinterpret_cast<const unsigned char*>(dir), strlen(dir));
  fputs(": ", out);
  print_text(out, reinterpret_cast<const unsigned char*>(controlName), strlen(controlName));
  fprintf(out, " and %llu %s; ", wide(job.files), plural(job.files, "file", "files"));
  if (job.reasons == 0) {
    fputs("blorbpack re-packs them byte for byte\n", out);
    return 0;
  }
  fprintf(out, "%llu %s why blorbpack cannot re-pack them byte for byte\n", wide(job.reasons),
          plural(job.reasons, "reason", "reasons"));
  return 1;
}

int UnpackMain(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "Usage: blorbinfo --unpack DIR FILE\n");
    return 2;
  }
  const char* dir = argv[2];
  const char* name = argv[3];
  BlorbSource source;
  if (!OpenBlorb(name, &source)) return 2;
  int status = UnpackBlorb(stdout, dir, name, &source);
  CloseBlorb(&source);
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "blorbinfo: Error: Can't write standard output.\n");
    status = 2;
  }
  return status;
}
