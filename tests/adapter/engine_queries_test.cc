// The entry points with fixed answers: preferred format, index vector, sample hint, hash and
// control requests.
#include <cstring>

#include <gtest/gtest.h>

#include "adapter/engine_interface.h"
#include "adapter/entry_points.h"
#include "tests/support/trace_capture.h"

namespace ridgeline {
namespace {

using testing::TraceCapture;

TEST(EngineQueries, PreferredFormatIsTheUncompressedFingerImage) {
  WINBIO_PIPELINE pipeline{};
  WINBIO_REGISTERED_FORMAT format{};
  WINBIO_UUID vendor{};
  TraceCapture capture;
  ASSERT_EQ(EngineAdapterQueryPreferredFormat(&pipeline, &format, &vendor), S_OK);
  EXPECT_EQ(format.Owner, 27);
  EXPECT_EQ(format.Type, 1025);
  EXPECT_EQ(std::memcmp(&vendor, &kVendorFormatId, sizeof(GUID)), 0);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"EngineAdapterQueryPreferredFormat\n"});
}

TEST(EngineQueries, PreferredFormatNeedsAllThreePointers) {
  WINBIO_PIPELINE pipeline{};
  WINBIO_REGISTERED_FORMAT format{};
  WINBIO_UUID vendor{};
  EXPECT_EQ(EngineAdapterQueryPreferredFormat(nullptr, &format, &vendor), E_POINTER);
  EXPECT_EQ(EngineAdapterQueryPreferredFormat(&pipeline, nullptr, &vendor), E_POINTER);
  EXPECT_EQ(EngineAdapterQueryPreferredFormat(&pipeline, &format, nullptr), E_POINTER);
  EXPECT_EQ(format.Owner, 0);  // nothing written on refusal
}

TEST(EngineQueries, IndexVectorSizeIsZero) {
  WINBIO_PIPELINE pipeline{};
  SIZE_T size = 5;
  TraceCapture capture;
  EXPECT_EQ(EngineAdapterQueryIndexVectorSize(nullptr, &size), E_POINTER);
  EXPECT_EQ(EngineAdapterQueryIndexVectorSize(&pipeline, nullptr), E_POINTER);
  EXPECT_EQ(size, 5u);
  ASSERT_EQ(EngineAdapterQueryIndexVectorSize(&pipeline, &size), S_OK);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(capture.messages(), std::vector<std::string>(3, "EngineAdapterQueryIndexVectorSize\n"));
}

TEST(EngineQueries, SampleHintIsOneWithoutTrace) {
  WINBIO_PIPELINE pipeline{};
  SIZE_T hint = 0;
  TraceCapture capture;
  EXPECT_EQ(EngineAdapterQuerySampleHint(nullptr, &hint), E_POINTER);
  EXPECT_EQ(EngineAdapterQuerySampleHint(&pipeline, nullptr), E_POINTER);
  ASSERT_EQ(EngineAdapterQuerySampleHint(&pipeline, &hint), S_OK);
  EXPECT_EQ(hint, 1u);
  EXPECT_TRUE(capture.strings().empty());
}

TEST(EngineQueries, HashEntryPointsAreNotImplemented) {
  TraceCapture capture;
  // Arguments are not looked at, not even the pipeline.
  EXPECT_EQ(EngineAdapterQueryHashAlgorithms(nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(EngineAdapterSetHashAlgorithm(nullptr, 0, nullptr), E_NOTIMPL);
  EXPECT_EQ(EngineAdapterGetEnrollmentHash(nullptr, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"EngineAdapterQueryHashAlgorithms\n"});
}

// The five pointers the control entry points check, with sentinels in the outputs.
struct ControlArgs {
  WINBIO_PIPELINE pipeline{};
  UCHAR send[4] = {};
  UCHAR receive[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  SIZE_T received = 0x5A5A;
  ULONG status = 0xA5A5;
};

using ControlFn = HRESULT(WINAPI*)(PWINBIO_PIPELINE, ULONG, PUCHAR, SIZE_T, PUCHAR, SIZE_T, PSIZE_T,
                                   PULONG);

// Calls fn with all five pointers present except the one with index missing (-1: none).
HRESULT CallControl(ControlFn fn, ControlArgs& a, int missing) {
  return fn(missing == 0 ? nullptr : &a.pipeline, 1, missing == 1 ? nullptr : a.send,
            sizeof(a.send), missing == 2 ? nullptr : a.receive, sizeof(a.receive),
            missing == 3 ? nullptr : &a.received, missing == 4 ? nullptr : &a.status);
}

TEST(EngineQueries, ControlRequestsAreRejected) {
  for (ControlFn fn : {&EngineAdapterControlUnit, &EngineAdapterControlUnitPrivileged}) {
    ControlArgs args;
    EXPECT_EQ(CallControl(fn, args, -1), E_INVALIDARG);
    for (int missing = 0; missing < 5; ++missing) {
      EXPECT_EQ(CallControl(fn, args, missing), E_POINTER) << "missing " << missing;
    }
    EXPECT_EQ(args.received, 0x5A5Au);
    EXPECT_EQ(args.status, 0xA5A5u);
    EXPECT_EQ(args.receive[0], 0xAA);
  }
}

TEST(EngineQueries, OnlyThePrivilegedControlIsTraced) {
  ControlArgs args;
  TraceCapture capture;
  CallControl(&EngineAdapterControlUnit, args, -1);
  EXPECT_TRUE(capture.strings().empty());
  CallControl(&EngineAdapterControlUnitPrivileged, args, 0);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"EngineAdapterControlUnitPrivileged\n"});
}

}  // namespace
}  // namespace ridgeline
