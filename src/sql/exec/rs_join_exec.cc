// SQLRSJoin run here: the nested loop that executes its inner side per
// outer row, and the buffered inner side (read once, hashed by the equal
// keys; FULL's match flags), read again after a write of the transaction.
#include "sql/exec/rs_join.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "dbc/session/dbc_settings.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/held_rows.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_join_shared.h"
#include "sql/exec/rs_net_fetch.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sort_key.h"
#include "sql/exec/subquery_answers.h"

using namespace sql_join;

namespace {

// Rows of a buffered join's inner side held in memory at least.
constexpr int kBufferedJoinRowsInMemory = 4096;

// The most rows of another driver's table that an INNER join across drivers
// reads whole: the setting qelt_sql_join_whole_rows when it is at least 1,
// else the bound of a leaf's held rows. Beyond them it asks per batch of
// outer rows.
size_t InnerRowsReadWhole() {
  int const setting = dbc_settings().qelt_sql_join_whole_rows;
  return setting >= 1 ? static_cast<size_t>(setting) : SQLRSHeldRows::kMaxRows;
}

// The most bytes of values an INNER join across drivers reads whole; a larger
// inner side is read per batch of outer key values.
constexpr size_t kInnerBytesReadWhole = size_t{1} << 20;

// Makes a map of stores the innermost level of the scope while it lives.
class ScopedMap {
 public:
  ScopedMap(SQLRSColumnRefScope *scope, std::vector<SQLValueStore const *> const &stores, SQLRowSource *rs)
      : scope_(scope) {
    auto map = std::make_unique<SQLValueStore const *[]>(stores.size());
    std::copy(stores.begin(), stores.end(), map.get());
    scope_->PushMap(static_cast<int>(stores.size()), std::move(map));
    scope_->PushRowSource(rs);
  }
  ~ScopedMap() {
    scope_->PopRowSource();
    scope_->PopMap();
  }
  ScopedMap(ScopedMap const &) = delete;
  ScopedMap &operator=(ScopedMap const &) = delete;

 private:
  SQLRSColumnRefScope *scope_;
};

}  // namespace

SQLColumnDescriptor const *SQLRSJoin::DoGetColumnDescriptor(int column) {
  int nl = nL();
  return column < nl ? left_->GetColumnDescriptor(column) : right_->GetColumnDescriptor(column - nl);
}

SQLValueStore const *SQLRSJoin::DoGetValueStoreAddr(int column) {
  int nl = nL();
  bool leftColumn = column < nl;
  bool inner = OuterIsRight() ? leftColumn : !leftColumn;
  bool own = type_ == SQL_JOIN_FULL || (type_ == SQL_JOIN_LEFT && !leftColumn) ||
             (type_ == SQL_JOIN_RIGHT && leftColumn) || (buffered_ && inner) || acrossDrivers_;
  if (own) return &own_[static_cast<size_t>(column - ownOffset_)];
  return leftColumn ? left_->GetValueStoreAddr(column) : right_->GetValueStoreAddr(column - nl);
}

std::vector<SQLRSSCSearchCond::EqualTerms> SQLRSJoin::KeyTerms() {
  std::vector<SQLRSSCSearchCond::EqualTerms> equal, plain;
  if (condition_) condition_->GetEqualTerms(nL(), &equal);
  for (SQLRSSCSearchCond::EqualTerms const &t : equal)
    if (PlainColumn(t.low) != nullptr && PlainColumn(t.high) != nullptr) plain.push_back(t);
  if (!plain.empty() || !acrossDrivers_ || equal.empty()) return plain;
  return {equal.front()};
}

void SQLRSJoin::EvaluateKeyTerms(bool outer) {
  for (Key const &k : keys_) {
    SQLRSSCValueExpr *term = outer ? k.outer : k.inner;
    if (term == nullptr) continue;
    if (!outer) CopyOwn(InnerOffset(), InnerOffset() + Inner()->GetNumCols());
    term->Evaluate();
  }
}

