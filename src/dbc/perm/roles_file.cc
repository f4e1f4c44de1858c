// Reading role files. A role file is read whole when it is opened, so that
// lines of any length are taken as they are and the permission lines can be
// read again from the start.
#include "dbc/perm/roles_file.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "dbc/perm/roles_list.h"
#include "ipc/stream.h"
#include "platform/env.h"
#include "platform/log.h"

struct ROLE_FILE {
  std::string text;         // the whole file
  size_t body = 0;          // offset of the first line after the header
  size_t next = 0;          // offset of the next line to read
  int next_line_number = 1; // number of the line at `next`
  bool header_read = false;
};

namespace {

// Larger role files are refused rather than read into memory.
constexpr size_t kMaxRoleFile = 64u << 20;

const char *RoleDir(int type) { return type == ROLE_TYPE_SESSION ? "lib/roles/session" : "lib/roles/db"; }

// The line at file->next without its line end; advances past it. False at
// the end of the text.
bool NextLine(ROLE_FILE *file, std::string *line) {
  if (file->next >= file->text.size()) return false;
  size_t end = file->text.find('\n', file->next);
  size_t stop = end == std::string::npos ? file->text.size() : end;
  line->assign(file->text, file->next, stop - file->next);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  file->next = end == std::string::npos ? file->text.size() : end + 1;
  ++file->next_line_number;
  return true;
}

bool Blank(const std::string &line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

bool role_name_ok(const char *name) {
  if (name == nullptr || name[0] == '\0' || name[0] == '.') return false;
  return std::strpbrk(name, "/\\") == nullptr;
}

ROLE_FILE *role_open(int type, const char *name) {
  if (!role_name_ok(name)) {
    errno = EINVAL;
    return nullptr;
  }
  StreamPtr stream(open_zuv_file("%s/%c/%s", RoleDir(type), name[0], name));
  STREAM *in = stream.get();  // closed by `stream` should memory run out
  if (in == nullptr) return nullptr;
  auto file = std::make_unique<ROLE_FILE>();
  char chunk[4096];
  bool failed = false;
  for (;;) {
    long n = sread_blok(chunk, sizeof chunk, in);
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) break;
    if (file->text.size() + static_cast<size_t>(n) > kMaxRoleFile) {
      log_mesg(__FILE__, __LINE__, "Load DB Role", 0, "Rolefile '%s' is larger than %zu bytes",
               name, kMaxRoleFile);
      errno = EFBIG;
      return nullptr;
    }
    file->text.append(chunk, static_cast<size_t>(n));
  }
  if (stream_error(in)) failed = true;
  const int read_error = in->err_no;
  stream.reset();
  if (failed) {
    errno = read_error == ENOMEM ? ENOMEM : EIO;
    return nullptr;
  }
  return file.release();
}

int role_close(ROLE_FILE *file) {
  delete file;
  return 1;
}

int role_read_subroles(ROLE_FILE *file, const char *name, std::string *subroles,
                       bool *has_subroles) {
  file->next = 0;
  file->next_line_number = 1;
  std::string line;
  *has_subroles = false;
  subroles->clear();
  if (!NextLine(file, &line)) return 0;
  file->body = file->next;
  file->header_read = true;
  size_t colon = line.find(':');
  if (line.compare(0, colon, name) != 0) return 0;
  if (colon != std::string::npos) {
    *has_subroles = true;
    subroles->assign(line, colon + 1, std::string::npos);
  }
  return 1;
}

int role_read_perm_line(ROLE_FILE *file, int mode, ROLE_LINE *out) {
  if (mode == 1) {
    if (!file->header_read) {
      std::string skipped;
      NextLine(file, &skipped);
      file->body = file->next;
      file->header_read = true;
    }
    file->next = file->body;
    file->next_line_number = 2;
  }
  std::string line;
  for (;;) {
    int number = file->next_line_number;
    if (!NextLine(file, &line)) return -1;
    rpl_print_line(number, line.c_str());
    if (line[0] == '#' || Blank(line)) continue;
    out->line_number = number;
    size_t first = line.find(':');
    size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) {
      log_mesg(__FILE__, __LINE__, "Corrupt role", 0, "Error while reading role at line %d\n%s",
               number, line.c_str());
      return 0;
    }
    out->name_company.assign(line, 0, second);
    size_t third = line.find(':', second + 1);
    out->has_condition = third != std::string::npos;
    out->letter.assign(line, second + 1,
                       out->has_condition ? third - second - 1 : std::string::npos);
    out->condition.assign(out->has_condition ? line.substr(third + 1) : std::string());
    return 1;
  }
}
