// SQLRSJoin with a table of another driver as its inner side: the inner
// side read whole, or asked per batch of outer rows for their key values
// (the rows kept for the execution), or read first for a list of key values
// that restricts the outer side.
#include "sql/exec/rs_join.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_join_shared.h"
#include "sql/exec/subquery_answers.h"
#include "sql/exec/vs_buffer.h"

using namespace sql_join;

namespace {

// What the batches of an INNER join across drivers keep of the inner rows
// they read, so that a key value is asked once per execution: at most so
// many rows and bytes of values, checked before each batch; beyond, the
// join forgets what it asked and starts afresh. One batch's own rows are
// kept whole however many its key values have (the batch is joined with
// them), so the kept rows may pass the bounds by one batch's rows. What
// stays in memory is bounded apart: the buffer holds at most as many rows
// in memory as kBatchKeptBytes gives rows of the inner side's widest
// values (BatchRowsInMemory); the rest wait in its temporary file.
constexpr int kBatchKeptRows = 1 << 16;
constexpr size_t kBatchKeptBytes = size_t{16} << 20;

// The rows of the batches' buffer held in memory: kBatchKeptRows, fewer
// where rows of the widest values of these columns would pass
// kBatchKeptBytes (at least 2, as every buffer).
int BatchRowsInMemory(std::vector<SQLColumnDescriptor const *> const &columns) {
  size_t width = 0;
  for (SQLColumnDescriptor const *d : columns) {
    size_t const depth = static_cast<size_t>(std::max(d->GetDepth(), 1));
    size_t const bytes = d->GetType() == SQL_STRING || d->GetType() == SQL_RAW ? d->GetLength() : 0;
    width += depth * (sizeof(SQLValueStore) + bytes) + (depth > 1 ? sizeof(SQLValueStore) : 0);
  }
  size_t const rows = kBatchKeptBytes / std::max<size_t>(width, 1);
  return static_cast<int>(std::clamp<size_t>(rows, 2, static_cast<size_t>(kBatchKeptRows)));
}

}  // namespace

void SQLRSJoin::TakeKeyList() {
  if (keyLeaf_ != nullptr || outerKeyLeaf_ != nullptr || !condition_) return;
  std::vector<SQLRSSCSearchCond::EqualTerms> const terms = KeyTerms();
  // A join shipped whole may give many times a table's rows: asked for
  // those of the inner side's key values only, it gives none of the rest.
  SQLRSFetch *outer = JoinsTables(Outer()) ? SideLeaf(Outer()) : nullptr;
  if (outer != nullptr) {
    for (size_t k = 0; k < terms.size(); ++k) {
      SQLColumnDescriptor const type = terms[k].high->GetColumnDescriptor();
      if (outer->TakeKeyList(terms[k].low, 0, &type)) {
        outerKeyLeaf_ = outer;
        outerKeyTerm_ = k;
        break;
      }
    }
  }
  SQLRSFetch *leaf = SideLeaf(Inner());
  if (leaf == nullptr) return;
  for (size_t k = 0; k < terms.size(); ++k) {
    // The inner side is the right one (the join is INNER).
    SQLColumnDescriptor const type = terms[k].low->GetColumnDescriptor();
    if (leaf->TakeKeyList(terms[k].high, nL(), &type)) {
      keyLeaf_ = leaf;
      keyTerm_ = k;
      return;
    }
  }
}

bool SQLRSJoin::ReadInnerWhole() {
  EmptyBuffer();
  innerValues_.clear();
  innerImages_.clear();
  tooManyValues_ = false;
  size_t rows = 0;
  if (keyLeaf_ != nullptr) keyLeaf_->SetKeyList({});
  // An inner side beyond the bounds of held rows is asked for the key
  // values of each batch of outer rows instead.
  if (ReadInner(keyLeaf_ != nullptr, &rows)) return rows > 0;
  batches_ = true;
  // The rows the batches keep stay in memory, within kBatchKeptBytes.
  int const inMemory = BatchRowsInMemory(bufferDescriptors_);
  if (buffer_->GetCacheSize() != inMemory)
    buffer_ = std::make_unique<SQLVSBuffer>(static_cast<int>(bufferRow_.size()), bufferDescriptors_.data(),
                                            inMemory);
  return true;
}

void SQLRSJoin::KeepInnerValue(SQLValueStore const *v) {
  std::string image;
  if (!KeyImage(v, &image) || !innerImages_.insert(image).second) return;  // no outer row equals it, or kept
  if (innerValues_.size() == SQLRSFetch::kKeyListLength) {
    tooManyValues_ = true;
    innerValues_.clear();
    innerImages_.clear();
    return;
  }
  innerValues_.emplace_back();
  innerValues_.back().Copy(v);
}

