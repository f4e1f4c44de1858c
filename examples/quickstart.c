/* quickstart: a host program of molvane in plain C.
 *
 *   quickstart ROOT
 *
 * ROOT is an environment root (docs/environment-root.md) whose dictionary
 * holds the department table exdep010 of the fixtures and whose driver map
 * serves it, for example through the reference driver. The program starts
 * the library, logs on, and in one transaction inserts, reads, updates and
 * deletes rows of company 1 through a cursor with bound variables, commits
 * and aborts, shows how a failed commit reports its details, and runs an SQL
 * query with parameters through the callbacks. Every call is checked: a
 * failing call leaves its number in zdb_errno and its text in get_zdb_msg. */
#include <stdio.h>
#include <string.h>

#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_errors.h>

/* Prints why the last call failed and returns 1. */
static int failed(const char *call) {
  const char *msg = get_zdb_msg();
  fprintf(stderr, "%s failed: error %d (%s)%s%s\n", call, zdb_errno, zdberrorstr(zdb_errno),
          msg != NULL && msg[0] != '\0' ? ": " : "", msg != NULL ? msg : "");
  return 1;
}

/* Says what went otherwise than the database promises and returns 1. */
static int unexpected(const char *what) {
  fprintf(stderr, "unexpected: %s\n", what);
  return 1;
}

/* The log hook: every message of the library, as it is written. */
static void on_log(char level, const char *keyword, const char *text, const char *file,
                   int line) {
  (void)file;
  (void)line;
  fprintf(stderr, "log %c %s: %s\n", level, keyword, text);
}

/* The program variables a cursor is bound to: each row action reads the row
 * from them or writes it into them. Strings are blank-padded, not
 * NUL-ended, and as long as the column. */
static char code[6];
static char name[20];
static double budget;

static void set_text(char *field, size_t size, const char *text) {
  size_t n = strlen(text);
  memset(field, ' ', size);
  memcpy(field, text, n < size ? n : size);
}

/* ---- SQL callbacks ---------------------------------------------------
 * The library asks the host for a variable per select item (callback 5) and
 * hands each fetched value to it (callback 7). A parameter that the program
 * does not bind with sql_bind_input is asked for through callbacks 5 and 6. */
struct item {
  char name[32];
  char text[64];
};
static struct item items[8];
static int item_count;

static char *create_variable(char *item_name, unsigned char *kind, char **record,
                             int *const dims, unsigned long extra) {
  (void)record;
  (void)dims;
  (void)extra;
  if (*kind != 1 || item_count == (int)(sizeof items / sizeof items[0])) return NULL;
  snprintf(items[item_count].name, sizeof items[0].name, "%s", item_name);
  return (char *)&items[item_count++];
}

static int get_value(char *variable, SqlVal *value, unsigned char *type, int *length) {
  (void)variable;
  (void)value;
  (void)type;
  (void)length;
  return 1; /* every parameter is bound with sql_bind_input */
}

static void put_value(char *variable, unsigned char *data, unsigned char type, int length,
                      int *dims) {
  struct item *it = (struct item *)variable;
  (void)dims;
  if (type == SQL_TYPE_STRING) {
    while (length > 0 && data[length - 1] == ' ') --length; /* strings come blank-padded */
    snprintf(it->text, sizeof it->text, "%.*s", length, (const char *)data);
  }
  else if (type == SQL_TYPE_INTEGER)
    snprintf(it->text, sizeof it->text, "%d",
             (int)((unsigned)data[0] << 24 | (unsigned)data[1] << 16 | data[2] << 8 | data[3]));
}

static int on_sql_error(int line, char *text) {
  fprintf(stderr, "sql error (line %d): %s\n", line, text);
  return 0;
}

/* The departments of company 1 whose code is at least `from`, with a
 * budget above `minimum`. */