void SQLRSJoin::DoPrepare(SQLRSPrepareContext *context) {
  if (acrossDrivers_) TakeKeyList();
  left_->Prepare(context);
  right_->Prepare(context);
  int const nl = nL();
  int const nr = nR();
  if (type_ == SQL_JOIN_FULL) buffered_ = true;
  innerWrites_.Clear();
  if (buffered_ || acrossDrivers_) SQLRSWatchSubqueryWrites(Inner(), &innerWrites_);
  listWrites_.Clear();
  if (outerKeyLeaf_ != nullptr) SQLRSWatchSubqueryWrites(Inner(), &listWrites_);
  if (!buffered_ && parameterSources_.empty()) {
    int off = OuterOffset();
    for (bool more = parameterColumns_.First(); more; more = parameterColumns_.Next())
      parameterSources_.push_back(Outer()->GetValueStoreAddr(parameterColumns_.GetCurrent() - off));
  }
  int const innerOff = InnerOffset();
  int const ni = Inner()->GetNumCols();
  if (buffered_) {
    bufferRow_.clear();
    bufferDescriptors_.clear();
    for (int i = 0; i < ni; ++i) {
      bufferRow_.push_back(Inner()->GetValueStoreAddr(i));
      bufferDescriptors_.push_back(Inner()->GetColumnDescriptor(i));
    }
    // Each outer row reads the buffered rows of its hash in no particular
    // order: a small inner side stays in memory whole, however few rows
    // the cache setting gives other buffers (a spilled row costs a read of
    // the spill file per visit).
    int const columns = static_cast<int>(bufferRow_.size());
    buffer_ = std::make_unique<SQLVSBuffer>(
        columns, bufferDescriptors_.data(), std::max(SQLVSBuffer::SettingCacheRows(), kBufferedJoinRowsInMemory));
  }
  int from = 0, to = 0;
  switch (type_) {
    case SQL_JOIN_LEFT: from = nl, to = nl + nr; break;
    case SQL_JOIN_RIGHT: from = 0, to = nl; break;
    case SQL_JOIN_FULL: from = 0, to = nl + nr; break;
    default:
      if (acrossDrivers_) from = 0, to = nl + nr;
      else if (buffered_) from = innerOff, to = innerOff + ni;
      break;
  }
  ownOffset_ = from;
  own_ = std::vector<SQLValueStore>(static_cast<size_t>(to - from));
  copyFrom_.clear();
  for (int c = from; c < to; ++c) {
    InitOwnStore(&own_[static_cast<size_t>(c - from)], DoGetColumnDescriptor(c));
    copyFrom_.push_back(c < nl ? left_->GetValueStoreAddr(c) : right_->GetValueStoreAddr(c - nl));
  }
  keys_.clear();
  outerKeys_.clear();
  innerKeys_.clear();
  if (condition_) {
    // A buffered join reads the inner side's columns from its own stores,
    // which hold the buffered row under examination.
    std::vector<SQLValueStore const *> stores;
    for (int c = 0; c < nl + nr; ++c) {
      bool inner = c >= innerOff && c < innerOff + ni;
      if ((buffered_ && inner) || acrossDrivers_)
        stores.push_back(&own_[static_cast<size_t>(c - ownOffset_)]);
      else
        stores.push_back(c < nl ? left_->GetValueStoreAddr(c) : right_->GetValueStoreAddr(c - nl));
    }
    ScopedMap map(context->Scope(), stores, this);
    condition_->Prepare(context);
    identityColumns_.clear();
    if (type_ == SQL_JOIN_FULL && !RowIdentity(Inner(), &identityColumns_)) {
      pSQLRSSCColumnRefList refs;
      condition_->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
      for (bool more = refs.First(); more; more = refs.Next()) {
        int const c = refs.GetCurrent()->GetColumnId() - innerOff;
        if (c < 0 || c >= ni) continue;
        if (std::find(identityColumns_.begin(), identityColumns_.end(), static_cast<size_t>(c)) ==
            identityColumns_.end())
          identityColumns_.push_back(static_cast<size_t>(c));
      }
    }
    if (buffered_) {
      // A plain column's key is read from the store its side's row is in
      // (the outer side's, or the own ones of a join across drivers; the
      // inner side's as it is read); an expression's from its own store.
      for (SQLRSSCSearchCond::EqualTerms const &t : KeyTerms()) {
        SQLRSSCValueExpr *outer = OuterIsRight() ? t.high : t.low;
        SQLRSSCValueExpr *inner = OuterIsRight() ? t.low : t.high;
        SQLRSSCColumnRef *outerColumn = PlainColumn(outer);
        SQLRSSCColumnRef *innerColumn = PlainColumn(inner);
        keys_.push_back({outerColumn != nullptr ? nullptr : outer, innerColumn != nullptr ? nullptr : inner});
        if (outerColumn == nullptr)
          outerKeys_.push_back(OuterIsRight() ? t.highStore : t.lowStore);
        else if (acrossDrivers_)
          outerKeys_.push_back(&own_[static_cast<size_t>(outerColumn->GetColumnId() - ownOffset_)]);
        else
          outerKeys_.push_back(Outer()->GetValueStoreAddr(outerColumn->GetColumnId() - OuterOffset()));
        if (innerColumn == nullptr)
          innerKeys_.push_back(OuterIsRight() ? t.lowStore : t.highStore);
        else
          innerKeys_.push_back(Inner()->GetValueStoreAddr(innerColumn->GetColumnId() - innerOff));
      }
    }
  }
}

