// Checks of the expression nodes that a statement reaches through its
// select list and WHERE clause: arrays in every LIKE operand, lower-casing
// that leaves 4-byte TSS characters alone, and array indexes that do not
// fit an INTEGER.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sql/common/sql_schema.h"
#include "sql/front/parse_mode.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_predicates.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_support.h"
#include "stmt_test_env.h"

namespace molvane::test {
namespace {

class ExpressionChecks : public StmtTest {};

constexpr char kDepth[] = "Cannot compare array values with non-array values or array values of different depth";

TEST_F(ExpressionChecks, LikeRefusesAnArrayInEveryOperand) {
  ExpectError([&] { Prepare("SELECT emp FROM exemp010 WHERE scores LIKE 'a'"); }, "42I48", kDepth);
  EXPECT_NO_THROW(Prepare("SELECT emp FROM exemp010 WHERE name LIKE 'a%' ESCAPE '!'", parsemode::kAnsi));
  // The grammar writes pattern and escape as constants or host variables;
  // a tree with an array there is refused all the same.
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema("exemp010");
  auto column = [&](int id) { return new SQLVTSCColumnRef(0, id, schema->GetColumnDescriptor(id)); };
  int const name = 7, scores = 10;
  SQLVTSCLike pattern(column(name), column(scores), nullptr, true);
  ExpectError([&] { pattern.ValidateArrayUsage(); }, "42I48", kDepth);
  SQLVTSCLike escape(column(name), column(name), column(scores), true);
  ExpectError([&] { escape.ValidateArrayUsage(); }, "42I48", kDepth);
  SQLVTSCLike plain(column(name), column(name), column(name), true);
  EXPECT_NO_THROW(plain.ValidateArrayUsage());
}

TEST_F(ExpressionChecks, LowerCasingSkipsFourByteCharacters) {
  unsigned char const text[] = {'A', 0x9B, 'B', 'C', 'D', 'E', 0x9B, 'Q'};
  unsigned char lower[sizeof text] = {};
  SQLVTLowerCase(lower, text, sizeof text);
  unsigned char const expected[] = {'a', 0x9B, 'B', 'C', 'D', 'e', 0x9B, 'Q'};  // a cut character stays too
  EXPECT_EQ(std::memcmp(lower, expected, sizeof text), 0);

  SQLVTSCStringConst constant(text, sizeof text, SQLVTSCStringConst::ToLower);
  EXPECT_EQ(std::memcmp(constant.GetString(), expected, sizeof text), 0);
}

TEST_F(ExpressionChecks, ArrayIndexThatOverflowsIsAnUnknownColumnAtPrepare) {
  int const mode = parsemode::kAnsi | parsemode::kQuotedIndexIsValue;
  for (char const *index : {"2147483648", "99999999999999999999999"}) {
    treeData_ = std::make_unique<SQLVTreeData>();
    std::string name = std::string("scores(") + index + ")";
    ExpectError([&] { Prepare("SELECT emp FROM exemp010 WHERE \"" + name + "\" = 1", mode, 8); }, "42I03",
                "Unknown column '" + name + "'", 1);
  }
  treeData_ = std::make_unique<SQLVTreeData>();
  EXPECT_NO_THROW(Prepare("SELECT emp FROM exemp010 WHERE \"scores(2)\" = 1", mode, 8));
}

}  // namespace
}  // namespace molvane::test
