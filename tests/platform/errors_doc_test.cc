// docs/errors.md against the library: the error table (texts and names) and
// the SQLSTATEs that the sources of the SQL layers and the driver raise.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <molvane/zdb.h>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = MOLVANE_SOURCE_DIR;

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The cells of a table row "| a | b |", or nothing for another line.
std::vector<std::string> Cells(const std::string &line) {
  std::vector<std::string> cells;
  if (line.empty() || line[0] != '|') return cells;
  size_t pos = 1;
  for (size_t bar; (bar = line.find('|', pos)) != std::string::npos; pos = bar + 1)
    cells.push_back(Trim(line.substr(pos, bar - pos)));
  return cells;
}

struct ErrorRow {
  std::string name;
  std::string text;
  std::string meaning;
};

struct Document {
  std::multimap<int, ErrorRow> errors;
  std::multimap<std::string, std::string> states;  // state -> meaning
  std::string text;
};

// The pattern of the quoted SQLSTATE literals, as docs/errors.md gives it;
// IsState below implements it.
constexpr char kStatePattern[] = R"re("((0[7A]|2[0-9]|3[0-9]|HY|QP|QR)[0-9A-Z]{3}|42[IT][0-9A-Z]{2})")re";

bool CodeChar(char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'Z'); }

// A five-character state of the classes the library raises.
bool IsState(const std::string &s) {
  if (s.size() != 5) return false;
  for (char c : s)
    if (!CodeChar(c)) return false;
  if (s.compare(0, 3, "42I") == 0 || s.compare(0, 3, "42T") == 0) return true;
  std::string cls = s.substr(0, 2);
  if (cls == "07" || cls == "0A" || cls == "HY" || cls == "QP" || cls == "QR") return true;
  return (s[0] == '2' || s[0] == '3') && std::isdigit(static_cast<unsigned char>(s[1]));
}

bool IsErrorNumber(const std::string &s) {
  return s.size() == 3 && s[0] >= '1' && s[0] <= '8' && std::isdigit(static_cast<unsigned char>(s[1])) &&
         std::isdigit(static_cast<unsigned char>(s[2]));
}

const Document &Doc() {
  static const Document doc = [] {
    Document d;
    d.text = ReadFile(kSource / "docs/errors.md");
    std::istringstream lines(d.text);
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> c = Cells(line);
      if (c.size() == 4 && IsErrorNumber(c[0])) {
        d.errors.emplace(std::stoi(c[0]), ErrorRow{c[1], c[2], c[3]});
      } else if (c.size() == 2 && IsState(c[0])) {
        d.states.emplace(c[0], c[1]);
      }
    }
    return d;
  }();
  return doc;
}

bool IsCodeFile(const fs::path &p) {
  std::string ext = p.extension().string();
  return ext == ".cc" || ext == ".h" || ext == ".y" || ext == ".l";
}

// The code files under src/ and driver/, concatenated with a line break
// between them.
const std::string &Sources() {
  static const std::string all = [] {
    std::string text;
    for (const char *dir : {"src", "driver"}) {
      if (!fs::is_directory(kSource / dir)) continue;
      for (const auto &entry : fs::recursive_directory_iterator(kSource / dir)) {
        if (entry.is_regular_file() && IsCodeFile(entry.path())) text += ReadFile(entry.path()) + "\n";
      }
    }
    return text;
  }();
  return all;
}

// Every quoted five-character literal of the sources that is a state.
std::set<std::string> RaisedStates() {
  const std::string &text = Sources();
  std::set<std::string> states;
  for (size_t q = text.find('"'); q != std::string::npos && q + 6 < text.size(); q = text.find('"', q + 1)) {
    if (text[q + 6] != '"') continue;
    std::string code = text.substr(q + 1, 5);
    if (IsState(code)) states.insert(code);
  }
  return states;
}

