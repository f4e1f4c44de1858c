#include "sql/sql_agent_packets.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/errtext.h"
#include "platform/log.h"
#include "sql/agent/nw_token.h"
#include "sql/common/sql_state.h"

namespace molvane::driver {

namespace {

constexpr int kMaxMessage = 1024;         // bytes of a diagnostic text
// Bytes of rows kept at once (what a token string indexes): only the rest of
// a result that isolation keeps can come near it.
constexpr int kMaxRowSetBytes = 1 << 30;

void AppendBytes(std::vector<std::uint8_t> &out, const SQLTokenString &ts) {
  const unsigned char *p;
  int n;
  ts.GetString(p, n);
  out.insert(out.end(), p, p + n);
}

// Token strings kept for building packets, emptied at each use: replies
// are built one at a time (a server builds them under its monitor).
SQLTokenString &Scratch() {
  static SQLTokenString ts(64);
  ts.Reset();
  return ts;
}
SQLTokenString &LengthScratch() {
  static SQLTokenString ts(8);
  ts.Reset();
  return ts;
}

}  // namespace

void AgentReply::Packet(const SQLTokenString &packet) { Packet(packet, nullptr, 0); }

void AgentReply::Packet(const SQLTokenString &header, const std::uint8_t *tail, std::size_t n) {
  SQLTokenString &length = LengthScratch();
  length.AppendBs4(static_cast<std::int32_t>(header.Length() + static_cast<int>(n)));
  AppendBytes(bytes_, length);
  AppendBytes(bytes_, header);
  if (n > 0) bytes_.insert(bytes_.end(), tail, tail + n);
}

void AgentReply::LanguageLevel(std::int32_t level) {
  SQLTokenString &p = Scratch();
  p.AppendToken(SQLNWTLanguageLevel);
  p.AppendBs4(level);
  p.AppendBs4(level);
  Packet(p);
}

void AgentReply::DiagRec(std::uint32_t id, int state, const SQLException &e) {
  static const SQLNWToken kStates[] = {SQLNWTStmtNotCreated, SQLNWTStmtPrepared, SQLNWTStmtAttached,
                                       SQLNWTStmtExecuted};
  SQLTokenString &p = Scratch();
  p.AppendToken(SQLNWTDiagRec);
  p.AppendBs4(static_cast<std::int32_t>(id));
  p.AppendToken(kStates[state < 0 || state > 3 ? 0 : state]);
  char sqlstate[5];
  std::memset(sqlstate, '0', sizeof sqlstate);
  std::memcpy(sqlstate, e.GetSQLState(), strnlen(e.GetSQLState(), 5));
  p.AppendMemory(sqlstate, 5);
  p.AppendBs4(e.GetZDBError());
  // The text of the exception, else the library's text of its number.
  const SQLString *text = e.GetMessageText();
  const char *message = text->Length() > 0 ? text->GetString() : zdberrorstr(e.GetZDBError());
  p.AppendMemory(message, static_cast<int>(std::min<std::size_t>(std::strlen(message), kMaxMessage)));
  Packet(p);
}

void AgentReply::EndOfSet(std::uint32_t id) {
  SQLTokenString &p = Scratch();
  p.AppendToken(SQLNWTEndOfSet);
  p.AppendBs4(static_cast<std::int32_t>(id));
  Packet(p);
}

void AgentReply::ResultSet(std::uint32_t id, std::int32_t count, const std::uint8_t *rows, std::size_t n) {
  SQLTokenString &p = Scratch();
  p.AppendToken(SQLNWTResultSet);
  p.AppendBs4(static_cast<std::int32_t>(id));
  p.AppendBs4(count);
  Packet(p, rows, n);
}

void AgentReply::RowsProcessed(std::uint32_t id, std::int32_t rows) {
  SQLTokenString &p = Scratch();
  p.AppendToken(SQLNWTNrRowsProcessed);
  p.AppendBs4(static_cast<std::int32_t>(id));
  p.AppendBs4(rows);
  Packet(p);
}

void AgentReply::MissingDDs(const std::vector<std::pair<std::string, int>> &tables) {
  SQLTokenString &p = Scratch();
  p.AppendToken(SQLNWTMissingDDs);
  p.AppendBs2(static_cast<std::int16_t>(tables.size()));
  for (const auto &[name, compnr] : tables) {
    std::string padded = name.substr(0, 8);
    padded.resize(8, ' ');
    p.AppendMemory(padded.data(), 8);
    p.AppendBs2(static_cast<std::int16_t>(compnr));
  }
  Packet(p);
}

void ReadNetWorkValue(const SQLTokenString &ts, SQLValueStore *vs, int nesting) {
  int token = ts.GetToken();
  switch (token) {
    case SQLNWTNull:
      vs->SetInteger(0);
      vs->SetNull();
      return;
    case SQLNWTTypeInteger:
      vs->SetInteger(ts.GetBs4());
      return;
    case SQLNWTTypeDate:
      vs->SetDate(ts.GetBs4());
      return;
    case SQLNWTTypeIntervalDays:
      vs->SetIntervalDays(ts.GetBs4());
      return;
    case SQLNWTTypeReal:
      vs->SetReal(ts.GetDouble());
      return;
    case SQLNWTTypeTimeStamp:
      vs->SetTimestamp(ts.GetBs8());
      return;
    case SQLNWTTypeIntervalSeconds:
      vs->SetIntervalSeconds(ts.GetBs8());
      return;
    case SQLNWTTypeString:
    case SQLNWTTypeRaw: {
      const unsigned char *bytes;
      std::int16_t n;
      ts.GetMemory(bytes, n);
      if (n < 0) throw SQLExUnknownNetWorkToken(SQLString("negative value length"));
      if (token == SQLNWTTypeString)
        vs->SetString(bytes, static_cast<unsigned long>(n));
      else
        vs->SetRaw(bytes, static_cast<unsigned long>(n));
      return;
    }
    case SQLNWTTypeArray: {
      int n = ts.GetBs2();
      if (nesting > 0 || n < 0 || n > ts.Length() - ts.GetReadOffset())
        throw SQLExUnknownNetWorkToken(SQLString("malformed array value"));
      vs->SetDimension(n);
      for (int i = 0; i < n; ++i) ReadNetWorkValue(ts, vs->GetElement(i), nesting + 1);
      return;
    }
    default:
      throw SQLExUnknownNetWorkToken(SQLString(("unexpected value token " + std::to_string(token)).c_str()));
  }
}

void EncodedRows::Clear() {
  size_ = 0;
  offsets_.clear();
}

void EncodedRows::AppendEncoded(const std::uint8_t *row, std::size_t n) {
  std::uint8_t *p = Room(n);
  if (n > 0) std::memcpy(p, row, n);
  offsets_.push_back(size_);
  size_ += n;
}

void EncodedRows::DropLast() {
  if (offsets_.empty()) return;
  size_ = offsets_.back();
  offsets_.pop_back();
}

void EncodedRows::Grow(std::size_t n) {
  std::size_t cap = std::max<std::size_t>(cap_ + cap_ / 2, 1 << 16);
  while (cap - size_ < n) cap *= 2;
  auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(cap);
  if (size_ > 0) std::memcpy(grown.get(), buf_.get(), size_);
  buf_ = std::move(grown);
  cap_ = cap;
}

void EncodedRows::Plan(sqlite3_stmt *stmt, const std::vector<SQLColumnDescriptor> &columns) {
  plan_.clear();
  int elements = 0;
  for (const SQLColumnDescriptor &c : columns) {
    Column col{kBytes, c.GetDepth() < 1 ? 1 : c.GetDepth()};
    switch (c.GetType()) {
      case SQL_INTEGER:
      case SQL_DATE:
      case SQL_INTERVAL_DAYS: col.kind = kInt32; break;
      case SQL_REAL: col.kind = kReal; break;
      case SQL_TIMESTAMP:
      case SQL_INTERVAL_SECONDS: col.kind = kInt64; break;
      default: break;  // STRING, RAW
    }
    elements += col.depth;
    plan_.push_back(col);
  }
  if (elements != sqlite3_column_count(stmt))
    throw SQLException("QP999", 215, SQLString("result columns differ from their description"));
  planned_for_ = &columns;
  planned_stmt_ = stmt;
}

namespace {

// Token-string items written in place (token_string.h gives the layout).
inline std::uint8_t *PutLE(std::uint8_t *p, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
  return p + bytes;
}

inline std::uint8_t *PutItem(std::uint8_t *p, SQLNWTokenType tag, std::uint64_t v, int bytes) {
  *p = static_cast<std::uint8_t>(tag);
  return PutLE(p + 1, v, bytes);
}

constexpr std::size_t kMemoryHeader = 3;  // tag and 16-bit count
constexpr std::size_t kScalarItem = 9;    // the largest item of a number

}  // namespace

inline void EncodedRows::PutValue(Kind kind, sqlite3_value *v) {
  switch (kind) {
    case kInt32: {
      sqlite3_int64 x = sqlite3_value_int64(v);
      if (x < std::numeric_limits<std::int32_t>::min() || x > std::numeric_limits<std::int32_t>::max())
        throw SQLExDENumericValueOutOfRange();
      size_ = static_cast<std::size_t>(PutItem(Room(kScalarItem), SQLNWTbs4, static_cast<std::uint32_t>(x), 4) -
                                       buf_.get());
      return;
    }
    case kReal: {
      double d = sqlite3_value_double(v);
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      size_ = static_cast<std::size_t>(PutItem(Room(kScalarItem), SQLNWTdouble, bits, 8) - buf_.get());
      return;
    }
    case kInt64:
      size_ = static_cast<std::size_t>(
          PutItem(Room(kScalarItem), SQLNWTbs8, static_cast<std::uint64_t>(sqlite3_value_int64(v)), 8) - buf_.get());
      return;
    case kBytes: {
      const void *bytes = sqlite3_value_blob(v);
      int count = sqlite3_value_bytes(v);
      if (count < 0 || count > SQLTokenString::kMaxMemory) {  // more than a memory item carries
        log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
                 "A value of %d bytes exceeds the %d bytes of a token-string item", count, SQLTokenString::kMaxMemory);
        throw SQLExDEStringDataRightTruncation();
      }
      std::uint8_t *q = PutItem(Room(kMemoryHeader + static_cast<std::size_t>(count)), SQLNWTmemory,
                                static_cast<std::uint64_t>(count), 2);
      if (count > 0) std::memcpy(q, bytes, static_cast<std::size_t>(count));
      size_ = static_cast<std::size_t>(q - buf_.get()) + static_cast<std::size_t>(count);
      return;
    }
  }
}

