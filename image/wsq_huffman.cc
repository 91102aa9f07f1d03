// Canonical Huffman codes as in baseline JPEG: codes of one length are consecutive numbers,
// and the first code of length l + 1 is (last code of length l + 1) x 2. Entropy-coded data is
// packed most significant bit first; a data byte 0xFF is followed by a stuffed 0x00, so 0xFF
// followed by anything else is a marker, which ends the block.
#include "image/wsq_huffman.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "image/print_image.h"

namespace ridgeline::image::wsq {
namespace {

bool IsRestartMarker(uint8_t code) { return code >= 0xB0 && code <= 0xB7; }

class BitReader {
 public:
  enum : int { kMarker = -1, kEnd = -2 };

  BitReader(std::span<const uint8_t> bytes, size_t start) : bytes_(bytes), at_(start) {}

  // The next bit, kMarker when a marker stands at the next byte (it is not consumed), or kEnd
  // when the bytes run out without one.
  int Bit() {
    if (left_ == 0) {
      if (at_ >= bytes_.size()) return kEnd;
      const uint8_t byte = bytes_[at_];
      if (byte == 0xFF) {
        if (at_ + 1 >= bytes_.size()) return kEnd;
        if (bytes_[at_ + 1] != 0x00) return kMarker;
        at_ += 2;
      } else {
        at_ += 1;
      }
      current_ = byte;
      left_ = 8;
    }
    --left_;
    return (current_ >> left_) & 1;
  }

  // n bits (n <= 16) as a number; -1 when a marker or the end interrupts them.
  int32_t Bits(int n) {
    int32_t value = 0;
    for (int i = 0; i < n; ++i) {
      const int bit = Bit();
      if (bit < 0) return -1;
      value = (value << 1) | bit;
    }
    return value;
  }

  // Drops what is left of the current byte: data restarts on a byte boundary after a restart
  // marker.
  void SkipMarker() {
    left_ = 0;
    at_ += 2;
  }