static int query(int trans, const char *from, double minimum) {
  const char *text =
      "SELECT code, name FROM exdep010 WHERE code >= :from AND budget > :minimum ORDER BY code";
  QPCStatement *stmt = sql_parse(text, (unsigned long)trans, 0);
  int rows = 0;
  if (stmt == NULL) return failed("sql_parse");
  /* A string is bound by the address of a pointer to its bytes. */
  if (sql_bind_input(stmt, ":from", SQL_TYPE_STRING, (int)strlen(from), &from) != 0 ||
      sql_bind_input(stmt, ":minimum", SQL_TYPE_REAL, sizeof minimum, &minimum) != 0 ||
      sql_exec(stmt, 1) != 0) {
    failed("sql_bind_input/sql_exec");
    sql_close(stmt);
    return 1;
  }
  while (sql_fetch(stmt) == 0) {
    printf("  %s=%s %s=%s\n", items[0].name, items[0].text, items[1].name, items[1].text);
    ++rows;
  }
  /* The end of the rows: 111 when there was none at all, 110 after the last. */
  if (zdb_errno != SQL_ERR_NO_MORE_ROWS && zdb_errno != SQL_ERR_NO_ROWS) failed("sql_fetch");
  printf("%d row%s\n", rows, rows == 1 ? "" : "s");
  sql_close(stmt);
  item_count = 0;
  return 0;
}

