// Validated predicates: IN lists, LIKE, EXISTS, IN subqueries, IS NULL.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>
#include <memory>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_parameter.h"
#include "sql/validate/vtsc_predicates.h"

namespace {

void ExpectError(std::function<void()> const &f, char const *state, std::string const &message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

SQLColumnDescriptor intCol("i", SQL_INTEGER, 4, 1);
SQLColumnDescriptor strCol("s", SQL_STRING, 8, 1);
SQLColumnDescriptor arrayCol("a", SQL_STRING, 8, 3);

SQLVTSCValueExpr *Col(SQLColumnDescriptor const &d, int id = 0) { return new SQLVTSCColumnRef(0, id, &d); }
SQLVTSCValueExpr *Int(long v) { return new SQLVTSCIntegerConst(v); }
SQLVTSCValueExpr *Str(char const *s) {
  return new SQLVTSCStringConst(reinterpret_cast<unsigned char const *>(s), static_cast<long>(std::strlen(s)),
                                SQLVTSCStringConst::AsIs);
}

SQLVTSCRowValueConstr *Row(std::initializer_list<SQLVTSCValueExpr *> elements) {
  auto *row = new SQLVTSCGenericRowValueConstr();
  for (SQLVTSCValueExpr *e : elements) row->Append(e);
  return row;
}

// A resolved subquery delivering the given columns.
class Subquery : public SQLVTNode {
 public:
  explicit Subquery(std::vector<SQLColumnDescriptor const *> columns) : columns_(std::move(columns)) {}
  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override { return nullptr; }
  SQLRowSource *DoCreateRS() override { return nullptr; }
  SQLColumnDescriptor const *GetColumnDescriptor(int i) const override { return columns_[static_cast<size_t>(i)]; }
  int GetNumCols() const override { return static_cast<int>(columns_.size()); }
  bool IsForUpdate() override { return false; }
  void Log() const override {}
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int flags, List<char const *> *,
                                 SQLVTWhereUsedMgr *) override {
    mappedFlags = flags;
    return this;
  }
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}
  void DoValidate() override {}

  int mappedFlags = -1;

 private:
  std::vector<SQLColumnDescriptor const *> columns_;
};

TEST(VtPredicates, InListTypes) {
  SQLVTSCInSet good(Col(intCol), Row({Int(1), Int(2)}));
  EXPECT_NO_THROW(good.ValidateTypes());
  EXPECT_EQ(good.GetOperand()->GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_INTEGER));

  SQLVTSCInSet mixed(Col(intCol), Row({Int(1), Str("x"), Int(3)}));
  ExpectError([&] { mixed.ValidateTypes(); }, "42T03", "Incompatible types for IN operator");

  SQLVTSCInSet depth(Col(arrayCol), Row({Col(arrayCol, 1), Str("x")}));
  ExpectError([&] { depth.ValidateArrayUsage(); }, "42I48",
              "Cannot compare array values with non-array values or array values of different depth");
}

TEST(VtPredicates, LikeOperands) {
  struct Case {
    std::function<SQLVTSCLike *()> make;
    bool arrays;
    char const *state;
    char const *message;
  };
  Case cases[] = {
      {[] { return new SQLVTSCLike(Col(intCol), Str("a%"), nullptr, true); }, false, "42T05",
       "Invalid type for left operand of LIKE operator. Type STRING expected"},
      {[] { return new SQLVTSCLike(Col(strCol), Int(1), nullptr, true); }, false, "42T05",
       "Invalid type for right operand of LIKE operator. Type STRING expected"},
      {[] { return new SQLVTSCLike(Col(strCol), Str("a%"), Int(1), false); }, false, "42T05",
       "Invalid type for escape character of LIKE operator. Type STRING expected"},
      {[] { return new SQLVTSCLike(Col(arrayCol), Str("a%"), nullptr, true); }, true, "42I48",
       "Cannot compare array values with non-array values or array values of different depth"},
  };
  for (Case &c : cases) {
    std::unique_ptr<SQLVTSCLike> like(c.make());
    if (c.arrays) {
      ExpectError([&] { like->ValidateArrayUsage(); }, c.state, c.message);
    } else {
      ExpectError([&] { like->ValidateTypes(); }, c.state, c.message);
    }
  }
  SQLVTSCLike fine(Col(strCol), Str("a%"), Str("\\"), true);
  EXPECT_NO_THROW(fine.ValidateTypes());
  DynamicArray<SQLVTSCRefers *> refers;
  EXPECT_EQ(fine.PruneRefers(&refers), &fine);
}

TEST(VtPredicates, Subqueries) {
  SQLVTScope scope;
  // inside a set function's argument
  SQLVTSCExists exists(new Subquery({&intCol}));
  ExpectError([&] { exists.MapColumnNamesToIds(&scope, nullptr, 32 | 1, nullptr); }, "42I90",
              "Subquery used in set function specification");
  SQLVTSCInSubquery inSet(Col(intCol), new Subquery({&intCol}));
  ExpectError([&] { inSet.MapColumnNamesToIds(&scope, nullptr, 32, nullptr); }, "42I90",
              "Subquery used in set function specification");

  // the subquery keeps only the array-element and ANSI bits
  auto *sub = new Subquery({&intCol});
  SQLVTSCExists plain(sub);
  plain.MapColumnNamesToIds(&scope, nullptr, 1 | 2 | 4 | 8 | 16, nullptr);
  EXPECT_EQ(sub->mappedFlags, 8 | 16);

  SQLVTSCInSubquery twoCols(Col(intCol), new Subquery({&intCol, &strCol}));
  ExpectError([&] { twoCols.MapColumnNamesToIds(&scope, nullptr, 1, nullptr); }, "42I25",
              "Select clause of subquery in IN predicate contains more than 1 item");

  SQLVTSCInSubquery strings(Col(intCol), new Subquery({&strCol}));
  ExpectError([&] { strings.ValidateTypes(); }, "42T04", "Incompatible types for IN operator");
  SQLVTSCInSubquery arrays(Col(strCol), new Subquery({&arrayCol}));
  ExpectError([&] { arrays.ValidateArrayUsage(); }, "42I48",
              "Cannot compare array values with non-array values or array values of different depth");
}

TEST(VtPredicates, IsNullNeedsOneType) {
  SQLParameter p;
  SQLVTSCIsNull untyped(new SQLVTSCParameterRef(&p));
  ExpectError([&] { untyped.ValidateTypes(); }, "42T26", "Value expression in IS NULL predicate has ambiguous type");
  SQLVTSCIsNull typed(Col(strCol));
  EXPECT_NO_THROW(typed.ValidateTypes());
}

TEST(VtPredicatesDeathTest, MapColumnIdsStops) {
  SQLVTSCIsNull isNull(Col(intCol));
  EXPECT_DEATH(isNull.MapColumnIds(0, nullptr), "SQLVTSCIsNull::MapColumnIds\\(\\) called");
  SQLVTSCInSet inSet(Col(intCol), Row({Int(1)}));
  EXPECT_DEATH(inSet.MapColumnIds(0, nullptr), "SQLVTSCInSet::MapColumnIds called");
}

}  // namespace
