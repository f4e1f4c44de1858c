#include "sql/common/column_descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "sql/common/sql_logger.h"

namespace {

TEST(SQLColumnDescriptor, CopiesShareBorrowedNamesAndDuplicateOwnedOnes) {
  static char const borrowedName[] = "code";
  SQLColumnDescriptor borrowed(borrowedName, SQL_STRING, 6, 1);
  SQLColumnDescriptor owned(SQLColumnDescriptor::CopyName("total"), SQL_REAL, 8, 3, true);

  SQLColumnDescriptor borrowedCopy(borrowed);
  EXPECT_EQ(borrowedName, borrowedCopy.GetName());
  EXPECT_FALSE(borrowedCopy.NameIsOwned());

  SQLColumnDescriptor ownedCopy(owned);
  EXPECT_NE(owned.GetName(), ownedCopy.GetName());
  EXPECT_STREQ("total", ownedCopy.GetName());
  EXPECT_TRUE(ownedCopy.NameIsOwned());
  EXPECT_EQ(SQL_REAL, ownedCopy.GetType());
  EXPECT_EQ(8UL, ownedCopy.GetLength());
  EXPECT_EQ(3, ownedCopy.GetDepth());

  // Assignment replaces an owned name by a borrowed one and back; the
  // sanitizer build catches a double free or a leak here.
  ownedCopy = borrowed;
  EXPECT_EQ(borrowedName, ownedCopy.GetName());
  EXPECT_FALSE(ownedCopy.NameIsOwned());
  borrowedCopy = owned;
  EXPECT_STREQ("total", borrowedCopy.GetName());
  EXPECT_NE(owned.GetName(), borrowedCopy.GetName());
  borrowedCopy = borrowedCopy;
  EXPECT_STREQ("total", borrowedCopy.GetName());

  // A name handed over without ownership stays the caller's.
  char mine[] = "mine";
  { SQLColumnDescriptor notOwned(mine, SQL_INTEGER, 4, 1, false); }
  EXPECT_STREQ("mine", mine);
  SQLColumnDescriptor unnamed(static_cast<char *>(nullptr), SQL_INTEGER, 4, 1, true);
  SQLColumnDescriptor unnamedCopy(unnamed);
  EXPECT_EQ(nullptr, unnamedCopy.GetName());
}

TEST(SQLColumnDescriptor, LogTracesOnlyWhileTracing) {
  SQLLogger &log = *SQLLogger::Instance();
  log.ResetIndent();
  SQLColumnDescriptor d("scores", SQL_INTEGER, 2, 3);
  log.SetLogFlags(SQLLogger::Eval::Rs);
  testing::internal::CaptureStderr();
  d.Log();
  EXPECT_EQ("ColumnDescriptor(\"scores\",SQL_INTEGER,length=2,depth=3)",
            testing::internal::GetCapturedStderr());
  log.SetLogFlags(0);
  testing::internal::CaptureStderr();
  d.Log();
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

}  // namespace