bool SQLRSJoin::FetchOuter() {
  for (;;) {
    if (Outer()->Fetch() == 0) {
      if (unlisted_ || listedImages_.empty() || !listWrites_.Written()) return false;
      // The transaction wrote the inner side while the outer rows of the
      // list of its key values were read: the outer rows whose key value
      // the list left out may meet its rows now, and follow.
      unlisted_ = true;
      Outer()->Break();
      outerKeyLeaf_->SetKeyList({});
      Outer()->Exec();
      continue;
    }
    if (!unlisted_) return true;
    // The rows of the listed values came before.
    int const outerOff = OuterOffset();
    CopyOwn(outerOff, outerOff + Outer()->GetNumCols());
    if (SQLRSSCValueExpr *term = keys_[outerKeyTerm_].outer) {
      try {
        term->Evaluate();
      } catch (SQLException const &) {
        return true;  // not a listed value: the row fails where its key is evaluated
      }
    }
    SQLValueStore const *v = outerKeys_[outerKeyTerm_];
    std::string image;
    if (!KeyImage(v, &image) || listedImages_.count(image) == 0) return true;
  }
}

bool SQLRSJoin::NextBatch() {
  // Outer rows per batch: each batch costs an exchange per kKeyListLength
  // distinct key values among them that no batch asked before.
  constexpr size_t kBatchRows = 4 * SQLRSFetch::kKeyListLength;
  int const outerOff = OuterOffset();
  size_t const no = static_cast<size_t>(Outer()->GetNumCols());
  size_t const width = no + 1;  // the row and its key value
  batchRows_ = batchNext_ = 0;
  if (batchFailure_) {
    // The key of the row after the last batch failed: the rows before it
    // were joined, and the statement fails where the nested loop would.
    std::exception_ptr failure = batchFailure_;
    batchFailure_ = nullptr;
    std::rethrow_exception(failure);
  }
  if (outerDone_) return false;
  if (batch_.size() < kBatchRows * width) batch_.resize(kBatchRows * width);
  Key const &key = keys_[keyTerm_];
  SQLValueStore const *keyStore = outerKeys_[keyTerm_];
  while (batchRows_ < kBatchRows) {
    if (heldOuter_) {
      heldOuter_ = false;  // the outer side's current row comes first
    } else if (!FetchOuter()) {
      outerDone_ = true;
      break;
    }
    SQLValueStore *row = &batch_[batchRows_ * width];
    for (size_t c = 0; c < no; ++c) row[c].Copy(copyFrom_[static_cast<size_t>(outerOff - ownOffset_) + c]);
    if (key.outer != nullptr) {
      // A key that is an expression over the outer row.
      CopyOwn(outerOff, outerOff + static_cast<int>(no));
      try {
        key.outer->Evaluate();
      } catch (...) {
        batchFailure_ = std::current_exception();
        outerDone_ = true;
        break;
      }
    }
    row[no].Copy(key.outer != nullptr ? keyStore : copyFrom_[static_cast<size_t>(keyStore - own_.data())]);
    ++batchRows_;
  }
  if (batchRows_ == 0) return NextBatch();  // nothing, or the failure
  // What the buffer kept from the batches before stays while it is within
  // its bounds and no write of the transaction changed the inner side;
  // otherwise the join starts afresh.
  if (ids_.size() >= static_cast<size_t>(kBatchKeptRows) || keptWeight_ > kBatchKeptBytes || innerWrites_.Written())
    EmptyBuffer();
  ReadBatchInner();
  return true;
}

void SQLRSJoin::ReadBatchInner() {
  size_t const no = static_cast<size_t>(Outer()->GetNumCols());
  size_t const width = no + 1;  // the row and its key value
  // The distinct key values of the batch that were not asked yet, without
  // NULLs (no row equals them).
  std::vector<SQLValueStore const *> keys;
  std::string image;
  for (size_t r = 0; r < batchRows_; ++r) {
    SQLValueStore const *v = &batch_[r * width + no];
    if (KeyImage(v, &image) && asked_.insert(image).second) keys.push_back(v);
  }
  size_t rows = ids_.size();
  for (size_t from = 0; from < keys.size(); from += SQLRSFetch::kKeyListLength) {
    size_t const to = std::min(keys.size(), from + SQLRSFetch::kKeyListLength);
    keyLeaf_->SetKeyList(std::vector<SQLValueStore const *>(keys.begin() + static_cast<std::ptrdiff_t>(from),
                                                            keys.begin() + static_cast<std::ptrdiff_t>(to)));
    ReadInner(false, &rows);
  }
  keyLeaf_->SetKeyList({});
}
