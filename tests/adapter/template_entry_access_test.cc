#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapter/template_container.h"
#include "extract/engine_params.h"
#include "match/template_encode.h"
#include "match/template_layout.h"
#include "tests/support/feature_set_fixture.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::TestFeatureSet;
using testing::TraceCapture;
using Lines = std::vector<std::string>;

std::vector<uint8_t> Record(int count, int cols = 6, int rows = 4) {
  TestFeatureSet set(cols, rows);
  for (int i = 0; i < count; ++i) set.Add({(7 * i) % (16 * cols), (5 * i) % (16 * rows), i});
  EngineParams params{};
  InitEngineParams(&params);
  std::vector<uint8_t> buffer(1024);
  EncodeTemplate(&params, set.get(), 33, buffer);
  buffer.resize(TemplateRecordSize(buffer));
  return buffer;
}

std::vector<uint8_t> ContainerOf(const std::vector<std::vector<uint8_t>>& records) {
  uint8_t* blob = nullptr;
  size_t size = 0;
  for (const auto& r : records)
    EXPECT_EQ(AppendTemplateEntry(&blob, &size, r), AppendResult::kAppended);
  std::vector<uint8_t> bytes(blob, blob + size);
  std::free(blob);
  return bytes;
}

// The two scratch slots of a context, released at the end of the test.
struct Slots {
  FeatureSet* fs = nullptr;
  FeatureSummary* summary = nullptr;
  ~Slots() { FreeFeatureRecords(fs, summary); }
};

TEST(CheckTemplate, RefusesBadHeadersWithTheirTraces) {
  std::vector<uint8_t> blob = ContainerOf({Record(5)});
  {
    TraceCapture trace;
    EXPECT_TRUE(_CheckTemplate(blob));
    EXPECT_FALSE(_CheckTemplate({}));
    EXPECT_FALSE(_CheckTemplate(std::span(blob).first(7)));
    EXPECT_TRUE(trace.messages().empty());
  }
  struct Change {
    size_t offset;
    uint8_t value;
    const char* trace;
  };
  for (const Change& change : {
           Change{4, 1,
                  "_CheckTemplate TemplateData->Version = 1, TemplateData->TemplateCount = 1\n"},
           Change{5, 0,
                  "_CheckTemplate TemplateData->Version = 0, TemplateData->TemplateCount = 0\n"},
           Change{6, 0xD0, "_CheckTemplate TemplateData->TemplateType = 2000\n"},
       }) {
    std::vector<uint8_t> altered = blob;
    altered[change.offset] = change.value;
    TraceCapture trace;
    EXPECT_FALSE(_CheckTemplate(altered));
    EXPECT_EQ(trace.messages(), Lines{change.trace});
  }
}

TEST(ParseTemplate, DecodesAnEntryIntoNewScratchPair) {
  const std::vector<uint8_t> record = Record(12);
  const std::vector<uint8_t> blob = ContainerOf({Record(3), record});
  Slots slots;
  TraceCapture trace;
  ASSERT_TRUE(_ParseTemplate(blob, 1, &slots.fs, &slots.summary));
  EXPECT_EQ(trace.messages(),
            (Lines{"_ParseTemplate(idx=1)\n",
                   "_ParseTemplate size@1 = " + std::to_string(record.size()) + "\n",
                   "_ParseTemplate done 1\n"}));
  ASSERT_NE(slots.fs, nullptr);
  EXPECT_EQ(slots.fs->Count, 12);
  EXPECT_EQ(slots.summary->BoundaryDensity, 33);

  // The pair is reused by the next call.
  FeatureSet* const kept = slots.fs;
  ASSERT_TRUE(_ParseTemplate(blob, 0, &slots.fs, &slots.summary));
  EXPECT_EQ(slots.fs, kept);
  EXPECT_EQ(slots.fs->Count, 3);
}

