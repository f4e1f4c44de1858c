// Number conversions.
//
// The stored floating-point layouts are produced from the IEEE 754 bit
// pattern of the value with shifts, so the byte order on disk and on the
// wire does not depend on the host's. The other representations of
// al_convert_double are decoded to a host double and encoded from one:
// every conversion passes through the value, never through raw bits.
#include "platform/numbers.h"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "the stored layouts are IEEE 754");

namespace {

void put_lsb_first(uint64_t bits, unsigned char *target, int width) {
  for (int i = 0; i < width; ++i) target[i] = static_cast<unsigned char>(bits >> (8 * i));
}

uint64_t get_lsb_first(const unsigned char *source, int width) {
  uint64_t bits = 0;
  for (int i = width - 1; i >= 0; --i) bits = (bits << 8) | source[i];
  return bits;
}

// The nearest single to a double, infinity past the largest single.
float narrow(double value) {
  // Half a unit in the last place above FLT_MAX rounds to infinity.
  const double limit = static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103);
  if (std::isfinite(value) && std::fabs(value) >= limit) {
    const float inf = std::numeric_limits<float>::infinity();
    return value > 0 ? inf : -inf;
  }
  return static_cast<float>(value);
}

// --- representations of al_convert_double -------------------------------

double decode_ieee_lsb(const unsigned char *b) { return double_out(b); }
void encode_ieee_lsb(double v, unsigned char *b) { double_in(v, b); }

double decode_ieee_msb(const unsigned char *b) {
  unsigned char swapped[8];
  for (int i = 0; i < 8; ++i) swapped[i] = b[7 - i];
  return double_out(swapped);
}
void encode_ieee_msb(double v, unsigned char *b) {
  unsigned char lsb[8];
  double_in(v, lsb);
  for (int i = 0; i < 8; ++i) b[i] = lsb[7 - i];
}

// VAX G_floating: sign, 11-bit exponent (excess 1024), 52-bit fraction
// with a hidden leading bit; value = 0.1f x 2^(e - 1024). Bits are kept in
// four 16-bit words, the sign and exponent in the first; each word is
// stored low byte first.
uint64_t vax_bits(const unsigned char *b) {
  uint64_t bits = 0;
  for (int w = 0; w < 4; ++w) bits = (bits << 16) | (uint64_t{b[2 * w + 1]} << 8) | b[2 * w];
  return bits;
}
void put_vax_bits(uint64_t bits, unsigned char *b) {
  for (int w = 0; w < 4; ++w) {
    const auto word = static_cast<uint16_t>(bits >> (16 * (3 - w)));
    b[2 * w] = static_cast<unsigned char>(word);
    b[2 * w + 1] = static_cast<unsigned char>(word >> 8);
  }
}

double decode_vax_g(const unsigned char *b) {
  const uint64_t bits = vax_bits(b);
  const bool negative = bits >> 63;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  if (exponent == 0) return negative ? std::numeric_limits<double>::quiet_NaN() : 0.0;
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const double magnitude = std::ldexp(static_cast<double>(mantissa), exponent - 1024 - 53);
  return negative ? -magnitude : magnitude;
}

void encode_vax_g(double v, unsigned char *b) {
  if (std::isnan(v)) {
    put_vax_bits(uint64_t{1} << 63, b);  // reserved operand
    return;
  }
  const uint64_t sign = std::signbit(v) ? uint64_t{1} << 63 : 0;
  if (v == 0.0) {
    put_vax_bits(0, b);
    return;
  }
  int exp2 = 0;
  const double m = std::frexp(std::fabs(v), &exp2);  // m in [0.5, 1)
  int exponent = exp2 + 1024;
  uint64_t fraction;
  if (std::isinf(v) || exponent > 2047) {
    exponent = 2047;
    fraction = (uint64_t{1} << 52) - 1;
  } else if (exponent < 1) {
    put_vax_bits(0, b);
    return;
  } else {
    fraction = static_cast<uint64_t>(std::ldexp(m, 53)) & ((uint64_t{1} << 52) - 1);
  }
  put_vax_bits(sign | (uint64_t{static_cast<unsigned>(exponent)} << 52) | fraction, b);
}

// IBM hexadecimal long: sign, 7-bit exponent of 16 (excess 64), 56-bit
// fraction without hidden bit; value = 0.f x 16^(e - 64); most significant
// byte first.
double decode_ibm_hex(const unsigned char *b) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | b[i];
  const bool negative = bits >> 63;
  const int exponent = static_cast<int>((bits >> 56) & 0x7F);
  const uint64_t fraction = bits & ((uint64_t{1} << 56) - 1);
  const double magnitude = std::ldexp(static_cast<double>(fraction), 4 * (exponent - 64) - 56);
  return negative ? -magnitude : magnitude;
}

