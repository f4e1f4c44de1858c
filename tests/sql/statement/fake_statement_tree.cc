#include "fake_statement_tree.h"

#include <cstring>
#include <memory>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/value_store.h"
#include "sql/exec/exec_tree.h"
#include "sql/statement/statement.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/where_used.h"

namespace faketree {

namespace {

char *Copy(std::string const &s) {
  char *p = new char[s.size() + 1];
  std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

void Fail(FailAt at, FailAt here) {
  if (at == here) throw SQLException("QP999", 304, SQLString("made-up failure"));
}

// Saved stores and key parameters of RETRY clauses live as long as the test.
std::vector<std::unique_ptr<SQLValueStore>> &SavedStores() {
  static std::vector<std::unique_ptr<SQLValueStore>> stores;
  return stores;
}

std::vector<std::unique_ptr<SQLParameter>> &KeyParameters() {
  static std::vector<std::unique_ptr<SQLParameter>> parameters;
  return parameters;
}

class RowsTree : public SQLExecTree {
 public:
  RowsTree(Statement const &spec, SQLVTreeData *treeData)
      : spec_(spec), treeData_(treeData), stores_(spec.columns.size()) {}
  ~RowsTree() override { ++Counts().destroyed; }

  SQLExecTree *Optimize() override {
    ++Counts().optimizes;
    return this;
  }
  void Prepare(SQLRSPrepareContext *) override { ++Counts().prepares; }
  void Attach(unsigned long session) override {
    ++Counts().attaches;
    Counts().lastSession = session;
  }
  int GetNumCols() override { return static_cast<int>(stores_.size()); }
  SQLColumnDescriptor const *GetColumnDescriptor(int) override { return nullptr; }
  SQLValueStore const *GetValueStoreAddr(int column) override { return &stores_[column]; }
  void SetMaxRows(int limit) override { Counts().lastMaxRows = limit; }
  void SetTimeOut(long deadline) override { Counts().lastDeadline = deadline; }
  void SetBufferSize(int rows) override { Counts().lastBufferSize = rows; }
  int Exec() override {
    ++Counts().execs;
    Fail(spec_.failAt, FailAt::Exec);
    SQLParameter *compnr = treeData_->GetDefaultCompnrParameter();
    Counts().lastCompnr = compnr ? compnr->GetInteger() : -1;
    next_ = 0;
    // From a retry point the rows up to the saved key are left out.
    first_ = 0;
    if (spec_.retry != SQL_RETRY_NONE) {
      SQLRetrySpecList *specs = treeData_->GetRetrySpecs();
      specs->First();
      SQLRetrySpec &retry = specs->GetCurrent();
      if (!retry.parameter->IsNull()) {
        std::int32_t key = retry.parameter->GetInteger();
        while (first_ < spec_.rows.size() && std::get<std::int32_t>(spec_.rows[first_][0]) <= key) {
          ++first_;
        }
      }
    }
    next_ = first_;
    return spec_.type == SQL_STMT_SELECT ? 0 : spec_.affected;
  }
  int Fetch() override {
    ++Counts().fetches;
    Fail(spec_.failAt, FailAt::Fetch);
    if (next_ >= spec_.rows.size()) return 0;
    std::vector<Value> const &row = spec_.rows[next_++];
    for (std::size_t i = 0; i < stores_.size(); ++i) Set(&stores_[i], row[i]);
    return 1;
  }
  int SkipRows(int n) override {
    int skipped = 0;
    while (skipped < n && next_ < spec_.rows.size()) ++next_, ++skipped;
    return skipped;
  }
  void Break() override {
    ++Counts().breaks;
    Fail(spec_.failAt, FailAt::Break);
  }
  void Close() override { ++Counts().closes; }
  void Log() override {}

 private:
  static void Set(SQLValueStore *store, Value const &v) {
    if (std::holds_alternative<std::monostate>(v)) {
      store->SetNull();
    } else if (auto const *i = std::get_if<std::int32_t>(&v)) {
      store->SetInteger(*i);
    } else if (auto const *d = std::get_if<double>(&v)) {
      store->SetReal(*d);
    } else {
      store->SetString(std::get<std::string>(v).c_str());
    }
  }

  Statement spec_;
  SQLVTreeData *treeData_;
  std::vector<SQLValueStore> stores_;
  std::size_t first_ = 0;
  std::size_t next_ = 0;
};

class Root : public SQLVTNode {
 public:
  Root(Statement const &spec, SQLVTreeData *treeData) : spec_(spec), treeData_(treeData) {
    for (Column const &c : spec.columns) {
      descriptors_.emplace_back(c.name.c_str(), c.type, c.length, 1);
    }
  }

  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override {
    SQLAbort(__FILE__, __LINE__, "Root::BuildRetryFilter() called");
  }
  SQLRowSource *DoCreateRS() override { return nullptr; }
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override {
    return &descriptors_[static_cast<std::size_t>(column)];
  }
  int GetNumCols() const override { return static_cast<int>(descriptors_.size()); }
  bool IsForUpdate() override { return false; }
  void Log() const override {}
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int options, List<char const *> *,
                                 SQLVTWhereUsedMgr *whereUsed) override {
    Counts().lastOptions = options;
    Fail(spec_.failAt, FailAt::Map);
    if (whereUsed != nullptr) {
      for (std::string const &table : spec_.whereUsed) whereUsed->RegisterTable(table.c_str());
    }
    return this;
  }
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}
  void DoValidate() override { Fail(spec_.failAt, FailAt::Validate); }
  SQLExecTree *CreateET() override {
    ++Counts().creates;
    return new RowsTree(spec_, treeData_);
  }

