/* api_messages: every failure a host meets says why through the exported
 * calls alone. Built against the installed headers and library, with no
 * error callback and no log hook, it provokes failures of the record and
 * SQL APIs and checks that each leaves its number in zdb_errno and the
 * words of its cause in get_zdb_msg().
 *
 *   api_messages ROOT super|clerk|causes|named
 *
 * ROOT is the environment root that run_api_messages.sh lays out (the table
 * mybok010 of docs/first-table.md). "clerk" runs as a user whose roles only
 * read mybok010 (and in company 4 insert rows whose id is above 100), and
 * whose db_roles name a role "gone" that has no file. "causes" runs in a
 * root whose drivers cannot serve (sql_causes); "named" logs on as "nc"
 * while ZUV_USER is "me". Prints
 * one line per check and ends with status 1 when one failed. Where the text
 * is what the check is about, the whole message is compared; each call's
 * message is its own, so a successful call leaves it empty. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <molvane/dd.h>
#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_domain.h>
#include <molvane/zdb_errors.h>

static int failures;

/* Checks that the last call failed (`failed` non-zero) with `number` and
 * that its message holds `words`. */
static void expect(const char *what, int failed, int number, const char *words) {
  const char *msg = get_zdb_msg();
  if (msg == NULL) msg = "";
  if (failed && zdb_errno == number && strstr(msg, words) != NULL) {
    printf("ok   %s: %d %s\n", what, zdb_errno, msg);
    return;
  }
  printf("FAIL %s: %s, error %d (expected %d), message \"%s\" (expected to hold \"%s\")\n", what,
         failed ? "failed" : "succeeded", zdb_errno, number, msg, words);
  ++failures;
}

/* The same, for a message that must be exactly `text`. */
static void expect_text(const char *what, int failed, int number, const char *text) {
  const char *msg = get_zdb_msg();
  if (msg == NULL) msg = "(null)";
  if (failed && zdb_errno == number && strcmp(msg, text) == 0) {
    printf("ok   %s: %d %s\n", what, zdb_errno, msg);
    return;
  }
  printf("FAIL %s: %s, error %d (expected %d), message \"%s\" (expected \"%s\")\n", what,
         failed ? "failed" : "succeeded", zdb_errno, number, msg, text);
  ++failures;
}

/* Checks that the last call succeeded (`ok` non-zero) and left no message. */
static void expect_clean(const char *what, int ok) {
  const char *msg = get_zdb_msg();
  if (ok && msg != NULL && msg[0] == '\0') {
    printf("ok   %s: no message\n", what);
    return;
  }
  printf("FAIL %s: %s, error %d, message \"%s\" (expected none)\n", what,
         ok ? "succeeded" : "failed", zdb_errno, msg != NULL ? msg : "(null)");
  ++failures;
}

static int32_t id;
static char title[30];
static double price;

static void bind(ZDB_HOST_BIND *b, void *address, unsigned short length, const char *column,
                 unsigned short type) {
  memset(b, 0, sizeof *b);
  b->address = address;
  b->length = length;
  b->depth = 1;
  strncpy(b->column, column, sizeof b->column);
  b->type = type;
}

static void set_title(const char *text) {
  size_t n = strlen(text);
  memset(title, ' ', sizeof title);
  memcpy(title, text, n < sizeof title ? n : sizeof title);
}

/* zdb_open refuses binds with the bind, its column and the reason. */
static ZDB_CURSOR *open_books(int trans) {
  ZDB_HOST_BIND binds[3];
  ZDB_CURSOR *cursor = NULL;
  bind(&binds[0], &id, sizeof id, "mybok010.id", ZDB_BIND_LONG);
  bind(&binds[1], title, sizeof title, "mybok010.titel", ZDB_BIND_STRING);
  bind(&binds[2], &price, sizeof price, "mybok010.price", ZDB_BIND_DOUBLE);
  expect("bind of a misspelt column", zdb_open(&cursor, "mybok010", 1, binds, 3, trans) != 0,
         ZE_BAD_COLUMN, "Invalid column 'mybok010.titel' in bind 2: no such column in the dictionary");
  bind(&binds[1], title, sizeof title, "title", ZDB_BIND_STRING);
  expect("bind of a bare column name", zdb_open(&cursor, "mybok010", 1, binds, 3, trans) != 0,
         ZE_BAD_COLUMN, "Invalid column 'title' in bind 2: a bind names its column in full");
  bind(&binds[1], &price, sizeof price, "mybok010.title", ZDB_BIND_DOUBLE);
  expect("bind of a type that does not fit", zdb_open(&cursor, "mybok010", 1, binds, 3, trans) != 0,
         ZE_BAD_COLUMN,
         "Invalid column 'mybok010.title' in bind 2: a variable of type 5 (double) does not fit a "
         "column of type 6 (string)");
  bind(&binds[1], title, sizeof title, "mybok010.title", ZDB_BIND_STRING);
  binds[2].address = NULL;
  expect("bind without a variable", zdb_open(&cursor, "mybok010", 1, binds, 3, trans) != 0,
         ZE_NULL_VARIABLE, "Bind 3 (column 'mybok010.price') has no variable address");
  binds[2].address = &price;
  expect("table not in the dictionary", zdb_open(&cursor, "mybok999", 1, binds, 3, trans) != 0,
         ZE_NO_DD, "Table mybok999 not found in data dictionary");
  expect_text("default company outside 0-999",
              zdb_open(&cursor, "mybok010", 1000, binds, 3, trans) != 0, ZE_ILLEGAL_COMPNR,
              "Illegal company number 1000 for mybok010: a company number lies from 0 to 999 (-1 "
              "for none)");
  expect_text("transaction id not in use", zdb_open(&cursor, "mybok010", 1, binds, 3, 77) != 0,
              ZE_INVALID_SESSION,
              "Invalid transaction id 77 specified: it is not in use (never started, or stopped "
              "already); use an id that zdb_start_session returned");
  if (zdb_open(&cursor, "mybok010", 1, binds, 3, trans) != 0) {
    expect("open", 0, 0, "");
    return NULL;
  }
  expect_clean("open after failed opens", 1);
  return cursor;
}

