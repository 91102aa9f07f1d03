// Golden checks of the compact minutia template (encoding, record size, structural check,
// decoding) and of the template container (append, header check, entry access).
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_params.h"
#include "core/trace_log.h"
#include "platform/debug_output.h"
#include "template/template_container.h"
#include "template/template_decode.h"
#include "template/template_encode.h"
#include "template/template_layout.h"
#include "tools/golden/lib/golden.h"
#include "tools/golden/lib/records_json.h"

namespace ridgeline::golden {
namespace {

// Collects the adapter's trace messages, time stamps removed, while it lives.
class TraceRecorder {
 public:
  TraceRecorder() {
    ResetTraceLineStart();
    platform::SetDebugOutputHook(&Record, this);
  }
  ~TraceRecorder() { platform::SetDebugOutputHook(nullptr, nullptr); }
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;
  Json lines() const { return lines_; }

 private:
  static void Record(void* user, const char* text) {
    std::string line(text);
    const bool stamped = line.size() >= 11 && line[0] == '[' && line[9] == ']' && line[10] == ' ';
    static_cast<TraceRecorder*>(user)->lines_.push_back(stamped ? line.substr(11) : line);
  }
  Json lines_ = Json::array();
};

std::vector<uint8_t> FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd hex length");
  std::vector<uint8_t> bytes(hex.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  }
  return bytes;
}

std::string ToHex(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0xF]);
  }
  return hex;
}

Json ParamsAfter(const EngineParams& params) {
  return Json{{"TemplateSetting", params.TemplateSetting},
              {"TemplateFlag", params.TemplateFlag},
              {"CropX", params.CropX},
              {"CropY", params.CropY}};
}

// Encodes `input` as the vector did and compares the buffer, the record size, the parameters
// and the feature set after encoding. Returns the encoded buffer.
std::string CheckEncode(const Json& featureSet, const Json& tpl, std::vector<uint8_t>* buffer) {
  OwnedFeatures records;
  FeatureSetFromJson(featureSet, records.set());
  EngineParams params = EngineParamsFromJson(tpl.at("params_before"));
  buffer->assign(tpl.at("Capacity").get<size_t>(), 0);
  EncodeTemplate(&params, records.set(), tpl.at("BoundaryDensity").get<uint8_t>(), *buffer);
  const std::string hex = ToHex(*buffer);
  const std::string want = tpl.at("Buffer").get<std::string>();
  if (hex != want) {
    size_t i = 0;
    while (i < hex.size() && i < want.size() && hex[i] == want[i]) ++i;
    return "Buffer: first difference at byte " + std::to_string(i / 2) + ": got " +
           hex.substr(i / 2 * 2, 2) + ", want " + want.substr(i / 2 * 2, 2);
  }
  const int size = TemplateRecordSize(*buffer);
  if (size != tpl.at("TemplateRecordSize").get<int>()) {
    return "TemplateRecordSize: got " + std::to_string(size);
  }
  std::string diff = CompareJson(ParamsAfter(params), tpl.at("params_after"), "params_after");
  if (!diff.empty()) return diff;
  return CompareJson(FeatureSetToJson(*records.set()), tpl.at("FeatureSetAfter"),
                     "FeatureSetAfter");
}

std::string CheckDecode(const std::vector<uint8_t>& buffer, const Json& decoded) {
  OwnedFeatures records;
  DecodeTemplate(records.set(), records.summary(), buffer);
  std::string diff =
      CompareJson(FeatureSetToJson(*records.set()), decoded.at("FeatureSet"), "Decoded.FeatureSet");
  if (!diff.empty()) return diff;
  if (records.summary()->BoundaryDensity != decoded.at("BoundaryDensity").get<int>()) {
    return "Decoded.BoundaryDensity: got " + std::to_string(records.summary()->BoundaryDensity);
  }
  return "";
}

Outcome CheckTemplateCase(const Json& c) {
  std::vector<uint8_t> buffer;
  std::string diff = CheckEncode(c.at("FeatureSet"), c, &buffer);
  if (!diff.empty()) return Outcome::Fail(diff);
  const std::span<const uint8_t> record(buffer.data(), TemplateRecordSize(buffer));
  if (CheckMinutiaTemplate(record) != c.at("StructuralCheck").get<bool>()) {
    return Outcome::Fail("StructuralCheck differs");
  }
  return Outcome::FromDiff(CheckDecode(buffer, c.at("Decoded")));
}