void SQLRSJoin::DoSetMaxRows(int limit) {
  if (type_ != SQL_JOIN_INNER) Outer()->SetMaxRows(limit);
}

void SQLRSJoin::DoExec() {
  state_ = 1;
  batches_ = outerDone_ = heldOuter_ = false;
  batchRows_ = batchNext_ = 0;
  batchFailure_ = innerError_ = nullptr;
  listedImages_.clear();
  unlisted_ = false;
  skipped_ = false;
  skippedAt_ = SQLTableWrites::Epoch();
  // An INNER join of a side that yields nothing reads neither side: the
  // other side's work (a condition holding a subquery, per row) is spared.
  if (type_ == SQL_JOIN_INNER && YieldsNoRow()) {
    state_ = 0;
    filled_ = true;
    skipped_ = true;
    return;
  }
  if (buffered_ && type_ == SQL_JOIN_INNER && !acrossDrivers_) {
    // No inner row, no joined row: the outer side is not read at all.
    filled_ = true;
    try {
      if (FillBuffer() == 0) {
        state_ = 0;
        skipped_ = true;
        return;
      }
    } catch (SQLException const &e) {
      if (!SQLRSSCRowError(e)) throw;
      // The nested loop reads the inner side only for an outer row: the
      // error waits for the first one.
      innerError_ = std::current_exception();
      try {
        Inner()->Break();
      } catch (SQLException const &) {
        // The first error is the one that counts.
      }
      EmptyBuffer();
    }
    Outer()->Exec();
    return;
  }
  if (outerKeyLeaf_ != nullptr) {
    // The inner side first, then the outer rows of its key values (all
    // of them when the values do not fit a list, or in batches).
    filled_ = true;
    try {
      if (!ReadInnerWhole()) {
        state_ = 0;
        skipped_ = true;
        return;
      }
    } catch (SQLException const &e) {
      // A row's failure comes at the first outer row, where the nested loop
      // would meet it: without one, the join answers no row. A time-out or
      // a lost driver is the statement's, whatever rows there are.
      if (!SQLRSSCRowError(e)) throw;
      innerError_ = std::current_exception();
      EmptyBuffer();
      outerKeyLeaf_->SetKeyList({});
      Outer()->Exec();
      return;
    }
    std::vector<SQLValueStore const *> values;
    if (!batches_ && !tooManyValues_)
      for (SQLValueStore const &v : innerValues_) values.push_back(&v);
    if (!values.empty()) {
      listedImages_ = innerImages_;
      listWrites_.Mark();
    }
    outerKeyLeaf_->SetKeyList(std::move(values));
    Outer()->Exec();
    return;
  }
  Outer()->Exec();
  // A LEFT or RIGHT join, and an INNER join across drivers, reads its inner
  // side at the first outer row: none, and it is not read at all. FULL
  // hands out the inner rows in any case.
  filled_ = false;
  if (buffered_ && type_ == SQL_JOIN_FULL) {
    FillBuffer();
    filled_ = true;
  }
}

