#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console.h"
#include "app/front_end.h"
#include "app/report.h"

namespace tarn::app {
namespace {

// Records each write the console makes.
std::vector<std::string> g_writes;
int g_fail_with = 0;
int RecordingSink(const char* data, std::size_t n) {
  if (g_fail_with != 0) return g_fail_with;
  g_writes.emplace_back(data, n);
  return 0;
}

class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override {
    g_writes.clear();
    g_fail_with = 0;
  }
  static std::string All() {
    std::string all;
    for (const auto& w : g_writes) all += w;
    return all;
  }
};

TEST_F(ConsoleTest, InteractiveWritesOutAfterEveryWrite) {
  Console console(true, RecordingSink);
  console.Show("Checking crc... ");
  ASSERT_EQ(g_writes.size(), 1u);
  EXPECT_EQ(g_writes[0], "Checking crc... ");
  console.Print("OK");
  EXPECT_EQ(All(), "Checking crc... OK\r\n");
}

TEST_F(ConsoleTest, FileOrPipeWritesOutOnlyFullBuffersAndAtTheEnd) {
  Console console(false, RecordingSink);
  const std::string line(100, 'x');
  console.Print(line);
  EXPECT_TRUE(g_writes.empty());
  console.Print(line);
  ASSERT_EQ(g_writes.size(), 1u);
  EXPECT_EQ(g_writes[0].size(), 128u);
  console.Flush();
  EXPECT_EQ(All(), line + "\r\n" + line + "\r\n");
}

TEST_F(ConsoleTest, FailedWriteRaisesAnIoError) {
  Console console(true, RecordingSink);
  g_fail_with = 28;
  try {
    console.Print("x");
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.ClassName(), "EInOutError");
    EXPECT_EQ(e.Message(), "I/O error 28");
  }
}

TEST(ReportTest, Format) {
  EXPECT_EQ(
      FormatReport("Exception", "tarn", 0x1A2B, "Key: K\r\nFunc: BaseVal\r\nClass: TStringManager"),
      "Exception Exception in module tarn at 00001A2B.\r\nKey: K\r\nFunc: BaseVal\r\n"
      "Class: TStringManager.\r\n\r\n");
  EXPECT_EQ(FormatReport("EInOutError", "tarn.exe", 0xFFFFFFFF, "Done."),
            "Exception EInOutError in module tarn.exe at FFFFFFFF.\r\nDone.\r\n\r\n");
  EXPECT_EQ(FormatReport("E", "m", 0, ""), "Exception E in module m at 00000000.\r\n\r\n\r\n");
}

TEST(ReportTest, CutTo1023CharactersBeforeTheLastLineBreak) {
  const std::string report = FormatReport("E", "m", 0, std::string(5000, 'a'));
  ASSERT_EQ(report.size(), 1025u);
  EXPECT_EQ(report.substr(1021), "aa\r\n");
}

struct SwitchCase {
  std::string line;
  bool whole_line;
  Mode mode;
  std::string tail;
};

TEST(FrontEndTest, FindModeSwitch) {
  const SwitchCase cases[] = {
      {"tarn /C in out key", true, Mode::kEncode, "/C in out key"},
      {"tarn /d in out key", true, Mode::kDecode, "/d in out key"},
      {"tarn x/C in out key", true, Mode::kEncode, "/C in out key"},
      {"tarn /D in /Cout key", true, Mode::kEncode, "/Cout key"},
      {"c:/c/tarn.exe /D in out key", true, Mode::kEncode, "/c/tarn.exe /D in out key"},
      {"c:/d/tarn.exe /C in out key", true, Mode::kEncode, "/C in out key"},
      {"tarn in out key", true, Mode::kNone, ""},
      // Stopping in front of the last three words.
      {"tarn /D fw.cnt out/clean.bin key", false, Mode::kDecode, "/D fw.cnt out/clean.bin key"},
      {"tarn /D in /Cout key", false, Mode::kDecode, "/D in /Cout key"},
      {"tarn /D /C in out key", false, Mode::kEncode, "/C in out key"},
      {"tarn  /c   in  out  key ", false, Mode::kEncode, "/c   in  out  key "},
      {"tarn in out /Ckey", false, Mode::kNone, ""},
      {"tarn /C", false, Mode::kNone, ""},
      {"", false, Mode::kNone, ""},
  };
  for (const SwitchCase& c : cases) {
    std::string tail;
    EXPECT_EQ(FindModeSwitch(c.line, c.whole_line, &tail), c.mode) << c.line;
    EXPECT_EQ(tail, c.tail) << c.line;
  }
}

TEST(FrontEndTest, KeyDigitsAreHexadecimalInEitherCase) {
  for (int c = 0; c < 256; ++c) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    EXPECT_EQ(KeyDigits().Contains(static_cast<unsigned char>(c)), hex) << c;
  }
}

}  // namespace
}  // namespace tarn::app
