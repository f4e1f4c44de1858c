#include "sql_agent_packets.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/errtext.h"
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

SQLTokenString &Scratch() {
  static SQLTokenString ts(64);
  ts.Reset();
  return ts;
}

}  // namespace

void AgentReply::Packet(const SQLTokenString &packet) { Packet(packet, nullptr, 0); }

void AgentReply::Packet(const SQLTokenString &header, const std::uint8_t *tail, std::size_t n) {
  SQLTokenString length(8);
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
  rows_.Reset();
  offsets_.clear();
}

void EncodedRows::DropLast() {
  if (offsets_.empty()) return;
  rows_.Truncate(offsets_.back());
  offsets_.pop_back();
}

void EncodedRows::Append(sqlite3_stmt *stmt, const std::vector<SQLColumnDescriptor> &columns) {
  if (rows_.Length() > kMaxRowSetBytes) throw SQLException(sqlstate::kOutOfMemory, sqlerr::kOutOfMemory);
  offsets_.push_back(rows_.Length());
  std::size_t n = columns.size();
  codes_.assign((n + 3) / 4, 0);
  // The row's values, taken once: reading them needs no lock of the
  // connection, unlike every sqlite3_column_* call.
  int count = sqlite3_column_count(stmt);
  values_.resize(static_cast<std::size_t>(count));
  for (int c = 0; c < count; ++c) values_[static_cast<std::size_t>(c)] = sqlite3_column_value(stmt, c);
  int elements = 0;
  for (const SQLColumnDescriptor &c : columns) elements += c.GetDepth() < 1 ? 1 : c.GetDepth();
  if (elements != count)
    throw SQLException("QP999", 215, SQLString("result columns differ from their description"));
  // First the codes: a column is NULL when all its elements are.
  int sc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    int depth = columns[i].GetDepth() < 1 ? 1 : columns[i].GetDepth();
    bool value = false;
    for (int e = 0; e < depth; ++e)
      value = value || sqlite3_value_type(values_[static_cast<std::size_t>(sc + e)]) != SQLITE_NULL;
    sc += depth;
    codes_[i / 4] |= static_cast<unsigned char>((value ? 2 : 1) << ((3 - i % 4) * 2));
  }
  rows_.AppendMemory(codes_.data(), static_cast<int>(codes_.size()));
  sc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    int depth = columns[i].GetDepth() < 1 ? 1 : columns[i].GetDepth();
    bool value = ((codes_[i / 4] >> ((3 - i % 4) * 2)) & 3) == 2;
    for (int e = 0; e < depth; ++e, ++sc) {
      if (!value) continue;
      switch (columns[i].GetType()) {
        case SQL_INTEGER:
        case SQL_DATE:
        case SQL_INTERVAL_DAYS: {
          sqlite3_int64 v = sqlite3_value_int64(values_[static_cast<std::size_t>(sc)]);
          if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
            throw SQLExDENumericValueOutOfRange();
          rows_.AppendBs4(static_cast<std::int32_t>(v));
          break;
        }
        case SQL_REAL:
          rows_.AppendDouble(sqlite3_value_double(values_[static_cast<std::size_t>(sc)]));
          break;
        case SQL_TIMESTAMP:
        case SQL_INTERVAL_SECONDS:
          rows_.AppendBs8(sqlite3_value_int64(values_[static_cast<std::size_t>(sc)]));
          break;
        default: {  // STRING, RAW
          const void *p = sqlite3_value_blob(values_[static_cast<std::size_t>(sc)]);
          int bytes = sqlite3_value_bytes(values_[static_cast<std::size_t>(sc)]);
          rows_.AppendMemory(p != nullptr ? p : "", bytes);  // more than a memory item carries: "22001"
          break;
        }
      }
    }
  }
}

std::size_t EncodedRows::RowLength(std::size_t i) const {
  int end = i + 1 < offsets_.size() ? offsets_[i + 1] : rows_.Length();
  return static_cast<std::size_t>(end - offsets_[i]);
}

const std::uint8_t *EncodedRows::RowBytes(std::size_t first, std::size_t n, std::size_t *length) const {
  const unsigned char *p;
  int total;
  rows_.GetString(p, total);
  std::size_t end = first + n;
  int stop = end < offsets_.size() ? offsets_[end] : total;
  *length = static_cast<std::size_t>(stop - offsets_[first]);
  return p + offsets_[first];
}

}  // namespace molvane::driver
