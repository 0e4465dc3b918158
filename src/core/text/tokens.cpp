// White-space classification, splitting, token parsing and number formatting.
#include "core/text/tokens.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvane {
namespace {

// Byte classes for the splitting loops: most bytes are settled by one table
// look-up; only the four lead bytes that can start a non-ASCII white-space
// character need a look at the bytes after them.
enum ByteClass : uint8_t { kText = 0, kAsciiSpace = 1, kSpaceLead = 2 };

constexpr std::array<uint8_t, 256> make_byte_classes() {
  std::array<uint8_t, 256> table{};
  for (int c = 0x09; c <= 0x0D; ++c) table[static_cast<std::size_t>(c)] = kAsciiSpace;
  table[0x20] = kAsciiSpace;
  table[0xC2] = kSpaceLead;  // U+0085, U+00A0
  table[0xE1] = kSpaceLead;  // U+1680
  table[0xE2] = kSpaceLead;  // U+2000..U+200A, U+2028, U+2029, U+202F, U+205F
  table[0xE3] = kSpaceLead;  // U+3000
  return table;
}
constexpr std::array<uint8_t, 256> kByteClass = make_byte_classes();

// Length in bytes of the white-space character starting at lead byte `p` (one of
// the kSpaceLead bytes), or 0 when the character there is not white space.
std::size_t non_ascii_space_length(const unsigned char* p, const unsigned char* end) {
  const std::size_t avail = static_cast<std::size_t>(end - p);
  switch (p[0]) {
    case 0xC2:
      return (avail >= 2 && (p[1] == 0x85 || p[1] == 0xA0)) ? 2 : 0;
    case 0xE1:
      return (avail >= 3 && p[1] == 0x9A && p[2] == 0x80) ? 3 : 0;
    case 0xE2:
      if (avail < 3) return 0;
      if (p[1] == 0x80) {
        const unsigned char c = p[2];
        return ((c >= 0x80 && c <= 0x8A) || c == 0xA8 || c == 0xA9 || c == 0xAF) ? 3 : 0;
      }
      return (p[1] == 0x81 && p[2] == 0x9F) ? 3 : 0;
    case 0xE3:
      return (avail >= 3 && p[1] == 0x80 && p[2] == 0x80) ? 3 : 0;
    default:
      return 0;
  }
}

// Length of the white-space character at `p`, or 0 when `p` starts anything else.
std::size_t space_length(const unsigned char* p, const unsigned char* end) {
  switch (kByteClass[*p]) {
    case kAsciiSpace:
      return 1;
    case kSpaceLead:
      return non_ascii_space_length(p, end);
    default:
      return 0;
  }
}

// Length of the white-space character that ends just before `end`, or 0.
std::size_t trailing_space_length(const unsigned char* begin, const unsigned char* end) {
  const unsigned char last = end[-1];
  if (last < 0x80) return kByteClass[last] == kAsciiSpace ? 1 : 0;
  // A continuation byte: the character is two or three bytes long if it is white.
  const std::size_t avail = static_cast<std::size_t>(end - begin);
  if (avail >= 2 && end[-2] == 0xC2) return non_ascii_space_length(end - 2, end) == 2 ? 2 : 0;
  if (avail >= 3 && kByteClass[end[-3]] == kSpaceLead && end[-3] != 0xC2) {
    return non_ascii_space_length(end - 3, end) == 3 ? 3 : 0;
  }
  return 0;
}

const unsigned char* bytes_of(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

char to_lower_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (to_lower_ascii(text[i]) != lower_word[i]) return false;
  }
  return true;
}

// Unsigned digits with no overflow possible (at most 19 digits): the hot path of
// the readers, where almost every token is short.
bool short_digits(const char* p, std::size_t n, uint64_t& out) {
  uint64_t acc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto d = static_cast<unsigned char>(p[i] - '0');
    if (d > 9) return false;
    acc = acc * 10 + d;
  }
  out = acc;
  return true;
}

}  // namespace

