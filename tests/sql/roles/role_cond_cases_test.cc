// The role conditions shared with the platform's range-expression engine:
// read by the role-condition parser, validated and evaluated on the same
// sample row, they hold exactly where the engine says they hold. Where only
// the engine gives an answer, the SQL layer refuses the condition (an
// unknown name, a type conflict) or fails while evaluating it (overflow,
// division by zero).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/yy_role_condition_cases.h"
#include "role_test_support.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/roles/role_cond_parse.h"

namespace molvane::test {
namespace {

using role_condition_cases::kCases;
using role_condition_cases::kSampleRow;

SQLType TypeOf(int kind) { return kind == 1 ? SQL_INTEGER : kind == 2 ? SQL_REAL : SQL_STRING; }

class SampleRow {
 public:
  SampleRow() {
    std::vector<ColumnsTable::Column> columns;
    for (auto const &c : kSampleRow) {
      columns.push_back({c.name, TypeOf(c.kind)});
      auto store = std::make_unique<SQLValueStore>();
      if (c.kind == 1) store->SetInteger(c.ival);
      if (c.kind == 2) store->SetReal(c.rval);
      if (c.kind == 3) store->SetString(c.sval);
      stores_.push_back(std::move(store));
    }
    table_ = std::make_unique<ColumnsTable>("tcrow001", columns);
  }

  // Parses, validates, builds and evaluates the condition on the row.
  SQLTruthValue Evaluate(char const *text) const {
    std::unique_ptr<SQLVTSCSearchCond> cond(SQLParseSC(text, table_.get()));
    if (!cond) throw SQLException("QR000", 217);
    cond->ValidateArrayUsage();
    cond->ValidateTypes();
    std::unique_ptr<SQLRSSCSearchCond> rs(cond->CreateRS());
    SQLRSPrepareContext context;
    auto map = std::make_unique<SQLValueStore const *[]>(stores_.size());
    for (size_t i = 0; i < stores_.size(); ++i) map[i] = stores_[i].get();
    context.Scope()->PushMap(static_cast<int>(stores_.size()), std::move(map));
    rs->Prepare(&context);
    return rs->Evaluate();
  }

 private:
  std::unique_ptr<ColumnsTable> table_;
  std::vector<std::unique_ptr<SQLValueStore>> stores_;
};

TEST(RoleCondCases, AgreesWithTheRangeExpressionEngine) {
  SampleRow row;
  int shared = 0;
  for (auto const &c : kCases) {
    SQLTruthValue value = TV_UNKNOWN;
    Raised raised = RaisedBy([&] { value = row.Evaluate(c.text); });
    if (c.both) {
      ++shared;
      EXPECT_EQ(raised.state, "none") << c.text << ": " << raised.message;
      EXPECT_EQ(value, c.expected ? TV_TRUE : TV_FALSE) << c.text;
    } else {
      EXPECT_NE(raised.state, "none") << c.text << " gave " << value;
    }
  }
  EXPECT_GE(shared, 30);
}

}  // namespace
}  // namespace molvane::test
