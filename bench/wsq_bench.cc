// WSQ decoding and encoding of a print of about 500 x 500 pixels (a reference print brought to
// 500 x 482 and encoded at 2.25 bits per pixel), and decoding of the largest reference file.
// Without the shared prints nothing is registered.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/wsq_decoder.h"
#include "image/wsq_encoder.h"
#include "tests/support/shared_data.h"
#include "tools/image/resolution.h"

namespace ridgeline::tools {
namespace {

std::filesystem::path PrintPath() {
  return testing::SharedDir() / "data" / "fvc2002" / "DB1_B" / "101_1.tif";
}

// 388 x 374 at 388 "dpi" to 500 gives 500 x 482.
const PrintImage& LargePrint() {
  static const PrintImage image = Resample(ReadPrintImage(PrintPath()), 388, 500);
  return image;
}

void BM_WsqDecode500(benchmark::State& state) {
  const std::vector<uint8_t> wsq = EncodeWsq(LargePrint(), 2.25, 500);
  for (auto _ : state) {
    PrintImage image = DecodeWsq(wsq, "bench.wsq");
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetLabel(std::to_string(LargePrint().width) + "x" + std::to_string(LargePrint().height) +
                 ", " + std::to_string(wsq.size()) + " bytes");
}

// The file-size rate control (several quantizations of one decomposition) against the single
// quantization of the reference allocation.
void BM_WsqEncode500(benchmark::State& state) {
  const auto control = state.range(0) == 0 ? WsqRateControl::kFileSize : WsqRateControl::kReference;
  for (auto _ : state) {
    std::vector<uint8_t> wsq = EncodeWsq(LargePrint(), 2.25, 500, control);
    benchmark::DoNotOptimize(wsq.data());
  }
  state.SetLabel(state.range(0) == 0 ? "file size" : "reference quantisation");
}

void BM_WsqDecodeReference(benchmark::State& state) {
  const auto path = testing::SharedDir() / "interop" / "wsq" / "fvc2002_DB2_B_103_1_br225.wsq";
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> wsq{std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()};
  for (auto _ : state) {
    PrintImage image = DecodeWsq(wsq, "bench.wsq");
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetLabel("296x560");
}

const bool kRegistered = [] {
  if (!std::filesystem::exists(PrintPath())) return false;
  benchmark::RegisterBenchmark("BM_WsqDecode500", BM_WsqDecode500)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_WsqEncode500", BM_WsqEncode500)
      ->Arg(0)
      ->Arg(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_WsqDecodeReference", BM_WsqDecodeReference)
      ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
}  // namespace ridgeline::tools
