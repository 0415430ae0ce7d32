// The dependency file of a packing run: the Blorb file depends on the control
// file and on every file a record names, whether or not it could be opened, so
// that a build packs again when any of them appears, changes or goes.
#include <cstdlib>
#include <cstring>

#include "common/encode.h"
#include "control/chunk.h"

bool NoteDependencies = false;

// The names records gave, each escaped and ended by a line feed.
static char* Names = nullptr;
static size_t NamesLength = 0;
static size_t NamesCapacity = 0;

// As GCC writes names in the rules of -MD: "$" doubles, a space, a tab or a
// "#" takes a backslash, and so do the backslashes right before a space or a
// tab, which would otherwise escape it. Make and Ninja both read them back so.
static void append_escaped(char** text, size_t* length, size_t* capacity, const char* name) {
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p == ' ' || *p == '\t') {
      for (const char* q = p; q > name && q[-1] == '\\'; --q) AppendBytes(text, length, capacity, "\\", 1);
      AppendBytes(text, length, capacity, "\\", 1);
    } else if (*p == '#') {
      AppendBytes(text, length, capacity, "\\", 1);
    } else if (*p == '$') {
      AppendBytes(text, length, capacity, "$", 1);
    }
    AppendBytes(text, length, capacity, p, 1);
  }
}

// A record's argument ends at a line end, so no name holds one: it separates
// the escaped names.
void NoteDependency(const char* name) {
  if (!NoteDependencies) return;
  append_escaped(&Names, &NamesLength, &NamesCapacity, name);
  AppendBytes(&Names, &NamesLength, &NamesCapacity, "\n", 1);
}

char* TakeDependencyRule(const char* output, const char* control, size_t* length) {
  char* rule = nullptr;
  size_t ruleLength = 0;
  size_t capacity = 0;
  char* names = nullptr;
  size_t namesLength = 0;
  size_t namesCapacity = 0;
  append_escaped(&names, &namesLength, &namesCapacity, control);
  AppendBytes(&names, &namesLength, &namesCapacity, "\n", 1);
  if (NamesLength > 0) AppendBytes(&names, &namesLength, &namesCapacity, Names, NamesLength);

  append_escaped(&rule, &ruleLength, &capacity, output);
  AppendBytes(&rule, &ruleLength, &capacity, ":", 1);
  for (size_t from = 0, to; from < namesLength; from = to + 1) {
    to = static_cast<size_t>(static_cast<const char*>(memchr(names + from, '\n', namesLength - from)) - names);
    AppendBytes(&rule, &ruleLength, &capacity, " ", 1);
    AppendBytes(&rule, &ruleLength, &capacity, names + from, to - from);
  }
  AppendBytes(&rule, &ruleLength, &capacity, "\n", 1);
  for (size_t from = 0, to; from < namesLength; from = to + 1) {
    to = static_cast<size_t>(static_cast<const char*>(memchr(names + from, '\n', namesLength - from)) - names);
    AppendBytes(&rule, &ruleLength, &capacity, "\n", 1);
    AppendBytes(&rule, &ruleLength, &capacity, names + from, to - from);
    AppendBytes(&rule, &ruleLength, &capacity, ":\n", 2);
  }
  free(names);
  free(Names);
  Names = nullptr;
  NamesLength = 0;
  NamesCapacity = 0;
  *length = ruleLength;
  return rule;
}
