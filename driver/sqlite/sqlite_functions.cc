#include "sqlite/sqlite_functions.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include <molvane/datetime.h>
#include <molvane/dd.h>

#include "sql/common/row_field.h"
#include "sql/common/sql_state.h"
#include "sql/common/value_store.h"
#include "sqlite/sql_island.h"
#include "text/tss.h"

namespace molvane::driver {

namespace {

constexpr int kQueryTimeOut = 313;  // "Query time out error"

SqlFunctionHost *HostOf(sqlite3_context *ctx) {
  return static_cast<SqlFunctionHost *>(sqlite3_user_data(ctx));
}

void Fail(sqlite3_context *ctx, const SQLException &e) {
  HostOf(ctx)->SetError(e);
  sqlite3_result_error(ctx, "molvane data exception", -1);
}

void ResultFromStore(sqlite3_context *ctx, const SQLValueStore *vs) {
  if (vs->IsNull()) return sqlite3_result_null(ctx);
  switch (vs->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      return sqlite3_result_int64(ctx, vs->GetInteger());
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return sqlite3_result_int64(ctx, vs->GetTimestamp());
    case SQL_REAL:
      return sqlite3_result_double(ctx, vs->GetReal());
    case SQL_STRING:
    case SQL_RAW:
      return sqlite3_result_blob64(ctx, vs->GetBytes(), vs->GetLength(), SQLITE_TRANSIENT);
    default:
      return sqlite3_result_null(ctx);
  }
}

int Collate(void *, int la, const void *a, int lb, const void *b) {
  return TssStringNNCmpWithPadding(static_cast<const char *>(a), static_cast<const char *>(b), la, lb);
}

// Texts that the TSS order finds equal only because a NUL ended them are
// ordered by their bytes (the shorter padded with blanks), so that an order
// finds two stored key values equal exactly when their bytes are: a unique
// index in it refuses what a byte-exact one would, and no other.
int ByBytes(const unsigned char *a, int la, const unsigned char *b, int lb) {
  const int n = la < lb ? la : lb;
  if (int c = n > 0 ? std::memcmp(a, b, static_cast<std::size_t>(n)) : 0; c != 0) return c < 0 ? -1 : 1;
  const unsigned char *rest = la > lb ? a : b;
  for (int i = n; i < (la > lb ? la : lb); ++i)
    if (rest[i] != ' ') return (rest[i] < ' ') == (la > lb) ? -1 : 1;
  return 0;
}

template <int kMode>
int CollateIn(void *, int la, const void *a, int lb, const void *b) {
  const auto *x = static_cast<const char *>(a);
  const auto *y = static_cast<const char *>(b);
  int order = tss_padded_fast::kUndecided;
  if (kMode == TSS_MODE_CLASSIC) {
    order = TssClassicPaddedOrder(x, y, la, lb);
    // Texts of one length that it finds equal hold the same bytes.
    if (order == 0 && la == lb) return 0;
  }
  if (order == tss_padded_fast::kUndecided) order = TssPaddedCompareInMode(kMode, x, y, la, lb);
  if (order != 0) return order;
  return ByBytes(static_cast<const unsigned char *>(a), la, static_cast<const unsigned char *>(b), lb);
}

template <class F>
void Guard(sqlite3_context *ctx, F f) {
  try {
    f();
  } catch (const SQLException &e) {
    Fail(ctx, e);
  } catch (const std::bad_alloc &) {
    sqlite3_result_error_nomem(ctx);
  }
}

void IslandValue(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  Guard(ctx, [&] {
    SqlIsland *island = argc >= 2 ? HostOf(ctx)->Find(sqlite3_value_int(argv[0])) : nullptr;
    if (island == nullptr || island->is_cond() || argc - 2 != island->arg_count())
      throw SQLExUnknownNetWorkToken(SQLString("unknown scalar island"));
    const SQLValueStore *vs = island->EvaluateValue(argv + 2);
    int elem = sqlite3_value_int(argv[1]);
    if (vs->GetType() == SQL_ARRAY) {
      if (elem < 0 || elem >= vs->GetDimension()) return sqlite3_result_null(ctx);
      return ResultFromStore(ctx, vs->GetElement(elem));
    }
    ResultFromStore(ctx, vs);
  });
}

void IslandCond(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  Guard(ctx, [&] {
    SqlIsland *island = argc >= 1 ? HostOf(ctx)->Find(sqlite3_value_int(argv[0])) : nullptr;
    if (island == nullptr || !island->is_cond() || argc - 1 != island->arg_count())
      throw SQLExUnknownNetWorkToken(SQLString("unknown condition island"));
    switch (island->EvaluateCond(argv + 1)) {
      case TV_TRUE:
        return sqlite3_result_int(ctx, 1);
      case TV_FALSE:
        return sqlite3_result_int(ctx, 0);
      default:
        return sqlite3_result_null(ctx);
    }
  });
}

void Cardinality(sqlite3_context *ctx, int, sqlite3_value **argv) {
  if (sqlite3_value_int64(argv[0]) > 1) return Fail(ctx, SQLExCardinalityViolation());
  sqlite3_result_null(ctx);
}

std::int64_t BigEndian(const unsigned char *p, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
  return width == 2 ? static_cast<std::int16_t>(v) : static_cast<std::int32_t>(v);
}

void StoredForm(sqlite3_context *ctx, int, sqlite3_value **argv) {
  Guard(ctx, [&] {
    int code = sqlite3_value_int(argv[0]);
    int length = sqlite3_value_int(argv[1]);
    SQLValueStore vs;
    SetStoreFromSqlite(&vs, static_cast<SQLType>(sqlite3_value_int(argv[2])), argv[3]);
    const unsigned char *out = nullptr;
    int n = 0;
    copyValueStoreToRowBuffer(static_cast<unsigned char>(code), length, 1, &vs, 0, ' ', &out, &n);
    switch (code) {
      case DDT_BYTE:
      case DDT_ENUM:
        return sqlite3_result_int(ctx, out[0]);
      case DDT_SHORT:
        return sqlite3_result_int64(ctx, BigEndian(out, 2));
      case DDT_FLOAT:
        return sqlite3_result_double(ctx, float_out(out));
      case DDT_DOUBLE:
        return sqlite3_result_double(ctx, double_out(out));
      case DDT_STRING:
      case DDT_MBSTRING:
      case DDT_RAW:
        return sqlite3_result_blob(ctx, out, n, SQLITE_TRANSIENT);
      default:
        return sqlite3_result_int64(ctx, BigEndian(out, 4));
    }
  });
}

// The accumulator of one set function over one group.
struct Accumulator {
  SQLValueStore acc;  // NULL until the first value
  SQLValueStore arg, scratch;
  bool any = false;
  double sum = 0;
  long count = 0;
};

enum Function { kMin, kMax, kSum, kAvg };

Accumulator *AccumulatorOf(sqlite3_context *ctx, bool create) {
  auto **slot =
      static_cast<Accumulator **>(sqlite3_aggregate_context(ctx, create ? sizeof(Accumulator *) : 0));
  if (slot == nullptr) return nullptr;
  if (*slot == nullptr && create) *slot = new Accumulator();
  return *slot;
}

template <Function F>
void Step(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  Guard(ctx, [&] {
    Accumulator *a = AccumulatorOf(ctx, true);
    if (a == nullptr) return sqlite3_result_error_nomem(ctx);
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return;
    SetStoreFromSqlite(&a->arg, static_cast<SQLType>(sqlite3_value_int(argv[0])), argv[1]);
    if (F == kAvg) {
      a->sum += a->arg.GetType() == SQL_REAL ? a->arg.GetReal() : static_cast<double>(a->arg.GetInteger());
      ++a->count;
      return;
    }
    if (!a->any) {
      a->acc.Copy(&a->arg);
      a->any = true;
      return;
    }
    if (F == kMin) {
      if (SQLValueStore::Compare(&a->arg, &a->acc, SQL_COMP_LT) == TV_TRUE) a->acc.Copy(&a->arg);
    } else if (F == kMax) {
      if (SQLValueStore::Compare(&a->arg, &a->acc, SQL_COMP_GT) == TV_TRUE) a->acc.Copy(&a->arg);
    } else {
      try {
        a->scratch.Add(&a->arg, &a->acc);
      } catch (const SQLExDENumericValueOutOfRange &) {
        // "22003" when an INTEGER sum leaves 32 bits: the text names the values.
        auto text = [](const SQLValueStore &v) {
          return v.GetType() == SQL_INTEGER ? std::to_string(v.GetInteger()) : std::to_string(v.GetReal());
        };
        const bool real = a->acc.GetType() == SQL_REAL || a->arg.GetType() == SQL_REAL;
        // The third argument names the summed column ("" for an expression).
        const auto *name = argc > 2 ? sqlite3_value_text(argv[2]) : nullptr;
        const std::string what = name != nullptr && *name != '\0'
                                     ? "column " + std::string(reinterpret_cast<const char *>(name))
                                     : "its argument";
        throw SQLException(sqlstate::kNumericValueOutOfRange, sqlerr::kNumericOutOfRange,
                           SQLString(("SUM of " + what + " leaves the " +
                                      std::string(real ? "REAL range" : "INTEGER range (-2147483648 to 2147483647)") +
                                      ": " + text(a->acc) + " + " + text(a->arg))
                                         .c_str()));
      }
      a->acc.Copy(&a->scratch);
    }
  });
}

template <Function F>
void Final(sqlite3_context *ctx) {
  Accumulator *a = AccumulatorOf(ctx, false);
  if (a == nullptr || (F == kAvg ? a->count == 0 : !a->any)) {
    sqlite3_result_null(ctx);
  } else if (F == kAvg) {
    sqlite3_result_double(ctx, a->sum / static_cast<double>(a->count));
  } else {
    ResultFromStore(ctx, &a->acc);
  }
  delete a;
}

// Text content: the lines in order, joined, trailing blanks of the whole
// stripped; NULL without lines.
void TextStep(sqlite3_context *ctx, int, sqlite3_value **argv) {
  Guard(ctx, [&] {
    Accumulator *a = AccumulatorOf(ctx, true);
    if (a == nullptr) return sqlite3_result_error_nomem(ctx);
    const auto *bytes = static_cast<const unsigned char *>(sqlite3_value_blob(argv[0]));
    auto n = static_cast<unsigned long>(sqlite3_value_bytes(argv[0]));
    if (!a->any)
      a->acc.SetString(bytes, n);
    else if (n > 0)
      a->acc.AppendString(bytes, n);
    a->any = true;
  });
}

void TextFinal(sqlite3_context *ctx) {
  Accumulator *a = AccumulatorOf(ctx, false);
  if (a == nullptr || !a->any) {
    sqlite3_result_null(ctx);
  } else {
    a->acc.StripTrailingSpaces();
    ResultFromStore(ctx, &a->acc);
  }
  delete a;
}

}  // namespace

int CollationMode() { return TssGetMode() == TSS_MODE_UTFT ? TSS_MODE_UTFT : TSS_MODE_CLASSIC; }

const char *CollationName(int mode) { return mode == TSS_MODE_UTFT ? "mvtss2" : "mvtss1"; }

bool InstallTssCollation(sqlite3 *db) {
  return sqlite3_create_collation_v2(db, "mvtss1", SQLITE_UTF8, nullptr, CollateIn<TSS_MODE_CLASSIC>,
                                     nullptr) == SQLITE_OK &&
         sqlite3_create_collation_v2(db, "mvtss2", SQLITE_UTF8, nullptr, CollateIn<TSS_MODE_UTFT>, nullptr) ==
             SQLITE_OK &&
         sqlite3_create_collation_v2(db, "mvtss", SQLITE_UTF8, nullptr, Collate, nullptr) == SQLITE_OK;
}

std::string CollatedText(const std::string &sql, int mode) {
  return "CAST(" + sql + " AS TEXT) COLLATE " + CollationName(mode);
}

bool SqlFunctionHost::Install(sqlite3 *db) {
  // Every function gives the same result for the same arguments within a
  // statement (an island reads nothing but its arguments and the
  // statement's parameters). Those that can fail are not declared so (see
  // the header). The functions that need no island are also harmless
  // wherever SQLite meets them; an island exists only for the statement
  // that registered it.
  const int failing = SQLITE_UTF8;
  const int pure = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  const int flags = pure | SQLITE_INNOCUOUS;
  return InstallTssCollation(db) &&
         sqlite3_create_function_v2(db, "mv_x", -1, failing, this, IslandValue, nullptr, nullptr, nullptr) ==
             SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_c", -1, failing, this, IslandCond, nullptr, nullptr, nullptr) ==
             SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_xd", -1, pure, this, IslandValue, nullptr, nullptr, nullptr) ==
             SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_cd", -1, pure, this, IslandCond, nullptr, nullptr, nullptr) ==
             SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_card", 1, failing | SQLITE_INNOCUOUS, this, Cardinality, nullptr,
                                    nullptr, nullptr) == SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_st", 4, flags, this, StoredForm, nullptr, nullptr, nullptr) ==
             SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_min", 2, flags, this, nullptr, Step<kMin>, Final<kMin>,
                                    nullptr) == SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_max", 2, flags, this, nullptr, Step<kMax>, Final<kMax>,
                                    nullptr) == SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_sum", 3, flags, this, nullptr, Step<kSum>, Final<kSum>,
                                    nullptr) == SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_avg", 2, flags, this, nullptr, Step<kAvg>, Final<kAvg>,
                                    nullptr) == SQLITE_OK &&
         sqlite3_create_function_v2(db, "mv_text", 1, flags, this, nullptr, TextStep, TextFinal, nullptr) ==
             SQLITE_OK;
}

