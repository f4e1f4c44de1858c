// The outer column references of a query description, turned into
// parameters: a description shipped to a driver cannot read the rows of the
// enclosing query, so each such reference travels as a parameter whose value
// the table leaf copies from the outer row before every execution.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/sql_parameter.h"

class SQLRSPrepareContext;

// One outer column reference and the parameter that stands for it.
class SQLOuterCRef2Param {
 public:
  // level < 0: relative to the description's own row.
  SQLOuterCRef2Param(int level, int columnId);
  int GetRelScopeLevel() const { return level_; }
  int GetColumnId() const { return columnId_; }
  SQLParameter *GetParam() { return &param_; }
  // Finds the outer row's store and types the parameter after the column.
  void Prepare(SQLRSPrepareContext *context);
  // The outer row's value store, null until Prepare.
  SQLValueStore const *GetValueStoreAddr() const { return outer_; }
  // Copies the outer value into the parameter and binds it to the statement.
  void Bind(unsigned long statement);
  // Whether the reference reads a row of the query at `level` or inside it.
  bool IsVariable(int level) const { return level_ + level < 1; }
  bool IsConstant(int level) const { return level_ + level > 0; }

 private:
  int level_;                               // relative scope level, negative
  int columnId_;
  SQLParameter param_;                      // owned
  SQLValueStore const *outer_ = nullptr;    // not owned
};

// The outer-reference parameters of one description, in order of creation.
class SQLRSNetFetchParams {
 public:
  // The parameter for (level, column): the existing one, or a new one.
  SQLParameter *AddOuterCref(int level, int columnId);
  int Count() const { return static_cast<int>(params_.size()); }
  SQLOuterCRef2Param *Get(int i) { return params_[static_cast<size_t>(i)].get(); }
  bool IsVariable(int level) const;
  bool IsConstant(int level) const;  // TRUE for none
  // Each entry finds its outer row's store (see SQLOuterCRef2Param).
  void Prepare(SQLRSPrepareContext *context);
  // Copies each outer value into its parameter and binds it to the agent
  // statement.
  void Bind(unsigned long statement);
  // Moves the other list's entries behind this list's (a merged-in
  // description still needs its own parameters bound).
  void TakeOver(SQLRSNetFetchParams *other);

 private:
  std::vector<std::unique_ptr<SQLOuterCRef2Param>> params_;
};