void SQLRSJoin::EmptyBuffer() {
  if (buffer_) buffer_->Empty();
  ids_.clear();
  matched_.clear();
  hash_.clear();
  candidates_ = nullptr;
  asked_.clear();
  keptWeight_ = 0;
}

size_t SQLRSJoin::FillBuffer() {
  EmptyBuffer();
  size_t rows = 0;
  ReadInner(false, &rows);
  return rows;
}

bool SQLRSJoin::ReadInner(bool bounded, size_t *rows) {
  innerWrites_.Mark();
  Inner()->Exec();
  size_t const most = bounded ? InnerRowsReadWhole() : 0;
  while (Inner()->Fetch() != 0) {
    if (bounded || batches_)
      for (SQLValueStore const *v : bufferRow_) keptWeight_ += SQLRSValueWeight(v);
    if (bounded && (*rows + 1 > most || keptWeight_ > kInnerBytesReadWhole)) {
      Inner()->Break();
      EmptyBuffer();
      *rows = 0;
      return false;
    }
    if (!keys_.empty()) EvaluateKeyTerms(false);
    ids_.push_back(buffer_->Write(bufferRow_.data()));
    if (type_ == SQL_JOIN_FULL) matched_.push_back(kFree);
    ++*rows;
    std::uint64_t h = 0;
    if (!keys_.empty() && KeyHash(innerKeys_, &h)) hash_[h].push_back(static_cast<std::uint32_t>(ids_.size() - 1));
    if (outerKeyLeaf_ != nullptr && !batches_ && !tooManyValues_) KeepInnerValue(innerKeys_[outerKeyTerm_]);
  }
  Inner()->Break();
  return true;
}

bool SQLRSJoin::NextOuterRow() {
  int const outerOff = OuterOffset();
  int const no = Outer()->GetNumCols();
  if (!batches_) {
    if (!FetchOuter()) return false;
    if (innerError_) std::rethrow_exception(std::exchange(innerError_, nullptr));
    if (acrossDrivers_ && !filled_) {
      filled_ = true;
      if (!ReadInnerWhole()) return false;  // no outer row finds a partner
      if (batches_) {
        heldOuter_ = true;  // this row is the first batch's first
        return NextOuterRow();
      }
    }
    if (type_ == SQL_JOIN_FULL || acrossDrivers_) CopyOwn(outerOff, outerOff + no);
    return true;
  }
  if (batchNext_ == batchRows_ && !NextBatch()) return false;
  SQLValueStore const *row = &batch_[batchNext_++ * static_cast<size_t>(no + 1)];
  for (int c = 0; c < no; ++c) own_[static_cast<size_t>(outerOff + c - ownOffset_)].Copy(&row[c]);
  return true;
}

bool SQLRSJoin::RowIdentity(SQLRowSource *side, std::vector<size_t> *columns) {
  columns->clear();
  while (auto *filter = dynamic_cast<SQLRSFilter *>(side)) side = filter->GetChild();
  if (auto *leaf = dynamic_cast<SQLRSNetFetch *>(side)) return leaf->IdentityColumns(columns);
  // A join's row is its left side's columns followed by its right side's.
  auto *join = dynamic_cast<SQLRSJoin *>(side);
  std::vector<size_t> left, right;
  if (join == nullptr || !RowIdentity(join->left_.get(), &left) || !RowIdentity(join->right_.get(), &right))
    return false;
  auto const nl = static_cast<size_t>(join->nL());
  for (size_t c : right) left.push_back(nl + c);
  *columns = std::move(left);
  return true;
}

