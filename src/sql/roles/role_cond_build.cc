#include "sql/roles/role_cond_build.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/mal.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/front/sql_scanner.h"
#include "sql/roles/role_cond_parse.h"
#include "sql/roles/role_cond_table.h"
#include "sql/validate/vtsc_arith.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_row_value.h"

namespace {

SQLSCParse *g_current = nullptr;  // the parse that runs, null between parses

[[noreturn]] void Fail(char const *state, std::string const &message) {
  throw SQLException(state, scstate::kNativeError, SQLString(message.c_str()));
}

// Unlinks node from the list (no allocation, cannot fail). The node is one
// of the newest entries, so the walk is short.
template <class T>
void Release(List<T *> *list, T *node) {
  for (bool ok = list->First(); ok; ok = list->Next()) {
    if (list->GetCurrent() == node) {
      list->DeleteCurrent();
      return;
    }
  }
  SQLAbort(__FILE__, __LINE__, "Role condition node not in its live list");
}

// Inserts a new node at the head of its live list. When that fails the node
// goes with the unique_ptr.
template <class T, class N>
N *Keep(List<T *> *list, std::unique_ptr<N> node) {
  node->SetLineNumber(sql_scyyGetLineNumber());
  list->Insert(node.get());
  return node.release();
}

// Moves one operand of a new AND (OR) into the connective's terms: the terms
// of an operand of the same kind one by one, else the operand itself. Every
// term is owned either by the operand or by the connective, so a failure in
// between loses and doubles nothing.
template <class Logical>
void MoveTerms(Logical *target, SQLSCCondPtr operand) {
  pSQLVTSCSearchCondList *terms = target->Terms();
  auto *same = dynamic_cast<Logical *>(operand.get());
  if (same == nullptr) {
    terms->Append(operand.get());
    operand.release();
    return;
  }
  pSQLVTSCSearchCondList *from = same->Terms();
  for (bool ok = from->First(); ok; ok = from->Next()) {
    terms->Append(from->GetCurrent());
    from->DeleteCurrent();
  }
}  // the emptied operand goes here

template <class Logical>
SQLSCCondPtr Combine(SQLSCCondPtr a, SQLSCCondPtr b) {
  if (!a) return b;
  if (!b) return a;
  // An empty connective first; the terms follow one at a time.
  auto noTerms = std::make_unique<pSQLVTSCSearchCondList>();
  std::unique_ptr<Logical> node(new Logical(noTerms.get()));
  noTerms.release();  // taken over and deleted by the constructor
  MoveTerms(node.get(), std::move(a));
  MoveTerms(node.get(), std::move(b));
  return node;
}

// Takes a live condition out of the parse's list.
SQLSCCondPtr TakeLive(SQLVTSCSearchCond *cond) {
  Release(SQLSCParse::Current().Conditions(), cond);
  return SQLSCCondPtr(cond);
}

}  // namespace

// ---- The parse ----

SQLSCParse::SQLSCParse(SQLSCTable const *table) : table_(table), previous_(g_current) { g_current = this; }

SQLSCParse::~SQLSCParse() {
  for (bool ok = conditions_.First(); ok; ok = conditions_.Next()) delete conditions_.GetCurrent();
  for (bool ok = values_.First(); ok; ok = values_.Next()) delete values_.GetCurrent();
  g_current = previous_;
}

SQLVTSCSearchCond *SQLSCParse::TakeRoot() { return root_.release(); }

void *SQLSCParse::GrowStack(int which, void const *stack, std::size_t used, std::size_t bytes) {
  void *bigger = mal_sys_malloc(bytes);
  if (bigger == nullptr) throw std::bad_alloc();
  std::memcpy(bigger, stack, used);
  stacks_[static_cast<std::size_t>(which)].reset(bigger);  // frees the storage copied from
  return bigger;
}

SQLSCParse &SQLSCParse::Current() {
  if (g_current == nullptr) SQLAbort(__FILE__, __LINE__, "Role condition built outside a parse");
  return *g_current;
}

// ---- The builders ----

void SQLSCBuildRoot(SQLVTSCSearchCond *root) {
  SQLSCParse &parse = SQLSCParse::Current();
  Release(parse.Conditions(), root);
  parse.root_.reset(root);
}

SQLSCCondPtr SQLSCAnd(SQLSCCondPtr a, SQLSCCondPtr b) { return Combine<SQLVTSCAnd>(std::move(a), std::move(b)); }

SQLSCCondPtr SQLSCOr(SQLSCCondPtr a, SQLSCCondPtr b) { return Combine<SQLVTSCOr>(std::move(a), std::move(b)); }