namespace detail {
namespace {
constexpr std::array<char, 40000> make_digit_quads() {
  std::array<char, 40000> table{};
  for (std::size_t v = 0; v < 10000; ++v) {
    table[4 * v] = static_cast<char>('0' + v / 1000);
    table[4 * v + 1] = static_cast<char>('0' + v / 100 % 10);
    table[4 * v + 2] = static_cast<char>('0' + v / 10 % 10);
    table[4 * v + 3] = static_cast<char>('0' + v % 10);
  }
  return table;
}
}  // namespace
constinit const std::array<char, 40000> kDigitQuads = make_digit_quads();
}  // namespace detail

bool is_white_space(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x85) return false;
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  const unsigned char* begin = bytes_of(text);
  const unsigned char* end = begin + text.size();
  while (begin < end) {
    const std::size_t n = space_length(begin, end);
    if (n == 0) break;
    begin += n;
  }
  while (begin < end) {
    const std::size_t n = trailing_space_length(begin, end);
    if (n == 0) break;
    end -= n;
  }
  return std::string_view(reinterpret_cast<const char*>(begin),
                          static_cast<std::size_t>(end - begin));
}

void split_fields(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  const unsigned char* p = bytes_of(line);
  const unsigned char* const end = p + line.size();
  for (;;) {
    // Skip a run of white space.
    while (p < end) {
      const uint8_t cls = kByteClass[*p];
      if (cls == kText) break;
      if (cls == kAsciiSpace) {
        ++p;
        continue;
      }
      const std::size_t n = non_ascii_space_length(p, end);
      if (n == 0) break;
      p += n;
    }
    if (p == end) return;
    // Take a run of anything else; continuation bytes are kText, so a non-white
    // multi-byte character is passed over byte by byte.
    const unsigned char* start = p;
    while (p < end) {
      const uint8_t cls = kByteClass[*p];
      if (cls == kText) {
        ++p;
        continue;
      }
      if (cls == kAsciiSpace || non_ascii_space_length(p, end) != 0) break;
      ++p;
    }
    out.emplace_back(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start));
  }
}

std::string_view int_status_message(IntStatus status) {
  switch (status) {
    case IntStatus::kInvalidDigit:
      return kInvalidDigitMessage;
    case IntStatus::kTooLarge:
      return kTooLargeMessage;
    case IntStatus::kTooSmall:
      return kTooSmallMessage;
    case IntStatus::kOk:
      break;
  }
  return {};
}

IntStatus parse_i64_to(std::string_view token, int64_t& out) {
  const char* p = token.data();
  std::size_t n = token.size();
  bool negative = false;
  if (n != 0 && (p[0] == '+' || p[0] == '-')) {
    negative = p[0] == '-';
    ++p;
    --n;
  }
  if (n == 0) return IntStatus::kInvalidDigit;
  uint64_t magnitude;
  if (n <= 18 && short_digits(p, n, magnitude)) {
    // At most 18 digits: below 2^63, so the magnitude converts either way.
    out = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return IntStatus::kOk;
  }
  // Checked accumulation, one digit at a time, so the first failure from the left
  // decides. Negative numbers accumulate downwards so that -2^63 fits.
  int64_t acc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto d = static_cast<unsigned char>(p[i] - '0');
    if (d > 9) return IntStatus::kInvalidDigit;
    if (negative) {
      if (__builtin_mul_overflow(acc, 10, &acc) || __builtin_sub_overflow(acc, d, &acc)) {
        return IntStatus::kTooSmall;
      }
    } else {
      if (__builtin_mul_overflow(acc, 10, &acc) || __builtin_add_overflow(acc, d, &acc)) {
        return IntStatus::kTooLarge;
      }
    }
  }
  out = acc;
  return IntStatus::kOk;
}

