// The standard minutiae records: every layout written and read back field for field, truncated
// and lying records refused, and the outside samples (when the shared data are there) decoded to
// the fields their sources document, with the strict/lenient decision for each known slip.
#include "template/standard_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>

#include "tests/support/shared_data.h"

namespace ridgeline {
namespace {

constexpr RecordFormat kAllFormats[] = {
    RecordFormat::kAnsi378_2004,    RecordFormat::kIso19794_2_2005, RecordFormat::kAnsi378_2009,
    RecordFormat::kAnsi378_2009Am1, RecordFormat::kAnsi378_2007,    RecordFormat::kIso19794_2_2011};

StandardRecord TwoViewRecord(RecordFormat format) {
  StandardRecord record;
  record.format = format;
  record.cbeff_owner = 0x0103;
  record.equipment = 0x00B5;
  for (int v = 0; v < 2; ++v) {
    FingerView view;
    view.finger_position = static_cast<uint8_t>(v == 0 ? 7 : 2);
    view.finger_quality = static_cast<uint8_t>(60 + v);
    view.width = 400, view.height = 500;
    view.quality_blocks.push_back({view.finger_quality, 0x0103, 1});
    for (int i = 0; i < 30 + v; ++i) {
      RecordMinutia m;
      m.x = 10 + 11 * i;
      m.y = 499 - 13 * i;
      m.kind = static_cast<MinutiaKind>(i % 3);
      m.angle = IsIsoFormat(format) ? (i * 37 % 256) * 360.0 / 256 : (i * 37 % 180) * 2.0;
      m.quality = i % 101;
      view.minutiae.push_back(m);
    }
    if (v == 1) {
      view.extended.push_back({kRidgeCountItem, {1, 0, 1, 3, 2, 3, 4}});
      view.extended.push_back(
          {kCoreDeltaItem, EncodeCoreDelta({{1, 100, 120, {40, 0, 0}}}, {{1, 80, 300, {1, 2, 3}}},
                                           IsIsoFormat(format))});
      view.extended.push_back({0x524C, {9, 8, 7}});
    }
    record.views.push_back(view);
  }
  return record;
}

std::vector<uint8_t> Written(const StandardRecord& record) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(WriteStandardRecord(record, &bytes, &error)) << error;
  return bytes;
}

TEST(StandardRecordTest, EveryLayoutReadsBackWhatWasWrittenAndIsToldApartByStructure) {
  for (RecordFormat format : kAllFormats) {
    SCOPED_TRACE(RecordFormatName(format));
    const StandardRecord original = TwoViewRecord(format);
    const std::vector<uint8_t> bytes = Written(original);
    StandardRecord read;
    std::string error;
    ASSERT_TRUE(ReadStandardRecord(bytes, RecordReadMode::kStrict, &read, &error)) << error;
    EXPECT_EQ(read.format, format);
    ASSERT_EQ(read.views.size(), 2u);
    for (size_t v = 0; v < 2; ++v) {
      const FingerView& a = original.views[v];
      const FingerView& b = read.views[v];
      EXPECT_EQ(b.finger_position, a.finger_position);
      EXPECT_EQ(b.finger_quality, a.finger_quality);
      EXPECT_EQ(b.width, 400);
      EXPECT_EQ(b.height, 500);
      ASSERT_EQ(b.minutiae.size(), a.minutiae.size());
      for (size_t i = 0; i < a.minutiae.size(); ++i) {
        EXPECT_EQ(b.minutiae[i].x, a.minutiae[i].x);
        EXPECT_EQ(b.minutiae[i].y, a.minutiae[i].y);
        EXPECT_EQ(b.minutiae[i].kind, a.minutiae[i].kind);
        EXPECT_DOUBLE_EQ(b.minutiae[i].angle, a.minutiae[i].angle);
        EXPECT_EQ(b.minutiae[i].quality, a.minutiae[i].quality);
      }
    }
    const FingerView& second = read.views[1];
    EXPECT_EQ(second.ridge_count_method, 1);
    ASSERT_EQ(second.ridge_counts.size(), 2u);
    EXPECT_EQ(second.ridge_counts[1].count, 4);
    ASSERT_EQ(second.cores.size(), 1u);
    EXPECT_EQ(second.cores[0].x, 100);
    EXPECT_EQ(second.cores[0].angles[0], 40);
    ASSERT_EQ(second.deltas.size(), 1u);
    EXPECT_EQ(second.deltas[0].angles[2], 3);
    ASSERT_EQ(second.extended.size(), 3u);
    EXPECT_EQ(second.extended[2].type, 0x524C);  // an unknown item kept as it was
    EXPECT_EQ(Written(read), bytes);
  }
}

TEST(StandardRecordTest, EveryTruncationAndEveryLongerLengthFieldIsRefused) {
  for (RecordFormat format : kAllFormats) {
    SCOPED_TRACE(RecordFormatName(format));
    const std::vector<uint8_t> bytes = Written(TwoViewRecord(format));
    for (size_t size = 0; size < bytes.size(); ++size) {
      // A copy of exactly `size` bytes, so a read past it is seen by the sanitizers.
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
      for (RecordReadMode mode : {RecordReadMode::kStrict, RecordReadMode::kLenient}) {
        StandardRecord read;
        std::string error;
        EXPECT_FALSE(ReadStandardRecord(cut, mode, &read, &error)) << size;
        EXPECT_FALSE(error.empty());
      }
    }
    // One more byte than the structure: strict refuses, lenient keeps the structure.
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    StandardRecord read;
    std::string error;
    EXPECT_FALSE(ReadStandardRecord(longer, RecordReadMode::kStrict, &read, &error));
    std::vector<std::string> notes;
    EXPECT_TRUE(ReadStandardRecord(longer, RecordReadMode::kLenient, &read, &error, &notes));
    EXPECT_FALSE(notes.empty());
  }
}

TEST(StandardRecordTest, WriterRefusesWhatTheFormatCannotHoldAndUsesTheLongAnsiLength) {
  StandardRecord record = TwoViewRecord(RecordFormat::kAnsi378_2004);
  std::vector<uint8_t> bytes;
  std::string error;
  record.views[0].minutiae.resize(256);
  EXPECT_FALSE(WriteStandardRecord(record, &bytes, &error));
  EXPECT_NE(error.find("255"), std::string::npos);
  record = TwoViewRecord(RecordFormat::kAnsi378_2004);
  record.views[0].minutiae[0].x = 16384;
  EXPECT_FALSE(WriteStandardRecord(record, &bytes, &error));
  record.views.clear();
  EXPECT_FALSE(WriteStandardRecord(record, &bytes, &error));

  // Over 64 KiB: the ANSI short length is 0 and four bytes follow; ISO uses its four bytes.
  for (RecordFormat format : {RecordFormat::kAnsi378_2004, RecordFormat::kIso19794_2_2005}) {
    record = TwoViewRecord(format);
    record.views[0].extended.push_back({0x524C, std::vector<uint8_t>(40000, 1)});
    record.views[1].extended.push_back({0x524C, std::vector<uint8_t>(40000, 2)});
    bytes = Written(record);
    ASSERT_GT(bytes.size(), 0xFFFFu);
    StandardRecord read;
    ASSERT_TRUE(ReadStandardRecord(bytes, RecordReadMode::kStrict, &read, &error)) << error;
    EXPECT_EQ(read.format, format);
    EXPECT_EQ(read.views[1].extended.back().data.size(), 40000u);
  }
}

TEST(StandardRecordTest, AngleCodesRoundAndWrap) {
  EXPECT_EQ(IsoAngleCode(0), 0);
  EXPECT_EQ(IsoAngleCode(359.5), 0);
  EXPECT_EQ(IsoAngleCode(90), 64);
  EXPECT_EQ(IsoAngleCode(-1.40625), 255);
  EXPECT_EQ(AnsiAngleCode(358), 179);
  EXPECT_EQ(AnsiAngleCode(359.5), 0);
  EXPECT_EQ(AnsiAngleCode(-2), 179);
}

// ---- the outside samples ----

std::filesystem::path Interop() { return ridgeline::testing::SharedDir() / "interop"; }

std::vector<uint8_t> Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

#define SKIP_WITHOUT_INTEROP()                                           \
  if (!std::filesystem::exists(Interop() / "manifest.csv")) {            \
    GTEST_SKIP() << "outside sample records not found in " << Interop(); \
  }

StandardRecord MustRead(const std::vector<uint8_t>& bytes, RecordReadMode mode,
                        std::vector<std::string>* notes = nullptr) {
  StandardRecord record;
  std::string error;
  EXPECT_TRUE(ReadStandardRecord(bytes, mode, &record, &error, notes)) << error;
  return record;
}

std::string Refusal(const std::vector<uint8_t>& bytes, RecordReadMode mode) {
  StandardRecord record;
  std::string error;
  EXPECT_FALSE(ReadStandardRecord(bytes, mode, &record, &error));
  return error;
}

TEST(StandardRecordSamplesTest, AnnexExamplesDecodeToTheirDocumentedFields) {
  SKIP_WITHOUT_INTEROP();
  const auto ansi = Slurp(Interop() / "biomdi/ANSI-INCITS-378_2004/Appendix-B2_Example.raw");
  const auto iso = Slurp(Interop() / "biomdi/ISO-19794-2_2005/Appendix-C2_Example.raw");
  const StandardRecord a = MustRead(ansi, RecordReadMode::kStrict);
  EXPECT_EQ(a.format, RecordFormat::kAnsi378_2004);
  EXPECT_EQ(a.cbeff_owner, 0x0042);
  EXPECT_EQ(a.cbeff_type, 0x0011);
  EXPECT_EQ(a.equipment, 0x00B5);
  ASSERT_EQ(a.views.size(), 2u);
  EXPECT_EQ(a.views[0].finger_position, 7);
  EXPECT_EQ(a.views[0].finger_quality, 90);
  EXPECT_EQ(a.views[0].minutiae.size(), 27u);
  EXPECT_EQ(a.views[0].width, 512);
  EXPECT_EQ(a.views[0].x_resolution, 197);
  const RecordMinutia& first = a.views[0].minutiae.front();
  EXPECT_EQ(first.kind, MinutiaKind::kEnding);
  EXPECT_EQ(first.x, 100);
  EXPECT_EQ(first.y, 14);
  EXPECT_EQ(AnsiAngleCode(first.angle), 56);
  EXPECT_EQ(first.quality, 90);
  const RecordMinutia& last = a.views[0].minutiae.back();
  EXPECT_EQ(last.kind, MinutiaKind::kBifurcation);
  EXPECT_EQ(last.x, 126);
  EXPECT_EQ(last.y, 115);
  EXPECT_EQ(AnsiAngleCode(last.angle), 86);
  EXPECT_EQ(last.quality, 30);
  EXPECT_EQ(a.views[1].finger_position, 2);
  EXPECT_EQ(a.views[1].minutiae.size(), 22u);
  EXPECT_EQ(a.views[1].ridge_count_method, 1);
  ASSERT_EQ(a.views[1].ridge_counts.size(), 2u);
  EXPECT_EQ(a.views[1].ridge_counts[0].from, 1);
  EXPECT_EQ(a.views[1].ridge_counts[0].to, 20);
  EXPECT_EQ(a.views[1].ridge_counts[0].count, 12);
  EXPECT_EQ(Written(a), ansi);

  // The ISO example's length field is one short of its structure and its size: strict refuses,
  // lenient reads it and notes why; written back only the length field changes.
  EXPECT_NE(Refusal(iso, RecordReadMode::kStrict).find("length field says 340"), std::string::npos);
  std::vector<std::string> notes;
  const StandardRecord i = MustRead(iso, RecordReadMode::kLenient, &notes);
  EXPECT_EQ(i.format, RecordFormat::kIso19794_2_2005);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(i.views[1].ridge_counts.size(), 2u);
  EXPECT_EQ(IsoAngleCode(i.views[0].minutiae.front().angle), 80);
  EXPECT_EQ(IsoAngleCode(i.views[0].minutiae.back().angle), 122);
  EXPECT_EQ(IsoAngleCode(i.views[1].minutiae.back().angle), 249);
  std::vector<uint8_t> fixed = iso;
  fixed[11] = 0x55;  // 341
  EXPECT_EQ(Written(i), fixed);
  // Same minutiae in both, the angles within one ISO unit.
  for (size_t v = 0; v < 2; ++v) {
    for (size_t k = 0; k < a.views[v].minutiae.size(); ++k) {
      EXPECT_EQ(i.views[v].minutiae[k].x, a.views[v].minutiae[k].x);
      const int d =
          IsoAngleCode(a.views[v].minutiae[k].angle) - IsoAngleCode(i.views[v].minutiae[k].angle);
      EXPECT_LE(std::abs(d), 1);
    }
  }
}

uint8_t PositionCode(const std::string& name) {
  static const std::map<std::string, uint8_t> codes = {{"RIGHT_INDEX", 2}, {"LEFT_INDEX", 7}};
  return codes.at(name);
}

MinutiaKind KindOf(const std::string& name) {
  if (name == "ENDING") return MinutiaKind::kEnding;
  if (name == "BIFURCATION") return MinutiaKind::kBifurcation;
  return MinutiaKind::kOther;
}

void ExpectMatchesJson(const StandardRecord& record, const nlohmann::json& json, bool ansi_mod) {
  const auto& prints = json["fingerprints"];
  ASSERT_EQ(record.views.size(), prints.size());
  for (size_t v = 0; v < prints.size(); ++v) {
    SCOPED_TRACE("view " + std::to_string(v));
    const FingerView& view = record.views[v];
    const auto& print = prints[v];
    EXPECT_EQ(view.finger_position, PositionCode(print["position"]));
    EXPECT_EQ(view.view_number, print["view"].get<int>());
    if (print.contains("quality")) {
      EXPECT_EQ(view.finger_quality, print["quality"].get<int>());
    }
    if (print.contains("width")) {
      EXPECT_EQ(view.width, print["width"].get<int>());
    }
    if (print.contains("qualityVendorId")) {
      EXPECT_EQ(view.quality_blocks.at(0).vendor, print["qualityVendorId"].get<int>());
    }
    if (print.contains("qrecords")) {
      ASSERT_EQ(view.quality_blocks.size(), print["qrecords"].size());
      EXPECT_EQ(view.quality_blocks[0].algorithm, print["qrecords"][0]["algorithm"].get<int>());
    }
    const auto& minutiae = print["minutiae"];
    ASSERT_EQ(view.minutiae.size(), minutiae.size());
    for (size_t k = 0; k < minutiae.size(); ++k) {
      const RecordMinutia& m = view.minutiae[k];
      EXPECT_EQ(m.kind, KindOf(minutiae[k]["type"]));
      EXPECT_EQ(m.x, minutiae[k]["positionX"].get<int>());
      EXPECT_EQ(m.y, minutiae[k]["positionY"].get<int>());
      EXPECT_EQ(m.quality, minutiae[k]["quality"].get<int>());
      const int angle = minutiae[k]["angle"].get<int>();
      if (IsIsoFormat(record.format)) {
        EXPECT_EQ(IsoAngleCode(m.angle), angle);
      } else {
        EXPECT_EQ(AnsiAngleCode(m.angle), ansi_mod ? angle % 180 : angle);
      }
    }
    if (print.contains("counts") && !print["counts"].is_null()) {
      const auto& edges = print["counts"]["edges"];
      ASSERT_EQ(view.ridge_counts.size(), edges.size());
      for (size_t e = 0; e < edges.size(); ++e) {
        EXPECT_EQ(view.ridge_counts[e].from, edges[e]["from"].get<int>());
        EXPECT_EQ(view.ridge_counts[e].to, edges[e]["to"].get<int>());
        EXPECT_EQ(view.ridge_counts[e].count, edges[e]["count"].get<int>());
      }
    }
  }
}

TEST(StandardRecordSamplesTest, SpecSamplesDecodeToTheirJsonWithTheDocumentedLeniency) {
  SKIP_WITHOUT_INTEROP();
  const std::filesystem::path dir = Interop() / "fingerprintio";
  auto json = [&](const char* name) {
    std::ifstream in(dir / name);
    return nlohmann::json::parse(in);
  };
  // Consistent: strict, and written back byte for byte.
  const auto am1 = Slurp(dir / "ansi378v2009am1-sample.dat");
  const StandardRecord r_am1 = MustRead(am1, RecordReadMode::kStrict);
  EXPECT_EQ(r_am1.format, RecordFormat::kAnsi378_2009Am1);
  ExpectMatchesJson(r_am1, json("ansi378v2009am1-sample.json"), false);
  EXPECT_EQ(Written(r_am1), am1);

  // Length field 363 for 364 bytes: lenient; written back with 364.
  const auto a2009 = Slurp(dir / "ansi378v2009-sample.dat");
  EXPECT_NE(Refusal(a2009, RecordReadMode::kStrict).find("ansi378-2009: the record length"),
            std::string::npos);
  const StandardRecord r2009 = MustRead(a2009, RecordReadMode::kLenient);
  EXPECT_EQ(r2009.format, RecordFormat::kAnsi378_2009);
  EXPECT_EQ(r2009.equipment, 0x00B5);
  ExpectMatchesJson(r2009, json("ansi378v2009-sample.json"), false);
  std::vector<uint8_t> fixed = a2009;
  fixed[11] = 0x6C;
  EXPECT_EQ(Written(r2009), fixed);

  // Version "020", short length field, ISO angle units and ragged ridge counts: lenient only.
  const auto a2004 = Slurp(dir / "ansi378v2004-sample.dat");
  EXPECT_NE(Refusal(a2004, RecordReadMode::kStrict).find("020"), std::string::npos);
  std::vector<std::string> notes;
  const StandardRecord r2004 = MustRead(a2004, RecordReadMode::kLenient, &notes);
  EXPECT_EQ(notes.size(), 4u);
  ExpectMatchesJson(r2004, json("ansi378v2004-sample.json"), true);

  // Item length excluding its header: strict refuses, lenient falls back to it.
  const auto i2005 = Slurp(dir / "iso19794p2v2005-sample.dat");
  Refusal(i2005, RecordReadMode::kStrict);
  const StandardRecord r2005 = MustRead(i2005, RecordReadMode::kLenient, &notes);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("excluding"), std::string::npos);
  ASSERT_EQ(r2005.views[1].extended.size(), 1u);
  EXPECT_EQ(r2005.views[1].extended[0].type, 0x0221);
  EXPECT_EQ(r2005.views[1].extended[0].data.size(), 6u);
  ExpectMatchesJson(r2005, json("iso19794p2v2005-sample.json"), false);

