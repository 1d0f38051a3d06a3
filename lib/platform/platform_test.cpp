#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarn::platform {
namespace {

// A folder of its own, removed with whatever is left in it.
struct Folder {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("tarn-platform-" + std::to_string(std::random_device{}()));
  Folder() { std::filesystem::create_directories(path / "sub"); }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  // The names in a folder of it; none when there is no such folder.
  std::vector<std::string> Names(const char* under) const {
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(path / under, missing))
      names.push_back(entry.path().filename().string());
    return names;
  }
};

std::string Contents(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The output object's promise: published whole by Commit, through the directory it took at
// Create, or nothing published and nothing left, with an existing file as it was.
TEST(OutputFileTest, PublishesWholeThroughItsDirectoryOrLeavesNothing) {
  using Names = std::vector<std::string>;
  struct Case {
    const char* what;
    void (*before_commit)(const std::filesystem::path& dir);  // nullptr: discarded instead
    bool committed;
    Names sub, moved;  // what the two folders hold after
  };
  const Case cases[] = {
      {"discarded", nullptr, false, {"out.bin"}, {}},
      {"committed", [](const std::filesystem::path&) {}, true, {"out.bin"}, {}},
#ifndef _WIN32  // Windows refuses to move or remove a folder that holds an open file
      {"its directory moved away and another put in its place",
       [](const std::filesystem::path& dir) {
         std::filesystem::rename(dir / "sub", dir / "moved");
         std::filesystem::create_directory(dir / "sub");
       },
       true,
       {},
       {"out.bin"}},
      {"its directory removed",
       [](const std::filesystem::path& dir) { std::filesystem::remove_all(dir / "sub"); },
       false,
       {},
       {}},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Folder dir;
    std::ofstream(dir.path / "sub" / "out.bin") << "precious";
    OutputFile file;
    ASSERT_TRUE(file.Create((dir.path / "sub" / "out.bin").string(), kNoFile));
    ASSERT_TRUE(WriteAt(file.handle(), "new bytes", 9, 0));
    if (c.before_commit != nullptr) {
      c.before_commit(dir.path);
      const Status committed = file.Commit();
      EXPECT_EQ(static_cast<bool>(committed), c.committed);
      EXPECT_EQ(committed.cause().system_error != 0, !c.committed);
    } else {
      file.Discard();
    }
    EXPECT_EQ(dir.Names("sub"), c.sub);
    EXPECT_EQ(dir.Names("moved"), c.moved);
    for (const char* folder : {"sub", "moved"}) {
      const auto published = dir.path / folder / "out.bin";
      if (std::filesystem::exists(published)) {
        EXPECT_EQ(Contents(published), c.committed ? "new bytes" : "precious");
      }
    }
  }
}

// A relative name is published where it was when the output was created, wherever the process
// has gone since.
TEST(OutputFileTest, ARelativeNameStaysWhereItWasCreated) {
  const Folder dir;
  const auto was = std::filesystem::current_path();
  std::filesystem::create_directory(dir.path / "moved");
  std::filesystem::current_path(dir.path / "sub");
  OutputFile file;
  const bool created = static_cast<bool>(file.Create("out.bin", kNoFile));
  std::filesystem::current_path(dir.path / "moved");
  const bool committed = created && WriteAt(file.handle(), "new bytes", 9, 0) && file.Commit();
  std::filesystem::current_path(was);
  EXPECT_TRUE(committed);
  EXPECT_EQ(Contents(dir.path / "sub" / "out.bin"), "new bytes");
  EXPECT_EQ(dir.Names("moved"), std::vector<std::string>{});
}

TEST(OutputFileTest, ALinkLeadsToTheFileItNames) {
  const Folder dir;
  const auto target = dir.path / "sub" / "target.bin", link = dir.path / "sub" / "link.bin";
  std::ofstream(target) << "precious";
  try {
    std::filesystem::create_symlink(target, link);
  } catch (const std::filesystem::filesystem_error& e) {
    GTEST_SKIP() << "no symbolic link to be had: " << e.what();
  }
  OutputFile file;
  ASSERT_TRUE(file.Create(link.string(), kNoFile));
  ASSERT_TRUE(WriteAt(file.handle(), "new bytes", 9, 0));
  ASSERT_TRUE(file.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Contents(target), "new bytes");
}

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

// An output made to replace a file that holds "precious", in a folder of its own.
struct Replacing {
  Folder dir;
  std::filesystem::path out = dir.path / "sub" / "out.bin";
  OutputFile file;
  Replacing() { std::ofstream(out) << "precious"; }
  // Nothing was published and nothing is left beside the file, which is as it was.
  void ExpectUntouched() const {
    EXPECT_EQ(Contents(out), "precious");
    EXPECT_EQ(dir.Names("sub"), std::vector<std::string>{"out.bin"});
  }
};

// A commit whose sync fails publishes nothing: the output's descriptor is turned into a
// pipe's, which the system refuses to sync.
TEST(OutputFileTest, AFailedSyncPublishesNothing) {
  Replacing r;
  OutputFile& file = r.file;
  ASSERT_TRUE(file.Create(r.out.string(), kNoFile));
  ASSERT_TRUE(WriteAt(file.handle(), "new bytes", 9, 0));
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  ASSERT_EQ(dup2(pipe_ends[1], static_cast<int>(file.handle())), static_cast<int>(file.handle()));
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  const Status committed = file.Commit();
  EXPECT_FALSE(committed);
  EXPECT_EQ(committed.cause().system_error, EINVAL);  // the sync's, not a later step's
  r.ExpectUntouched();
}

TEST(OutputFileTest, AWriteBeyondTheFileSizeLimitFailsAndIsDiscarded) {
  Replacing r;
  OutputFile& file = r.file;
  ASSERT_TRUE(file.Create(r.out.string(), kNoFile));
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 4;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  const Status written = WriteAt(file.handle(), "new bytes", 9, 0);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(written.cause().system_error, EFBIG);
  EXPECT_EQ(LastCause().system_error, EFBIG);  // also kept for callers that see a bool
  file.Discard();
  r.ExpectUntouched();
}
#endif

}  // namespace
}  // namespace tarn::platform
