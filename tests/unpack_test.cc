#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "info/unpack.h"

TEST(ControlFileStem, PlainNamesKeepTheirStemAndOthersBecomeBlorb) {
  const struct {
    const char* name;
    const char* stem;
  } cases[] = {
      {"game.blorb", "game"},
      {"dir/sub/my.game.zblorb", "my.game"},
      {"no-extension", "no-extension"},
      {"Story_2.gblorb", "Story_2"},
      {".blorb", "blorb"},         // nothing before the extension
      {"dir/", "blorb"},           // no file name at all
      {"-n.blorb", "blorb"},       // would read as an option
      {"a b.blorb", "blorb"},      // a space
      {"caf\xC3\xA9.blorb", "blorb"},
      {"x\\y.blorb", "blorb"},
  };
  char buffer[80];
  for (const auto& c : cases) EXPECT_STREQ(ControlFileStem(c.name, buffer, sizeof buffer), c.stem) << c.name;
  std::string longest(64, 'a');
  EXPECT_EQ(ControlFileStem((longest + ".blorb").c_str(), buffer, sizeof buffer), longest);
  EXPECT_STREQ(ControlFileStem((longest + "a.blorb").c_str(), buffer, sizeof buffer), "blorb");
}

// Whatever someone else puts in the folder while it is filled, a link above
// all, a new file never replaces it and never goes where it leads.
TEST(Folder, NewFilesNeverTakeATakenNameNorFollowALink) {
  char pattern[] = "/tmp/unpack-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string top = pattern;
  ASSERT_TRUE(MakeFolder((top + "/parts").c_str()));
  ASSERT_EQ(symlink("../target", (top + "/parts/pict_1.png").c_str()), 0);
  ASSERT_EQ(symlink("../target", (top + "/parts-link").c_str()), 0);

  EXPECT_EQ(OpenFolder((top + "/parts-link").c_str()), -1);
  EXPECT_EQ(errno, ELOOP);
  int folder = OpenFolder((top + "/parts").c_str());
  ASSERT_GE(folder, 0);
  EXPECT_EQ(FolderIsEmpty(folder), 0);
  EXPECT_EQ(CreateInFolder(folder, "pict_1.png"), -1);
  EXPECT_EQ(errno, EEXIST);
  int made = CreateInFolder(folder, "game.blc.part");
  ASSERT_GE(made, 0);
  CloseDescriptor(made);
  EXPECT_FALSE(MoveInFolder(folder, "game.blc.part", "pict_1.png"));
  EXPECT_TRUE(MoveInFolder(folder, "game.blc.part", "game.blc"));
  struct stat info;
  EXPECT_NE(lstat((top + "/target").c_str(), &info), 0) << "a file was made through the link";
  EXPECT_NE(lstat((top + "/parts/game.blc.part").c_str(), &info), 0);
  EXPECT_EQ(lstat((top + "/parts/game.blc").c_str(), &info), 0);
  CloseDescriptor(folder);

  for (const char* name : {"/parts/pict_1.png", "/parts/game.blc", "/parts-link"}) unlink((top + name).c_str());
  rmdir((top + "/parts").c_str());
  EXPECT_EQ(rmdir(top.c_str()), 0);
}
