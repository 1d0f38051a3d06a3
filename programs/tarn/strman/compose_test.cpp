#include <gtest/gtest.h>

#include <functional>

#include "strman/strman.h"

namespace tarn {
namespace {

// The message of the Exception that `raise` throws.
std::string MessageOf(const std::function<void()>& raise) {
  try {
    raise();
  } catch (const Exception& e) {
    return e.Message();
  }
  ADD_FAILURE() << "nothing was raised";
  return std::string();
}

// Composes while an Exception with message `handled` is being handled.
std::string ComposeHandling(const std::string& handled, const std::string& msg,
                            const std::string& func, const TObject* obj = nullptr) {
  return MessageOf([&] {
    try {
      throw Exception(handled);
    } catch (...) {
      RaiseComposed(msg, func, obj);
    }
  });
}

TEST(ComposeTest, OutsideAnyHandler) {
  EXPECT_EQ(MessageOf([] { RaiseComposed("X", "F", nullptr); }), "X\r\nFunc: F\r\n");
  EXPECT_EQ(MessageOf([] { RaiseComposed("", "", nullptr); }), "");
  EXPECT_EQ(MessageOf([] { RaiseComposed("", "", StringManager); }), "Class: TStringManager");
  EXPECT_EQ(MessageOf([] { StringManager->RaiseError("M", " G "); }),
            "M\r\nFunc: G\r\nClass: TStringManager");
}

struct HandledCase {
  std::string handled, msg, func, expected;
};

TEST(ComposeTest, MergesTheHandledMessage) {
  const HandledCase cases[] = {
      // Blank lines are dropped, other lines carried unchanged.
      {"a\r\n\r\n  \r\nb", "M", "", "M\r\na\r\nb\r\n"},
      {"  keep  me  ", "", "", "  keep  me  \r\n"},
      // Membership ignores case and finds names inside longer names.
      {"Func: BaseVal", "", "baseval", "Func: BaseVal\r\n"},
      {"Func: BaseVal", "", "Val", "Func: BaseVal\r\n"},
      {"Func: F1\r\nFunc: F2", "", "F3", "Func: F1,F2,F3\r\n"},
      {"Func: A,B\r\nFunc: B,C", "", "", "Func: A,B,B,C\r\n"},
      {"  Func:   x   y ", "", "", "Func: x y\r\n"},
      // The class line of the handled error stays last, with its label.
      {"inner\r\nClass: TStringManager", "outer", "F",
       "outer\r\ninner\r\nFunc: F\r\nClass: TStringManager"},
      // Labels are exact in case; a lower-case label is an ordinary line.
      {"func: x", "", "", "func: x\r\n"},
      // A label with nothing behind it adds no name.
      {"Func: \r\nFunc: A", "", "", "Func: A\r\n"},
  };
  for (const HandledCase& c : cases) {
    SCOPED_TRACE(c.handled);
    EXPECT_EQ(ComposeHandling(c.handled, c.msg, c.func), c.expected);
  }
}

TEST(ComposeTest, ClassNamesAreMergedLikeFunctionNames) {
  EXPECT_EQ(ComposeHandling("Class: TStringManager", "", "", StringManager),
            "Class: TStringManager");
  EXPECT_EQ(ComposeHandling("Class: TOther", "", "", StringManager),
            "Class: TOther,TStringManager");
}

TEST(ComposeTest, ChainedHandlersBuildOneMessage) {
  const std::string text = MessageOf([] {
    try {
      try {
        RaiseComposed("first", "Inner", nullptr);
      } catch (...) {
        RaiseComposed("second", "Middle", StringManager);
      }
    } catch (...) {
      RaiseComposed("third", "Outer", nullptr);
    }
  });
  EXPECT_EQ(text, "third\r\nsecond\r\nfirst\r\nFunc: Inner,Middle,Outer\r\nClass: TStringManager");
}

TEST(BaseValTest, Values) {
  const std::string hex = "0123456789ABCDEF";
  EXPECT_EQ(StringManager->BaseVal("FF", hex), 255);
  EXPECT_EQ(StringManager->BaseVal("", hex), 0);
  EXPECT_EQ(StringManager->BaseVal("10", "01"), 2);
  EXPECT_EQ(StringManager->BaseVal("FFFFFFFF", hex), 0xFFFFFFFFLL);
  EXPECT_EQ(StringManager->BaseVal("7FFFFFFFFFFFFFFF", hex), INT64_MAX);
  EXPECT_EQ(StringManager->BaseVal("FFFFFFFFFFFFFFFF", hex), -1);
  // Beyond 64 bits the value wraps.
  EXPECT_EQ(StringManager->BaseVal("10000000000000001", hex), 1);
  // A character listed twice takes the value of its first place.
  EXPECT_EQ(StringManager->BaseVal("a", "xaa"), 1);
}

TEST(BaseValTest, ComposedErrors) {
  EXPECT_EQ(MessageOf([] { StringManager->BaseVal("ff", "0123456789ABCDEF"); }),
            "Key: 0123456789ABCDEF\r\nf missing in \"ff\" - not found in Key\r\n"
            "Func: BaseVal\r\nClass: TStringManager");
  EXPECT_EQ(MessageOf([] { StringManager->BaseVal("12a4", "0123456789ABCDEF"); }),
            "Key: 0123456789ABCDEF\r\na missing in \"12a4\" - not found in Key\r\n"
            "Func: BaseVal\r\nClass: TStringManager");
  EXPECT_EQ(MessageOf([] { StringManager->BaseVal("1", ""); }),
            "Key: \r\nNo Key\r\nFunc: BaseVal\r\nClass: TStringManager");
}

TEST(BaseValTest, DigitsHoldingANulByteAreCarriedWhole) {
  const std::string digits(
      "1\0"
      "2",
      3);
  EXPECT_EQ(MessageOf([&] { StringManager->BaseVal(digits, "0123456789ABCDEF"); }),
            std::string("Key: 0123456789ABCDEF\r\n\0 missing in \"1\0"
                        "2\" - not found in Key\r\n"
                        "Func: BaseVal\r\nClass: TStringManager",
                        98));
}

TEST(BaseValTest, RaisedErrorCarriesItsCodeLocation) {
  try {
    StringManager->BaseVal("g", "0123456789ABCDEF");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_NE(e.Address(), nullptr);
    EXPECT_STREQ(e.ClassName(), "Exception");
  }
}

}  // namespace
}  // namespace tarn
