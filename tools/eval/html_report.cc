// The page is built as one string; each chart is an SVG drawn in its own coordinate frame.
#include "tools/eval/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <numeric>

#include "adapter/engine_context.h"
#include "engine/match_threshold.h"
#include "match/match_coord.h"
#include "match/match_params.h"
#include "match/match_result.h"
#include "tools/image/png_writer.h"

namespace ridgeline::eval {
namespace {

constexpr const char* kGenuineColour = "#2166ac";
constexpr const char* kImpostorColour = "#d6604d";
constexpr const char* kPairedColour = "#1a9850";
constexpr const char* kUnpairedColour = "#f46d43";

constexpr int kHistogramBins = 40;
constexpr int kPairImageWidth = 330;  // display width of each print in the gallery, CSS pixels
constexpr int kTickLength = 12;       // minutia direction tick, image pixels

std::string Num(double value, int decimals = 1) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string PercentText(double rate) { return Num(rate * 100, 2) + " %"; }

std::string Row(const std::string& label, const std::string& value) {
  return "<tr><th>" + HtmlEscape(label) + "</th><td>" + HtmlEscape(value) + "</td></tr>\n";
}

std::string PointText(const std::optional<ErrorPoint>& point) {
  if (!point) return "n/a";
  return PercentText(point->fnmr) + " (threshold " + std::to_string(point->threshold) + ")";
}

std::string SummaryTables(const EvalSummary& s) {
  std::string html = "<table class=\"figures\">\n";
  html += Row("images", std::to_string(s.images));
  html += Row("failures to extract", std::to_string(s.failures));
  html += Row("genuine comparisons", std::to_string(s.genuine));
  html += Row("impostor comparisons", std::to_string(s.impostor));
  html += Row("EER", s.eer ? PercentText(*s.eer) : "n/a");
  html += Row("FMR100", PointText(s.fmr100));
  html += Row("FMR1000", PointText(s.fmr1000));
  html += Row("ZeroFMR", PointText(s.zero_fmr));
  html += Row("median extraction", Num(s.median_extraction_ms) + " ms per image");
  html += Row("comparisons per second", Num(s.one_thread_rate, 0) + " on one thread, " +
                                            Num(s.all_threads_rate, 0) + " on " +
                                            std::to_string(s.threads) + " threads");
  html += Row("run time", Num(s.seconds) + " s");
  html += "</table>\n<table class=\"levels\">\n";
  html += "<tr><th>match level</th><th>threshold</th><th>FMR</th><th>FNMR</th></tr>\n";
  for (const LevelRates& r : s.levels) {
    html += std::string("<tr") + (r.level == kDefaultMatchLevel ? " class=\"default\"" : "") +
            "><td>" + std::to_string(r.level) +
            (r.level == kDefaultMatchLevel ? " (default)" : "") + "</td><td>" +
            std::to_string(r.threshold) + "</td><td>" + PercentText(r.fmr) + "</td><td>" +
            PercentText(r.fnmr) + "</td></tr>\n";
  }
  return html + "</table>\n";
}

// DET curve on log-log axes from the smallest non-zero rate the lists can show up to 100 %;
// rates below the axis sit on its edge.
std::string DetCurve(const ErrorRates& rates, const EvalSummary& s) {
  constexpr double kWidth = 440, kHeight = 380, kLeft = 60, kRight = 16, kTop = 16, kBottom = 46;
  const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  const int smallest = std::max(rates.genuine_count(), rates.impostor_count());
  const int low_decade =
      std::max(-6, static_cast<int>(std::floor(std::log10(1.0 / std::max(1, smallest)))));
  auto x_of = [&](double fmr) {
    const double v = std::max(fmr, std::pow(10.0, low_decade));
    return kLeft + (std::log10(v) - low_decade) / -low_decade * plot_w;
  };
  auto y_of = [&](double fnmr) {
    const double v = std::max(fnmr, std::pow(10.0, low_decade));
    return kTop + plot_h - (std::log10(v) - low_decade) / -low_decade * plot_h;
  };
  std::string svg = "<svg class=\"chart\" viewBox=\"0 0 " + Num(kWidth, 0) + " " + Num(kHeight, 0) +
                    "\" width=\"" + Num(kWidth, 0) + "\" height=\"" + Num(kHeight, 0) +
                    "\" role=\"img\" aria-label=\"DET curve\">\n";
  for (int decade = low_decade; decade <= 0; ++decade) {
    const double v = std::pow(10.0, decade);
    const std::string label =
        decade >= -2 ? Num(v * 100, 0) + "%" : Num(v * 100, -decade - 2) + "%";
    svg += "<line class=\"grid\" x1=\"" + Num(x_of(v)) + "\" y1=\"" + Num(kTop) + "\" x2=\"" +
           Num(x_of(v)) + "\" y2=\"" + Num(kTop + plot_h) + "\"/>";
    svg += "<line class=\"grid\" x1=\"" + Num(kLeft) + "\" y1=\"" + Num(y_of(v)) + "\" x2=\"" +
           Num(kLeft + plot_w) + "\" y2=\"" + Num(y_of(v)) + "\"/>\n";
    svg += "<text x=\"" + Num(x_of(v)) + "\" y=\"" + Num(kTop + plot_h + 16) +
           "\" text-anchor=\"middle\">" + label + "</text>";
    svg += "<text x=\"" + Num(kLeft - 6) + "\" y=\"" + Num(y_of(v) + 4) +
           "\" text-anchor=\"end\">" + label + "</text>\n";
  }
  svg += "<rect class=\"frame\" x=\"" + Num(kLeft) + "\" y=\"" + Num(kTop) + "\" width=\"" +
         Num(plot_w) + "\" height=\"" + Num(plot_h) + "\"/>\n";
  // Equal rates lie on the diagonal.
  svg += "<line class=\"diagonal\" x1=\"" + Num(x_of(1)) + "\" y1=\"" + Num(y_of(1)) + "\" x2=\"" +
         Num(x_of(0)) + "\" y2=\"" + Num(y_of(0)) + "\"/>\n";
  std::string points;
  for (const ErrorPoint& p : rates.Curve())
    points += Num(x_of(p.fmr)) + "," + Num(y_of(p.fnmr)) + " ";
  svg += "<polyline class=\"det\" points=\"" + points + "\"/>\n";
  // Labels go right of their point, or left of it near the right edge.
  auto label_at = [&](double x, double y, const std::string& text) {
    const bool left = x > kLeft + plot_w * 0.6;
    return "<text x=\"" + Num(left ? x - 8 : x + 8) + "\" y=\"" + Num(y) + "\" text-anchor=\"" +
           (left ? "end" : "start") + "\">" + text + "</text>\n";
  };
  if (s.eer) {
    svg += "<circle class=\"eer\" cx=\"" + Num(x_of(*s.eer)) + "\" cy=\"" + Num(y_of(*s.eer)) +
           "\" r=\"4\"/>" + label_at(x_of(*s.eer), y_of(*s.eer) - 6, "EER " + PercentText(*s.eer));
  }
  for (const LevelRates& r : s.levels) {
    if (r.level != kDefaultMatchLevel) continue;
    svg += "<circle class=\"level\" cx=\"" + Num(x_of(r.fmr)) + "\" cy=\"" + Num(y_of(r.fnmr)) +
           "\" r=\"4\"/>" +
           label_at(x_of(r.fmr),
                    y_of(r.fnmr) > kTop + plot_h - 24 ? y_of(r.fnmr) - 8 : y_of(r.fnmr) + 14,
                    "level " + std::to_string(r.level) + " (" + std::to_string(r.threshold) + ")");
  }
  svg += "<text x=\"" + Num(kLeft + plot_w / 2) + "\" y=\"" + Num(kHeight - 6) +
         "\" text-anchor=\"middle\">false match rate</text>";
  svg += "<text transform=\"translate(14 " + Num(kTop + plot_h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">false non-match rate</text>\n";
  return svg + "</svg>\n";
}

// The share of each list per score bin. When most scores lie low the axis ends early and a last
// bin gathers the scores above it.
std::string Histograms(const std::vector<int>& genuine, const std::vector<int>& impostor) {
  constexpr double kWidth = 560, kHeight = 380, kLeft = 52, kRight = 24, kTop = 30, kBottom = 46;
  constexpr int kScoreEnd = 10000;  // scores are 0..9999
  const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  std::vector<int> all(genuine);
  all.insert(all.end(), impostor.begin(), impostor.end());
  std::sort(all.begin(), all.end());
  // A round number above 95 % of the scores, so that a few very high genuine scores do not
  // squeeze the region where the two lists overlap.
  const int high = all.empty() ? 0 : all[all.size() * 95 / 100];
  const int span = std::min(kScoreEnd, std::max(1000, (high / 500 + 1) * 500));
  const bool overflow = span < kScoreEnd;
  const int bins = kHistogramBins + (overflow ? 1 : 0);
  const double bin_width = static_cast<double>(span) / kHistogramBins;
  auto shares = [&](const std::vector<int>& scores) {
    std::vector<double> counts(static_cast<size_t>(bins), 0.0);
    for (int score : scores) {
      const int bin = std::min(bins - 1, static_cast<int>(score / bin_width));
      counts[static_cast<size_t>(bin)] += 1.0 / static_cast<double>(scores.size());
    }
    return counts;
  };
  const std::vector<double> g = shares(genuine), im = shares(impostor);
  const double highest =
      std::max(*std::max_element(g.begin(), g.end()), *std::max_element(im.begin(), im.end()));
  const double top = std::max(1.0, std::ceil(highest * 20 - 1e-9)) / 20;  // whole 5 % steps
  const double bar_w = plot_w / bins;
  auto x_of = [&](double score) { return kLeft + score / bin_width * bar_w; };
  auto y_of = [&](double share) { return kTop + plot_h - share / top * plot_h; };
  std::string svg = "<svg class=\"chart\" viewBox=\"0 0 " + Num(kWidth, 0) + " " + Num(kHeight, 0) +
                    "\" width=\"" + Num(kWidth, 0) + "\" height=\"" + Num(kHeight, 0) +
                    "\" role=\"img\" aria-label=\"score histograms\">\n";
  for (int step = 0; step <= 4; ++step) {
    const double share = top * step / 4;
    svg += "<line class=\"grid\" x1=\"" + Num(kLeft) + "\" y1=\"" + Num(y_of(share)) + "\" x2=\"" +
           Num(kLeft + plot_w) + "\" y2=\"" + Num(y_of(share)) + "\"/><text x=\"" + Num(kLeft - 6) +
           "\" y=\"" + Num(y_of(share) + 4) + "\" text-anchor=\"end\">" +
           Num(share * 100, share * 100 == std::floor(share * 100) ? 0 : 1) + "%</text>\n";
  }
  for (int i = 0; i < bins; ++i) {
    const double x = kLeft + i * bar_w;
    for (const auto& [list, colour] : {std::pair{&im, kImpostorColour}, {&g, kGenuineColour}}) {
      const double share = (*list)[static_cast<size_t>(i)];
      if (share <= 0) continue;
      svg += "<rect x=\"" + Num(x + 0.5) + "\" y=\"" + Num(y_of(share)) + "\" width=\"" +
             Num(bar_w - 1) + "\" height=\"" + Num(kTop + plot_h - y_of(share)) + "\" fill=\"" +
             colour + "\" fill-opacity=\"0.6\"/>";
    }
  }
  svg += "\n";
  for (int score = 0; score <= span; score += span / 5) {
    if (score == span && overflow) break;
    svg += "<text x=\"" + Num(x_of(score)) + "\" y=\"" + Num(kTop + plot_h + 16) +
           "\" text-anchor=\"middle\">" + std::to_string(score) + "</text>";
  }
  if (overflow) {
    svg += "<text x=\"" + Num(kLeft + plot_w) + "\" y=\"" + Num(kTop + plot_h + 16) +
           "\" text-anchor=\"end\">&#8805;" + std::to_string(span) + "</text>";
  }
  const int threshold = MatchThreshold(kDefaultMatchLevel);
  svg += "\n<line class=\"threshold\" x1=\"" + Num(x_of(threshold)) + "\" y1=\"" + Num(kTop) +
         "\" x2=\"" + Num(x_of(threshold)) + "\" y2=\"" + Num(kTop + plot_h) + "\"/><text x=\"" +
         Num(x_of(threshold) + 4) + "\" y=\"" + Num(kTop + 12) + "\">threshold " +
         std::to_string(threshold) + "</text>\n";
  svg += "<rect class=\"frame\" x=\"" + Num(kLeft) + "\" y=\"" + Num(kTop) + "\" width=\"" +
         Num(plot_w) + "\" height=\"" + Num(plot_h) + "\"/>\n";
  svg += "<rect x=\"" + Num(kLeft) + "\" y=\"8\" width=\"12\" height=\"12\" fill=\"" +
         kGenuineColour + "\" fill-opacity=\"0.6\"/><text x=\"" + Num(kLeft + 16) +
         "\" y=\"18\">genuine (" + std::to_string(genuine.size()) + ")</text>";
  svg += "<rect x=\"" + Num(kLeft + 140) + "\" y=\"8\" width=\"12\" height=\"12\" fill=\"" +
         kImpostorColour + "\" fill-opacity=\"0.6\"/><text x=\"" + Num(kLeft + 156) +
         "\" y=\"18\">impostor (" + std::to_string(impostor.size()) + ")</text>\n";
  svg += "<text x=\"" + Num(kLeft + plot_w / 2) + "\" y=\"" + Num(kHeight - 6) +
         "\" text-anchor=\"middle\">score</text>";
  svg += "<text transform=\"translate(14 " + Num(kTop + plot_h / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">share of comparisons</text>\n";
  return svg + "</svg>\n";
}

// One print of a pair: its 550-dpi image with the minutiae of `features` drawn over it, each
// green when `paired` marks it and orange otherwise.
std::string PrintPicture(const GreyImage& image, const FeatureSet& features, int crop_x, int crop_y,
                         const std::vector<bool>& paired) {
  if (image.pixels.empty()) return "<div class=\"missing\">no image</div>";
  const double height = static_cast<double>(kPairImageWidth) * image.height / image.width;
  std::string svg = "<svg viewBox=\"0 0 " + std::to_string(image.width) + " " +
                    std::to_string(image.height) + "\" width=\"" + std::to_string(kPairImageWidth) +
                    "\" height=\"" + Num(height, 0) + "\">";
  svg += "<image width=\"" + std::to_string(image.width) + "\" height=\"" +
         std::to_string(image.height) + "\" href=\"data:image/png;base64," +
         Base64(tools::EncodePng(image.width, image.height, 1, image.pixels)) + "\"/>\n";
  for (int i = 0; i < features.Count; ++i) {
    const double x = features.X[i] + crop_x, y = features.Y[i] + crop_y;
    const double angle = features.Angle[i] * M_PI / 180;
    // Angle 0 points to decreasing x, 90 to increasing y.
    const double tx = x - kTickLength * std::cos(angle), ty = y + kTickLength * std::sin(angle);
    const bool is_paired = static_cast<size_t>(i) < paired.size() && paired[static_cast<size_t>(i)];
    svg += std::string("<g stroke=\"") + (is_paired ? kPairedColour : kUnpairedColour) + "\">";
    svg += features.Type[i] == 0 ? "<circle cx=\"" + Num(x) + "\" cy=\"" + Num(y) + "\" r=\"4\"/>"
                                 : "<rect x=\"" + Num(x - 4) + "\" y=\"" + Num(y - 4) +
                                       "\" width=\"8\" height=\"8\"/>";
    svg += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(y) + "\" x2=\"" + Num(tx) + "\" y2=\"" +
           Num(ty) + "\"/></g>";
  }
  return svg + "</svg>";
}

// "101_3.tif enrolled, 31 minutiae, quality 84".
std::string PrintCaption(const EvalRun& run, int index, const char* role) {
  const PrintFeatures& print = run.features[static_cast<size_t>(index)];
  return "<b>" + HtmlEscape(run.prints[static_cast<size_t>(index)].path.filename().string()) +
         "</b> " + role + ", " + std::to_string(print.minutiae) + " minutiae, quality " +
         std::to_string(print.quality);
}

GreyImage ImageOrNothing(const EvalRun& run, int index) {
  try {
    return AcceptanceImage(
        ReadCapture(run.prints[static_cast<size_t>(index)].path, run.trim, run.dpi));
  } catch (const EvalError&) {
    return GreyImage{};
  }
}

bool Accepted(const EvalRun& run, int index) {
  return run.features[static_cast<size_t>(index)].status == PrintStatus::kAccepted;
}

// Marks the minutiae that the best alignment of probe against reference pairs up.
void PairedMinutiae(const FeatureSet& probe, const FeatureSet& reference, MatchWork* work,
                    std::vector<bool>* probe_paired, std::vector<bool>* reference_paired) {
  MatchResult result{};
  std::fill(std::begin(result.Correspondence), std::end(result.Correspondence), -1);
  MatchCoord(probe, reference, work, &result);
  probe_paired->assign(static_cast<size_t>(probe.Count), false);
  reference_paired->assign(static_cast<size_t>(reference.Count), false);
  for (int a = 0; a < std::min(probe.Count, kMatchCapacity); ++a) {
    const int b = result.Correspondence[a];
    if (b < 0 || b >= reference.Count) continue;
    (*probe_paired)[static_cast<size_t>(a)] = true;
    (*reference_paired)[static_cast<size_t>(b)] = true;
  }
}

// The engine's own misses: genuine comparisons of two accepted prints below the default
// threshold, lowest first. Misses caused by a refused print are only counted; the refused
// prints are listed on their own.
std::string WorstNonMatches(const EvalRun& run) {
  const int threshold = MatchThreshold(kDefaultMatchLevel);
  std::vector<size_t> misses;
  size_t refused_misses = 0;
  for (size_t i = 0; i < run.comparisons.size(); ++i) {
    const Comparison& c = run.comparisons[i];
    if (!c.genuine || run.scores[i] >= threshold) continue;
    if (run.features[static_cast<size_t>(c.reference)].reference && Accepted(run, c.probe)) {
      misses.push_back(i);
    } else {
      ++refused_misses;
    }
  }
  std::stable_sort(misses.begin(), misses.end(),
                   [&](size_t a, size_t b) { return run.scores[a] < run.scores[b]; });
  const size_t shown = std::min<size_t>(misses.size(), kWorstNonMatchesShown);
  std::string html =
      "<h2>Worst false non-matches</h2>\n<p>Genuine comparisons of two accepted "
      "prints scoring below the default threshold " +
      std::to_string(threshold) + ": " + std::to_string(misses.size()) +
      (shown < misses.size() ? ", the lowest " + std::to_string(shown) + " shown" : std::string()) +
      (refused_misses > 0
           ? "; " + std::to_string(refused_misses) + " more involve a refused print (listed below)"
           : std::string()) +
      ".</p>\n";
  if (misses.empty()) return html;
  html +=
      "<p class=\"legend\">Each print is shown at 550 dpi as the engine sees it, with "
      "<span style=\"color:" +
      std::string(kPairedColour) + "\">paired</span> and <span style=\"color:" + kUnpairedColour +
      "\">unpaired</span> minutiae under the best alignment (circles: endings, squares: "
      "bifurcations; the tick points along the ridge).</p>\n";
  const MatchWorkPtr work = BuildDefaultMatchWork();
  if (!work) throw std::bad_alloc();
  for (size_t k = 0; k < shown; ++k) {
    const Comparison& c = run.comparisons[misses[k]];
    const PrintFeatures& reference = run.features[static_cast<size_t>(c.reference)];
    const PrintFeatures& probe = run.features[static_cast<size_t>(c.probe)];
    std::vector<bool> probe_paired, reference_paired;
    PairedMinutiae(*probe.probe->set(), *reference.reference->set(), work.get(), &probe_paired,
                   &reference_paired);
    html += "<figure class=\"pair\"><figcaption>score " + std::to_string(run.scores[misses[k]]) +
            "</figcaption><div class=\"side\">";
    html += "<div>" +
            PrintPicture(ImageOrNothing(run, c.reference), *reference.reference->set(),
                         reference.reference_crop_x, reference.reference_crop_y, reference_paired) +
            "<p>" + PrintCaption(run, c.reference, "enrolled") + "</p></div>";
    html += "<div>" +
            PrintPicture(ImageOrNothing(run, c.probe), *probe.probe->set(), probe.probe_crop_x,
                         probe.probe_crop_y, probe_paired) +
            "<p>" + PrintCaption(run, c.probe, "probe") + "</p></div>";
    html += "</div></figure>\n";
  }
  return html;
}

std::string RefusedPrints(const EvalRun& run) {
  std::string items;
  for (size_t i = 0; i < run.prints.size(); ++i) {
    const PrintFeatures& print = run.features[i];
    if (print.status == PrintStatus::kAccepted) continue;
    items += "<li><b>" + HtmlEscape(run.prints[i].path.filename().string()) +
             "</b>: " + PrintStatusName(print.status) + ", " + HtmlEscape(print.reason) + "</li>\n";
  }
  if (items.empty()) return "";
  return "<h2>Refused prints</h2>\n<p>Each scores 0 in every one of its comparisons.</p>\n<ul>" +
         items + "</ul>\n";
}

constexpr const char* kStyle = R"(
body { font: 15px/1.45 system-ui, sans-serif; color: #222; margin: 24px auto; max-width: 1100px; padding: 0 16px; }
h1 { font-size: 22px; margin-bottom: 2px; } h2 { font-size: 18px; margin-top: 32px; }
.sub { color: #666; margin-top: 0; }
.tables, .charts { display: flex; flex-wrap: wrap; gap: 32px; align-items: flex-start; }
table { border-collapse: collapse; }
th, td { padding: 3px 12px 3px 0; text-align: left; border-bottom: 1px solid #e4e4e4; }
table.levels td { text-align: right; } table.levels th { text-align: right; }
tr.default td { font-weight: 600; }
figure { margin: 0; }
svg.chart text { font-size: 12px; fill: #333; }
svg.chart .grid { stroke: #e6e6e6; } svg.chart .frame { fill: none; stroke: #888; }
svg.chart .diagonal { stroke: #bbb; stroke-dasharray: 4 4; }
svg.chart .det { fill: none; stroke: #2166ac; stroke-width: 2; }
svg.chart .eer { fill: #b2182b; } svg.chart .level { fill: #1a9850; }
svg.chart .threshold { stroke: #1a9850; stroke-dasharray: 5 3; stroke-width: 1.5; }
figure.pair { border-top: 1px solid #ddd; padding: 12px 0; }
figure.pair figcaption { font-weight: 600; margin-bottom: 6px; }
.side { display: flex; gap: 24px; flex-wrap: wrap; } .side p { margin: 4px 0; max-width: 330px; font-size: 13px; }
.side svg g { fill: none; stroke-width: 1.6; }
.missing { width: 330px; height: 200px; background: #f2f2f2; color: #777; display: flex; align-items: center; justify-content: center; }
.refused { color: #b2182b; }
)";

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Base64(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const uint32_t group = uint32_t{bytes[i]} << 16 | (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (left > 2 ? uint32_t{bytes[i + 2]} : 0);
    out += kDigits[group >> 18 & 63];
    out += kDigits[group >> 12 & 63];
    out += left > 1 ? kDigits[group >> 6 & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

std::string HtmlReport(const EvalRun& run, const EvalSummary& summary) {
  const std::vector<int> genuine = GenuineScores(run), impostor = ImpostorScores(run);
  const ErrorRates rates(genuine, impostor);
  std::string title = run.folder.filename().string();
  if (title.empty()) title = run.folder.parent_path().filename().string();
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" +
                     HtmlEscape("Evaluation of " + title) + "</title>\n<style>" + kStyle +
                     "</style></head><body>\n";
  html += "<h1>" + HtmlEscape("Evaluation of " + title) + "</h1>\n<p class=\"sub\">" +
          HtmlEscape(run.folder.string()) + " &middot; FVC protocol &middot; " +
          (run.trim ? "blank borders trimmed" : "not trimmed") + "</p>\n";
  html += "<div class=\"tables\">" + SummaryTables(summary) + "</div>\n";
  html += "<div class=\"charts\"><figure>" + DetCurve(rates, summary) + "</figure><figure>" +
          Histograms(genuine, impostor) + "</figure></div>\n";
  html += WorstNonMatches(run);
  html += RefusedPrints(run);
  return html + "</body></html>\n";
}

void WriteHtmlReport(const std::filesystem::path& path, const EvalRun& run,
                     const EvalSummary& summary) {
  const std::string html = HtmlReport(run, summary);
  std::ofstream out(path, std::ios::binary);
  if (!out || !out.write(html.data(), static_cast<std::streamsize>(html.size())) || !out.flush()) {
    throw EvalError(path.string() + ": cannot write the file");
  }
}

}  // namespace ridgeline::eval
