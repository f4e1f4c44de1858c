#include "sqlite/sql_island.h"

#include "sql/exec/column_ref_scope.h"

namespace molvane::driver {

void SetStoreFromSqlite(SQLValueStore *vs, SQLType type, sqlite3_value *v) {
  if (sqlite3_value_type(v) == SQLITE_NULL) {
    // A typed NULL: the type first, then the flag.
    switch (type) {
      case SQL_REAL:
        vs->SetReal(0);
        break;
      case SQL_STRING:
        vs->SetString(nullptr, 0);
        break;
      case SQL_RAW:
        vs->SetRaw(nullptr, 0);
        break;
      case SQL_TIMESTAMP:
        vs->SetTimestamp(0);
        break;
      case SQL_INTERVAL_SECONDS:
        vs->SetIntervalSeconds(0);
        break;
      case SQL_DATE:
        vs->SetDate(0);
        break;
      case SQL_INTERVAL_DAYS:
        vs->SetIntervalDays(0);
        break;
      default:
        vs->SetInteger(0);
        break;
    }
    vs->SetNull();
    return;
  }
  switch (type) {
    case SQL_INTEGER:
      vs->SetInteger(static_cast<std::int32_t>(sqlite3_value_int64(v)));
      break;
    case SQL_DATE:
      vs->SetDate(static_cast<std::int32_t>(sqlite3_value_int64(v)));
      break;
    case SQL_INTERVAL_DAYS:
      vs->SetIntervalDays(static_cast<std::int32_t>(sqlite3_value_int64(v)));
      break;
    case SQL_REAL:
      vs->SetReal(sqlite3_value_double(v));
      break;
    case SQL_TIMESTAMP:
      vs->SetTimestamp(sqlite3_value_int64(v));
      break;
    case SQL_INTERVAL_SECONDS:
      vs->SetIntervalSeconds(sqlite3_value_int64(v));
      break;
    case SQL_STRING:
    case SQL_RAW: {
      const auto *bytes = static_cast<const unsigned char *>(sqlite3_value_blob(v));
      auto n = static_cast<unsigned long>(sqlite3_value_bytes(v));
      if (type == SQL_STRING)
        vs->SetString(bytes, n);
      else
        vs->SetRaw(bytes, n);
      break;
    }
    default:
      vs->SetInteger(static_cast<std::int32_t>(sqlite3_value_int64(v)));
      break;
  }
}

SQLParameter *SqlIsland::AddLeaf(const SQLColumnDescriptor &d) {
  Leaf leaf{std::make_unique<SQLParameter>(), d.GetType(), d.GetDepth() < 1 ? 1 : d.GetDepth()};
  leaf.param->SetType(leaf.type, d.GetLength(), leaf.depth);
  leaf.param->SetNumericTypeOpen(false);
  args_ += leaf.depth;
  leaves_.push_back(std::move(leaf));
  return leaves_.back().param.get();
}

void SqlIsland::SetValue(SQLRSSCValueExpr *expr) {
  value_.reset(expr);
  SQLRSPrepareContext context;
  result_ = value_->Prepare(&context);
}

void SqlIsland::SetCond(SQLRSSCSearchCond *cond) {
  cond_.reset(cond);
  SQLRSPrepareContext context;
  cond_->Prepare(&context);
}

void SqlIsland::Bind(sqlite3_value **argv) {
  for (Leaf &leaf : leaves_) {
    if (leaf.depth == 1) {
      SetStoreFromSqlite(&scratch_, leaf.type, *argv++);
      if (scratch_.IsNull())
        leaf.param->SetNull();
      else
        leaf.param->BindVS(&scratch_);
      continue;
    }
    scratch_.SetDimension(leaf.depth);
    for (int e = 0; e < leaf.depth; ++e) SetStoreFromSqlite(scratch_.GetElement(e), leaf.type, *argv++);
    leaf.param->BindVS(&scratch_);
  }
}

const SQLValueStore *SqlIsland::EvaluateValue(sqlite3_value **argv) {
  Bind(argv);
  value_->Reset();
  value_->Evaluate();
  return result_;
}

SQLTruthValue SqlIsland::EvaluateCond(sqlite3_value **argv) {
  Bind(argv);
  cond_->Reset();
  return cond_->Evaluate();
}

}  // namespace molvane::driver
