// The platform layer on POSIX systems (Linux, the BSDs, macOS): what concerns
// the process (signals) and the packager's output file. Files as such, and
// the standard descriptors, are in platform_files_posix.cc.
#include "common/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>  // getentropy on macOS; glibc has it in unistd.h too
#include <sys/stat.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#include <unistd.h>

#include "common/encode.h"

// The folder that holds path, as a new string.
static char* folder_of(const char* path) {
  const char* slash = strrchr(path, '/');
  size_t length = slash == nullptr ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
  char* folder = static_cast<char*>(my_malloc(length + 2));
  if (length == 0) {
    strcpy(folder, ".");
  } else {
    memcpy(folder, path, length);
    folder[length] = '\0';
  }
  return folder;
}

// Linux's protected_symlinks: in a sticky folder that anyone may write to, a
// link is followed only by its owner, or when the folder's owner made it.
// Otherwise another user could plant it there, for root to write through it.
// Held to whatever the system is set to, and on every system.
static bool may_follow(const char* link, const struct stat* info) {
  if (info->st_uid == geteuid()) return true;
  char* folder = folder_of(link);
  struct stat holder;
  bool shared = stat(folder, &holder) == 0 && (holder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  free(folder);
  return !shared || holder.st_uid == info->st_uid;
}

// Links are followed as the system follows them when it opens a name, up to
// the same depth and no more freely; a link that leads nowhere names the file
// it would create.
char* ResolveLinks(const char* name) {
  size_t length = strlen(name);
  char* path = static_cast<char*>(my_malloc(length + 1));
  memcpy(path, name, length + 1);
  for (int hops = 0;; ++hops) {
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) break;
    // A loop, or a link the system would not follow: opening the name would
    // fail, and the link must not be replaced by a file.
    if (hops == 40 || !may_follow(path, &info)) {
      errno = hops == 40 ? ELOOP : EACCES;
      free(path);
      return nullptr;
    }
    size_t room = info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 4096;
    char* target = static_cast<char*>(my_malloc(room));
    ssize_t got = readlink(path, target, room);
    if (got < 0 || static_cast<size_t>(got) >= room) {
      free(target);
      break;
    }
    size_t targetLength = static_cast<size_t>(got);
    target[targetLength] = '\0';
    const char* slash = strrchr(path, '/');
    if (target[0] == '/' || slash == nullptr) {
      free(path);
      path = target;
      continue;
    }
    // A relative target is relative to the directory that holds the link.
    size_t directory = static_cast<size_t>(slash - path) + 1;
    char* joined = static_cast<char*>(my_malloc(directory + targetLength + 1));
    memcpy(joined, path, directory);
    memcpy(joined + directory, target, targetLength + 1);
    free(target);
    free(path);
    path = joined;
  }
  return path;
}

// The temporary file's name, read by the signal handlers: it is published only
// once complete and withdrawn before it is released.
static char* volatile Temporary = nullptr;

static const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

static void block_ending_signals(sigset_t* previous) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  sigprocmask(SIG_BLOCK, &set, previous);
}

static void forget_temporary() {
  sigset_t previous;
  block_ending_signals(&previous);
  char* name = Temporary;
  Temporary = nullptr;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  free(name);
}

static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

#ifndef NAME_MAX
#define NAME_MAX 255
#endif

// How much of name the temporary name keeps before its mark: all of it,
// unless the last component would then pass the longest name the system
// allows; its end is then dropped, never in the middle of a UTF-8 character.
static size_t temporary_stem(const char* name, size_t added) {
  size_t length = strlen(name);
  const char* slash = strrchr(name, '/');
  size_t start = slash != nullptr ? static_cast<size_t>(slash - name) + 1 : 0;
  if (length - start + added <= NAME_MAX) return length;
  size_t stem = start + (NAME_MAX - added);
  while (stem > start && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80) --stem;
  return stem;
}

// Why the last CreateTemporary refused, or empty.
static char Problem[512];

static bool problem(const char* what, int error) {
  snprintf(Problem, sizeof Problem, "its %s could not be kept (%s)", what, strerror(error));
  return false;
}

// In a sticky folder only the owner of a file (or of the folder) may rename
// another file over it: found now rather than once the file is written.
static bool may_replace(const char* name, const struct stat* replaced) {
  uid_t user = geteuid();
  if (user == 0 || replaced->st_uid == user) return true;
  char* folder = folder_of(name);
  struct stat info;
  bool sticky = stat(folder, &info) == 0 && (info.st_mode & S_ISVTX) != 0 && info.st_uid != user;
  free(folder);
  if (sticky) {
    snprintf(Problem, sizeof Problem, "it belongs to another user, in a folder where only its owner may replace it");
  }
  return !sticky;
}

#ifdef __linux__
static const char kAccessAcl[] = "system.posix_acl_access";

