#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "test_support.h"

namespace {

std::string Resolved(const std::string& name) {
  char* path = ResolveLinks(name.c_str());
  std::string result = path != nullptr ? path : "(loop)";
  free(path);
  return result;
}

}  // namespace

// A relative target is relative to the directory of the link, not to the
// current directory; chains are followed to their end, even when it is not
// there yet.
TEST(ResolveLinks, FollowsEachLinkFromItsOwnDirectory) {
  std::string dir = MakeScratchDir();
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0777), 0);
  struct Link {
    const char* name;
    std::string target;
  };
  const Link links[] = {{"/rel", "target"}, {"/sub/up", "../out.blorb"}, {"/abs", dir + "/x"},
                        {"/a", "b"},         {"/b", "sub/c"},             {"/loop1", "loop2"},
                        {"/loop2", "loop1"}};
  for (const Link& link : links) ASSERT_EQ(symlink(link.target.c_str(), (dir + link.name).c_str()), 0);
  struct Case {
    const char* name;
    std::string want;
  };
  const Case cases[] = {{"/plain", dir + "/plain"},
                        {"/rel", dir + "/target"},
                        {"/sub/up", dir + "/sub/../out.blorb"},
                        {"/abs", dir + "/x"},
                        {"/a", dir + "/sub/c"},
                        {"/loop1", "(loop)"}};
  for (const Case& c : cases) EXPECT_EQ(Resolved(dir + c.name), c.want) << c.name;
  EXPECT_EQ(Resolved("rel-only"), "rel-only");
  RemoveTree(dir);
}

// The temporary file sits beside the output, keeps the permissions of the
// file it replaces, and is gone once it has replaced it or been removed.
TEST(CreateTemporary, ReplacesTheOutputKeepingItsPermissions) {
  std::string dir = MakeScratchDir();
  std::string out = dir + "/out.blorb";
  WriteFile(out, "old");
  ASSERT_EQ(chmod(out.c_str(), 0604), 0);

  int descriptor = CreateTemporary(out.c_str());
  ASSERT_GE(descriptor, 0);
  std::string temporary = TemporaryName();
  EXPECT_EQ(temporary.substr(0, out.size() + 5), out + ".tmp.");
  EXPECT_EQ(temporary.size(), out.size() + 11);
  struct stat info;
  ASSERT_EQ(fstat(descriptor, &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  ASSERT_EQ(write(descriptor, "new", 3), 3);
  close(descriptor);
  ASSERT_TRUE(ReplaceWithTemporary(out.c_str()));
  EXPECT_EQ(TemporaryName(), nullptr);
  EXPECT_NE(access(temporary.c_str(), F_OK), 0);
  FILE* file = fopen(out.c_str(), "rb");
  char content[4] = {};
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fread(content, 1, 3, file), 3u);
  fclose(file);
  EXPECT_STREQ(content, "new");

  descriptor = CreateTemporary(out.c_str());
  ASSERT_GE(descriptor, 0);
  temporary = TemporaryName();
  close(descriptor);
  RemoveTemporary();
  EXPECT_NE(access(temporary.c_str(), F_OK), 0);
  RemoveTree(dir);
}

// A temporary name never passes the longest name the system allows: near it,
// the output's last component is cut before the mark, at a whole character.
TEST(CreateTemporary, KeepsLongNamesWithinTheSystemsLimit) {
  std::string dir = MakeScratchDir();
  std::string accents = "o";  // 255 bytes: "o" and 127 two-byte characters
  for (int i = 0; i < 127; ++i) accents += "\xC3\xA9";
  struct Case {
    std::string component;
    size_t kept;  // bytes of it before ".tmp."
  };
  const Case cases[] = {{std::string(244, 'o'), 244},
                        {std::string(245, 'o'), 244},
                        {std::string(255, 'o'), 244},
                        {accents, 243}};
  for (const Case& c : cases) {
    std::string out = dir + "/" + c.component;
    int descriptor = CreateTemporary(out.c_str());
    ASSERT_GE(descriptor, 0) << c.component.size();
    close(descriptor);
    std::string temporary = TemporaryName();
    EXPECT_EQ(temporary.substr(0, dir.size() + 1 + c.kept + 5), out.substr(0, dir.size() + 1 + c.kept) + ".tmp.");
    EXPECT_EQ(temporary.size(), dir.size() + 1 + c.kept + 11);
    RemoveTemporary();
  }
  RemoveTree(dir);
}
