// Domain checks of columns and rows: a combined column checks its members,
// an array column each element, and a row its columns in dictionary order.
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "dbc/dd.h"
#include "dbc/domain_check.h"
#include "platform/log.h"
#include "platform/yy_expr.h"

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
// fail, in checking order.
struct PlanColumn {
  const DD_COLUMN *column;
  int length;        // of one element
  int elements;
  bool plainInt32;   // DDT_LONG with a range and no must-fill flag
};
struct Plan {
  const DD_COLUMN *columns = nullptr;  // what the plan was made from
  int count = 0;
  long rowLength = 0;
  std::vector<PlanColumn> items;
};

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
  bool plain = column->type == DDT_LONG && !(column->flags & DDF_FILL) && length >= 4;
  items->push_back({column, length, elements, plain});
}

const Plan &PlanOf(const DD_TABLE *table) {
  // Dictionary tables live as long as the process; a table whose columns
  // differ from the plan's is planned again.
  static std::unordered_map<const DD_TABLE *, Plan> plans;
  static const DD_TABLE *lastTable = nullptr;
  static Plan *last = nullptr;
  Plan &plan = table == lastTable ? *last : plans[table];
  lastTable = table;
  last = &plan;
  if (plan.columns != table->columns || plan.count != table->column_count || plan.rowLength != table->row_length) {
    plan.columns = table->columns;
    plan.count = table->column_count;
    plan.rowLength = table->row_length;
    plan.items.clear();
    for (int i = 0; i < table->column_count; ++i) AddToPlan(&table->columns[i], table->row_length, 0, &plan.items);
  }
  return plan;
}

// The first failing column of the row, or null.
const DD_COLUMN *FirstFailure(const DD_TABLE *table, const unsigned char *row) {
  zdb_dd_check_value(nullptr, nullptr, 0);  // empties the failure text, as every check does
  if (table == nullptr || row == nullptr || table->columns == nullptr) return nullptr;
  for (const PlanColumn &item : PlanOf(table).items) {
    const unsigned char *value = row + item.column->offset;
    for (int e = 0; e < item.elements; ++e, value += item.length) {
      if (item.plainInt32) {
        // A zero passes a column that need not be filled; others pass
        // their range. A failure is checked again for its text.
        auto v = static_cast<std::int32_t>((std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                                           (std::uint32_t{value[2]} << 8) | value[3]);
        if (v == 0 || yy_b_express(static_cast<const YY_EXPR *>(item.column->domain->range), YY_INTEGER, &v))
          continue;
      }
      if (zdb_dd_check_value(item.column, value, item.length) != DDC_OK) return item.column;
    }
  }
  return nullptr;
}

void LogFailure() { log_mesg(__FILE__, __LINE__, "Check dd", 0, "%s\n", zdb_dd_check_text()); }

bool HasText(const char *text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

int zdb_dd_check_column_result(const DD_COLUMN *column, const unsigned char *row,
                               const DD_COLUMN **failing) {
  zdb_dd_check_value(nullptr, nullptr, 0);  // empties the failure text, as every check does
  if (column == nullptr || row == nullptr) return DDC_OK;
  return CheckColumn(column, row, -1, failing, 0);
}

const char *zdb_domain_check(const DD_TABLE *table, const unsigned char *row) {
  const DD_COLUMN *failing = FirstFailure(table, row);
  return failing != nullptr ? failing->name : nullptr;
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
