// SQLDatabaseInstance: the database driver that serves one table in one
// company, as execution sees it when it decides which tables one driver
// query may combine.
#pragma once

#include <memory>

struct DRIVER_SPEC;

class SQLDatabaseInstance {
 public:
  // The read driver group of the table in the company, from the table
  // definitions. Throws SQLExZDBError(505) when the table has none.
  SQLDatabaseInstance(char const *tableName, int companyNumber);

  std::unique_ptr<SQLDatabaseInstance> Copy() const;

  // The driver group (a record that lives for the process), handed to the
  // database client to find or attach the driver session.
  DRIVER_SPEC *GetServerSpec() const { return serverSpec_; }
  bool SupportsFiltersInJoins() const { return supportsFiltersInJoins_; }
  // For a driver whose queries cannot carry conditions inside a join.
  void SetSupportsFiltersInJoins(bool supports) { supportsFiltersInJoins_ = supports; }
  // Most tables one driver query may join.
  int MaxTablesJoined() const { return 999; }
  // TRUE when one driver serves both tables, so that one query may combine
  // them: the two driver groups hold the same drivers in the same order.
  bool IsCompatible(SQLDatabaseInstance const *other) const;

 private:
  SQLDatabaseInstance(DRIVER_SPEC *serverSpec, bool supportsFiltersInJoins)
      : serverSpec_(serverSpec), supportsFiltersInJoins_(supportsFiltersInJoins) {}

  DRIVER_SPEC *serverSpec_;      // not owned
  bool supportsFiltersInJoins_;  // conditions may travel inside a shipped join
};