 private:
  Statement spec_;
  SQLVTreeData *treeData_;
  std::vector<SQLColumnDescriptor> descriptors_;
};

}  // namespace

std::map<std::string, Statement> &Statements() {
  static std::map<std::string, Statement> statements;
  return statements;
}

Calls &Counts() {
  static Calls calls;
  return calls;
}

void Reset() {
  Statements().clear();
  Counts() = Calls();
  SQLStatement::SetParseFunction(&Parse);
}

SQLVTNode *Parse(char const *text, int mode, SQLVTreeData *treeData) {
  ++Counts().parses;
  Counts().lastMode = mode;
  auto found = Statements().find(text);
  if (found == Statements().end()) {
    throw SQLExSyntaxError("42000", SQLString("Unknown made-up statement"), 1);
  }
  Statement const &spec = found->second;
  if (spec.failAt == FailAt::Parse) {
    throw SQLExSyntaxError("42000", SQLString("Syntax error"), spec.failLine);
  }
  treeData->SetStmtType(spec.type);
  for (Param const &p : spec.params) {
    SQLParameter *parameter = treeData->GetImplementationParameter(Copy(p.name));
    parameter->SetType(p.type, 0, 1);
    parameter->SetNumericTypeOpen(false);
    if (p.compnr) treeData->AddCompnrParameter(parameter);
    if (p.name == spec.maxRowsParam) treeData->SetMaxRows(parameter);
  }
  if (spec.maxRows) treeData->SetMaxRows(*spec.maxRows);
  if (spec.defaultCompnr) treeData->GetOrCreateDefaultCompnrParameter();
  if (spec.type == SQL_STMT_SELECT) {
    treeData->CreateSelectTargetList();
    for (Column const &c : spec.columns) {
      treeData->AddSelectTarget(c.name.empty() ? nullptr : Copy(c.name), c.derived);
    }
    if (!spec.starTables.empty()) {
      treeData->CreateSelectStarTableList();
      int number = 0;
      for (auto const &[name, forUpdate] : spec.starTables) {
        treeData->AddSelectStarTable(number++, name.c_str(), forUpdate);
      }
    }
  }
  if (spec.retry != SQL_RETRY_NONE) {
    KeyParameters().push_back(std::make_unique<SQLParameter>());
    SQLParameter *key = KeyParameters().back().get();
    key->SetType(spec.columns[0].type, 0, 1);
    auto *specs = new SQLRetrySpecList();
    SQLRetrySpec retry;
    retry.position = 0;
    SavedStores().push_back(std::make_unique<SQLValueStore>());
    retry.saved = SavedStores().back().get();
    retry.parameter = key;
    key->SetNull();
    specs->Append(retry);
    treeData->SetRetrySpecs(specs);
    treeData->SetRetryClauseType(spec.retry);
  }
  return new Root(spec, treeData);
}

}  // namespace faketree