/* A row that one transaction of the program read with a lock is refused
 * to its other transaction, for a locked read and for lock_table, at once
 * and with the holder named. */
static void locks(ZDB_CURSOR *cursor, int trans) {
  ZDB_CURSOR *other_cursor = NULL;
  ZDB_HOST_BIND b;
  int other = zdb_start_session("other");
  bind(&b, &id, sizeof id, "mybok010.id", ZDB_BIND_LONG);
  if (other == 0 || zdb_open(&other_cursor, "mybok010", 1, &b, 1, other) != 0) {
    expect("second transaction", 0, 0, "");
    return;
  }
  id = 2;
  if (zdb_exec_row(cursor, db_eq_locked, 0, 0xFFFF) != 0) expect("locked read of id 2", 0, 0, "");
  expect_text("locked read of a row another transaction holds",
              zdb_exec_row(other_cursor, db_eq_locked, 0, 0xFFFF) != 0, ZE_LOCKED,
              "Record is locked: db_eq(locked) of mybok010001, key id = 2, was refused at once: "
              "session 1 (\"messages\") of this host holds the row (a program's "
              "transactions do not wait for each other); commit or abort that transaction first");
  expect_text("lock_table of a table another transaction holds a row of",
              zdb_exec_table(other_cursor, lock_table, NULL, 0xFFFF) != 0, ZE_LOCKED,
              "Record is locked: lock_table of mybok010001 was refused at once: session 1 "
              "(\"messages\") of this host holds a row of it or the table (a program's "
              "transactions do not wait for each other); commit or abort that transaction first");
  zdb_exec_db(abort_trans, trans);
  zdb_close(other_cursor);
  zdb_exec_db(abort_trans, other);
  zdb_stop_session(other);
}

