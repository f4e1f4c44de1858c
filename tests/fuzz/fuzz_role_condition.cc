// The role-condition language: the input is a row condition of a DB role,
// read over a table of columns of every type. A condition the language
// refuses raises its exception; whatever the outcome, the next text reads
// from a clean scanner.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/roles/role_cond_parse.h"
#include "sql/roles/role_cond_table.h"
#include "sql/validate/vt_search_cond.h"

namespace {

// Columns a, b (integers), r (real), s, t (texts) and d (a date).
class FuzzTable : public SQLSCTable {
 public:
  FuzzTable() {
    const struct {
      const char *name;
      SQLType type;
      unsigned long length;
    } columns[] = {{"a", SQL_INTEGER, 4}, {"b", SQL_INTEGER, 4}, {"r", SQL_REAL, 8},
                   {"s", SQL_STRING, 10}, {"t", SQL_STRING, 1}, {"d", SQL_DATE, 4}};
    for (const auto &c : columns)
      columns_.push_back(std::make_unique<SQLColumnDescriptor>(c.name, c.type, c.length, 1));
  }
  char const *GetName() const override { return "tcfuz001"; }
  int GetColumnId(char const *name) const override {
    for (std::size_t i = 0; i < columns_.size(); ++i)
      if (std::strcmp(columns_[i]->GetName(), name) == 0) return static_cast<int>(i);
    return -1;
  }
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const override {
    return columns_[static_cast<std::size_t>(id)].get();
  }

 private:
  std::vector<std::unique_ptr<SQLColumnDescriptor>> columns_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static FuzzTable table;
  if (size > 16384) return 0;
  const std::string text(molvane::fuzz::AsText(data, size));
  try {
    std::unique_ptr<SQLVTSCSearchCond> condition(SQLParseSC(text.c_str(), &table));
  } catch (SQLException const &) {
  }
  return 0;
}
