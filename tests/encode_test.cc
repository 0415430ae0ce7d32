#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "common/encode.h"
#include "common/platform.h"
#include "tests/test_support.h"

// Death tests below make the heap refuse on purpose; under AddressSanitizer
// that must come back as null instead of a report.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

TEST(Encoders, StoreBigEndianAndPaddedIdentifiers) {
  unsigned char buffer[8];
  memset(buffer, 0xAA, sizeof buffer);
  str_long(buffer, 0x0102A0FFu);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), std::string("\x01\x02\xA0\xFF\xAA", 5));
  str_long(buffer, static_cast<uint32_t>(-2));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "\xFF\xFF\xFF\xFE");
  memset(buffer, 0xAA, sizeof buffer);
  str_short(buffer, 65543);  // only the low 16 bits
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), std::string("\x00\x07\xAA", 3));
  memset(buffer, 0xAA, sizeof buffer);
  str_id(buffer, "Snd");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "Snd \xAA");
  memset(buffer, 0xAA, sizeof buffer);
  str_id(buffer, "");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "    \xAA");
}

TEST(Encoders, WriteBigEndianAndPaddedIdentifiers) {
  FILE* stream = ScratchStream();
  write_int(stream, 0x1C);
  write_id(stream, "PNG");
  write_id(stream, "FORM");
  write_id(stream, "Picts");  // nothing is cut on the way out
  EXPECT_EQ(ContentsOf(stream), std::string("\x00\x00\x00\x1C" "PNG FORMPicts", 17));
  fclose(stream);
}

TEST(ShortProgramName, KeepsLastComponentWithoutLastExtension) {
  // Where the system separates folders by "\" and ":" too (Windows), the
  // component after the last of them.
  const bool windows = IsPathSeparator('\\');
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"tools/packer.exe", "packer"},   {"./dir.old/packer", "packer"},
      {"packer.new.exe", "packer.new"}, {"packer", "packer"},
      {"pics/title.png", "title"},      {"a.b.png", "a.b"},
      {"dir/", ""},                     {".hidden", ""},
      {"", ""},
      {"tools\\packer.exe", windows ? "packer" : "tools\\packer"},
      {"C:\\Games\\Blorb\\blorbpack.exe", windows ? "blorbpack" : "C:\\Games\\Blorb\\blorbpack"},
      {"D:title.png", windows ? "title" : "D:title"},
      {"snd\\dir/wave.ogg", "wave"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char* name = ShortProgramName(c.path);
    EXPECT_STREQ(name, c.name);
    free(name);
  }
}

// Names Windows would quietly take for another file or a device are refused
// there, and only there; everything else opens as written.
TEST(NameProblem, RefusesOnWindowsOnlyWhatWindowsWouldChange) {
  const bool windows = IsPathSeparator('\\');
  enum Problem { kNone, kDotOrSpace, kDevice, kNotUtf8 };
  struct Case {
    const char* name;
    Problem problem;
  } cases[] = {
      {"title.png", kNone},         {"pics/title.png", kNone},     {"./title.png", kNone},
      {"../pics\\title.png", kNone}, {"title.png.", kDotOrSpace},  {"title.png ", kDotOrSpace},
      {"pics./title.png", kDotOrSpace}, {"CON", kNone},            {"NUL", kNone},
      {"con.txt", kDevice},         {"pics/Nul.png", kDevice},     {"COM1.ogg", kDevice},
      {"lpt9.aiff", kDevice},       {"COM0.ogg", kNone},           {"console.txt", kNone},
      {"\\\\?\\C:\\title.png.", kNone}, {"caf\xC3\xA9.png", kNone}, {"caf\xE9.png", kNotUtf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* problem = NameProblem(c.name);
    if (!windows || c.problem == kNone) {
      EXPECT_EQ(problem, nullptr);
    } else {
      ASSERT_NE(problem, nullptr);
      const char* word = c.problem == kDotOrSpace ? "a space or a dot" : c.problem == kDevice ? "device" : "UTF-8";
      EXPECT_NE(strstr(problem, word), nullptr) << problem;
    }
  }
}

TEST(MyMalloc, ZeroBytesIsNotAFailure) {
  void* block = my_malloc(0);
  EXPECT_NE(block, nullptr);
  block = my_realloc(block, 0);
  EXPECT_NE(block, nullptr);
  free(block);
}

TEST(MyMallocDeathTest, RefusalEndsWithStatusTwo) {
  EXPECT_EXIT(my_malloc(SIZE_MAX / 2), testing::ExitedWithCode(2), "Error: Memory exceeded!\n$");
  void* block = my_malloc(16);
  EXPECT_EXIT(my_realloc(block, SIZE_MAX / 2), testing::ExitedWithCode(2), "Error: Memory exceeded!\n$");
  free(block);
}

#if defined(__SANITIZE_ADDRESS__)
#define BLORBPACK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BLORBPACK_ASAN 1
#endif
#endif

TEST(MyMallocDeathTest, RuntimeAllocationsFailTheSameWay) {
#ifdef BLORBPACK_ASAN
  GTEST_SKIP() << "AddressSanitizer aborts a failed operator new without calling the new-handler";
#else
  InstallMemoryHandler();
  volatile size_t huge = SIZE_MAX / 4;
  EXPECT_EXIT(
      {
        char* block = new char[huge];
        block[0] = 1;
      },
      testing::ExitedWithCode(2), "Error: Memory exceeded!\n$");
#endif
}