/* Rows, the end of a read loop, and the domain check's text. */
static void records(ZDB_CURSOR *cursor, int trans) {
  int rows = 0;
  const char *failing;
  unsigned char row[64];
  if (zdb_exec_table(cursor, create_table, NULL, 0xFFFF) != 0) expect("create_table", 0, 0, "");
  for (id = 1; id <= 2; ++id) {
    set_title(id == 1 ? "Dubliners" : "Ulysses");
    price = 10.0 + id;
    if (zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0) expect("insert", 0, 0, "");
  }
  if (zdb_exec_db(commit_trans, trans) != 0) expect("commit", 0, 0, "");
  if (zdb_exec_row(cursor, db_first, 0, 0xFFFF) == 0)
    do ++rows; while (zdb_exec_row(cursor, db_next, 0, 0xFFFF) == 0);
  expect("db_next past the last row", rows == 2, ZE_END_OF_FILE, "");
  id = 99;
  expect("read of a key no row has", zdb_exec_row(cursor, db_eq, 0, 0xFFFF) != 0, ZE_NO_RECORD,
         "No record found in mybok010001 (db_eq on index 1, key id = 99)");
  expect_text("update without a current row", zdb_exec_row(cursor, db_update, 0, 0xFFFF) != 0,
              ZE_NO_CURRENT,
              "No current record in mybok010001: db_update needs a current row; read a row first");
  id = 1;
  if (zdb_exec_row(cursor, db_eq, 0, 0xFFFF) != 0) expect("read of id 1", 0, 0, "");
  expect_text("update of a row read without a lock",
              zdb_exec_row(cursor, db_update, 0, 0xFFFF) != 0, ZE_NOT_LOCKED,
              "Record not locked in mybok010001: db_update needs the current row read with a lock "
              "(db_eq_locked, db_curr_locked, ...) or the table locked (lock_table)");
  expect_text("duplicate key", zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0, ZE_DUPLICATE_VALUE,
              "Duplicate key id = 1 in mybok010001 (index 1)");
  /* The titles are unique too (index 2): the message names the index whose
   * key another row holds, also for an update that keeps its id. */
  id = 3;
  expect_text("duplicate title", zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0,
              ZE_DUPLICATE_VALUE, "Duplicate key title = Dubliners in mybok010001 (index 2)");
  id = 2;
  if (zdb_exec_row(cursor, db_eq_locked, 0, 0xFFFF) != 0) expect("locked read of id 2", 0, 0, "");
  set_title("Dubliners");
  expect_text("update to a title another row has", zdb_exec_row(cursor, db_update, 0, 0xFFFF) != 0,
              ZE_DUPLICATE_VALUE, "Duplicate key title = Dubliners in mybok010001 (index 2)");
  zdb_exec_db(abort_trans, trans);
  locks(cursor, trans);
  expect_text("nr_rows without a place for the count",
              zdb_exec_table(cursor, nr_rows, NULL, 0xFFFF) != 0, ZE_ILLEGAL_ARGUMENT,
              "Illegal argument: nr_rows on mybok010 has no place for the count (a null "
              "argument); pass the address of an int, which receives the number of rows");
  id = 1;
  if (zdb_exec_row(cursor, db_eq, 0, 0xFFFF) != 0) expect("read of id 1", 0, 0, "");
  expect_text("row action that does not exist", zdb_exec_row(cursor, 999, 0, 0xFFFF) != 0,
              ZE_ILLEGAL_ARGUMENT,
              "Illegal argument: 999 is no row action a host can ask for (enum ZDB_ROW_ACTION of "
              "<molvane/zdb.h>)");
  if (zdb_exec_row(cursor, db_insert_51, 0, 0xFFFF) != 0) expect("buffered insert", 0, 0, "");
  expect_text("commit of a buffered duplicate", zdb_exec_db(commit_trans, trans) != 0,
              ZE_BUFFERED_UPDATE,
              "the update of mybok010001 failed with error 100 (duplicate key): Duplicate key id = "
              "1 in mybok010001 (index 1)");
  expect_text("commit of a transaction id not in use", zdb_exec_db(commit_trans, 77) != 0,
              ZE_INVALID_SESSION,
              "Invalid transaction id 77 specified: it is not in use (never started, or stopped "
              "already); use an id that zdb_start_session returned");
  price = -1;
  zdb_bind_to_buf(cursor, row);
  /* The domain check's text is the whole message, after a call that left
   * one of its own. */
  id = 99;
  expect("read before the domain check", zdb_exec_row(cursor, db_eq, 0, 0xFFFF) != 0,
         ZE_NO_RECORD, "No record found");
  failing = zdb_domain_check(ddtable("mybok010"), row);
  expect_text("domain check", failing != NULL && strcmp(failing, "mybok010.price") == 0, zdb_errno,
              "mybok010.price not according to RANG (value -1.000000)");
  zdb_exec_db(abort_trans, trans);
}

/* SQL failures without an error callback (nor any other: nothing reaches
 * standard error, run_api_messages.sh checks). */
