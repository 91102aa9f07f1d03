#include "core/trace_log.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::FixedClock;
using testing::TraceCapture;

TEST(TraceLog, FirstMessageIsStampedWithTheLocalTime) {
  FixedClock clock(7, 5, 9);
  TraceCapture capture;
  TraceLog("EngineAdapterAttach\n");
  ASSERT_EQ(capture.strings().size(), 1u);
  EXPECT_EQ(capture.strings()[0], "[07:05:09] EngineAdapterAttach\n");
}

TEST(TraceLog, StampIsTwoDigitTwentyFourHourTime) {
  FixedClock clock(23, 59, 0);
  TraceCapture capture;
  TraceLog("a\n");
  clock.Set(0, 0, 7);
  TraceLog("b\n");
  EXPECT_EQ(capture.strings(), (std::vector<std::string>{"[23:59:00] a\n", "[00:00:07] b\n"}));
}

TEST(TraceLog, MessageWithoutNewlineContinuesTheLine) {
  FixedClock clock(12, 34, 56);
  TraceCapture capture;
  TraceLog("width=%d", 300);
  TraceLog(", height=%d\n", 400);
  TraceLog("next\n");
  EXPECT_EQ(capture.strings(), (std::vector<std::string>{"[12:34:56] width=300", ", height=400\n",
                                                         "[12:34:56] next\n"}));
  // The clock is read only for lines that get a stamp.
  EXPECT_EQ(clock.Reads(), 2);
}

TEST(TraceLog, NewlineAnywhereInTheMessageStartsANewLine) {
  FixedClock clock(1, 2, 3);
  TraceCapture capture;
  TraceLog("part");
  TraceLog("one\ntwo");
  TraceLog("three");
  EXPECT_EQ(capture.strings(),
            (std::vector<std::string>{"[01:02:03] part", "one\ntwo", "[01:02:03] three"}));
}

TEST(TraceLog, LongMessageIsCutTo511CharactersAndWrittenWhole) {
  FixedClock clock(10, 0, 0);
  TraceCapture capture;
  const std::string long_text(600, 'x');
  TraceLog("%s\n", long_text.c_str());
  ASSERT_EQ(capture.strings().size(), 1u);
  EXPECT_EQ(capture.strings()[0], "[10:00:00] " + std::string(511, 'x'));
  // The newline was cut off with the rest, so the next message continues the line.
  TraceLog("tail\n");
  EXPECT_EQ(capture.strings()[1], "tail\n");
}

TEST(TraceLog, ConcurrentCallsWriteWholeStampedLines) {
  FixedClock clock(9, 8, 7);
  TraceCapture capture;
  constexpr int kThreads = 4;
  constexpr int kMessages = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i) TraceLog("thread %d message %d\n", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(capture.strings().size(), static_cast<size_t>(kThreads * kMessages));
  std::vector<int> next(kThreads, 0);
  for (const std::string& s : capture.strings()) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(s.c_str(), "[09:08:07] thread %d message %d\n", &t, &i), 2) << s;
    ASSERT_TRUE(t >= 0 && t < kThreads) << s;
    EXPECT_EQ(i, next[t]++) << s;  // each thread's lines arrive whole and in order
  }
}

}  // namespace
}  // namespace ridgeline
