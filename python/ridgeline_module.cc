// `import ridgeline`: the engine object for Python programs. Images go through the command-line
// tool's own readers and capture preparation (resolution, trimming, size limits), so a script sees
// the same features, scores and decisions as `ridgeline extract` and `ridgeline match`. The GIL is
// released while an image is decoded, extracted or compared, so a thread pool runs on all cores;
// each running call borrows an Engine of its own from a pool (an Engine serves one thread).
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/capture_resolution.h"
#include "engine/engine.h"
#include "engine/feature_frame.h"
#include "engine/record_export.h"
#include "image/print_image.h"
#include "platform/secure_zero.h"
#include "template/standard_record.h"
#include "template/template_container.h"
#include "tools/cli/default_gallery.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/gallery_operations.h"
#include "tools/cli/workbench.h"
#include "tools/host/capture_preparation.h"

namespace py = pybind11;

namespace ridgeline::python {
namespace {

// A capture the engine refused, with the engine's reason.
struct CaptureFailure {
  std::string message;
  std::string reason;  // "image size", "bad capture", "too few minutiae"
};
// Template bytes that fail the structural check.
struct TemplateFailure {
  std::string message;
};

// Engines lent to running calls; returned on scope exit. Creating one per call would rebuild
// the matcher's work area every time.
class EnginePool {
 public:
  class Lease {
   public:
    explicit Lease(EnginePool& pool) : pool_(pool), engine_(pool.Take()) {}
    ~Lease() { pool_.Give(std::move(engine_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Engine& operator*() const { return *engine_; }
    Engine* operator->() const { return engine_.get(); }

   private:
    EnginePool& pool_;
    std::unique_ptr<Engine> engine_;
  };

 private:
  std::unique_ptr<Engine> Take() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        std::unique_ptr<Engine> engine = std::move(idle_.back());
        idle_.pop_back();
        return engine;
      }
    }
    std::unique_ptr<Engine> engine = Engine::Create();
    if (!engine) throw std::bad_alloc();
    // Python threads share the pool: each extraction stays on the thread that asked for it.
    engine->SetExtractionBands(1);
    return engine;
  }
  void Give(std::unique_ptr<Engine> engine) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (engine && idle_.size() < kMaxIdle) idle_.push_back(std::move(engine));
  }

  static constexpr size_t kMaxIdle = 16;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Engine>> idle_;
};

EnginePool& Pool() {
  // Never destroyed: threads may still hold leases while the interpreter shuts down.
  static EnginePool* pool = new EnginePool;
  return *pool;
}

// Features of one print: the accepted sample (the probe side of a comparison), the template an
// enrollment stores of it and that template decoded (the reference side), and where the engine's
// frame lies in the caller's image.
struct Features {
  std::string name;
  AcceptedSample sample;  // features: the probe side; crop: where the engine frame lies
  FeaturePair reference;
  std::vector<uint8_t> template_bytes;
  bool has_input_frame = false;  // false for features read from a template or a record
  int ppi = kSensorResolution;   // of the caller's image
  int trim_left = 0;             // capture pixels cut off by the trimming, at 500 ppi
  int trim_top = 0;
  int source_width = 0;  // the caller's image, as a record declares it
  int source_height = 0;
  int source_dpi = kSensorResolution;

  const FeaturePair& probe() const { return sample.features; }

  Features() = default;
  Features(const Features&) = delete;
  Features& operator=(const Features&) = delete;
  ~Features() { SecureZeroMemory(template_bytes.data(), template_bytes.size()); }