static void sql(int trans) {
  QPCStatement *stmt;
  expect("SELECT of an unknown column", sql_parse("SELECT nosuch FROM mybok010", trans, 0) == NULL,
         SQL_ERR_PARSE, "Unknown column 'nosuch'");
  stmt = sql_parse("SELECT title, price FROM mybok010", trans, 0);
  if (stmt == NULL) {
    expect("SELECT", 0, 0, "");
    return;
  }
  expect("sql_sel_bind of a name no item has", sql_sel_bind(stmt, "title", title) != 0,
         SQL_ERR_STATEMENT,
         "Unknown select item 'title' (the items are named mybok010.title, mybok010.price)");
  sql_close(stmt);
  expect("UPDATE of a computed value",
         sql_parse("UPDATE mybok010 SET price = price + 1", trans, 0) == NULL, SQL_ERR_PARSE,
         "only constants and host variables may be assigned in SET");
  expect("INSERT", sql_parse("INSERT INTO mybok010 VALUES (3, 'Emma', 1.5)", trans, 0) == NULL,
         SQL_ERR_PARSE, "INSERT is not supported");
  expect("SELECT of an item without a name", sql_parse("SELECT COUNT(*) FROM mybok010", trans, 0) == NULL,
         SQL_ERR_PARSE, "select item 1 must be bound explicitly; name the item: COUNT(*) :n or COUNT(*) AS n");
  stmt = sql_parse("SELECT code FROM exdep010", trans, 0);
  if (stmt != NULL) sql_sel_bind(stmt, "exdep010.code", title);
  expect("SELECT of a table that no driver serves", stmt == NULL || sql_exec(stmt, 1) != 0,
         ZE_NO_DRIVER, "No driver for exdep010001: no line of the table definitions");
  if (stmt != NULL) sql_close(stmt);
  expect("invalid handle", sql_exec((QPCStatement *)&trans, 1) != 0, SQL_ERR_INVALID_HANDLE,
         "Invalid Sql id");
  /* A closed handle is named as the program prints it, and said closed. */
  stmt = sql_parse("SELECT title FROM mybok010", trans, 0);
  if (stmt == NULL || sql_close(stmt) != 0) {
    expect("SELECT to close", 0, 0, "");
  } else {
    char text[512];
    snprintf(text, sizeof text,
             "SQLState HYL00: Invalid Sql id: %p: sql_fetch was given a handle that sql_close "
             "closed; a closed handle cannot be used any more (sql_parse the statement again for "
             "a new one)",
             (void *)stmt);
    expect_text("fetch on a closed handle", sql_fetch(stmt) != 0, SQL_ERR_INVALID_HANDLE, text);
  }
  /* The words of other dialects get this one's forms. */
  expect("LIMIT", sql_parse("SELECT title FROM mybok010 ORDER BY title LIMIT 1", trans, 0) == NULL,
         SQL_ERR_PARSE,
         "SQLState 42I00: Unexpected token 'LIMIT': this SQL has no LIMIT; a SELECT limits its rows "
         "with AS SET WITH n ROWS after its ORDER BY");
  expect("LIMIT taken for an alias", sql_parse("SELECT title FROM mybok010 LIMIT 1", trans, 0) == NULL,
         SQL_ERR_PARSE, "SQLState 42I00: Unexpected token '1' after LIMIT: this SQL has no LIMIT;");
  expect("FOR UPDATE at the end",
         sql_parse("SELECT title FROM mybok010 WHERE id = 1 FOR UPDATE", trans, 0) == NULL,
         SQL_ERR_PARSE,
         "SQLState 42I00: Unexpected token 'FOR': FOR UPDATE stands right after SELECT (SELECT FOR "
         "UPDATE emp, name FROM exemp010 ...: every table of the query is read for update) or after "
         "a table of the FROM clause (FROM exemp010 e FOR UPDATE, exdep010 d), not at the end of the "
         "statement");
  /* The end of the rows says what ended, naming the statement. */
  stmt = sql_parse("SELECT title FROM mybok010 ORDER BY title", trans, 0);
  if (stmt == NULL || sql_sel_bind(stmt, "mybok010.title", title) != 0 || sql_exec(stmt, 1) != 0 ||
      sql_fetch(stmt) != 0 || sql_fetch(stmt) != 0) {
    expect("SELECT of two rows", 0, 0, "");
  } else {
    expect_text("fetch past the last row", sql_fetch(stmt) != 0, SQL_ERR_NO_MORE_ROWS,
                "End of file reached: no row after the last one fetched (SELECT title FROM "
                "mybok010 ORDER BY title)");
  }
  if (stmt != NULL) sql_close(stmt);
  stmt = sql_parse("UPDATE mybok010 SET price = 1 WHERE id = 99", trans, 0);
  expect_text("UPDATE that changes no row", stmt == NULL || sql_exec(stmt, 1) != 0, SQL_ERR_NO_ROWS,
              "No record found: the UPDATE changed no row (UPDATE mybok010 SET price = 1 WHERE id "
              "= 99)");
  if (stmt != NULL) sql_close(stmt);
  zdb_exec_db(abort_trans, trans);
  expect_text("SELECT in a transaction id not in use",
              sql_parse("SELECT title FROM mybok010", 9, 0) == NULL, ZE_INVALID_SESSION,
              "SQLState QP999: Invalid transaction id 9 specified: it is not in use (never "
              "started, or stopped already); use an id that zdb_start_session returned (518)");
}

/* The dictionary's lookups say what they did not find, and a lookup that
 * finds leaves no message. */
static void dictionary(const char *root) {
  char text[1024];
  snprintf(text, sizeof text,
           "Table mybok999 not found in data dictionary (no dump dmybok999 in %s/dict)", root);
  expect_text("ddtable of a table not in the dictionary", ddtable("mybok999") == NULL, ZE_NO_DD,
              text);
  expect_text("ddtable of a name of nine characters", ddtable("mybok0100") == NULL, ZE_NO_DD,
              "Table mybok0100 not found in data dictionary: a table name has 8 characters (such "
              "as \"mybok010\"), this one 9");
  expect_text("ddtable of a null name", ddtable(NULL) == NULL, ZE_ILLEGAL_STATE,
              "No table-name specified: ddtable was given a null table name; pass the name of a "
              "table of the data dictionary (8 characters, such as \"mybok010\")");
  expect_text("ddcolumn of a column the table does not have", ddcolumn("mybok010.titel") == NULL,
              ZE_BAD_COLUMN,
              "Invalid column 'mybok010.titel': mybok010 has no column titel (its columns: id, "
              "price, title)");
  expect_text("ddcolumn of a name without its table", ddcolumn("title") == NULL, ZE_BAD_COLUMN,
              "Invalid column 'title': ddcolumn takes a column's full name, its table's 8 "
              "characters, a point and the column (such as \"mybok010.title\")");
  snprintf(text, sizeof text,
           "Table mybok999 not found in data dictionary (no dump dmybok999 in %s/dict)", root);
  expect_text("ddcolumn of a table not in the dictionary", ddcolumn("mybok999.title") == NULL,
              ZE_NO_DD, text);
  expect_clean("ddcolumn that finds its column", ddcolumn("mybok010.title") != NULL);
}

