#include "sql/agent/agent_packets.h"

#include <cstdint>
#include <cstring>

#include "platform/log.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/value_store.h"

void SQLPacketBuffer::AddPacket(SQLTokenString const &packet) {
  const int before = packets_.Length();
  try {
    packets_.AppendBs4(packet.Length());
    packets_.AppendTokenString(packet);
  } catch (...) {
    packets_.Truncate(before);  // never a length without its packet
    throw;
  }
}

void SQLPacketBuffer::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLPacketBuffer(" << incind << "packets: ";
  packets_.Log();
  log << ")" << endl << decind;
}

void SQLAppendNetWorkValue(SQLTokenString &ts, SQLValueStore const *value) {
  SQLType type = value->GetType();
  if (type != SQL_ARRAY && value->IsNull()) {
    ts.AppendToken(SQLNWTNull);
    return;
  }
  switch (type) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      ts.AppendType(type);
      ts.AppendBs4(value->GetInteger());
      return;
    case SQL_REAL:
      ts.AppendType(type);
      ts.AppendDouble(value->GetReal());
      return;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      ts.AppendType(type);
      ts.AppendBs8(value->GetTimestamp());
      return;
    case SQL_STRING:
    case SQL_RAW:
      ts.AppendType(type);
      // AppendMemory refuses more than a memory item can carry.
      ts.AppendMemory(value->GetBytes(), static_cast<int>(value->GetLength()));
      return;
    case SQL_ARRAY: {
      int n = value->GetDimension();
      if (n > SQLTokenString::kMaxMemory) throw SQLExDEStringDataRightTruncation();
      ts.AppendToken(SQLNWTTypeArray);
      ts.AppendBs2(static_cast<std::int16_t>(n));
      for (int i = 0; i < n; ++i) SQLAppendNetWorkValue(ts, value->GetElement(i));
      return;
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", static_cast<int>(type));
  }
}

namespace {

[[noreturn]] void BadRowSet(char const *what) {
  log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Malformed row set from the SQL agent: %s",
           what);
  throw SQLExUnknownNetWorkToken(SQLString(what));
}

}  // namespace

SQLNetWorkRowSetRowExtractor::SQLNetWorkRowSetRowExtractor(
    int nrColumns, SQLValueStore **stores, SQLColumnDescriptor const *const *descriptors)
    : nrColumns_(nrColumns), stores_(stores) {
  for (int i = 0; i < nrColumns_; ++i) {
    int depth = descriptors[i]->GetDepth();
    if (depth > 1) stores_[i]->SetDimension(depth);
    columns_.push_back({descriptors[i]->GetType(), depth});
  }
}

void SQLNetWorkRowSetRowExtractor::DefineRowSet(SQLTokenString const &packet) {
  unsigned char const *bytes;
  int length;
  packet.GetString(bytes, length);
  DefineRowSet(std::make_unique<SQLTokenString>(bytes, length));
}

void SQLNetWorkRowSetRowExtractor::DefineRowSet(std::unique_ptr<SQLTokenString> packet) {
  EmptyRowSet();
  packet->SetReadOffset(0);
  packet->GetToken();
  packet->GetBs4();  // statement id
  int rows = packet->GetBs4();
  if (rows < 0) BadRowSet("negative row count");
  unsigned char const *bytes;
  int length;
  packet->GetString(bytes, length);
  at_ = bytes + packet->GetReadOffset();
  end_ = bytes + length;
  set_ = std::move(packet);
  nrRows_ = rows;
  delivered_ = 0;
}

void SQLNetWorkRowSetRowExtractor::EmptyRowSet() {
  set_.reset();
  at_ = end_ = nullptr;
  nrRows_ = 0;
  delivered_ = 0;
}

unsigned char const *SQLNetWorkRowSetRowExtractor::Item(int tag, int size) {
  if (end_ - at_ < size) BadRowSet("truncated value");
  if (*at_ != tag) BadRowSet("value of another kind than its column");
  unsigned char const *payload = at_ + 1;
  at_ += size;
  return payload;
}

unsigned char const *SQLNetWorkRowSetRowExtractor::Memory(int *n) {
  unsigned char const *header = Item(SQLNWTmemory, 3);
  auto count = static_cast<std::int16_t>(header[0] | header[1] << 8);
  if (count < 0) BadRowSet("negative value length");
  if (end_ - at_ < count) BadRowSet("truncated value");
  at_ += count;
  *n = count;
  return header + 2;
}

namespace {

std::uint64_t LittleEndian(unsigned char const *p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

}  // namespace

void SQLNetWorkRowSetRowExtractor::DecodeValue(SQLValueStore *vs, SQLType type) {
  switch (type) {
    case SQL_INTEGER:
      vs->SetInteger(static_cast<std::int32_t>(LittleEndian(Item(SQLNWTbs4, 5), 4)));
      return;
    case SQL_DATE: vs->SetDate(static_cast<std::int32_t>(LittleEndian(Item(SQLNWTbs4, 5), 4))); return;
    case SQL_INTERVAL_DAYS:
      vs->SetIntervalDays(static_cast<std::int32_t>(LittleEndian(Item(SQLNWTbs4, 5), 4)));
      return;
    case SQL_REAL: {
      std::uint64_t bits = LittleEndian(Item(SQLNWTdouble, 9), 8);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      vs->SetReal(d);
      return;
    }
    case SQL_TIMESTAMP:
      vs->SetTimestamp(static_cast<std::int64_t>(LittleEndian(Item(SQLNWTbs8, 9), 8)));
      return;
    case SQL_INTERVAL_SECONDS:
      vs->SetIntervalSeconds(static_cast<std::int64_t>(LittleEndian(Item(SQLNWTbs8, 9), 8)));
      return;
    case SQL_STRING:
    case SQL_RAW: {
      int n;
      unsigned char const *bytes = Memory(&n);
      if (type == SQL_STRING) vs->SetString(bytes, static_cast<unsigned long>(n));
      else vs->SetRaw(bytes, static_cast<unsigned long>(n));
      return;
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", static_cast<int>(type));
  }
}

bool SQLNetWorkRowSetRowExtractor::Fetch() {
  if (!set_ || delivered_ >= nrRows_) return false;
  int nCodes;
  unsigned char const *codes = Memory(&nCodes);
  if (nCodes < (nrColumns_ + 3) / 4) BadRowSet("row codes shorter than the columns");
  // The codes point into set_, which is not changed while the row is read.
  for (int i = 0; i < nrColumns_; ++i) {
    int code = (codes[i / 4] >> ((3 - i % 4) * 2)) & 3;
    if (code != 1 && code != 2) continue;
    SQLValueStore *vs = stores_[i];
    Column const column = columns_[static_cast<std::size_t>(i)];
    for (int e = 0; e < column.depth; ++e) {
      SQLValueStore *element = column.depth > 1 ? vs->GetElement(e) : vs;
      if (code != 1) {
        DecodeValue(element, column.type);
      } else if (element->GetType() != column.type) {
        SQLSetTypedNull(element, column.type);  // a NULL in the first row still has the column's type
      } else {
        element->SetNull();
      }
    }
  }
  ++delivered_;
  return true;
}

int SQLNetWorkRowSetRowExtractor::SkipRows(int n) {
  int left = RowsLeft();
  if (n >= left) {
    EmptyRowSet();
    return left;
  }
  for (int i = 0; i < n; ++i) Fetch();
  return n;
}
