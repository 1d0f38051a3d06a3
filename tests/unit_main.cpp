// Entry point of the unit tests: the toolkit's tables and StringManager exist for every test,
// as they do for the tool.
#include <gtest/gtest.h>

#include "strman/strman.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  tarn::StrManStartup();
  const int result = RUN_ALL_TESTS();
  tarn::StrManShutdown();
  return result;
}
