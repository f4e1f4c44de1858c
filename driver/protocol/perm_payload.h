// The reference driver's copy of the user's DB-role permissions: the
// PERMISSION payload parsed and kept exactly, and the check that refuses a
// request the roles forbid with 208, so that the driver never relies on the
// client alone.
//
// The payload holds only table entries (levels 5..14 of the client: table,
// table group of 5 or 2 characters, or every table, each for one company or
// "*", with or without a row condition).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/driver_dd.h"
#include "platform/yy_expr.h"

namespace molvane::driver {

// Outcome of parsing a payload that may not have arrived whole.
enum class PayloadStatus { kOk, kIncomplete, kMalformed };

// Result word of a refused request.
inline constexpr int kNoPermission = 208;

// Reads the big-endian fields of a payload from a byte range, noting whether
// the data ended early or broke a bound.
class PayloadReader {
 public:
  PayloadReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool U8(uint8_t *v);
  bool U16(uint16_t *v);
  bool U32(uint32_t *v);
  bool Bytes(size_t n, std::string *out);
  // A NUL-terminated text of at most max bytes before its NUL.
  bool Text(size_t max, std::string *out);
  bool Fail(const std::string &why);  // marks the payload malformed; false
  size_t position() const { return pos_; }
  PayloadStatus status() const { return status_; }
  const std::string &error() const { return error_; }

 private:
  bool Need(size_t n);
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  PayloadStatus status_ = PayloadStatus::kOk;
  std::string error_;
};

struct ExprFree {
  void operator()(YY_EXPR *expr) const { yy_free_express(expr); }
};

struct PermEntry {
  std::string key;        // level key, "c" appended for a condition
  uint16_t value = 0;     // 16 D, 8 W, 4 M, 2 R, 1 none
  std::string condition;  // as written; empty when none
  std::unique_ptr<YY_EXPR, ExprFree> compiled;  // null when none or not compilable
};

struct PermRole {
  std::string name;
  // Chains in payload order; the entries of a chain share their key.
  std::vector<std::vector<PermEntry>> chains;
  std::unordered_map<std::string, size_t> by_key;  // key -> index in chains
};

// The permissions one client sent. Empty (no roles) means a super user, or
// a client that has sent none: nothing is refused.
struct PermSet {
  std::vector<PermRole> roles;
  std::string payload;  // the payload bytes exactly as received
};

// Parses a PERMISSION payload (after the request code) at the start of
// data. On kOk *consumed is its length and *out holds it; kIncomplete when
// the data ends before the payload does; kMalformed (with *error) for a
// length beyond its bound, a missing NUL or an empty role name.
PayloadStatus ParsePermissionPayload(const uint8_t *data, size_t size, size_t *consumed,
                                     PermSet *out, std::string *error);

// What a request does to a table.
enum class PermAccess { kRead, kInsert, kUpdate, kDelete, kTableAction };

// Resolves a column name of a row condition to the row's value (leave the
// cell YY_NONE when there is none).
using PermRowValue = std::function<void(const char *column, YY_VALUE *cell)>;

// The permission value the roles give a table in a company: the highest over
// the roles, each role answering from its most specific key. A conditional
// key is evaluated against the row when one is given; without a row it
// refuses table actions and leaves the other accesses to the row checks
// (value 32), as the client does.
int PermTableValue(const PermSet &perms, const char *table, int compnr, PermAccess access,
                   const PermRowValue *row);
// 0 when the access is allowed, else kNoPermission.
int PermCheck(const PermSet &perms, const char *table, int compnr, PermAccess access,
              const PermRowValue *row);

// A row getter over a row image of a table: a condition's name (a column,
// alone or after the table's name and a point) yields the column's first
// element as the client gives it: integers, reals, texts without trailing
// blanks. Raw, combined and unknown columns yield no value. The image must
// outlive the getter.
PermRowValue PermImageRow(const DdTableDesc &desc, const std::uint8_t *image);

}  // namespace molvane::driver
