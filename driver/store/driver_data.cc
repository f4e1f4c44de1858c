#include "store/driver_data.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include <molvane/zdb.h>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "store/driver_refs.h"
#include "store/driver_rows.h"
#include "platform/big_endian.h"
#include "common/driver_log.h"

namespace molvane::driver {

namespace {

// Buffered action kinds.
enum : std::uint32_t {
  kInsert = 1, kDelete = 2, kUpdateOld = 3, kUpdateNew = 4, kRefcount = 5,
  kDeleteWhole = 6, kUpdateWhole = 7, kRefresh = 8, kClearWhole = 9, kDropWhole = 10,
};
// The name of a buffered action kind, for the failure text the host reads.
const char *KindName(std::uint32_t kind) {
  static const char *const kNames[] = {"",           "insert",      "delete",
                                       "update (old image)", "update", "reference count",
                                       "delete (whole)", "update (whole)", "refresh",
                                       "clear table", "drop table"};
  return kind < sizeof kNames / sizeof kNames[0] && kind != 0 ? kNames[kind] : "unknown action";
}

// Host flags that let an error count as success.
constexpr std::uint32_t kIgnoreNoRecord = 0x4, kIgnoreDuplicate = 0x10, kIgnoreChanged = 0x40;

// The text of a duplicate key, as the client words a read that found no
// row: "Duplicate key code = SALES in exdep010001 (index 1)", naming the
// first unique index whose key a row other than `own` (the row an update
// replaces; 0 for an insert) holds already. Empty when none is found.
std::string DuplicateText(TableRows &table, const std::string &name, int compnr,
                          const std::uint8_t *image, sqlite3_int64 own) {
  const DdTableDesc &desc = table.desc();
  for (const DdKeyDesc &k : desc.keys) {
    if (k.index_nr != 1 && k.duplicates != 0) continue;
    std::vector<std::size_t> columns(k.columns.begin(), k.columns.end());
    std::vector<TableRows::Found> rows;
    if (columns.empty() || table.Matching(columns, image, 2, &rows) != 0) continue;
    if (std::none_of(rows.begin(), rows.end(), [own](const TableRows::Found &r) { return r.rowid != own; }))
      continue;
    std::string key;
    for (std::size_t p : columns) {
      const DdColumnDesc &c = desc.columns[p];
      key += (key.empty() ? "" : ", ") + c.name + " = " +
             KeyText(desc, {p}, std::string(reinterpret_cast<const char *>(image) + c.offset, c.length));
    }
    char where[32];
    std::snprintf(where, sizeof where, "%.8s%03d", name.c_str(), compnr);
    return "Duplicate key " + key + " in " + where + " (index " + std::to_string(k.index_nr) + ")";
  }
  return "";
}

// A row's key (TableRows::KeyOf) as the texts name it: "code = SALES".
std::string KeyDescription(const TableRows &rows, const std::string &key) {
  const DdTableDesc &desc = rows.desc();
  std::string text;
  std::size_t at = 0;
  for (std::size_t p : rows.key_columns()) {
    const DdColumnDesc &c = desc.columns[p];
    if (at + c.length > key.size()) break;
    text += (text.empty() ? "" : ", ") + c.name + " = " + KeyText(desc, {p}, key.substr(at, c.length));
    at += c.length;
  }
  return text;
}

// The decoding layout of a table's update rows: the header, then every
// stored column in row-offset order.
std::vector<RdsColumnSpec> UpdateColumns(const DdTableDesc &desc) {
  std::vector<RdsColumnSpec> specs(3);
  for (const DdColumnDesc &c : desc.columns) specs.push_back(RdsSpecFor(c.type, c.length, c.depth));
  RdsLayout(specs);
  return specs;
}

// The row image of update row `row` (row_length bytes), into *image (its
// room kept from row to row).
void ImageOf(const DdTableDesc &desc, const std::vector<RdsColumnSpec> &specs, const std::uint8_t *row,
             std::size_t row_length, std::size_t length, std::vector<std::uint8_t> *out) {
  std::vector<std::uint8_t> &image = *out;
  image.assign(length, 0);
  for (std::size_t i = 0; i < desc.columns.size(); ++i) {
    const DdColumnDesc &c = desc.columns[i];
    const RdsColumnSpec &s = specs[3 + i];
    std::size_t n = std::size_t{s.size} * s.count;
    if (n == c.length && std::size_t{c.offset} + n <= length && s.offset + n <= row_length)
      std::memcpy(image.data() + c.offset, row + s.offset, n);
  }
}

// Applies a coded counter change (2 x change, or 2 x value + 1 to set) to a
// stored 32-bit counter.
void ApplyCounter(std::uint8_t *stored, const std::uint8_t *coded) {
  std::int32_t code = LoadBig32(coded);
  if (code & 1)
    StoreBig32(stored, (code - 1) / 2);
  else
    StoreBig32(stored, LoadBig32(stored) + code / 2);
}

}  // namespace

std::string TableKey(const std::string &table, int physical) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%03d", physical);
  return table + buf;
}

