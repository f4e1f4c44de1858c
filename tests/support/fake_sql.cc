#include "support/fake_sql.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/setread/sql_calls.h"

// The handle type of the sql_* calls. The library defines its own
// QPCStatement, with an out-of-line destructor; this one has no members, so
// that no destructor or constructor of its is ever emitted to meet the
// library's at link time.
struct QPCStatement {};

namespace molvane::test {

FakeSql *FakeSql::current = nullptr;

namespace {

struct Value {
  int kind = 0;  // 3 integer, 5 real, 6 bytes
  long long i = 0;
  double d = 0;
  std::string bytes;
};

struct Compare {
  std::vector<const DD_COLUMN *> columns;
  std::string op;
  std::vector<std::string> params;
};

// expr: list of OR terms; term: list of AND factors; factor: comparison or
// nested expr.
struct Expr;
struct Factor {
  Compare compare;
  std::shared_ptr<Expr> nested;
};
struct Expr {
  std::vector<std::vector<Factor>> terms;
};

struct Statement : QPCStatement {
  std::string text;
  const DD_TABLE *table = nullptr;
  std::vector<const DD_COLUMN *> items;
  std::vector<char *> vars;
  Expr where;
  std::vector<std::pair<const DD_COLUMN *, bool>> order;  // column, descending
  int limit = -1;
  std::map<std::string, Value> params;
  std::vector<std::vector<unsigned char>> result;
  std::size_t next = 0;
  bool executed = false;
  bool bad = false;
};

std::vector<std::string> Tokens(const std::string &text) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    if (!cur.empty()) out.push_back(cur);
    cur.clear();
  };
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      flush();
    } else if (c == '{' || c == '}' || c == '(' || c == ')' || c == ',') {
      flush();
      out.emplace_back(1, c);
    } else {
      cur += c;
    }
  }
  flush();
  return out;
}

std::vector<const DD_COLUMN *> Elementary(const DD_COLUMN *c) {
  std::vector<DD_COLUMN *> list(DD_MAX_LIST + 1, nullptr);
  list_column_columns(c, list.data());
  return {list.begin(), list.begin() + get_nr_columns(list.data())};
}

class Parser {
 public:
  Parser(std::vector<std::string> t, Statement *s) : t_(std::move(t)), s_(s) {}
  bool Parse() {
    if (!Eat("SELECT")) return false;
    if (Peek() == "FOR") {
      pos_ += 2;
    }
    std::string item = Next();
    if (!Eat("FROM")) return false;
    std::string table = Next();
    s_->table = ddtable(table.c_str());
    if (s_->table == nullptr) return false;
    if (item == table + ".*") {
      for (int i = 0; i < s_->table->column_count; ++i) {
        const DD_COLUMN *c = &s_->table->columns[i];
        if (c->type == DDT_COMBINED || (c->flags & DDF_NOT_STORED)) continue;
        s_->items.push_back(c);
      }
    } else {
      const DD_COLUMN *c = ddcolumn(item.c_str());
      if (c == nullptr) return false;
      s_->items.push_back(c);
    }
    if (!Eat("WHERE") || !ParseExpr(&s_->where)) return false;
    if (Peek() == "ORDER") {
      pos_ += 2;
      for (;;) {
        const DD_COLUMN *c = ddcolumn(Next().c_str());
        if (c == nullptr) return false;
        s_->order.emplace_back(c, Next() == "DESC");
        if (Peek() != ",") break;
        ++pos_;
      }
    }
    if (Peek() == "AS") {
      pos_ += 3;
      s_->limit = std::atoi(Next().c_str());
      if (!Eat("ROWS")) return false;
    }
    return pos_ == t_.size();
  }

 private:
  std::string Peek() const { return pos_ < t_.size() ? t_[pos_] : ""; }
  std::string Next() { return pos_ < t_.size() ? t_[pos_++] : ""; }
  bool Eat(const char *w) { return Next() == w; }
  bool ParseExpr(Expr *e) {
    for (;;) {
      std::vector<Factor> term;
      for (;;) {
        Factor f;
        if (Peek() == "(") {
          ++pos_;
          f.nested = std::make_shared<Expr>();
          if (!ParseExpr(f.nested.get()) || !Eat(")")) return false;
        } else if (!ParseCompare(&f.compare)) {
          return false;
        }
        term.push_back(f);
        if (Peek() != "AND") break;
        ++pos_;
      }
      e->terms.push_back(term);
      if (Peek() != "OR") return true;
      ++pos_;
    }
  }
  bool ParseCompare(Compare *c) {
    std::string lhs = Next();
    if (lhs == "{") {
      for (;;) {
        const DD_COLUMN *col = ddcolumn(Next().c_str());
        if (col == nullptr) return false;
        for (auto *e : Elementary(col)) c->columns.push_back(e);
        std::string sep = Next();
        if (sep == "}") break;
        if (sep != ",") return false;
      }
    } else {
      const DD_COLUMN *col = ddcolumn(lhs.c_str());
      if (col == nullptr) return false;
      c->columns = Elementary(col);
    }
    c->op = Next();
    if (!Eat("{")) return false;
    for (;;) {
      std::string p = Next();
      if (p.empty() || p[0] != ':') return false;
      c->params.push_back(p.substr(1));
      std::string sep = Next();
      if (sep == "}") break;
      if (sep != ",") return false;
    }
    return c->params.size() == c->columns.size();
  }
  std::vector<std::string> t_;
  std::size_t pos_ = 0;
  Statement *s_;
};