// The state appears in the sources as a word of its own (a literal, or
// inside a text such as "SQLState HYL00: ...").
bool AppearsInSources(const std::string &state) {
  const std::string &text = Sources();
  auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
  for (size_t p = text.find(state); p != std::string::npos; p = text.find(state, p + 1)) {
    bool before = p == 0 || !word(text[p - 1]);
    bool after = p + state.size() >= text.size() || !word(text[p + state.size()]);
    if (before && after) return true;
  }
  return false;
}

// The error numbers that the sources name: "ZE_x = n" and "DD_ERR_x = n"
// constants anywhere (and the public ZE_x of zdb_errors.h), the native numbers of sql_state.h ("k... = n" in its
// sqlerr namespace) and the API's SQL_ERR_x numbers. Each with its name.
std::map<std::string, int> NamedErrorNumbers() {
  std::map<std::string, int> named;
  auto scan = [&named](const std::string &text, const std::vector<std::string> &prefixes) {
    for (const std::string &prefix : prefixes) {
      for (size_t p = text.find(prefix); p != std::string::npos; p = text.find(prefix, p + 1)) {
        if (p > 0 && (std::isalnum(static_cast<unsigned char>(text[p - 1])) || text[p - 1] == '_')) continue;
        size_t end = p;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
        size_t eq = text.find_first_not_of(' ', end);
        if (eq == std::string::npos || text[eq] != '=') continue;
        size_t digits = text.find_first_not_of(' ', eq + 1);
        if (digits == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[digits]))) continue;
        named[text.substr(p, end - p)] = std::stoi(text.substr(digits));
      }
    }
  };
  scan(Sources(), {"ZE_", "DD_ERR_"});
  std::string states = ReadFile(kSource / "src/sql/common/sql_state.h");
  size_t ns = states.find("namespace sqlerr");
  if (ns != std::string::npos) scan(states.substr(ns), {"k"});
  scan(ReadFile(kSource / "include/molvane/sql.h"), {"SQL_ERR_"});
  // The public header names them as "#define ZE_x n".
  std::istringstream published(ReadFile(kSource / "include/molvane/zdb_errors.h"));
  std::string word, name;
  int number = 0;
  while (published >> word) {
    if (word == "#define" && published >> name && name.rfind("ZE_", 0) == 0 && published >> number)
      named[name] = number;
    published.clear();
  }
  return named;
}

// The numbers that the public headers name: "#define ZE_x n" in
// zdb_errors.h and "SQL_ERR_x = n" in sql.h, each with its name.
std::map<int, std::string> PublicNames() {
  std::map<int, std::string> names;
  std::istringstream published(ReadFile(kSource / "include/molvane/zdb_errors.h"));
  std::string word, name;
  int number = 0;
  while (published >> word) {
    if (word == "#define" && published >> name && name.rfind("ZE_", 0) == 0 && published >> number)
      names[number] = name;
    published.clear();
  }
  std::istringstream sql(ReadFile(kSource / "include/molvane/sql.h"));
  while (sql >> word) {
    if (word.rfind("SQL_ERR_", 0) == 0 && sql >> name && name == "=" && sql >> number) names[number] = word;
    sql.clear();
  }
  return names;
}

bool Reserved(const std::string &meaning) { return meaning.rfind("Reserved", 0) == 0; }

std::vector<int> TableNumbers() {
  std::vector<int> numbers;
  for (int n = zdberror_next(0); n != 0; n = zdberror_next(n)) numbers.push_back(n);
  return numbers;
}

