// Schemas of the fixture dictionary's tables, and of a table of every column
// type with nested combined columns, built in a scratch dictionary.
#include "sql/common/sql_schema.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;

// A name field of a dump: 17 characters, blank-padded.
std::string Field(std::string name) {
  name.resize(17, ' ');
  return name;
}

std::string Column(std::string const &name, std::string const &lines) {
  return "F " + name + "\n:NAME exall010." + name + "\n" + lines;
}

// Every dictionary type once, in an offset order unlike the name order; a
// reference counter and a client field that are no columns; combined
// columns of columns, of a combined column and of a counter.
std::string AllTypesDump() {
  std::string d = ":VERS 1\n";
  d += Column("zbyte", ":DOMA exbyte\n");
  d += Column("yflag", ":DOMA exflag\n");
  d += Column("xshort", ":DOMA exshort\n");
  d += Column("wlong", ":DOMA excount\n:DEPT 3\n");
  d += Column("vreal", ":DOMA exprice\n");
  d += Column("udbl", ":DOMA examount\n");
  d += Column("tcode", ":DOMA excode\n");
  d += Column("sdate", ":DOMA exdate\n");
  d += Column("rtime", ":DOMA extime\n");
  d += Column("qnumu", ":DOMA exnumu\n");
  d += Column("pnumv", ":DOMA exnumv\n");
  d += Column("ostat", ":DOMA exstatus\n");
  d += Column("nopts", ":DOMA exopts\n");
  d += Column("mtext", ":DOMA exmbtext\n");
  d += Column("lraw", ":DOMA exraw\n");
  d += Column("Refcntu", ":DOMA excount\n");
  d += Column("kclient", ":DOMA exname\n:DBNO 1\n");
  d += Column("jpair", ":COMB " + Field("exall010.xshort") + Field("exall010.tcode") + "\n");
  d += Column("inest", ":COMB " + Field("exall010.jpair") + Field("exall010.zbyte") + "\n");
  d += Column("hcnt", ":COMB " + Field("exall010.wlong") + Field("exall010.Refcntu") + "\n");
  d += "I 1\n:INDX 1\n:ASCD 0\n:DUPL 0\n:KEYF " + Field("exall010.zbyte") + "\n";
  d += "I 2\n:INDX 2\n:ASCD 0\n:DUPL 1\n:KEYF " + Field("exall010.inest") + "\n";
  d += "I 3\n:INDX 3\n:ASCD 0\n:DUPL 1\n:KEYF " + Field("exall010.Refcntu") + Field("exall010.ostat") + "\n";
  // The table that the counter counts.
  d += "R referenced by\n:REFC " + Field("exemp010.dept") + "0rr\n";
  return d;
}

// A scratch environment root whose dictionary holds the fixture dumps and
// the table exall010; the dictionary is started.
class SchemaTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv/dict"), dict(), std::filesystem::copy_options::recursive);
    root_.WriteFile("dict/dexall010", AllTypesDump());
    setenv("ZUV", root_.path().c_str(), 1);
    setenv("F_ZRDD", dict().c_str(), 1);
    init_local_dd();
  }

  std::string dict() const { return root_.path() + "/dict"; }

  ScratchDir root_;
};

// "name:TYPE:length:depth" per column, then "name=[ids]" per pseudo-column.
std::vector<std::string> Describe(SQLSchema const &schema) {
  std::vector<std::string> out;
  for (int id = 0; id < schema.GetNumCols(); ++id) {
    SQLColumnDescriptor const *d = schema.GetColumnDescriptor(id);
    out.push_back(std::string(d->GetName()) + ":" + SQLGetTypeName(d->GetType()) + ":" +
                  std::to_string(d->GetLength()) + ":" + std::to_string(d->GetDepth()));
  }
  for (int i = 0; i < schema.GetNumPseudoCols(); ++i) {
    char const *name = nullptr;
    intList const *ids = nullptr;
    schema.GetPseudoCol(i, &name, &ids);
    intList walk(*ids);
    std::string text = std::string(name) + "=[";
    for (bool more = walk.First(); more; more = walk.Next())
      text += (text.back() == '[' ? "" : " ") + std::to_string(walk.GetCurrent());
    out.push_back(text + "]");
  }
  return out;
}

