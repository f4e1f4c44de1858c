// AND and OR built while memory runs out: every allocation of the
// construction fails in turn. The operands are deleted with whatever was
// built (LeakSanitizer checks at exit), and a construction that succeeds
// holds every term, nested connectives flattened.
#include <gtest/gtest.h>

#include <memory>
#include <new>

#include "alloc_failure.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_row_value.h"

namespace {

std::unique_ptr<SQLVTSCSearchCond> Leaf(long value) {
  auto left = std::make_unique<SQLVTSCImplicitRowValueConstr>(std::make_unique<SQLVTSCIntegerConst>(value));
  auto right = std::make_unique<SQLVTSCImplicitRowValueConstr>(std::make_unique<SQLVTSCIntegerConst>(0));
  return std::make_unique<SQLVTSCComparison>(left.release(), SQLVTSC_GREATER, right.release());
}

// An operand of `terms` terms: a leaf, or an AND (OR) of leaves.
template <class Logical>
std::unique_ptr<SQLVTSCSearchCond> Operand(int terms) {
  std::unique_ptr<SQLVTSCSearchCond> cond = Leaf(1);
  for (int i = 1; i < terms; ++i) cond = std::make_unique<Logical>(std::move(cond), Leaf(i + 1));
  return cond;
}

template <class Logical>
void FailEachAllocation(int leftTerms, int rightTerms) {
  for (int skip = 0;; ++skip) {
    std::unique_ptr<SQLVTSCSearchCond> a = Operand<Logical>(leftTerms);
    std::unique_ptr<SQLVTSCSearchCond> b = Operand<Logical>(rightTerms);
    std::unique_ptr<Logical> both;
    const int failedBefore = FailedAllocations();
    try {
      ScopedAllocationFailure fail(skip, 1);
      both = std::make_unique<Logical>(std::move(a), std::move(b));
    } catch (std::bad_alloc const &) {
      EXPECT_EQ(both, nullptr);
      continue;
    }
    ASSERT_EQ(FailedAllocations(), failedBefore) << "a failure that did not throw, skip " << skip;
    EXPECT_EQ(both->NrTerms(), leftTerms + rightTerms);
    return;
  }
}

TEST(ConnectiveAllocationFailure, OperandsAndTermsAreKeptOrDeleted) {
  const struct {
    int left, right;
  } cases[] = {{1, 1}, {2, 1}, {1, 3}, {3, 2}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.left << " + " << c.right << " terms");
    FailEachAllocation<SQLVTSCAnd>(c.left, c.right);
    FailEachAllocation<SQLVTSCOr>(c.left, c.right);
  }
}

TEST(ConnectiveAllocationFailure, ImplicitRowTakesItsElementEvenWhenItFails) {
  for (int skip = 0;; ++skip) {
    auto element = std::make_unique<SQLVTSCIntegerConst>(7);
    const int failedBefore = FailedAllocations();
    try {
      ScopedAllocationFailure fail(skip, 1);
      SQLVTSCImplicitRowValueConstr row(std::move(element));
      if (FailedAllocations() != failedBefore) continue;
      EXPECT_EQ(row.NrElements(), 1);
      return;
    } catch (std::bad_alloc const &) {
    }
  }
}

}  // namespace
