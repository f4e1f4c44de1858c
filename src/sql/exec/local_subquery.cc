#include "sql/exec/local_subquery.h"

#include "sql/exec/column_ref_scope.h"
#include "sql/exec/row_source.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"

namespace {

// Marks the references to rows outside the subquery to be kept here.
class KeepOuterRefsHere : public SQLVisitor {
 public:
  void VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) override {
    if (ref->GetRelScopeLevel() + GetLevel() < 1) ref->KeepHere();
  }
};

class LeafCollector : public SQLVisitor {
 public:
  explicit LeafCollector(std::vector<SQLRSFetch *> *leaves) : leaves_(leaves) {}
  void VisitSQLRSFetch(SQLRSFetch *leaf) override { leaves_->push_back(leaf); }

 private:
  std::vector<SQLRSFetch *> *leaves_;
};

}  // namespace

SQLRSLocalSubquery::SQLRSLocalSubquery(SQLRowSource *tree) : tree_(tree) {}

SQLRSLocalSubquery::~SQLRSLocalSubquery() = default;

void SQLRSLocalSubquery::Optimize() {
  if (!tree_) return;
  SQLIsVariableVisitor variable;
  SQLRSVisitSubquery(tree_.get(), variable);
  if (!variable.GetResult()) {
    tree_.reset();
    return;
  }
  KeepOuterRefsHere keep;
  SQLRSVisitSubquery(tree_.get(), keep);
  tree_.reset(tree_.release()->OptimizeRS());
  leaves_.clear();
  LeafCollector collector(&leaves_);
  SQLRSVisitSubquery(tree_.get(), collector);
  bool holds = !leaves_.empty();
  for (SQLRSFetch *leaf : leaves_) holds = leaf->HoldRows() && holds;
  if (!holds) {
    leaves_.clear();
    tree_.reset();
  }
}

void SQLRSLocalSubquery::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  if (tree_) tree_->GetColumnRefs(level, type, refs);
}

void SQLRSLocalSubquery::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  if (tree_) tree_->CRefs2ParameterRefs(level, columns, parameters);
}

void SQLRSLocalSubquery::Prepare(SQLRSPrepareContext *context) {
  executions_ = context->Executions();
  execution_ = 0;
  if (tree_) tree_->Prepare(context);
}

void SQLRSLocalSubquery::AcceptVisit(SQLVisitor &visitor) {
  if (tree_ && visitor.VisitLocalSubqueries()) SQLRSVisitSubquery(tree_.get(), visitor);
}

SQLRowSource *SQLRSLocalSubquery::Pick(SQLRowSource *shipped) {
  if (!tree_ || executions_ == nullptr) return shipped;
  if (execution_ != executions_->Current()) {
    execution_ = executions_->Current();
    misses_ = 0;
    givenUp_ = false;
  }
  if (givenUp_ || misses_ < kMissesBeforeLocal) {
    ++misses_;
    return shipped;
  }
  return tree_.get();
}

void SQLRSLocalSubquery::Ran(SQLRowSource const *ran) {
  if (ran != tree_.get()) return;
  for (SQLRSFetch *leaf : leaves_)
    if (leaf->HeldRowsOverflowed()) givenUp_ = true;
}