TableRows &DataPlane::Rows(DriverSession *session, const DdTableDesc &desc, int physical) {
  std::unique_ptr<TableRows> &rows = rows_[RowsKey(session->id(), desc.name, physical)];
  // Rows made from a description that was replaced since hold its columns,
  // key and statements: they go with it.
  if (rows == nullptr || rows->desc().generation != desc.generation)
    rows = std::make_unique<TableRows>(session->db(), desc, physical);
  return *rows;
}

template <class Holdings>
void DataPlane::Hold(Holdings &in, std::string key, std::uint32_t session) {
  auto [it, made] = in.try_emplace(std::move(key), session);
  if (!made) {
    if (it->second == session) return;
    if (auto was = held_.find(it->second); was != held_.end() && --was->second == 0) held_.erase(was);
    it->second = session;
  }
  ++held_[session];
}

// RefWork locks rows too.
template void DataPlane::Hold(std::map<std::string, std::uint32_t> &, std::string, std::uint32_t);

namespace {

// Appends one key to a changed-key log: its length, then its parts.
void AppendKey(std::string &log, std::initializer_list<std::string_view> parts) {
  std::uint32_t length = 0;
  for (std::string_view part : parts) length += static_cast<std::uint32_t>(part.size());
  char bytes[sizeof length];
  std::memcpy(bytes, &length, sizeof length);
  log.append(bytes, sizeof bytes);
  for (std::string_view part : parts) log.append(part);
}

}  // namespace

void DataPlane::ChangedKeys::Append(const std::string &table_key, const std::string &row_key, bool fresh) {
  if (last != std::string::npos) {
    // The key appended last runs from after its length to the log's end.
    const std::string_view previous = std::string_view(log).substr(last + sizeof(std::uint32_t));
    if (previous.size() == table_key.size() + 1 + row_key.size() && previous.starts_with(table_key) &&
        previous[table_key.size()] == '\0' && previous.ends_with(row_key))
      return;
  }
  last = log.size();
  AppendKey(log, {table_key, std::string_view("\0", 1), row_key});
  if (!fresh) repeatable += log.size() - last;
}

void DataPlane::ChangedKeys::Truncate(std::size_t size) {
  if (indexed > size) {
    set.clear();
    indexed = 0;
  }
  if (last != std::string::npos && last >= size) last = std::string::npos;
  repeatable = std::min(repeatable, size);
  log.resize(size);
}

bool DataPlane::ChangedKeys::Holds(const std::string &key) {
  while (indexed < log.size()) {
    std::uint32_t length = 0;
    std::memcpy(&length, log.data() + indexed, sizeof length);
    set.emplace(log, indexed + sizeof length, length);
    indexed += sizeof length + length;
  }
  return set.count(key) != 0;
}

void DataPlane::ChangedKeys::Compact() {
  if (log.size() < compact_at) return;
  // A key is logged again only after a change or delete of it was logged,
  // and an insert of a key follows its delete, so that the log holds at
  // most twice the bytes of such appends more than its distinct keys. The
  // log is written anew when that would halve it.
  if (repeatable * 4 < log.size()) {
    compact_at = 2 * log.size();
    return;
  }
  // The distinct keys, seen in place in the log.
  std::unordered_set<std::string_view> keys;
  std::size_t distinct = 0;
  for (std::size_t at = 0; at < log.size();) {
    std::uint32_t length = 0;
    std::memcpy(&length, log.data() + at, sizeof length);
    if (keys.emplace(log.data() + at + sizeof length, length).second) distinct += sizeof length + length;
    at += sizeof length + length;
  }
  if (distinct * 2 <= log.size()) {
    std::string compacted;
    compacted.reserve(distinct);
    for (std::string_view key : keys) AppendKey(compacted, {key});
    log.swap(compacted);
    set.clear();
    indexed = 0;
    last = std::string::npos;
    repeatable = 0;
  }
  compact_at = std::max(kCompactFrom, 2 * log.size());
}

void DataPlane::ChangedKeys::Clear() {
  // The room of a large transaction's keys is not kept for the next.
  if (log.capacity() > kCompactFrom) {
    log = std::string();
    set = std::unordered_set<std::string>();
  }
  Truncate(0);
  compact_at = kCompactFrom;
}

void DataPlane::NoteChanged(std::uint32_t session, const std::string &table_key, const std::string &row_key) {
  ChangedKeys &changes = changed_keys_[session];
  changes.Compact();
  changes.Append(table_key, row_key);
  ++held_[session];
}