/* No driver for a table: no line of lib/tabledef1, or a driver that cannot
 * be started (both of its alternatives). */
static void drivers(int trans) {
  ZDB_CURSOR *cursor = NULL;
  unsigned char row[6144];
  if (zdb_open(&cursor, "exdep010", 1, row, 0, trans) != 0) expect("open exdep010", 0, 0, "");
  expect("table that no driver serves", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0,
         ZE_NO_DRIVER, "No driver for exdep010001: no line of the table definitions");
  zdb_close(cursor);
  /* A driver name that lib/ipc_info does not have and whose name marks no
   * driver type is taken for a host whose table definitions are included. */
  if (zdb_open(&cursor, "tttxt010", 1, row, 0, trans) != 0) expect("open tttxt010", 0, 0, "");
  expect_text("driver name that lib/ipc_info does not have",
              zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0, ZE_NO_DRIVER,
              "No driver for tttxt010001: lib/tabledef1 names sqlite, which is no driver of "
              "lib/ipc_info (it has msqlite, msqlnone, msqlgone, msqltypo, msqlnodir); a name that "
              "begins with none of audit, oracle, informix, db2, msql, mysql is taken for a host "
              "whose table definitions are included, and those of sqlite could not be read: sqlite "
              "is no name of this machine, and the files of other hosts are not read");
  zdb_close(cursor);
  if (zdb_open(&cursor, "exemp010", 1, row, 0, trans) != 0) expect("open exemp010", 0, 0, "");
  expect("driver that cannot be started", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0,
         ZE_NO_DRIVER, "No driver could be attached: driver msqlnone: ");
  expect("driver that cannot be started (its alternative)", 1, ZE_NO_DRIVER,
         "; its alternative, driver msqlgone: ");
  zdb_close(cursor);
}

/* Drivers that cannot serve: one that ends at start (a mistyped option on
 * its lib/ipc_info line) and one whose database folder does not exist. Each
 * fails its call with 505 and the reason, and the program goes on. */
static void starts(int trans) {
  ZDB_CURSOR *cursor = NULL;
  unsigned char row[6144];
  if (zdb_open(&cursor, "mybok010", 2, row, 0, trans) != 0) expect("open mybok010 of company 2", 0, 0, "");
  expect("driver that ends at start", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0, ZE_NO_DRIVER,
         "No driver could be attached: driver msqltypo ended at start with exit status 2");
  zdb_close(cursor);
  if (zdb_open(&cursor, "mybok010", 3, row, 0, trans) != 0) expect("open mybok010 of company 3", 0, 0, "");
  expect("database in a missing folder", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0, ZE_NO_DRIVER,
         "/nodir' of database '");
  expect("database in a missing folder (the words)", 1, ZE_NO_DRIVER, "does not exist");
  zdb_close(cursor);
  if (zdb_open(&cursor, "mybok010", 1, row, 0, trans) != 0 ||
      zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0)
    expect("a read after the drivers that failed", 0, 0, "");
  zdb_close(cursor);
}

/* SQL says what the record API says: a record read of the table in the
 * company fails first with `number` (and the message `words` when not
 * null); then a SELECT of the same table and company fails with the same
 * number, and its text is the record API's message in the SQL form. */
static void same_cause(const char *what, const char *table, int compnr, const char *select,
                       const char *item, int number, const char *words, int trans) {
  char record[2048];
  char sql_text[2200];
  char label[200];
  ZDB_CURSOR *cursor = NULL;
  unsigned char row[6144];
  QPCStatement *stmt;
  int failed;
  if (zdb_open(&cursor, table, compnr, row, 0, trans) != 0) {
    expect(what, 0, 0, "");
    return;
  }
  failed = zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0;
  if (words != NULL)
    expect_text(what, failed, number, words);
  else
    expect(what, failed, number, "");
  snprintf(record, sizeof record, "%s", get_zdb_msg() != NULL ? get_zdb_msg() : "");
  zdb_close(cursor);
  snprintf(sql_text, sizeof sql_text, "SQLState QP999: %s (error %d)", record, number);
  snprintf(label, sizeof label, "%s, through SQL", what);
  stmt = sql_parse(select, trans, 0);
  if (stmt == NULL || sql_sel_bind(stmt, item, title) != 0)
    expect(label, 0, 0, "");
  else
    expect_text(label, sql_exec(stmt, (short)compnr) != 0, number, sql_text);
  if (stmt != NULL) sql_close(stmt);
}

