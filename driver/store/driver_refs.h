// The reference work the driver does when parent and child tables share it:
// the client then leaves it here, telling so in the host flags of each
// record (0x200000: the parents of the row's references are this driver's
// to check and count; 0x100000: the restricting children are this driver's
// to look up) and in the record kinds (6 a delete with its cascades, 7 an
// update with its key cascades, 9 and 10 a whole table cleared or dropped).
//
// References come from the dictionaries the client sends: a table's own
// references (column, parent column, mode) and the entries of the tables
// that reference it (child column, mode). A table whose dictionary the
// connection lacks is noted, and the request is answered with 513 and the
// list of them; the client sends them and repeats.
//
// Every row the work reaches is checked against the other sessions' locks
// (107) and changed inside the session's transaction, so that it goes with
// the batch that caused it. The results are what the client gives when it
// does the same work across two drivers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "store/driver_dd.h"
#include "store/driver_rows.h"

namespace molvane::driver {

class DataPlane;
class DriverSession;
struct DataContext;

// Host flags the reference work reads.
inline constexpr std::uint32_t kHostConditional = 0x10000;
inline constexpr std::uint32_t kHostServerChecks = 0x100000;
inline constexpr std::uint32_t kHostServerCounts = 0x200000;

class RefWork {
 public:
  RefWork(DataPlane &plane, DriverSession *session, const DataContext &ctx);

  // A table in a logical company as the work sees it.
  struct Target {
    const DdTableDesc *desc = nullptr;
    TableRows *rows = nullptr;
    int logical = 0;
    int physical = 0;
    std::string lock_key;  // the table part of the lock keys
  };
  // The table; false (the table noted as missing) without its dictionary.
  bool Open(const std::string &table, int logical, Target *target);

  // The work around one change of a row of `t`: before it (parents exist,
  // no restricting child) and after it (counters, cascades). `old_row` is
  // null for an insert, `new_row` null for a delete. `cascades` asks for the
  // children's cascades (kinds 6 and 7). Each returns 0 or an error number,
  // with its text in detail().
  std::uint32_t Before(const Target &t, const std::uint8_t *old_row, const std::uint8_t *new_row,
                       std::uint32_t flags);
  std::uint32_t After(const Target &t, const std::uint8_t *old_row, const std::uint8_t *new_row,
                      std::uint32_t flags, bool cascades);
  // Every row of the table goes with its reference work (kinds 9 and 10),
  // before the table is cleared or dropped.
  std::uint32_t WholeTable(const Target &t, std::uint32_t flags);
  // The answer of a keyed read with argument 3 to 8 on a stored row: 605
  // when it is referenced as the argument asks, else 0.
  std::uint32_t Referenced(const Target &t, const std::uint8_t *row, std::uint32_t argument);
  // A counter change (kind 5) whose parent row is not there: 0 when it only
  // lowers counters (a parent that has gone needs no lower count), else 606.
  std::uint32_t LostParent(const Target &t, const std::uint8_t *row);

  const std::string &detail() const { return detail_; }
  // The row another session held when the work was refused with 107: its
  // table's rows (null when none was), lock key and key, so that the
  // refusal names the row and its holder.
  struct HeldRow {
    const TableRows *rows = nullptr;
    std::string table_key;
    std::string key;
  };
  const HeldRow &held() const { return held_; }
  const std::vector<std::pair<std::string, std::uint16_t>> &missing() const { return missing_; }
  // The tables (name, logical company) whose rows the work changed.
  const std::vector<std::pair<std::string, std::uint16_t>> &changed() const { return changed_; }

 private:
  struct Children;
  // The parent row one reference of `row` names: the reference's key parts
  // in the child, the key value, the parent table and a parent image that
  // holds the key.
  struct ParentRow {
    std::vector<std::size_t> parts;
    std::string value;
    Target parent;
    std::vector<std::uint8_t> image;
  };
  // Fills *found for `ref` and checks the parent row is free. Returns 0 with
  // *skip set when the reference needs no parent: no key column, the key as
  // in `other_row` (when given), or an empty key where only filled keys count.
  std::uint32_t ParentOf(const Target &t, const DdReferenceDesc &ref, const std::uint8_t *row,
                         const std::uint8_t *other_row, ParentRow *found, bool *skip);
  std::uint32_t CheckParents(const Target &t, const std::uint8_t *old_row,
                             const std::uint8_t *new_row, std::uint32_t flags,
                             const std::string &ignored);
  std::uint32_t Count(const Target &t, const std::uint8_t *row, int step, std::uint32_t flags,
                      const std::string &ignored, const std::uint8_t *other_row);
  std::uint32_t CheckChildren(const Target &t, const std::uint8_t *row, bool deleting,
                              std::uint32_t flags, const std::string &ignored);
  std::uint32_t Cascade(const Target &t, const std::uint8_t *old_row, const std::uint8_t *new_row,
                        std::uint32_t flags, const std::string &ignored, int depth);
  // The children of one entry of the tables referencing `t`, one set per
  // child company that holds some; `limit` rows at most per company, and
  // with a limit only the first company that has any.
  std::uint32_t FindChildren(const Target &t, const DdReferenceDesc &by, const std::uint8_t *row,
                             std::size_t limit, std::vector<Children> *found);
  std::uint32_t FindChildrenIn(const Target &t, const DdReferenceDesc &by, const std::uint8_t *row,
                               std::size_t limit, int company, Children *children);
  // A child row deleted or changed by a cascade, with its own reference work.
  std::uint32_t DeleteChild(const Target &t, const TableRows::Found &row, std::uint32_t flags,
                            const std::string &ignored, int depth);
  std::uint32_t UpdateChild(const Target &t, const TableRows::Found &row,
                            const std::vector<std::uint8_t> &changed, std::uint32_t flags,
                            const std::string &ignored, int depth);
  // True when the database holds the SQLite table.
  bool InDatabase(const std::string &sqlite_table) const;
  // 107 when another session holds the row or its table.
  std::uint32_t Free(const Target &t, const std::uint8_t *row) const;
  std::uint32_t Fail(std::uint32_t error, std::string text);
  // Notes that rows of the table were changed.
  void Changed(const Target &t);

  DataPlane &plane_;
  DriverSession *session_;
  const DataContext &ctx_;
  std::string detail_;
  mutable HeldRow held_;  // noted by Free
  std::vector<std::pair<std::string, std::uint16_t>> missing_;
  std::vector<std::pair<std::string, std::uint16_t>> changed_;
};

}  // namespace molvane::driver
