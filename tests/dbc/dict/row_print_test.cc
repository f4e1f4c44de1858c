// Debug printing of rows and columns.
#include "dbc/dict/row_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <molvane/platform.h>

#include "dbc/dict/dd.h"
#include "support/test_env.h"

namespace {

class RowPrint : public testing::Test {
 protected:
  void SetUp() override {
    set_zuv(molvane::test::FixturePath("zuv").c_str());
    init_local_dd();
    table_ = ddtable("exdep010");
    ASSERT_NE(table_, nullptr);
    row_.assign(table_->default_row, table_->default_row + table_->row_length);
  }
  const DD_TABLE *table_ = nullptr;
  std::vector<unsigned char> row_;
};

TEST_F(RowPrint, DefaultRowInRowOrder) {
  testing::internal::CaptureStderr();
  print_row_from_table(table_, row_.data(), "Rcvd row :");
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.rfind("Rcvd row : ", 0), 0u) << out;
  EXPECT_NE(out.find("'unnamed"), std::string::npos) << out;
  EXPECT_NE(out.find("2500.750000 "), std::string::npos) << out;
  EXPECT_EQ(out.back(), '\n');
}

TEST_F(RowPrint, OneColumnAndOneElement) {
  const DD_COLUMN *status = ddcolumn("exdep010.status");
  ASSERT_NE(status, nullptr);
  testing::internal::CaptureStderr();
  print_one_col(status, row_.data(), "status");
  print_one_col_index(status, row_.data(), 0, "first");
  print_one_col_index(status, row_.data(), status->depth, "beyond");
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "status 1 \nfirst 1 \n");
}

TEST_F(RowPrint, CombinedColumnPrintsItsMembersButNoElement) {
  const DD_COLUMN *ident = ddcolumn("exemp010.ident");
  ASSERT_NE(ident, nullptr);
  const DD_TABLE *emp = ddtable("exemp010");
  std::vector<unsigned char> row(emp->default_row, emp->default_row + emp->row_length);
  testing::internal::CaptureStderr();
  print_one_col(ident, row.data(), "ident");
  print_one_col_index(ident, row.data(), 0, "x");
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.rfind("ident 0 '", 0), 0u) << out;
  EXPECT_NE(out.find("Combined & Array not allowed\n"), std::string::npos);
}

}  // namespace
