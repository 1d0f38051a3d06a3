#include "app/key_schedule.h"

#include <gtest/gtest.h>

#include "testdata/known_answers.h"

namespace tarn::cipher {
namespace {

TEST(KeyScheduleTest, KnownKeys) {
  for (const auto& answer : testdata::kKeySchedule) {
    SCOPED_TRACE(answer.key);
    const KeyWords key = SetKey(answer.key);
    EXPECT_EQ(key.k0, answer.k[0]);
    EXPECT_EQ(key.k1, answer.k[1]);
    EXPECT_EQ(key.k2, answer.k[2]);
    EXPECT_EQ(key.k3, answer.k[3]);
  }
}

TEST(KeyScheduleTest, MixedCaseGivesTheSameWords) {
  const KeyWords upper = SetKey("ABCDEF0123456789ABCDEF0123456789");
  const KeyWords mixed = SetKey("aBcDeF0123456789AbCdEf0123456789");
  EXPECT_EQ(upper.k0, mixed.k0);
  EXPECT_EQ(upper.k2, mixed.k2);
  EXPECT_EQ(upper.k0, 0xABCDEF01u);
}

}  // namespace
}  // namespace tarn::cipher
