// CLEAR/UNREF row source: NULLs of named columns become empty or
// unreferenced values; everything else passes through.
#include "sql/exec/rs_clear_unref.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

using Op = SQLRSClearUnref::SQLRSClearUnrefOp;

// Columns: foreign key (STRING 4), referred name (STRING 4), referred number
// (INTEGER), an unrelated text (STRING 4).
class ReferringRows : public VectorRowSource {
 public:
  explicit ReferringRows(std::vector<Row> rows)
      : VectorRowSource({SQL_STRING, SQL_STRING, SQL_INTEGER, SQL_STRING}, std::move(rows)) {}

 protected:
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override {
    return i == 2 ? &number_ : &text_;
  }

 private:
  SQLColumnDescriptor text_{"t", SQL_STRING, 4, 1};
  SQLColumnDescriptor number_{"n", SQL_INTEGER, 4, 1};
};

List<int> *Cols(std::vector<int> v) {
  auto *list = new List<int>;
  for (int c : v) list->Append(c);
  return list;
}

List<Op *> *Ops(Op *op) {
  auto *list = new List<Op *>;
  list->Append(op);
  return list;
}

List<SQLRSSCValueExpr *> *ForeignKey() {
  static SQLColumnDescriptor const key("k", SQL_STRING, 4, 1);
  auto *list = new List<SQLRSSCValueExpr *>;
  list->Append(new SQLRSSCColumnRef(0, 0, &key));
  return list;
}

struct Outcome {
  std::string name;
  bool nameNull;
  int number;
  bool numberNull;
  std::string unrelated;
};

std::vector<Outcome> RunRows(SQLRowSource *rs) {
  SQLRSPrepareContext context;
  rs->Prepare(&context);
  rs->Exec();
  std::vector<Outcome> out;
  while (rs->Fetch() > 0) {
    SQLValueStore const *name = rs->GetValueStoreAddr(1);
    SQLValueStore const *number = rs->GetValueStoreAddr(2);
    SQLValueStore const *other = rs->GetValueStoreAddr(3);
    out.push_back({name->IsNull() ? "" : name->GetString(), name->IsNull(), number->GetInteger(), number->IsNull(),
                   other->IsNull() ? "<null>" : other->GetString()});
  }
  return out;
}

struct ModeCase {
  char const *name;
  Op::SQLRSClearUnrefMode mode;
  std::string key;  // of the row whose referred row is missing
  std::string filled;
};

class ClearUnrefModes : public testing::TestWithParam<ModeCase> {};

TEST_P(ClearUnrefModes, FillsTheNullsOfTheNamedColumns) {
  ModeCase const &c = GetParam();
  std::vector<Row> rows = {
      {Cell::Text("k1"), Cell::Text("abc"), Cell::Int(7), Cell::Null()},
      {Cell::Text(c.key), Cell::Null(), Cell::Null(), Cell::Null()},
  };
  auto *fk = c.mode == Op::ClearUnref ? ForeignKey() : nullptr;
  SQLRSClearUnref rs(new ReferringRows(rows), Ops(new Op(Cols({1, 2}), c.mode, fk)), '*');
  std::vector<Outcome> out = RunRows(&rs);
  ASSERT_EQ(out.size(), 2u);
  // A row with values comes out unchanged; the unnamed column keeps its NULL.
  EXPECT_EQ(out[0].name, "abc");
  EXPECT_EQ(out[0].number, 7);
  EXPECT_EQ(out[0].unrelated, "<null>");
  EXPECT_FALSE(out[1].nameNull);
  EXPECT_EQ(out[1].name, c.filled);
  EXPECT_FALSE(out[1].numberNull);
  EXPECT_EQ(out[1].number, 0);
  EXPECT_EQ(out[1].unrelated, "<null>");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ClearUnrefModes,
    testing::Values(ModeCase{"Clear", Op::Clear, "k2", "    "}, ModeCase{"Unref", Op::Unref, "k2", "****"},
                    ModeCase{"ClearUnrefMissingRow", Op::ClearUnref, "k2", "****"},
                    ModeCase{"ClearUnrefEmptyKey", Op::ClearUnref, "  ", "    "}),
    [](testing::TestParamInfo<ModeCase> const &info) { return std::string(info.param.name); });

TEST(ClearUnrefNode, AnEndedChildEndsWithoutRewriting) {
  SQLRSClearUnref rs(new ReferringRows({}), Ops(new Op(Cols({1}), Op::Unref, nullptr)), '*');
  EXPECT_TRUE(RunRows(&rs).empty());
}

TEST(ClearUnrefNode, UnnamedColumnsAreHandedThroughAndDescriptorsCopied) {
  auto *child = new ReferringRows({});
  SQLRSClearUnref rs(child, Ops(new Op(Cols({1}), Op::Clear, nullptr)), '*');
  SQLRSPrepareContext context;
  rs.Prepare(&context);
  EXPECT_EQ(rs.GetValueStoreAddr(3), child->GetValueStoreAddr(3));
  EXPECT_NE(rs.GetValueStoreAddr(1), child->GetValueStoreAddr(1));
  EXPECT_EQ(rs.GetColumnDescriptor(1)->GetLength(), 4u);
  EXPECT_EQ(rs.GetNumCols(), 4);
}

TEST(ClearUnrefDeath, OptimiserMessagesStop) {
  SQLRSClearUnref rs(new ReferringRows({}), Ops(new Op(Cols({1}), Op::Clear, nullptr)), '*');
  SQLRSSCSearchCond *c = nullptr;
  EXPECT_DEATH(rs.PushFilter(nullptr, &c), "Unexpected message SQLRSClearUnref::PushFilter");
  EXPECT_DEATH(rs.createTokenString(nullptr, 0, nullptr), "Unexpected message SQLRSClearUnref::createTokenString");
}

}  // namespace
}  // namespace molvane::test
