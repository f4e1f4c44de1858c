// Number conversions: decimal text, domain rounding, hexadecimal bytes and
// floating-point representations.
#pragma once

#include <molvane/datetime.h>

// The value of a decimal text ("  -12.5e3"), read the same way whatever the
// process's locale; leading white space and a "+" sign are allowed and
// reading stops at the first character that does not fit. 0.0 for a text
// without a number.
double qelt_atof(const char *text);

// Rounds a value for a domain. `precision` holds the domain's two precision
// bytes: digits before and digits after the decimal point. The value is
// rounded half away from zero to the digits after the point, as its
// decimal text (15 significant digits) reads, so that 2.675 becomes 2.68.
// The value comes back unchanged when rounding fails: no precision given
// (both bytes 0), a null `precision`, more than 15 digits after the point,
// or a value that is not finite.
double b_round(double value, const unsigned char *precision);

// Writes 2 x count upper-case hexadecimal characters of the bytes into
// target (no terminating NUL); returns target.
char *raw_to_hex(char *target, const unsigned char *bytes, int count);

// Converts hexadecimal text, two digits per byte (an odd last digit fills
// the high half of a last byte); returns the number of bytes written, or
// -1 at the first character that is not a hexadecimal digit (the bytes
// before it are written).
int hex_to_raw(unsigned char *target, const char *hex, int digits);

// Floating-point representation codes of al_convert_double.
enum AlDoubleFormat {
  AL_DOUBLE_IEEE_LSB = 0,  // IEEE 754 binary64, least significant byte first (stored layout)
  AL_DOUBLE_IEEE_MSB = 1,  // IEEE 754 binary64, most significant byte first
  AL_DOUBLE_VAX_G = 2,     // VAX G_floating: four 16-bit words, each low byte first
  AL_DOUBLE_IBM_HEX = 3,   // IBM hexadecimal long: base-16 exponent, 56-bit fraction
};

// Converts the 8 bytes of a double in place from one representation to
// another by the converter that a 4 x 4 table holds for the pair. Equal
// codes or a code outside 0..3 leave the bytes alone. A value that the
// target cannot hold becomes its largest magnitude (overflow) or zero
// (underflow); a NaN becomes the VAX reserved operand or IBM zero.
void al_convert_double(unsigned char *bytes, int from_format, int to_format);