int main(int argc, char **argv) {
  ZDB_HOST_BIND binds[3];
  ZDB_CURSOR *cursor = NULL;
  char user[16];
  int trans;

  if (argc != 2) {
    fprintf(stderr, "usage: quickstart ROOT\n");
    return 2;
  }
  /* 1. Start-up, in this order: environment root and log hook, then
   *    zdb_init_api, then the SQL callbacks, then zdb_logon. */
  log_set_log_hook(on_log);
  if (set_zuv(argv[1]) != 0) return failed("set_zuv");
  if (zdb_init_api("quickstart", NULL, 0, 0) != 0) return failed("zdb_init_api");
  sql_init_func(SQL_FUNC_ERROR, (sql_func)on_sql_error);
  sql_init_func(SQL_FUNC_CRT_EXTVAR, (sql_func)create_variable);
  sql_init_func(SQL_FUNC_GET_EXTVAR, (sql_func)get_value);
  sql_init_func(SQL_FUNC_PUT_EXTVAR, (sql_func)put_value);
  /* The settings that count are those of the user zdb_init_api found
   *    (ZUV_USER, else the login name): the program logs on under that name. */
  if (zdb_logon(zdb_user_info_get_user_name(user)) != 0) return failed("zdb_logon");

  /* 2. A transaction, and a cursor on exdep010 in company 1 bound to the
   *    program variables code, name and budget. */
  trans = zdb_start_session("quickstart");
  if (trans == 0) return failed("zdb_start_session");
  memset(binds, 0, sizeof binds);
  binds[0].address = code;
  binds[0].length = sizeof code;
  binds[0].depth = 1;
  binds[0].type = ZDB_BIND_STRING;
  strcpy(binds[0].column, "exdep010.code");
  binds[1] = binds[0];
  binds[1].address = name;
  binds[1].length = sizeof name;
  strcpy(binds[1].column, "exdep010.name");
  binds[2] = binds[0];
  binds[2].address = &budget;
  binds[2].length = sizeof budget;
  binds[2].type = ZDB_BIND_DOUBLE;
  strcpy(binds[2].column, "exdep010.budget");
  if (zdb_open(&cursor, "exdep010", 1, binds, 3, trans) != 0) return failed("zdb_open");

  /* 3. Start from no rows in company 1, so that the program can run again:
   *    read the first row locked and delete it, until there is none. A
   *    db_first that finds no row, like a db_next past the last row, fails
   *    with ZE_END_OF_FILE (110): it ends a loop over the rows. */
  while (zdb_exec_row(cursor, db_first_locked, 0, 0xFFFF) == 0)
    if (zdb_exec_row(cursor, db_delete, 0, 0xFFFF) != 0) return failed("delete");
  if (zdb_errno != ZE_END_OF_FILE) return failed("read first");
  if (zdb_exec_db(commit_trans, trans) != 0) return failed("commit");

  /* 4. Insert two rows and commit. Each action reaches the driver at once;
   *    the buffered forms (db_insert_51, ...) wait in the library until the
   *    commit or zdb_flush sends them together. */
  set_text(code, sizeof code, "SALES");
  set_text(name, sizeof name, "Sales");
  budget = 1200.5;
  if (zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0) return failed("insert SALES");
  set_text(code, sizeof code, "HR");
  set_text(name, sizeof name, "People");
  budget = 800;
  if (zdb_exec_row(cursor, db_insert, 0, 0xFFFF) != 0) return failed("insert HR");
  if (zdb_exec_db(commit_trans, trans) != 0) return failed("commit");

  /* 5. Read by key: set the key variable, then an equality read. */
  set_text(code, sizeof code, "SALES");
  if (zdb_exec_row(cursor, db_eq, 0, 0xFFFF) != 0) return failed("read SALES");
  printf("read: %.6s %.20s %.2f\n", code, name, budget);

  /* 6. Update: read the row locked, change it, commit. */
  if (zdb_exec_row(cursor, db_eq_locked, 0, 0xFFFF) != 0) return failed("lock SALES");
  budget = 1500;
  if (zdb_exec_row(cursor, db_update, 0, 0xFFFF) != 0) return failed("update SALES");
  if (zdb_exec_db(commit_trans, trans) != 0) return failed("commit");

  /* 7. Delete, then abort: the row stays. */
  set_text(code, sizeof code, "HR");
  if (zdb_exec_row(cursor, db_eq_locked, 0, 0xFFFF) != 0) return failed("lock HR");
  if (zdb_exec_row(cursor, db_delete, 0, 0xFFFF) != 0) return failed("delete HR");
  if (zdb_exec_db(abort_trans, trans) != 0) return failed("abort");
  if (zdb_exec_row(cursor, db_eq, 0, 0xFFFF) != 0) return failed("read HR");
  printf("after the abort: %.6s %.20s\n", code, name);

  /* 8. Errors. A second SALES is refused at once with 100 (duplicate key):
   *    a failing call returns -1 with its number in zdb_errno and its cause
   *    in get_zdb_msg (the table, index and key), and the transaction goes
   *    on. The buffered form (db_insert_51) is refused only when the commit
   *    sends it: the commit fails with 520 and aborts the transaction, and
   *    its message names the table and the update's own error
   *    (zdb_get_detail_error gives them one by one). */
  set_text(code, sizeof code, "SALES");
  if (zdb_exec_row(cursor, db_insert, 0, 0xFFFF) == 0) return unexpected("a second SALES was inserted");
  if (zdb_errno != ZE_DUPLICATE_VALUE) return failed("second SALES");
  printf("insert refused: error %d (%s): %s\n", zdb_errno, zdberrorstr(zdb_errno), get_zdb_msg());
  if (zdb_exec_row(cursor, db_insert_51, 0, 0xFFFF) != 0) return failed("buffered insert");
  if (zdb_exec_db(commit_trans, trans) == 0) return unexpected("the buffered duplicate was committed");
  if (zdb_errno != ZE_BUFFERED_UPDATE) return failed("commit of the buffered duplicate");
  printf("commit refused: error %d (%s): %s\n", zdb_errno, zdberrorstr(zdb_errno), get_zdb_msg());

  /* 9. An SQL query with two parameters. */
  printf("departments from \"A\" with a budget above 1000:\n");
  if (query(trans, "A", 1000.0) != 0) return 1;

  /* 10. The end: close the cursor, stop the transaction, log off. */
  zdb_close(cursor);
  zdb_stop_session(trans);
  if (zdb_logoff() != 0) return failed("zdb_logoff");
  return 0;
}