IntStatus parse_integral_decimal_to(std::string_view token, int64_t& out) {
  std::size_t i = 0;
  const bool negative = !token.empty() && token[0] == '-';
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) i = 1;
  auto digits_from = [&](std::size_t at) {
    std::size_t end = at;
    while (end < token.size() && token[end] >= '0' && token[end] <= '9') ++end;
    return token.substr(at, end - at);
  };
  const std::string_view whole = digits_from(i);
  i += whole.size();
  std::string_view fraction;
  if (i < token.size() && token[i] == '.') {
    fraction = digits_from(i + 1);
    i += 1 + fraction.size();
  }
  if (whole.empty() && fraction.empty()) return IntStatus::kInvalidDigit;
  // The exponent saturates far beyond any token's length: an integer of more
  // than 19 digits is out of range whatever they are.
  constexpr int64_t kExponentCap = int64_t{1} << 40;
  int64_t exponent = 0;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    const bool below = i < token.size() && token[i] == '-';
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    const std::string_view e = digits_from(i);
    if (e.empty()) return IntStatus::kInvalidDigit;
    i += e.size();
    for (const char c : e) exponent = std::min(exponent * 10 + (c - '0'), kExponentCap);
    if (below) exponent = -exponent;
  }
  if (i != token.size()) return IntStatus::kInvalidDigit;

  // The digits of whole and fraction read as one run D: the value is
  // D * 10^(exponent - |fraction|). Leading and trailing zeros of D are set aside.
  const std::size_t count = whole.size() + fraction.size();
  auto digit = [&](std::size_t j) {
    return j < whole.size() ? whole[j] : fraction[j - whole.size()];
  };
  std::size_t first = 0;
  while (first < count && digit(first) == '0') ++first;
  if (first == count) {
    out = 0;
    return IntStatus::kOk;
  }
  std::size_t last = count - 1;
  while (digit(last) == '0') --last;
  const int64_t scale = exponent - static_cast<int64_t>(fraction.size()) +
                        static_cast<int64_t>(count - 1 - last);
  if (scale < 0) return IntStatus::kInvalidDigit;  // a nonzero digit after the point
  const IntStatus too_far = negative ? IntStatus::kTooSmall : IntStatus::kTooLarge;
  if (static_cast<int64_t>(last - first + 1) + scale > 19) return too_far;
  // Negative values accumulate downwards so that -2^63 fits.
  int64_t acc = 0;
  auto put = [&](int d) {
    if (__builtin_mul_overflow(acc, 10, &acc)) return false;
    return negative ? !__builtin_sub_overflow(acc, d, &acc) : !__builtin_add_overflow(acc, d, &acc);
  };
  for (std::size_t j = first; j <= last; ++j) {
    if (!put(digit(j) - '0')) return too_far;
  }
  for (int64_t z = 0; z < scale; ++z) {
    if (!put(0)) return too_far;
  }
  out = acc;
  return IntStatus::kOk;
}

IntStatus parse_u64_to(std::string_view token, uint64_t& out) {
  const char* p = token.data();
  std::size_t n = token.size();
  if (n != 0 && p[0] == '+') {
    ++p;
    --n;
  }
  if (n == 0) return IntStatus::kInvalidDigit;
  if (n <= 19 && short_digits(p, n, out)) return IntStatus::kOk;
  uint64_t acc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto d = static_cast<unsigned char>(p[i] - '0');
    if (d > 9) return IntStatus::kInvalidDigit;
    if (__builtin_mul_overflow(acc, uint64_t{10}, &acc) ||
        __builtin_add_overflow(acc, uint64_t{d}, &acc)) {
      return IntStatus::kTooLarge;
    }
  }
  out = acc;
  return IntStatus::kOk;
}

