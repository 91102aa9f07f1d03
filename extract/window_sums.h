// Running sums over square windows clipped to the image, for filters that write their output in
// place: a ring of unfiltered row copies, per-column sums over the window's rows and a running
// sum along each output row. The cost per pixel does not depend on the window size.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

namespace ridgeline {

// row[x] = the sum of column[c] over c = x - radius .. x + radius clipped to 0 .. width - 1, as a
// running sum: column x + radius enters while it lies in the row (x < enter_end) and column
// x - radius - 1 leaves once it did (x >= leave_start); each stretch of the row has its own loop.
// The serial form: SumAlongRow's reference, and its form in builds without Highway.
inline void SumAlongRowPlain(const int32_t* column, int width, int radius, int32_t* row) {
  assert(width > 0 && radius >= 0);
  const int r = radius;
  const int enter_end = std::clamp(width - r, 0, width);
  const int leave_start = std::min(r + 1, width);
  int32_t sum = 0;
  for (int c = 0; c < std::min(r, width); ++c) sum += column[c];
  int x = 0;
  for (; x < std::min(enter_end, leave_start); ++x) row[x] = sum += column[x + r];
  for (; x < enter_end; ++x) row[x] = sum += column[x + r] - column[x - r - 1];
  for (; x < leave_start; ++x) row[x] = sum;  // the window spans the whole row
  for (; x < width; ++x) row[x] = sum -= column[x - r - 1];
}

// The same sums (defined in row_loops*.cc). With Highway, the stretch where a column enters and
// one leaves at every step is a prefix sum of the differences four lanes at a time.
// REQUIRES: width > 0, radius >= 0; every window sum fits in 32 bits.
void SumAlongRow(const int32_t* column, int width, int radius, int32_t* row);

// sums[x] += in[x] - out[x] for x < width, in one pass (defined with SumAlongRow); in or out
// may be null for a row that only enters or only leaves.
void SlideColumnSums(int32_t* sums, const uint8_t* in, const uint8_t* out, int width);

// The largest window radius whose sums of 8-bit pixels fit in 16 bits: 15 x 15 x 255 = 57,375.
constexpr int kNarrowWindowReach = 7;

// Rows of the integral image in 16-bit lanes, modulo 2^16 (see NarrowIntegralRows):
// out[x] = above[x] + row[0] + ... + row[x - 1] for x = 0 .. width.
void IntegralRow16(const uint16_t* above, const uint8_t* row, int width, uint16_t* out);
// out[x] = bottom[x + radius + 1] - top[x + radius + 1] - bottom[x - radius] + top[x - radius]
// modulo 2^16 for x < width: the sum of a window between two integral rows.
void BoxFromIntegralRows16(const uint16_t* top, const uint16_t* bottom, int width, int radius,
                           uint16_t* out);

// Copies of the last `rows` source rows of a width-wide image, addressed by their image row.
// Row y lives in slot y mod rows, so a row stays readable until row y + rows is loaded.
template <typename T = uint8_t>
class RowRing {
 public:
  // Returns false when the ring cannot be allocated.
  bool Init(int width, int rows) {
    assert(width >= 0 && rows > 0);
    width_ = static_cast<size_t>(width);
    rows_ = rows;
    try {
      data_.assign(width_ * static_cast<size_t>(rows), T{});
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  T* Row(int y) { return data_.data() + static_cast<size_t>(y % rows_) * width_; }
  const T* Row(int y) const { return data_.data() + static_cast<size_t>(y % rows_) * width_; }
  void Load(int y, const T* source) { std::memcpy(Row(y), source, width_ * sizeof(T)); }

 private:
  std::vector<T> data_;
  size_t width_ = 0;
  int rows_ = 1;
};

// Sums of a (2 radius + 1)^2 window clipped to a width x height image. Slide(y, rows) must be
// called for y = 0, 1, 2, ... in order; `rows(r)` returns source row r, which must still hold
// its unfiltered values when it leaves the window (row y - radius - 1 at output row y).
template <typename T = uint8_t>
class WindowSums {
 public:
  // Returns false when the sums cannot be allocated.
  bool Init(int width, int height, int radius) {
    assert(width > 0 && height > 0 && radius >= 0);
    width_ = width;
    height_ = height;
    radius_ = radius;
    next_row_ = 0;
    try {
      column_sum_.assign(static_cast<size_t>(width), 0);
      row_sum_.assign(static_cast<size_t>(width), 0);
      columns_in_.assign(static_cast<size_t>(width), 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (int x = 0; x < width; ++x) {
      columns_in_[static_cast<size_t>(x)] =
          std::min(x + radius, width - 1) - std::max(x - radius, 0) + 1;
    }
    return true;
  }

  // Moves the column sums to rows y - radius .. y + radius (clipped) and recomputes the
  // window sums of row y.
  template <typename RowSource>
  void Slide(int y, RowSource&& rows) {
    const int last_needed = std::min(y + radius_, height_ - 1);
    const int leaving = y - radius_ - 1;
    if constexpr (std::is_same_v<T, uint8_t>) {
      // The last row to enter and the row leaving in one pass; both are still readable.
      bool left = leaving < 0;
      for (; next_row_ <= last_needed; ++next_row_) {
        const bool exchange = !left && next_row_ == last_needed;
        SlideColumnSums(column_sum_.data(), rows(next_row_), exchange ? rows(leaving) : nullptr,
                        width_);
        left = left || exchange;
      }
      if (!left) SlideColumnSums(column_sum_.data(), nullptr, rows(leaving), width_);
    } else {
      const size_t w = static_cast<size_t>(width_);
      for (; next_row_ <= last_needed; ++next_row_) {
        const T* entering = rows(next_row_);
        for (size_t x = 0; x < w; ++x) column_sum_[x] += entering[x];
      }
      if (leaving >= 0) {
        const T* old = rows(leaving);
        for (size_t x = 0; x < w; ++x) column_sum_[x] -= old[x];
      }
    }
    rows_in_ = last_needed - std::max(y - radius_, 0) + 1;

    SumAlongRow(column_sum_.data(), width_, radius_, row_sum_.data());
  }

  // Window sum and in-image pixel count at column x of the row last slid to.
  int32_t Sum(int x) const { return row_sum_[static_cast<size_t>(x)]; }
  // The window sums of the whole row last slid to.
  const int32_t* Sums() const { return row_sum_.data(); }
  int32_t Count(int x) const { return columns_in_[static_cast<size_t>(x)] * rows_in_; }
  // Count(x) is ColumnsIn()[x] * RowsIn(), for loops over a whole row.
  const int32_t* ColumnsIn() const { return columns_in_.data(); }
  int32_t RowsIn() const { return rows_in_; }
  // The truncated mean of the in-image pixels of the window.
  int32_t Mean(int x) const { return Sum(x) / Count(x); }

 private:
  int width_ = 0;
  int height_ = 0;
  int radius_ = 0;
  int next_row_ = 0;  // the next source row to enter the column sums
  int32_t rows_in_ = 0;
  std::vector<int32_t> column_sum_;
  std::vector<int32_t> row_sum_;
  std::vector<int32_t> columns_in_;
};

// The integral image of an 8-bit image, a ring of its rows in 16-bit lanes: row t holds, at
// column x, the sum of the pixels above row t and left of column x, modulo 2^16. The sum of any
// window is four of these values added and subtracted, modulo 2^16, so it comes out exact
// whenever it fits in 16 bits: for windows of up to 15 x 15 pixels (kNarrowWindowReach) every
// window costs four loads a pixel, whatever its size, and all windows share the rows.
class NarrowIntegralRows {
 public:
  // Returns false when the rows cannot be allocated. Windows of radius up to reach are read.
  bool Init(int width, int reach) {
    assert(width > 0 && reach >= 0 && reach <= kNarrowWindowReach);
    width_ = width;
    reach_ = reach;
    rows_ = 2 * reach + 2;
    next_ = 1;
    // Columns -reach .. width + reach: 0 left of the image, row[width] right of it, so that a
    // window clipped at either side needs no test.
    stride_ = static_cast<size_t>(width) + 1 + 2 * static_cast<size_t>(reach);
    try {
      data_.assign(stride_ * static_cast<size_t>(rows_), 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Computes the integral rows up to row last from the image rows source(0 .. last - 1), which
  // must still hold their unfiltered values; the last 2 reach + 2 integral rows stay readable.
  template <typename RowSource>
  void ComputeThrough(int last, RowSource&& source) {
    for (; next_ <= last; ++next_) {
      uint16_t* row = Slot(next_);
      IntegralRow16(Slot(next_ - 1), source(next_ - 1), width_, row);
      std::fill(row + width_ + 1, row + width_ + 1 + reach_, row[width_]);
    }
  }

  // Integral row t, readable from column -reach to width + reach.
  const uint16_t* Row(int t) const {
    return data_.data() + static_cast<size_t>(t % rows_) * stride_ + static_cast<size_t>(reach_);
  }

 private:
  uint16_t* Slot(int t) {
    return data_.data() + static_cast<size_t>(t % rows_) * stride_ + static_cast<size_t>(reach_);
  }

  int width_ = 0;
  int reach_ = 0;
  int rows_ = 1;
  int next_ = 1;  // integral row 0 is all zeros
  size_t stride_ = 0;
  std::vector<uint16_t> data_;
};

// The sums of windows of one radius over a row of a NarrowIntegralRows image, with their pixel
// counts inside the image (the interface of WindowSums).
class NarrowWindowSums {
 public:
  // Returns false when the sums cannot be allocated.
  bool Init(int width, int height, int radius) {
    assert(width > 0 && height > 0 && radius >= 0 && radius <= kNarrowWindowReach);
    width_ = width;
    height_ = height;
    radius_ = radius;
    const auto w = static_cast<size_t>(width);
    try {
      row_sum_.assign(w, 0);
      columns_in_.assign(w, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (int x = 0; x < width; ++x) {
      columns_in_[static_cast<size_t>(x)] =
          static_cast<uint16_t>(std::min(x + radius, width - 1) - std::max(x - radius, 0) + 1);
    }
    return true;
  }

  // The window sums of row y, clipped to the image, from integral rows that reach row
  // y + radius + 1 (clipped).
  void Take(int y, const NarrowIntegralRows& integral) {
    const int top = std::max(y - radius_, 0);
    const int bottom = std::min(y + radius_ + 1, height_);
    rows_in_ = static_cast<uint16_t>(bottom - top);
    BoxFromIntegralRows16(integral.Row(top), integral.Row(bottom), width_, radius_,
                          row_sum_.data());
  }

  int32_t Sum(int x) const { return row_sum_[static_cast<size_t>(x)]; }
  const uint16_t* Sums() const { return row_sum_.data(); }
  int32_t Count(int x) const { return columns_in_[static_cast<size_t>(x)] * rows_in_; }
  const uint16_t* ColumnsIn() const { return columns_in_.data(); }
  uint16_t RowsIn() const { return rows_in_; }

 private:
  int width_ = 0;
  int height_ = 0;
  int radius_ = 0;
  uint16_t rows_in_ = 0;
  std::vector<uint16_t> row_sum_;
  std::vector<uint16_t> columns_in_;
};

}  // namespace ridgeline
