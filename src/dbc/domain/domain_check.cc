// Domain checks of columns and rows: a combined column checks its members,
// an array column each element, and a row its columns in dictionary order.
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/domain/domain_check.h"

#include <molvane/zdb.h>

#include "dbc/zdb_msg.h"
#include "platform/big_endian.h"
#include "platform/log.h"
#include "platform/yy_expr.h"
#include "platform/yy_range.h"

namespace {

// Combined columns may nest; a deeper nesting is a broken dictionary.
constexpr int kMaxNesting = 16;

std::uint16_t g_check_switch = 0;  // the domain-check switch

// Bytes of one element of the column: the domain length, bounded by the
// column's own length so that no value is read past the column.
int ElementLength(const DD_COLUMN *column, int elements) {
  const int whole = column->length;
  int length = column->domain != nullptr ? column->domain->length : whole / elements;
  if (length <= 0 || length * elements > whole) length = whole / elements;
  return length;
}

// False when no value of the column can fail: no must-fill flag and nothing
// in the domain that restricts the column's type (a range; texts: character
// sets or a case conversion; reals: digits). Such columns are not read.
bool NeedsCheck(const DD_COLUMN *column) {
  if (column->flags & DDF_FILL) return true;
  const DD_DOMAIN *d = column->domain;
  if (d == nullptr) return false;
  switch (column->type) {
    case DDT_BYTE:
    case DDT_ENUM:
    case DDT_SHORT:
    case DDT_LONG:
      return d->range != nullptr;
    case DDT_FLOAT:
    case DDT_DOUBLE:
      return d->range != nullptr || d->digits_before != 0;
    case DDT_STRING:
    case DDT_MBSTRING: {
      if (d->range != nullptr || d->value != 0) return true;
      const char *legal = d->attributes;
      return legal != nullptr && (legal[0] != '\0' || legal[std::strlen(legal) + 1] != '\0');
    }
    default:
      return false;  // dates, times and raw bytes fail only when they must be filled
  }
}

// `limit` is the length of the row image, or -1 when unknown; values beyond
// it (columns not stored in the row) are not read.
int CheckColumn(const DD_COLUMN *column, const unsigned char *row, long limit,
                const DD_COLUMN **failing, int depth) {
  if (column->type == DDT_COMBINED) {
    if (column->members == nullptr || depth > kMaxNesting) return DDC_OK;
    for (int i = 0; column->members[i] != nullptr && i < DD_MAX_LIST; ++i) {
      const int result = CheckColumn(column->members[i], row, limit, failing, depth + 1);
      if (result != DDC_OK) return result;
    }
    return DDC_OK;
  }
  if (limit >= 0 && long{column->offset} + column->length > limit) return DDC_OK;
  if (!NeedsCheck(column)) return DDC_OK;
  const int elements = (column->flags & DDF_ARRAY) && column->depth > 1 ? column->depth : 1;
  const int length = ElementLength(column, elements);
  const unsigned char *value = row + column->offset;
  for (int e = 0; e < elements; ++e, value += length) {
    const int result = zdb_dd_check_value(column, value, length);
    if (result != DDC_OK) {
      if (failing != nullptr) *failing = column;
      return result;
    }
  }
  return DDC_OK;
}

// What a table's row check reads, worked out once per table: the columns
// (members of combined columns in their place) that lie in the row and can
// fail, in checking order, each with the check it needs. Integer columns
// (bytes, enumerations, shorts, longs, dates, times) carry what their check
// reads, so that a valid value is decided from the plan alone: zero fails
// only a must-fill column, and a value in the first interval of the range's
// interval table passes at once. Any other value goes to the range
// expression; a failure is checked again by zdb_dd_check_value for its text.
// A column of one 4-byte integer, the most common by far, is decided in the
// row loop itself; every other column goes to CheckItem.
struct PlanColumn {
  std::uint16_t offset;    // of the first element in the row
  bool single32;           // one 4-byte integer: the row loop decides a valid value
  bool zeroPasses;         // integer checks: a zero passes (no must-fill flag)
  std::int32_t low;        // integer checks: values low .. low + span pass
  std::uint32_t span;      // without a look at the range
  std::uint16_t length;    // of one element
  std::uint16_t elements;
  std::uint8_t width;      // integer checks: 1, 2 or 4 bytes; 0: zdb_dd_check_value decides
  const YY_EXPR *range;    // integer checks: the domain's range, or null
  const DD_COLUMN *column;
};
struct Plan {
  const DD_COLUMN *columns = nullptr;  // what the plan was made from
  int count = 0;
  long rowLength = 0;
  std::vector<PlanColumn> items;
};

// The bytes of the column's integer, or 0 when its type is no integer or its
// elements are too short to hold one (zdb_dd_check_value passes those unread).
std::uint8_t IntegerWidth(const DD_COLUMN *column, int length) {
  int width;
  switch (column->type) {
    case DDT_BYTE:
    case DDT_ENUM:
      width = 1;
      break;
    case DDT_SHORT:
      width = 2;
      break;
    case DDT_LONG:
    case DDT_DATE:
    case DDT_TIME:
      width = 4;
      break;
    default:
      return 0;
  }
  return length >= width ? static_cast<std::uint8_t>(width) : 0;
}

// Fills the integer check's fields of item: the range (dates and times have
// none: they fail only when they must be filled) and the interval that
// passes without it. Without a range every value passes; a range without an
// interval table lets no value pass without it.
void PlanInteger(const DD_COLUMN *column, PlanColumn *item) {
  item->zeroPasses = (column->flags & DDF_FILL) == 0;
  const bool ranged = column->type != DDT_DATE && column->type != DDT_TIME && column->domain != nullptr;
  item->range = ranged ? static_cast<const YY_EXPR *>(column->domain->range) : nullptr;
  if (item->range == nullptr) {
    item->low = INT32_MIN;
    item->span = UINT32_MAX;
    return;
  }
  item->low = 0;
  item->span = 0;  // holds zero alone, which never gets that far
  const YY_EXPR *range = item->range;
  if (range->magic != yy::kExprMagic || !(range->flags & yy::kIntervals)) return;
  std::uint32_t count = 0;
  const unsigned char *table = yy::expr_intervals(range, &count);
  if (count == 0) return;
  std::int32_t high;
  std::memcpy(&item->low, table, 4);
  std::memcpy(&high, table + 4, 4);
  item->span = static_cast<std::uint32_t>(high) - static_cast<std::uint32_t>(item->low);
}

void AddToPlan(const DD_COLUMN *column, long limit, int depth, std::vector<PlanColumn> *items) {
  if (column->type == DDT_COMBINED) {
    if (column->members == nullptr || depth > kMaxNesting) return;
    for (int i = 0; column->members[i] != nullptr && i < DD_MAX_LIST; ++i)
      AddToPlan(column->members[i], limit, depth + 1, items);
    return;
  }
  if (limit >= 0 && long{column->offset} + column->length > limit) return;
  if (!NeedsCheck(column)) return;
  const int elements = (column->flags & DDF_ARRAY) && column->depth > 1 ? column->depth : 1;
  const int length = ElementLength(column, elements);
  PlanColumn item{};
  item.column = column;
  item.offset = column->offset;
  item.length = static_cast<std::uint16_t>(length);
  item.elements = static_cast<std::uint16_t>(elements);
  item.width = IntegerWidth(column, length);
  if (item.width != 0) PlanInteger(column, &item);
  item.single32 = item.width == 4 && elements == 1;
  items->push_back(item);
}

// Dictionary tables live as long as the process; a table whose columns
// differ from the plan's is planned again. The domains of a loaded table
// never change (a reload makes new columns), so a plan may copy from their
// ranges.
std::unordered_map<const DD_TABLE *, Plan> g_plans;
const DD_TABLE *g_lastTable = nullptr;  // the table of the last row check
Plan *g_last = nullptr;                 // and its plan

const Plan &PlanOf(const DD_TABLE *table) {
  if (table == g_lastTable && g_last->columns == table->columns && g_last->count == table->column_count &&
      g_last->rowLength == table->row_length)
    return *g_last;
  Plan &plan = g_plans[table];
  g_lastTable = table;
  g_last = &plan;
  if (plan.columns != table->columns || plan.count != table->column_count || plan.rowLength != table->row_length) {
    plan.columns = table->columns;
    plan.count = table->column_count;
    plan.rowLength = table->row_length;
    plan.items.clear();
    for (int i = 0; i < table->column_count; ++i) AddToPlan(&table->columns[i], table->row_length, 0, &plan.items);
  }
  return plan;
}

// Whether an integer value passes without its range: zero by the must-fill
// flag, others by the interval of the plan.
inline bool PassesAtOnce(const PlanColumn &item, std::uint32_t u) {
  return u == 0 ? item.zeroPasses : u - static_cast<std::uint32_t>(item.low) <= item.span;
}

// Every element of the item's column at value: the column when one fails.
[[gnu::noinline]] const DD_COLUMN *CheckItem(const PlanColumn &item, const unsigned char *value) {
  for (int e = 0; e < item.elements; ++e, value += item.length) {
    if (item.width != 0) {
      const std::int32_t v = item.width == 1   ? value[0]
                             : item.width == 2 ? LoadBig16(value)
                                               : LoadBig32(value);
      const auto u = static_cast<std::uint32_t>(v);
      if (PassesAtOnce(item, u)) continue;
      if (u != 0 && yy_b_express(item.range, YY_INTEGER, &v)) continue;
    }
    if (zdb_dd_check_value(item.column, value, item.length) != DDC_OK) return item.column;
  }
  return nullptr;
}

// The first failing column of the row, or null.
const DD_COLUMN *FirstFailure(const DD_TABLE *table, const unsigned char *row) {
  zdb_dd_check_clear_text();  // as every check does
  if (table == nullptr || row == nullptr || table->columns == nullptr) return nullptr;
  for (const PlanColumn &item : PlanOf(table).items) {
    const unsigned char *value = row + item.offset;
    if (item.single32 && PassesAtOnce(item, LoadBigU32(value))) continue;
    if (const DD_COLUMN *failing = CheckItem(item, value)) return failing;
  }
  return nullptr;
}

void LogFailure() { log_mesg(__FILE__, __LINE__, "Check dd", 0, "%s\n", zdb_dd_check_text()); }

bool HasText(const char *text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

int zdb_dd_check_column_result(const DD_COLUMN *column, const unsigned char *row,
                               const DD_COLUMN **failing) {
  zdb_dd_check_clear_text();  // as every check does
  if (column == nullptr || row == nullptr) return DDC_OK;
  return CheckColumn(column, row, -1, failing, 0);
}

const char *zdb_domain_check(const DD_TABLE *table, const unsigned char *row) {
  ZdbCallScope call;
  const DD_COLUMN *failing = FirstFailure(table, row);
  if (failing == nullptr) return nullptr;
  // The host reads why through get_zdb_msg; nothing is logged.
  add_zdb_msg(zdb_dd_check_text());
  return failing->name;
}

int zdb_dd_check(const DD_TABLE *table, const unsigned char *row) {
  if (!zdb_dd_check_enabled()) return 1;
  if (FirstFailure(table, row) == nullptr) return 1;
  LogFailure();
  return 0;
}

int zdb_dd_check_column(const DD_COLUMN *column, const unsigned char *row) {
  if (!zdb_dd_check_enabled()) return 1;
  if (zdb_dd_check_column_result(column, row, nullptr) == DDC_OK) return 1;
  LogFailure();
  return 0;
}

int zdb_dd_check_enabled() { return g_check_switch; }

void zdb_dd_check_set_enabled(int on) { g_check_switch = on ? 1 : 0; }

int zdb_dd_column_has_domain_constraints(const DD_COLUMN *column) {
  if (column == nullptr || column->type == DDT_COMBINED || column->domain == nullptr) return 0;
  const DD_DOMAIN *domain = column->domain;
  const bool range = domain->range != nullptr;
  switch (column->type) {
    case DDT_BYTE:
    case DDT_SHORT:
    case DDT_LONG:
    case DDT_ENUM:
      return range ? 1 : 0;
    case DDT_FLOAT:
    case DDT_DOUBLE:
      return range || domain->digits_before != 0 ? 1 : 0;
    case DDT_STRING:
    case DDT_MBSTRING: {
      const char *attributes[5];
      extract_dom_attributes(domain, attributes);
      return range || domain->value != 0 || HasText(attributes[0]) || HasText(attributes[1]) ? 1
                                                                                             : 0;
    }
    default:
      return 0;
  }
}
