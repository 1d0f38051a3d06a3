#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace tarn::platform {
namespace {

#ifndef _WIN32
// The umask as the system reports it for the process, read from outside the seam's code.
unsigned ReportedUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 01000;  // not reported
}

TEST(PlatformTest, ReadingTheUmaskNeverChangesIt) {
  if (ReportedUmask() == 01000) GTEST_SKIP() << "the system does not report the umask";
  const mode_t before = umask(027);
  std::atomic<bool> changed{false}, done{false};
  std::thread watcher([&] {
    while (!done) changed = changed || ReportedUmask() != 027;
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) EXPECT_EQ(ProcessUmask(), 027u);
    });
  }
  for (std::thread& r : readers) r.join();
  done = true;
  watcher.join();
  umask(before);
  EXPECT_FALSE(changed);
}
#endif

}  // namespace
}  // namespace tarn::platform