  size_t position() const { return at_; }
  uint8_t marker_code() const { return bytes_[at_ + 1]; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_;
  uint8_t current_ = 0;
  int left_ = 0;
};

[[noreturn]] void Fail(const std::string& what) { throw InputError(what); }

}  // namespace

bool BuildHuffmanTable(std::span<const uint8_t, kMaxCodeLength> bits,
                       std::span<const uint8_t> values, HuffmanTable* table, const char** why) {
  size_t count = 0;
  for (uint8_t b : bits) count += b;
  if (count == 0) {
    *why = "a Huffman table has no codes";
    return false;
  }
  if (count > kMaxTableValues || count != values.size()) {
    *why = "a Huffman table's code counts do not match its symbols";
    return false;
  }
  std::copy(bits.begin(), bits.end(), table->bits.begin());
  table->values.assign(values.begin(), values.end());
  int32_t code = 0;
  int32_t index = 0;
  for (int l = 0; l < kMaxCodeLength; ++l) {
    table->first_code[l] = code;
    table->first_value[l] = index;
    code += bits[l];
    index += bits[l];
    // Codes of length l + 1 are the numbers below 2^(l+1); more would not be a prefix code.
    if (code > (int32_t{1} << (l + 1))) {
      *why = "a Huffman table has more codes of some length than fit";
      return false;
    }
    table->last_code[l] = bits[l] == 0 ? -1 : code - 1;
    code <<= 1;
  }
  return true;
}

std::array<HuffmanCode, 256> CanonicalCodes(const HuffmanTable& table) {
  std::array<HuffmanCode, 256> codes{};
  size_t index = 0;
  for (int l = 0; l < kMaxCodeLength; ++l) {
    for (int i = 0; i < table.bits[l]; ++i, ++index) {
      codes[table.values[index]] = {static_cast<uint16_t>(table.first_code[l] + i),
                                    static_cast<uint8_t>(l + 1)};
    }
  }
  return codes;
}

size_t DecodeBlock(std::span<const uint8_t> bytes, size_t start, const HuffmanTable& table,
                   size_t limit, std::vector<int32_t>* out) {
  BitReader in(bytes, start);
  auto append_zeros = [&](int32_t run) {
    if (run > static_cast<int32_t>(limit - out->size())) {
      Fail("the image data holds more coefficients than the image has");
    }
    out->insert(out->end(), static_cast<size_t>(run), 0);
  };
  auto append = [&](int32_t value) {
    if (out->size() >= limit) Fail("the image data holds more coefficients than the image has");
    out->push_back(value);
  };
  auto extra = [&](int n) {
    const int32_t value = in.Bits(n);
    if (value < 0) Fail("the image data breaks off inside a coefficient");
    return value;
  };
  for (;;) {
    // The padding after a block's last code is 1-bits, which start a code that the marker cuts
    // off; a marker anywhere inside a code therefore ends the block (or, for a restart marker,
    // only the current byte-aligned stretch of it).
    int32_t code = 0;
    int length = 0;
    bool cut = false;
    while (true) {
      const int bit = in.Bit();
      if (bit == BitReader::kEnd) Fail("the image data ends without an end-of-image marker");
      if (bit == BitReader::kMarker) {
        cut = true;
        break;
      }
      code = (code << 1) | bit;
      ++length;
      if (table.last_code[length - 1] >= code) break;
      if (length == kMaxCodeLength) Fail("the image data holds an invalid Huffman code");
    }
    if (cut) {
      if (IsRestartMarker(in.marker_code())) {
        in.SkipMarker();
        continue;
      }
      return in.position();
    }
    const int l = length - 1;
    const int symbol =
        table.values[static_cast<size_t>(table.first_value[l] + code - table.first_code[l])];
    if (symbol >= 1 && symbol <= kMaxShortRun) {
      append_zeros(symbol);
    } else if (symbol == kRun8 || symbol == kRun16) {
      append_zeros(extra(symbol == kRun8 ? 8 : 16));
    } else if (symbol >= kPositive8 && symbol <= kNegative16) {
      const int32_t magnitude = extra(symbol <= kNegative8 ? 8 : 16);
      append(symbol == kPositive8 || symbol == kPositive16 ? magnitude : -magnitude);
    } else if (symbol > kRun16 && symbol < 255) {
      append(symbol - kValueOffset);
    } else {
      Fail("the image data holds the invalid symbol " + std::to_string(symbol));
    }
  }
}

HuffmanTable OptimalHuffmanTable(const std::array<uint32_t, 256>& frequencies) {
  // Code sizes by repeatedly merging the two least frequent groups; a reserved extra symbol
  // with frequency 1 keeps the all-ones code of the longest length from any real symbol. Ties
  // go to the larger symbol number, which makes the tables the same as other encoders build.
  constexpr int kSymbols = 257;
  std::array<uint64_t, kSymbols> freq{};
  std::array<int, kSymbols> size{};
  std::array<int, kSymbols> next{};
  for (int s = 0; s < 256; ++s) freq[s] = frequencies[s];
  freq[256] = 1;
  next.fill(-1);
  for (;;) {
    int v1 = -1;
    int v2 = -1;
    for (int s = 0; s < kSymbols; ++s) {
      if (freq[s] == 0) continue;
      if (v1 < 0 || freq[s] <= freq[v1]) {
        v2 = v1;
        v1 = s;
      } else if (v2 < 0 || freq[s] <= freq[v2]) {
        v2 = s;
      }
    }
    if (v2 < 0) break;
    freq[v1] += freq[v2];
    freq[v2] = 0;
    int s = v1;
    for (;;) {
      ++size[s];
      if (next[s] < 0) break;
      s = next[s];
    }
    next[s] = v2;
    for (s = v2;; s = next[s]) {
      ++size[s];
      if (next[s] < 0) break;
    }
  }
  std::array<int, 33> count{};
  for (int s = 0; s < kSymbols; ++s) {
    if (size[s] > 0) ++count[std::min(size[s], 32)];
  }
  for (int l = 32; l > kMaxCodeLength; --l) {
    while (count[l] > 0) {
      int j = l - 2;
      while (count[j] == 0) --j;
      count[l] -= 2;
      count[l - 1] += 1;
      count[j + 1] += 2;
      count[j] -= 1;
    }
  }
  int longest = kMaxCodeLength;
  while (count[longest] == 0) --longest;
  count[longest] -= 1;  // the reserved symbol's code
  HuffmanTable table;
  std::vector<uint8_t> values;
  for (int l = 1; l <= 32; ++l) {
    for (int s = 0; s < 256; ++s) {
      if (size[s] == l) values.push_back(static_cast<uint8_t>(s));
    }
  }
  // Symbols keep their order by original size; after shortening the counts assign the sizes.
  std::array<uint8_t, kMaxCodeLength> bits{};
  for (int l = 1; l <= kMaxCodeLength; ++l) bits[l - 1] = static_cast<uint8_t>(count[l]);
  const char* why = nullptr;
  const bool ok = BuildHuffmanTable(bits, values, &table, &why);
  assert(ok);
  (void)ok;
  return table;
}

}  // namespace ridgeline::image::wsq
