// The table dictionaries a driver connection holds: each DD_INFO_TABLE
// description the client sends is kept per table and physical company and
// turned into a SQLite table "<table><compnr %03d>" with one SQLite column
// per stored column (an array column gives one per element, "<name>_<n>"),
// and one SQLite index per key ("<table><compnr>_i<index>"; index 1, and
// every index without duplicates, unique). A request on a table the
// connection holds no dictionary for is answered with 513 and the list of
// tables it needs.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/driver_wire.h"

namespace molvane::driver {

struct DdColumnDesc {
  std::string name;      // without the table prefix
  std::uint16_t length;  // depth x element length
  std::uint16_t offset;
  std::uint8_t type;
  std::uint8_t flags;
  std::uint8_t depth;
  std::uint8_t domain[2];
  bool operator==(const DdColumnDesc &) const = default;
};

struct DdKeyDesc {
  std::uint8_t index_nr;
  std::uint8_t duplicates;  // 1 when the index allows duplicate keys
  std::uint8_t a_digit;
  std::vector<std::uint16_t> columns;  // positions in the column list
  bool operator==(const DdKeyDesc &) const = default;
};

struct DdReferenceDesc {
  std::string column;      // referencing column (tttttttt.cccccccc)
  std::string ref_column;  // referenced column; empty for a referenced-by entry
  std::uint16_t mode;
  bool operator==(const DdReferenceDesc &) const = default;
};

// One table's description as DD_INFO_TABLE carries it.
struct DdTableDesc {
  std::string name;  // 8 characters, as the client names the table
  std::uint16_t compnr = 0;
  std::uint16_t reference_kinds = 0;
  std::vector<DdColumnDesc> columns;  // in row-offset order
  std::vector<std::pair<std::string, std::vector<std::uint16_t>>> combined;
  std::vector<DdKeyDesc> keys;
  std::vector<std::uint16_t> groups;  // the group-list words
  std::vector<DdReferenceDesc> referenced_by;
  std::vector<DdReferenceDesc> references;
  // Set by the catalog that keeps the description: a number no other
  // description of the process had, so that an object built from a
  // description can tell that it was replaced.
  std::uint64_t generation = 0;
  bool operator==(const DdTableDesc &) const = default;
};

// Bytes of one element of a number column of the dictionary's type byte;
// 0 for texts, raw and other byte columns.
std::size_t DdNumberWidth(std::uint8_t type);

// Reads a description (after the request code and the session id);
// Malformed on a count, position or text beyond its bound.
DdTableDesc ReadTableDesc(WireReader &in);

// The SQLite table name of a table in a physical company.
std::string SqliteTableName(const std::string &table, int physical);
// The statements that create the table and its indexes (IF NOT EXISTS):
// each key's index (text columns in the order of mode 1), and for `mode` 2
// (0: the driver's, CollationMode) a second index of each key with a text
// column, "<table><compnr>_c2_<index>", in the order of mode 2.
std::vector<std::string> TableStatements(const DdTableDesc &desc, int physical, int mode = 0);

// The bits of a database file's user_version that say which TSS modes'
// hosts it serves.
inline constexpr int kServesMode1 = 1;
inline constexpr int kServesMode2 = 2;

// The modes a database file records that it serves (kServesMode1|2 bits);
// -1 when the file cannot be read.
int ServedModes(sqlite3 *db);

// Readies a database file for a driver of `mode`: drops the collated indexes
// of older drivers, whose order was that of the process that wrote them
// (each table's are made again in a named order at its first use), and
// records the mode in the file's user_version. False with the error text
// when SQLite refuses (the file is then used as it is).
bool PrepareDatabaseFile(sqlite3 *db, int mode, std::string *error);

// The storage layout of a description as one text: its columns (name,
// offset, length, type, depth) and keys (number, duplicates, columns).
// Two descriptions store rows alike exactly when their layouts are equal.
std::string DdLayout(const DdTableDesc &desc);
// What tells layout `mine` (of this host's dictionary) from `theirs` (the
// table's in the database), as "this host's dictionary has column floor
// after code; the database's table has none"; empty when they are equal.
std::string DdLayoutDifference(const std::string &mine, const std::string &theirs);

// Packed column values (each at its column's length, one after the other)
// as text, "a, b", for the error texts: numbers in decimal, texts without
// their trailing blanks, other bytes in hex.
std::string KeyText(const DdTableDesc &desc, const std::vector<std::size_t> &parts,
                    const std::string &bytes);

// The dictionaries of a driver's connections, by table name and physical
// company. A table has one layout: the one recorded beside it in the
// database file (table "molvane_table_layout") when a driver first created
// or checked it. A description is never changed once kept; one that
// replaces it gets a new generation.
class DdCatalog {
 public:
  // The description kept for the table; with a holder, only when that
  // holder sent it (each connection of a server sends its own).
  const DdTableDesc *Find(const std::string &table, int physical, const void *holder = nullptr) const;
  // Keeps the description for `holder` and creates its table in the
  // database. A description whose layout differs from the table's in the
  // database or from the one kept is refused before anything changes: false
  // with *refused set and an error naming the table and the difference. A
  // description of the same layout that differs otherwise replaces the one
  // kept. False with an error text when SQLite refuses a statement. With
  // `make` false the description is checked and kept, and the database is
  // not written (Recreate makes the table later).
  bool Add(sqlite3 *db, DdTableDesc desc, int physical, std::string *error,
           const void *holder = nullptr, bool *refused = nullptr, bool make = true);
  // The holder is gone: it no longer holds what it sent.
  void Forget(const void *holder);
  // Creates a kept table and its indexes again where they are missing: the
  // write transaction they were created in was rolled back, or they were
  // kept without being made. False (logged) when SQLite refused.
  bool Recreate(sqlite3 *db, const std::string &table, int physical) const;

 private:
  struct Entry {
    DdTableDesc desc;
    std::string layout;
    std::set<const void *> holders;
  };
  std::map<std::pair<std::string, int>, Entry> tables_;
};

// A dictionary list of a 513 reply: a count, then per entry the 8-byte name
// (blank-padded) and the company number.
void WriteDdList(WireWriter &out, const std::vector<std::pair<std::string, std::uint16_t>> &tables);

}  // namespace molvane::driver
