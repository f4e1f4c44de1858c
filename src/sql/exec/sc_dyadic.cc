#include "sql/exec/sc_dyadic.h"

#include <typeinfo>

#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

SQLRSSCDyadic::SQLRSSCDyadic(SQLRSSCValueExpr *left, SQLRSSCValueExpr *right) : left_(left), right_(right) {}

SQLRSSCDyadic::~SQLRSSCDyadic() {
  SQLRSSCValueExprPtr below = std::move(left_);
  while (SQLRSSCDyadic *link = Link(below.get())) below = std::move(link->left_);
}

SQLRSSCDyadic *SQLRSSCDyadic::Link(SQLRSSCValueExpr *e) {
  auto *dyadic = dynamic_cast<SQLRSSCDyadic *>(e);
  return dyadic != nullptr && !dyadic->IsIndexing() ? dyadic : nullptr;
}

std::vector<SQLRSSCDyadic *> SQLRSSCDyadic::Spine() const {
  std::vector<SQLRSSCDyadic *> spine{const_cast<SQLRSSCDyadic *>(this)};
  while (SQLRSSCDyadic *link = Link(spine.back()->left_.get())) spine.push_back(link);
  return spine;
}

// The sums run in the order a recursive walk adds them, bottom-up.
void SQLRSSCDyadic::Cost(double *first, double *second) {
  auto const spine = Spine();
  double f = 0, s = 0;
  SQLRSSCAddCost(spine.back()->left_.get(), &f, &s);
  for (size_t i = spine.size(); i-- > 0;) {
    double nodeFirst = 0, nodeSecond = spine[i]->OwnCost();
    nodeFirst += f;
    nodeSecond += s;
    SQLRSSCAddCost(spine[i]->right_.get(), &nodeFirst, &nodeSecond);
    f = nodeFirst;
    s = nodeSecond;
  }
  *first = f;
  *second = s;
}

void SQLRSSCDyadic::AcceptVisit(SQLVisitor &visitor) {
  auto const spine = Spine();
  spine.back()->left_->AcceptVisit(visitor);
  for (size_t i = spine.size(); i-- > 0;) {
    spine[i]->right_->AcceptVisit(visitor);
    spine[i]->VisitSelf(visitor);
  }
}

void SQLRSSCDyadic::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  auto const spine = Spine();
  spine.back()->left_->GetColumnRefs(level, type, refs);
  for (size_t i = spine.size(); i-- > 0;) spine[i]->right_->GetColumnRefs(level, type, refs);
}

SQLColumnDescriptor SQLRSSCDyadic::GetColumnDescriptor() const {
  auto const spine = Spine();
  SQLColumnDescriptor d = spine.back()->left_->GetColumnDescriptor();
  for (size_t i = spine.size(); i-- > 0;) d = spine[i]->Describe(d, spine[i]->right_->GetColumnDescriptor());
  return d;
}

SQLTruthValue SQLRSSCDyadic::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  auto const spine = Spine();
  SQLTruthValue v = spine.back()->left_->NullValueOnNullifiedCols(level, intervals);
  for (size_t i = spine.size(); i-- > 0 && v != TV_TRUE;) {
    v = TVOr(v, spine[i]->right_->NullValueOnNullifiedCols(level, intervals));
  }
  return v;
}

void SQLRSSCDyadic::Optimize() {
  auto const spine = Spine();
  spine.back()->left_->Optimize();
  for (size_t i = spine.size(); i-- > 0;) spine[i]->right_->Optimize();
}

SQLValueStore const *SQLRSSCDyadic::Prepare(SQLRSPrepareContext *context) {
  prepared_ = Spine();
  SQLValueStore const *below = prepared_.back()->left_->Prepare(context);
  for (size_t i = prepared_.size(); i-- > 0;) {
    SQLRSSCDyadic *node = prepared_[i];
    node->leftStore_ = below;
    node->rightStore_ = node->right_->Prepare(context);
    below = &node->store_;
  }
  return &store_;
}

void SQLRSSCDyadic::Evaluate() {
  prepared_.back()->left_->Evaluate();
  for (size_t i = prepared_.size(); i-- > 0;) {
    SQLRSSCDyadic *node = prepared_[i];
    if (node->leftStore_->IsNull()) {
      node->store_.SetNull();
      continue;
    }
    node->right_->Evaluate();
    if (node->TestsRight() && node->rightStore_->IsNull()) {
      node->store_.SetNull();
      continue;
    }
    node->Operate(node->leftStore_, node->rightStore_);
  }
}

void SQLRSSCDyadic::Reset() {
  auto const spine = Spine();
  spine.back()->left_->Reset();
  for (size_t i = spine.size(); i-- > 0;) spine[i]->right_->Reset();
}

// Prefix order: the operators top-down, then the first term and the right
// operands bottom-up.
void SQLRSSCDyadic::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  auto const spine = Spine();
  for (SQLRSSCDyadic *node : spine) ts->AppendToken(node->Token());
  spine.back()->left_->createTokenString(ts, level, params);
  for (size_t i = spine.size(); i-- > 0;) spine[i]->right_->createTokenString(ts, level, params);
}

SQLRSSCValueExpr *SQLRSSCDyadic::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  auto const spine = Spine();
  SQLRSSCReplaceCRefs(&spine.back()->left_, level, columns, parameters);
  for (size_t i = spine.size(); i-- > 0;) SQLRSSCReplaceCRefs(&spine[i]->right_, level, columns, parameters);
  return this;
}

void SQLRSSCDyadic::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  auto const spine = Spine();
  for (SQLRSSCDyadic const *node : spine) log << node->LogWord() << incind << endl;
  SQLRSSCLogOperand("", spine.back()->left_.get());
  for (size_t i = spine.size(); i-- > 0;) {
    SQLRSSCLogOperand("", spine[i]->right_.get());
    log << decind << ")";
    if (i > 0) log << endl;
  }
}

SQLRSSCValueExpr *SQLRSSCDyadic::Copy() const {
  auto const spine = Spine();
  SQLRSSCValueExprPtr copy(spine.back()->left_->Copy());
  for (size_t i = spine.size(); i-- > 0;) {
    SQLRSSCValueExprPtr right(spine[i]->right_->Copy());
    copy.reset(spine[i]->NewLike(std::move(copy), std::move(right)));
  }
  return copy.release();
}

bool SQLRSSCDyadic::CanCopy() const {
  auto const spine = Spine();
  if (!spine.back()->left_->CanCopy()) return false;
  for (SQLRSSCDyadic const *node : spine) {
    if (!node->right_->CanCopy()) return false;
  }
  return true;
}

bool SQLRSSCDyadic::SameOperands(SQLRSSCDyadic const *other) const {
  for (SQLRSSCDyadic const *node = this;;) {
    if (!node->right_->IsSameValueExpr(other->right_.get())) return false;
    SQLRSSCDyadic const *below = Link(node->left_.get());
    SQLRSSCDyadic const *otherBelow = Link(other->left_.get());
    if (below == nullptr || otherBelow == nullptr || below == otherBelow) {
      return node->left_->IsSameValueExpr(other->left_.get());
    }
    if (typeid(*below) != typeid(*otherBelow)) return false;
    node = below;
    other = otherBelow;
  }
}