namespace {

uint64_t load_word(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Value of eight digit bytes (already reduced to 0..9, the most significant in
// the lowest byte) by three multiplications: pairs, then quads, then the whole.
uint64_t eight_digit_value(uint64_t digits) {
  digits = digits * 10 + (digits >> 8);
  return (((digits & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
          (((digits >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
         32;
}

// Value of the first `n` (1..8) bytes at `p`, which must all be ASCII digits;
// false otherwise. Eight bytes are readable at `p`.
bool digits_value(const char* p, std::size_t n, uint64_t& value) {
  // Digits XOR '0' are 0..9; a byte of 10 or more (or with its top bit set)
  // gets its top bit set by the add. Carries only run towards later bytes,
  // which the shift below discards with everything past the n-th byte.
  const uint64_t digits = load_word(p) ^ 0x3030303030303030ULL;
  const uint64_t stops = ((digits + 0x7676767676767676ULL) | digits) & 0x8080808080808080ULL;
  const unsigned drop = static_cast<unsigned>(64 - 8 * n);
  if ((stops << drop) != 0) return false;
  // The wanted bytes move to the top; the zero bytes below are leading zeros.
  value = eight_digit_value(digits << drop);
  return true;
}

// Bit j set when byte j of the 64 bytes at `p` is a space: SSE2 compares where
// the target has them (every x86-64 does), a plain loop elsewhere.
uint64_t space_bits(const char* p) {
#if defined(__SSE2__)
  const __m128i spaces = _mm_set1_epi8(' ');
  uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, spaces)));
    bits |= uint64_t{mask} << (16 * i);
  }
  return bits;
#else
  uint64_t bits = 0;
  for (int j = 0; j < 64; ++j) bits |= uint64_t{p[j] == ' '} << j;
  return bits;
#endif
}

// Value of the token at [p, p + length): an optional sign, then 1 to 18 digits;
// false for anything else. Eight bytes are readable from every byte of it.
bool short_token_value(const char* p, std::size_t length, int64_t& out) {
  const bool negative = *p == '-';
  if (negative || *p == '+') {
    ++p;
    --length;
  }
  // Up to 18 digits stay below 2^63, whatever they are.
  if (length == 0 || length > 18) return false;
  // A first group of 1..8 digits, then whole groups of eight.
  const std::size_t first = length % 8 == 0 ? 8 : length % 8;
  uint64_t value = 0;
  if (!digits_value(p, first, value)) return false;
  for (p += first, length -= first; length != 0; p += 8, length -= 8) {
    uint64_t group = 0;
    if (!digits_value(p, 8, group)) return false;
    value = value * 100000000 + group;
  }
  out = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  return true;
}

// The bytes of a line of 16 to 63 bytes by class, bit j for byte j: spaces,
// ASCII digits, and everything else. Made from 16-byte loads at
// min(16k, n - 16), two for lines of up to 32 bytes (arc lines nearly always)
// and four for longer ones: the overlaps see the same bytes, so or-ing them in
// is exact, and no load leaves the line.
struct ByteBits {
  uint64_t space = 0;
  uint64_t digit = 0;
  uint64_t other = 0;
};

#if defined(__SSE2__)
template <std::size_t kLoads>
void add_byte_bits(const char* p, std::size_t n, uint64_t& spaces, uint64_t& digits) {
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  for (std::size_t k = 0; k < kLoads; ++k) {
    const std::size_t at = std::min(16 * k, n - 16);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    // A digit minus '0' is at most 9 unsigned: min(d, 9) == d.
    const __m128i d = _mm_sub_epi8(bytes, zero);
    const auto space_mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, space)));
    const auto digit_mask =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, nine), d)));
    spaces |= uint64_t{space_mask} << at;
    digits |= uint64_t{digit_mask} << at;
  }
}
#endif

ByteBits byte_bits_in_place(const char* p, std::size_t n) {
  ByteBits bits;
#if defined(__SSE2__)
  if (n <= 32) {
    add_byte_bits<2>(p, n, bits.space, bits.digit);
  } else {
    add_byte_bits<4>(p, n, bits.space, bits.digit);
  }
#else
  for (std::size_t j = 0; j < n; ++j) {
    bits.space |= uint64_t{p[j] == ' '} << j;
    bits.digit |= uint64_t{is_digit(p[j])} << j;
  }
#endif
  bits.other = ~(bits.space | bits.digit) & ((uint64_t{1} << n) - 1);
  return bits;
}

