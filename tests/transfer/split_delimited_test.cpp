#include "transfer/split_delimited.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> pieces;
};

const SplitCase kSplitCases[] = {
    {"TwoPieces", ",a,b", {"a", "b"}},
    {"EmptyBetweenAndAtEnd", ",a,,b,", {"a", "", "b", ""}},
    {"DelimiterAlone", ",", {""}},
    {"TwoDelimitersOnly", ",,", {"", ""}},
    {"EmptyText", "", {}},
    {"FirstCharacterNamesTheDelimiter", ";x,y;z", {"x,y", "z"}},
    {"LetterAsDelimiter", "abca", {"bc", ""}},
    {"QuotesDoNotProtect", ",\"a,b\",c", {"\"a", "b\"", "c"}},
    {"SpacesStay", ", a , b", {" a ", " b"}},
    {"ZeroByteDelimiter", std::string("\0a\0\0b", 5), {"a", "", "b"}},
    {"HighByteDelimiter",
     "\xff"
     "a\xff"
     "b",
     {"a", "b"}},
    {"NoFurtherDelimiter", ",abc", {"abc"}},
};

class SplitDelimitedTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitDelimitedTest, CutsAtEveryDelimiter) {
  TDynamicArrayStr pieces;
  SplitDelimited(GetParam().text, pieces);
  EXPECT_EQ(pieces, GetParam().pieces);
}

// The array is reused line after line; nothing of an earlier, longer line may remain.
TEST_P(SplitDelimitedTest, ReplacesWhatTheArrayHeld) {
  TDynamicArrayStr pieces{"stale one that is long enough to be on the heap", "x", "y", "z", "w", "v"};
  SplitDelimited(GetParam().text, pieces);
  EXPECT_EQ(pieces, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitDelimitedTest, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(SplitDelimited, GrowsFromShorterLineToLongerOne) {
  TDynamicArrayStr pieces;
  SplitDelimited(",1", pieces);
  SplitDelimited(",1,22,333,", pieces);
  EXPECT_EQ(pieces, (TDynamicArrayStr{"1", "22", "333", ""}));
}

}  // namespace
