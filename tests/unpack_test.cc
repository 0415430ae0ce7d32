#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "info/source.h"
#include "info/unpack.h"
#include "tests/test_support.h"

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

// Unpacking copies chunks out of a mapped file: by the kernel's copy where it
// can, else from the mapping, whose pages it lets go as it goes. Either way
// the bytes must be the file's, also when read again after being let go.
TEST(MappedFile, CopiedRangesAndForgottenPagesKeepTheFilesBytes) {
  char pattern[] = "/tmp/unpack-test-XXXXXX";
  int from = mkstemp(pattern);
  ASSERT_GE(from, 0);
  std::string bytes;
  for (size_t i = 0; i < 5 * 4096 + 123; ++i) bytes += static_cast<char>(i * 7 + i / 4096);
  ASSERT_TRUE(WriteFully(from, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
  unsigned char* map = MapFileLazily(from, static_cast<int64_t>(bytes.size()));
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(map), bytes.size()), bytes);
  ForgetMappedPages(map + 100, 3 * 4096);
  ForgetMappedPages(map, bytes.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(map), bytes.size()), bytes);

  std::string copyName = std::string(pattern) + ".copy";
  int to = open(copyName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(to, 0);
  bool unsupported = true;
  size_t copied = CopyFileBytes(from, 4000, to, 9000, &unsupported);
  if (!unsupported) {
    EXPECT_EQ(copied, 9000u);
    std::string back(9000, '\0');
    ASSERT_EQ(pread(to, &back[0], back.size(), 0), 9000);
    EXPECT_EQ(back, bytes.substr(4000, 9000));
  }
  UnmapFile(map, static_cast<int64_t>(bytes.size()));
  close(to);
  close(from);
  unlink(copyName.c_str());
  unlink(pattern);
}

// A Blorb file that another program cuts short while its chunks are copied
// out: the bytes that are gone are met by write() from the mapping, which
// fails with EFAULT rather than raising SIGBUS, and the run still ends as the
// guard tells it, not as a file it could not write.
TEST(UnpackBlorbDeathTest, SourceCutShortWhileCopiedEndsAsTheGuardTellsIt) {
  std::string dir = MakeScratchDir();
  std::string name = dir + "/cut.blorb";
  constexpr size_t kData = 1 << 20;
  std::string bytes = "FORM" + std::string("\x00\x10\x00\x18", 4) + "IFRS" +
                      "RIdx" + std::string("\0\0\0\4\0\0\0\0", 8) +
                      "BINA" + std::string("\x00\x10\x00\x00", 4) + std::string(kData, 'b');
  WriteFile(name, bytes);
  BlorbSource source;
  ASSERT_TRUE(OpenBlorb(name.c_str(), &source));
  ASSERT_EQ(truncate(name.c_str(), 65536), 0);
  EXPECT_EXIT(UnpackBlorb(stdout, (dir + "/parts").c_str(), name.c_str(), &source), testing::ExitedWithCode(2),
              "cut\\.blorb\" was cut short while it was being read\\.\n$");
  CloseBlorb(&source);
  RemoveTree(dir);
}