// Every extended attribute of the file name leads to, the access ACL among
// them, given to the new file. Those the process may not set (a security
// label, a capability) are left to the system; the ACL and every other must
// be kept, or the new file could grant what the old one denied.
static bool keep_attributes(const char* name, int descriptor) {
  ssize_t size = 0;
  char* names = nullptr;
  for (;;) {
    size = listxattr(name, nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == ENOSYS)) size = 0;
    if (size < 0) {
      free(names);
      return problem("extended attributes", errno);
    }
    names = static_cast<char*>(my_realloc(names, static_cast<size_t>(size) + 1));
    if (size == 0) break;
    size = listxattr(name, names, static_cast<size_t>(size));
    if (size >= 0) break;
    // Another attribute arrived meanwhile: ask again.
    if (errno != ERANGE) {
      free(names);
      return problem("extended attributes", errno);
    }
  }
  bool kept = true;
  bool acl = false;
  char* value = nullptr;
  for (ssize_t at = 0; at < size && kept; at += static_cast<ssize_t>(strlen(names + at)) + 1) {
    const char* attribute = names + at;
    bool isAcl = strcmp(attribute, kAccessAcl) == 0;
    acl = acl || isAcl;
    ssize_t length = getxattr(name, attribute, nullptr, 0);
    if (length >= 0) {
      value = static_cast<char*>(my_realloc(value, static_cast<size_t>(length) + 1));
      length = getxattr(name, attribute, value, static_cast<size_t>(length));
    }
    if (length < 0 && errno == ENODATA) continue;  // removed meanwhile
    int error = errno;
    if (length >= 0 && fsetxattr(descriptor, attribute, value, static_cast<size_t>(length), 0) == 0) continue;
    if (length >= 0) error = errno;
    if (!isAcl && length >= 0 && (error == EPERM || error == EACCES)) continue;
    char what[300];
    snprintf(what, sizeof what, isAcl ? "access ACL" : "extended attribute %.255s", attribute);
    kept = problem(what, error);
  }
  free(value);
  free(names);
  // A new file takes the folder's default ACL, which the old one may never
  // have had.
  if (kept && !acl && fremovexattr(descriptor, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
    kept = problem("access ACL", errno);
  }
  return kept;
}
#else
static bool keep_attributes(const char*, int) { return true; }
#endif

// The new file gets what the one it replaces had: its owner (when root runs
// the packager: only root may give a file away; anyone else keeps the new file
// as their own) and group, its extended attributes and ACL, its permissions.
// The owner first: changing it may clear the set-user-ID bits that the
// permissions put back. The permissions last: setting the ACL sets them too.
static bool keep_what_it_had(const char* name, const struct stat* replaced, int descriptor) {
  struct stat made;
  if (fstat(descriptor, &made) != 0) return problem("permissions", errno);
  if (geteuid() == 0) {
    if ((made.st_uid != replaced->st_uid || made.st_gid != replaced->st_gid) &&
        fchown(descriptor, replaced->st_uid, replaced->st_gid) != 0) {
      return problem("owner", errno);
    }
  } else if (made.st_gid != replaced->st_gid && fchown(descriptor, static_cast<uid_t>(-1), replaced->st_gid) != 0) {
    return problem("group", errno);
  }
  if (!keep_attributes(name, descriptor)) return false;
  if (fchmod(descriptor, replaced->st_mode & 07777) != 0) return problem("permissions", errno);
  return true;
}

int CreateTemporary(const char* name) {
  forget_temporary();  // one that was removed already
  static const char kMark[] = ".tmp.";
  constexpr size_t kRandom = 6;
  size_t length = temporary_stem(name, sizeof kMark - 1 + kRandom);
  size_t total = length + sizeof kMark - 1 + kRandom;
  char* path = static_cast<char*>(my_malloc(total + 1));
  memcpy(path, name, length);
  memcpy(path + length, kMark, sizeof kMark - 1);
  path[total] = '\0';

  struct stat replaced;
  bool replacing = stat(name, &replaced) == 0 && S_ISREG(replaced.st_mode);
  Problem[0] = '\0';
  if (replacing && !may_replace(name, &replaced)) {
    free(path);
    return -1;
  }
  int descriptor = -1;
  for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
    unsigned char random[kRandom];
    if (getentropy(random, sizeof random) != 0) break;
    for (size_t i = 0; i < kRandom; ++i) path[total - kRandom + i] = kLetters[random[i] % 62];
    // O_EXCL: never an existing file, nor one a link points to.
    descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0 && errno != EEXIST) break;
  }
  if (descriptor < 0) {
    free(path);
    return -1;
  }
  sigset_t previous;
  block_ending_signals(&previous);
  Temporary = path;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (replacing && !keep_what_it_had(name, &replaced, descriptor)) {
    close(descriptor);
    RemoveTemporary();
    forget_temporary();
    return -1;
  }
  return descriptor;
}

const char* TemporaryProblem() { return Problem[0] != '\0' ? Problem : nullptr; }

const char* TemporaryName() { return Temporary; }

bool ReplaceWithTemporary(const char* name) {
  if (Temporary == nullptr) return false;
  // A signal that arrives now is held until the name is forgotten: the
  // handler must not remove a file that no longer exists under it.
  sigset_t previous;
  block_ending_signals(&previous);
  bool moved = rename(Temporary, name) == 0;
  char* path = Temporary;
  if (moved) Temporary = nullptr;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (moved) free(path);
  return moved;
}

int TakeStandardOutput() {
  int descriptor = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (descriptor < 0) return -1;
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// The name stays remembered: a signal handler must not touch the heap, and
// every caller is about to end the process.
void RemoveTemporary() {
  const char* path = Temporary;
  if (path != nullptr) unlink(path);
}

static void end_by_signal(int signal) {
  int saved = errno;
  RemoveTemporary();
  // Ended by the signal itself, with its default action, once the handler
  // returns and the signal is no longer blocked.
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
  errno = saved;
}

static void mapping_lost(int) { ResourceCutShort(); }

void InstallSignalHandlers() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  sigemptyset(&action.sa_mask);
  for (int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
  action.sa_handler = end_by_signal;
  for (int signal : kEndingSignals) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
  action.sa_handler = mapping_lost;
  sigaction(SIGBUS, &action, nullptr);
}
