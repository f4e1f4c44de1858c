// Helpers of the role-condition tests: a table of columns given by the test,
// the trace text of a validated condition, and the error a call raises.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/roles/role_cond_table.h"
#include "sql/validate/vt_search_cond.h"

namespace molvane::test {

// A table whose columns are given by name and type; ids are positions.
class ColumnsTable : public SQLSCTable {
 public:
  struct Column {
    char const *name;
    SQLType type;
  };
  ColumnsTable(char const *name, std::vector<Column> const &columns) : name_(name) {
    for (Column const &c : columns) {
      unsigned long length = c.type == SQL_STRING ? 10 : c.type == SQL_REAL ? 8 : 4;
      descriptors_.push_back(std::make_unique<SQLColumnDescriptor>(c.name, c.type, length, 1));
    }
  }
  char const *GetName() const override { return name_.c_str(); }
  int GetColumnId(char const *name) const override {
    for (size_t i = 0; i < descriptors_.size(); ++i) {
      if (std::strcmp(descriptors_[i]->GetName(), name) == 0) return static_cast<int>(i);
    }
    return -1;
  }
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const override {
    return descriptors_[static_cast<size_t>(id)].get();
  }
  int NrColumns() const { return static_cast<int>(descriptors_.size()); }

 private:
  std::string name_;
  std::vector<std::unique_ptr<SQLColumnDescriptor>> descriptors_;
};

// The trace of a validated condition, as Log writes it.
inline std::string LogText(SQLVTSCSearchCond const *condition) {
  SQLLogger *log = SQLLogger::Instance();
  long flags = log->GetLogFlags();
  log->SetLogFlags(SQLLogger::Tree::Vt);
  testing::internal::CaptureStderr();
  condition->Log();
  std::string text = testing::internal::GetCapturedStderr();
  log->SetLogFlags(flags);
  return text;
}

// The SQLSTATE and message of the SQLException that f throws, "none" when
// it throws none.
struct Raised {
  std::string state;
  std::string message;
  int native = 0;
};
inline Raised RaisedBy(std::function<void()> const &f) {
  try {
    f();
  } catch (SQLException const &e) {
    return {e.GetSQLState(), e.GetMessageText()->GetString(), e.GetZDBError()};
  }
  return {"none", "", 0};
}

}  // namespace molvane::test