  // One coordinate of the engine frame (crop origin not yet added) in the caller's image.
  int ToInput(int engine, int crop, int trim) const {
    const int capture = WorkingToCapture(engine + crop) + trim;
    return ppi == kSensorResolution ? capture : SourcePosition(capture, ppi, kSensorResolution);
  }
};

enum class Frame { kInput, kEngine };

Frame ParseFrame(const std::string& frame) {
  if (frame == "input") return Frame::kInput;
  if (frame == "engine") return Frame::kEngine;
  throw py::value_error("frame must be \"input\" or \"engine\", not \"" + frame + "\"");
}

py::dtype MinutiaDtype() {
  py::list fields;
  fields.append(py::make_tuple("x", "<i4"));
  fields.append(py::make_tuple("y", "<i4"));
  fields.append(py::make_tuple("angle", "<i2"));
  fields.append(py::make_tuple("type", "u1"));
  fields.append(py::make_tuple("quality", "u1"));
  return py::dtype::from_args(fields);
}

py::dtype SingularDtype() {
  py::list fields;
  fields.append(py::make_tuple("x", "<i4"));
  fields.append(py::make_tuple("y", "<i4"));
  fields.append(py::make_tuple("direction", "<i2"));
  fields.append(py::make_tuple("type", "i1"));
  return py::dtype::from_args(fields);
}

#pragma pack(push, 1)
struct MinutiaRow {
  int32_t x, y;
  int16_t angle;
  uint8_t type, quality;
};
struct SingularRow {
  int32_t x, y;
  int16_t direction;
  int8_t type;
};
#pragma pack(pop)

py::array Minutiae(const Features& f, const std::string& frameName) {
  const bool input = ParseFrame(frameName) == Frame::kInput && f.has_input_frame;
  const FeatureSet& set = *f.probe().set();
  py::array out(MinutiaDtype(), py::array::ShapeContainer{static_cast<py::ssize_t>(set.Count)});
  auto* rows = static_cast<MinutiaRow*>(out.mutable_data());
  for (int i = 0; i < set.Count; ++i) {
    rows[i].x = input ? f.ToInput(set.X[i], f.sample.crop_x, f.trim_left) : set.X[i];
    rows[i].y = input ? f.ToInput(set.Y[i], f.sample.crop_y, f.trim_top) : set.Y[i];
    rows[i].angle = static_cast<int16_t>(input ? StandardAngle(set.Angle[i]) : set.Angle[i]);
    rows[i].type = set.Type[i];
    rows[i].quality = set.Variation[i];
  }
  return out;
}

py::array SingularPoints(const Features& f, const std::string& frameName) {
  const bool input = ParseFrame(frameName) == Frame::kInput && f.has_input_frame;
  const FeatureSummary& summary = *f.probe().summary();
  const int count = std::clamp(summary.Count, 0, kSingularCapacity);
  py::array out(SingularDtype(), py::array::ShapeContainer{static_cast<py::ssize_t>(count)});
  auto* rows = static_cast<SingularRow*>(out.mutable_data());
  for (int i = 0; i < count; ++i) {
    rows[i].x = input ? f.ToInput(summary.X[i], f.sample.crop_x, f.trim_left) : summary.X[i];
    rows[i].y = input ? f.ToInput(summary.Y[i], f.sample.crop_y, f.trim_top) : summary.Y[i];
    rows[i].direction = summary.Direction[i];
    rows[i].type = static_cast<int8_t>(summary.Type[i]);
  }
  return out;
}

py::array_t<uint8_t> BlockMap(const Features& f) {
  const FeatureSet& set = *f.probe().set();
  py::array_t<uint8_t> out(
      {static_cast<py::ssize_t>(set.BlockRows), static_cast<py::ssize_t>(set.BlockCols)});
  auto cells = out.mutable_unchecked<2>();
  for (int r = 0; r < set.BlockRows; ++r) {
    for (int c = 0; c < set.BlockCols; ++c) cells(r, c) = set.DirectionMap[r][c];
  }
  return out;
}

// The acceptance and the enrollment's template round trip of one prepared capture, as the
// evaluation and `ridgeline match` do it: one engine carries on from the acceptance to the
// encoding, as one context. Runs without the GIL.
std::unique_ptr<Features> AcceptCapture(const tools::Capture& capture) {
  auto features = std::make_unique<Features>();
  features->name = capture.name;
  EnginePool::Lease engine(Pool());
  AcceptedSample sample;
  const AcceptStatus status =
      engine->Accept(capture.image.pixels, capture.image.width, capture.image.height, &sample);
  switch (status) {
    case AcceptStatus::kAccepted:
      break;
    case AcceptStatus::kOutOfMemory:
      throw std::bad_alloc();
    case AcceptStatus::kSizeRefused:
      throw CaptureFailure{capture.name + ": " + std::to_string(capture.image.width) + " x " +
                               std::to_string(capture.image.height) +
                               " pixels at 500 ppi: " + AcceptStatusText(status),
                           "image size"};
    case AcceptStatus::kBadCapture:
      throw CaptureFailure{capture.name + ": bad capture: " + AcceptStatusText(status),
                           "bad capture"};
    case AcceptStatus::kTooFewMinutiae:
      throw CaptureFailure{capture.name + ": no usable fingerprint found (" +
                               std::to_string(sample.features.set()->Count) +
                               " minutiae on usable ridge area, too few)",
                           "too few minutiae"};
  }
  EncodedTemplate encoded = engine->EncodeTemplate(sample.features);
  if (encoded.bytes.empty() || !engine->DecodeTemplate(encoded.bytes, &features->reference)) {
    SecureZeroMemory(encoded.bytes.data(), encoded.bytes.size());
    throw CaptureFailure{capture.name + ": no usable fingerprint found (nothing to store)",
                         "too few minutiae"};
  }
  features->template_bytes = std::move(encoded.bytes);
  features->sample = std::move(sample);
  features->has_input_frame = true;
  features->ppi = static_cast<int>(std::lround(kSensorResolution * capture.frame.file_per_capture));
  features->trim_left = capture.frame.trim_left;
  features->trim_top = capture.frame.trim_top;
  features->source_width = capture.frame.source_width;
  features->source_height = capture.frame.source_height;
  features->source_dpi = capture.frame.source_dpi;
  return features;
}

// What the caller's image is: decoded pixels, file bytes or a path.
struct ImageSource {
  std::optional<tools::PrintImage> pixels;
  std::vector<uint8_t> bytes;
  std::optional<std::filesystem::path> path;
  std::string name;
};

ImageSource SourceOf(const py::handle& image) {
  ImageSource source;
  if (py::isinstance<py::array>(image)) {
    const py::array array = py::reinterpret_borrow<py::array>(image);
    if (!array.dtype().is(py::dtype::of<uint8_t>())) {
      throw py::type_error("image array must have dtype uint8 (8-bit grey), not " +
                           std::string(py::str(array.dtype())));
    }
    if (array.ndim() != 2) {
      throw py::type_error("image array must be 2-D (rows x columns of grey), not " +
                           std::to_string(array.ndim()) + "-D");
    }
    source.name = "<array>";
    tools::CheckImageSize(static_cast<int>(std::min<py::ssize_t>(array.shape(1), 1 << 30)),
                          static_cast<int>(std::min<py::ssize_t>(array.shape(0), 1 << 30)),
                          source.name);
    tools::PrintImage decoded;
    decoded.width = static_cast<int>(array.shape(1));
    decoded.height = static_cast<int>(array.shape(0));
    decoded.format = "array";
    decoded.pixels.resize(static_cast<size_t>(decoded.width) * decoded.height);
    const auto view = py::reinterpret_borrow<py::array_t<uint8_t>>(array).unchecked<2>();
    for (int y = 0; y < decoded.height; ++y) {
      for (int x = 0; x < decoded.width; ++x) {
        decoded.pixels[static_cast<size_t>(y) * decoded.width + x] = view(y, x);
      }
    }
    source.pixels = std::move(decoded);
  } else if (py::isinstance<py::bytes>(image) || py::isinstance<py::bytearray>(image) ||
             py::isinstance<py::memoryview>(image)) {
    const py::buffer_info info = py::reinterpret_borrow<py::buffer>(image).request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1) {
      throw py::type_error("image bytes must be a flat byte buffer");
    }
    const auto* data = static_cast<const uint8_t*>(info.ptr);
    source.bytes.assign(data, data + info.size);
    source.name = "<bytes>";
  } else if (py::isinstance<py::str>(image) || py::hasattr(image, "__fspath__")) {
    const std::string path = py::str(py::module_::import("os").attr("fspath")(image));
    source.path = std::filesystem::path(path);
    source.name = path;
  } else {
    throw py::type_error(
        "image must be a 2-D numpy.uint8 array, a path or the bytes of an image file, not " +
        std::string(py::str(py::type::handle_of(image).attr("__name__"))));
  }
  return source;
}