long long Integer(const DD_COLUMN *c, const unsigned char *p) {
  switch (c->type) {
    case DDT_BYTE: case DDT_ENUM: return p[0];
    case DDT_SHORT: return static_cast<std::int16_t>((p[0] << 8) | p[1]);
    default:
      return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) |
                                       p[3]);
  }
}

bool IsText(const DD_COLUMN *c) {
  return c->type == DDT_STRING || c->type == DDT_MBSTRING || c->type == DDT_RAW;
}

int CompareField(const DD_COLUMN *c, const unsigned char *row, const Value &v) {
  const unsigned char *p = row + c->offset;
  if (IsText(c)) {
    std::string field(reinterpret_cast<const char *>(p), c->length);
    std::string value = v.bytes;
    value.resize(c->length, c->type == DDT_RAW ? '\0' : ' ');
    int r = std::memcmp(field.data(), value.data(), c->length);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  double a = c->type == DDT_FLOAT ? float_out(p)
             : c->type == DDT_DOUBLE ? double_out(p)
                                     : static_cast<double>(Integer(c, p));
  double b = v.kind == 5 ? v.d : static_cast<double>(v.i);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareRows(const DD_COLUMN *c, const unsigned char *a, const unsigned char *b) {
  return compare_column(a, b, c);
}

bool Holds(const Compare &c, const Statement &s, const unsigned char *row) {
  int r = 0;
  for (std::size_t i = 0; i < c.columns.size() && r == 0; ++i) {
    auto it = s.params.find(c.params[i]);
    if (it == s.params.end()) return false;
    r = CompareField(c.columns[i], row, it->second);
  }
  if (c.op == "=") return r == 0;
  if (c.op == "<") return r < 0;
  if (c.op == ">") return r > 0;
  if (c.op == "<=") return r <= 0;
  if (c.op == ">=") return r >= 0;
  return false;
}

bool Eval(const Expr &e, const Statement &s, const unsigned char *row) {
  for (const auto &term : e.terms) {
    bool all = true;
    for (const Factor &f : term)
      if (!(f.nested ? Eval(*f.nested, s, row) : Holds(f.compare, s, row))) all = false;
    if (all) return true;
  }
  return false;
}

Statement *Live(QPCStatement *h) {
  if (h == nullptr) {
    zdb_errno = 314;
    return nullptr;
  }
  return static_cast<Statement *>(h);
}

sql_func InitFunc(int number, sql_func f) {
  FakeSql *fake = FakeSql::current;
  if (number < 1 || number > 8) return nullptr;
  sql_func previous = fake->slots[number];
  fake->slots[number] = f;
  return previous;
}

QPCStatement *Parse(const char *text, unsigned long, int) {
  FakeSql *fake = FakeSql::current;
  fake->parsed.emplace_back(text);
  auto s = std::make_unique<Statement>();
  s->text = text;
  Parser parser(Tokens(text), s.get());
  if (!parser.Parse()) {
    zdb_errno = 301;
    return nullptr;
  }
  ++fake->open_statements;
  zdb_errno = 0;
  return s.release();
}

int WhBind(QPCStatement *h, const char *name, int type, int length, void *value) {
  Statement *s = Live(h);
  if (s == nullptr) return -1;
  Value v;
  v.kind = type == 15 ? 6 : type;
  if (type == 3) v.i = *static_cast<std::int32_t *>(value);
  else if (type == 5) v.d = *static_cast<double *>(value);
  else if (type == 6 || type == 15) {
    const unsigned char *p = *static_cast<unsigned char **>(value);
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(length) && (type == 15 || p[n] != 0)) ++n;
    v.bytes.assign(reinterpret_cast<const char *>(p), n);
  } else {
    zdb_errno = 301;
    return -1;
  }
  s->params[name] = v;
  return 0;
}

int Break(QPCStatement *h) {
  Statement *s = Live(h);
  if (s == nullptr) return -1;
  ++FakeSql::current->breaks;
  s->executed = false;
  zdb_errno = 0;
  return 0;
}

int Exec(QPCStatement *h, short compnr) {
  Statement *s = Live(h);
  if (s == nullptr) return -1;
  FakeSql *fake = FakeSql::current;
  if (s->executed) Break(h);
  ++fake->executes;
  if (s->vars.empty()) {
    auto create = reinterpret_cast<sql_crt_extvar_func>(fake->slots[SQL_FUNC_CRT_EXTVAR]);
    for (const DD_COLUMN *c : s->items) {
      unsigned char kind = 1;
      char *var = create(const_cast<char *>(c->name), &kind, nullptr, nullptr, 0);
      if (var == nullptr) {
        s->vars.clear();
        zdb_errno = 301;
        return -1;
      }
      s->vars.push_back(var);
    }
  }
  const std::string table(s->table->name, 8);
  s->result.clear();
  for (const auto &row : fake->Rows(table, compnr))
    if (Eval(s->where, *s, row.data())) s->result.push_back(row);
  const DD_KEY *primary = key_desc(s->table, 1);
  std::stable_sort(s->result.begin(), s->result.end(), [&](const auto &a, const auto &b) {
    for (const auto &[c, desc] : s->order) {
      int r = CompareRows(c, a.data(), b.data());
      if (r != 0) return desc ? r > 0 : r < 0;
    }
    return zdb_compare_key_in_row(a.data(), b.data(), primary) < 0;
  });
  if (s->limit >= 0 && s->result.size() > static_cast<std::size_t>(s->limit))
    s->result.resize(static_cast<std::size_t>(s->limit));
  s->next = 0;
  s->executed = true;
  zdb_errno = 0;
  return 0;
}

void Deliver(FakeSql *fake, Statement *s, const unsigned char *row) {
  auto put = reinterpret_cast<sql_put_extvar_func>(fake->slots[SQL_FUNC_PUT_EXTVAR]);
  for (std::size_t i = 0; i < s->items.size(); ++i) {
    const DD_COLUMN *c = s->items[i];
    const unsigned char *p = row + c->offset;
    const int depth = c->depth > 0 ? c->depth : 1;
    const int width = c->length / depth;
    std::vector<unsigned char> field;
    unsigned char code;
    switch (c->type) {
      case DDT_STRING: case DDT_MBSTRING: code = 6; field.assign(p, p + c->length); break;
      case DDT_RAW: code = 15; field.assign(p, p + c->length); break;
      case DDT_FLOAT: case DDT_DOUBLE:
        code = 5;
        for (int e = 0; e < depth; ++e) {
          unsigned char d[8];
          double_in(c->type == DDT_FLOAT ? float_out(p + e * width) : double_out(p + e * width), d);
          field.insert(field.end(), d, d + 8);
        }
        break;
      default: {
        code = c->type == DDT_DATE ? 7 : (c->type == DDT_TIME ? 8 : 3);
        for (int e = 0; e < depth; ++e) {
          auto v = static_cast<std::uint32_t>(Integer(c, p + e * width));
          for (int k = 3; k >= 0; --k) field.push_back(static_cast<unsigned char>(v >> (8 * k)));
        }
        break;
      }
    }
    int dims[3] = {depth, 0, 0};
    put(s->vars[i], field.data(), code, static_cast<int>(field.size()), dims);
  }
}

int Fetch(QPCStatement *h) {
  Statement *s = Live(h);
  if (s == nullptr) return -1;
  FakeSql *fake = FakeSql::current;
  ++fake->fetches;
  zdb_errno = 0;
  if (!s->executed || s->next >= s->result.size()) {
    zdb_errno = s->next == 0 ? 111 : 110;
    return -1;
  }
  Deliver(fake, s, s->result[s->next++].data());
  return 0;
}

int Close(QPCStatement *h) {
  Statement *s = Live(h);
  if (s == nullptr) return -1;
  ++FakeSql::current->closes;
  --FakeSql::current->open_statements;
  delete s;
  return 0;
}

const DBC_SQL_CALLS kFake = {InitFunc, Parse, WhBind, Exec, Fetch, Break, Close};

}  // namespace

FakeSql::FakeSql() {
  current = this;
  previous_ = dbc_set_sql_calls(&kFake);
}

FakeSql::~FakeSql() {
  dbc_set_sql_calls(previous_);
  current = nullptr;
}

void FakeSql::Put(const DD_TABLE *table, int compnr, const unsigned char *row) {
  Rows(std::string(table->name, 8), compnr).emplace_back(row, row + table->row_length);
}

}  // namespace molvane::test