// Value of the 1 to 8 digits at [end - length, end) of a line of at least 8
// bytes. They are read as the eight bytes ending at `end` (or the line's first
// eight, shifted), so that they sit at the top of the word, with the bytes
// before them masked to zero: leading zeros to eight_digit_value.
uint64_t digits_ending_at(const char* line, std::size_t end, std::size_t length) {
  const std::size_t from = end >= 8 ? end - 8 : 0;
  const uint64_t word = load_word(line + from) << (8 * (8 - (end - from)));
  const uint64_t keep = ~uint64_t{0} << (8 * (8 - length));
  return (word ^ 0x3030303030303030ULL) & keep;
}

// Value of the token at [start, end): an optional sign, then 1 to 8 digits;
// false for anything else (more digits included).
bool signed_token_in_place(const char* line, std::size_t start, std::size_t end, int64_t& out) {
  const bool negative = line[start] == '-';
  const std::size_t first = start + (negative || line[start] == '+' ? 1 : 0);
  const std::size_t length = end - first;  // wraps for a lone sign
  if (length - 1 >= 8) return false;
  // Masked before the add, so that no carry comes up from the bytes before.
  const uint64_t digits = digits_ending_at(line, end, length);
  if ((((digits + 0x7676767676767676ULL) | digits) & 0x8080808080808080ULL) != 0) return false;
  const auto value = static_cast<int64_t>(eight_digit_value(digits));
  out = negative ? -value : value;
  return true;
}

// The tokens of a line of 16 to 63 bytes, read where the line lies: nothing is
// copied and no load waits on a store. kNotShortIntegers when a byte is neither
// a space, a digit nor a sign; kLongToken when a token has more than eight
// digits, or a sign that is not followed by them.
constexpr std::size_t kLongToken = kNotShortIntegers - 1;

std::size_t scan_in_place(const char* line, std::size_t n, int64_t* out) {
  const ByteBits bits = byte_bits_in_place(line, n);
  // Bytes from n on count as spaces, so that every token ends inside the word.
  const uint64_t space = bits.space | (~uint64_t{0} << n);
  const uint64_t before = (space << 1) | 1;  // bit j: byte j - 1 is a space
  uint64_t starts = ~space & before;
  uint64_t ends = space & ~before;
  std::size_t count = 0;
  // Starts and ends alternate, so the k-th start pairs with the k-th end.
  if (bits.other == 0) {
    // Digits only (the common line): no sign to look for, nothing to check.
    for (; starts != 0; starts &= starts - 1, ends &= ends - 1) {
      const auto start = static_cast<std::size_t>(std::countr_zero(starts));
      const auto end = static_cast<std::size_t>(std::countr_zero(ends));
      if (end - start > 8) return kLongToken;
      out[count++] = static_cast<int64_t>(eight_digit_value(digits_ending_at(line, end, end - start)));
    }
    return count;
  }
  const uint64_t sign_or_other = bits.other;
  for (uint64_t j = sign_or_other; j != 0; j &= j - 1) {
    const char c = line[std::countr_zero(j)];
    if (c != '-' && c != '+') return kNotShortIntegers;
  }
  for (; starts != 0; starts &= starts - 1, ends &= ends - 1) {
    const auto start = static_cast<std::size_t>(std::countr_zero(starts));
    const auto end = static_cast<std::size_t>(std::countr_zero(ends));
    if (!signed_token_in_place(line, start, end, out[count])) return kLongToken;
    ++count;
  }
  return count;
}

}  // namespace