struct TableCase {
  char const *table;
  std::vector<std::string> expected;
};
void PrintTo(TableCase const &c, std::ostream *os) { *os << c.table; }

class FixtureSchemas : public SchemaTest, public testing::WithParamInterface<TableCase> {};

TEST_P(FixtureSchemas, ColumnsInRowOrderAndPseudoColumnsInDictionaryOrder) {
  TableCase const &c = GetParam();
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema(c.table);
  ASSERT_FALSE(schema.IsNull());
  EXPECT_EQ(c.expected, Describe(*schema));

  // Every id leads back to itself by name and to the dictionary's record.
  for (int id = 0; id < schema->GetNumCols(); ++id) {
    char const *name = schema->GetColumnDescriptor(id)->GetName();
    EXPECT_EQ(id, schema->GetColumnId(name)) << name;
    std::string full = std::string(c.table) + "." + name;
    EXPECT_EQ(ddcolumn(full.c_str()), schema->GetDDColumn(id)) << full;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, FixtureSchemas,
    testing::Values(
        // The client field memo, the combined column ident and the system
        // columns are no columns; ident and the third index stand for emp, name.
        TableCase{"exemp010",
                  {"dcas:STRING:6:1", "dept:STRING:6:1", "dnul:STRING:6:1", "drst:STRING:6:1",
                   "emp:INTEGER:4:1", "flags:INTEGER:4:1", "hired:DATE:4:1", "name:STRING:20:1",
                   "photo:RAW:4:1", "salary:REAL:4:1", "scores:INTEGER:2:3", "status:INTEGER:1:1",
                   "_index1=[4]", "_index2=[1 7]", "_index3=[4 7]", "ident=[4 7]"}},
        // The reference counters lie first in the row but are no columns.
        TableCase{"exdep010",
                  {"budget:REAL:8:1", "code:STRING:6:1", "name:STRING:20:1", "opened:DATE:4:1",
                   "status:INTEGER:1:1", "_index1=[1]", "_index2=[2]"}},
        TableCase{"tttxt010",
                  {"clan:STRING:1:1", "ctxt:INTEGER:4:1", "seqe:INTEGER:2:1", "text:STRING:80:1",
                   "_index1=[1 0 2]"}},
        TableCase{"ttaud110",
                  {"comp:INTEGER:2:1", "comt:TIMESTAMP:4:1", "seqn:INTEGER:2:1", "sess:STRING:13:1",
                   "tabl:STRING:8:1", "trid:STRING:20:1", "trof:INTEGER:4:1", "tsnr:INTEGER:2:1",
                   "user:STRING:8:1", "_index1=[5 7]"}},
        // Members that are no columns (the counter) are left out; a combined
        // member stands for its own members.
        TableCase{"exall010",
                  {"zbyte:INTEGER:1:1", "yflag:INTEGER:1:1", "xshort:INTEGER:2:1", "wlong:INTEGER:4:3",
                   "vreal:REAL:4:1", "udbl:REAL:8:1", "tcode:STRING:6:1", "sdate:DATE:4:1",
                   "rtime:TIMESTAMP:4:1", "qnumu:INTEGER:4:1", "pnumv:INTEGER:4:1", "ostat:INTEGER:1:1",
                   "nopts:INTEGER:4:1", "mtext:STRING:30:1", "lraw:RAW:4:1", "_index1=[0]",
                   "_index2=[2 6 0]", "_index3=[11]", "hcnt=[3]", "inest=[2 6 0]", "jpair=[2 6]"}}),
    [](testing::TestParamInfo<TableCase> const &info) { return std::string(info.param.table); });

TEST_F(SchemaTest, SystemColumnsCountersAndCombinedColumnsHaveNoColumnId) {
  SQLSchemaPtr emp = SQLSchemaMgr::GetSchema("exemp010");
  SQLSchemaPtr dep = SQLSchemaMgr::GetSchema("exdep010");
  for (char const *name : {"_compnr", "_dlock", "memo", "ident", "_index1", "Name", "nam", ""})
    EXPECT_EQ(-1, emp->GetColumnId(name)) << name;
  EXPECT_EQ(-1, emp->GetColumnId(nullptr));
  EXPECT_EQ(-1, dep->GetColumnId("Refcntu"));
  EXPECT_EQ(-1, dep->GetColumnId("Refcntd"));

  // Only indexes and combined columns are pseudo-columns.
  for (char const *name : {"_compnr", "_dlock", "name", "_index3", "Refcntu"})
    EXPECT_EQ(nullptr, dep->GetPseudoColByName(name)) << name;
  EXPECT_EQ(nullptr, dep->GetPseudoColByName(nullptr));
  intList const *index = dep->GetPseudoColByName("_index1");
  ASSERT_NE(nullptr, index);
  intList ids(*index);
  ASSERT_EQ(1, ids.NrElements());
  ASSERT_TRUE(ids.First());
  EXPECT_EQ(dep->GetColumnId("code"), ids.GetCurrent());
}

TEST_F(SchemaTest, TheCacheSharesOneSchemaPerTable) {
  SQLSchemaPtr first = SQLSchemaMgr::GetSchema("exemp010");
  SQLSchemaPtr second = SQLSchemaMgr::GetSchema("exemp010");
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_EQ(1, SQLSchemaMgr::GetNoSchemas());
  EXPECT_EQ(3, first.UseCount());  // the cache and two handles

  SQLSchemaPtr other = SQLSchemaMgr::GetSchema("exdep010");
  EXPECT_NE(first.Get(), other.Get());
  EXPECT_EQ(2, SQLSchemaMgr::GetNoSchemas());
  EXPECT_EQ(2, SQLSchemaMgr::GetNoCachedSchemas());

  // The company variant finds the same cache entry.
  EXPECT_EQ(first.Get(), SQLSchemaMgr::GetSchema("exemp010", 100).Get());
  EXPECT_EQ(2, SQLSchemaMgr::GetNoSchemas());
}

TEST_F(SchemaTest, AMissingTableLeavesTheCacheAndIsAskedForAgain) {
  for (char const *name : {"exnew010", "exemp01", "exemp0100", "", static_cast<char const *>(nullptr)}) {
    try {
      SQLSchemaMgr::GetSchema(name);
      ADD_FAILURE() << "no exception for " << (name ? name : "null");
    } catch (SQLSchemaExNotExists const &e) {
      EXPECT_STREQ(name ? name : "", e.GetTableName());
    }
  }
  EXPECT_EQ(0, SQLSchemaMgr::GetNoSchemas());
  EXPECT_EQ(0, SQLSchemaMgr::GetNoCachedSchemas());

  // The dump appears: the next request reads it.
  std::string dump = AllTypesDump();
  for (size_t at; (at = dump.find("exall010")) != std::string::npos;) dump.replace(at, 8, "exnew010");
  root_.WriteFile("dict/dexnew010", dump);
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema("exnew010");
  EXPECT_EQ(15, schema->GetNumCols());
  EXPECT_EQ(1, SQLSchemaMgr::GetNoSchemas());
}

TEST_F(SchemaTest, HandlesKeepTheirSchemaAfterExit) {
  SQLSchemaPtr held = SQLSchemaMgr::GetSchema("tttxt010");
  SQLSchema const *before = held.Get();
  SQLSchemaMgr::Exit();
  EXPECT_EQ(0, SQLSchemaMgr::GetNoCachedSchemas());
  EXPECT_EQ(1, held.UseCount());
  EXPECT_EQ(4, held->GetNumCols());
  EXPECT_STREQ("text", held->GetColumnDescriptor(3)->GetName());

  // A new cache builds the schema again.
  SQLSchemaPtr again = SQLSchemaMgr::GetSchema("tttxt010");
  EXPECT_EQ(2, SQLSchemaMgr::GetNoSchemas());
  EXPECT_NE(before, again.Get());
  SQLSchemaMgr::Exit();
}

TEST_F(SchemaTest, HandlesCountCopiesAndAssignments) {
  SQLSchemaPtr a = SQLSchemaMgr::GetSchema("exdep010");
  SQLSchemaMgr::Exit();
  EXPECT_EQ(1, a.UseCount());
  {
    SQLSchemaPtr b(a);
    SQLSchemaPtr c;
    EXPECT_TRUE(c.IsNull());
    EXPECT_EQ(0, c.UseCount());
    c = b;
    c = c;
    EXPECT_EQ(3, a.UseCount());
    b = SQLSchemaPtr();
    EXPECT_EQ(2, a.UseCount());
    EXPECT_TRUE(c == a);
  }
  EXPECT_EQ(1, a.UseCount());
  SQLSchemaPtrList list;
  list.Append(a);
  list.Append(a);
  EXPECT_EQ(3, a.UseCount());
}

TEST_F(SchemaTest, LogListsColumnsAndPseudoColumns) {
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema("tttxt010");
  SQLLogger &log = *SQLLogger::Instance();
  log.ResetIndent();
  log.SetLogFlags(SQLLogger::Tree::Vt);
  testing::internal::CaptureStderr();
  schema->Log();
  EXPECT_EQ(
      "Schema(\n"
      "   0: ColumnDescriptor(\"clan\",SQL_STRING,length=1,depth=1)\n"
      "   1: ColumnDescriptor(\"ctxt\",SQL_INTEGER,length=4,depth=1)\n"
      "   2: ColumnDescriptor(\"seqe\",SQL_INTEGER,length=2,depth=1)\n"
      "   3: ColumnDescriptor(\"text\",SQL_STRING,length=80,depth=1)\n"
      "   PseudoCol(\"_index1\", ColIds: 1 0 2 )\n"
      ")\n",
      testing::internal::GetCapturedStderr());

  log.SetLogFlags(0);
  testing::internal::CaptureStderr();
  schema->Log();
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST(SchemaTypes, DictionaryTypesMapToSQLTypes) {
  SQLType const expected[] = {SQL_INTEGER, SQL_INTEGER, SQL_INTEGER, SQL_REAL,    SQL_REAL,
                              SQL_STRING,  SQL_DATE,    SQL_TIMESTAMP, SQL_INTEGER, SQL_INTEGER,
                              SQL_INTEGER, SQL_INTEGER, SQL_UNDEFINED, SQL_STRING,  SQL_RAW};
  for (int type = 1; type <= 15; ++type) {
    if (type == DDT_COMBINED) continue;
    EXPECT_EQ(expected[type - 1], SQLTypeFromDDType(type)) << type;
  }
}

TEST(SchemaTypesDeathTest, TypesWithoutAnSQLTypeStop) {
  for (int type : {0, 13, 16, 255})
    EXPECT_DEATH(SQLTypeFromDDType(type), "Unexpected type " + std::to_string(type));
}

TEST_F(SchemaTest, ServicesOfTheServerSideStop) {
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema("exemp010");
  EXPECT_DEATH(schema->GetDBSBaseColumn(0), "GetDBSBaseColumn not implemented in client code");
  EXPECT_DEATH(SQLSchemaMgr::GetSchema("exdep010", 100),
               "SQLSchema::SQLSchema\\(TableName,Compnr\\) not implemented in client code");
  EXPECT_DEATH(schema->GetColumnDescriptor(12), "column id 12 outside 0..11");
  EXPECT_DEATH(schema->GetDDColumn(-1), "column id -1 outside 0..11");
}

}  // namespace