/* The causes that the SQL calls carry: drivers that cannot be attached, a
 * read-only database folder, a damaged dictionary dump; a dropped table
 * reads as one never made; sql_sel_bind refuses a null variable. */
static void sql_causes(const char *root, int trans) {
  char text[2048];
  QPCStatement *stmt;
  ZDB_CURSOR *cursor = NULL;
  unsigned char row[64];
  int count = -1;
  const char *books = "SELECT title FROM mybok010";
  same_cause("driver whose program does not exist", "exemp010", 1, "SELECT emp FROM exemp010",
             "exemp010.emp", ZE_NO_DRIVER, NULL, trans);
  same_cause("database in a missing folder", "mybok010", 3, books, "mybok010.title", ZE_NO_DRIVER,
             NULL, trans);
  snprintf(text, sizeof text,
           "No driver could be attached: driver msqlnosrv: cannot connect to driver socket "
           "%s/run.sock: No such file or directory; does a driver server listen there "
           "(molvane-driver --listen=%s/run.sock)?",
           root, root);
  same_cause("driver server that does not run", "mybok010", 5, books, "mybok010.title",
             ZE_NO_DRIVER, text, trans);
  if (getenv("API_MESSAGES_NO_READ_ONLY") == NULL) {
    snprintf(text, sizeof text,
             "the folder '%s/ro' of database '%s/ro/books.db' is not writable (%s): the driver "
             "needs a writable folder for %s/ro/books.db.lock, also for reads",
             root, root, getenv("API_MESSAGES_READ_ONLY_CAUSE"), root);
    same_cause("database in a read-only folder", "mybok010", 6, books, "mybok010.title",
               ZE_STORAGE_READONLY, text, trans);
  } else {
    printf("skip database in a read-only folder: no read-only folder could be made\n");
  }
  /* A damaged dump: the record API's 512 with the dump's file and line,
   * and the same through SQL. */
  expect("damaged dictionary dump", zdb_open(&cursor, "mybad010", 1, row, 0, trans) != 0,
         ZE_DD_CORRUPT, "Dictionary dump ");
  snprintf(text, sizeof text, "SQLState QP999: %s (error %d)", get_zdb_msg(), ZE_DD_CORRUPT);
  {
    char dump[2048];
    snprintf(dump, sizeof dump, "%s", get_zdb_msg());
    expect_text("ddtable of a damaged dump", ddtable("mybad010") == NULL, ZE_DD_CORRUPT, dump);
  }
  expect_text("damaged dictionary dump, through SQL",
              sql_parse("SELECT id FROM mybad010", trans, 0) == NULL, ZE_DD_CORRUPT, text);
  /* A dropped table reads as one never made: no rows, no error. */
  if (zdb_open(&cursor, "mybok010", 7, row, 0, trans) != 0) expect("open company 7", 0, 0, "");
  id = 1;
  set_title("Persuasion");
  if (zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0 || zdb_exec_db(commit_trans, trans) != 0)
    expect("insert in company 7", 0, 0, "");
  expect_clean("drop_table",
               zdb_exec_table(cursor, drop_table, NULL, 0xFFFF) == 0 &&
                   zdb_exec_db(commit_trans, trans) == 0);
  expect_clean("nr_rows of a dropped table",
               zdb_exec_table(cursor, nr_rows, &count, 0xFFFF) == 0 && count == 0);
  count = -1;
  expect_clean("nr_rows of a company never made",
               zdb_exec_table(cursor, nr_rows, &count, 8) == 0 && count == 0);
  zdb_close(cursor);
  stmt = sql_parse(books, trans, 0);
  if (stmt == NULL || sql_sel_bind(stmt, "mybok010.title", title) != 0) {
    expect("SELECT of a dropped table", 0, 0, "");
  } else {
    expect_clean("SELECT of a dropped table", sql_exec(stmt, 7) == 0);
    expect_text("fetch from a dropped table", sql_fetch(stmt) != 0, SQL_ERR_NO_ROWS,
                "No record found: the SELECT gave no row (SELECT title FROM mybok010)");
    expect_clean("SELECT of a company never made", sql_exec(stmt, 8) == 0);
    expect_text("fetch from a company never made", sql_fetch(stmt) != 0, SQL_ERR_NO_ROWS,
                "No record found: the SELECT gave no row (SELECT title FROM mybok010)");
    snprintf(text, sizeof text,
             "SQLState HY009: Null variable for select item 'mybok010.title': sql_sel_bind takes "
             "the variable that callback 7 (SQL_FUNC_PUT_EXTVAR) receives with the item's "
             "values (301)");
    expect_text("sql_sel_bind of a null variable", sql_sel_bind(stmt, "mybok010.title", NULL) != 0,
                SQL_ERR_STATEMENT, text);
  }
  if (stmt != NULL) sql_close(stmt);
  zdb_exec_db(abort_trans, trans);
}