void DataPlane::StatementStarts(std::uint32_t session, const std::string &table, int physical) {
  changing_[TableKey(table, physical)] = session;
}

void DataPlane::StatementEnded(std::uint32_t session) {
  for (auto it = changing_.begin(); it != changing_.end();) {
    if (it->second != session) {
      ++it;
      continue;
    }
    it = changing_.erase(it);
    ++releases_;
  }
}

bool DataPlane::ChangingForOther(std::uint32_t session, const std::string &table_key) const {
  if (changing_.empty()) return false;
  auto c = changing_.find(table_key);
  return c != changing_.end() && c->second != session;
}

bool DataPlane::LockedForOthers(std::uint32_t session, const std::string &table, int physical) const {
  std::string table_key = TableKey(table, physical);
  if (ChangingForOther(session, table_key)) return true;
  if (!HeldByOthers(session)) return false;
  auto t = table_locks_.find(table_key);
  if (t != table_locks_.end() && t->second != session) return true;
  std::string prefix = table_key + '\0';
  for (auto it = row_locks_.lower_bound(prefix);
       it != row_locks_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
    if (it->second != session) return true;
  return false;
}

bool DataPlane::LockedByOther(std::uint32_t session, const std::string &table_key,
                              const std::string &row_key) const {
  return HolderOf(session, table_key, row_key) != 0;
}

bool DataPlane::HeldAgainstWrite(std::uint32_t session, const std::string &table_key, const std::string &row_key,
                                 const DataContext &ctx) const {
  const std::uint32_t holder = HolderOf(session, table_key, row_key);
  if (holder == 0) return false;
  return !ctx.yields || !ctx.yields(session, holder, table_key, row_key) || LockedByOther(session, table_key, row_key);
}

std::uint32_t DataPlane::TableLockHolder(std::uint32_t session, const std::string &table_key) const {
  if (!changing_.empty())
    if (auto c = changing_.find(table_key); c != changing_.end() && c->second != session) return c->second;
  if (!HeldByOthers(session)) return 0;
  auto t = table_locks_.find(table_key);
  return t != table_locks_.end() && t->second != session ? t->second : 0;
}

std::uint32_t DataPlane::HolderOf(std::uint32_t session, const std::string &table_key,
                                  const std::string &row_key) const {
  if (std::uint32_t holder = TableLockHolder(session, table_key); holder != 0) return holder;
  if (!HeldByOthers(session)) return 0;
  std::string key = table_key + '\0' + row_key;
  auto r = row_locks_.find(key);
  if (r != row_locks_.end() && r->second != session) return r->second;
  // Only the sessions that hold something can have changed a row.
  for (const auto &[owner, count] : held_) {
    if (owner == session) continue;
    auto changes = changed_keys_.find(owner);
    if (changes != changed_keys_.end() && changes->second.Holds(key)) return owner;
  }
  return 0;
}

std::uint32_t DataPlane::HolderOf(std::uint32_t session, const RowRef &row, const DriverStore *store) const {
  if (std::uint32_t holder = HolderOf(session, row.table_key, row.key); holder != 0) return holder;
  return store != nullptr && row.rowid != 0 ? store->ChangerOf(session, row.sqlite_table, row.rowid) : 0;
}

RowRef DataPlane::FindRow(DriverSession *session, const std::string &table, int compnr, const std::string &key,
                          const DataContext &ctx) {
  const int physical = ctx.physical(table, compnr);
  RowRef row{TableKey(table, physical), key, {}, 0, {}};
  const DdTableDesc *desc = ctx.catalog->Find(table, physical, ctx.holder);
  if (desc == nullptr) return row;
  row.sqlite_table = SqliteTableName(desc->name, physical);
  TableRows &rows = Rows(session, *desc, physical);
  if (rows.has_key()) {
    std::vector<std::uint8_t> image;
    if (rows.Find(key, &image, &row.rowid) != 0) row.rowid = 0;
    row.key_text = KeyDescription(rows, key);
  }
  return row;
}

std::vector<std::uint32_t> DataPlane::TableHolders(std::uint32_t session, const std::string &table_key,
                                                   const std::string &sqlite_table, const DriverStore *store,
                                                   std::size_t most) const {
  std::vector<std::uint32_t> holders;
  auto add = [&](std::uint32_t holder) {
    if (holder == 0 || holder == session) return;
    auto at = std::lower_bound(holders.begin(), holders.end(), holder);
    if (at == holders.end() || *at != holder) holders.insert(at, holder);
  };
  if (auto c = changing_.find(table_key); c != changing_.end()) add(c->second);
  if (HeldByOthers(session)) {
    if (auto t = table_locks_.find(table_key); t != table_locks_.end()) add(t->second);
    const std::string prefix = table_key + '\0';
    for (auto it = row_locks_.lower_bound(prefix); holders.size() < most && it != row_locks_.end() &&
                                                   it->first.compare(0, prefix.size(), prefix) == 0;
         ++it)
      add(it->second);
  }
  // Rows changed in an open transaction are its keys and rowids alike;
  // their rowids name every such row, whatever changed it.
  if (holders.size() < most && store != nullptr && !sqlite_table.empty())
    add(store->ChangerOf(session, sqlite_table, 0));
  return holders;
}

std::vector<DataPlane::WholeTable> DataPlane::HeldWholeTables(DriverSession *session,
                                                              const std::vector<UpdateTable> &tables,
                                                              const DataContext &ctx) const {
  std::vector<WholeTable> held;
  const std::vector<UpdateTable> *batch = &tables;
  if (tables.empty()) {
    auto kept = kept_.find(session->id());
    if (kept == kept_.end()) return held;
    batch = &kept->second;
  }
  for (const UpdateTable &t : *batch) {
    const int physical = ctx.physical(t.name, t.compnr);
    const DdTableDesc *desc = ctx.catalog->Find(t.name, physical, ctx.holder);
    if (desc == nullptr || (desc->referenced_by.empty() && desc->references.empty())) continue;
    if (TableHolders(session->id(), TableKey(t.name, physical), SqliteTableName(desc->name, physical), ctx.store, 1)
            .empty())
      continue;
    RdsRows rows;
    std::string error;
    if (!DecodeRds(UpdateColumns(*desc), t.rds, &rows, &error)) continue;  // the batch answers for it
    for (std::size_t r = 0; r < rows.count; ++r) {
      const std::uint32_t kind = LoadBigU32(rows.row(r) + 4);
      if (kind != kClearWhole && kind != kDropWhole) continue;
      // One wait a table: the tables of a batch are each sent once.
      held.push_back({t.name, t.compnr, std::string(KindName(kind)) + " (action " + std::to_string(kind) + ")"});
      break;
    }
  }
  return held;
}

bool DataPlane::LockTable(std::uint32_t session, const std::string &table_key) {
  auto t = table_locks_.find(table_key);
  if (t != table_locks_.end() && t->second == session) return false;
  Hold(table_locks_, table_key, session);
  return true;
}

void DataPlane::UnlockTable(std::uint32_t session, const std::string &table_key) {
  auto t = table_locks_.find(table_key);
  if (t == table_locks_.end() || t->second != session) return;
  table_locks_.erase(t);
  if (auto held = held_.find(session); held != held_.end() && --held->second == 0) held_.erase(held);
  ++releases_;
}

bool DataPlane::LocksRow(std::uint32_t session, const std::string &table_key, const std::string &row_key) const {
  auto r = row_locks_.find(table_key + '\0' + row_key);
  return r != row_locks_.end() && r->second == session;
}

void DataPlane::Unlock(std::uint32_t session, const std::string &table_key, const std::string &row_key) {
  auto r = row_locks_.find(table_key + '\0' + row_key);
  if (r == row_locks_.end() || r->second != session) return;
  row_locks_.erase(r);
  if (auto held = held_.find(session); held != held_.end() && --held->second == 0) held_.erase(held);
  ++releases_;
}

DataPlane::Failure DataPlane::Apply(DriverSession *session, const std::vector<UpdateTable> &tables,
                                    const DataContext &ctx, ChangedKeys &changes,
                                    std::vector<UpdateTable> *reached) {
  RefWork refs(*this, session, ctx);
  struct Part {
    const UpdateTable *t;
    const DdTableDesc *desc;
    std::vector<RdsColumnSpec> specs;
    RdsRows rows;
    RefWork::Target target;
    std::vector<std::uint8_t> old_image;
    bool have_old = false;
  };
  std::vector<Part> parts;
  parts.reserve(tables.size());
  std::vector<std::pair<std::uint32_t, std::pair<std::size_t, std::size_t>>> order;
  for (const UpdateTable &t : tables) {
    auto fail = [&](std::uint32_t error, std::string extra) {
      return Failure{error, t.name, t.compnr, std::move(extra), {}};
    };
    const DdTableDesc *desc = ctx.catalog->Find(t.name, ctx.physical(t.name, t.compnr), ctx.holder);
    if (desc == nullptr) return fail(ZE_NO_DD, "no dictionary");
    Part part{&t, desc, UpdateColumns(*desc), {}, {}, {}, false};
    std::string error;
    if (!DecodeRds(part.specs, t.rds, &part.rows, &error))
      return fail(ZE_ILLEGAL_ARGUMENT, "row data set: " + error);
    refs.Open(t.name, t.compnr, &part.target);
    for (std::size_t r = 0; r < part.rows.count; ++r)
      order.push_back({LoadBigU32(part.rows.row(r)), {parts.size(), r}});
    parts.push_back(std::move(part));
  }
  // The records of all tables in the order the client made them: a row may
  // need a parent inserted just before it in another table of the batch.
  auto by_sequence = [](const auto &a, const auto &b) { return a.first < b.first; };
  if (!std::is_sorted(order.begin(), order.end(), by_sequence))
    std::stable_sort(order.begin(), order.end(), by_sequence);
  std::vector<std::uint8_t> image;
  for (const auto &[sequence, at] : order) {
    Part &part = parts[at.first];
    const UpdateTable &t = *part.t;
    const DdTableDesc *desc = part.desc;
    const std::uint8_t *row = part.rows.row(at.second);
    const RefWork::Target &target = part.target;
    TableRows &table = *target.rows;
    const std::string &table_key = target.lock_key;
    std::vector<std::uint8_t> &old_image = part.old_image;
    bool &have_old = part.have_old;
    auto fail = [&](std::uint32_t error, std::string extra) {
      return Failure{error, t.name, t.compnr, std::move(extra), {}};
    };
    std::uint32_t kind = LoadBigU32(row + 4), flags = LoadBigU32(row + 8);
    ImageOf(*desc, part.specs, row, part.rows.row_length, table.image_length(), &image);
    std::string key = table.KeyOf(image.data());
    std::uint32_t rc = 0;
    std::string locked_key;  // the key of the row refused as locked
    // A table lock keeps inserts out too; an update is checked by its old key.
    if (kind != kUpdateOld && kind != kRefresh && kind != kUpdateNew && kind != kUpdateWhole &&
        HeldAgainstWrite(session->id(), table_key, key, ctx)) {
      rc = kLocked;
      locked_key = key;
    }
    std::vector<std::uint8_t> stored;
    sqlite3_int64 rowid = 0;
    if (rc == 0) {
      switch (kind) {
        case kInsert:
          rc = refs.Before(target, nullptr, image.data(), flags);
          if (rc == 0) rc = table.Insert(image.data());
          if (rc == 0) rc = refs.After(target, nullptr, image.data(), flags, false);
          if (rc == 0) changes.Append(table_key, key, true);
          break;
        case kDelete:
        case kDeleteWhole:
          rc = table.Find(key, &stored, &rowid);
          // A whole delete carries the delayed-lock image too.
          if (rc == 0 && stored != image) rc = kChanged;
          if (rc == 0) rc = refs.Before(target, stored.data(), nullptr, flags);
          if (rc == 0) rc = table.Delete(rowid);
          if (rc == 0) rc = refs.After(target, stored.data(), nullptr, flags, kind == kDeleteWhole);
          if (rc == 0) changes.Append(table_key, key);
          break;
        case kUpdateOld:
          old_image = image;
          have_old = true;
          continue;
        case kUpdateNew:
        case kUpdateWhole: {
          if (!have_old) {
            rc = ZE_ILLEGAL_ARGUMENT;
            break;
          }
          have_old = false;
          std::string old_key = table.KeyOf(old_image.data());
          if (HeldAgainstWrite(session->id(), table_key, old_key, ctx)) {
            rc = kLocked;
            locked_key = old_key;
            break;
          }
          rc = table.Find(old_key, &stored, &rowid);
          if (rc == 0 && stored != old_image) rc = kChanged;
          if (rc == 0) rc = refs.Before(target, stored.data(), image.data(), flags);
          if (rc == 0) rc = table.Replace(rowid, image.data(), stored.data());
          if (rc == 0) rc = refs.After(target, stored.data(), image.data(), flags, kind == kUpdateWhole);
          if (rc == 0) {
            changes.Append(table_key, old_key);
            changes.Append(table_key, key);
          }
          break;
        }
        case kRefcount: {
          rc = table.Find(key, &stored, &rowid);
          if (rc == kNoRecord) {
            rc = refs.LostParent(target, image.data());
            break;
          }
          if (rc != 0) break;
          for (std::size_t p : ColumnsNamed(*desc, {"Refcntd", "Refcntu"})) {
            const DdColumnDesc &c = desc->columns[p];
            if (c.length == 4) ApplyCounter(stored.data() + c.offset, image.data() + c.offset);
          }
          rc = table.Replace(rowid, stored.data());
          break;
        }
        case kRefresh:
          break;
        // The whole table, with the reference work of each of its rows.
        case kClearWhole:
          rc = refs.WholeTable(target, flags);
          if (rc == 0) rc = table.Clear();
          break;
        case kDropWhole:
          rc = refs.WholeTable(target, flags);
          if (rc == 0) rc = table.Drop();
          break;
        default:
          rc = ZE_ILLEGAL_ARGUMENT;
          break;
      }
    }
    if (rc == 0) continue;
    if ((rc == 100 && (flags & kIgnoreDuplicate)) || (rc == kNoRecord && (flags & kIgnoreNoRecord)) ||
        (rc == kChanged && (flags & kIgnoreChanged)))
      continue;
    if (rc == ZE_NO_DD && !refs.missing().empty()) {
      Failure missing = fail(rc, "");
      missing.missing = refs.missing();
      return missing;
    }
    // The host's rows are counted: an update's old image and its new one
    // are one row of the host.
    std::size_t row_number = 1;
    for (std::size_t r = 0; r < at.second; ++r) row_number += LoadBigU32(part.rows.row(r) + 4) != kUpdateOld;
    std::string extra = std::string(KindName(kind)) + " (action " + std::to_string(kind) + ") of row " +
                        std::to_string(row_number);
    // A reference error carries its text; a counter change of a parent that
    // is not there carries none (the client words its own).
    if (!refs.detail().empty()) extra = refs.detail();
    else if (rc == kNoParent) extra.clear();
    if (rc == 100 && refs.detail().empty() && (kind == kInsert || kind == kUpdateNew || kind == kUpdateWhole)) {
      std::string duplicate = DuplicateText(table, t.name, t.compnr, image.data(), kind == kInsert ? 0 : rowid);
      if (!duplicate.empty()) extra = std::move(duplicate);
    }
    if ((rc == 215 || zdb_storage_error(static_cast<int>(rc))) && !table.error().empty())
      extra += ": " + table.error();
    // A row another session holds (one the batch writes, or one its
    // reference work reaches, such as a row of a table it clears whole):
    // which row, and who holds it.
    const RefWork::HeldRow &reached_row = refs.held();
    const bool by_refs = locked_key.empty() && reached_row.rows != nullptr;
    if (rc == kLocked && refs.detail().empty() && (!locked_key.empty() || by_refs)) {
      const std::uint32_t holder = by_refs ? HolderOf(session->id(), reached_row.table_key, reached_row.key)
                                           : HolderOf(session->id(), table_key, locked_key);
      const std::string row =
          by_refs ? KeyDescription(*reached_row.rows, reached_row.key) : KeyDescription(table, locked_key);
      if (holder != 0)
        extra += ": " + (row.empty() ? std::string("the row") : "the row " + row) + " is held by " +
                 (ctx.session_text ? ctx.session_text(holder) : "session " + std::to_string(holder));
    }
    return fail(rc, extra);
  }
  if (reached != nullptr) {
    for (const auto &[name, compnr] : refs.changed()) {
      UpdateTable t;
      t.name = name.substr(0, 8);
      t.name.resize(8, ' ');
      t.compnr = compnr;
      reached->push_back(std::move(t));
    }
  }
  return Failure{};
}

void DataPlane::Update(DriverSession *session, std::vector<UpdateTable> tables,
                       const DataContext &ctx, WireWriter &out, std::vector<UpdateTable> *reached) {
  if (tables.empty() && session != nullptr) {
    auto kept = kept_.find(session->id());
    if (kept == kept_.end()) {
      out.U32(0);
      return;
    }
    tables = std::move(kept->second);
    kept_.erase(kept);
  }
  std::vector<std::pair<std::string, std::uint16_t>> missing;
  for (const UpdateTable &t : tables) {
    if (ctx.catalog->Find(t.name, ctx.physical(t.name, t.compnr), ctx.holder) != nullptr) continue;
    auto entry = std::make_pair(t.name, t.compnr);
    if (std::find(missing.begin(), missing.end(), entry) == missing.end()) missing.push_back(entry);
  }
  if (!missing.empty()) {
    if (session != nullptr) kept_[session->id()] = std::move(tables);
    out.U32(ZE_NO_DD);
    WriteDdList(out, missing);
    return;
  }
  if (tables.empty()) {
    out.U32(0);
    return;
  }
  if (session == nullptr) {
    out.U32(ZE_INVALID_SESSION);
    return;
  }
  if (!session->active() && !session->Begin()) {
    out.U32(session->Failure(ZE_ILLEGAL_STATE));
    return;
  }
  sqlite3 *db = session->db();
  if (sqlite3_exec(db, "SAVEPOINT batch", nullptr, nullptr, nullptr) != SQLITE_OK) {
    DriverLog(__FILE__, __LINE__, 0, "savepoint: %s", sqlite3_errmsg(db));
    out.U32(ZE_ILLEGAL_STATE);
    return;
  }
  // The keys and rowids the batch changed are kept only when it succeeds.
  ChangedKeys &changes = changed_keys_[session->id()];
  changes.Compact();
  const std::size_t mark = changes.log.size();
  struct BatchRows {
    DriverSession *session;
    bool kept = false;
    ~BatchRows() { session->BatchEnded(kept); }
  } batch_rows{session};
  session->BatchStarts();
  Failure failure = Apply(session, tables, ctx, changes, reached);
  batch_rows.kept = failure.error == 0;
  // A failed batch's keys go, and its rowids (BatchEnded): a locked read
  // that waits for them may take its row.
  if (failure.error != 0) {
    changes.Truncate(mark);
    ++releases_;
  } else if (changes.log.size() != mark) {
    ++held_[session->id()];
  }
  if (failure.error != 0) sqlite3_exec(db, "ROLLBACK TO batch", nullptr, nullptr, nullptr);
  // A transaction SQLite rolled back with the batch holds nothing more,
  // and takes no more work.
  if (failure.error != 0 && !session->active()) {
    EndTransaction(session->id());
    session->TransactionLost(failure.error, session->RolledBackReason(" when its update failed: " + failure.extra));
  }
  sqlite3_exec(db, "RELEASE batch", nullptr, nullptr, nullptr);
  if (failure.error == 0) {
    out.U32(0);
    return;
  }
  if (!failure.missing.empty()) {
    // The reference work reached tables without their dictionaries: the
    // batch waits for them, as a batch on such a table does.
    kept_[session->id()] = std::move(tables);
    out.U32(ZE_NO_DD);
    WriteDdList(out, failure.missing);
    return;
  }
  std::string name = failure.table.substr(0, 8);
  name.resize(8, ' ');
  out.U32(ZE_BUFFERED_UPDATE).U32(failure.error).Bytes(name.data(), 8).U16(failure.compnr);
  out.U32(static_cast<std::uint32_t>(failure.extra.size())).Bytes(failure.extra.data(), failure.extra.size());
}

std::uint32_t DataPlane::Read(DriverSession *session, const std::string &table_name, int compnr,
                     std::uint32_t arg, const std::string &key, const DataContext &ctx,
                     WireWriter &out) {
  int physical = ctx.physical(table_name, compnr);
  const DdTableDesc *desc = ctx.catalog->Find(table_name, physical, ctx.holder);
  if (desc == nullptr) {
    out.U16(0).U32(ZE_NO_DD);
    WriteDdList(out, {{table_name, static_cast<std::uint16_t>(compnr)}});
    return ZE_NO_DD;
  }
  TableRows &table = Rows(session, *desc, physical);
  bool lock = arg == 1;
  // The lock table's name of the table: wanted for a lock only.
  const std::string table_key = lock ? TableKey(table_name, physical) : std::string();
  if (lock && LockedByOther(session->id(), table_key, key)) {
    out.U16(0).U32(kLocked);
    return kLocked;
  }
  std::vector<std::uint8_t> image;
  sqlite3_int64 rowid = 0;
  int rc = table.Find(key, &image, &rowid);
  // The committed image of a row another transaction changed is about to
  // go: it cannot be locked. With the locks looked at above, this is the
  // rest of what HolderOf answers a waiter for the row.
  if (rc == 0 && lock && rowid != 0 && ctx.store != nullptr &&
      ctx.store->ChangerOf(session->id(), SqliteTableName(desc->name, physical), rowid) != 0) {
    out.U16(0).U32(kLocked);
    return kLocked;
  }
  if (rc != 0 || image.size() > DBC_MAX_ROW) {
    if (rc == 215)
      DriverLog(__FILE__, __LINE__, 0, "read %s: %s", TableKey(table_name, physical).c_str(),
                table.error().c_str());
    const std::uint32_t retval = rc != 0 ? static_cast<std::uint32_t>(rc) : ZE_ILLEGAL_STATE;
    out.U16(0).U32(retval);
    return retval;
  }
  if (ctx.readable && !ctx.readable(*desc, compnr, image.data())) {
    out.U16(0).U32(ZE_NO_PERMISSION);
    return ZE_NO_PERMISSION;
  }
  if (arg >= 3 && arg <= 8) {
    // The reference questions of a parent row: is it referenced?
    RefWork refs(*this, session, ctx);
    RefWork::Target target;
    refs.Open(table_name, compnr, &target);
    std::uint32_t answer = refs.Referenced(target, image.data(), arg);
    if (answer == ZE_NO_DD && !refs.missing().empty()) {
      out.U16(0).U32(ZE_NO_DD);
      WriteDdList(out, refs.missing());
      return ZE_NO_DD;
    }
    if (answer != 0) {
      out.U16(0).U32(answer);
      return answer;
    }
  }
  if (lock) Hold(row_locks_, table_key + '\0' + key, session->id());
  out.U16(static_cast<std::uint16_t>(image.size())).Bytes(image.data(), image.size()).U32(0);
  return 0;
}

std::uint32_t DataPlane::TableAction(DriverSession *session, const std::string &table_name,
                                     int compnr, std::uint32_t action, std::uint32_t *argument,
                                     const DataContext &ctx) {
  int physical = ctx.physical(table_name, compnr);
  const DdTableDesc *desc = ctx.catalog->Find(table_name, physical, ctx.holder);
  if (desc == nullptr) return ZE_NO_DD;
  TableRows &table = Rows(session, *desc, physical);
  std::string table_key = TableKey(table_name, physical);
  int code = static_cast<int>(action & 0xFF);
  bool changes = code == create_table || code == clear_table || code == drop_table || code == clr_ref_cnt;
  // A lock, clear or drop of the table reaches every row of it: another
  // session's rows or table lock hold it (TableHolders); the other actions
  // are held up by a lock of the table or a statement running on it.
  const bool whole = code == clear_table || code == drop_table || code == lock_table;
  if (whole ? !TableHolders(session->id(), table_key, SqliteTableName(desc->name, physical), ctx.store, 1).empty()
            : changes && TableLockHolder(session->id(), table_key) != 0)
    return kLocked;
  if (changes && !session->active() && !session->Begin()) return ZE_ILLEGAL_STATE;
  int rc = 0;
  switch (code) {
    case create_table: rc = table.Create(); break;
    case clear_table: rc = table.Clear(); break;
    case drop_table: rc = table.Drop(); break;
    case nr_rows: rc = table.Count(argument); break;
    case clr_ref_cnt: rc = table.ZeroColumns(ColumnsNamed(*desc, {"Refcntd", "Refcntu"})); break;
    case lock_table:
      LockTable(session->id(), table_key);
      break;
    default:
      break;  // index and import actions: nothing to do over SQLite
  }
  if (rc == 215)
    DriverLog(__FILE__, __LINE__, 0, "table action %d on %s: %s", code, table_key.c_str(),
              table.error().c_str());
  return static_cast<std::uint32_t>(rc);
}

void DataPlane::EndTransaction(std::uint32_t session_id) {
  if (held_.count(session_id) == 0) return;
  for (auto it = row_locks_.begin(); it != row_locks_.end();)
    it = it->second == session_id ? row_locks_.erase(it) : std::next(it);
  for (auto it = table_locks_.begin(); it != table_locks_.end();)
    it = it->second == session_id ? table_locks_.erase(it) : std::next(it);
  if (auto changes = changed_keys_.find(session_id); changes != changed_keys_.end()) changes->second.Clear();
  held_.erase(session_id);
  ++releases_;
}

void DataPlane::LockChangedRows(DriverSession *session, const std::string &table, int physical,
                                const std::vector<std::pair<std::string, sqlite3_int64>> &watched,
                                const DataContext &ctx) {
  const DdTableDesc *desc = ctx.catalog->Find(table, physical, ctx.holder);
  if (desc == nullptr || watched.empty()) return;
  TableRows &rows = Rows(session, *desc, physical);
  if (!rows.has_key()) return;
  const std::string sqlite_table = SqliteTableName(desc->name, physical);
  const std::string table_key = TableKey(table, physical);
  std::vector<std::uint8_t> image;
  for (const auto &[name, rowid] : watched)
    if (name == sqlite_table && rows.FindRowid(rowid, &image) == 0)
      NoteChanged(session->id(), table_key, rows.KeyOf(image.data()));
}

std::vector<std::string> DataPlane::KeysOfRows(DriverSession *session, const std::string &table, int physical,
                                               const std::vector<sqlite3_int64> &rowids, const DataContext &ctx) {
  std::vector<std::string> keys;
  const DdTableDesc *desc = ctx.catalog->Find(table, physical, ctx.holder);
  if (desc == nullptr) return keys;
  TableRows &rows = Rows(session, *desc, physical);
  if (!rows.has_key()) return keys;
  std::vector<std::uint8_t> image;
  for (sqlite3_int64 rowid : rowids)
    if (rows.FindRowid(rowid, &image) == 0) keys.push_back(rows.KeyOf(image.data()));
  return keys;
}

std::vector<std::uint32_t> DataPlane::OnIdleTick(DriverStore &store, std::chrono::steady_clock::time_point now,
                                                 const std::map<std::uint32_t, ClientQuiet> &quiet) {
  std::vector<std::uint32_t> ended = store.OnIdleTick(now, quiet, [this](std::uint32_t id) { return Holds(id); });
  for (std::uint32_t id : ended) EndTransaction(id);
  return ended;
}

void DataPlane::ForgetSession(std::uint32_t session_id) {
  StatementEnded(session_id);
  EndTransaction(session_id);
  changed_keys_.erase(session_id);
  kept_.erase(session_id);
  for (auto it = rows_.begin(); it != rows_.end();)
    it = std::get<0>(it->first) == session_id ? rows_.erase(it) : std::next(it);
}

}  // namespace molvane::driver