std::size_t ShortIntegerScanner::scan(std::string_view text) {
  const std::size_t n = text.size();
  if (values_.size() < n / 2 + 1) values_.resize(std::max<std::size_t>(n / 2 + 1, 32));
  int64_t* const out = values_.data();
  // Lines of the usual length whose tokens have at most eight digits are read
  // in place; anything else (a longer token too) takes the copying route.
  if (n >= 16 && n < 64) {
    const std::size_t count = scan_in_place(text.data(), n, out);
    if (count != kLongToken) return count;
  }

  // The text, then spaces to the end of a whole 64-byte block at least 8 bytes
  // past it, so that every byte of the text has eight readable bytes from it on
  // and every token ends inside the blocks.
  const std::size_t blocks = (n + 8) / 64 + 1;
  padded_.resize(blocks * 64);
  std::memcpy(padded_.data(), text.data(), n);
  std::memset(padded_.data() + n, ' ', blocks * 64 - n);
  const char* const line = padded_.data();

  std::size_t count = 0;
  uint64_t previous_space = 1;          // position -1 counts as a space
  std::size_t open_start = 0;           // start of a token running into the next block
  bool open = false;
  for (std::size_t block = 0; block < blocks; ++block) {
    const char* const base = line + 64 * block;
    const uint64_t space = space_bits(base);  // bit j: byte j of the block is a space
    const uint64_t before = (space << 1) | previous_space;  // bit j: byte j - 1 is a space
    previous_space = space >> 63;
    uint64_t starts = ~space & before;  // token starts
    uint64_t ends = space & ~before;    // one past token ends
    // Ends pair with starts in order; a token may have started in an earlier block.
    for (; ends != 0; ends &= ends - 1) {
      const std::size_t end = 64 * block + static_cast<std::size_t>(std::countr_zero(ends));
      std::size_t start;
      if (open) {
        start = open_start;
        open = false;
      } else {
        start = 64 * block + static_cast<std::size_t>(std::countr_zero(starts));
        starts &= starts - 1;
      }
      if (!short_token_value(line + start, end - start, out[count])) return kNotShortIntegers;
      ++count;
    }
    if (starts != 0) {
      open_start = 64 * block + static_cast<std::size_t>(std::countr_zero(starts));
      open = true;
    }
  }
  return count;
}

Result<int64_t> parse_i64(std::string_view token) {
  int64_t value = 0;
  const IntStatus status = parse_i64_to(token, value);
  if (status != IntStatus::kOk) return reported(std::string(int_status_message(status)));
  return value;
}

Result<uint64_t> parse_u64(std::string_view token) {
  uint64_t value = 0;
  const IntStatus status = parse_u64_to(token, value);
  if (status != IntStatus::kOk) return reported(std::string(int_status_message(status)));
  return value;
}

namespace {

// NaN, inf or infinity in any case, after an optional sign.
bool parse_float_word(std::string_view word, bool negative, double& out) {
  if (equals_ignoring_case(word, "nan")) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (equals_ignoring_case(word, "inf") || equals_ignoring_case(word, "infinity")) {
    out = negative ? -std::numeric_limits<double>::infinity()
                   : std::numeric_limits<double>::infinity();
    return true;
  }
  return false;
}

// The parts of an unsigned decimal: digits [.digits] [(e|E)[sign]digits].
struct DecimalForm {
  const char* int_begin;
  const char* int_end;
  const char* frac_begin;
  const char* frac_end;
  int64_t exponent;
};

// Checks the grammar of [p, end) and finds its parts. from_chars alone would
// stop early on forms such as "1e" (reading "1") and accepts "nan(...)".
bool scan_decimal(const char* p, const char* end, DecimalForm& form) {
  form.int_begin = p;
  while (p < end && is_digit(*p)) ++p;
  form.int_end = form.frac_begin = form.frac_end = p;
  if (p < end && *p == '.') {
    form.frac_begin = ++p;
    while (p < end && is_digit(*p)) ++p;
    form.frac_end = p;
  }
  if (form.int_end == form.int_begin && form.frac_end == form.frac_begin) return false;
  form.exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool exp_negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
      exp_negative = *p == '-';
      ++p;
    }
    if (p == end || !is_digit(*p)) return false;
    // Past 10^15 the exponent is only a direction (overflow or underflow), so it
    // stops growing there instead of wrapping.
    constexpr int64_t kExponentCap = 1'000'000'000'000'000;
    while (p < end && is_digit(*p)) {
      if (form.exponent < kExponentCap) form.exponent = form.exponent * 10 + (*p - '0');
      ++p;
    }
    if (exp_negative) form.exponent = -form.exponent;
  }
  return p == end;
}

