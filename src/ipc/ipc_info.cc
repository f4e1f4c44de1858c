// Reading "lib/ipc_info". Each line is split into words (blanks and tabs
// separate; double quotes group, with backslash escaping inside them; a word
// beginning with "#" starts a comment) and checked against the form it
// names. The shape of every line is checked on every lookup, so that a
// mistake in any line is reported instead of silently changing how some
// driver is reached; "${NAME}" is expanded, and the values checked, only in
// the line that applies, since other lines may name variables that are
// set only where those drivers are used.
#include "ipc/ipc_info.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "ipc/ipc_transport.h"
#include "platform/env.h"
#include "platform/log.h"

namespace molvane::ipc {
namespace {

struct LineError {
  std::string text;
};

// Splits one line into words; comments and surrounding blanks removed.
// Returns false with `err` set on an unterminated quote.
bool SplitWords(std::string_view line, std::vector<std::string> *words, LineError *err) {
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string word;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
      if (line[i] != '"') {
        word += line[i++];
        continue;
      }
      ++i;  // opening quote
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) c = line[i++];
        word += c;
      }
      if (!closed) {
        err->text = "unterminated quote";
        return false;
      }
    }
    words->push_back(std::move(word));
  }
  return true;
}

// Value of a variable named in "${NAME}": ZUV is the environment root;
// any other name is looked up with getvar (the process environment, then
// the settings files).
bool VariableValue(const std::string &name, std::string *value) {
  const char *v = nullptr;
  if (name == "ZUV") {
    v = get_zuv();
    if (v != nullptr && *v == '\0') v = nullptr;
  } else {
    v = getvar(name.c_str());
  }
  if (v == nullptr) return false;
  *value = v;
  return true;
}

// Replaces every "${NAME}" of `word`. With `resolve` false only the syntax
// is checked (a line that does not apply may name variables that are not
// set) and `out` is left alone.
bool Expand(const std::string &word, bool resolve, std::string *out, LineError *err) {
  std::string result;
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '$' || i + 1 >= word.size() || word[i + 1] != '{') {
      result += word[i];
      continue;
    }
    size_t close = word.find('}', i + 2);
    if (close == std::string::npos) {
      err->text = "unterminated \"${\"";
      return false;
    }
    std::string name = word.substr(i + 2, close - i - 2);
    std::string value;
    if (name.empty() || (resolve && !VariableValue(name, &value))) {
      err->text = "variable \"" + name + "\" is not set";
      return false;
    }
    result += value;
    i = close;
  }
  if (resolve) *out = std::move(result);
  return true;
}

bool ParseForm(const std::string &word, IpcForm *form) {
  static const struct {
    const char *word;
    IpcForm form;
  } kForms[] = {
      {"child", IpcForm::kChild},
      {"library", IpcForm::kLibrary},
      {"unix", IpcForm::kUnix},
      {"tcp", IpcForm::kTcp},
  };
  for (const auto &f : kForms) {
    if (word == f.word) {
      *form = f.form;
      return true;
    }
  }
  return false;
}

// Checks one non-empty line. With `resolve` the variables are expanded and
// the entry is built and checked in full; without, only the line's shape.
bool ParseLine(const std::vector<std::string> &words, bool resolve, IpcInfoEntry *entry,
               LineError *err) {
  if (words.size() < 2) {
    err->text = "a driver name needs a form (child, library, unix or tcp)";
    return false;
  }
  if (!ParseForm(words[1], &entry->form)) {
    err->text = "unknown form \"" + words[1] + "\"";
    return false;
  }
  if (words.size() < 3 || words[2].empty()) {
    err->text = "form \"" + words[1] + "\" needs a target";
    return false;
  }
  if (words.size() - 3 > kIpcInfoMaxArgs) {
    err->text = "more than " + std::to_string(kIpcInfoMaxArgs) + " arguments";
    return false;
  }
  // A tcp line may name the file of the server's token; a unix line takes
  // nothing more.
  if (entry->form == IpcForm::kUnix && words.size() > 3) {
    err->text = "a unix line takes no arguments";
    return false;
  }
  if (entry->form == IpcForm::kTcp && words.size() > 4) {
    err->text = "a tcp line takes one argument, the server's secret file";
    return false;
  }
  if (!Expand(words[2], resolve, &entry->target, err)) return false;
  entry->args.clear();
  for (size_t i = 3; i < words.size(); ++i) {
    std::string arg;
    if (!Expand(words[i], resolve, &arg, err)) return false;
    entry->args.push_back(std::move(arg));
  }
  if (!resolve) return true;
  switch (entry->form) {
    case IpcForm::kChild:
    case IpcForm::kLibrary:
      break;
    case IpcForm::kUnix:
    case IpcForm::kTcp:
      if (entry->form == IpcForm::kTcp) {
        IpcTcpAddr addr;
        if (ipc_parse_tcp_target(entry->target, &addr) != 0) {
          err->text = "\"" + entry->target + "\" is not a loopback port";
          return false;
        }
      } else if (entry->target.size() >= kIpcUnixPathMax) {
        err->text = "socket path longer than " + std::to_string(kIpcUnixPathMax - 1) + " bytes";
        return false;
      }
      break;
  }
  return true;
}

