// The standard finger minutiae records: ISO/IEC 19794-2:2005 and :2011, ANSI INCITS 378-2004
// and -2009 (with its amendment and the 20-byte-header layout of the same version bytes), read
// into and written from one plain-data record.
//
// Reading is structural: the layout is told from the bytes' structure (a parse that must end at
// the record length), not from the version bytes alone, and every length is checked against the
// bytes that are really there before it is used. A strict read refuses every inconsistency; a
// lenient read accepts the known slips of real writers and names each one it accepted in
// `notes`: a record length that disagrees with the structure when the structure ends at the end
// of the data, the version bytes "020" for " 20", extended-data item lengths that exclude their
// 4-byte header, core/delta items whose declared length disagrees with their counts, ridge-count
// data that are not whole entries, ANSI angle codes above 179, and view numbers that are not
// contiguous from 0 for a finger.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ridgeline {

enum class RecordFormat {
  kAnsi378_2004,     // "FMR\0" " 20\0", 26-byte header (30 with the long length)
  kIso19794_2_2005,  // "FMR\0" " 20\0", 24-byte header
  kAnsi378_2009,     // "FMR\0" "030\0", 21-byte header, 17-byte view headers
  kAnsi378_2009Am1,  // "FMR\0" "035\0", as 2009
  kAnsi378_2007,     // "FMR\0" "030\0", 20-byte header (equipment word), views as 2009
  kIso19794_2_2011,  // "FMR\0" "030\0", 15-byte header, self-sized representations
};

// The name used on the command line ("iso19794-2:2005", "ansi378-2009", ...).
const char* RecordFormatName(RecordFormat format);
// The format of a command-line name; false for an unknown one.
bool RecordFormatFromName(const std::string& name, RecordFormat* format);
// ISO formats count angles in 360/256-degree units, ANSI ones in 2-degree units.
bool IsIsoFormat(RecordFormat format);

enum class MinutiaKind : uint8_t { kOther = 0, kEnding = 1, kBifurcation = 2 };

struct RecordMinutia {
  int x = 0;  // pixels of the declared image, origin top left, y down
  int y = 0;
  double angle = 0;  // degrees [0, 360), counter-clockwise from +x as seen on the image
  MinutiaKind kind = MinutiaKind::kOther;
  int quality = 0;  // 0..100; 0 "not reported" (2004/2005), 254 / 255 in 2009 and 2011
};

struct RidgeCount {
  uint8_t from = 0;  // minutia indexes as the record numbers them
  uint8_t to = 0;
  uint8_t count = 0;
};

struct SingularPoint {
  uint8_t type = 0;  // 0 non-angular, 1 angular
  int x = 0;
  int y = 0;
  std::array<uint8_t, 3> angles{};  // raw angle codes (one for a core, three for a delta)
};

// One extended-data item as stored: type and data (without the 4-byte item header).
struct ExtendedItem {
  uint16_t type = 0;
  std::vector<uint8_t> data;
};

constexpr uint16_t kRidgeCountItem = 0x0001;
constexpr uint16_t kCoreDeltaItem = 0x0002;

struct QualityBlock {
  uint8_t quality = 0;
  uint16_t vendor = 0;
  uint16_t algorithm = 0;
};

struct CertificationBlock {
  uint16_t authority = 0;
  uint8_t scheme = 0;
};

struct FingerView {
  uint8_t finger_position = 0;  // 0 unknown, 1..10 right thumb .. left little
  uint8_t view_number = 0;
  uint8_t impression_type = 0;
  uint8_t finger_quality = 0;
  // Image size and resolution (px/cm) of the view; 2004/2005 keep them once in the record
  // header, and the reader copies them into every view.
  int width = 0;
  int height = 0;
  int x_resolution = 197;
  int y_resolution = 197;
  std::vector<RecordMinutia> minutiae;
  // Extended data in stored order; the decoded items below are filled by the reader.
  std::vector<ExtendedItem> extended;
  int ridge_count_method = -1;  // -1 when no ridge-count item was read
  std::vector<RidgeCount> ridge_counts;
  std::vector<SingularPoint> cores;
  std::vector<SingularPoint> deltas;
  // ANSI 2009: the one quality block of a view. ISO 2011: any number of them.
  std::vector<QualityBlock> quality_blocks;
  // ISO 2011 only.
  std::array<uint8_t, 9> capture_time{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  uint8_t device_technology = 0;
  uint16_t device_vendor = 0;
  uint16_t device_type = 0;
  std::vector<CertificationBlock> certifications;
  uint8_t minutia_size = 6;  // 5 (no quality) or 6
  uint8_t ending_type = 0;   // 0 valley-skeleton bifurcation, 1 ridge-skeleton end
};

struct StandardRecord {
  RecordFormat format = RecordFormat::kIso19794_2_2005;
  uint16_t cbeff_owner = 0;  // ANSI only
  uint16_t cbeff_type = 0;
  // ANSI 2004 / 2007: capture equipment word; ISO 2005: capture device word; ANSI 2009: sensor id.
  uint16_t equipment = 0;
  uint8_t certified = 0;  // ANSI 2009 certification byte; ISO 2011 certification flag
  std::vector<FingerView> views;
};

enum class RecordReadMode { kStrict, kLenient };

// Reads one record from `bytes` (the whole file). On failure returns false with a sentence in
// *error and *record unspecified; on success, `notes` (when given) receives one line for each
// slip a lenient read accepted.
bool ReadStandardRecord(std::span<const uint8_t> bytes, RecordReadMode mode, StandardRecord* record,
                        std::string* error, std::vector<std::string>* notes = nullptr);

// Writes `record` in its format. False with a sentence in *error when a field does not fit the
// format (no views, more than 255 minutiae, a coordinate outside 0..16383, an oversized item).
bool WriteStandardRecord(const StandardRecord& record, std::vector<uint8_t>* out,
                         std::string* error);

// Angle conversions between degrees and the two units; codes are reduced into their range.
uint8_t IsoAngleCode(double degrees);
uint8_t AnsiAngleCode(double degrees);

// Decoders of the two standard items, used by the reader and for tests: false when the data do
// not hold what the item says. `lenient` decodes whole ridge-count entries of ragged data.
bool DecodeRidgeCounts(std::span<const uint8_t> data, bool lenient, int* method,
                       std::vector<RidgeCount>* counts);
// The number of bytes the core/delta content takes (0 when it runs past `data`).
size_t DecodeCoreDelta(std::span<const uint8_t> data, bool iso, std::vector<SingularPoint>* cores,
                       std::vector<SingularPoint>* deltas);
std::vector<uint8_t> EncodeCoreDelta(const std::vector<SingularPoint>& cores,
                                     const std::vector<SingularPoint>& deltas, bool iso);

}  // namespace ridgeline
