// The whole-program test of the statistics window. The test program also serves as the
// monitor whose window is examined (window_child.h), run by the tests as a child process.
#include <gtest/gtest.h>

#include <cstring>

#include "window_child.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], qelta::testing::kWindowChildArgument) == 0) {
    return qelta::testing::RunWindowChild(argc, argv);
  }
  if (argc > 1 && std::strcmp(argv[1], qelta::testing::kHugeFileChildArgument) == 0) {
    return qelta::testing::RunHugeFileChild(argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