// The capture options of a call: ppi given, else what a file declares (0), and 500 for an array.
tools::CaptureOptions CaptureOptionsFor(const ImageSource& source, std::optional<int> ppi,
                                        bool trim) {
  if (ppi && (*ppi < kMinCaptureResolution || *ppi > kMaxCaptureResolution)) {
    throw py::value_error("ppi must be " + std::to_string(kMinCaptureResolution) + " to " +
                          std::to_string(kMaxCaptureResolution) + ", not " + std::to_string(*ppi));
  }
  tools::CaptureOptions options;
  options.dpi = ppi.value_or(source.pixels ? kSensorResolution : 0);
  options.trim = trim;
  return options;
}

// Decodes and prepares the image as the command does (resampling, trimming). Runs without the
// GIL; notes (when given) receive what was done to the image.
tools::Capture PrepareSource(ImageSource& source, const tools::CaptureOptions& options,
                             std::vector<std::string>* notes) {
  tools::PrintImage decoded = source.pixels ? std::move(*source.pixels)
                              : source.path ? tools::ReadPrintImage(*source.path)
                                            : tools::DecodePrintImage(source.bytes, source.name);
  SecureZeroMemory(source.bytes.data(), source.bytes.size());
  return tools::PrepareImage(std::move(decoded), source.name, options, notes);
}

std::unique_ptr<Features> Extract(const py::object& image, std::optional<int> ppi, bool trim) {
  ImageSource source = SourceOf(image);
  const tools::CaptureOptions options = CaptureOptionsFor(source, ppi, trim);
  const py::gil_scoped_release release;
  return AcceptCapture(PrepareSource(source, options, nullptr));
}

// Template bytes as features (reference and probe alike), after the structural check.
std::unique_ptr<Features> FromTemplate(std::span<const uint8_t> bytes) {
  if (!CheckMinutiaTemplate(bytes)) {
    throw TemplateFailure{"not a well-formed template (" + std::to_string(bytes.size()) +
                          " bytes)"};
  }
  auto features = std::make_unique<Features>();
  features->name = "<template>";
  EnginePool::Lease engine(Pool());
  if (!engine->DecodeTemplate(bytes, &features->sample.features)) throw std::bad_alloc();
  features->template_bytes.assign(bytes.begin(), bytes.end());
  // A template is what a reference is compared as already; the probe side reads the same set.
  if (!engine->DecodeTemplate(bytes, &features->reference)) throw std::bad_alloc();
  return features;
}

// Template bytes copied out of a Python object, wiped when the call is done with them.
struct WipedBytes : std::vector<uint8_t> {
  WipedBytes() = default;
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  ~WipedBytes() { SecureZeroMemory(data(), size()); }
};

// Features as they are, or template bytes copied for decoding without the GIL.
const Features* ComparandOf(const py::handle& value, const char* role,
                            std::vector<uint8_t>* bytes) {
  if (py::isinstance<Features>(value)) return &value.cast<const Features&>();
  if (py::isinstance<py::bytes>(value) || py::isinstance<py::bytearray>(value) ||
      py::isinstance<py::memoryview>(value)) {
    const py::buffer_info info = py::reinterpret_borrow<py::buffer>(value).request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1) {
      throw py::type_error(std::string(role) + " bytes must be a flat byte buffer");
    }
    const auto* data = static_cast<const uint8_t*>(info.ptr);
    bytes->assign(data, data + info.size);
    return nullptr;
  }
  throw py::type_error(std::string(role) + " must be Features or template bytes, not " +
                       std::string(py::str(py::type::handle_of(value).attr("__name__"))));
}

// The caller's Features stay alive for the call: the arguments hold their Python objects.
int Compare(const py::object& probe, const py::object& reference) {
  WipedBytes probeBytes, referenceBytes;
  const Features* p = ComparandOf(probe, "probe", &probeBytes);
  const Features* r = ComparandOf(reference, "reference", &referenceBytes);
  const py::gil_scoped_release release;
  std::unique_ptr<Features> probeOwned, referenceOwned;
  if (p == nullptr) p = (probeOwned = FromTemplate(probeBytes)).get();
  if (r == nullptr) r = (referenceOwned = FromTemplate(referenceBytes)).get();
  EnginePool::Lease engine(Pool());
  // The probe as accepted against the reference as enrolled: what a verification scores.
  return engine->Compare(*p->probe().set(), *r->reference.set());
}

