// Print names, folder listing and the protocol's pair lists.
#include "tools/eval/fvc_protocol.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <utility>

#include "tests/tools/eval/temp_folder.h"

namespace ridgeline::eval {
namespace {

std::vector<PrintFile> Prints(std::initializer_list<std::pair<long, long>> names) {
  std::vector<PrintFile> prints;
  for (auto [finger, impression] : names) {
    prints.push_back(
        {std::to_string(finger) + "_" + std::to_string(impression) + ".tif", {finger, impression}});
  }
  return prints;
}

std::vector<std::pair<int, int>> Pairs(const std::vector<Comparison>& comparisons, bool genuine) {
  std::vector<std::pair<int, int>> pairs;
  for (const Comparison& c : comparisons) {
    if (c.genuine == genuine) pairs.emplace_back(c.reference, c.probe);
  }
  return pairs;
}

TEST(PrintName, ParsesFingerAndImpression) {
  EXPECT_EQ(ParsePrintName("101_3")->finger, 101);
  EXPECT_EQ(ParsePrintName("101_3")->impression, 3);
  EXPECT_EQ(ParsePrintName("007_03")->finger, 7);
  EXPECT_EQ(ParsePrintName("007_03")->impression, 3);
  for (const char* bad :
       {"101", "101_", "_3", "a_1", "101_3_2", "1_2b", "1 _2", "-1_2", "1234567890_1", ""}) {
    EXPECT_FALSE(ParsePrintName(bad)) << bad;
  }
}

TEST(FvcComparisons, GenuineAreLaterImpressionsAndImpostorsFirstImpressions) {
  // Three fingers of four impressions: indices 0..3, 4..7, 8..11.
  const std::vector<PrintFile> prints = Prints({{1, 1},
                                                {1, 2},
                                                {1, 3},
                                                {1, 4},
                                                {2, 1},
                                                {2, 2},
                                                {2, 3},
                                                {2, 4},
                                                {3, 1},
                                                {3, 2},
                                                {3, 3},
                                                {3, 4}});
  const std::vector<Comparison> comparisons = FvcComparisons(prints);
  ASSERT_EQ(comparisons.size(), 3u * 6 + 3);
  const std::vector<std::pair<int, int>> first_finger = {{0, 1}, {0, 2}, {0, 3},
                                                         {1, 2}, {1, 3}, {2, 3}};
  const auto genuine = Pairs(comparisons, true);
  EXPECT_EQ(std::vector(genuine.begin(), genuine.begin() + 6), first_finger);
  EXPECT_EQ(genuine[6], std::make_pair(4, 5));
  EXPECT_EQ(genuine.back(), std::make_pair(10, 11));
  EXPECT_EQ(Pairs(comparisons, false), (std::vector<std::pair<int, int>>{{0, 4}, {0, 8}, {4, 8}}));
  // Genuine pairs come first, then the impostor pairs.
  EXPECT_TRUE(comparisons[17].genuine);
  EXPECT_FALSE(comparisons[18].genuine);
}

TEST(FvcComparisons, StandardSetGivesTheStandardCounts) {
  std::vector<PrintFile> prints;
  for (long finger = 101; finger <= 110; ++finger) {
    for (long impression = 1; impression <= 8; ++impression) {
      prints.push_back({"x", {finger, impression}});
    }
  }
  const std::vector<Comparison> comparisons = FvcComparisons(prints);
  EXPECT_EQ(Pairs(comparisons, true).size(), 280u);
  EXPECT_EQ(Pairs(comparisons, false).size(), 45u);
  std::set<std::pair<int, int>> distinct;
  for (const Comparison& c : comparisons) {
    EXPECT_LT(c.reference, c.probe);
    EXPECT_EQ(c.genuine, prints[c.reference].name.finger == prints[c.probe].name.finger);
    distinct.emplace(c.reference, c.probe);
  }
  EXPECT_EQ(distinct.size(), comparisons.size());
}

TEST(FvcComparisons, UnevenFingersUseWhatIsThere) {
  // Finger 5 has one impression (no genuine pair), finger 6 starts at impression 2.
  const std::vector<PrintFile> prints = Prints({{5, 1}, {6, 2}, {6, 7}});
  const std::vector<Comparison> comparisons = FvcComparisons(prints);
  EXPECT_EQ(Pairs(comparisons, true), (std::vector<std::pair<int, int>>{{1, 2}}));
  EXPECT_EQ(Pairs(comparisons, false), (std::vector<std::pair<int, int>>{{0, 1}}));
  EXPECT_TRUE(FvcComparisons({}).empty());
}

TEST(ListPrintSet, SortsNumericallyAndSkipsOtherFiles) {
  testing::TempFolder folder;
  for (const char* name :
       {"10_1.tif", "9_2.PNG", "9_1.pgm", "readme.txt", "9_x.tif", "notes", "9_10.tif"}) {
    std::ofstream(folder.path() / name) << "x";
  }
  std::filesystem::create_directory(folder.path() / "8_1.tif");  // a folder, not a print
  const std::vector<PrintFile> prints = ListPrintSet(folder.path());
  std::vector<std::string> names;
  for (const PrintFile& print : prints) names.push_back(print.path.filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"9_1.pgm", "9_2.PNG", "9_10.tif", "10_1.tif"}));
}

TEST(ListPrintSet, RefusesMissingEmptyAndAmbiguousFolders) {
  testing::TempFolder folder;
  EXPECT_THROW(ListPrintSet(folder.path() / "absent"), EvalError);
  EXPECT_THROW(ListPrintSet(folder.path()), EvalError);  // no prints
  std::ofstream(folder.path() / "101_1.tif") << "x";
  std::ofstream(folder.path() / "101_01.png") << "x";
  try {
    ListPrintSet(folder.path());
    FAIL() << "two files for 101_1 were accepted";
  } catch (const EvalError& error) {
    EXPECT_NE(std::string(error.what()).find("101_01.png"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace ridgeline::eval
