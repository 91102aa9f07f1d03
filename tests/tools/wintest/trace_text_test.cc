#include "tools/wintest/trace_text.h"

#include <gtest/gtest.h>

namespace ridgeline::wintest {
namespace {

TEST(TraceTextTest, StampsAreCheckedThenMasked) {
  const auto lines = MaskTrace("[09:05:07] EngineAdapterAttach\n[23:59:60] leap\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "[hh:mm:ss] EngineAdapterAttach");
  EXPECT_TRUE(lines[0].stamped);
  EXPECT_FALSE(lines[0].bad_stamp);
  EXPECT_TRUE(lines[1].stamped);
}

TEST(TraceTextTest, MalformedStampsAreFlaggedNotMasked) {
  for (const char* text : {"[24:00:00] x\n", "[9:05:07] x\n", "[09:60:00] x\n", "[09-05-07] x\n"}) {
    const auto lines = MaskTrace(text);
    ASSERT_EQ(lines.size(), 1u) << text;
    EXPECT_TRUE(lines[0].bad_stamp) << text;
    EXPECT_FALSE(lines[0].stamped) << text;
  }
}

TEST(TraceTextTest, ContinuationsAndTrailingPiecesKeepTheirShape) {
  const auto lines = MaskTrace("[10:00:00] first part, second part\nno newline yet");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ended);
  EXPECT_FALSE(lines[1].ended);
  EXPECT_FALSE(lines[1].stamped);
  EXPECT_FALSE(lines[1].bad_stamp);
  EXPECT_EQ(lines[1].text, "no newline yet");
}

TEST(TraceTextTest, PointersOfEitherCLibraryReadTheSame) {
  EXPECT_EQ(MaskAddresses("Context = 0x55d5c2a3b2c0"), MaskAddresses("Context = 000000000061fe20"));
  EXPECT_EQ(MaskAddresses("Context = 0x55d5c2a3b2c0"), "Context = <ptr>");
  EXPECT_EQ(MaskAddresses("PayloadBlob = (nil)"), "PayloadBlob = <null>");
  EXPECT_EQ(MaskAddresses("PayloadBlob = 0000000000000000"), "PayloadBlob = <null>");
  EXPECT_EQ(MaskAddresses("(0x7ffc045f185c,0x80,0x7ffc045f1860(145248))"),
            "(<ptr>,0x80,<ptr>(145248))");
}

TEST(TraceTextTest, ResultCodesCountsAndSizesAreKept) {
  EXPECT_EQ(MaskAddresses("done hr = 0x80098005"), "done hr = 0x80098005");
  EXPECT_EQ(MaskAddresses("done (0x0)"), "done (0x0)");
  EXPECT_EQ(MaskAddresses("width=388, height=374"), "width=388, height=374");
  // Seventeen digits is not an address of either form.
  EXPECT_EQ(MaskAddresses("12345678901234567"), "12345678901234567");
}

TEST(TraceTextTest, EnrollmentRecordAddressIsMasked) {
  EXPECT_EQ(MaskAddresses("(enrollment=0x61fe20, count=1, t-size=412)"),
            "(enrollment=<address>, count=1, t-size=412)");
}

}  // namespace
}  // namespace ridgeline::wintest