// Builds a container by the append rule from the listed records, as the vector did.
std::vector<uint8_t> AppendAll(const std::vector<std::vector<uint8_t>>& records) {
  uint8_t* blob = nullptr;
  size_t size = 0;
  for (const auto& record : records) {
    if (AppendTemplateEntry(&blob, &size, record) != AppendResult::kAppended) {
      std::free(blob);
      throw std::runtime_error("append refused");
    }
  }
  std::vector<uint8_t> out(blob, blob + size);
  std::free(blob);
  return out;
}

Outcome CheckContainer(const Json& c, const Json& cases) {
  std::vector<uint8_t> container = FromHex(c.at("Container").get<std::string>());
  if (container.size() != c.at("Size").get<size_t>()) return Outcome::Fail("Size vs Container");
  if (c.at("built") == "append") {
    std::vector<std::vector<uint8_t>> records;
    for (const auto& index : c.at("templates")) {
      std::vector<uint8_t> buffer = FromHex(cases.at(index.get<int>()).at("Buffer"));
      buffer.resize(TemplateRecordSize(buffer));
      records.push_back(buffer);
    }
    const std::vector<uint8_t> built = AppendAll(records);
    if (built != container) return Outcome::Fail("appended container differs");
  }
  {
    TraceRecorder trace;
    if (_CheckTemplate(container) != c.at("CheckTemplate").get<bool>()) {
      return Outcome::Fail("CheckTemplate differs");
    }
    std::string diff = CompareJson(trace.lines(), c.at("CheckTrace"), "CheckTrace");
    if (!diff.empty()) return Outcome::Fail(diff);
  }
  for (const auto& parse : c.at("Parse")) {
    const int index = parse.at("index").get<int>();
    const std::string where = "Parse[" + std::to_string(index) + "]";
    FeatureSet* fs = nullptr;
    FeatureSummary* summary = nullptr;
    TraceRecorder trace;
    const bool result = _ParseTemplate(container, index, &fs, &summary);
    std::string diff;
    if (result != parse.at("Result").get<bool>()) diff = where + ".Result differs";
    if (diff.empty()) diff = CompareJson(trace.lines(), parse.at("Trace"), where + ".Trace");
    if (diff.empty() && result) {
      diff = CompareJson(FeatureSetToJson(*fs), parse.at("FeatureSet"), where + ".FeatureSet");
      if (diff.empty() && summary->BoundaryDensity != parse.at("BoundaryDensity").get<int>()) {
        diff = where + ".BoundaryDensity differs";
      }
    }
    FreeFeatureRecords(fs, summary);
    if (!diff.empty()) return Outcome::Fail(diff);
  }
  return Outcome::Pass();
}

const SuiteRegistrar kTemplates("templates", "templates", [](const fs::path& root) {
  std::vector<std::pair<std::string, Outcome>> results;
  const Json all = ReadJson(root / "cases.json");
  const Json& cases = all.at("cases");
  for (const auto& c : cases) {
    const std::string name = "case " + std::to_string(c.at("index").get<int>()) + " (" +
                             c.at("kind").get<std::string>() + ")";
    try {
      results.emplace_back(name, CheckTemplateCase(c));
    } catch (const std::exception& e) {
      results.emplace_back(name, Outcome::Fail(std::string("error: ") + e.what()));
    }
  }
  int n = 0;
  for (const auto& c : all.at("containers")) {
    const std::string name =
        "container " + std::to_string(n++) + " (" + c.at("built").get<std::string>() + ")";
    try {
      results.emplace_back(name, CheckContainer(c, cases));
    } catch (const std::exception& e) {
      results.emplace_back(name, Outcome::Fail(std::string("error: ") + e.what()));
    }
  }
  return results;
});

const StageRegistrar kEncode("EncodeTemplate", [](const StageContext& ctx) {
  const Json tpl = ctx.OutputJson("tpl");
  std::vector<uint8_t> buffer;
  return Outcome::FromDiff(CheckEncode(ctx.InputJson("featureSet"), tpl, &buffer));
});

const StageRegistrar kAppend("(append to an empty TemplateContainer)", [](const StageContext& ctx) {
  std::vector<uint8_t> record = FromHex(ctx.InputJson("template").at("Buffer"));
  record.resize(TemplateRecordSize(record));
  const Json want = ctx.OutputJson("cont");
  const std::vector<uint8_t> built = AppendAll({record});
  if (built.size() != want.at("Size").get<size_t>()) return Outcome::Fail("Size differs");
  return Outcome::FromDiff(built == FromHex(want.at("Container")) ? "" : "Container differs");
});

}  // namespace
}  // namespace ridgeline::golden
