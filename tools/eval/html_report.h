// report.html: a self-contained page (no outside file, script or font) with the figures of a
// run, its DET curve and score histograms as inline SVG, and the worst false non-matches shown
// side by side with their minutiae over the 550-dpi images.
#pragma once

#include <filesystem>
#include <string>

#include "tools/eval/eval_summary.h"
#include "tools/eval/evaluation.h"

namespace ridgeline::eval {

// Genuine comparisons shown at most in the false non-match gallery.
constexpr int kWorstNonMatchesShown = 8;

// The page. Re-reads the images of the pairs it shows (prepared as the run prepared them).
std::string HtmlReport(const EvalRun& run, const EvalSummary& summary);

// Throws EvalError when the file cannot be written.
void WriteHtmlReport(const std::filesystem::path& path, const EvalRun& run,
                     const EvalSummary& summary);

// Text with &, <, >, " and ' written as entities.
std::string HtmlEscape(const std::string& text);

// Standard base64 with padding.
std::string Base64(const std::vector<uint8_t>& bytes);

}  // namespace ridgeline::eval