void SQLRSJoin::RefillInner() {
  if (batches_) {
    // The rows kept from the batches before are read again as they are
    // asked for.
    EmptyBuffer();
    ReadBatchInner();
    return;
  }
  if (acrossDrivers_) {
    if (!ReadInnerWhole() || !batches_) return;
    // Now beyond the bounds of held rows: batches from the current outer
    // row on, which the outer side's stores still hold. The batch reads the
    // rows after it through the own stores: they get it back as the batch's
    // first.
    heldOuter_ = true;
    NextBatch();
    NextOuterRow();
    return;
  }
  if (type_ != SQL_JOIN_FULL) {
    FillBuffer();
    return;
  }
  // The flags go by the row, not by its whole value, which the write may
  // have changed: a right row read again is known by its primary keys (a
  // matched row stays matched whatever changed in it), or where the row
  // does not carry them by the columns the condition reads (the left rows
  // that matched a row match every row that reads the same there). As many
  // rows known so as were handed out unmatched keep that flag, and are not
  // handed out again.
  auto image = [this](SQLValueStore const *row) {
    std::string key;
    for (size_t c : identityColumns_) SQLRSAppendKeyImage(&row[c], &key);
    return key;
  };
  std::unordered_set<std::string> matched;
  std::unordered_map<std::string, size_t> handedOut;
  for (size_t i = 0; i < ids_.size(); ++i) {
    if (matched_[i] == kMatched) matched.insert(image(buffer_->GetForRead(ids_[i])));
    if (matched_[i] == kHandedOut) ++handedOut[image(buffer_->GetForRead(ids_[i]))];
  }
  FillBuffer();
  if (matched.empty() && handedOut.empty()) return;
  for (size_t i = 0; i < ids_.size(); ++i) {
    std::string const key = image(buffer_->GetForRead(ids_[i]));
    if (matched.count(key) > 0) {
      matched_[i] = kMatched;
      continue;
    }
    auto out = handedOut.find(key);
    if (out == handedOut.end() || out->second == 0) continue;
    --out->second;
    matched_[i] = kHandedOut;
  }
}

bool SQLRSJoin::KeyHash(std::vector<SQLValueStore const *> const &stores, std::uint64_t *hash) const {
  std::uint64_t h = 0;
  for (SQLValueStore const *v : stores) {
    if (v->IsNull() || v->GetType() == SQL_ARRAY) return false;
    h = SQLHashMix(h * 31 + SQLHashKeyValueInline(v));
  }
  *hash = h;
  return true;
}

void SQLRSJoin::StartCandidates() {
  nextCandidate_ = 0;
  if (keys_.empty()) {
    candidates_ = nullptr;
    buffer_->Iterate();
    return;
  }
  static std::vector<std::uint32_t> const kNone;
  EvaluateKeyTerms(true);
  std::uint64_t h = 0;
  auto found = KeyHash(outerKeys_, &h) ? hash_.find(h) : hash_.end();
  candidates_ = found == hash_.end() ? &kNone : &found->second;
}

SQLValueStore const *SQLRSJoin::NextCandidate() {
  if (candidates_ == nullptr) {
    // Every buffered row in the order read: a walk of the buffer.
    SQLValueStore const *row = buffer_->NextRowForRead();
    if (row != nullptr) candidate_ = static_cast<std::uint32_t>(nextCandidate_++);
    return row;
  }
  if (nextCandidate_ >= candidates_->size()) return nullptr;
  candidate_ = (*candidates_)[nextCandidate_++];
  return buffer_->GetForRead(ids_[candidate_]);
}

void SQLRSJoin::SetOwnNull(int from, int to) {
  for (int c = from; c < to; ++c) SetStoreNull(&own_[static_cast<size_t>(c - ownOffset_)]);
}

