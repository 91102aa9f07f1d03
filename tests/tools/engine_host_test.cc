// The host's side of the adapter boundary: the table checks made before the engine is trusted,
// loading by path, and the sample record built exactly at the offsets the engine reads.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "adapter/engine_interface.h"
#include "tests/support/shared_data.h"
#include "tools/host/capture_preparation.h"
#include "tools/host/engine_library.h"
#include "tools/host/sample_record.h"

namespace ridgeline::tools {
namespace {

WINBIO_ENGINE_INTERFACE BuiltTable() {
  PWINBIO_ENGINE_INTERFACE table = nullptr;
  EXPECT_EQ(WbioQueryEngineInterface(&table), S_OK);
  return *table;
}

TEST(EngineTableCheck, AcceptsTheAdaptersTable) {
  EXPECT_EQ(DescribeTableProblem(BuiltTable()), "");
}

TEST(EngineTableCheck, RefusesWrongVersionTypeSizeOrAnEmptySlot) {
  WINBIO_ENGINE_INTERFACE table = BuiltTable();
  table.Version.MajorVersion = 2;
  EXPECT_NE(DescribeTableProblem(table).find("version"), std::string::npos);
  table = BuiltTable();
  table.Type = WINBIO_ADAPTER_TYPE_STORAGE;
  EXPECT_NE(DescribeTableProblem(table).find("type"), std::string::npos);
  table = BuiltTable();
  table.Size = 352;
  EXPECT_NE(DescribeTableProblem(table).find("size"), std::string::npos);
  table = BuiltTable();
  table.AcceptSampleData = nullptr;
  EXPECT_NE(DescribeTableProblem(table).find("slot 9"), std::string::npos);
}

TEST(EngineLibrary, LoadsTheBuiltAdapterAndRefusesOtherFiles) {
  EngineLibrary library(RIDGELINE_ADAPTER_PATH);
  EXPECT_EQ(library.table().Size, 360u);
  EXPECT_THROW(EngineLibrary("/nonexistent/libadapter.so"), HostError);
  EXPECT_THROW(EngineLibrary("/etc/hostname"), HostError);  // not a shared library
}

uint32_t Read32(const uint8_t* bytes, size_t at) {
  uint32_t value;
  std::memcpy(&value, bytes + at, 4);
  return value;
}
uint16_t Read16(const uint8_t* bytes, size_t at) {
  uint16_t value;
  std::memcpy(&value, bytes + at, 2);
  return value;
}

TEST(SampleRecord, FieldsSitWhereTheEngineReadsThem) {
  PrintImage image;
  image.width = 3;
  image.height = 2;
  image.pixels = {1, 2, 3, 4, 5, 6};
  SampleRecord record = BuildSampleRecord(image, WINBIO_PURPOSE_VERIFY, 2);
  const auto* bytes = reinterpret_cast<const uint8_t*>(record.bir());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(bytes) % 8, 0u);
  const uint32_t header = Read32(bytes, 4);
  const uint32_t data_size = Read32(bytes, 8);
  const uint32_t data = Read32(bytes, 12);
  EXPECT_EQ(header % 8, 0u);
  EXPECT_EQ(data % 8, 0u);
  EXPECT_EQ(data + data_size, record.size);
  EXPECT_EQ(Read32(bytes, header + 8), WINBIO_TYPE_FINGERPRINT);
  EXPECT_EQ(bytes[header + 13], WINBIO_PURPOSE_VERIFY);
  EXPECT_EQ(Read16(bytes, header + 40), 27);
  EXPECT_EQ(Read16(bytes, header + 42), 1025);
  EXPECT_EQ(bytes[data + 35], 0);  // uncompressed
  EXPECT_EQ(Read16(bytes, data + 44), 3);
  EXPECT_EQ(Read16(bytes, data + 46), 2);
  EXPECT_EQ(data_size, 56u + 6u);
  EXPECT_EQ(std::memcmp(bytes + data + 56, image.pixels.data(), 6), 0);
}

// The real adapter, loaded as the tool loads it, takes the host's records: a real print is
// accepted and handed back byte for byte by the engine data export; a flat image is a bad
// capture with reject detail 12.
TEST(SampleRecord, TheLoadedAdapterAcceptsItAndExportsItUnchanged) {
  EngineLibrary library(RIDGELINE_ADAPTER_PATH);
  const WINBIO_ENGINE_INTERFACE& engine = library.table();
  WINBIO_PIPELINE pipeline{};
  pipeline.EngineHandle = INVALID_HANDLE_VALUE;
  ASSERT_EQ(engine.Attach(&pipeline), S_OK);

  PrintImage flat;
  flat.width = 200;
  flat.height = 200;
  flat.pixels.assign(200 * 200, 180);
  SampleRecord blank = BuildSampleRecord(flat, WINBIO_PURPOSE_VERIFY, 2);
  WINBIO_REJECT_DETAIL reject = 0;
  EXPECT_EQ(
      engine.AcceptSampleData(&pipeline, blank.bir(), blank.size, WINBIO_PURPOSE_VERIFY, &reject),
      WINBIO_E_BAD_CAPTURE);
  EXPECT_EQ(reject, 12u);

  const auto print = ridgeline::testing::SharedDir() / "data/fvc2002/DB1_B/101_1.tif";
  if (!std::filesystem::exists(print)) {
    engine.Detach(&pipeline);
    GTEST_SKIP() << "no shared prints";
  }
  const PrintImage ridges = PrepareCapture(print, {}, nullptr).image;
  SampleRecord record = BuildSampleRecord(ridges, WINBIO_PURPOSE_ENROLL, 2);
  reject = 0;
  const HRESULT accepted =
      engine.AcceptSampleData(&pipeline, record.bir(), record.size, WINBIO_PURPOSE_ENROLL, &reject);
  EXPECT_EQ(accepted, S_OK);
  std::vector<uint8_t> exported(record.size);
  SIZE_T capacity = exported.size();
  // The engine copies into the buffer whose address it is given in SampleBuffer.
  const HRESULT hr =
      engine.ExportEngineData(&pipeline, WINBIO_DATA_FLAG_PROCESSED,
                              reinterpret_cast<PWINBIO_BIR*>(exported.data()), &capacity);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(std::memcmp(exported.data(), record.bir(), record.size), 0);
  EXPECT_EQ(engine.Detach(&pipeline), S_OK);
  EXPECT_EQ(pipeline.EngineHandle, INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace ridgeline::tools