TEST(ErrorsDoc, EveryNumberOfTheTableHasItsTextAndName) {
  const Document &doc = Doc();
  std::vector<int> numbers = TableNumbers();
  ASSERT_GT(numbers.size(), 40u);
  std::map<int, std::string> published = PublicNames();
  EXPECT_EQ("ZE_DUPLICATE_VALUE", published[100]);
  EXPECT_EQ("SQL_ERR_TIMEOUT", published[313]);
  for (int n : numbers) {
    SCOPED_TRACE(n);
    EXPECT_EQ(1u, published.count(n)) << "a host needs a name for every number: a ZE_ name in "
                                         "<molvane/zdb_errors.h> or an SQL_ERR_ name in <molvane/sql.h>";
    const char *name = zdberrorname(n);
    ASSERT_NE(nullptr, name) << "every number of the error table needs a name in errnames.cc";
    EXPECT_NE('\0', name[0]);
    ASSERT_EQ(1u, doc.errors.count(n)) << "docs/errors.md needs one row for the number";
    const ErrorRow &row = doc.errors.find(n)->second;
    EXPECT_EQ(zdberrorstr(n), row.text);
    EXPECT_EQ(name, row.name);
    EXPECT_GT(row.meaning.size(), 20u) << "the meaning says what causes it";
  }
}

TEST(ErrorsDoc, DocumentsOnlyNumbersOfTheTable) {
  std::vector<int> numbers = TableNumbers();
  std::set<int> table(numbers.begin(), numbers.end());
  for (const auto &[n, row] : Doc().errors) EXPECT_EQ(1u, table.count(n)) << n << " is not in the error table";
  // No name without a text, and no name twice: a name identifies its number.
  std::map<std::string, int> byName;
  for (int n = 100; n <= 899; ++n) {
    const char *name = zdberrorname(n);
    if (name == nullptr) continue;
    EXPECT_EQ(1u, table.count(n)) << n << " has a name but no text";
    auto [it, fresh] = byName.emplace(name, n);
    EXPECT_TRUE(fresh) << "\"" << name << "\" names " << it->second << " and " << n;
  }
}

TEST(ErrorsDoc, TableNumbersWalkInAscendingOrder) {
  std::vector<int> numbers = TableNumbers();
  for (size_t i = 1; i < numbers.size(); ++i) EXPECT_LT(numbers[i - 1], numbers[i]);
  ASSERT_FALSE(numbers.empty());
  EXPECT_GE(numbers.front(), 100);
  EXPECT_LE(numbers.back(), 899);
  EXPECT_EQ(0, zdberror_next(numbers.back()));
  EXPECT_EQ(numbers.front(), zdberror_next(-5));
}

TEST(ErrorsDoc, EveryNamedErrorNumberIsInTheTable) {
  std::vector<int> numbers = TableNumbers();
  std::set<int> table(numbers.begin(), numbers.end());
  std::map<std::string, int> named = NamedErrorNumbers();
  // The scan must find the numbers (a broken one would pass everything).
  for (const char *known : {"ZE_DUPLICATE_VALUE", "DD_ERR_NO_DD", "kSyntax", "SQL_ERR_INVALID_HANDLE"})
    EXPECT_EQ(1u, named.count(known)) << known;
  for (const auto &[name, number] : named) {
    if (number < 100 || number > 899) continue;
    EXPECT_EQ(1u, table.count(number)) << name << " = " << number
                                       << " is set in zdb_errno but has no text and name in the error table";
  }
}

TEST(ErrorsDoc, EveryRaisedStateIsDocumented) {
  const Document &doc = Doc();
  EXPECT_NE(std::string::npos, doc.text.find(std::string("`") + kStatePattern + "`"))
      << "docs/errors.md names the pattern of the states that this test applies";
  std::set<std::string> raised = RaisedStates();
  // The scan must really find the states (a broken one would pass everything).
  for (const char *known : {"42I00", "42T01", "22012", "HY010", "HYL01", "QP999", "QR000", "07005", "0A000"})
    EXPECT_EQ(1u, raised.count(known)) << known;
  for (const char *other : {"ALIKE", "00000", "42X00", "HYl01", "2201"}) EXPECT_FALSE(IsState(other)) << other;
  for (const std::string &state : raised)
    EXPECT_EQ(1u, doc.states.count(state)) << state << " is raised in the sources but not listed in docs/errors.md";
}

