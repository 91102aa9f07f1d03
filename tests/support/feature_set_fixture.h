// A FeatureSet / FeatureSummary pair owned by a test, with helpers to lay out a block grid and
// add minutiae in a few lines.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "core/records.h"

namespace ridgeline::testing {

struct Minutia {
  int x;
  int y;
  int angle = 0;
  int variation = 0;
  int type = 0;
};

class FeatureRecordsFixture {
 public:
  // An empty set (Count 0) over a cols x rows grid whose cells all hold `fill`; cells outside
  // the grid hold 0xFF.
  FeatureRecordsFixture(int cols = 0, int rows = 0, uint8_t fill = 40) {
    if (!AllocFeatureRecords(&fs_, &summary_)) throw std::bad_alloc();
    fs_->Count = 0;
    std::memset(fs_->DirectionMap, 0xFF, sizeof fs_->DirectionMap);
    SetGrid(cols, rows, fill);
  }
  ~FeatureRecordsFixture() { FreeFeatureRecords(fs_, summary_); }
  FeatureRecordsFixture(const FeatureRecordsFixture&) = delete;
  FeatureRecordsFixture& operator=(const FeatureRecordsFixture&) = delete;

  FeatureSet* get() const { return fs_; }
  FeatureSet* operator->() const { return fs_; }
  FeatureSummary* summary() const { return summary_; }

  void SetGrid(int cols, int rows, uint8_t fill) {
    fs_->BlockCols = static_cast<uint8_t>(cols);
    fs_->BlockRows = static_cast<uint8_t>(rows);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) fs_->DirectionMap[r][c] = fill;
  }
  uint8_t& cell(int col, int row) { return fs_->DirectionMap[row][col]; }

  void Add(const Minutia& m) {
    const int i = fs_->Count++;
    fs_->X[i] = static_cast<int16_t>(m.x);
    fs_->Y[i] = static_cast<int16_t>(m.y);
    fs_->Angle[i] = static_cast<int16_t>(m.angle);
    fs_->Variation[i] = static_cast<uint8_t>(m.variation);
    fs_->Type[i] = static_cast<uint8_t>(m.type);
  }
  Minutia at(int i) const {
    return {fs_->X[i], fs_->Y[i], fs_->Angle[i], fs_->Variation[i], fs_->Type[i]};
  }

  void AddSingularPoint(int x, int y, uint8_t type) {
    const int i = summary_->Count++;
    summary_->X[i] = static_cast<int16_t>(x);
    summary_->Y[i] = static_cast<int16_t>(y);
    summary_->Type[i] = type;
  }

 private:
  FeatureSet* fs_ = nullptr;
  FeatureSummary* summary_ = nullptr;
};

}  // namespace ridgeline::testing