/* Names as given, and the end of the rows said in words: a name that is
 * no table name is refused as such; db_first and db_last on a company
 * without rows end with 110 like db_next past the last row, each naming
 * the table and what ran out. */
static void ends(int trans) {
  ZDB_CURSOR *cursor = NULL;
  ZDB_HOST_BIND binds[3];
  unsigned char row[6144];
  expect_text("table name of nine characters", zdb_open(&cursor, "exdep0100", 1, row, 0, trans) != 0,
              ZE_NO_DD,
              "Table exdep0100 not found in data dictionary: a table name has 8 characters (such as "
              "\"mybok010\"), this one 9");
  expect_text("table name with a point", zdb_open(&cursor, "ab.de123", 1, row, 0, trans) != 0, ZE_NO_DD,
              "Table ab.de123 not found in data dictionary: a table name has only letters, digits and "
              "\"_\" (such as \"mybok010\")");
  bind(&binds[0], &id, sizeof id, "mybok010.id", ZDB_BIND_LONG);
  bind(&binds[1], title, sizeof title, "mybok010.title", ZDB_BIND_STRING);
  bind(&binds[2], &price, sizeof price, "mybok010.price", ZDB_BIND_DOUBLE);
  if (zdb_open(&cursor, "mybok010", 5, binds, 3, trans) != 0 ||
      zdb_exec_table(cursor, create_table, NULL, 0xFFFF) != 0) {
    expect("open and create mybok010 of company 5", 0, 0, "");
    return;
  }
  expect_text("db_first on a company without rows", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0,
              ZE_END_OF_FILE,
              "End of file reached in mybok010005 (db_first on index 1): the table has no rows in this "
              "company");
  expect_text("db_last on a company without rows", zdb_exec_row(cursor, db_last, 0, 0xFFFF) != 0,
              ZE_END_OF_FILE,
              "End of file reached in mybok010005 (db_last on index 1): the table has no rows in this "
              "company");
  id = 7;
  price = 7.5;
  set_title("Persuasion");
  if (zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0 || zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0)
    expect("insert and read of id 7", 0, 0, "");
  expect_text("db_next past the last row (its words)", zdb_exec_row(cursor, db_next, 0, 0xFFFF) != 0,
              ZE_END_OF_FILE,
              "End of file reached in mybok010005 (db_next on index 1): no row after the current one");
  zdb_exec_db(abort_trans, trans);
  zdb_close(cursor);
  /* A child driver that refuses an option of its lib/ipc_info line says
   * which to its host, in one line, not on the program's standard error. */
  if (zdb_open(&cursor, "mybok010", 2, row, 0, trans) != 0) expect("open mybok010 of company 2", 0, 0, "");
  expect_text("driver with an unknown option", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0, ZE_NO_DRIVER,
              "No driver could be attached: driver msqltypo ended at start with exit status 2: "
              "molvane-driver: unknown or malformed option '--sesions=2' (molvane-driver --help lists "
              "the options)");
  zdb_close(cursor);
}

/* A logon that names another user than the one whose settings count
 * (ZUV_USER me) says so, naming both files; the logon goes on as me. */