  // View 1 without view 0 for its finger: strict refuses; the bytes are otherwise consistent.
  const auto i2011 = Slurp(dir / "iso19794p2v2011-sample.dat");
  EXPECT_NE(Refusal(i2011, RecordReadMode::kStrict).find("view 1 where view 0"), std::string::npos);
  const StandardRecord r2011 = MustRead(i2011, RecordReadMode::kLenient);
  EXPECT_EQ(r2011.format, RecordFormat::kIso19794_2_2011);
  EXPECT_EQ(r2011.views[0].capture_time[0], 0x07);
  EXPECT_EQ(r2011.views[0].device_vendor, 0xABCD);
  EXPECT_EQ(r2011.views[0].minutia_size, 6);
  ExpectMatchesJson(r2011, json("iso19794p2v2011-sample.json"), false);
  EXPECT_EQ(Written(r2011), i2011);
}

TEST(StandardRecordSamplesTest, OtherWritersRecordsWithWrongItemLengths) {
  SKIP_WITHOUT_INTEROP();
  const std::filesystem::path dir = Interop() / "libbiomeval";
  // The 20-byte-header layout shares "030" with 2009 and ISO 2011: only its structure tells it.
  const auto a2007 = Slurp(dir / "fmr.ansi2007");
  const StandardRecord r2007 = MustRead(a2007, RecordReadMode::kStrict);
  EXPECT_EQ(r2007.format, RecordFormat::kAnsi378_2007);
  EXPECT_EQ(r2007.views.size(), 2u);
  EXPECT_EQ(Written(r2007), a2007);

  // Core/delta items whose lengths disagree with their counts: strict refuses, lenient reads
  // the content by its counts.
  const auto a2004 = Slurp(dir / "fmr.ansi2004");
  Refusal(a2004, RecordReadMode::kStrict);
  const StandardRecord r2004 = MustRead(a2004, RecordReadMode::kLenient);
  ASSERT_EQ(r2004.views.size(), 3u);
  const FingerView& third = r2004.views[2];
  EXPECT_EQ(third.finger_position, 3);
  EXPECT_EQ(third.impression_type, 1);
  EXPECT_EQ(third.finger_quality, 69);
  EXPECT_EQ(third.minutiae.size(), 28u);
  EXPECT_EQ(third.ridge_count_method, 2);
  ASSERT_EQ(third.ridge_counts.size(), 224u);
  EXPECT_EQ(third.ridge_counts.back().from, 28);
  ASSERT_EQ(third.cores.size(), 2u);
  EXPECT_EQ(third.cores[0].x, 150);
  EXPECT_EQ(third.cores[0].y, 250);
  EXPECT_EQ(third.cores[0].angles[0], 90);
  ASSERT_EQ(third.deltas.size(), 4u);
  EXPECT_EQ(third.deltas[3].x, 130);
  EXPECT_EQ(third.deltas[3].angles[2], 77);

  const auto i2005 = Slurp(dir / "fmr.iso2005");
  Refusal(i2005, RecordReadMode::kStrict);
  const StandardRecord ri = MustRead(i2005, RecordReadMode::kLenient);
  ASSERT_EQ(ri.views[1].deltas.size(), 4u);
  EXPECT_EQ(ri.views[1].deltas[1].type, 0);  // no angles
  EXPECT_EQ(ri.views[1].deltas[1].x, 0x67);
  EXPECT_EQ(ri.views[1].deltas[3].angles[2], 0x4D);
}

