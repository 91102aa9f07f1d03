// References read from standard minutiae records (ISO/IEC 19794-2, ANSI INCITS 378) in place of
// the prints' own decoded templates: `eval --reference-records DIR` scores our extraction of each
// later print against another producer's record of the earlier one.
//
// Naming: the record of print 101_3.tif is the file of DIR whose name, without its extension,
// names the same finger and impression (101_3.iso, 101_3.fmr, 101_03.ist ...). The format is told
// by the content, never by the extension. Records are read leniently and their first view is used.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "engine/engine.h"
#include "template/standard_record.h"
#include "tools/eval/fvc_protocol.h"
#include "tools/eval/print_features.h"

namespace ridgeline::eval {

// The print's own image: its size in pixels and its resolution (declared, or --dpi).
struct PrintSource {
  int width = 0;
  int height = 0;
  int dpi = 500;
};

// The record files of a folder by (finger, impression). Throws EvalError when the folder cannot
// be read or holds two records of one print.
std::map<std::pair<long, long>, std::filesystem::path> ListRecordFiles(
    const std::filesystem::path& folder);

// A view whose image was resized to its declared width x height without keeping the aspect
// ratio, brought back to the print it was made from: each position scaled pixel centre to pixel
// centre, x' = (x + 0.5) W / w - 0.5 (and y likewise), each direction (cos a, -sin a) stretched by
// (W / w, H / h) and renormalised, the declared size set to W x H and the resolution to the
// print's. The view is returned unchanged when it declares no size.
FingerView UnresizeView(const FingerView& view, const PrintSource& print);

// One reference from a record file: the matcher's feature set, or why there is none.
struct RecordReference {
  std::unique_ptr<FeatureRecords> features;
  bool from_item = false;  // the record carried the engine's own item
  std::string problem;     // empty when features are set
};

// Reads the record at path and imports its first view (unresized first when asked).
RecordReference ImportRecordReference(const std::filesystem::path& path, bool unresize,
                                      const PrintSource& print, Engine& engine);

}  // namespace ridgeline::eval
