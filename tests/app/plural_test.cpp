// The plural rules of the translation files: which form a count takes.
#include <gtest/gtest.h>

#include "app/settings/lang.h"

namespace vantrel::app {
namespace {

TEST(PluralRules, FormOfEachCount) {
  struct Case {
    const char* rule;
    long long n;
    int form;
  };
  const Case cases[] = {
      {"one-other", 0, 1},     {"one-other", 1, 0},     {"one-other", 2, 1},      {"one-other", 21, 1},
      {"unknown", 1, 0},       {"unknown", 5, 1},       {"", 1, 0},               {"east-slavic", 0, 2},
      {"east-slavic", 1, 0},   {"east-slavic", 2, 1},   {"east-slavic", 4, 1},    {"east-slavic", 5, 2},
      {"east-slavic", 11, 2},  {"east-slavic", 12, 2},  {"east-slavic", 14, 2},   {"east-slavic", 15, 2},
      {"east-slavic", 21, 0},  {"east-slavic", 22, 1},  {"east-slavic", 25, 2},   {"east-slavic", 101, 0},
      {"east-slavic", 111, 2}, {"east-slavic", 112, 2}, {"east-slavic", 1002, 1}, {"east-slavic", 5000000021, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(PluralForm(c.rule, c.n), c.form) << c.rule << " " << c.n;
  EXPECT_EQ(PluralFormCount("one-other"), 2);
  EXPECT_EQ(PluralFormCount("east-slavic"), 3);
  EXPECT_EQ(PluralFormCount("unknown"), 2);
}

}  // namespace
}  // namespace vantrel::app