int SqlFunctionHost::Register(SqlIsland *island) {
  int id = next_id_++;
  islands_[id] = island;
  return id;
}

void SqlFunctionHost::Unregister(int id) { islands_.erase(id); }

SqlIsland *SqlFunctionHost::Find(int id) const {
  auto it = islands_.find(id);
  return it == islands_.end() ? nullptr : it->second;
}

long SqlFunctionHost::DeadlineClock() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}

void SqlFunctionHost::Arm(sqlite3 *db, long deadline) {
  deadline_ = deadline;
  error_.reset();
  // A pulse comes often enough that a thread waiting for a server's
  // monitor gets it within a fraction of a millisecond.
  const int period = pulse_ ? 100 : deadline > 0 ? 1000 : 0;
  sqlite3_progress_handler(db, period, period != 0 ? Progress : nullptr, this);
}

void SqlFunctionHost::Disarm(sqlite3 *db) {
  deadline_ = 0;
  sqlite3_progress_handler(db, 0, nullptr, nullptr);
}

int SqlFunctionHost::Progress(void *p) {
  auto *host = static_cast<SqlFunctionHost *>(p);
  if (host->pulse_ && host->pulse_()) return 1;
  if (host->deadline_ == 0 || DeadlineClock() < host->deadline_) return 0;
  host->SetError(SQLExZDBError(kQueryTimeOut));
  return 1;
}

void SqlFunctionHost::SetError(const SQLException &e) {
  if (!error_) error_ = std::make_unique<SQLException>(e);
}

std::unique_ptr<SQLException> SqlFunctionHost::TakeError() { return std::move(error_); }

}  // namespace molvane::driver
