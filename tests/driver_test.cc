#include <string>

#include <gtest/gtest.h>

#include "driver/driver.h"

TEST(BlorbpackMain, EmptyArgumentVectorUsesItsOwnName) {
  char* argv[] = {nullptr};
  testing::internal::CaptureStdout();
  int status = BlorbpackMain(0, argv);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "blorbpack version 1.0 (Apr 20 2009), a Blorb resource packager\n"
            "Resource index and container writer version .5b\n"
            "Usage is one of:\n blorbpack in-file out-file\n blorbpack base-name\n");
  EXPECT_EQ(status, 1);
}