static int named_logon(const char *root) {
  char warning[2048];
  snprintf(warning, sizeof warning,
           "zdb_logon names user nc, but the settings are those of user me (ZUV_USER, else the login "
           "name, when zdb_init_api ran): read from %s/lib/user/ume (type S, a super user whom no roles "
           "restrict); %s/lib/user/unc is not read; set ZUV_USER=nc before zdb_init_api for the "
           "settings of nc",
           root, root);
  expect_text("logon that names another user", zdb_logon("nc") == 0, zdb_errno, warning);
  expect_clean("logoff after the named logon", zdb_logoff() == 0);
  return failures == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
  int trans;
  ZDB_CURSOR *cursor;
  static unsigned char row[64];
  int clerk = argc == 3 && strcmp(argv[2], "clerk") == 0;
  int causes = argc == 3 && strcmp(argv[2], "causes") == 0;
  int named = argc == 3 && strcmp(argv[2], "named") == 0;
  if (argc != 3) {
    fprintf(stderr, "usage: api_messages ROOT super|clerk|causes|named\n");
    return 2;
  }
  /* Before zdb_init_api the calls that need the dictionary say so, and
   * nothing is printed. */
  cursor = NULL;
  expect_text("zdb_open before zdb_init_api",
              set_zuv(argv[1]) == 0 && zdb_open(&cursor, "mybok010", 1, row, 0, 1) != 0,
              ZE_ILLEGAL_STATE,
              "zdb_init_api was not called: zdb_open needs the data dictionary, which "
              "zdb_init_api loads; call zdb_init_api first (then zdb_logon)");
  expect_text("ddtable before zdb_init_api", ddtable("mybok010") == NULL, ZE_ILLEGAL_STATE,
              "zdb_init_api was not called: ddtable needs the data dictionary, which "
              "zdb_init_api loads; call zdb_init_api first (then zdb_logon)");
  if (set_zuv(argv[1]) != 0 || zdb_init_api("api_messages", NULL, 0, 0) != 0) {
    fprintf(stderr, "start-up failed: %d\n", zdb_errno);
    return 1;
  }
  expect_text("SELECT before logon", sql_parse("SELECT title FROM mybok010", 1, 0) == NULL,
              ZE_NOT_LOGGED_ON, "SQLState QP999: Not logged on: call zdb_logon first (508)");
  expect_text("zdb_open without a table name", zdb_open(&cursor, NULL, 1, row, 0, 1) != 0,
              ZE_ILLEGAL_STATE,
              "No table-name specified: zdb_open was given a null table name; pass the name of a "
              "table of the data dictionary (8 characters, such as \"mybok010\")");
  if (named) return named_logon(argv[1]);
  if (zdb_logon(clerk ? "clerk" : "me") != 0) {
    fprintf(stderr, "logon failed: %d %s\n", zdb_errno, get_zdb_msg() ? get_zdb_msg() : "");
    return 1;
  }
  if (clerk) {
    /* A role of db_roles without a file is skipped with a warning. */
    char warning[1024];
    snprintf(warning, sizeof warning,
             "The user's db_roles name a role without a file, which is skipped, so that what only "
             "it allows is refused (208): role gone (no file %s/lib/roles/db/g/gone: No such file "
             "or directory)",
             argv[1]);
    expect_text("logon with a role without a file", 1, zdb_errno, warning);
  } else {
    expect_clean("logon", 1);
  }
  if ((trans = zdb_start_session("messages")) == 0) {
    fprintf(stderr, "start of a transaction failed: %d %s\n", zdb_errno, get_zdb_msg() ? get_zdb_msg() : "");
    return 1;
  }
  cursor = open_books(trans);
  if (cursor == NULL) return 1;
  if (causes) {
    sql_causes(argv[1], trans);
  } else if (clerk) {
    id = 3;
    expect_text("insert that the roles refuse", zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0,
                ZE_NO_PERMISSION,
                "No permission for an insert on mybok010001: the roles of the user (db_roles) do "
                "not allow it");
    expect_text("insert that a row condition refuses", zdb_exec_row(cursor, db_insert, 0, 4) != 0,
                ZE_NO_PERMISSION,
                "No permission for an insert on mybok010004: the roles of the user (db_roles) do "
                "not allow it for this row");
  } else {
    records(cursor, trans);
    dictionary(argv[1]);
    sql(trans);
    drivers(trans);
    starts(trans);
    ends(trans);
  }
  expect_clean("close", zdb_close(cursor) == 0);
  /* A cursor left open is closed by zdb_logoff; its handle is refused
   * afterwards, and the program goes on. */
  if (zdb_open(&cursor, "mybok010", 1, row, 0, trans) != 0) expect("open", 0, 0, "");
  zdb_exec_db(abort_trans, trans);
  zdb_stop_session(trans);
  expect_text("row action in a stopped transaction", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0,
              ZE_INVALID_SESSION,
              "Invalid transaction id 1 specified: it is not in use (never started, or stopped "
              "already); use an id that zdb_start_session returned");
  expect_clean("logoff", zdb_logoff() == 0);
  expect_text("close after logoff", zdb_close(cursor) != 0, ZE_BAD_CURSOR,
              "The cursor was closed at logoff: zdb_logoff closes every open cursor, and "
              "zdb_close cannot use it any more");
  expect_text("row action after logoff", zdb_exec_row(cursor, db_first, 0, 0xFFFF) != 0,
              ZE_BAD_CURSOR,
              "The cursor was closed at logoff: zdb_logoff closes every open cursor, and "
              "zdb_exec_row cannot use it any more");
  expect("second logon", zdb_logon("me") != 0, ZE_ALREADY_LOGGED_ON,
         "a process logs on once, even after zdb_logoff");
  expect_text("SELECT in a stopped transaction",
              sql_parse("SELECT title FROM mybok010", trans, 0) == NULL, ZE_INVALID_SESSION,
              "SQLState QP999: Invalid transaction id 1 specified: it is not in use (never "
              "started, or stopped already); use an id that zdb_start_session returned (518)");
  return failures == 0 ? 0 : 1;
}
