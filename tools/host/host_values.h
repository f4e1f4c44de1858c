// Column values of molvane-host as text: what a command's COL=VALUE gives,
// written exactly into a row's field, and a field read back as text.
//
// A value is refused, with a reason, when it does not convert exactly to its
// column: not a number, outside the column's range, not finite, a text longer
// than the column, raw bytes that are not hexadecimal or too many, a date
// that is not a calendar day. Nothing is written then.
#pragma once

#include <string>

#include <molvane/dd.h>

namespace molvane::host {

// Writes `text` into one element of column `c` at `field`. Empty on success,
// else the reason ("not a number", "out of range -32768..32767", ...).
std::string SetValue(const DD_COLUMN *c, unsigned char *field, const std::string &text);

// One element of column `c` at `field` as text: numbers in decimal, doubles
// with two decimals, texts in double quotes without their trailing blanks,
// raw bytes in hexadecimal, dates as YYYY-MM-DD, times as
// YYYY-MM-DDTHH:MM:SS (UTC). Every form is accepted back by SetValue.
std::string ValueText(const DD_COLUMN *c, const unsigned char *field);

}  // namespace molvane::host
