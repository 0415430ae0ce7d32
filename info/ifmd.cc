// The "IFmd" chunk: an iFiction record, XML in UTF-8 whose root element is
// "ifindex". It is parsed by expat, never by hand: XML has too many corners
// (entities, CDATA, character references) for a checker to get right alone.
#include <expat.h>

#include <cstdlib>

#include "info/layout.h"

// The fields the listing shows, found by the path of elements that leads to
// them; each keeps the text of its first element only.
struct Field {
  const char* label;
  const char* path[4];  // below "ifindex", null-terminated
  char* text;
  size_t length;
  size_t capacity;
  bool done;
};

constexpr int kMaxDepth = 64;

struct Metadata {
  XML_Parser parser;
  const char* root;  // the root element's name; never null after the first element
  char* rootCopy;
  int depth;
  const char* names[kMaxDepth];  // the open elements while they are within reach
  Field* fields;
  size_t fieldCount;
  Field* open;  // the field whose element is being read, or null
};

static bool on_path(const Metadata* metadata, const Field* field) {
  int at = 1;
  for (; field->path[at - 1] != nullptr; ++at) {
    if (at >= metadata->depth || at >= kMaxDepth || strcmp(metadata->names[at], field->path[at - 1]) != 0) {
      return false;
    }
  }
  return at == metadata->depth;
}

static void XMLCALL start_element(void* user, const XML_Char* name, const XML_Char** /*attributes*/) {
  Metadata* metadata = static_cast<Metadata*>(user);
  if (metadata->depth == 0) {
    size_t length = strlen(name);
    metadata->rootCopy = static_cast<char*>(grow(nullptr, length + 1, 1));
    memcpy(metadata->rootCopy, name, length + 1);
    metadata->root = metadata->rootCopy;
  }
  // Element names live only during the call: the names kept are those of
  // the fields' paths, which are all the matching needs.
  const char* kept = "";
  for (size_t k = 0; k < metadata->fieldCount; ++k) {
    for (const char* const* step = metadata->fields[k].path; *step != nullptr; ++step) {
      if (strcmp(*step, name) == 0) kept = *step;
    }
  }
  if (metadata->depth < kMaxDepth) metadata->names[metadata->depth] = kept;
  ++metadata->depth;
  if (metadata->root != nullptr && strcmp(metadata->root, "ifindex") == 0 && metadata->open == nullptr) {
    for (size_t k = 0; k < metadata->fieldCount; ++k) {
      if (!metadata->fields[k].done && on_path(metadata, &metadata->fields[k])) metadata->open = &metadata->fields[k];
    }
  }
}

static void XMLCALL end_element(void* user, const XML_Char* /*name*/) {
  Metadata* metadata = static_cast<Metadata*>(user);
  if (metadata->open != nullptr && on_path(metadata, metadata->open)) {
    metadata->open->done = true;
    metadata->open = nullptr;
  }
  --metadata->depth;
}

static void XMLCALL characters(void* user, const XML_Char* text, int length) {
  Metadata* metadata = static_cast<Metadata*>(user);
  Field* field = metadata->open;
  if (field == nullptr || length <= 0) return;
  size_t more = static_cast<size_t>(length);
  // expat hands text over in many short pieces (one per line, one per
  // entity): growing by each piece alone would copy the text over and over.
  if (field->capacity - field->length < more) {
    field->capacity = more > field->length ? field->length + more : 2 * field->length;
    field->text = static_cast<char*>(grow(field->text, field->capacity, 1));
  }
  memcpy(field->text + field->length, text, more);
  field->length += more;
}

// Parses the chunk; returns null when it is well-formed with an "ifindex"
// root, else why not, in why.
static const char* parse(const unsigned char* data, size_t length, Metadata* metadata, char* why, size_t room) {
  // The document is read as UTF-8 whatever its declaration says, so that any
  // byte sequence that is not UTF-8 is refused.
  XML_Parser parser = XML_ParserCreate("UTF-8");
  if (parser == nullptr) {
    fprintf(stderr, "blorbinfo: Error: Memory exceeded!\n");
    exit(2);
  }
  metadata->parser = parser;
  XML_SetUserData(parser, metadata);
  XML_SetElementHandler(parser, start_element, end_element);
  XML_SetCharacterDataHandler(parser, characters);
  const char* result = nullptr;
  // Fed in slices, as expat takes an int length and the chunk may be larger.
  size_t at = 0;
  bool failed = false;
  do {
    size_t slice = length - at < (1u << 30) ? length - at : (1u << 30);
    bool last = at + slice == length;
    if (XML_Parse(parser, reinterpret_cast<const char*>(data + at), static_cast<int>(slice), last) ==
        XML_STATUS_ERROR) {
      failed = true;
      break;
    }
    at += slice;
  } while (at < length);
  if (failed) {
    if (XML_GetErrorCode(parser) == XML_ERROR_NO_MEMORY) {
      fprintf(stderr, "blorbinfo: Error: Memory exceeded!\n");
      exit(2);
    }
    snprintf(why, room, "is not well-formed UTF-8 XML: %s at line %lu, column %lu",
             XML_ErrorString(XML_GetErrorCode(parser)), static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
             static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser) + 1));
    result = why;
  } else if (metadata->root == nullptr || strcmp(metadata->root, "ifindex") != 0) {
    char shown[2 + 4 * 16 + 1];
    size_t rootLength = strlen(metadata->root == nullptr ? "" : metadata->root);
    snprintf(why, room, "has the root element %s%s, not \"ifindex\": it is no iFiction record",
             quote_bytes(reinterpret_cast<const unsigned char*>(metadata->root == nullptr ? "" : metadata->root),
                         rootLength < 16 ? rootLength : 16, shown),
             rootLength > 16 ? "..." : "");
    result = why;
  }
  XML_ParserFree(parser);
  return result;
}

static Field* new_fields(size_t* count) {
  static const Field kFields[] = {
      {"title", {"story", "bibliographic", "title", nullptr}, nullptr, 0, 0, false},
      {"author", {"story", "bibliographic", "author", nullptr}, nullptr, 0, 0, false},
      {"IFID", {"story", "identification", "ifid", nullptr}, nullptr, 0, 0, false},
  };
  *count = sizeof kFields / sizeof kFields[0];
  Field* fields = static_cast<Field*>(grow(nullptr, *count, sizeof(Field)));
  memcpy(fields, kFields, sizeof kFields);
  return fields;
}

static void free_metadata(Metadata* metadata) {
  for (size_t k = 0; k < metadata->fieldCount; ++k) free(metadata->fields[k].text);
  free(metadata->fields);
  free(metadata->rootCopy);
}

const char* ifmd_problem(const unsigned char* data, size_t length, bool* checked) {
  *checked = true;
  static char why[256];
  Metadata metadata;
  memset(&metadata, 0, sizeof metadata);
  const char* result = parse(data, length, &metadata, why, sizeof why);
  free_metadata(&metadata);
  return result;
}

void list_ifmd(FILE* out, const unsigned char* data, size_t length) {
  char why[256];
  Metadata metadata;
  memset(&metadata, 0, sizeof metadata);
  metadata.fields = new_fields(&metadata.fieldCount);
  if (parse(data, length, &metadata, why, sizeof why) == nullptr) {
    for (size_t k = 0; k < metadata.fieldCount; ++k) {
      const Field* field = &metadata.fields[k];
      if (!field->done) continue;
      fprintf(out, ", %s ", field->label);
      print_text(out, reinterpret_cast<const unsigned char*>(field->text), field->length);
    }
  }
  free_metadata(&metadata);
}
