// The buffered records a row action leaves in the row data set: which kind
// (a delete or update with its delayed-lock image, or one the driver carries
// out whole with its cascades) and which host flags, per driver set-up: the
// referencing tables on the table's own driver, on another driver, and the
// table with an audit copy. Also the refresh record, which repeats the last
// image with every stored column at its own place.
#include <cstring>
#include <string>
#include <vector>

#include <molvane/zdb_dlock.h>

#include "actions_env.h"
#include "dbc/request/rds.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "support/fake_sql.h"

namespace molvane::test {
namespace {

struct Buffered {
  std::uint32_t kind;
  std::uint32_t flags;
  std::vector<unsigned char> columns;  // the stored columns, one after the other
};

std::uint32_t U32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

class BufferedKinds : public ActionsTest {
 protected:
  // The referencing tables on another driver are asked through the
  // stand-in SQL calls: no children.
  FakeSql sql_;

  void SetUp() override {
    ActionsTest::SetUp();
    Logon();
    Create("exdep010", {1, 5, 900});
    for (int compnr : {1, 5, 900}) Seed("exdep010", compnr, {{{"code", "A"}, {"name", "Alpha"}}});
  }
  // The records waiting in the update row data set of a table and company.
  std::vector<Buffered> Records(ZDB_CURSOR *cursor, int compnr) {
    ZDB_INTERNAL_CURSOR *ic = Chain(cursor, compnr);
    RDS *rds = ic->company->updates->rds[0];
    std::vector<Buffered> out;
    if (rds == nullptr) return out;
    rds_rewind(rds);
    std::vector<unsigned char> row(rds->row_length);
    while (rds_get_seq(rds, row.data()) == 0)
      out.push_back({U32(&row[4]), U32(&row[8]), {row.begin() + 12, row.end()}});
    return out;
  }
  std::vector<std::uint32_t> Kinds(ZDB_CURSOR *cursor, int compnr) {
    std::vector<std::uint32_t> kinds;
    for (const Buffered &b : Records(cursor, compnr)) kinds.push_back(b.kind);
    return kinds;
  }
  // Reads the key with a delayed lock and runs a buffered write on it.
  void Write(ZDB_CURSOR *cursor, int compnr, int action) {
    Load(Row("exdep010", {{"code", "A"}}));
    ASSERT_EQ(zdb_exec_row(cursor, db_eq_delayed, 0, compnr), 0) << zdb_errno;
    DD_COLUMN *name = ddcolumn("exdep010.name");
    std::memcpy(row_ + name->offset, "Changed", 7);
    ASSERT_EQ(zdb_exec_row(cursor, action, 0, compnr), 0) << zdb_errno;
  }
};

TEST_F(BufferedKinds, DeleteAndUpdateKindsPerDriverSetUp) {
  struct Case {
    int compnr;
    const char *setup;
    std::vector<std::uint32_t> deleted, updated;
    bool checks_in_driver;  // host flag 0x100000 on the delete
  } cases[] = {
      {1, "referencing tables on the same driver", {RDS_ACT_DELETE_WHOLE},
       {RDS_ACT_UPDATE_OLD, RDS_ACT_UPDATE_WHOLE}, true},
      {5, "a referencing table on another driver", {RDS_ACT_DELETE},
       {RDS_ACT_UPDATE_OLD, RDS_ACT_UPDATE_NEW}, false},
      {900, "with an audit driver", {RDS_ACT_DELETE}, {RDS_ACT_UPDATE_OLD, RDS_ACT_UPDATE_NEW},
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.setup);
    ZDB_CURSOR *cursor = Open("exdep010");
    Write(cursor, c.compnr, db_delete_51);
    std::vector<Buffered> records = Records(cursor, c.compnr);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, c.deleted[0]);
    EXPECT_EQ((records[0].flags & ZDB_HF_SERVER_CHECKS) != 0, c.checks_in_driver);
    ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
    Write(cursor, c.compnr, db_update_51);
    EXPECT_EQ(Kinds(cursor, c.compnr), c.updated);
    ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
    zdb_close(cursor);
  }
}

TEST_F(BufferedKinds, CountersAreLeftToTheDriverWhenEveryParentIsOnIt) {
  Create("exemp010", {1, 5});
  for (int compnr : {1, 5}) {
    SCOPED_TRACE(compnr);
    ZDB_CURSOR *cursor = Open("exemp010");
    Load(Row("exemp010", {{"name", "Bob"}, {"dept", "A"}}));
    ASSERT_EQ(zdb_exec_row(cursor, db_insert_51, 0, compnr), 0) << zdb_errno;
    std::vector<Buffered> records = Records(cursor, compnr);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, RDS_ACT_INSERT);
    // exdep010 lives on exemp010's driver in company 1 only.
    EXPECT_EQ((records[0].flags & ZDB_HF_SERVER_REFCNT) != 0, compnr == 1);
    ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
    zdb_close(cursor);
  }
}

// exemp010 keeps a column that is not stored (memo) between stored ones: the
// refresh record must put every stored column back at its own place.
TEST_F(BufferedKinds, RefreshRepeatsTheLastImageColumnForColumn) {
  Create("exemp010", {1});
  ZDB_CURSOR *cursor = Open("exemp010");
  Load(Row("exemp010", {{"name", "Bob"}, {"dept", "A"}, {"memo", "not kept"}, {"dcas", "A"}, {"drst", "A"}}));
  ASSERT_EQ(zdb_exec_row(cursor, db_insert_51, 0, 1), 0) << zdb_errno;
  std::memset(row_, 0, sizeof row_);
  ASSERT_EQ(zdb_exec_row(cursor, refresh_bfrd, 0, 1), 0) << zdb_errno;
  std::vector<Buffered> records = Records(cursor, 1);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].kind, RDS_ACT_REFRESH);
  EXPECT_EQ(records[1].columns, records[0].columns);
  // The driver takes the refresh along with the insert.
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  EXPECT_EQ(ReadIn("exemp010", 1, {}), 0);
  EXPECT_EQ(Text("exemp010", "name"), "Bob");
}

}  // namespace
}  // namespace molvane::test