void EncodedRows::Append(sqlite3_stmt *stmt, const std::vector<SQLColumnDescriptor> &columns) {
  if (size_ > static_cast<std::size_t>(kMaxRowSetBytes))
    throw SQLException(sqlstate::kOutOfMemory, sqlerr::kOutOfMemory);
  if (planned_for_ != &columns || planned_stmt_ != stmt || plan_.size() != columns.size()) Plan(stmt, columns);
  const std::size_t start = size_;
  const std::size_t n = plan_.size();
  const std::size_t code_bytes = (n + 3) / 4;
  // The codes item first, its bytes filled in as the columns are read.
  std::uint8_t *p = Room(kMemoryHeader + code_bytes);
  p = PutItem(p, SQLNWTmemory, code_bytes, 2);
  std::memset(p, 0, code_bytes);
  size_ += kMemoryHeader + code_bytes;
  const std::size_t codes_at = start + kMemoryHeader;
  try {
    int sc = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const Column col = plan_[i];
      const int shift = static_cast<int>(3 - i % 4) * 2;
      if (col.depth == 1) {
        sqlite3_value *v = sqlite3_column_value(stmt, sc++);
        bool value = sqlite3_value_type(v) != SQLITE_NULL;
        buf_[codes_at + i / 4] |= static_cast<std::uint8_t>((value ? 2 : 1) << shift);
        if (value) PutValue(col.kind, v);
        continue;
      }
      // An array column is NULL when all its elements are.
      values_.resize(static_cast<std::size_t>(col.depth));
      bool value = false;
      for (int e = 0; e < col.depth; ++e) {
        sqlite3_value *v = sqlite3_column_value(stmt, sc + e);
        values_[static_cast<std::size_t>(e)] = v;
        value = value || sqlite3_value_type(v) != SQLITE_NULL;
      }
      sc += col.depth;
      buf_[codes_at + i / 4] |= static_cast<std::uint8_t>((value ? 2 : 1) << shift);
      if (!value) continue;
      for (int e = 0; e < col.depth; ++e) PutValue(col.kind, values_[static_cast<std::size_t>(e)]);
    }
  } catch (...) {
    size_ = start;  // never half a row
    throw;
  }
  offsets_.push_back(start);
}

std::size_t EncodedRows::RowLength(std::size_t i) const {
  std::size_t end = i + 1 < offsets_.size() ? offsets_[i + 1] : size_;
  return end - offsets_[i];
}

const std::uint8_t *EncodedRows::RowBytes(std::size_t first, std::size_t n, std::size_t *length) const {
  std::size_t end = first + n;
  std::size_t stop = end < offsets_.size() ? offsets_[end] : size_;
  *length = stop - offsets_[first];
  return buf_.get() + offsets_[first];
}

}  // namespace molvane::driver
