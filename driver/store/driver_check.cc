#include "store/driver_check.h"

#include <sqlite3.h>

#include "store/driver_dd.h"
#include "sqlite/sqlite_functions.h"

namespace molvane::driver {

int CheckDatabase(const std::string &path, std::FILE *out, std::FILE *err) {
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      !InstallTssCollation(db)) {
    std::fprintf(err, "molvane-driver: cannot open '%s': %s\n", path.c_str(),
                 db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return 2;
  }
  const int served = ServedModes(db);
  if (served < 0) {
    std::fprintf(err, "molvane-driver: cannot read '%s': %s\n", path.c_str(), sqlite3_errmsg(db));
    sqlite3_close(db);
    return 2;
  }
  std::fprintf(out, "TSS modes served:%s%s%s\n", (served & kServesMode1) != 0 ? " 1" : "",
               (served & kServesMode2) != 0 ? " 2" : "", (served & (kServesMode1 | kServesMode2)) == 0 ? " none" : "");
  int status = 2;
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
    status = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      const char *line = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
      std::string text = line != nullptr ? line : "";
      std::fprintf(out, "%s\n", text.c_str());
      if (text != "ok") status = 1;
    }
    if (rc != SQLITE_DONE) status = 2;
  }
  if (status == 2) std::fprintf(err, "molvane-driver: cannot check '%s': %s\n", path.c_str(), sqlite3_errmsg(db));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return status;
}

}  // namespace molvane::driver