// The value of a decimal too large or too small for a double: the decimal
// exponent of the leading significant digit says which (overflow needs >= 308,
// underflow <= -324). All-zero digits are zero.
double out_of_range_value(const DecimalForm& form) {
  int64_t leading = 0;
  const char* q = form.int_begin;
  while (q < form.int_end && *q == '0') ++q;
  if (q < form.int_end) {
    leading = static_cast<int64_t>(form.int_end - q) - 1;
  } else {
    const char* f = form.frac_begin;
    while (f < form.frac_end && *f == '0') ++f;
    if (f == form.frac_end) return 0.0;
    leading = -static_cast<int64_t>(f - form.frac_begin) - 1;
  }
  // Both terms are far from the int64 limits: the exponent is capped and the
  // leading-digit offset is bounded by the token's length.
  return leading + form.exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

bool parse_f64_to(std::string_view token, double& out) {
  const char* p = token.data();
  const char* const end = p + token.size();
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end) return false;
  if (!is_digit(*p) && *p != '.') {
    return parse_float_word(std::string_view(p, static_cast<std::size_t>(end - p)), negative, out);
  }
  DecimalForm form{};
  if (!scan_decimal(p, end, form)) return false;
  double value = 0.0;
  const auto parsed = std::from_chars(p, end, value, std::chars_format::general);
  if (parsed.ptr != end) return false;
  if (parsed.ec == std::errc::result_out_of_range) {
    value = out_of_range_value(form);
  } else if (parsed.ec != std::errc()) {
    return false;
  }
  out = negative ? -value : value;
  return true;
}

Result<double> parse_f64(std::string_view token) {
  double value = 0.0;
  if (!parse_f64_to(token, value)) return reported(std::string(kInvalidFloatMessage));
  return value;
}

std::size_t format_f64(double v, char* out) {
  char* o = out;
  if (std::isnan(v)) {
    std::memcpy(o, "NaN", 3);
    return 3;
  }
  if (std::signbit(v)) *o++ = '-';
  if (std::isinf(v)) {
    std::memcpy(o, "inf", 3);
    return static_cast<std::size_t>(o + 3 - out);
  }
  // Shortest round-trip digits in scientific form "d.ddde±XX", then laid out again
  // with the decimal point where the exponent puts it.
  char sci[40];
  const auto r = std::to_chars(sci, sci + sizeof sci, std::fabs(v), std::chars_format::scientific);
  char digits[24];
  std::size_t num_digits = 0;
  const char* s = sci;
  for (; s < r.ptr && *s != 'e'; ++s) {
    if (*s != '.') digits[num_digits++] = *s;
  }
  int exponent = 0;
  std::from_chars(s + 1 + (s[1] == '+' ? 1 : 0), r.ptr, exponent);
  // Digits before the decimal point; may be zero or negative for values below 1.
  const long point = static_cast<long>(exponent) + 1;
  const auto n = static_cast<long>(num_digits);
  if (point <= 0) {
    *o++ = '0';
    *o++ = '.';
    std::memset(o, '0', static_cast<std::size_t>(-point));
    o += -point;
    std::memcpy(o, digits, num_digits);
    o += n;
  } else if (point >= n) {
    std::memcpy(o, digits, num_digits);
    o += n;
    std::memset(o, '0', static_cast<std::size_t>(point - n));
    o += point - n;
  } else {
    std::memcpy(o, digits, static_cast<std::size_t>(point));
    o += point;
    *o++ = '.';
    std::memcpy(o, digits + point, static_cast<std::size_t>(n - point));
    o += n - point;
  }
  return static_cast<std::size_t>(o - out);
}

}  // namespace korvane
