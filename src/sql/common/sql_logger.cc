#include "sql/common/sql_logger.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sql/common/sql_util.h"

namespace {

long EnvironmentSetting(char const *name) {
  std::string var(name);
  for (char &c : var) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  char const *value = std::getenv(var.c_str());
  if (value == nullptr || *value == '\0') return 0;
  return std::strtol(value, nullptr, 8);  // both trace settings are octal
}

SQLSettingReader g_settingReader = nullptr;

// tt_sql_trace bits and the flags each one adds.
struct TraceMapping {
  long ttBit;
  long flags;
};
constexpr TraceMapping kTraceMappings[] = {
    {0x10, SQLLogger::Eval::Expr | SQLLogger::Eval::Pred | SQLLogger::Eval::Sc | SQLLogger::Eval::Rs},
    {0x800, SQLLogger::Tree::Rs | SQLLogger::Tree::Vt},
    {0x4000, SQLLogger::CommunicationPackets},
};

}  // namespace

void SQL_set_setting_reader(SQLSettingReader reader) { g_settingReader = reader; }

long SQL_log_flags_from_settings(long qeltSqlTrace, long ttSqlTrace) {
  long flags = qeltSqlTrace;
  if (ttSqlTrace >= 1) {
    for (TraceMapping const &m : kTraceMappings)
      if (ttSqlTrace & m.ttBit) flags |= m.flags;
  }
  return flags;
}

long SQL_get_log_flags() {
  SQLSettingReader read = g_settingReader ? g_settingReader : EnvironmentSetting;
  return SQL_log_flags_from_settings(read("qelt_sql_trace"), read("tt_sql_trace"));
}

void SQL_log(char const *format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

bool SQL_log_is_open() { return true; }

void SQL_init_logging() {}

SQLLogger::SQLLogger() : flags_(0), format_(Text), indent_(0), atLineStart_(false) {}

SQLLogger *SQLLogger::Instance() {
  // Lives until process exit: trace statements may run from static destructors.
  static SQLLogger *instance = [] {
    auto *logger = new SQLLogger();
    logger->InitLogFlags();
    if (logger->flags_ != 0 && !SQL_log_is_open()) SQL_init_logging();
    return logger;
  }();
  return instance;
}

void SQLLogger::InitLogFlags() { flags_ = SQL_get_log_flags(); }

int SQLLoggerInitLogFlags() {
  SQLLogger::Instance()->InitLogFlags();
  return 0;
}

void SQLLogger::BeginOutput() {
  if (atLineStart_) {
    SQL_log("%*s", std::min(indent_, kMaxIndent) * 3, "");
    atLineStart_ = false;
  }
}

void SQLLogger::Log(SQLString const &s) { BeginOutput(); SQL_log("%s", s.GetString()); }
void SQLLogger::Log(char const *text) { BeginOutput(); SQL_log("%s", text ? text : ""); }
void SQLLogger::Log(int v) { BeginOutput(); SQL_log("%d", v); }
void SQLLogger::Log(unsigned int v) { BeginOutput(); SQL_log("%u", v); }
void SQLLogger::Log(long v) { BeginOutput(); SQL_log("%ld", v); }
void SQLLogger::Log(unsigned long v) { BeginOutput(); SQL_log("%lu", v); }
void SQLLogger::Log(long long v) { BeginOutput(); SQL_log("%s", bs8_to_ascii(v)); }
void SQLLogger::Log(double v) { BeginOutput(); SQL_log("%lf", v); }
void SQLLogger::Log(bool v) { BeginOutput(); SQL_log("%s", v ? "True" : "False"); }
void SQLLogger::Log(void const *p) {
  BeginOutput();
  SQL_log("%lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
}

void SQLLogger::LogEOL() {
  BeginOutput();
  SQL_log("\n");
  atLineStart_ = true;
}

SQLLogger &operator<<(SQLLogger &log, SQLString const &s) { log.Log(s); return log; }
SQLLogger &operator<<(SQLLogger &log, char const *text) { log.Log(text); return log; }
SQLLogger &operator<<(SQLLogger &log, int v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, unsigned int v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, long v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, unsigned long v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, long long v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, double v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, bool v) { log.Log(v); return log; }
SQLLogger &operator<<(SQLLogger &log, void const *p) { log.Log(p); return log; }

SQLLogger &operator<<(SQLLogger &log, SQLType type) {
  char const *name = nullptr;
  switch (type) {
    case SQL_UNDEFINED: name = "SQL_UNDEFINED"; break;
    case SQL_INTEGER: name = "SQL_INTEGER"; break;
    case SQL_STRING: name = "SQL_STRING"; break;
    case SQL_REAL: name = "SQL_REAL"; break;
    case SQL_DATE: name = "SQL_DATE"; break;
    case SQL_TIMESTAMP: name = "SQL_TIMESTAMP"; break;
    case SQL_INTERVAL_DAYS: name = "SQL_INTERVAL_DAYS"; break;
    case SQL_INTERVAL_SECONDS: name = "SQL_INTERVAL_SECONDS"; break;
    case SQL_ARRAY: name = "SQL_ARRAY"; break;
    case SQL_RAW: name = "SQL_RAW"; break;
  }
  if (name) log.Log(name);
  return log;
}

SQLLogger &operator<<(SQLLogger &log, SQLLogger &(*manipulator)(SQLLogger &)) {
  return manipulator(log);
}

SQLLogger &incind(SQLLogger &log) { log.IncIndent(); return log; }
SQLLogger &decind(SQLLogger &log) { log.DecIndent(); return log; }
SQLLogger &resetind(SQLLogger &log) { log.ResetIndent(); return log; }
SQLLogger &endl(SQLLogger &log) { log.LogEOL(); return log; }