// The rows of the call-sequence and bind states name the API calls a host
// writes, not only the statement's own words.
TEST(ErrorsDoc, SequenceAndBindStatesNameTheApiCalls) {
  const Document &doc = Doc();
  ASSERT_EQ(1u, doc.states.count("HY010"));
  for (const char *pair : {"\"Fetch\" `sql_fetch`", "\"SaveRetryValues\" `sql_save_rpoint`",
                           "\"Retry\" `sql_retry`", "\"Exec\" `sql_exec`"})
    EXPECT_NE(doc.states.find("HY010")->second.find(pair), std::string::npos) << pair;
  ASSERT_EQ(1u, doc.states.count("HYL04"));
  for (const char *call : {"`sql_bind_input`", "`sql_sel_bind`", "`sql_init_func(SQL_FUNC_CRT_EXTVAR"})
    EXPECT_NE(doc.states.find("HYL04")->second.find(call), std::string::npos) << call;
}

// What the pages and headers say of behaviour that changed, and the words
// they must no longer hold.
TEST(ErrorsDoc, PagesSayWhatTheLibraryDoes) {
  struct Claim {
    const char *file;
    const char *holds;
    const char *never;
  };
  for (const Claim &c : std::vector<Claim>{
           {"docs/molvane-host.md", "`--lock-wait-ms=N` (500 ms)", "refused with 107 at once"},
           {"docs/environment-root.md", "whose file is missing is skipped", "any other user is refused at logon"},
           {"docs/db-roles-and-audit-columns.md", "A role whose file is missing is skipped", nullptr},
           {"include/molvane/zdb_cursor.h", "an int32_t of 70000 on a short column is stored as 4464", nullptr},
           {"include/molvane/zdb_errors.h", "db_first or db_last on a table (company) without rows",
            "db_first on an\n * empty table, fails with ZE_NO_RECORD"},
           {"include/molvane/zdb_action.h", "db_first on a table (company) without rows and db_next past the last row",
            "table (company) without rows, and a key read that finds none, with\n * ZE_NO_RECORD"},
           {"include/molvane/zdb.h", "read from\n * lib/user/u<that name>, whatever name `user` is", nullptr},
           {"README.md", "whatever name `zdb_logon` is given", nullptr},
           {"docs/ipc_info.md", "the files of other hosts are not read", "open error 113"},
           {"include/molvane/sql.h", "sql_save_rpoint, between sql_exec and the\n * end of the rows", nullptr},
           {"include/molvane/sql.h", "sql_retry runs the statement again", nullptr},
           {"include/molvane/sql.h", "Ends the rows of the last sql_exec", nullptr},
           {"include/molvane/sql.h", "The same as sql_bind_input", nullptr},
           {"README.md", "cmake --install build --prefix", "A plain `cmake -S . -B build` without one of them"},
           {"README.md", "A plain `cmake -S . -B build` builds the library, the\ndriver and `molvane-host` "
                         "without the tests",
            nullptr},
       }) {
    const std::string text = ReadFile(kSource / c.file);
    EXPECT_NE(text.find(c.holds), std::string::npos) << c.file << " should say: " << c.holds;
    if (c.never != nullptr) {
      EXPECT_EQ(text.find(c.never), std::string::npos) << c.file << " still says: " << c.never;
    }
  }
}

TEST(ErrorsDoc, EveryDocumentedStateIsRaisedOrReserved) {
  const Document &doc = Doc();
  ASSERT_GT(doc.states.size(), 100u);
  for (const auto &[state, meaning] : doc.states) {
    SCOPED_TRACE(state);
    EXPECT_EQ(1u, doc.states.count(state)) << "listed twice";
    EXPECT_GT(meaning.size(), 15u);
    if (!Reserved(meaning)) {
      EXPECT_TRUE(AppearsInSources(state)) << "nothing raises it: mark it \"Reserved\" or remove it";
    }
  }
}

}  // namespace
