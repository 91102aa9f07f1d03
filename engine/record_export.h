// Standard minutiae records from the engine's features and back. Export maps an accepted capture
// to the caller's image (pixels of the image given, its resolution in px/cm, the standard angle
// convention) and may add the engine's own extended-data item; import turns any record view into
// a feature set the matcher takes, using that item when it is there.
#pragma once

#include <cstdint>
#include <string>

#include "core/owned_records.h"
#include "engine/engine.h"
#include "engine/feature_frame.h"
#include "template/standard_record.h"

namespace ridgeline {

// The engine's vendor-defined extended-data item (a type in the vendor range, which other readers
// skip). Data: a format byte (1), the crop origin X and Y of the template (2 bytes each,
// big-endian), then one compact template exactly as an enrollment stores it: the minutiae in the
// engine frame with their variations, the block grid and direction map and the boundary density.
constexpr uint16_t kRidgelineItem = 0x524C;
constexpr uint8_t kRidgelineItemFormat = 1;

struct RecordExportOptions {
  RecordFormat format = RecordFormat::kIso19794_2_2005;
  CaptureFrame frame;   // how the caller's image became the capture
  int input_width = 0;  // the caller's image, declared in the record
  int input_height = 0;
  uint8_t finger_position = 0;  // 0 unknown, 1..10
  uint8_t impression_type = 0;  // 0 live-scan plain
  bool engine_item = true;      // add the engine's item
  size_t max_bytes = 0;         // 0: no cap; else the record is kept within this many bytes
};

// What the caller may want to know about an export.
struct RecordExportReport {
  int minutiae_found = 0;
  int minutiae_written = 0;
  bool engine_item_written = false;
};

// Builds a one-view record of an accepted sample. Minutiae beyond 255 (or beyond what max_bytes
// leaves) are dropped, the least reliable (largest direction variation) first; under a cap the
// engine item goes before any minutia does. False with *error when nothing fits the cap or the
// frame is invalid.
bool ExportRecord(Engine& engine, const AcceptedSample& sample, const RecordExportOptions& options,
                  StandardRecord* record, RecordExportReport* report, std::string* error);

// One view of a record as the matcher's feature set. With the engine's item (and its template
// intact) the set is exactly the stored template's; otherwise the minutiae are brought to the
// engine frame from the view's resolution and the block grid is left without directions.
// *from_item tells which. False with *error when the view cannot be used.
bool ImportView(Engine& engine, const FingerView& view, FeaturePair* features, bool* from_item,
                std::string* error);

// The standard angle of an engine angle and the inverse.
int EngineAngleFromStandard(double standardDegrees);

// px/cm of a resolution in pixels per inch, and back.
constexpr int PixelsPerCentimetre(int ppi) { return (ppi * 100 + 127) / 254; }
constexpr int PixelsPerInch(int ppcm) { return (ppcm * 254 + 50) / 100; }

}  // namespace ridgeline
