// Conversion between value stores and the fields of stored rows, in the
// layout of the dictionary's column types (<molvane/dd.h>): integers
// big-endian, floating-point values least significant byte first, texts
// blank-padded, raw bytes as they are.
#pragma once

#include "sql/common/value_store.h"

// Converts value into the bytes of one field of `length` bytes per element
// and `depth` elements (1 for a plain field), written at `offset` of the
// process-wide conversion buffer. *out receives the start of the buffer
// (offset 0), where the caller reads the field; the bytes stay valid until
// the next conversion. *outLength receives the converted length.
//
// A NULL value gives the field's null form (zeros, or `pad` for texts). Data
// that the field cannot hold raises SQLException with native error 205:
// "22003" for a number out of the field's range, "22001" for a text or raw
// value longer than the field (blank tails of texts are cut silently),
// "22026" for a raw value shorter than the field. Growing the buffer keeps
// the bytes already converted, so a caller may convert field after field at
// rising offsets and read them all at the end.
//
// Types 13 (combined), 0 and above 15 convert to nothing (length 0).
void copyValueStoreToRowBuffer(unsigned char code, int length, int depth,
                               SQLValueStore const *value, int offset, char pad,
                               unsigned char const **out, int *outLength);

// The reverse: reads one field of `length` bytes per element and `depth`
// elements from `field`, of which `available` bytes may be read, into value
// as the SQL type of the column type (INTEGER for the integer codes, REAL
// for 4 and 5, STRING for 6 and 14 with the whole field, DATE for 7,
// TIMESTAMP for 8, RAW for 15; an array of depth elements when depth > 1).
// A field longer than `available` bytes raises "22026" after a log line;
// a type without an SQL type (13, 0, above 15) stops through SQLAbort.
void copyRowBufferToValueStore(unsigned char code, int length, int depth,
                               unsigned char const *field, int available, SQLValueStore *value);

// The SQL type of a column type; SQL_UNDEFINED for 13, 0 and above 15.
SQLType SQLTypeOfColumnType(unsigned char code);
