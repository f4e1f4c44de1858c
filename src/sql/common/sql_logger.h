// SQLLogger: the trace of the SQL layers, and its output channel.
//
// Trace statements test a flag before formatting anything:
//   SQLLogger *log = SQLLogger::Instance();
//   if (log->LogFlagIsSet(SQLLogger::Eval::Rs)) *log << "[" << id << "] Fetch" << endl;
// Output goes to standard error; after an end of line the next output is
// indented by three blanks per indentation level, up to kMaxIndent levels:
// a trace of a deep tree (a chain of 10,000 additions nests as deep) then
// grows with its nodes rather than with their square.
#pragma once

#include <cstdint>

#include "sql/common/sql_string.h"
#include "sql/common/sql_type.h"

class SQLLogger {
 public:
  // Trace flag bits.
  static constexpr long Always = -1;  // set whenever any flag is set
  struct Tree {
    static constexpr long Vt = 0x1;  // dumps of the validated tree
    static constexpr long Rs = 0x2;  // dumps of the execution tree
  };
  struct Eval {
    static constexpr long Rs = 0x4;     // row-source evaluation
    static constexpr long Sc = 0x8;     // search-condition evaluation
    static constexpr long Pred = 0x10;  // predicate evaluation
    static constexpr long Expr = 0x20;  // value-expression evaluation
  };
  static constexpr long StmtCacheStats = 0x40;        // statement cache statistics
  static constexpr long CommunicationPackets = 0x80;  // packets of the SQL agent
  static constexpr long Interface = 0xC00;            // statement interface calls
  static constexpr long InterfaceDetailed = 0x800;    // ... in detail

  enum SQLLogOutputFormat : int { Text = 1 };

  // The one logger, created on first use with the flags of the settings.
  static SQLLogger *Instance();

  // Re-reads the flag word from the settings (SQL_get_log_flags).
  void InitLogFlags();
  void SetLogFlags(long flags) { flags_ = flags; }
  long GetLogFlags() const { return flags_; }
  // TRUE when the flag word shares a bit with mask.
  bool LogFlagIsSet(long mask) const { return (flags_ & mask) != 0; }

  void IncIndent() { ++indent_; }
  void DecIndent() { if (indent_ > 0) --indent_; }  // never below 0
  void ResetIndent() { indent_ = 0; }
  int GetIndent() const { return indent_; }
  // The deepest indentation written; deeper levels are counted but written
  // as this one.
  static constexpr int kMaxIndent = 32;
  SQLLogOutputFormat OutputFormat() const { return format_; }

  void Log(SQLString const &s);
  void Log(char const *text);
  void Log(int v);
  void Log(unsigned int v);
  void Log(long v);
  void Log(unsigned long v);
  void Log(long long v);  // 64-bit integers
  void Log(double v);
  void Log(bool v);  // "True" or "False"
  void Log(void const *p);
  // Ends the line; the next output starts indented.
  void LogEOL();

 private:
  SQLLogger();
  void BeginOutput();

  long flags_;                 // trace flag word
  SQLLogOutputFormat format_;  // always Text
  int indent_;                 // indentation level, never below 0
  bool atLineStart_;           // the next output is indented first
};

SQLLogger &operator<<(SQLLogger &log, SQLString const &s);
SQLLogger &operator<<(SQLLogger &log, char const *text);
SQLLogger &operator<<(SQLLogger &log, int v);
SQLLogger &operator<<(SQLLogger &log, unsigned int v);
SQLLogger &operator<<(SQLLogger &log, long v);
SQLLogger &operator<<(SQLLogger &log, unsigned long v);
SQLLogger &operator<<(SQLLogger &log, long long v);
SQLLogger &operator<<(SQLLogger &log, double v);
SQLLogger &operator<<(SQLLogger &log, bool v);
SQLLogger &operator<<(SQLLogger &log, void const *p);
// The enumerator name: "SQL_INTEGER", ...; a value outside SQLType prints nothing.
SQLLogger &operator<<(SQLLogger &log, SQLType type);
SQLLogger &operator<<(SQLLogger &log, SQLLogger &(*manipulator)(SQLLogger &));

// Manipulators.
SQLLogger &incind(SQLLogger &log);
SQLLogger &decind(SQLLogger &log);
SQLLogger &resetind(SQLLogger &log);
SQLLogger &endl(SQLLogger &log);

// Runs SQLLogger::Instance()->InitLogFlags(); called at every logon and when
// the setting qelt_sql_trace changes. Returns 0.
int SQLLoggerInitLogFlags();

// The output channel: printf-style formatting onto standard error.
void SQL_log(char const *format, ...) __attribute__((format(printf, 1, 2)));
bool SQL_log_is_open();   // always TRUE
void SQL_init_logging();  // nothing to open

// Reads an integer setting of the database client by name (qelt_sql_trace,
// tt_sql_trace). The database client installs its reader at start-up; until
// then the logger reads the setting's environment variable (its name in
// upper case, octal like the settings), 0 when unset.
using SQLSettingReader = long (*)(char const *name);
void SQL_set_setting_reader(SQLSettingReader reader);

// The trace flag word for the two settings: qelt_sql_trace, plus for each bit
// of tt_sql_trace (when it is at least 1) the flags that the bit stands for:
// 0x10 -> the Eval flags, 0x800 -> the Tree flags, 0x4000 -> CommunicationPackets.
long SQL_log_flags_from_settings(long qeltSqlTrace, long ttSqlTrace);
// SQL_log_flags_from_settings over the current settings.
long SQL_get_log_flags();
