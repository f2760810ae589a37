#include <gtest/gtest.h>

#include "TempTree.h"
#include "search/MatchLine.h"

namespace {

MatchLine line_of(const std::string& content, const std::string& text, MatchLineStatus expected,
                  size_t limit = 1 << 20) {
  TempTree tree;
  MatchLine line;
  EXPECT_EQ(f_match_line(tree.file("f", content).c_str(), text, limit, &line), expected);
  return line;
}

TEST(MatchLineTest, TheFirstLineThatHoldsTheTextIgnoringCase) {
  MatchLine line = line_of("first line\r\nthe Second NEEDLE here\r\nneedle again\n", "needle",
                           MatchLineStatus::kFound);
  EXPECT_EQ(line.before, "the Second ");
  EXPECT_EQ(line.match, "NEEDLE");
  EXPECT_EQ(line.after, " here");  // without the carriage return
  EXPECT_FALSE(line.cutBefore || line.cutAfter);

  line = line_of("needle at the start", "NEEDLE", MatchLineStatus::kFound);
  EXPECT_EQ(line.before, "");
  EXPECT_EQ(line.after, " at the start");
}

TEST(MatchLineTest, ALongLineIsCutAroundTheMatch) {
  std::string content = std::string(500, 'a') + "needle" + std::string(500, 'b');
  MatchLine line = line_of(content, "needle", MatchLineStatus::kFound);
  EXPECT_TRUE(line.cutBefore);
  EXPECT_TRUE(line.cutAfter);
  EXPECT_EQ(line.match, "needle");
  EXPECT_LE(line.before.size() + line.match.size() + line.after.size(), kMatchLineWidth);
  EXPECT_GT(line.after.size(), line.before.size());  // more of what follows than precedes
}

TEST(MatchLineTest, OnlyTheFirstBytesAreReadAndAMissingFileIsSaid) {
  line_of(std::string(2000, 'x') + "needle", "needle", MatchLineStatus::kNotFound, 1000);
  MatchLine line;
  EXPECT_EQ(f_match_line("/no/such/file", "needle", 1000, &line), MatchLineStatus::kUnreadable);
}

}  // namespace
