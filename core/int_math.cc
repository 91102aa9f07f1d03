#include "core/int_math.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "core/exact_divider.h"

namespace ridgeline {

const uint8_t kArctanTable[50][50] = {
    {90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {90, 45, 27, 18, 14, 11, 9, 8, 7, 6, 6, 5, 5, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 2, 2,
     2,  2,  2,  2,  2,  2,  2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {90, 63, 45, 34, 27, 22, 18, 16, 14, 13, 11, 10, 9, 9, 8, 8, 7, 7, 6, 6, 6, 5, 5, 5, 5,
     5,  4,  4,  4,  4,  4,  4,  4,  3,  3,  3,  3,  3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2},
    {90, 72, 56, 45, 37, 31, 27, 23, 21, 18, 17, 15, 14, 13, 12, 11, 11, 10, 9, 9, 9, 8, 8, 7, 7,
     7,  7,  6,  6,  6,  6,  6,  5,  5,  5,  5,  5,  5,  5,  4,  4,  4,  4,  4, 4, 4, 4, 4, 4, 4},
    {90, 76, 63, 53, 45, 39, 34, 30, 27, 24, 22, 20, 18, 17, 16, 15, 14,
     13, 13, 12, 11, 11, 10, 10, 9,  9,  9,  8,  8,  8,  8,  7,  7,  7,
     7,  7,  6,  6,  6,  6,  6,  6,  5,  5,  5,  5,  5,  5,  5,  5},
    {90, 79, 68, 59, 51, 45, 40, 36, 32, 29, 27, 24, 23, 21, 20, 18, 17,
     16, 16, 15, 14, 13, 13, 12, 12, 11, 11, 10, 10, 10, 9,  9,  9,  9,
     8,  8,  8,  8,  7,  7,  7,  7,  7,  7,  6,  6,  6,  6,  6,  6},
    {90, 81, 72, 63, 56, 50, 45, 41, 37, 34, 31, 29, 27, 25, 23, 22, 21,
     19, 18, 18, 17, 16, 15, 15, 14, 13, 13, 13, 12, 12, 11, 11, 11, 10,
     10, 10, 9,  9,  9,  9,  9,  8,  8,  8,  8,  8,  7,  7,  7,  7},
    {90, 82, 74, 67, 60, 54, 49, 45, 41, 38, 35, 32, 30, 28, 27, 25, 24,
     22, 21, 20, 19, 18, 18, 17, 16, 16, 15, 15, 14, 14, 13, 13, 12, 12,
     12, 11, 11, 11, 10, 10, 10, 10, 9,  9,  9,  9,  9,  8,  8,  8},
    {90, 83, 76, 69, 63, 58, 53, 49, 45, 42, 39, 36, 34, 32, 30, 28, 27,
     25, 24, 23, 22, 21, 20, 19, 18, 18, 17, 17, 16, 15, 15, 14, 14, 14,
     13, 13, 13, 12, 12, 12, 11, 11, 11, 11, 10, 10, 10, 10, 9,  9},
    {90, 84, 77, 72, 66, 61, 56, 52, 48, 45, 42, 39, 37, 35, 33, 31, 29,
     28, 27, 25, 24, 23, 22, 21, 21, 20, 19, 18, 18, 17, 17, 16, 16, 15,
     15, 14, 14, 14, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 10},
    {90, 84, 79, 73, 68, 63, 59, 55, 51, 48, 45, 42, 40, 38, 36, 34, 32,
     30, 29, 28, 27, 25, 24, 23, 23, 22, 21, 20, 20, 19, 18, 18, 17, 17,
     16, 16, 16, 15, 15, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12},
    {90, 85, 80, 75, 70, 66, 61, 58, 54, 51, 48, 45, 43, 40, 38, 36, 35,
     33, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 21, 20, 20, 19, 18,
     18, 17, 17, 17, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 13},
    {90, 85, 81, 76, 72, 67, 63, 60, 56, 53, 50, 47, 45, 43, 41, 39, 37,
     35, 34, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 22, 21, 21, 20,
     19, 19, 18, 18, 18, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14},
    {90, 86, 81, 77, 73, 69, 65, 62, 58, 55, 52, 50, 47, 45, 43, 41, 39,
     37, 36, 34, 33, 32, 31, 29, 28, 27, 27, 26, 25, 24, 23, 23, 22, 22,
     21, 20, 20, 19, 19, 18, 18, 18, 17, 17, 16, 16, 16, 15, 15, 15},
    {90, 86, 82, 78, 74, 70, 67, 63, 60, 57, 54, 52, 49, 47, 45, 43, 41,
     39, 38, 36, 35, 34, 32, 31, 30, 29, 28, 27, 27, 26, 25, 24, 24, 23,
     22, 22, 21, 21, 20, 20, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16},
    {90, 86, 82, 79, 75, 72, 68, 65, 62, 59, 56, 54, 51, 49, 47, 45, 43,
     41, 40, 38, 37, 36, 34, 33, 32, 31, 30, 29, 28, 27, 27, 26, 25, 24,
     24, 23, 23, 22, 22, 21, 21, 20, 20, 19, 19, 18, 18, 18, 17, 17},
    {90, 86, 83, 79, 76, 73, 69, 66, 63, 61, 58, 55, 53, 51, 49, 47, 45,
     43, 42, 40, 39, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 27, 26,
     25, 25, 24, 23, 23, 22, 22, 21, 21, 20, 20, 20, 19, 19, 18, 18},
    {90, 87, 83, 80, 77, 74, 71, 68, 65, 62, 60, 57, 55, 53, 51, 49, 47,
     45, 43, 42, 40, 39, 38, 36, 35, 34, 33, 32, 31, 30, 30, 29, 28, 27,
     27, 26, 25, 25, 24, 24, 23, 23, 22, 22, 21, 21, 20, 20, 20, 19},
    {90, 87, 84, 81, 77, 74, 72, 69, 66, 63, 61, 59, 56, 54, 52, 50, 48,
     47, 45, 43, 42, 41, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 29,
     28, 27, 27, 26, 25, 25, 24, 24, 23, 23, 22, 22, 21, 21, 21, 20},
    {90, 87, 84, 81, 78, 75, 72, 70, 67, 65, 62, 60, 58, 56, 54, 52, 50,
     48, 47, 45, 44, 42, 41, 40, 38, 37, 36, 35, 34, 33, 32, 32, 31, 30,
     29, 28, 28, 27, 27, 26, 25, 25, 24, 24, 23, 23, 22, 22, 22, 21},
    {90, 87, 84, 81, 79, 76, 73, 71, 68, 66, 63, 61, 59, 57, 55, 53, 51,
     50, 48, 46, 45, 44, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31,
     30, 30, 29, 28, 28, 27, 27, 26, 25, 25, 24, 24, 23, 23, 23, 22},
    {90, 87, 85, 82, 79, 77, 74, 72, 69, 67, 65, 62, 60, 58, 56, 54, 53,
     51, 49, 48, 46, 45, 44, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32,
     32, 31, 30, 30, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23},
    {90, 87, 85, 82, 80, 77, 75, 72, 70, 68, 66, 63, 61, 59, 58, 56, 54,
     52, 51, 49, 48, 46, 45, 44, 43, 41, 40, 39, 38, 37, 36, 35, 35, 34,
     33, 32, 31, 31, 30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24},
    {90, 88, 85, 83, 80, 78, 75, 73, 71, 69, 67, 64, 62, 61, 59, 57, 55,
     54, 52, 50, 49, 48, 46, 45, 44, 43, 41, 40, 39, 38, 37, 37, 36, 35,
     34, 33, 33, 32, 31, 31, 30, 29, 29, 28, 28, 27, 27, 26, 26, 25},
    {90, 88, 85, 83, 81, 78, 76, 74, 72, 69, 67, 65, 63, 62, 60, 58, 56,
     55, 53, 52, 50, 49, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37, 36,
     35, 34, 34, 33, 32, 32, 31, 30, 30, 29, 29, 28, 28, 27, 27, 26},
    {90, 88, 85, 83, 81, 79, 77, 74, 72, 70, 68, 66, 64, 63, 61, 59, 57,
     56, 54, 53, 51, 50, 49, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38, 37,
     36, 36, 35, 34, 33, 33, 32, 31, 31, 30, 30, 29, 29, 28, 28, 27},
    {90, 88, 86, 83, 81, 79, 77, 75, 73, 71, 69, 67, 65, 63, 62, 60, 58,
     57, 55, 54, 52, 51, 50, 49, 47, 46, 45, 44, 43, 42, 41, 40, 39, 38,
     37, 37, 36, 35, 34, 34, 33, 32, 32, 31, 31, 30, 29, 29, 28, 28},
    {90, 88, 86, 84, 82, 80, 77, 75, 73, 72, 70, 68, 66, 64, 63, 61, 59,
     58, 56, 55, 53, 52, 51, 50, 48, 47, 46, 45, 44, 43, 42, 41, 40, 39,
     38, 38, 37, 36, 35, 35, 34, 33, 33, 32, 32, 31, 30, 30, 29, 29},
    {90, 88, 86, 84, 82, 80, 78, 76, 74, 72, 70, 69, 67, 65, 63, 62, 60,
     59, 57, 56, 54, 53, 52, 51, 49, 48, 47, 46, 45, 44, 43, 42, 41, 40,
     39, 39, 38, 37, 36, 36, 35, 34, 34, 33, 32, 32, 31, 31, 30, 30},
    {90, 88, 86, 84, 82, 80, 78, 76, 75, 73, 71, 69, 68, 66, 64, 63, 61,
     60, 58, 57, 55, 54, 53, 52, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
     40, 40, 39, 38, 37, 37, 36, 35, 35, 34, 33, 33, 32, 32, 31, 31},
    {90, 88, 86, 84, 82, 81, 79, 77, 75, 73, 72, 70, 68, 67, 65, 63, 62,
     60, 59, 58, 56, 55, 54, 53, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42,
     41, 41, 40, 39, 38, 38, 37, 36, 36, 35, 34, 34, 33, 33, 32, 31},
    {90, 88, 86, 84, 83, 81, 79, 77, 76, 74, 72, 70, 69, 67, 66, 64, 63,
     61, 60, 58, 57, 56, 55, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43,
     42, 42, 41, 40, 39, 38, 38, 37, 36, 36, 35, 35, 34, 33, 33, 32},
    {90, 88, 86, 85, 83, 81, 79, 78, 76, 74, 73, 71, 69, 68, 66, 65, 63,
     62, 61, 59, 58, 57, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44,
     43, 42, 42, 41, 40, 39, 39, 38, 37, 37, 36, 35, 35, 34, 34, 33},
    {90, 88, 87, 85, 83, 81, 80, 78, 76, 75, 73, 72, 70, 68, 67, 66, 64,
     63, 61, 60, 59, 58, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45,
     44, 43, 43, 42, 41, 40, 40, 39, 38, 38, 37, 36, 36, 35, 35, 34},
    {90, 88, 87, 85, 83, 82, 80, 78, 77, 75, 74, 72, 71, 69, 68, 66, 65,
     63, 62, 61, 60, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46,
     45, 44, 43, 43, 42, 41, 40, 40, 39, 38, 38, 37, 36, 36, 35, 35},
    {90, 88, 87, 85, 83, 82, 80, 79, 77, 76, 74, 73, 71, 70, 68, 67, 65,
     64, 63, 62, 60, 59, 58, 57, 56, 54, 53, 52, 51, 50, 49, 48, 48, 47,
     46, 45, 44, 43, 43, 42, 41, 40, 40, 39, 39, 38, 37, 37, 36, 36},
    {90, 88, 87, 85, 84, 82, 81, 79, 77, 76, 74, 73, 72, 70, 69, 67, 66,
     65, 63, 62, 61, 60, 59, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47,
     47, 46, 45, 44, 43, 43, 42, 41, 41, 40, 39, 39, 38, 37, 37, 36},
    {90, 88, 87, 85, 84, 82, 81, 79, 78, 76, 75, 73, 72, 71, 69, 68, 67,
     65, 64, 63, 62, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48,
     47, 47, 46, 45, 44, 43, 43, 42, 41, 41, 40, 39, 39, 38, 38, 37},
    {90, 88, 87, 85, 84, 83, 81, 80, 78, 77, 75, 74, 72, 71, 70, 68, 67,
     66, 65, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49,
     48, 47, 47, 46, 45, 44, 44, 43, 42, 41, 41, 40, 40, 39, 38, 38},
    {90, 89, 87, 86, 84, 83, 81, 80, 78, 77, 76, 74, 73, 72, 70, 69, 68,
     66, 65, 64, 63, 62, 61, 59, 58, 57, 56, 55, 54, 53, 52, 52, 51, 50,
     49, 48, 47, 47, 46, 45, 44, 44, 43, 42, 42, 41, 40, 40, 39, 39},
    {90, 89, 87, 86, 84, 83, 81, 80, 79, 77, 76, 75, 73, 72, 71, 69, 68,
     67, 66, 65, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50,
     50, 49, 48, 47, 46, 46, 45, 44, 44, 43, 42, 42, 41, 40, 40, 39},
    {90, 89, 87, 86, 84, 83, 82, 80, 79, 78, 76, 75, 74, 72, 71, 70, 69,
     67, 66, 65, 64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51,
     50, 50, 49, 48, 47, 46, 46, 45, 44, 44, 43, 42, 42, 41, 41, 40},
    {90, 89, 87, 86, 85, 83, 82, 81, 79, 78, 77, 75, 74, 73, 72, 70, 69,
     68, 67, 66, 65, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 54, 53, 52,
     51, 50, 49, 49, 48, 47, 46, 46, 45, 44, 44, 43, 42, 42, 41, 41},
    {90, 89, 87, 86, 85, 83, 82, 81, 79, 78, 77, 76, 74, 73, 72, 71, 70,
     68, 67, 66, 65, 64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52,
     52, 51, 50, 49, 49, 48, 47, 46, 46, 45, 44, 44, 43, 42, 42, 41},
    {90, 89, 87, 86, 85, 84, 82, 81, 80, 78, 77, 76, 75, 74, 72, 71, 70,
     69, 68, 67, 66, 64, 63, 62, 61, 60, 59, 58, 58, 57, 56, 55, 54, 53,
     52, 51, 51, 50, 49, 48, 48, 47, 46, 46, 45, 44, 44, 43, 43, 42},
    {90, 89, 87, 86, 85, 84, 82, 81, 80, 79, 77, 76, 75, 74, 73, 72, 70,
     69, 68, 67, 66, 65, 64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 55, 54,
     53, 52, 51, 51, 50, 49, 48, 48, 47, 46, 46, 45, 44, 44, 43, 43},
    {90, 89, 88, 86, 85, 84, 83, 81, 80, 79, 78, 77, 75, 74, 73, 72, 71,
     70, 69, 68, 67, 65, 64, 63, 62, 61, 61, 60, 59, 58, 57, 56, 55, 54,
     54, 53, 52, 51, 50, 50, 49, 48, 48, 47, 46, 46, 45, 44, 44, 43},
    {90, 89, 88, 86, 85, 84, 83, 82, 80, 79, 78, 77, 76, 75, 73, 72, 71,
     70, 69, 68, 67, 66, 65, 64, 63, 62, 61, 60, 59, 58, 57, 57, 56, 55,
     54, 53, 53, 52, 51, 50, 50, 49, 48, 48, 47, 46, 46, 45, 44, 44},
    {90, 89, 88, 86, 85, 84, 83, 82, 81, 79, 78, 77, 76, 75, 74, 73, 72,
     70, 69, 68, 67, 66, 65, 64, 63, 62, 62, 61, 60, 59, 58, 57, 56, 55,
     55, 54, 53, 52, 52, 51, 50, 49, 49, 48, 47, 47, 46, 46, 45, 44},
    {90, 89, 88, 86, 85, 84, 83, 82, 81, 80, 78, 77, 76, 75, 74, 73, 72,
     71, 70, 69, 68, 67, 66, 65, 64, 63, 62, 61, 60, 59, 59, 58, 57, 56,
     55, 54, 54, 53, 52, 51, 51, 50, 49, 49, 48, 47, 47, 46, 46, 45},
};

namespace {

constexpr int kSqrtTableSize = 4096;

constexpr std::array<uint8_t, kSqrtTableSize> MakeSqrtTable() {
  std::array<uint8_t, kSqrtTableSize> table{};
  int r = 0;
  for (int n = 0; n < kSqrtTableSize; ++n) {
    while ((r + 1) * (r + 1) <= n) ++r;
    table[static_cast<size_t>(n)] = static_cast<uint8_t>(r);
  }
  return table;
}

constexpr std::array<uint8_t, kSqrtTableSize> kSqrtTable = MakeSqrtTable();

}  // namespace

int IntSqrt(int64_t n) {
  if (n < kSqrtTableSize) return n <= 0 ? 0 : kSqrtTable[static_cast<size_t>(n)];
  // The table gives the leading bits of the root of n >> shift; the remaining shift / 2 bits
  // are settled from the top by comparing squares. The shift grows in steps of two until the
  // table covers n >> shift, so values of 2^20 and above stay exact.
  int shift = 2;
  while ((n >> shift) >= kSqrtTableSize) shift += 2;
  int64_t root = static_cast<int64_t>(kSqrtTable[static_cast<size_t>(n >> shift)]) << (shift / 2);
  for (int64_t bit = int64_t{1} << (shift / 2 - 1); bit > 0; bit >>= 1) {
    const int64_t candidate = root + bit;
    if (candidate * candidate <= n) root = candidate;
  }
  return static_cast<int>(root);
}

int LineAngle(int x1, int y1, int x2, int y2) {
  const int dx = x2 - x1;
  const int dy = y2 - y1;
  int a = dy < 0 ? -dy : dy;
  int b = dx < 0 ? -dx : dx;
  while (a > 49 || b > 49) {
    a >>= 1;
    b >>= 1;
  }
  int f = kArctanTable[a][b];
  if (dx <= 0) {
    f = dy <= 0 ? f + 180 : 180 - f;
  } else if (dy < 0) {
    f = 360 - f;
  }
  int g = 180 - f;
  if (g < 0) g += 360;
  if (g >= 360) g -= 360;
  return g;
}

bool BoxMean(int width, int height, GrayImage image, int radius) {
  if (width <= 0 || height <= 0) return true;
  const int ring_rows = 2 * radius + 2;
  const size_t w = static_cast<size_t>(width);
  std::vector<uint8_t> ring;
  std::vector<int32_t> column_sum;
  try {
    ring.resize(static_cast<size_t>(ring_rows) * w);
    column_sum.assign(w, 0);
  } catch (...) {
    return false;
  }
  auto ring_row = [&](int y) { return ring.data() + static_cast<size_t>(y % ring_rows) * w; };

  // Rows 0 .. radius - 1 enter before the first output row.
  int next_row = 0;  // the next source row to enter the column sums
  auto enter = [&](int y) {
    std::memcpy(ring_row(y), image[y], w);
    const uint8_t* src = image[y];
    for (size_t x = 0; x < w; ++x) column_sum[x] += src[x];
  };
  for (; next_row < height && next_row < radius; ++next_row) enter(next_row);

  for (int y = 0; y < height; ++y) {
    // Column sums hold the source rows y - radius .. y + radius clipped to the image.
    const bool enters = next_row < height && next_row <= y + radius;
    const int leaving = y - radius - 1;
    if (enters && leaving >= 0) {
      // The row entering and the row leaving in one pass (the ring keeps 2 radius + 2 rows, so
      // the leaving row is still there while the entering one is copied in).
      std::memcpy(ring_row(next_row), image[next_row], w);
      const uint8_t* __restrict src = image[next_row];
      const uint8_t* __restrict old = ring_row(leaving);
      int32_t* __restrict sums = column_sum.data();
      for (size_t x = 0; x < w; ++x) sums[x] += static_cast<int16_t>(src[x] - old[x]);
      ++next_row;
    } else {
      if (enters) {
        enter(next_row);
        ++next_row;
      }
      if (leaving >= 0) {
        const uint8_t* old = ring_row(leaving);
        for (size_t x = 0; x < w; ++x) column_sum[x] -= old[x];
      }
    }
    const int top = y - radius < 0 ? 0 : y - radius;
    const int bottom = y + radius >= height ? height - 1 : y + radius;
    const int rows_in = bottom - top + 1;

    // Running row sum over column sums x - radius .. x + radius clipped to the image. Where the
    // window lies wholly inside the row the divisor is the same for every pixel and the
    // division is a multiplication.
    int32_t sum = 0;
    int right = 0;  // the next column to enter the running sum
    for (; right < width && right < radius; ++right) sum += column_sum[static_cast<size_t>(right)];
    uint8_t* out = image[y];
    const int whole_first = radius;
    const int whole_end = width - radius;  // columns whole_first .. whole_end - 1
    const ExactDivider whole(static_cast<uint32_t>((2 * radius + 1) * rows_in));
    int x = 0;
    auto clipped = [&](int end) {
      for (; x < end; ++x) {
        if (right < width && right <= x + radius) {
          sum += column_sum[static_cast<size_t>(right)];
          ++right;
        }
        const int gone = x - radius - 1;
        if (gone >= 0) sum -= column_sum[static_cast<size_t>(gone)];
        const int left = x - radius < 0 ? 0 : x - radius;
        const int last = x + radius >= width ? width - 1 : x + radius;
        out[x] = static_cast<uint8_t>(sum / ((last - left + 1) * rows_in));
      }
    };
    if (whole_end > whole_first && whole.exact_below_256_times()) {
      clipped(whole_first);
      // Here right == x + radius and column x - radius - 1 (if any) is still in the sum; x is
      // whole_first == radius, so only this first column has none to leave, and the loop after
      // it runs without a test.
      const int32_t* __restrict columns = column_sum.data();
      sum += columns[x + radius];
      out[x] = static_cast<uint8_t>(whole.Divide(static_cast<uint32_t>(sum)));
      for (++x; x < whole_end; ++x) {
        sum += columns[x + radius] - columns[x - radius - 1];
        out[x] = static_cast<uint8_t>(whole.Divide(static_cast<uint32_t>(sum)));
      }
      right = whole_end + radius;
    }
    clipped(width);
  }
  return true;
}

namespace {

// out[x] = (column[x - 1] + column[x] + column[x + 1]) / divisor for x = 1 .. width - 2, one
// loop per divisor so that each division by a constant vectorises.
template <uint16_t kDivisor>
void Mean3AlongRow(const uint16_t* __restrict column, int width, uint8_t* __restrict out) {
  for (int x = 1; x < width - 1; ++x) {
    out[x] = static_cast<uint8_t>(static_cast<uint16_t>(column[x - 1] + column[x] + column[x + 1]) /
                                  kDivisor);
  }
}

}  // namespace

// The 3 x 3 case on its own: the column sums of three rows fit 16 bits, and the divisor is 9
// inside, 6 on the first and last rows, so each row is a few vectorised loops. Images
// narrower or lower than 3 pixels take the general path.
bool BoxMean3(int width, int height, GrayImage image) {
  if (width < 3 || height < 3) return BoxMean(width, height, image, 1);
  const size_t w = static_cast<size_t>(width);
  std::vector<uint8_t> rows;
  std::vector<uint16_t> column_sum;
  try {
    rows.assign(3 * w, 0);
    column_sum.assign(w, 0);
  } catch (...) {
    return false;
  }
  // The unfiltered rows y - 1 and y (row y + 1 is still unfiltered in the image), and a row of
  // zeros standing for the rows off the image.
  uint8_t* above = rows.data();
  uint8_t* current = rows.data() + w;
  const uint8_t* zeros = rows.data() + 2 * w;
  uint16_t* __restrict column = column_sum.data();
  for (int y = 0; y < height; ++y) {
    std::memcpy(current, image[y], w);
    const uint8_t* __restrict up = y > 0 ? above : zeros;
    const uint8_t* __restrict mid = current;
    const uint8_t* __restrict down = y + 1 < height ? image[y + 1] : zeros;
    for (size_t x = 0; x < w; ++x) column[x] = static_cast<uint16_t>(up[x] + mid[x] + down[x]);
    const int rows_in = (y > 0 ? 1 : 0) + 1 + (y + 1 < height ? 1 : 0);  // 2 or 3
    uint8_t* out = image[y];
    if (rows_in == 3) {
      Mean3AlongRow<9>(column, width, out);
    } else {
      Mean3AlongRow<6>(column, width, out);
    }
    const int edge = 2 * rows_in;
    out[0] = static_cast<uint8_t>((column[0] + column[1]) / edge);
    out[w - 1] = static_cast<uint8_t>((column[w - 2] + column[w - 1]) / edge);
    std::swap(above, current);
  }
  return true;
}

}  // namespace ridgeline