// The operands leave the live list first: from there on a failure deletes
// them with the connective.
SQLVTSCSearchCond *SQLSCBuildAnd(SQLVTSCSearchCond *left, SQLVTSCSearchCond *right) {
  SQLSCCondPtr l = TakeLive(left);
  SQLSCCondPtr r = TakeLive(right);
  return Keep(SQLSCParse::Current().Conditions(), SQLSCAnd(std::move(l), std::move(r)));
}

SQLVTSCSearchCond *SQLSCBuildOr(SQLVTSCSearchCond *left, SQLVTSCSearchCond *right) {
  SQLSCCondPtr l = TakeLive(left);
  SQLSCCondPtr r = TakeLive(right);
  return Keep(SQLSCParse::Current().Conditions(), SQLSCOr(std::move(l), std::move(r)));
}

SQLVTSCSearchCond *SQLSCBuildComparison(SQLVTSCValueExpr *left, int op, SQLVTSCValueExpr *right) {
  SQLSCParse &parse = SQLSCParse::Current();
  auto *leftRow = new SQLVTSCGenericRowValueConstr();
  std::unique_ptr<SQLVTSCGenericRowValueConstr> leftOwner(leftRow);
  auto *rightRow = new SQLVTSCGenericRowValueConstr();
  std::unique_ptr<SQLVTSCGenericRowValueConstr> rightOwner(rightRow);
  std::unique_ptr<SQLVTSCComparison> node(
      new SQLVTSCComparison(leftRow, static_cast<SQLVTSCCompOperator>(op), rightRow));
  leftOwner.release();
  rightOwner.release();
  // Each value leaves its live list as soon as its row owns it.
  leftRow->Append(left);
  Release(parse.Values(), left);
  rightRow->Append(right);
  Release(parse.Values(), right);
  return Keep(parse.Conditions(), std::move(node));
}

SQLVTSCValueExpr *SQLSCBuildArith(char op, SQLVTSCValueExpr *left, SQLVTSCValueExpr *right) {
  pSQLVTSCValueExprList *live = SQLSCParse::Current().Values();
  SQLVTSCValueExpr *raw = nullptr;
  switch (op) {
    case '+': raw = new SQLVTSCAdd(left, right); break;
    case '-': raw = new SQLVTSCSubtract(left, right); break;
    case '&': raw = new SQLVTSCConcatenate(left, right); break;
    case '*': raw = new SQLVTSCMultiply(left, right); break;
    case '/': raw = new SQLVTSCDivide(left, right); break;
    case '\\': raw = new SQLVTSCModulo(left, right); break;
    default: SQLAbort(__FILE__, __LINE__, "Unknown role condition operator %d", op);
  }
  // The operator owns its operands from here on.
  std::unique_ptr<SQLVTSCValueExpr> node(raw);
  Release(live, left);
  Release(live, right);
  return Keep(live, std::move(node));
}

SQLVTSCValueExpr *SQLSCBuildColumn(char const *name) {
  SQLSCParse &parse = SQLSCParse::Current();
  SQLSCTable const *table = parse.Table();
  int id = table->GetColumnId(name);
  if (id < 0) {
    Fail(scstate::kUnknownColumn,
         std::string("Table ") + table->GetName() + " has no column '" + name + "'");
  }
  auto node = std::make_unique<SQLVTSCColumnRef>(0, id, table->GetColumnDescriptor(id));
  return Keep(parse.Values(), std::move(node));
}

SQLVTSCValueExpr *SQLSCBuildInteger(char const *digits, bool negative) {
  // long has 64 bits here: the 32-bit range is checked explicitly, on the
  // digits before the sign, so 2147483648 is out of range even as -2147483648.
  errno = 0;
  long value = std::strtol(digits, nullptr, 10);
  if (errno == ERANGE || value > INT32_MAX) {
    Fail(scstate::kLiteralRange, std::string("Integer literal ") + digits + " is out of range");
  }
  auto node = std::make_unique<SQLVTSCIntegerConst>(negative ? -value : value);
  return Keep(SQLSCParse::Current().Values(), std::move(node));
}

SQLVTSCValueExpr *SQLSCBuildReal(char const *text, bool negative) {
  errno = 0;
  double value = std::strtod(text, nullptr);
  if (errno == ERANGE) Fail(scstate::kLiteralRange, std::string("Real literal ") + text + " is out of range");
  auto node = std::make_unique<SQLVTSCRealConst>(negative ? -value : value);
  return Keep(SQLSCParse::Current().Values(), std::move(node));
}

SQLVTSCValueExpr *SQLSCBuildString(char const *token) {
  // The unquoted text is never longer than the token.
  std::unique_ptr<char[]> text = SQLUnquote(token);
  auto node = std::make_unique<SQLVTSCStringConst>(reinterpret_cast<unsigned char const *>(text.get()),
                                                   static_cast<long>(std::strlen(text.get())),
                                                   SQLVTSCStringConst::AsIs);
  return Keep(SQLSCParse::Current().Values(), std::move(node));
}