void SQLRSJoin::CopyOwn(int from, int to) {
  for (int c = from; c < to; ++c) {
    size_t i = static_cast<size_t>(c - ownOffset_);
    own_[i].Copy(copyFrom_[i]);
  }
}

int SQLRSJoin::DoFetch() {
  if (skipped_) {
    // A write of the transaction between Exec and the first fetch may have
    // given the side that had no row its rows.
    skipped_ = false;
    if (SQLTableWrites::Epoch() != skippedAt_) {
      DoExec();
      skipped_ = false;
    }
  }
  return buffered_ ? FetchBuffered() : FetchNested();
}

int SQLRSJoin::FetchNested() {
  for (;;) {
    if (state_ == 0) return 0;
    if (state_ == 1) {
      if (Outer()->Fetch() == 0) {
        state_ = 0;
        return 0;
      }
      size_t i = 0;
      for (bool more = parameterList_.First(); more; more = parameterList_.Next(), ++i)
        parameterList_.GetCurrent()->BindVS(parameterSources_[i]);
      Inner()->Exec();
      state_ = 2;
    }
    while (Inner()->Fetch() != 0) {
      if (condition_ && condition_->Evaluate() != TV_TRUE) continue;
      if (type_ != SQL_JOIN_INNER) CopyOwn(ownOffset_, ownOffset_ + static_cast<int>(own_.size()));
      state_ = 3;
      return 1;
    }
    Inner()->Break();
    bool unmatched = type_ != SQL_JOIN_INNER && state_ == 2;
    state_ = 1;
    if (unmatched) {
      SetOwnNull(ownOffset_, ownOffset_ + static_cast<int>(own_.size()));
      return 1;
    }
  }
}

int SQLRSJoin::FetchBuffered() {
  int const nl = nL();
  int const nr = nR();
  int const innerOff = InnerOffset();
  int const ni = Inner()->GetNumCols();
  bool const full = type_ == SQL_JOIN_FULL;
  for (;;) {
    if (state_ == 0) {
      if (!full) return 0;
      // The right rows that no left row matched, beside a NULL left side:
      // the matched ones are not read again.
      if (innerWrites_.Written()) {
        RefillInner();
        nextCandidate_ = 0;
      }
      while (nextCandidate_ < ids_.size()) {
        size_t const i = nextCandidate_++;
        if (matched_[i] != kFree) continue;
        matched_[i] = kHandedOut;
        SQLValueStore const *row = buffer_->GetForRead(ids_[i]);
        for (int c = 0; c < nr; ++c) own_[static_cast<size_t>(nl + c)].Copy(&row[c]);
        SetOwnNull(0, nl);
        return 1;
      }
      return 0;
    }
    if (state_ == 1) {
      if (!NextOuterRow()) {
        state_ = 0;
        nextCandidate_ = 0;
        continue;
      }
      if (!filled_) {
        FillBuffer();
        filled_ = true;
      } else if (innerWrites_.Written()) {
        RefillInner();
      }
      state_ = 2;
      StartCandidates();
    }
    while (SQLValueStore const *row = NextCandidate()) {
      for (int c = 0; c < ni; ++c) own_[static_cast<size_t>(innerOff + c - ownOffset_)].Copy(&row[c]);
      if (condition_ && condition_->Evaluate() != TV_TRUE) continue;
      if (full) matched_[candidate_] = kMatched;
      state_ = 3;
      return 1;
    }
    bool unmatched = type_ != SQL_JOIN_INNER && state_ == 2;
    state_ = 1;
    if (unmatched) {
      SetOwnNull(innerOff, innerOff + ni);
      return 1;
    }
  }
}

void SQLRSJoin::DoBreak() {
  skipped_ = false;
  Outer()->Break();
  if (!buffered_ && (state_ == 2 || state_ == 3)) Inner()->Break();
  EmptyBuffer();
  if (condition_) condition_->Reset();
}