int LineFailure(const char *label, int line, const LineError &err) {
  log_mesg(__FILE__, __LINE__, "ipc_info", LOG_ERROR, "%s line %d: %s", label, line,
           err.text.c_str());
  errno = EINVAL;
  return -1;
}

std::string RootDir() {
  const char *root = get_zuv();
  return root != nullptr ? std::string(root) : std::string();
}

std::string DirFromEnv(const char *var, const char *below_root) {
  const char *v = getvar(var);
  if (v != nullptr && *v != '\0') return v;
  std::string root = RootDir();
  if (root.empty()) return {};
  return root + "/" + below_root;
}

}  // namespace

int ipc_info_parse(std::string_view text, const char *label, std::string_view name,
                   IpcInfoEntry *out) {
  // The first line for `name` and the first "*" line: words and line number.
  std::vector<std::string> exact_words, wild_words;
  int exact_line = 0, wild_line = 0;
  int line_no = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;

    LineError err;
    std::vector<std::string> words;
    IpcInfoEntry shape;
    bool ok = true;
    if (line.size() > kIpcInfoMaxLine) {
      err.text = "line longer than " + std::to_string(kIpcInfoMaxLine) + " bytes";
      ok = false;
    } else {
      ok = SplitWords(line, &words, &err);
      if (ok && words.empty()) continue;
      if (ok) ok = ParseLine(words, false, &shape, &err);
    }
    if (!ok) return LineFailure(label, line_no, err);
    if (exact_line == 0 && words[0] == name) {
      exact_words = std::move(words);
      exact_line = line_no;
    } else if (wild_line == 0 && words[0] == "*") {
      wild_words = std::move(words);
      wild_line = line_no;
    }
  }
  if (exact_line == 0 && wild_line == 0) {
    *out = IpcInfoEntry{};
    out->target = std::string(name);
    return 0;
  }
  const std::vector<std::string> &words = exact_line != 0 ? exact_words : wild_words;
  int line = exact_line != 0 ? exact_line : wild_line;
  IpcInfoEntry entry;
  LineError err;
  if (!ParseLine(words, true, &entry, &err)) return LineFailure(label, line, err);
  entry.line = line;
  *out = std::move(entry);
  return 0;
}

std::string ipc_info_path() {
  std::string root = RootDir();
  if (root.empty()) return {};
  return root + "/lib/ipc_info";
}

namespace {

// Reads lib/ipc_info whole into `text` (left empty when the file does not
// exist). -1 with errno for a file that cannot be read or is larger than
// kIpcInfoMaxFile; `log` says whether that is worth a log line.
int ReadIpcInfo(const std::string &path, std::string *text, bool log) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return 0;
    int e = errno;
    if (log) log_mesg(__FILE__, __LINE__, "ipc_info", LOG_ERROR, "cannot open %s: errno %d", path.c_str(), e);
    errno = e;
    return -1;
  }
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text->size() + static_cast<size_t>(n) > kIpcInfoMaxFile) {
      int e = n < 0 ? errno : EFBIG;
      close(fd);
      if (log)
        log_mesg(__FILE__, __LINE__, "ipc_info", LOG_ERROR, "cannot read %s: %s", path.c_str(),
                 e == EFBIG ? "file too large" : "read error");
      errno = e;
      return -1;
    }
    if (n == 0) break;
    try {
      text->append(buf, static_cast<size_t>(n));
    } catch (const std::bad_alloc &) {
      close(fd);  // memory that runs out leaves no descriptor behind
      throw;
    }
  }
  close(fd);
  return 0;
}

}  // namespace

int ipc_info_lookup(std::string_view name, IpcInfoEntry *out) {
  std::string path = ipc_info_path();
  std::string text;
  if (!path.empty() && ReadIpcInfo(path, &text, true) < 0) return -1;
  return ipc_info_parse(text, path.empty() ? "ipc_info" : path.c_str(), name, out);
}

std::vector<std::string> ipc_info_names() {
  std::vector<std::string> names;
  std::string path = ipc_info_path();
  std::string text;
  if (path.empty() || ReadIpcInfo(path, &text, false) < 0) return names;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> words;
    LineError err;
    if (SplitWords(std::string_view(text).substr(pos, end - pos), &words, &err) && !words.empty() &&
        std::find(names.begin(), names.end(), words[0]) == names.end())
      names.push_back(words[0]);
    pos = end + 1;
  }
  return names;
}

std::string ipc_bin_dir() { return DirFromEnv("ZUV_BIN", "bin"); }

std::string ipc_shlib_dir() { return DirFromEnv("ZUV_SHLIB", "shlib"); }

}  // namespace molvane::ipc
