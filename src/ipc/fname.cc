// Logical file names: alternatives, prefixes, logical directories and
// variables (see fname.h and docs/logical-file-names.md).
#include "ipc/fname.h"

#include <errno.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "ipc/fname_resolve.h"
#include "platform/env.h"
#include "platform/log.h"

namespace {

std::string &LastName() {
  static std::string last;
  return last;
}

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Replaces "${NAME}" by getvar(NAME) ("${PACKAGE}" by the package); false
// when a variable is unknown or a brace is not closed.
bool ExpandVariables(const std::string &in, const std::string &package, std::string *out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    if (in[i] == '$' && i + 1 < in.size() && in[i + 1] == '{') {
      size_t close = in.find('}', i + 2);
      if (close == std::string::npos) return false;
      std::string name = in.substr(i + 2, close - i - 2);
      const char *value = nullptr;
      if (name == "PACKAGE") {
        if (package.empty()) return false;
        value = package.c_str();
      } else {
        value = getvar(name.c_str());
      }
      if (value == nullptr) return false;
      *out += value;
      i = close + 1;
    } else {
      *out += in[i++];
    }
  }
  return true;
}

// The value of a logical directory, or false when it has none.
bool LogicalDirectory(const std::string &name, std::string *value) {
  const char *v = getvar(name.c_str());
  if (v != nullptr && *v != '\0') {
    *value = v;
    return true;
  }
  if (name == "F_ZRDD") {
    const char *zuv = get_zuv();
    if (*zuv == '\0') return false;
    *value = std::string(zuv) + "/dict";
    return true;
  }
  return false;
}

FnameAlternative Resolve(std::string alt) {
  FnameAlternative out;
  while (!alt.empty() && alt[0] == '{') {
    size_t close = alt.find('}');
    if (close == std::string::npos) break;
    std::string prefix = alt.substr(1, close - 1);
    if (prefix == "nofdlog") {
      out.nolog = true;
    } else if (prefix.rfind("package=", 0) == 0) {
      out.package = prefix.substr(8);
    } else {
      log_mesg(__FILE__, __LINE__, "qelt_sopen", LOG_WARNING, "unknown file name prefix {%s}",
               prefix.c_str());
    }
    alt.erase(0, close + 1);
  }
  out.path = alt;
  size_t bang = alt.find('!');
  if (bang != std::string::npos && bang > 0 && alt.find('/') > bang) {
    out.remote = true;
    return out;
  }
  // A logical directory "NAME:rest".
  size_t colon = alt.find(':');
  std::string dir_part, rest = alt;
  if (colon != std::string::npos && colon > 0 && IsNameStart(alt[0])) {
    bool is_name = true;
    for (size_t i = 0; i < colon; ++i) is_name = is_name && IsNameChar(alt[i]);
    if (is_name) {
      std::string value;
      if (!LogicalDirectory(alt.substr(0, colon), &value)) {
        out.valid = false;
        return out;
      }
      if (!ExpandVariables(value, out.package, &dir_part)) {
        out.valid = false;
        return out;
      }
      while (dir_part.size() > 1 && dir_part.back() == '/') dir_part.pop_back();
      dir_part += "/";
      rest = alt.substr(colon + 1);
    }
  }
  std::string expanded;
  if (!ExpandVariables(rest, out.package, &expanded)) {
    out.valid = false;
    return out;
  }
  out.path = dir_part + expanded;
  return out;
}

}  // namespace

std::vector<FnameAlternative> fname_alternatives(const char *logical_name) {
  std::vector<FnameAlternative> result;
  if (logical_name == nullptr) return result;
  const char *p = logical_name;
  for (;;) {
    const char *semi = std::strchr(p, ';');
    std::string alt = semi != nullptr ? std::string(p, semi) : std::string(p);
    if (!alt.empty()) result.push_back(Resolve(alt));
    if (semi == nullptr) break;
    p = semi + 1;
  }
  return result;
}

void fname_set_last(const std::string &physical) { LastName() = physical; }

extern "C" {

int get_explode_fname(const char *logical_name) {
  for (const FnameAlternative &alt : fname_alternatives(logical_name)) {
    if (alt.remote || !alt.valid) continue;
    struct stat st;
    if (::stat(alt.path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      fname_set_last(alt.path);
      return 1;
    }
  }
  return 0;
}

char *get_last_exploded_fname(char *buffer, size_t size) {
  const std::string &last = LastName();
  if (buffer == nullptr || last.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  if (last.size() >= size) {
    errno = ERANGE;
    return nullptr;
  }
  std::memcpy(buffer, last.c_str(), last.size() + 1);
  return buffer;
}

}  // extern "C"
