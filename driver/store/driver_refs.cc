#include "store/driver_refs.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <molvane/datetime.h>

#include "dbc/zdb_errors.h"
#include "store/driver_data.h"
#include "platform/big_endian.h"

namespace molvane::driver {

namespace {

// A cascade that reaches further than this is taken for a loop.
constexpr int kMaxDepth = 256;

// The fields of a reference mode word.
int CheckMode(std::uint16_t mode) { return mode & 0x3; }
int UpdateMode(std::uint16_t mode) { return (mode >> 2) & 0x7; }
int DeleteMode(std::uint16_t mode) { return (mode >> 5) & 0x7; }
constexpr int kCounted = 1, kCascade = 2, kNullify = 3, kRestricted = 4;
constexpr int kCheckIfFilled = 2, kNoCheck = 3;
constexpr std::uint16_t kConditional = 0x100, kPhysical = 0x1000;

bool TakesPart(std::uint16_t mode, std::uint32_t flags) {
  return !(mode & kConditional) || (flags & kHostConditional);
}

bool SameName(const std::string &a, const std::string &b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// "tttttttt.column" -> table and column.
std::string TableOf(const std::string &full) { return full.substr(0, full.find('.')); }
std::string ColumnOf(const std::string &full) {
  std::size_t point = full.find('.');
  return point == std::string::npos ? full : full.substr(point + 1);
}

bool IsText(std::uint8_t type) { return type == 6 || type == 14; }

// The stored columns a column stands for: itself, or a combined column's
// members. Empty when the table has no such column.
std::vector<std::size_t> Parts(const DdTableDesc &desc, const std::string &column) {
  for (std::size_t i = 0; i < desc.columns.size(); ++i)
    if (SameName(desc.columns[i].name, column)) return {i};
  for (const auto &[name, members] : desc.combined)
    if (SameName(name, column)) return {members.begin(), members.end()};
  return {};
}

// The values of columns of an image, one after the other.
std::string Pack(const DdTableDesc &desc, const std::vector<std::size_t> &parts,
                 const std::uint8_t *image) {
  std::string bytes;
  for (std::size_t p : parts)
    bytes.append(reinterpret_cast<const char *>(image) + desc.columns[p].offset, desc.columns[p].length);
  return bytes;
}

// Puts packed values into the columns of an image; a value shorter than
// its column is padded (blanks for texts, zero bytes otherwise).
void Unpack(const DdTableDesc &desc, const std::vector<std::size_t> &parts, std::uint8_t *image,
            const std::string &bytes) {
  std::size_t at = 0;
  for (std::size_t p : parts) {
    const DdColumnDesc &c = desc.columns[p];
    std::size_t n = at < bytes.size() ? std::min<std::size_t>(c.length, bytes.size() - at) : 0;
    std::memset(image + c.offset, IsText(c.type) ? ' ' : 0, c.length);
    if (n > 0) std::memcpy(image + c.offset, bytes.data() + at, n);
    at += c.length;
  }
}

// The emptied value of columns: numbers and raw values zero, texts blank.
void Empty(const DdTableDesc &desc, const std::vector<std::size_t> &parts, std::uint8_t *image) {
  for (std::size_t p : parts) {
    const DdColumnDesc &c = desc.columns[p];
    std::memset(image + c.offset, IsText(c.type) ? ' ' : 0, c.length);
  }
}

// True when every column of the packed values is filled.
bool Filled(const DdTableDesc &desc, const std::vector<std::size_t> &parts, const std::string &bytes) {
  std::size_t at = 0;
  for (std::size_t p : parts) {
    const DdColumnDesc &c = desc.columns[p];
    const auto *v = reinterpret_cast<const std::uint8_t *>(bytes.data()) + at;
    at += c.length;
    bool empty = true;
    if (c.type == 4)
      empty = float_out(v) == 0.0;
    else if (c.type == 5)
      empty = double_out(v) == 0.0;
    else
      for (std::size_t i = 0; i < c.length && empty; ++i) empty = v[i] == 0 || (IsText(c.type) && v[i] == ' ');
    if (empty) return false;
  }
  return true;
}

// The position of a 4-byte counter column, or -1.
int CounterColumn(const DdTableDesc &desc, const char *name) {
  for (std::size_t p : ColumnsNamed(desc, {name}))
    if (desc.columns[p].length == 4) return static_cast<int>(p);
  return -1;
}

}  // namespace

struct RefWork::Children {
  Target target;
  std::vector<std::size_t> parts;  // the child's referencing columns
  std::string ref_column;          // the parent column they reference
  std::string value;               // the referenced value, in the child's columns
  std::vector<TableRows::Found> rows;
};

RefWork::RefWork(DataPlane &plane, DriverSession *session, const DataContext &ctx)
    : plane_(plane), session_(session), ctx_(ctx) {}

std::uint32_t RefWork::Fail(std::uint32_t error, std::string text) {
  detail_ = std::move(text);
  return error;
}

void RefWork::Changed(const Target &t) {
  auto entry = std::make_pair(t.desc->name, static_cast<std::uint16_t>(t.logical));
  if (std::find(changed_.begin(), changed_.end(), entry) == changed_.end()) changed_.push_back(entry);
}

bool RefWork::Open(const std::string &table, int logical, Target *target) {
  int physical = ctx_.physical(table, logical);
  const DdTableDesc *desc = ctx_.catalog->Find(table, physical);
  if (desc == nullptr) {
    auto entry = std::make_pair(table, static_cast<std::uint16_t>(logical));
    if (std::find(missing_.begin(), missing_.end(), entry) == missing_.end()) missing_.push_back(entry);
    return false;
  }
  target->desc = desc;
  target->rows = &plane_.Rows(session_, *desc, physical);
  target->logical = logical;
  target->physical = physical;
  target->lock_key = SqliteTableName(table, physical);
  return true;
}

bool RefWork::InDatabase(const std::string &sqlite_table) const {
  sqlite3_stmt *stmt = nullptr;
  bool found = true;  // when the question fails, the dictionary is asked for
  if (sqlite3_prepare_v2(session_->db(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", -1,
                         &stmt, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, sqlite_table.c_str(), -1, SQLITE_TRANSIENT);
    found = sqlite3_step(stmt) == SQLITE_ROW;
  }
  sqlite3_finalize(stmt);
  return found;
}

std::uint32_t RefWork::Free(const Target &t, const std::uint8_t *row) const {
  std::string key = t.rows->KeyOf(row);
  if (!plane_.HeldAgainstWrite(session_->id(), t.lock_key, key, ctx_)) return 0;
  held_ = HeldRow{t.rows, t.lock_key, std::move(key)};
  return kLocked;
}

std::uint32_t RefWork::ParentOf(const Target &t, const DdReferenceDesc &ref, const std::uint8_t *row,
                                const std::uint8_t *other_row, ParentRow *found, bool *skip) {
  *skip = true;
  found->parts = Parts(*t.desc, ColumnOf(ref.column));
  if (found->parts.empty()) return 0;
  found->value = Pack(*t.desc, found->parts, row);
  if (other_row != nullptr && Pack(*t.desc, found->parts, other_row) == found->value) return 0;
  if (CheckMode(ref.mode) == kCheckIfFilled && !Filled(*t.desc, found->parts, found->value)) return 0;
  *skip = false;
  Target &parent = found->parent;
  if (!Open(TableOf(ref.ref_column), (ref.mode & kPhysical) ? t.physical : t.logical, &parent))
    return ZE_NO_DD;
  std::vector<std::size_t> parent_parts = Parts(*parent.desc, ColumnOf(ref.ref_column));
  if (parent_parts.empty())
    return Fail(kNoParentTable, "Parent table not found for reference " + ref.column);
  found->image.assign(parent.rows->image_length(), 0);
  Unpack(*parent.desc, parent_parts, found->image.data(), found->value);
  return Free(parent, found->image.data());
}

std::uint32_t RefWork::CheckParents(const Target &t, const std::uint8_t *old_row,
                                    const std::uint8_t *new_row, std::uint32_t flags,
                                    const std::string &ignored) {
  for (const DdReferenceDesc &ref : t.desc->references) {
    if (!TakesPart(ref.mode, flags) || SameName(ref.column, ignored) || CheckMode(ref.mode) == kNoCheck)
      continue;
    ParentRow found;
    bool skip = false;
    if (std::uint32_t rc = ParentOf(t, ref, new_row, old_row, &found, &skip)) return rc;
    if (skip) continue;
    Target &parent = found.parent;
    std::uint32_t rc =
        static_cast<std::uint32_t>(parent.rows->Find(parent.rows->KeyOf(found.image.data()), nullptr, nullptr));
    if (rc == kNoRecord)
      return Fail(kNoParent, "Reference does not exist: " + ref.column + "->" + ref.ref_column + " [" +
                                 KeyText(*t.desc, found.parts, found.value) + "]");
    if (rc != 0) return rc;
  }
  return 0;
}

std::uint32_t RefWork::Count(const Target &t, const std::uint8_t *row, int step, std::uint32_t flags,
                             const std::string &ignored, const std::uint8_t *other_row) {
  for (const DdReferenceDesc &ref : t.desc->references) {
    const bool deletes = DeleteMode(ref.mode) == kCounted, updates = UpdateMode(ref.mode) == kCounted;
    if ((!deletes && !updates) || !TakesPart(ref.mode, flags) || SameName(ref.column, ignored) ||
        CheckMode(ref.mode) == kNoCheck)
      continue;
    ParentRow found;
    bool skip = false;
    if (std::uint32_t rc = ParentOf(t, ref, row, other_row, &found, &skip)) return rc;
    if (skip) continue;
    Target &parent = found.parent;
    std::vector<std::uint8_t> &stored = found.image;
    sqlite3_int64 rowid = 0;
    std::uint32_t rc = static_cast<std::uint32_t>(
        parent.rows->Find(parent.rows->KeyOf(stored.data()), &stored, &rowid));
    // A parent that has gone needs no lower count.
    if (rc == kNoRecord && step < 0) continue;
    if (rc == kNoRecord)
      return Fail(kNoParent, "Reference does not exist: " + ref.column + "->" + ref.ref_column + " [" +
                                 KeyText(*t.desc, found.parts, found.value) + "]");
    if (rc != 0) return rc;
    for (auto [name, counted] : {std::make_pair("Refcntd", deletes), std::make_pair("Refcntu", updates)}) {
      if (!counted) continue;
      int column = CounterColumn(*parent.desc, name);
      if (column < 0) return Fail(kNoCounters, "No reference counter(s) in table " + parent.desc->name);
      std::uint8_t *p = stored.data() + parent.desc->columns[column].offset;
      StoreBig32(p, LoadBig32(p) + step);
    }
    if ((rc = static_cast<std::uint32_t>(parent.rows->Replace(rowid, stored.data()))) != 0) return rc;
    Changed(parent);
  }
  return 0;
}

std::uint32_t RefWork::FindChildren(const Target &t, const DdReferenceDesc &by, const std::uint8_t *row,
                                    std::size_t limit, std::vector<Children> *found) {
  // The child's companies of the parent's physical company and of every
  // logical company stored in it: a parent row shared by several logical
  // companies is referenced from each of them.
  const std::string child_table = TableOf(by.column);
  std::vector<int> companies;
  auto add = [&](int logical) {
    int company = ctx_.physical(child_table, logical);
    if (company >= 0 && company <= 999 &&
        std::find(companies.begin(), companies.end(), company) == companies.end())
      companies.push_back(company);
  };
  add(t.physical);
  if (ctx_.logicals)
    for (int logical : ctx_.logicals(t.desc->name, t.physical)) add(logical);
  for (int company : companies) {
    // A reference of the physical mode holds only inside one physical company.
    if ((by.mode & kPhysical) && company != t.physical) continue;
    Children children;
    if (std::uint32_t rc = FindChildrenIn(t, by, row, limit, company, &children)) return rc;
    if (children.rows.empty()) continue;
    found->push_back(std::move(children));
    if (limit != 0) break;
  }
  return 0;
}

std::uint32_t RefWork::FindChildrenIn(const Target &t, const DdReferenceDesc &by, const std::uint8_t *row,
                                      std::size_t limit, int company, Children *children) {
  const std::string child_table = TableOf(by.column);
  // A child table that is not in the database has no rows: its dictionary
  // is not asked for (it would make the table).
  if (ctx_.catalog->Find(child_table, ctx_.physical(child_table, company)) == nullptr &&
      !InDatabase(SqliteTableName(child_table, ctx_.physical(child_table, company))))
    return 0;
  if (!Open(child_table, company, &children->target)) return ZE_NO_DD;
  const Target &child = children->target;
  for (const DdReferenceDesc &ref : child.desc->references)
    if (SameName(ref.column, by.column)) children->ref_column = ref.ref_column;
  std::vector<std::size_t> parent_parts;
  if (!children->ref_column.empty()) {
    parent_parts = Parts(*t.desc, ColumnOf(children->ref_column));
  } else {
    // Without the child's own entry the reference leads to the key.
    for (const DdKeyDesc &k : t.desc->keys)
      if (k.index_nr == 1) parent_parts.assign(k.columns.begin(), k.columns.end());
    children->ref_column = t.desc->name;
  }
  children->parts = Parts(*child.desc, ColumnOf(by.column));
  if (parent_parts.empty() || children->parts.empty()) return 0;
  std::vector<std::uint8_t> probe(child.rows->image_length(), 0);
  Unpack(*child.desc, children->parts, probe.data(), Pack(*t.desc, parent_parts, row));
  children->value = Pack(*child.desc, children->parts, probe.data());
  int rc = child.rows->Matching(children->parts, probe.data(), limit, &children->rows);
  return rc == static_cast<int>(kNoTable) ? 0 : static_cast<std::uint32_t>(rc);
}

std::uint32_t RefWork::CheckChildren(const Target &t, const std::uint8_t *row, bool deleting,
                                     std::uint32_t flags, const std::string &ignored) {
  for (const DdReferenceDesc &by : t.desc->referenced_by) {
    int wanted = deleting ? DeleteMode(by.mode) : UpdateMode(by.mode);
    if (wanted != kRestricted || !TakesPart(by.mode, flags) || SameName(by.column, ignored)) continue;
    std::vector<Children> found;
    if (std::uint32_t rc = FindChildren(t, by, row, 1, &found)) return rc;
    if (!found.empty())
      return Fail(kStillReferenced, "There are still references for this table (" + by.column + "->" +
                                        found[0].ref_column + " ; " +
                                        KeyText(*found[0].target.desc, found[0].parts, found[0].value) + ")");
  }
  return 0;
}

std::uint32_t RefWork::DeleteChild(const Target &t, const TableRows::Found &row, std::uint32_t flags,
                                   const std::string &ignored, int depth) {
  const std::uint8_t *image = row.image.data();
  std::uint32_t rc = Free(t, image);
  if (rc == 0) rc = CheckChildren(t, image, true, flags, ignored);
  if (rc == 0) rc = static_cast<std::uint32_t>(t.rows->Delete(row.rowid));
  if (rc == 0) Changed(t);
  if (rc == 0) rc = Count(t, image, -1, flags, ignored, nullptr);
  if (rc == 0) rc = Cascade(t, image, nullptr, flags, ignored, depth);
  return rc;
}

std::uint32_t RefWork::UpdateChild(const Target &t, const TableRows::Found &row,
                                   const std::vector<std::uint8_t> &changed, std::uint32_t flags,
                                   const std::string &ignored, int depth) {
  const std::uint8_t *old_row = row.image.data(), *new_row = changed.data();
  const bool key_changed = t.rows->KeyOf(old_row) != t.rows->KeyOf(new_row);
  std::uint32_t rc = Free(t, old_row);
  if (rc == 0) rc = CheckParents(t, old_row, new_row, flags, ignored);
  if (rc == 0 && key_changed) rc = CheckChildren(t, old_row, false, flags, ignored);
  if (rc == 0) rc = static_cast<std::uint32_t>(t.rows->Replace(row.rowid, new_row));
  if (rc == 0) Changed(t);
  if (rc == 0) rc = Count(t, old_row, -1, flags, ignored, new_row);
  if (rc == 0) rc = Count(t, new_row, 1, flags, ignored, old_row);
  if (rc == 0 && key_changed) rc = Cascade(t, old_row, new_row, flags, ignored, depth);
  return rc;
}

std::uint32_t RefWork::Cascade(const Target &t, const std::uint8_t *old_row, const std::uint8_t *new_row,
                               std::uint32_t flags, const std::string &ignored, int depth) {
  if (depth >= kMaxDepth)
    return Fail(ZE_ILLEGAL_STATE, "cascade deeper than " + std::to_string(kMaxDepth) + " rows");
  const bool deleting = new_row == nullptr;
  std::int32_t emptied_counted = 0;
  for (const DdReferenceDesc &by : t.desc->referenced_by) {
    int wanted = deleting ? DeleteMode(by.mode) : UpdateMode(by.mode);
    if ((wanted != kCascade && wanted != kNullify) || !TakesPart(by.mode, flags) ||
        SameName(by.column, ignored))
      continue;
    std::vector<Children> found;
    if (std::uint32_t rc = FindChildren(t, by, old_row, 0, &found)) return rc;
    for (const Children &children : found) {
      const Target &child = children.target;
      std::string new_value;
      if (!deleting && wanted == kCascade) {
        std::vector<std::uint8_t> probe(child.rows->image_length(), 0);
        std::vector<std::size_t> parent_parts = Parts(*t.desc, ColumnOf(children.ref_column));
        Unpack(*child.desc, children.parts, probe.data(), Pack(*t.desc, parent_parts, new_row));
        new_value = Pack(*child.desc, children.parts, probe.data());
      }
      for (const TableRows::Found &row : children.rows) {
        std::uint32_t rc;
        if (deleting && wanted == kCascade) {
          rc = DeleteChild(child, row, flags, by.column, depth + 1);
        } else {
          std::vector<std::uint8_t> changed = row.image;
          if (wanted == kCascade)
            Unpack(*child.desc, children.parts, changed.data(), new_value);
          else
            Empty(*child.desc, children.parts, changed.data());
          rc = UpdateChild(child, row, changed, flags, by.column, depth + 1);
        }
        if (rc != 0) return rc;
      }
      if (!deleting && wanted == kNullify && DeleteMode(by.mode) == kCounted)
        emptied_counted += static_cast<std::int32_t>(children.rows.size());
    }
  }
  if (emptied_counted == 0) return 0;
  // Children emptied through a counted reference no longer count: the
  // row's own delete counter goes down by them.
  int column = CounterColumn(*t.desc, "Refcntd");
  if (column < 0) return Fail(kNoCounters, "No reference counter(s) in table " + t.desc->name);
  std::vector<std::uint8_t> stored;
  sqlite3_int64 rowid = 0;
  std::uint32_t rc = static_cast<std::uint32_t>(t.rows->Find(t.rows->KeyOf(new_row), &stored, &rowid));
  if (rc != 0) return rc;
  std::uint8_t *p = stored.data() + t.desc->columns[column].offset;
  StoreBig32(p, LoadBig32(p) - emptied_counted);
  return static_cast<std::uint32_t>(t.rows->Replace(rowid, stored.data()));
}

std::uint32_t RefWork::Before(const Target &t, const std::uint8_t *old_row, const std::uint8_t *new_row,
                              std::uint32_t flags) {
  if (!ctx_.references) return 0;
  if (new_row != nullptr && (flags & kHostServerCounts)) {
    if (std::uint32_t rc = CheckParents(t, old_row, new_row, flags, {})) return rc;
  }
  const bool deleting = new_row == nullptr;
  if (old_row == nullptr || !(flags & kHostServerChecks)) return 0;
  if (!deleting && t.rows->KeyOf(old_row) == t.rows->KeyOf(new_row)) return 0;
  // The row stays locked for the session while its children are looked up.
  if (std::uint32_t rc = Free(t, old_row)) return rc;
  plane_.Hold(plane_.row_locks_, t.lock_key + '\0' + t.rows->KeyOf(old_row), session_->id());
  return CheckChildren(t, old_row, deleting, flags, {});
}

std::uint32_t RefWork::After(const Target &t, const std::uint8_t *old_row, const std::uint8_t *new_row,
                             std::uint32_t flags, bool cascades) {
  if (!ctx_.references) return 0;
  if (flags & kHostServerCounts) {
    if (old_row != nullptr) {
      if (std::uint32_t rc = Count(t, old_row, -1, flags, {}, new_row)) return rc;
    }
    if (new_row != nullptr) {
      if (std::uint32_t rc = Count(t, new_row, 1, flags, {}, old_row)) return rc;
    }
  }
  if (!cascades || old_row == nullptr) return 0;
  if (new_row != nullptr && t.rows->KeyOf(old_row) == t.rows->KeyOf(new_row)) return 0;
  return Cascade(t, old_row, new_row, flags, {}, 0);
}

std::uint32_t RefWork::WholeTable(const Target &t, std::uint32_t flags) {
  if (!ctx_.references) return 0;
  std::vector<TableRows::Found> rows;
  int found = t.rows->Matching({}, nullptr, 0, &rows);
  if (found == static_cast<int>(kNoTable)) return 0;
  if (found != 0) return static_cast<std::uint32_t>(found);
  for (TableRows::Found &row : rows) {
    // A cascade of an earlier row may have taken this one already.
    if (t.rows->has_key() && t.rows->Find(t.rows->KeyOf(row.image.data()), &row.image, &row.rowid) != 0)
      continue;
    const std::uint8_t *image = row.image.data();
    std::uint32_t rc = Free(t, image);
    if (rc == 0 && (flags & kHostServerChecks)) rc = CheckChildren(t, image, true, flags, {});
    if (rc == 0) rc = static_cast<std::uint32_t>(t.rows->Delete(row.rowid));
    if (rc == 0 && (flags & kHostServerCounts)) rc = Count(t, image, -1, flags, {}, nullptr);
    if (rc == 0) rc = Cascade(t, image, nullptr, flags, {}, 0);
    if (rc != 0) return rc;
  }
  return 0;
}

std::uint32_t RefWork::Referenced(const Target &t, const std::uint8_t *row, std::uint32_t argument) {
  if (!ctx_.references || argument < 3 || argument > 8) return 0;
  const bool deleting = argument % 2 == 1;
  int counter = CounterColumn(*t.desc, deleting ? "Refcntd" : "Refcntu");
  if (counter >= 0 && LoadBig32(row + t.desc->columns[counter].offset) > 0)
    return Fail(kStillReferenced, "counted references");
  if (argument == 5 || argument == 6) return 0;
  for (const DdReferenceDesc &by : t.desc->referenced_by) {
    int wanted = deleting ? DeleteMode(by.mode) : UpdateMode(by.mode);
    // 3 and 4 ask for the restricting children, 7 and 8 for any child.
    if ((by.mode & kConditional) || (argument <= 4 && wanted != kRestricted)) continue;
    std::vector<Children> found;
    if (std::uint32_t rc = FindChildren(t, by, row, 1, &found)) return rc;
    if (!found.empty()) return Fail(kStillReferenced, by.column);
  }
  return 0;
}

std::uint32_t RefWork::LostParent(const Target &t, const std::uint8_t *row) {
  bool down = false, other = false;
  for (const char *name : {"Refcntd", "Refcntu"}) {
    int column = CounterColumn(*t.desc, name);
    if (column < 0) continue;
    std::int32_t code = LoadBig32(row + t.desc->columns[column].offset);
    if (code < 0 && code % 2 == 0) down = true;
    else if (code != 0) other = true;
  }
  if (down && !other) return 0;
  return kNoParent;
}

}  // namespace molvane::driver
