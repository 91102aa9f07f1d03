#include "template/standard_record.h"

#include <cmath>
#include <map>
#include <set>

#include "template/big_endian.h"

namespace ridgeline {
namespace {

constexpr int kMaxCoordinate = 0x3FFF;
constexpr size_t kItemHeader = 4;

struct FormatName {
  RecordFormat format;
  const char* name;
};
constexpr FormatName kFormatNames[] = {
    {RecordFormat::kIso19794_2_2005, "iso19794-2:2005"},
    {RecordFormat::kIso19794_2_2011, "iso19794-2:2011"},
    {RecordFormat::kAnsi378_2004, "ansi378-2004"},
    {RecordFormat::kAnsi378_2009, "ansi378-2009"},
    {RecordFormat::kAnsi378_2009Am1, "ansi378-2009am1"},
    {RecordFormat::kAnsi378_2007, "ansi378-2007"},
};

// One attempt at reading the bytes as one layout.
struct Parse {
  std::span<const uint8_t> bytes;
  bool lenient = false;
  StandardRecord record;
  std::vector<std::string> notes;
  std::string error;
  uint32_t length_field = 0;

  bool Fail(const std::string& text) {
    error = text;
    return false;
  }
};

std::string At(const ByteReader& reader) { return " at byte " + std::to_string(reader.offset()); }

// Items of one extended-data block. `data` starts at the block's first item and runs to the end
// of what may be read (the block in a strict read, the record in a lenient one); `exclusive`
// reads item lengths without their header. *consumed receives the bytes the items took.
bool ParseItems(std::span<const uint8_t> data, size_t block_length, bool exclusive, bool iso,
                bool lenient, FingerView* view, size_t* consumed, std::vector<std::string>* notes,
                std::string* why) {
  size_t at = 0;
  while (at < block_length) {
    if (block_length - at < kItemHeader) {
      if (lenient && at + kItemHeader > data.size()) break;
      *why = "extended data end inside an item header";
      return false;
    }
    const uint16_t type = PeekU16Be(data, at);
    const uint16_t length = PeekU16Be(data, at + 2);
    if (at + kItemHeader > data.size()) {
      *why = "extended data run past the end of the record";
      return false;
    }
    if (!exclusive && length < kItemHeader) {
      *why = "extended-data item of type " + std::to_string(type) + " has length " +
             std::to_string(length) + ", less than its own header";
      return false;
    }
    size_t size = exclusive ? length : length - kItemHeader;
    const size_t start = at + kItemHeader;
    if (type == kCoreDeltaItem) {
      std::vector<SingularPoint> cores, deltas;
      const size_t content = DecodeCoreDelta(data.subspan(start), iso, &cores, &deltas);
      if (content == 0) {
        *why = "core/delta data run past the end of the extended data";
        return false;
      }
      if (content != size) {
        if (!lenient) {
          *why = "core/delta item declares " + std::to_string(size) +
                 " data bytes but its counts take " + std::to_string(content);
          return false;
        }
        notes->push_back("core/delta item length " + std::to_string(size) +
                         " read by its counts as " + std::to_string(content));
        size = content;
      }
      view->cores = std::move(cores);
      view->deltas = std::move(deltas);
    }
    if (start + size > data.size() || (!lenient && start + size > block_length)) {
      *why = "extended-data item of type " + std::to_string(type) + " (" + std::to_string(size) +
             " bytes) runs past the end of its block";
      return false;
    }
    const std::span<const uint8_t> item = data.subspan(start, size);
    if (type == kRidgeCountItem) {
      if (!DecodeRidgeCounts(item, lenient, &view->ridge_count_method, &view->ridge_counts)) {
        *why = "ridge-count item of " + std::to_string(size) + " bytes is not whole entries";
        return false;
      }
      if ((size == 0 || (size - 1) % 3 != 0) && lenient) {
        notes->push_back("ridge-count data not whole entries; partial entry ignored");
      }
    }
    view->extended.push_back({type, std::vector<uint8_t>(item.begin(), item.end())});
    at = start + size;
  }
  *consumed = at;
  return true;
}

bool ParseExtended(Parse& p, ByteReader& reader, FingerView* view, bool iso) {
  uint16_t block_length = 0;
  if (!ReadU16Be(reader, &block_length)) {
    return p.Fail("extended-data length runs past the end of the record" + At(reader));
  }
  if (block_length == 0) return true;
  const size_t start = reader.offset();
  const std::span<const uint8_t> rest = p.bytes.subspan(start);
  if (!p.lenient) {
    if (rest.size() < block_length) {
      return p.Fail("extended data of " + std::to_string(block_length) +
                    " bytes run past the end of the record" + At(reader));
    }
    size_t consumed = 0;
    std::string why;
    if (!ParseItems(rest.first(block_length), block_length, false, iso, false, view, &consumed,
                    &p.notes, &why)) {
      return p.Fail(why + " (view at byte " + std::to_string(start) + ")");
    }
    reader.Skip(block_length);
    return true;
  }
  // Lenient: items by the inclusive convention, else the exclusive one; core/delta by content.
  size_t consumed = 0;
  std::string why;
  std::vector<std::string> item_notes;
  FingerView trial = *view;
  if (!ParseItems(rest, block_length, false, iso, true, &trial, &consumed, &item_notes, &why)) {
    std::string ignored;
    trial = *view;
    item_notes.clear();
    if (!ParseItems(rest, block_length, true, iso, true, &trial, &consumed, &item_notes,
                    &ignored)) {
      return p.Fail(why + " (extended data at byte " + std::to_string(start) + ")");
    }
    item_notes.push_back("extended-data item lengths read as excluding their 4-byte header");
  }
  *view = std::move(trial);
  p.notes.insert(p.notes.end(), item_notes.begin(), item_notes.end());
  size_t skip = consumed;
  if (consumed < block_length) skip = std::min<size_t>(block_length, rest.size());
  if (consumed != block_length) {
    p.notes.push_back("extended-data block length " + std::to_string(block_length) +
                      ", its items take " + std::to_string(consumed));
  }
  reader.Skip(skip);
  return true;
}

bool ParseMinutiae(Parse& p, ByteReader& reader, int count, int size, bool iso, FingerView* view) {
  for (int i = 0; i < count; ++i) {
    uint16_t xw = 0, yw = 0;
    uint8_t angle = 0, quality = 0;
    if (!ReadU16Be(reader, &xw) || !ReadU16Be(reader, &yw) || !reader.ReadU8(&angle) ||
        (size == 6 && !reader.ReadU8(&quality))) {
      return p.Fail("minutia " + std::to_string(i + 1) + " of " + std::to_string(count) +
                    " runs past the end of the record");
    }
    if ((xw >> 14) == 3) return p.Fail("minutia " + std::to_string(i + 1) + " has type 11");
    if ((yw >> 14) != 0 && !p.lenient) {
      return p.Fail("minutia " + std::to_string(i + 1) + " sets the reserved bits of its y");
    }
    RecordMinutia m;
    m.kind = static_cast<MinutiaKind>(xw >> 14);
    m.x = xw & kMaxCoordinate;
    m.y = yw & kMaxCoordinate;
    m.quality = quality;
    if (iso) {
      m.angle = angle * 360.0 / 256.0;
    } else {
      if (angle > 179) {
        if (!p.lenient) {
          return p.Fail("minutia " + std::to_string(i + 1) + " has the ANSI angle code " +
                        std::to_string(angle) + " (above 179)");
        }
        if (p.notes.empty() || p.notes.back() != "ANSI angle codes above 179") {
          p.notes.push_back("ANSI angle codes above 179");
        }
      }
      m.angle = std::fmod(angle * 2.0, 360.0);
    }
    view->minutiae.push_back(m);
  }
  return true;
}

// ANSI 2004 and ISO 2005 share their views: a 4-byte header, 6-byte minutiae, extended data.
bool ParseViews2004(Parse& p, ByteReader& reader, int count, bool iso, const FingerView& frame) {
  for (int v = 0; v < count; ++v) {
    FingerView view = frame;
    uint8_t viewImpression = 0, minutiae = 0;
    if (!reader.ReadU8(&view.finger_position) || !reader.ReadU8(&viewImpression) ||
        !reader.ReadU8(&view.finger_quality) || !reader.ReadU8(&minutiae)) {
      return p.Fail("view " + std::to_string(v + 1) + " header runs past the end of the record");
    }
    view.view_number = viewImpression >> 4;
    view.impression_type = viewImpression & 0x0F;
    if (!ParseMinutiae(p, reader, minutiae, 6, iso, &view)) return false;
    if (!ParseExtended(p, reader, &view, iso)) return false;
    p.record.views.push_back(std::move(view));
  }
  return true;
}

bool ParseAnsi2004(Parse& p, ByteReader& reader) {
  uint16_t short_length = 0, width = 0, height = 0, xr = 0, yr = 0;
  uint8_t views = 0, reserved = 0;
  StandardRecord& r = p.record;
  r.format = RecordFormat::kAnsi378_2004;
  if (!reader.Skip(8) || !ReadU16Be(reader, &short_length)) return p.Fail("header truncated");
  p.length_field = short_length;
  if (short_length == 0) {
    if (!ReadU32Be(reader, &p.length_field)) return p.Fail("header truncated");
    if (p.length_field <= 0xFFFF && !p.lenient) {
      return p.Fail("the long length form is used for a record under 64 KiB");
    }
  }
  if (!ReadU16Be(reader, &r.cbeff_owner) || !ReadU16Be(reader, &r.cbeff_type) ||
      !ReadU16Be(reader, &r.equipment) || !ReadU16Be(reader, &width) ||
      !ReadU16Be(reader, &height) || !ReadU16Be(reader, &xr) || !ReadU16Be(reader, &yr) ||
      !reader.ReadU8(&views) || !reader.ReadU8(&reserved)) {
    return p.Fail("header truncated");
  }
  if (reserved != 0 && !p.lenient) return p.Fail("the header's reserved byte is not 0");
  FingerView frame;
  frame.width = width, frame.height = height, frame.x_resolution = xr, frame.y_resolution = yr;
  return ParseViews2004(p, reader, views, false, frame);
}

bool ParseIso2005(Parse& p, ByteReader& reader) {
  uint16_t width = 0, height = 0, xr = 0, yr = 0;
  uint8_t views = 0, reserved = 0;
  StandardRecord& r = p.record;
  r.format = RecordFormat::kIso19794_2_2005;
  if (!reader.Skip(8) || !ReadU32Be(reader, &p.length_field) || !ReadU16Be(reader, &r.equipment) ||
      !ReadU16Be(reader, &width) || !ReadU16Be(reader, &height) || !ReadU16Be(reader, &xr) ||
      !ReadU16Be(reader, &yr) || !reader.ReadU8(&views) || !reader.ReadU8(&reserved)) {
    return p.Fail("header truncated");
  }
  if (reserved != 0 && !p.lenient) return p.Fail("the header's reserved byte is not 0");
  FingerView frame;
  frame.width = width, frame.height = height, frame.x_resolution = xr, frame.y_resolution = yr;
  return ParseViews2004(p, reader, views, true, frame);
}

// ANSI 2009 (21-byte header), its amendment, and the 20-byte layout: views carry their own size.
bool ParseAnsi2009(Parse& p, ByteReader& reader, RecordFormat format) {
  StandardRecord& r = p.record;
  r.format = format;
  uint8_t views = 0, reserved = 0;
  if (!reader.Skip(8) || !ReadU32Be(reader, &p.length_field) ||
      !ReadU16Be(reader, &r.cbeff_owner) || !ReadU16Be(reader, &r.cbeff_type)) {
    return p.Fail("header truncated");
  }
  if (format != RecordFormat::kAnsi378_2007 && !reader.ReadU8(&r.certified)) {
    return p.Fail("header truncated");
  }
  if (!ReadU16Be(reader, &r.equipment) || !reader.ReadU8(&views) || !reader.ReadU8(&reserved)) {
    return p.Fail("header truncated");
  }
  if (reserved != 0 && !p.lenient) return p.Fail("the header's reserved byte is not 0");
  for (int v = 0; v < views; ++v) {
    FingerView view;
    QualityBlock q;
    uint16_t width = 0, height = 0, xr = 0, yr = 0;
    uint8_t minutiae = 0;
    if (!reader.ReadU8(&view.finger_position) || !reader.ReadU8(&view.view_number) ||
        !reader.ReadU8(&view.impression_type) || !reader.ReadU8(&view.finger_quality) ||
        !ReadU16Be(reader, &q.vendor) || !ReadU16Be(reader, &q.algorithm) ||
        !ReadU16Be(reader, &width) || !ReadU16Be(reader, &height) || !ReadU16Be(reader, &xr) ||
        !ReadU16Be(reader, &yr) || !reader.ReadU8(&minutiae)) {
      return p.Fail("view " + std::to_string(v + 1) + " header runs past the end of the record");
    }
    q.quality = view.finger_quality;
    view.quality_blocks.push_back(q);
    view.width = width, view.height = height, view.x_resolution = xr, view.y_resolution = yr;
    if (!ParseMinutiae(p, reader, minutiae, 6, false, &view)) return false;
    if (!ParseExtended(p, reader, &view, false)) return false;
    r.views.push_back(std::move(view));
  }
  return true;
}

bool ParseIso2011(Parse& p, ByteReader& reader) {
  StandardRecord& r = p.record;
  r.format = RecordFormat::kIso19794_2_2011;
  uint16_t representations = 0;
  if (!reader.Skip(8) || !ReadU32Be(reader, &p.length_field) ||
      !ReadU16Be(reader, &representations) || !reader.ReadU8(&r.certified)) {
    return p.Fail("header truncated");
  }
  if (r.certified > 1 && !p.lenient) return p.Fail("the certification flag is neither 0 nor 1");
  for (int v = 0; v < representations; ++v) {
    const size_t start = reader.offset();
    uint32_t length = 0;
    FingerView view;
    std::span<const uint8_t> time;
    uint8_t qualities = 0, size = 0, minutiae = 0;
    uint16_t xr = 0, yr = 0, width = 0, height = 0;
    const std::string which = "representation " + std::to_string(v + 1);
    if (!ReadU32Be(reader, &length) || !reader.ReadBytes(9, &time) ||
        !reader.ReadU8(&view.device_technology) || !ReadU16Be(reader, &view.device_vendor) ||
        !ReadU16Be(reader, &view.device_type) || !reader.ReadU8(&qualities)) {
      return p.Fail(which + " header runs past the end of the record");
    }
    std::copy(time.begin(), time.end(), view.capture_time.begin());
    for (int q = 0; q < qualities; ++q) {
      QualityBlock block;
      if (!reader.ReadU8(&block.quality) || !ReadU16Be(reader, &block.vendor) ||
          !ReadU16Be(reader, &block.algorithm)) {
        return p.Fail(which + " quality blocks run past the end of the record");
      }
      view.quality_blocks.push_back(block);
    }
    if (r.certified != 0) {
      uint8_t certifications = 0;
      if (!reader.ReadU8(&certifications)) return p.Fail(which + " truncated");
      for (int c = 0; c < certifications; ++c) {
        CertificationBlock block;
        if (!ReadU16Be(reader, &block.authority) || !reader.ReadU8(&block.scheme)) {
          return p.Fail(which + " certification blocks run past the end of the record");
        }
        view.certifications.push_back(block);
      }
    }
    if (!reader.ReadU8(&view.finger_position) || !reader.ReadU8(&view.view_number) ||
        !ReadU16Be(reader, &xr) || !ReadU16Be(reader, &yr) ||
        !reader.ReadU8(&view.impression_type) || !ReadU16Be(reader, &width) ||
        !ReadU16Be(reader, &height) || !reader.ReadU8(&size) || !reader.ReadU8(&minutiae)) {
      return p.Fail(which + " header runs past the end of the record");
    }
    view.width = width, view.height = height, view.x_resolution = xr, view.y_resolution = yr;
    view.minutia_size = size >> 4;
    view.ending_type = size & 0x0F;
    if (view.minutia_size != 5 && view.minutia_size != 6) {
      return p.Fail(which + " has minutiae of " + std::to_string(view.minutia_size) +
                    " bytes (5 or 6 expected)");
    }
    view.finger_quality = view.quality_blocks.empty() ? 0 : view.quality_blocks[0].quality;
    if (!ParseMinutiae(p, reader, minutiae, view.minutia_size, true, &view)) return false;
    if (!ParseExtended(p, reader, &view, true)) return false;
    if (reader.offset() - start != length) {
      return p.Fail(which + " says " + std::to_string(length) + " bytes but its fields take " +
                    std::to_string(reader.offset() - start));
    }
    r.views.push_back(std::move(view));
  }
  return true;
}

// Views of one finger numbered 0, 1, ... in order; each (finger, view) pair once.
std::string CheckViewNumbers(const StandardRecord& record) {
  std::map<int, int> next;
  for (const FingerView& view : record.views) {
    int& expected = next[view.finger_position];
    if (view.view_number != expected) {
      return "finger position " + std::to_string(view.finger_position) + " has view " +
             std::to_string(view.view_number) + " where view " + std::to_string(expected) +
             " was expected";
    }
    ++expected;
  }
  return {};
}

enum class Layout { kAnsi2004, kIso2005, kIso2011, kAnsi2009, kAnsi2009Am1, kAnsi2007 };

bool RunLayout(Parse& p, Layout layout) {
  ByteReader reader(p.bytes);
  bool ok = false;
  switch (layout) {
    case Layout::kAnsi2004:
      ok = ParseAnsi2004(p, reader);
      break;
    case Layout::kIso2005:
      ok = ParseIso2005(p, reader);
      break;
    case Layout::kIso2011:
      ok = ParseIso2011(p, reader);
      break;
    case Layout::kAnsi2009:
      ok = ParseAnsi2009(p, reader, RecordFormat::kAnsi378_2009);
      break;
    case Layout::kAnsi2009Am1:
      ok = ParseAnsi2009(p, reader, RecordFormat::kAnsi378_2009Am1);
      break;
    case Layout::kAnsi2007:
      ok = ParseAnsi2009(p, reader, RecordFormat::kAnsi378_2007);
      break;
  }
  const size_t size = p.bytes.size();
  if (!ok) {
    if (p.length_field > size) {
      p.error = "truncated: the record length field says " + std::to_string(p.length_field) +
                " bytes but only " + std::to_string(size) + " are there (" + p.error + ")";
    }
    return false;
  }
  const size_t end = reader.offset();
  if (p.record.views.empty()) return p.Fail("the record holds no finger view");
  if (end == size && p.length_field == size) return true;
  if (!p.lenient || (end != size && (end != p.length_field || p.length_field > size))) {
    return p.Fail("the record length field says " + std::to_string(p.length_field) +
                  " bytes, the structure ends at byte " + std::to_string(end) +
                  " and the data hold " + std::to_string(size));
  }
  p.notes.push_back("record length field " + std::to_string(p.length_field) +
                    " disagrees with the structure (" + std::to_string(end) + " bytes)");
  return true;
}

// Where several layouts share the version bytes, each one's reason is given.
void AddLayoutError(size_t layouts, RecordFormat format, const std::string& why,
                    std::string* errors) {
  if (layouts == 1) {
    *errors = why;
    return;
  }
  if (!errors->empty()) *errors += "; ";
  *errors += std::string("as ") + RecordFormatName(format) + ": " + why;
}

void PutMinutia(std::vector<uint8_t>& out, const RecordMinutia& m, bool iso, bool quality) {
  AppendU16Be(out, (static_cast<unsigned>(m.kind) << 14) | static_cast<unsigned>(m.x));
  AppendU16Be(out, static_cast<unsigned>(m.y));
  AppendU8(out, iso ? IsoAngleCode(m.angle) : AnsiAngleCode(m.angle));
  if (quality) AppendU8(out, static_cast<unsigned>(m.quality));
}

bool PutExtended(std::vector<uint8_t>& out, const FingerView& view, std::string* error) {
  size_t block = 0;
  for (const ExtendedItem& item : view.extended) block += kItemHeader + item.data.size();
  if (block > 0xFFFF) {
    *error = "extended data of " + std::to_string(block) + " bytes exceed the 65535 a view holds";
    return false;
  }
  AppendU16Be(out, static_cast<unsigned>(block));
  for (const ExtendedItem& item : view.extended) {
    AppendU16Be(out, item.type);
    AppendU16Be(out, static_cast<unsigned>(kItemHeader + item.data.size()));
    out.insert(out.end(), item.data.begin(), item.data.end());
  }
  return true;
}

// A view's minutiae, counted in one byte, then its extended data: the tail of a view in every
// layout. `iso` picks the angle code, `quality` whether each minutia carries its quality byte.
bool PutMinutiaeAndExtended(std::vector<uint8_t>& out, const FingerView& view, bool iso,
                            bool quality, std::string* error) {
  AppendU8(out, static_cast<unsigned>(view.minutiae.size()));
  for (const RecordMinutia& m : view.minutiae) PutMinutia(out, m, iso, quality);
  return PutExtended(out, view, error);
}

// Image width and height, then the horizontal and vertical resolution, as the 2004/2005 record
// header and each ANSI 2007/2009 view store them.
void PutImageFrame(std::vector<uint8_t>& out, const FingerView& view) {
  AppendU16Be(out, static_cast<unsigned>(view.width));
  AppendU16Be(out, static_cast<unsigned>(view.height));
  AppendU16Be(out, static_cast<unsigned>(view.x_resolution));
  AppendU16Be(out, static_cast<unsigned>(view.y_resolution));
}

bool CheckView(const FingerView& view, bool nibbles, std::string* error) {
  if (view.minutiae.size() > 255) {
    *error = "a view holds at most 255 minutiae, not " + std::to_string(view.minutiae.size());
    return false;
  }
  for (const RecordMinutia& m : view.minutiae) {
    if (m.x < 0 || m.y < 0 || m.x > kMaxCoordinate || m.y > kMaxCoordinate || m.quality < 0 ||
        m.quality > 255) {
      *error = "a minutia lies outside 0..16383 or has a quality outside 0..255";
      return false;
    }
  }
  if (view.width < 0 || view.height < 0 || view.width > 0xFFFF || view.height > 0xFFFF ||
      view.x_resolution < 0 || view.y_resolution < 0 || view.x_resolution > 0xFFFF ||
      view.y_resolution > 0xFFFF) {
    *error = "a view's size or resolution does not fit";
    return false;
  }
  // The 2004/2005 editions pack the view number and impression type in one byte.
  if (nibbles && (view.view_number > 15 || view.impression_type > 15)) {
    *error = "a view number or impression type above 15 does not fit this format";
    return false;
  }
  return true;
}

}  // namespace

const char* RecordFormatName(RecordFormat format) {
  for (const FormatName& entry : kFormatNames) {
    if (entry.format == format) return entry.name;
  }
  return "?";
}

bool RecordFormatFromName(const std::string& name, RecordFormat* format) {
  for (const FormatName& entry : kFormatNames) {
    if (name == entry.name) {
      *format = entry.format;
      return true;
    }
  }
  return false;
}

bool IsIsoFormat(RecordFormat format) {
  return format == RecordFormat::kIso19794_2_2005 || format == RecordFormat::kIso19794_2_2011;
}

uint8_t IsoAngleCode(double degrees) {
  const long code = std::lround(degrees * 256.0 / 360.0);
  return static_cast<uint8_t>(((code % 256) + 256) % 256);
}

uint8_t AnsiAngleCode(double degrees) {
  const long code = std::lround(degrees / 2.0);
  return static_cast<uint8_t>(((code % 180) + 180) % 180);
}

bool DecodeRidgeCounts(std::span<const uint8_t> data, bool lenient, int* method,
                       std::vector<RidgeCount>* counts) {
  if (data.empty() || ((data.size() - 1) % 3 != 0 && !lenient)) return false;
  *method = data[0];
  counts->clear();
  for (size_t at = 1; at + 3 <= data.size(); at += 3) {
    counts->push_back({data[at], data[at + 1], data[at + 2]});
  }
  return true;
}

size_t DecodeCoreDelta(std::span<const uint8_t> data, bool iso, std::vector<SingularPoint>* cores,
                       std::vector<SingularPoint>* deltas) {
  ByteReader reader(data);
  for (int group = 0; group < 2; ++group) {
    std::vector<SingularPoint>* points = group == 0 ? cores : deltas;
    const int angles = group == 0 ? 1 : 3;
    points->clear();
    uint8_t info = 0;
    if (!reader.ReadU8(&info)) return 0;
    for (int i = 0; i < (info & 0x0F); ++i) {
      SingularPoint point;
      uint16_t x = 0, y = 0;
      if (!ReadU16Be(reader, &x) || !ReadU16Be(reader, &y)) return 0;
      point.type = iso ? static_cast<uint8_t>(x >> 14) : static_cast<uint8_t>(info >> 6);
      point.x = x & kMaxCoordinate;
      point.y = y & kMaxCoordinate;
      if (point.type == 1) {
        for (int a = 0; a < angles; ++a) {
          if (!reader.ReadU8(&point.angles[static_cast<size_t>(a)])) return 0;
        }
      }
      points->push_back(point);
    }
  }
  return reader.offset();
}

std::vector<uint8_t> EncodeCoreDelta(const std::vector<SingularPoint>& cores,
                                     const std::vector<SingularPoint>& deltas, bool iso) {
  std::vector<uint8_t> out;
  for (int group = 0; group < 2; ++group) {
    const std::vector<SingularPoint>& points = group == 0 ? cores : deltas;
    const int angles = group == 0 ? 1 : 3;
    const size_t count = std::min<size_t>(points.size(), 15);
    const unsigned type = points.empty() ? 0 : points[0].type;
    AppendU8(out, iso ? count : ((type << 6) | count));
    for (size_t i = 0; i < count; ++i) {
      const SingularPoint& point = points[i];
      const unsigned point_type = iso ? point.type : type;
      AppendU16Be(out, (iso ? point.type << 14 : 0u) | static_cast<unsigned>(point.x));
      AppendU16Be(out, static_cast<unsigned>(point.y));
      if (point_type == 1) {
        for (int a = 0; a < angles; ++a) AppendU8(out, point.angles[static_cast<size_t>(a)]);
      }
    }
  }
  return out;
}

bool ReadStandardRecord(std::span<const uint8_t> bytes, RecordReadMode mode, StandardRecord* record,
                        std::string* error, std::vector<std::string>* notes) {
  const bool lenient = mode == RecordReadMode::kLenient;
  static constexpr uint8_t kMagic[4] = {'F', 'M', 'R', 0};
  if (bytes.size() < 8 || !std::equal(kMagic, kMagic + 4, bytes.begin())) {
    *error = "not a finger minutiae record (it does not start with \"FMR\\0\")";
    return false;
  }
  const std::string version(bytes.begin() + 4, bytes.begin() + 8);
  std::vector<Layout> layouts;
  std::vector<std::string> version_notes;
  if (version == std::string(" 20\0", 4) || (lenient && version == std::string("020\0", 4))) {
    if (version[0] != ' ') version_notes.push_back("version bytes \"020\" read as \" 20\"");
    // Bytes 8-9 are the whole length of an ANSI record (at least its 26-byte header) or the
    // high half of an ISO one; 0 leaves the ANSI long form or an ISO record under 64 KiB.
    const uint16_t high = PeekU16Be(bytes, 8);
    const bool iso = (high >= 1 && high <= 25) || (high == 0 && PeekU16Be(bytes, 10) >= 24);
    layouts.push_back(iso ? Layout::kIso2005 : Layout::kAnsi2004);
  } else if (version == std::string("030\0", 4)) {
    layouts = {Layout::kIso2011, Layout::kAnsi2009, Layout::kAnsi2007};
  } else if (version == std::string("035\0", 4)) {
    layouts = {Layout::kAnsi2009Am1};
  } else {
    *error = "unknown minutiae record version \"" + version.substr(0, 3) + "\"";
    return false;
  }
  std::string errors;
  for (Layout layout : layouts) {
    Parse p;
    p.bytes = bytes;
    p.lenient = lenient;
    if (!RunLayout(p, layout)) {
      AddLayoutError(layouts.size(), p.record.format, p.error, &errors);
      continue;
    }
    const std::string numbering = CheckViewNumbers(p.record);
    if (!numbering.empty()) {
      if (!lenient) {
        AddLayoutError(layouts.size(), p.record.format, numbering, &errors);
        continue;
      }
      p.notes.push_back(numbering);
    }
    *record = std::move(p.record);
    if (notes != nullptr) {
      *notes = version_notes;
      notes->insert(notes->end(), p.notes.begin(), p.notes.end());
    }
    return true;
  }
  *error = errors;
  return false;
}

bool WriteStandardRecord(const StandardRecord& record, std::vector<uint8_t>* out,
                         std::string* error) {
  if (record.views.empty() || record.views.size() > 255) {
    *error = "a record holds 1 to 255 finger views, not " + std::to_string(record.views.size());
    return false;
  }
  for (const FingerView& view : record.views) {
    const bool nibbles = record.format == RecordFormat::kAnsi378_2004 ||
                         record.format == RecordFormat::kIso19794_2_2005;
    if (!CheckView(view, nibbles, error)) return false;
  }
  std::vector<uint8_t> bytes = {'F', 'M', 'R', 0};
  const bool iso = IsIsoFormat(record.format);
  size_t length_at = 8;
  switch (record.format) {
    case RecordFormat::kAnsi378_2004:
    case RecordFormat::kIso19794_2_2005: {
      bytes.insert(bytes.end(), {' ', '2', '0', 0});
      if (iso) {
        AppendU32Be(bytes, 0);
      } else {
        AppendU16Be(bytes, 0);  // patched below: short or long form
        AppendU16Be(bytes, record.cbeff_owner);
        AppendU16Be(bytes, record.cbeff_type);
      }
      AppendU16Be(bytes, record.equipment);
      PutImageFrame(bytes, record.views[0]);
      AppendU8(bytes, static_cast<unsigned>(record.views.size()));
      AppendU8(bytes, 0);
      for (const FingerView& view : record.views) {
        AppendU8(bytes, view.finger_position);
        AppendU8(bytes, (view.view_number << 4) | view.impression_type);
        AppendU8(bytes, view.finger_quality);
        if (!PutMinutiaeAndExtended(bytes, view, iso, true, error)) return false;
      }
      if (!iso) {
        if (bytes.size() <= 0xFFFF) {
          bytes[8] = static_cast<uint8_t>(bytes.size() >> 8);
          bytes[9] = static_cast<uint8_t>(bytes.size());
          *out = std::move(bytes);
          return true;
        }
        // Long form: a zero short length, then four bytes.
        bytes.insert(bytes.begin() + 10, 4, 0);
        length_at = 10;
      }
      break;
    }
    case RecordFormat::kAnsi378_2009:
    case RecordFormat::kAnsi378_2009Am1:
    case RecordFormat::kAnsi378_2007: {
      const char* version = record.format == RecordFormat::kAnsi378_2009Am1 ? "035" : "030";
      bytes.insert(bytes.end(), version, version + 4);
      AppendU32Be(bytes, 0);
      AppendU16Be(bytes, record.cbeff_owner);
      AppendU16Be(bytes, record.cbeff_type);
      if (record.format != RecordFormat::kAnsi378_2007) AppendU8(bytes, record.certified);
      AppendU16Be(bytes, record.equipment);
      AppendU8(bytes, static_cast<unsigned>(record.views.size()));
      AppendU8(bytes, 0);
      for (const FingerView& view : record.views) {
        const QualityBlock q =
            view.quality_blocks.empty() ? QualityBlock{} : view.quality_blocks[0];
        AppendU8(bytes, view.finger_position);
        AppendU8(bytes, view.view_number);
        AppendU8(bytes, view.impression_type);
        AppendU8(bytes, view.finger_quality);
        AppendU16Be(bytes, q.vendor);
        AppendU16Be(bytes, q.algorithm);
        PutImageFrame(bytes, view);
        if (!PutMinutiaeAndExtended(bytes, view, false, true, error)) return false;
      }
      break;
    }
    case RecordFormat::kIso19794_2_2011: {
      bytes.insert(bytes.end(), {'0', '3', '0', 0});
      AppendU32Be(bytes, 0);
      AppendU16Be(bytes, static_cast<unsigned>(record.views.size()));
      AppendU8(bytes, record.certified != 0 ? 1 : 0);
      for (const FingerView& view : record.views) {
        const size_t start = bytes.size();
        AppendU32Be(bytes, 0);
        bytes.insert(bytes.end(), view.capture_time.begin(), view.capture_time.end());
        AppendU8(bytes, view.device_technology);
        AppendU16Be(bytes, view.device_vendor);
        AppendU16Be(bytes, view.device_type);
        std::vector<QualityBlock> blocks = view.quality_blocks;
        if (blocks.empty() && view.finger_quality != 0)
          blocks.push_back({view.finger_quality, 0, 0});
        AppendU8(bytes, static_cast<unsigned>(blocks.size()));
        for (const QualityBlock& q : blocks) {
          AppendU8(bytes, q.quality);
          AppendU16Be(bytes, q.vendor);
          AppendU16Be(bytes, q.algorithm);
        }
        if (record.certified != 0) {
          AppendU8(bytes, static_cast<unsigned>(view.certifications.size()));
          for (const CertificationBlock& c : view.certifications) {
            AppendU16Be(bytes, c.authority);
            AppendU8(bytes, c.scheme);
          }
        }
        AppendU8(bytes, view.finger_position);
        AppendU8(bytes, view.view_number);
        AppendU16Be(bytes, static_cast<unsigned>(view.x_resolution));
        AppendU16Be(bytes, static_cast<unsigned>(view.y_resolution));
        AppendU8(bytes, view.impression_type);
        AppendU16Be(bytes, static_cast<unsigned>(view.width));
        AppendU16Be(bytes, static_cast<unsigned>(view.height));
        const unsigned size = view.minutia_size == 5 ? 5 : 6;
        AppendU8(bytes, (size << 4) | (view.ending_type & 0x0F));
        if (!PutMinutiaeAndExtended(bytes, view, true, size == 6, error)) return false;
        PatchU32Be(bytes, start, static_cast<uint32_t>(bytes.size() - start));
      }
      break;
    }
  }
  PatchU32Be(bytes, length_at, static_cast<uint32_t>(bytes.size()));
  *out = std::move(bytes);
  return true;
}

}  // namespace ridgeline