TEST(StandardRecordSamplesTest, OpenRecordsParseAndTruncatedOnesAreRefusedClearly) {
  SKIP_WITHOUT_INTEROP();
  int parsed = 0;
  for (const char* db : {"DB1_B", "DB2_B"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(Interop() / "openafis/valid/fvc2002" / db)) {
      const auto bytes = Slurp(entry.path());
      const StandardRecord record = MustRead(bytes, RecordReadMode::kStrict);
      ASSERT_EQ(record.views.size(), 1u) << entry.path();
      EXPECT_EQ(record.views[0].width, 300);
      EXPECT_EQ(record.views[0].height, 400);
      EXPECT_EQ(Written(record), bytes) << entry.path();
      ++parsed;
    }
  }
  EXPECT_EQ(parsed, 160);
  for (const char* name :
       {"101_1_truncate_1_byte.iso", "101_1_truncate_2_bytes.iso", "101_1_truncate_3_bytes.iso"}) {
    const auto bytes = Slurp(Interop() / "openafis/invalid/fvc2004/DB_1B" / name);
    for (RecordReadMode mode : {RecordReadMode::kStrict, RecordReadMode::kLenient}) {
      EXPECT_NE(Refusal(bytes, mode).find("truncated: the record length field says 30"),
                std::string::npos)
          << name;
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(Interop() / "fjfx/templates-iso")) {
    const auto bytes = Slurp(entry.path());
    const StandardRecord record = MustRead(bytes, RecordReadMode::kStrict);
    EXPECT_EQ(record.views[0].finger_quality, 60);
    EXPECT_EQ(Written(record), bytes);
  }
}

}  // namespace
}  // namespace ridgeline
