// Huffman coding of WSQ coefficient blocks: canonical code tables (16 code lengths, up to 256
// symbols), the bit reader over byte-stuffed entropy-coded data, and the symbol alphabet of zero
// runs and coefficient values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ridgeline::image::wsq {

constexpr int kMaxCodeLength = 16;
constexpr size_t kMaxTableValues = 256;

// Symbols: 1..100 a run of that many zero coefficients; 101/102 a positive/negative value with
// an 8-bit magnitude following, 103/104 the same with 16 bits; 105/106 a zero run with an 8/16-bit
// length; 107..254 the value symbol - 180.
constexpr int kMaxShortRun = 100;
constexpr int kPositive8 = 101;
constexpr int kNegative8 = 102;
constexpr int kPositive16 = 103;
constexpr int kNegative16 = 104;
constexpr int kRun8 = 105;
constexpr int kRun16 = 106;
constexpr int kValueOffset = 180;
constexpr int kMinShortValue = 107 - kValueOffset;  // -73
constexpr int kMaxShortValue = 254 - kValueOffset;  // 74

struct HuffmanTable {
  std::array<uint8_t, kMaxCodeLength> bits{};  // number of codes of length 1 .. 16
  std::vector<uint8_t> values;                 // symbols in code order
  // Decoding aids, per code length l (index l - 1): the first and last code of that length
  // (last = -1 when none) and the index in `values` of the first symbol of that length.
  std::array<int32_t, kMaxCodeLength> first_code{};
  std::array<int32_t, kMaxCodeLength> last_code{};
  std::array<int32_t, kMaxCodeLength> first_value{};
};

// Builds a table from its code length counts and symbols. Returns false (with `why` set) when
// the counts do not fit the symbols or cannot form a prefix code of at most 16 bits.
bool BuildHuffmanTable(std::span<const uint8_t, kMaxCodeLength> bits,
                       std::span<const uint8_t> values, HuffmanTable* table, const char** why);

// The canonical code of each symbol (index = symbol, length 0 when the symbol has no code).
struct HuffmanCode {
  uint16_t code = 0;
  uint8_t length = 0;
};
std::array<HuffmanCode, 256> CanonicalCodes(const HuffmanTable& table);

// Decodes one block of entropy-coded data that starts at bytes[start] and ends at the next
// marker other than a restart marker, appending the coefficients to `out` (never beyond
// `limit` values in all). Returns the offset of the marker that ended the block. Throws
// InputError (message without a file name) for bad codes, truncation or too many values.
size_t DecodeBlock(std::span<const uint8_t> bytes, size_t start, const HuffmanTable& table,
                   size_t limit, std::vector<int32_t>* out);

// Code lengths for the symbols with non-zero frequency, limited to 16 bits, as a table whose
// codes never consist of 1-bits only. REQUIRES: at least one non-zero frequency.
HuffmanTable OptimalHuffmanTable(const std::array<uint32_t, 256>& frequencies);

}  // namespace ridgeline::image::wsq