// ---- Standard minutiae records ----

RecordFormat ParseRecordFormat(const std::string& name) {
  RecordFormat format;
  if (!RecordFormatFromName(name, &format)) {
    throw py::value_error("unknown record format \"" + name +
                          "\" (iso19794-2:2005, iso19794-2:2011, ansi378-2004, ansi378-2009, "
                          "ansi378-2009am1)");
  }
  return format;
}

uint8_t FingerCode(const std::optional<std::string>& finger) {
  if (!finger) return 0;
  try {
    return tools::ParseFinger(*finger);
  } catch (const tools::InputError& error) {
    throw py::value_error(error.what());
  }
}

// The record `ridgeline extract --template` writes of the same image.
py::bytes ToRecord(const Features& f, const std::string& formatName,
                   const std::optional<std::string>& finger, bool engineItem, size_t maxBytes) {
  RecordExportOptions options;
  options.format = ParseRecordFormat(formatName);
  options.finger_position = FingerCode(finger);
  if (!f.has_input_frame) {
    throw py::value_error(f.name +
                          ": features read from a template or a record have no image for a "
                          "record to describe; extract them from the image");
  }
  options.frame.ppi = f.source_dpi;
  options.frame.trim_x = f.trim_left;
  options.frame.trim_y = f.trim_top;
  options.input_width = f.source_width;
  options.input_height = f.source_height;
  options.engine_item = engineItem;
  options.max_bytes = maxBytes;
  std::vector<uint8_t> bytes;
  {
    const py::gil_scoped_release release;
    EnginePool::Lease engine(Pool());
    StandardRecord record;
    RecordExportReport report;
    std::string error;
    if (!ExportRecord(*engine, f.sample, options, &record, &report, &error) ||
        !WriteStandardRecord(record, &bytes, &error)) {
      throw TemplateFailure{f.name + ": " + error};
    }
  }
  return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// One view of a record as features, compared as the record's own template when it carries the
// engine's item, else from its standard minutiae.
std::unique_ptr<Features> FromRecord(std::span<const uint8_t> bytes, int viewIndex) {
  StandardRecord record;
  std::string error;
  if (!ReadStandardRecord(bytes, RecordReadMode::kLenient, &record, &error)) {
    throw TemplateFailure{"not a readable minutiae record: " + error};
  }
  if (viewIndex < 0 || static_cast<size_t>(viewIndex) >= record.views.size()) {
    throw TemplateFailure{"the record has " + std::to_string(record.views.size()) +
                          (record.views.size() == 1 ? " view" : " views") + ", not a view " +
                          std::to_string(viewIndex)};
  }
  const FingerView& view = record.views[static_cast<size_t>(viewIndex)];
  auto features = std::make_unique<Features>();
  features->name = std::string("<") + RecordFormatName(record.format) + " record>";
  EnginePool::Lease engine(Pool());
  bool fromItem = false;
  if (!ImportView(*engine, view, &features->sample.features, &fromItem, &error) ||
      !ImportView(*engine, view, &features->reference, &fromItem, &error)) {
    throw TemplateFailure{"the record's view " + std::to_string(viewIndex) +
                          " cannot be used: " + error};
  }
  if (fromItem) {
    for (const ExtendedItem& item : view.extended) {
      if (item.type == kRidgelineItem && item.data.size() >= 5 &&
          item.data[0] == kRidgelineItemFormat &&
          CheckMinutiaTemplate(std::span<const uint8_t>(item.data).subspan(5))) {
        features->template_bytes.assign(item.data.begin() + 5, item.data.end());
        break;
      }
    }
  } else {
    EncodedTemplate encoded = engine->EncodeTemplate(features->sample.features);
    features->template_bytes = std::move(encoded.bytes);
  }
  return features;
}

// ---- The gallery ----

// The adapter the gallery operations load: found from this module's own file, the way the
// command finds it from its own: in an install <prefix>/lib/ridgeline/ (the site folder is
// below lib/), in the build tree the adapter's build folder. No absolute build path is used.
std::filesystem::path AdapterPath() {
  const std::filesystem::path fileName = RIDGELINE_ADAPTER_FILE;
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&AdapterPath), &info) != 0 &&
      info.dli_fname != nullptr) {
    std::error_code error;
    const std::filesystem::path module = std::filesystem::canonical(info.dli_fname, error);
    if (!error) {
      for (const char* relative :
           {RIDGELINE_ADAPTER_FROM_MODULE_INSTALL, RIDGELINE_ADAPTER_FROM_MODULE_BUILD}) {
        const std::filesystem::path candidate =
            (module.parent_path() / relative / fileName).lexically_normal();
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
      }
    }
  }
  return fileName;  // left to the dynamic loader's search
}

// A gallery refused what was asked (nothing stored, not enrolled): GalleryError with `reason`
// and the command's JSON answer as `result`.
struct GalleryRefusal {
  std::string message;
  std::string reason;
  nlohmann::json result;
};

