#include "host_commands.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include <molvane/zdb.h>

#include "host_errors.h"

namespace molvane::host {

namespace {

std::vector<std::string> Words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool ToInt(const std::string &text, int *value) {
  char *end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

bool HostSession::Fail() { return PrintError(out_, zdb_errno); }

bool HostSession::NeedLogon() {
  if (logged_on_) return true;
  // 508 is what the library answers; the host says it before the library
  // would report an internal state instead.
  reset_zdb_msg();
  zdb_errno = 508;
  return PrintError(out_, 508, "run logon first");
}

bool HostSession::EnsureInit() {
  if (initialised_) return true;
  int rc = zdb_init_api("molvane-host", nullptr, 0, 0);
  if (rc != 0) {
    std::fprintf(out_, "error %d (start-up)\n", rc);
    return false;
  }
  initialised_ = true;
  return true;
}

bool HostSession::Run(const std::string &line) {
  std::size_t bang = line.find_first_not_of(' ');
  if (bang != std::string::npos && line[bang] == '!') {
    // A command that is meant to fail: its failure is the success.
    bool ok = Run(line.substr(bang + 1));
    if (ok) std::fprintf(out_, "unexpected success\n");
    return !ok;
  }
  std::vector<std::string> w = Words(line);
  if (w.empty() || w[0][0] == '#') return true;
  const std::string &cmd = w[0];
  // Each command shows the messages of its own calls only; msg shows those
  // of the command before it.
  if (cmd != "msg") reset_zdb_msg();
  int a = 0, b = 0;
  if (cmd == "echo") {
    std::size_t at = line.find("echo") + 4;
    while (at < line.size() && line[at] == ' ') ++at;
    std::fprintf(out_, "%s\n", line.substr(at).c_str());
    return true;
  }
  if (cmd == "init") {
    int rc = zdb_init_api(w.size() > 1 ? w[1].c_str() : "molvane-host", nullptr, 0, 0);
    initialised_ = rc == 0;
    std::fprintf(out_, rc == 0 ? "ok\n" : "error %d (start-up)\n", rc);
    return rc == 0;
  }
  if (cmd == "logon" && w.size() == 2) {
    if (!EnsureInit()) return false;
    if (zdb_logon(w[1].c_str()) != 0) return Fail();
    logged_on_ = true;
    std::fprintf(out_, "logged on as %s\n", w[1].c_str());
    return true;
  }
  if (cmd == "logoff" && w.size() == 1) {
    if (!logged_on_) return NeedLogon();
    sql_.CloseAll();
    if (zdb_logoff() != 0) return Fail();
    logged_on_ = false;
    std::fprintf(out_, "logged off\n");
    return true;
  }
  if (cmd == "start" && w.size() == 2) {
    if (!NeedLogon()) return false;
    int id = zdb_start_session(w[1].c_str());
    if (id == 0) return Fail();
    trans_ = id;
    std::fprintf(out_, "transaction %s id %d\n", w[1].c_str(), id);
    return true;
  }
  if (cmd == "stop" && w.size() == 2 && ToInt(w[1], &a)) {
    if (!NeedLogon()) return false;
    if (zdb_stop_session(a) != 0) return Fail();
    std::fprintf(out_, "stopped %d\n", a);
    return true;
  }
  if (cmd == "timeout" && w.size() == 3 && ToInt(w[1], &a) && ToInt(w[2], &b)) {
    if (!NeedLogon()) return false;
    if (zdb_set_default_query_timeout(a, b) != 0) return Fail();
    std::fprintf(out_, "timeout %d %d\n", a, b);
    return true;
  }
  if (cmd == "action" && w.size() == 3 && ToInt(w[2], &a)) {
    const char *name = w[1] == "row" ? zdb_row_action(a)
                       : w[1] == "table" ? zdb_table_action(a)
                       : w[1] == "db" ? zdb_db_action(a) : nullptr;
    if (name != nullptr) {
      std::fprintf(out_, "%s\n", name);
      return true;
    }
  }
  if (cmd == "user" && w.size() == 1) {
    char name[300], locale[300];
    std::fprintf(out_, "user %s type %c language %c locale %s\n",
                 zdb_user_info_get_user_name(name), zdb_user_info_get_user_type(),
                 zdb_user_info_get_language(), zdb_user_info_get_locale(locale));
    return true;
  }
  if (cmd == "msg" && w.size() == 1) {
    const char *msg = get_zdb_msg();
    if (msg != nullptr && *msg != '\0')
      std::fprintf(out_, "%s\n", msg);
    else if (zdb_errno != 0)
      std::fprintf(out_, "%s\n", zdberrorstr(zdb_errno));
    else
      std::fprintf(out_, "(none)\n");
    return true;
  }
  if (cmd == "sql") return NeedLogon() && sql_.Run(w, line, trans_);
  if (RecordCommands::IsRecordCommand(cmd) && !NeedLogon()) return false;
  int done = records_.Run(w, trans_);
  if (done >= 0) return done == 1;
  std::fprintf(out_, "unknown command: %s\n", line.c_str());
  return false;
}

int HostSession::RunAll(std::FILE *in) {
  int failed = 0;
  std::string line;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (!Run(line)) ++failed;
    line.clear();
  }
  if (!line.empty() && !Run(line)) ++failed;
  return failed;
}

}  // namespace molvane::host