void encode_ibm_hex(double v, unsigned char *b) {
  uint64_t bits = 0;
  if (!std::isnan(v) && v != 0.0) {
    const uint64_t sign = std::signbit(v) ? uint64_t{1} << 63 : 0;
    int exp2 = 0;
    const double m = std::frexp(std::fabs(v), &exp2);  // v = m x 2^exp2
    // exp2 = 4k - shift with shift in 0..3: v = (m / 2^shift) x 16^k.
    const int k = exp2 >= 0 ? (exp2 + 3) / 4 : -((-exp2) / 4);
    const int shift = 4 * k - exp2;
    int exponent = k + 64;
    uint64_t fraction = static_cast<uint64_t>(std::ldexp(m, 56 - shift));
    if (std::isinf(v) || exponent > 127) {
      exponent = 127;
      fraction = (uint64_t{1} << 56) - 1;
    } else if (exponent < 0) {
      // Below the smallest normal: keep what fits at exponent 0.
      const int lost = -4 * exponent;
      fraction = lost >= 56 ? 0 : fraction >> lost;
      exponent = 0;
    }
    if (fraction != 0) bits = sign | (uint64_t{static_cast<unsigned>(exponent)} << 56) | fraction;
  }
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * (7 - i)));
}

using Decoder = double (*)(const unsigned char *);
using Encoder = void (*)(double, unsigned char *);
constexpr Decoder kDecoders[4] = {decode_ieee_lsb, decode_ieee_msb, decode_vax_g, decode_ibm_hex};
constexpr Encoder kEncoders[4] = {encode_ieee_lsb, encode_ieee_msb, encode_vax_g, encode_ibm_hex};

template <int From, int To>
void convert(unsigned char *bytes) {
  kEncoders[To](kDecoders[From](bytes), bytes);
}

using Converter = void (*)(unsigned char *);
constexpr Converter kConverters[4][4] = {
    {nullptr, convert<0, 1>, convert<0, 2>, convert<0, 3>},
    {convert<1, 0>, nullptr, convert<1, 2>, convert<1, 3>},
    {convert<2, 0>, convert<2, 1>, nullptr, convert<2, 3>},
    {convert<3, 0>, convert<3, 1>, convert<3, 2>, nullptr},
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

extern "C" void float_in(double value, unsigned char *target) {
  put_lsb_first(std::bit_cast<uint32_t>(narrow(value)), target, 4);
}

extern "C" double float_out(const unsigned char *source) {
  return std::bit_cast<float>(static_cast<uint32_t>(get_lsb_first(source, 4)));
}

extern "C" void double_in(double value, unsigned char *target) {
  put_lsb_first(std::bit_cast<uint64_t>(value), target, 8);
}

extern "C" double double_out(const unsigned char *source) {
  return std::bit_cast<double>(get_lsb_first(source, 8));
}

double qelt_atof(const char *text) {
  if (text == nullptr) return 0.0;
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' ||
         *text == '\v') {
    ++text;
  }
  if (*text == '+' && text[1] != '-') ++text;
  double value = 0.0;
  const char *end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone; follow strtod's answer.
    const bool negative = *text == '-';
    bool tiny = false;
    for (const char *p = text; p < result.ptr; ++p) {
      if (*p == 'e' || *p == 'E') {
        tiny = p[1] == '-';
        break;
      }
    }
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return negative ? -value : value;
  }
  return result.ec == std::errc() ? value : 0.0;
}

double b_round(double value, const unsigned char *precision) {
  if (precision == nullptr || (precision[0] == 0 && precision[1] == 0) || precision[1] > 15 ||
      !std::isfinite(value) || value == 0.0) {
    return value;
  }
  const int after = precision[1];
  // The value as 15 significant decimal digits d0.d1...d14 x 10^exponent.
  char text[40];
  const auto written = std::to_chars(text, text + sizeof text - 1, std::fabs(value),
                                     std::chars_format::scientific, 14);
  if (written.ec != std::errc()) return value;
  *written.ptr = '\0';
  char digits[16];
  int count = 0;
  const char *p = text;
  for (; *p != 'e' && *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') digits[count++] = *p;
  }
  if (*p != 'e' || count != 15) return value;
  const int exponent = std::atoi(p + 1);
  // Digits at places 10^-after and above.
  const int keep = exponent + after + 1;
  if (keep >= 15) return value;
  int64_t kept = 0;
  for (int i = 0; i < keep; ++i) kept = kept * 10 + (digits[i] - '0');
  if (keep >= 0 && digits[keep] >= '5') ++kept;
  if (kept == 0) return 0.0;
  const double magnitude = static_cast<double>(kept) / std::pow(10.0, after);
  // Division by an exact power of ten gives the nearest double of the
  // decimal for after <= 15 and kept < 10^15 (both exact in a double).
  return value < 0 ? -magnitude : magnitude;
}

char *raw_to_hex(char *target, const unsigned char *bytes, int count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < count; ++i) {
    target[2 * i] = kDigits[bytes[i] >> 4];
    target[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return target;
}

int hex_to_raw(unsigned char *target, const char *hex, int digits) {
  int written = 0;
  for (int i = 0; i < digits; i += 2) {
    const int high = hex_value(hex[i]);
    if (high < 0) return -1;
    int low = 0;
    if (i + 1 < digits) {
      low = hex_value(hex[i + 1]);
      if (low < 0) return -1;
    }
    target[written++] = static_cast<unsigned char>(high << 4 | low);
  }
  return written;
}

void al_convert_double(unsigned char *bytes, int from_format, int to_format) {
  if (bytes == nullptr || from_format < 0 || from_format > 3 || to_format < 0 || to_format > 3) {
    return;
  }
  const Converter converter = kConverters[from_format][to_format];
  if (converter != nullptr) converter(bytes);
}