TEST(ParseTemplate, LoneHalfOfAPairIsReplacedByAWholePair) {
  const std::vector<uint8_t> blob = ContainerOf({Record(3)});
  Slots slots;
  FeatureSet* lone = nullptr;
  FeatureSummary* unused = nullptr;
  ASSERT_TRUE(AllocFeatureRecords(&lone, &unused));
  FreeFeatureRecords(nullptr, unused);
  slots.fs = lone;
  ASSERT_TRUE(_ParseTemplate(blob, 0, &slots.fs, &slots.summary));
  EXPECT_NE(slots.summary, nullptr);
  EXPECT_EQ(slots.fs->Count, 3);
}

TEST(ParseTemplate, RefusalsAndTheirTraces) {
  const std::vector<uint8_t> one = ContainerOf({Record(5)});
  struct Case {
    const char* name;
    std::vector<uint8_t> blob;
    int index;
    Lines trace;
  };
  std::vector<uint8_t> zero_length = one;
  zero_length[8] = 0;
  zero_length[9] = 0;
  std::vector<uint8_t> one_too_long = one;
  one_too_long[8] = static_cast<uint8_t>(one_too_long[8] + 1);
  std::vector<uint8_t> bad_record = one;
  bad_record[10 + 1] = 251;  // minutiae count beyond 250
  const std::string size = std::to_string(one.size() - 10);
  const std::vector<Case> cases = {
      {"null", {}, 0, {"_ParseTemplate(idx=0)\n", "_ParseTemplate abnormal parameters (null)\n"}},
      {"no count byte",
       {0, 0, 0, 0, 0},
       0,
       {"_ParseTemplate(idx=0)\n", "_ParseTemplate abnormal parameters (null)\n"}},
      {"index beyond count",
       one,
       1,
       {"_ParseTemplate(idx=1)\n", "_ParseTemplate abnormal parameters (template count=1)\n"}},
      {"negative index",
       one,
       -1,
       {"_ParseTemplate(idx=-1)\n", "_ParseTemplate abnormal parameters (template count=1)\n"}},
      {"zero length", zero_length, 0, {"_ParseTemplate(idx=0)\n", "_ParseTemplate done 0\n"}},
      {"length one too long",
       one_too_long,
       0,
       {"_ParseTemplate(idx=0)\n", "_ParseTemplate abnormal data @ 0\n",
        "_ParseTemplate done 0\n"}},
      {"structural check",
       bad_record,
       0,
       {"_ParseTemplate(idx=0)\n", "_ParseTemplate size@0 = " + size + "\n",
        "_ParseTemplate done 0\n"}},
  };
  for (const Case& c : cases) {
    Slots slots;
    TraceCapture trace;
    EXPECT_FALSE(_ParseTemplate(c.blob, c.index, &slots.fs, &slots.summary)) << c.name;
    EXPECT_EQ(trace.messages(), c.trace) << c.name;
    EXPECT_EQ(slots.fs, nullptr) << c.name;
  }
}

TEST(ParseTemplate, TruncatedContainerIsRefusedAtEveryLength) {
  const std::vector<uint8_t> a = Record(12);
  const std::vector<uint8_t> b = Record(40, 8, 8);
  const std::vector<uint8_t> blob = ContainerOf({a, b});
  const size_t end_a = 10 + a.size();
  for (size_t n = 0; n <= blob.size(); ++n) {
    auto copy = std::make_unique<uint8_t[]>(n);
    if (n > 0) std::memcpy(copy.get(), blob.data(), n);
    const std::span<const uint8_t> truncated(copy.get(), n);
    Slots slots;
    TraceCapture trace;
    EXPECT_EQ(_ParseTemplate(truncated, 0, &slots.fs, &slots.summary), n >= end_a) << n;
    EXPECT_EQ(_ParseTemplate(truncated, 1, &slots.fs, &slots.summary), n == blob.size()) << n;
  }
}

}  // namespace
}  // namespace ridgeline
