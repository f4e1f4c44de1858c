// Table definitions: which database drivers serve a table in a company.
//
// The file lib/tabledef<release> under the environment root (or one driver
// list given at logon through specify_server) maps table-name patterns and
// company lists to driver lists. A driver list is a chain of driver groups
// (copies of the table, separated by "&" in the file); each group is a chain
// of alternatives (separated by "|"), offered in order until one attaches.
//
// Every record here lives for the whole process: server records are shared
// between all entries that name the same driver, so that each driver is
// attached once.
#pragma once

#include <cstdint>

// Driver types: the low 6 bits of a server record's type word (octal).
constexpr uint32_t kDriverTypeMask = 077;
constexpr uint32_t kDriverTypeAudit = 010;
constexpr uint32_t kDriverTypeDatabase = 020;
constexpr uint32_t kDriverTypeHost = 040;  // a host whose own table definitions are included

constexpr uint32_t kServerRemote = 0x40;          // the name carries a host: host!driver
constexpr uint32_t kServerReadDriver = 0x200;     // the element ended in "+"
constexpr uint32_t kServerIncludeFailed = 0x400;  // an included file could not be opened
constexpr uint32_t kServerIncludeElsewhere = 0x800;  // ... being on a host that is not this machine

// Most driver groups (copies) a table may have in one company.
constexpr int kMaxDriverGroups = 10;

struct TD_FILE;

// One distinct driver (or included host), kept in the global server list.
struct SERVER_REC {
  uint32_t type;      // driver type and the kServer* flags
  char *name;         // driver name, "host!driver" for a driver on another host
  char *args;         // argument text: quotes removed, separating commas as byte 0x01
  TD_FILE *included;  // type 040: the host's table definitions, once read
  SERVER_REC *next;   // next record of the global list (newest first)
};

// One node of a driver list.
struct DRIVER_SPEC {
  SERVER_REC *server;
  DRIVER_SPEC *next_group;  // first alternative of the next copy ("&")
  DRIVER_SPEC *next_alt;    // next alternative in the same group ("|")
};

// The driver groups that serve one table in one company, in the order in
// which they are offered.
struct TABLEDEF {
  uint16_t nr_server;
  DRIVER_SPEC *server[kMaxDriverGroups];
};

// Makes the given driver list serve every table and company; the
// table-definition file is then never read. 0, or -1 (a second call changes
// nothing; a list that cannot be parsed leaves zdb_errno set).
int specify_server(const char *spec);

// Fills `result` with the driver groups of a table in a company.
// 0, or -1 with zdb_errno 505 (no file, no entry, too many groups) or 501.
int client_get_tabledef(const char *table, int compnr, TABLEDEF *result);

// The read driver group of a table in a company: the last group whose first
// server is a read driver, else the first group whose first server is not an
// audit driver; null with zdb_errno 505 when there is none.
DRIVER_SPEC *read_driver_for_table(const char *table, int compnr);

// The first server of read_driver_for_table's group, or null.
SERVER_REC *get_dbc_read_driver(const char *table, int compnr);

// 1 when `server` is an audit driver or stands in the driver list of any
// entry for the table (any company, included files searched), else 0.
int table_in_driver(const char *table, const SERVER_REC *server);

// The read driver group shared by every entry of the table, or null when the
// entries name different read drivers.
DRIVER_SPEC *table_fixed_driver(const char *table);

// 0 when two driver groups hold, position by position, servers with equal
// name, argument text and read-driver flag, and have the same length; else 1.
int compare_single_spec(const DRIVER_SPEC *a, const DRIVER_SPEC *b);

// The type word of the server of a driver specification.
uint32_t server_zdb_type(const DRIVER_SPEC *spec);

// Switches audit drivers off for the process.
void zdb_disable_audit();
bool zdb_audit_disabled();

// The audit host of a company (else the default host, else none: host[0] = 0).
// Reads lib/audit_hosts on first use. 0, or -1 when the file is malformed.
int auditcols_get_audit_host(int compnr, char *host, int host_size);

// The hosts of the table's audit drivers joined by ",", "localhost" for an
// audit driver without host. 0, or -1 when the buffer is too small or the
// table has no drivers.
int get_audit_hosts(const char *table, int compnr, char *buffer, int buffer_size);

// Writes the global server list to standard error.
void dump_server_list();
