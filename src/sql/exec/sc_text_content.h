// SQLRSSCTextContent: text_content(text number, language), the full text of
// a numbered multi-line text in one language, read from the texts table of
// the company through the process-wide text reader (text_reader.h).
//
// The expression is attached to the statement's session with the rest of
// the tree (the attach and detach visitors call AttachToSession and
// DetachFromSession), because the reader fetches through that session.
#pragma once

#include "sql/exec/sc_value_expr.h"

class SQLDatabaseInstance;

class SQLRSSCTextContent : public SQLRSSCValueExpr {
 public:
  // Takes ownership of both operands.
  SQLRSSCTextContent(SQLRSSCValueExpr *textNumber, SQLRSSCValueExpr *language, int companyNumber);
  ~SQLRSSCTextContent() override;

  void AttachToSession(unsigned long sessionId) { session_ = sessionId; }
  void DetachFromSession() { session_ = 0; }
  unsigned long GetSession() const { return session_; }
  int GetCompanyNumber() const { return companyNumber_; }
  // TRUE when the driver of the texts table in the company is compatible
  // with the instance, so that the expression may travel to it.
  bool OperatesOnThisDBInstance(SQLDatabaseInstance *instance) const;

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override { return SQLColumnDescriptor("", SQL_STRING, 0, 1); }
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override { return other == this; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCTextContent"; }

 private:
  SQLRSSCValueExprPtr textNumber_;
  SQLRSSCValueExprPtr language_;
  int companyNumber_;
  unsigned long session_ = 0;  // 0 while detached
  SQLValueStore const *textNumberStore_ = nullptr;
  SQLValueStore const *languageStore_ = nullptr;
  SQLValueStore store_;
};