py::object ToPython(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::null:
      return py::none();
    case nlohmann::json::value_t::boolean:
      return py::bool_(value.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return py::int_(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return py::int_(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
      return py::float_(value.get<double>());
    case nlohmann::json::value_t::string:
      return py::str(value.get_ref<const std::string&>());
    case nlohmann::json::value_t::array: {
      py::list list;
      for (const auto& item : value) list.append(ToPython(item));
      return list;
    }
    case nlohmann::json::value_t::object: {
      py::dict dict;
      for (const auto& [key, item] : value.items()) dict[py::str(key)] = ToPython(item);
      return dict;
    }
    default:
      return py::none();
  }
}

// Notes and warnings gathered without the GIL, given to the answer as the command's JSON does.
struct GatheredLog {
  std::vector<std::string> notes;
  std::vector<std::string> warnings;
  tools::OperationLog log{[this](const std::string& text) { notes.push_back(text); },
                          [this](const std::string& text) { warnings.push_back(text); }};
  GatheredLog() = default;
  GatheredLog(const GatheredLog&) = delete;
  GatheredLog& operator=(const GatheredLog&) = delete;

  void AddTo(nlohmann::json& out) const {
    for (const std::string& note : notes) out["notes"].push_back(note);
    for (const std::string& warning : warnings) out["warnings"].push_back(warning);
  }
};

std::string CheckedName(const std::string& name) {
  try {
    return tools::CheckedSubject(name);
  } catch (const tools::InputError& error) {
    throw py::value_error(error.what());
  }
}

void CheckFinger(const std::string& finger) { FingerCode(finger); }

void CheckLevel(int level) {
  if (level < tools::kMinLevel || level > tools::kMaxLevel) {
    throw py::value_error("level must be " + std::to_string(tools::kMinLevel) + " to " +
                          std::to_string(tools::kMaxLevel) + ", not " + std::to_string(level));
  }
}

class Gallery {
 public:
  Gallery(const py::object& path, const py::object& keyFile, bool plaintext) {
    const py::module_ os = py::module_::import("os");
    options_.db = std::string(py::str(os.attr("fspath")(path)));
    if (options_.db.empty()) throw py::value_error("the gallery path is empty");
    if (!keyFile.is_none()) options_.key_file = std::string(py::str(os.attr("fspath")(keyFile)));
    options_.plaintext = plaintext;
    options_.adapter = AdapterPath();
  }

  std::string path() const { return options_.db.string(); }

  py::object Enroll(const std::string& name, const py::args& images, const std::string& finger,
                    int level, std::optional<int> ppi, bool trim, bool consistencyCheck) {
    const std::string subject = CheckedName(name);
    CheckFinger(finger);
    CheckLevel(level);
    // enroll("alice", [a, b], finger=...) as well as enroll("alice", a, b, finger=...)
    py::list given;
    if (images.size() == 1 &&
        (py::isinstance<py::list>(images[0]) || py::isinstance<py::tuple>(images[0]))) {
      given = py::list(images[0]);
    } else {
      given = py::list(images);
    }
    if (given.empty()) throw py::value_error("enroll needs at least one image");
    std::vector<ImageSource> sources;
    std::vector<tools::CaptureOptions> captureOptions;
    for (const py::handle image : given) {
      sources.push_back(SourceOf(image));
      captureOptions.push_back(CaptureOptionsFor(sources.back(), ppi, trim));
    }
    tools::CommonOptions options = options_;
    options.level = level;
    options.consistency_check = consistencyCheck;
    nlohmann::json out;
    {
      const py::gil_scoped_release release;
      GatheredLog log;
      std::vector<tools::Capture> captures;
      for (size_t i = 0; i < sources.size(); ++i) {
        captures.push_back(PrepareSource(sources[i], captureOptions[i], &log.notes));
      }
      tools::PrepareGalleryFolder(options.db);
      const tools::EnrollResult result =
          tools::EnrollFinger(options, subject, finger, captures, log.log);
      out = tools::EnrollJson(result);
      out["subject"] = subject;
      out["finger"] = finger;
      out["gallery"] = options.db.string();
      log.AddTo(out);
      if (!result.enrolled) throw GalleryRefusal{result.refusal, result.reason, out};
    }
    return ToPython(out);
  }

  py::object Verify(const std::string& name, const py::object& image, const std::string& finger,
                    int level, std::optional<int> ppi, bool trim) {
    const std::string subject = CheckedName(name);
    CheckFinger(finger);
    CheckLevel(level);
    std::optional<std::string> refusal;
    const nlohmann::json out =
        DecideOnImage(image, level, ppi, trim,
                      [&](const tools::CommonOptions& options, const tools::Capture& capture,
                          const tools::OperationLog& log) {
                        const tools::VerifyResult result =
                            tools::VerifyFinger(options, subject, finger, capture, log);
                        if (!result.enrolled) refusal = result.refusal;
                        nlohmann::json json = tools::VerifyJson(result);
                        json["subject"] = subject;
                        json["finger"] = finger;
                        return json;
                      });
    if (refusal) throw GalleryRefusal{*refusal, "not_enrolled", out};
    return ToPython(out);
  }

  py::object Identify(const py::object& image, std::optional<int> top, int level,
                      std::optional<int> ppi, bool trim) {
    CheckLevel(level);
    if (top && *top < 1) {
      throw py::value_error("top must be at least 1 (None asks the adapter), not " +
                            std::to_string(*top));
    }
    return ToPython(DecideOnImage(
        image, level, ppi, trim,
        [&](const tools::CommonOptions& options, const tools::Capture& capture,
            const tools::OperationLog& log) {
          return tools::IdentifyJson(tools::IdentifyPrint(options, capture, top.value_or(0), log));
        }));
  }

  py::object List() {
    nlohmann::json out;
    {
      const py::gil_scoped_release release;
      out = tools::ListJson(tools::ListGallery(options_))["records"];
    }
    return ToPython(out);
  }

  int Delete(const std::string& name, const std::optional<std::string>& finger) {
    const std::string subject = CheckedName(name);
    std::optional<uint8_t> subFactor;
    if (finger) subFactor = FingerCode(*finger);
    const py::gil_scoped_release release;
    return tools::DeleteFingers(options_, subject, subFactor);
  }

  std::string Repr() const { return "<ridgeline.Gallery " + options_.db.string() + ">"; }

 private:
  // One decision on one image, made without the GIL: the image is prepared at the given level,
  // `decide(options, capture, log)` gives the answer, and the image's name and the notes and
  // warnings gathered on the way are added to it.
  template <typename Decide>
  nlohmann::json DecideOnImage(const py::object& image, int level, std::optional<int> ppi,
                               bool trim, const Decide& decide) {
    ImageSource source = SourceOf(image);
    const tools::CaptureOptions captureOptions = CaptureOptionsFor(source, ppi, trim);
    tools::CommonOptions options = options_;
    options.level = level;
    const py::gil_scoped_release release;
    GatheredLog log;
    const tools::Capture capture = PrepareSource(source, captureOptions, &log.notes);
    nlohmann::json out = decide(options, capture, log.log);
    out["image"] = capture.name;
    log.AddTo(out);
    return out;
  }

  tools::CommonOptions options_;
};

void RaiseGalleryError(PyObject* type, const std::string& message, const py::object& reason,
                       const py::object& result) {
  py::object exception = py::reinterpret_borrow<py::object>(type)(message);
  exception.attr("reason") = reason;
  exception.attr("result") = result;
  PyErr_SetObject(type, exception.ptr());
}

py::object MakeException(py::module_& m, const char* name, py::handle base, const char* doc) {
  const std::string qualified = std::string("ridgeline.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base.ptr(), nullptr);
  if (type == nullptr) throw py::error_already_set();
  py::object object = py::reinterpret_steal<py::object>(type);
  m.attr(name) = object;
  return object;
}

}  // namespace
}  // namespace ridgeline::python

PYBIND11_MODULE(ridgeline, m) {
  using namespace ridgeline::python;
  namespace rl = ridgeline;
  m.doc() =
      "Fingerprint feature extraction and matching.\n\n"
      "extract() reads an image (numpy array, path or file bytes) and returns its Features;\n"
      "compare() scores a probe against a reference; matches() decides at a match level.\n"
      "Images are read, resampled to 500 ppi and trimmed exactly as the `ridgeline` command\n"
      "does, so scores and decisions equal the command's.";

  const py::object error =
      MakeException(m, "Error", PyExc_Exception, "Base class of the errors ridgeline raises.");
  const py::object imageError =
      MakeException(m, "ImageError", py::make_tuple(error, py::handle(PyExc_ValueError)),
                    "The image cannot be read, or its size is outside what the engine takes.");
  const py::object captureError =
      MakeException(m, "CaptureError", py::make_tuple(error, py::handle(PyExc_ValueError)),
                    "The engine refused the capture; `reason` says why (\"image size\",\n"
                    "\"bad capture\" or \"too few minutiae\").");
  const py::object templateError =
      MakeException(m, "TemplateError", py::make_tuple(error, py::handle(PyExc_ValueError)),
                    "Template bytes that are not a well-formed template, or a minutiae record\n"
                    "that cannot be read or written.");
  const py::object galleryError = MakeException(
      m, "GalleryError", error,
      "The gallery cannot be opened, read or written (a missing or foreign file, a wrong key,\n"
      "a damaged template), or it refused what was asked: then `reason` says why\n"
      "(\"already_enrolled\", \"duplicate\", \"impressions_disagree\", \"not_enrolled\") and\n"
      "`result` holds the answer as a dict (the duplicate check's decision, for one).\n"
      "`reason` is None for a failure.");
  const py::object adapterError =
      MakeException(m, "AdapterError", error,
                    "The engine adapter the gallery works through could not be loaded or failed.");

  static PyObject* imageType = imageError.ptr();
  static PyObject* captureType = captureError.ptr();
  static PyObject* templateType = templateError.ptr();
  static PyObject* galleryType = galleryError.ptr();
  static PyObject* adapterType = adapterError.ptr();
  Py_INCREF(imageType);
  Py_INCREF(captureType);
  Py_INCREF(templateType);
  Py_INCREF(galleryType);
  Py_INCREF(adapterType);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const CaptureFailure& failure) {
      py::object exception = py::reinterpret_borrow<py::object>(captureType)(failure.message);
      exception.attr("reason") = failure.reason;
      PyErr_SetObject(captureType, exception.ptr());
    } catch (const TemplateFailure& failure) {
      PyErr_SetString(templateType, failure.message.c_str());
    } catch (const rl::tools::InputError& failure) {
      PyErr_SetString(imageType, failure.what());
    } catch (const GalleryRefusal& refusal) {
      RaiseGalleryError(galleryType, refusal.message, py::str(refusal.reason),
                        ToPython(refusal.result));
    } catch (const rl::tools::CommandFailure& failure) {
      // The command's exit code tells the kind: 2 a capture the adapter refused, 3 the gallery,
      // 4 the adapter.
      if (failure.exit_code() == rl::tools::kExitBadInput) {
        py::object exception = py::reinterpret_borrow<py::object>(captureType)(failure.what());
        exception.attr("reason") = "bad capture";
        PyErr_SetObject(captureType, exception.ptr());
      } else if (failure.exit_code() == rl::tools::kExitStorage) {
        RaiseGalleryError(galleryType, failure.what(), py::none(), py::none());
      } else {
        PyErr_SetString(adapterType, failure.what());
      }
    } catch (const rl::tools::StoreError& failure) {
      RaiseGalleryError(galleryType, std::string("gallery error: ") + failure.what(), py::none(),
                        py::none());
    } catch (const rl::tools::HostError& failure) {
      PyErr_SetString(adapterType, failure.what());
    }
  });

  m.attr("__version__") = RIDGELINE_VERSION;
  m.attr("ENDING") = 0;
  m.attr("BIFURCATION") = 1;
  m.attr("DEFAULT_LEVEL") = static_cast<int>(rl::kDefaultMatchLevel);

  py::class_<Features>(m, "Features",
                       "The features of one print, from extract() or a template (read_template).\n"
                       "Coordinates are pixels of the image given to extract() (\"input\" frame)\n"
                       "or of the engine's 550-ppi working image (\"engine\" frame).")
      .def_property_readonly(
          "minutiae", [](const Features& f) { return Minutiae(f, "input"); },
          "Structured array (x, y, angle, type, quality) in the input image's pixels; angle in\n"
          "degrees counter-clockwise from the x axis (y down), type 0 ending / 1 bifurcation.")
      .def_property_readonly(
          "singular_points", [](const Features& f) { return SingularPoints(f, "input"); },
          "Structured array (x, y, direction, type) of cores and deltas, input image pixels.")
      .def("get_minutiae", &Minutiae, py::arg("frame") = "input",
           "The minutiae in the frame asked for: \"input\" (the image given to extract) or\n"
           "\"engine\" (the working image less the template crop, angles as the engine keeps\n"
           "them: 0 points to -x, 90 to +y). Features read from a template have only the engine\n"
           "frame.")
      .def("get_singular_points", &SingularPoints, py::arg("frame") = "input",
           "The singular points in the frame asked for (see get_minutiae).")
      .def_property_readonly(
          "quality", [](const Features& f) { return int{f.probe().summary()->Quality}; },
          "The extraction's quality score, 0..100.")
      .def_property_readonly("block_map", &BlockMap,
                             "The block direction map, rows x columns of 16-pixel blocks of the\n"
                             "working image: direction codes of 1.5 degrees; 120 and above mark\n"
                             "undefined or background blocks.")
      .def_property_readonly(
          "name", [](const Features& f) { return f.name; },
          "Where the features came from, for messages.")
      .def(
          "template",
          [](const Features& f) {
            return py::bytes(reinterpret_cast<const char*>(f.template_bytes.data()),
                             f.template_bytes.size());
          },
          "The compact template an enrollment stores of this print, as bytes.")
      .def("to_record", &ToRecord, py::arg("format"), py::arg("finger") = py::none(),
           py::arg("engine_item") = true, py::arg("max_bytes") = 0,
           "to_record(format, finger=None, engine_item=True, max_bytes=0) -> bytes\n\n"
           "The standard minutiae record of this print, as `ridgeline extract --template`\n"
           "writes it: coordinates in the pixels of the image given to extract(), its size\n"
           "and resolution declared.\n\n"
           "format: \"iso19794-2:2005\", \"iso19794-2:2011\", \"ansi378-2004\",\n"
           "    \"ansi378-2009\" or \"ansi378-2009am1\".\n"
           "finger: a finger name (\"right-index\", ...) for the finger position; None: unknown.\n"
           "engine_item: add the engine's own extended data, with which read_record() gives\n"
           "    back exactly this print's template (other readers skip it).\n"
           "max_bytes: keep the record within this many bytes, dropping the least reliable\n"
           "    minutiae (0: no limit).\n\n"
           "Raises ValueError for an unknown format or finger and for features read from a\n"
           "template or record (they have no image), TemplateError when nothing fits.")
      .def("__len__", [](const Features& f) { return f.probe().set()->Count; })
      .def("__repr__", [](const Features& f) {
        return "<ridgeline.Features " + f.name + ": " + std::to_string(f.probe().set()->Count) +
               " minutiae, quality " + std::to_string(int{f.probe().summary()->Quality}) + ">";
      });

  m.def("extract", &Extract, py::arg("image"), py::arg("ppi") = py::none(), py::arg("trim") = true,
        "extract(image, ppi=None, trim=True) -> Features\n\n"
        "Reads a fingerprint image and extracts its features.\n\n"
        "image: a 2-D numpy.uint8 array (rows of grey, 0 black), a path, or the bytes of a\n"
        "    PNG, BMP, PGM, JPEG, TIFF or ANSI/INCITS 381 file.\n"
        "ppi: the image's resolution in pixels per inch (100..5000). None takes what the file\n"
        "    declares, else 500; an array is taken as 500 ppi unless given.\n"
        "trim: crop blank light margins first, as the `ridgeline` command does.\n\n"
        "Raises ImageError for an unreadable image, CaptureError when the engine refuses the\n"
        "capture (see its `reason`), ValueError for a ppi out of range. Releases the GIL.");
  m.def(
      "read_template",
      [](const py::bytes& bytes) {
        const std::string data = bytes;
        auto features =
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        return FromTemplate(features);
      },
      py::arg("template"),
      "read_template(template: bytes) -> Features\n\n"
      "Checks and decodes stored template bytes. Raises TemplateError when malformed.");
  m.def("compare", &Compare, py::arg("probe"), py::arg("reference"),
        "compare(probe, reference) -> int\n\n"
        "The matcher's score, 0..9999, of probe against reference; each is Features or\n"
        "template bytes. A reference from extract() is compared as an enrollment stores it\n"
        "(its template), the probe as extracted: the score a verification computes.\n"
        "Raises TemplateError for malformed template bytes. Releases the GIL.");
  m.def(
      "threshold", [](int level) { return rl::Engine::Threshold(level); }, py::arg("level"),
      "threshold(level) -> int\n\nThe score a match needs at a match level (clamped to 1..7;\n"
      "higher levels are stricter).");
  m.def(
      "matches", [](int score, int level) { return rl::Engine::Matches(score, level); },
      py::arg("score"), py::arg("level") = static_cast<int>(rl::kDefaultMatchLevel),
      "matches(score, level=4) -> bool\n\nWhether a score reaches the threshold of the level.");
  m.def(
      "read_record",
      [](const py::bytes& bytes, int view) {
        const std::string data = bytes;
        const py::gil_scoped_release release;
        return FromRecord(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size()),
            view);
      },
      py::arg("record"), py::arg("view") = 0,
      "read_record(record: bytes, view=0) -> Features\n\n"
      "Reads a standard finger minutiae record (ISO/IEC 19794-2:2005 or :2011, ANSI INCITS\n"
      "378-2004 or -2009) and returns one of its views as Features, for compare(). A record\n"
      "with the engine's extended data compares exactly as the template it carries; others\n"
      "from their minutiae (engine frame only). Known slips of other writers are accepted.\n"
      "Raises TemplateError when the bytes are not a readable record or lack the view.");

  py::class_<Gallery>(
      m, "Gallery",
      "Gallery(path, key_file=None, plaintext=False)\n\n"
      "The SQLite gallery the `ridgeline` command keeps, worked through the same code as its\n"
      "enroll, verify, identify, list and delete commands: the same decisions, scores and\n"
      "messages. A new gallery is created on the first enroll, encrypted with a private key\n"
      "file beside it (PATH.key) unless plaintext is true; key_file names another key file\n"
      "(else $RIDGELINE_KEY_FILE, else the one the gallery records). Each call opens the\n"
      "gallery afresh, so one Gallery may be used from several threads and beside the\n"
      "command. Answers are dicts with the fields of the command's JSON objects. Calls release\n"
      "the GIL.")
      .def(py::init<const py::object&, const py::object&, bool>(), py::arg("path"),
           py::arg("key_file") = py::none(), py::arg("plaintext") = false)
      .def_property_readonly("path", &Gallery::path, "The gallery file.")
      .def("enroll", &Gallery::Enroll, py::arg("name"), py::arg("finger"),
           py::arg("level") = static_cast<int>(rl::kDefaultMatchLevel), py::arg("ppi") = py::none(),
           py::arg("trim") = true, py::arg("consistency_check") = true,
           "enroll(name, *images, finger, level=4, ppi=None, trim=True, consistency_check=True)"
           " -> dict\n\n"
           "Enrolls one finger of a subject from one or more impressions (images as for\n"
           "extract(), or one list of them), merged into one template. finger is a finger name\n"
           "(\"right-thumb\" .. \"right-little\", \"left-thumb\" .. \"left-little\").\n"
           "The answer: enrolled, impressions, duplicate_check (score, threshold, level,\n"
           "decided_by, closest), subject, finger, gallery.\n\n"
           "Raises GalleryError (with reason and result) when nothing was stored: the\n"
           "impressions disagree, the finger is enrolled already, or it duplicates another\n"
           "enrolled finger (result[\"duplicate_check\"][\"duplicate_of\"]). ValueError for a bad\n"
           "name, finger or level, ImageError / CaptureError for an unusable image.")
      .def("verify", &Gallery::Verify, py::arg("name"), py::arg("image"), py::kw_only(),
           py::arg("finger"), py::arg("level") = static_cast<int>(rl::kDefaultMatchLevel),
           py::arg("ppi") = py::none(), py::arg("trim") = true,
           "verify(name, image, *, finger, level=4, ppi=None, trim=True) -> dict\n\n"
           "Whether image is name's enrolled finger: match, score, threshold, level and\n"
           "decided_by (\"adapter\" at level 4, else \"engine\"), and the adapter's own answer.\n"
           "Raises GalleryError (reason \"not_enrolled\") when that finger is not enrolled.")
      .def("identify", &Gallery::Identify, py::arg("image"), py::kw_only(),
           py::arg("top") = py::none(), py::arg("level") = static_cast<int>(rl::kDefaultMatchLevel),
           py::arg("ppi") = py::none(), py::arg("trim") = true,
           "identify(image, *, top=None, level=4, ppi=None, trim=True) -> dict\n\n"
           "Whose enrolled finger image is: identified, subject, finger, score, threshold,\n"
           "level, decided_by, gallery_size. top=None gives the adapter's answer (the first\n"
           "record that reaches the threshold); top=K scores every record and adds the K best\n"
           "as candidates (rank, subject, finger, score, match).")
      .def("list", &Gallery::List,
           "list() -> list[dict]\n\nThe enrolled fingers in storage order: subject, finger,\n"
           "sub_factor, impressions, template_bytes, enrolled (UTC), damaged, problem.")
      .def("delete", &Gallery::Delete, py::arg("name"), py::arg("finger") = py::none(),
           "delete(name, finger=None) -> int\n\nDeletes the subject's fingers (only that one\n"
           "when finger is given); returns how many templates were deleted, 0 when none was\n"
           "enrolled.")
      .def("__repr__", &Gallery::Repr);
}
