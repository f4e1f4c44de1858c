// Translation of a typed description into SQLite SQL. One recursive pass
// both types and translates: a row source returns its SELECT text and the
// descriptors of its result columns; its parent reads that SELECT as a
// derived table under a fresh alias, through which expressions name the
// columns (the scope stack gives enclosing rows to correlated subqueries).
#include "sql/sqlite_translate.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

#include <molvane/datetime.h>
#include <molvane/dd.h>

#include "sql/agent/nw_token.h"
#include "sql/common/row_field.h"
#include "sql/common/sql_exception.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_indexing.h"
#include "sql/exec/sc_like.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/exec/sc_simple_case.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/query_desc_reader.h"
#include "sqlite/sqlite_quote.h"
#include "text/tss.h"

namespace molvane::driver {

Translation::~Translation() {
  if (host != nullptr)
    for (int id : island_ids) host->Unregister(id);
}

std::vector<const DdColumnDesc *> OrdinaryColumns(const DdTableDesc &desc) {
  std::vector<const DdColumnDesc *> out;
  for (const DdColumnDesc &c : desc.columns) {
    if (c.type == DDT_COMBINED || (c.flags & DDF_INDEX) != 0) continue;
    if (c.name == "Refcntu" || c.name == "Refcntd" || c.name == "_compnr" || c.name == "_dlock") continue;
    if (SQLTypeOfColumnType(c.type) == SQL_UNDEFINED) continue;
    out.push_back(&c);
  }
  return out;
}

namespace {

// SQLite's operator, spaced, for a comparison token ("=" for any other).
const char *ComparisonOperator(int token) {
  static const std::pair<int, const char *> kOps[] = {
      {SQLNWTSCEquals, " = "},      {SQLNWTSCNotEquals, " <> "},
      {SQLNWTSCLessThan, " < "},    {SQLNWTSCLessThanOrEquals, " <= "},
      {SQLNWTSCGreaterThan, " > "}, {SQLNWTSCGreaterThanOrEquals, " >= "}};
  for (const auto &o : kOps)
    if (o.first == token) return o.second;
  return " = ";
}

using Descs = std::vector<SQLColumnDescriptor>;
using ExprPtr = std::unique_ptr<SQLRSSCValueExpr>;
using CondPtr = std::unique_ptr<SQLRSSCSearchCond>;

// One column of a row as SQL: one text per element, and its descriptor.
struct ColSql {
  std::vector<std::string> elems;
  SQLColumnDescriptor desc;
  int table = -1;    // a stored column: the number of its table's FROM item, else -1
  bool key = false;  // a stored column that alone is a unique key of its table
};
using Row = std::vector<ColSql>;

[[noreturn]] void Refuse(const std::string &what) {
  throw SQLException("42T00", 302, SQLString(what.c_str()));
}


int DepthOf(const SQLColumnDescriptor &d) { return d.GetDepth() < 1 ? 1 : d.GetDepth(); }

std::vector<std::string> OutNames(std::size_t i, int depth) {
  if (depth <= 1) return {"c" + std::to_string(i)};
  std::vector<std::string> names;
  for (int e = 1; e <= depth; ++e) names.push_back("c" + std::to_string(i) + "_" + std::to_string(e));
  return names;
}

Row RowOf(const std::string &alias, const Descs &descs) {
  Row row;
  for (std::size_t i = 0; i < descs.size(); ++i) {
    ColSql c{{}, descs[i]};
    for (const std::string &n : OutNames(i, DepthOf(descs[i]))) c.elems.push_back(alias + "." + n);
    row.push_back(std::move(c));
  }
  return row;
}

bool IsNumber(SQLType t) { return t == SQL_INTEGER || t == SQL_REAL; }
std::string TypeText(const SQLColumnDescriptor &d) {
  return std::to_string(static_cast<int>(d.GetType())) +
         (DepthOf(d) > 1 ? "[" + std::to_string(DepthOf(d)) + "]" : "");
}

// The pairs SQLValueStore::Compare accepts.
void CheckComparable(const SQLColumnDescriptor &a, const SQLColumnDescriptor &b, const char *what) {
  bool ok = (DepthOf(a) > 1) == (DepthOf(b) > 1) &&
            (a.GetType() == b.GetType() || (IsNumber(a.GetType()) && IsNumber(b.GetType())));
  if (!ok) Refuse(std::string(what) + " of types " + TypeText(a) + " and " + TypeText(b));
}

void CheckScalar(const SQLColumnDescriptor &d, std::initializer_list<SQLType> types, const char *what) {
  bool ok = DepthOf(d) == 1;
  if (ok) {
    ok = false;
    for (SQLType t : types) ok = ok || d.GetType() == t;
  }
  if (!ok) Refuse(std::string(what) + " of type " + TypeText(d));
}

// The operand pairs that SQLValueStore's arithmetic accepts.
void CheckArithmetic(int token, const SQLColumnDescriptor &l, const SQLColumnDescriptor &r) {
  SQLType a = l.GetType(), b = r.GetType();
  bool ok = DepthOf(l) == 1 && DepthOf(r) == 1;
  auto is = [&](SQLType x, SQLType y) { return a == x && b == y; };
  bool numbers = IsNumber(a) && IsNumber(b);
  switch (token) {
    case SQLNWTVEAdd:
      ok = ok && (numbers || is(SQL_REAL, SQL_DATE) || is(SQL_REAL, SQL_INTERVAL_DAYS) ||
                  is(SQL_DATE, SQL_INTEGER) || is(SQL_DATE, SQL_INTERVAL_DAYS) ||
                  is(SQL_TIMESTAMP, SQL_INTERVAL_SECONDS) || is(SQL_TIMESTAMP, SQL_INTEGER) ||
                  is(SQL_INTERVAL_DAYS, SQL_DATE) || is(SQL_INTERVAL_DAYS, SQL_INTERVAL_DAYS) ||
                  is(SQL_INTERVAL_SECONDS, SQL_TIMESTAMP) || is(SQL_INTERVAL_SECONDS, SQL_INTERVAL_SECONDS));
      break;
    case SQLNWTVESubtract:
      ok = ok && (numbers || is(SQL_DATE, SQL_DATE) || is(SQL_DATE, SQL_INTERVAL_DAYS) ||
                  is(SQL_INTERVAL_DAYS, SQL_INTERVAL_DAYS) || is(SQL_TIMESTAMP, SQL_TIMESTAMP) ||
                  is(SQL_TIMESTAMP, SQL_INTERVAL_SECONDS) || is(SQL_INTERVAL_SECONDS, SQL_INTERVAL_SECONDS));
      break;
    case SQLNWTVEMultiply:
      ok = ok && (numbers || is(SQL_INTEGER, SQL_INTERVAL_DAYS) || is(SQL_INTERVAL_DAYS, SQL_INTEGER) ||
                  is(SQL_INTEGER, SQL_INTERVAL_SECONDS) || is(SQL_INTERVAL_SECONDS, SQL_INTEGER));
      break;
    case SQLNWTVEDivide:
      ok = ok && numbers;
      break;
    case SQLNWTVEModulo:
      ok = ok && is(SQL_INTEGER, SQL_INTEGER);
      break;
    case SQLNWTVEConcatenate:
      ok = ok && a == b && (a == SQL_STRING || a == SQL_RAW);
      break;
    default:
      ok = false;
  }
  if (!ok) Refuse("operator " + std::to_string(token) + " on types " + TypeText(l) + " and " + TypeText(r));
}

// A string that SQLite itself compares: as text under the TSS collation.
std::string Collated(const std::string &sql, const SQLColumnDescriptor &d) {
  return d.GetType() == SQL_STRING ? CollatedText(sql, CollationMode()) : sql;
}

// A key of ORDER BY or GROUP BY. SQLite reads an integer literal there
// (parenthesised or signed too) as the number of a result column, so a
// constant key of the statement, e.g. the column `79 AS c` sorted on, is
// made an expression; it then orders nothing, as it should.
std::string Key(const std::string &sql, const SQLColumnDescriptor &d) {
  std::size_t first = sql.find_first_not_of("(+-");
  bool integer = first != std::string::npos && first > 0 && sql.back() == ')' &&
                 sql.find_first_not_of("0123456789", first) == sql.size() - 1 && first < sql.size() - 1;
  return integer ? "CAST(" + sql + " AS INTEGER)" : Collated(sql, d);
}

std::string Join(const std::vector<std::string> &parts, const char *sep) {
  std::string s;
  for (std::size_t i = 0; i < parts.size(); ++i) s += (i ? sep : "") + parts[i];
  return s;
}

// Hex text of bytes, for blob literals.
std::string Hex(const unsigned char *p, unsigned long n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string h;
  h.reserve(2 * n);
  for (unsigned long i = 0; i < n; ++i) {
    h += kDigits[p[i] >> 4];
    h += kDigits[p[i] & 15];
  }
  return h;
}

// A conjunction or disjunction of any length as SQL whose nesting stays
// shallow: SQLite parses a chain of AND/OR into a tree as deep as the
// chain, so long lists are grouped sixteen to a level.
std::string Logical(const std::vector<std::string> &parts, std::size_t lo, std::size_t hi, const char *op) {
  constexpr std::size_t kFan = 16;
  if (hi - lo == 1) return parts[lo];
  std::vector<std::string> groups;
  if (hi - lo <= kFan) {
    groups.assign(parts.begin() + static_cast<std::ptrdiff_t>(lo),
                  parts.begin() + static_cast<std::ptrdiff_t>(hi));
  } else {
    std::size_t step = kFan;
    while ((hi - lo + step - 1) / step > kFan) step *= kFan;
    for (std::size_t i = lo; i < hi; i += step)
      groups.push_back(Logical(parts, i, std::min(hi, i + step), op));
  }
  return "(" + Join(groups, op) + ")";
}

// TRUE when the SQL calls a function of the library that can fail: an
// island's value or condition that can raise for some value, the check
// that a scalar subquery gives at most one row, or a common table
// expression that holds one of these (named qf<n>, see Translator::Cte).
// An island that cannot fail calls mv_xd or mv_cd instead.
bool MayFail(const std::string &sql) {
  for (const char *call : {"mv_x(", "mv_c(", "mv_card("})
    if (sql.find(call) != std::string::npos) return true;
  for (std::size_t at = sql.find("qf"); at != std::string::npos; at = sql.find("qf", at + 1)) {
    const char before = at > 0 ? sql[at - 1] : ' ';
    const bool word = !std::isalnum(static_cast<unsigned char>(before)) && before != '_' && before != '"';
    if (word && at + 2 < sql.size() && std::isdigit(static_cast<unsigned char>(sql[at + 2]))) return true;
  }
  return false;
}

// TRUE when the SQL holds a subquery, which a condition should not run twice.
bool HoldsSubquery(const std::string &sql) { return sql.find("SELECT ") != std::string::npos; }

// The operands of an AND or OR in the order SQLite is to evaluate them,
// those that cannot fail first. SQLite evaluates them as written and stops
// at the first that decides the result (FALSE in an AND, TRUE in an OR):
// an operand that decides then spares the failing ones, as it does in the
// library, whatever the order the query description gave.
std::vector<std::string> FailingLast(std::vector<std::string> parts) {
  std::stable_partition(parts.begin(), parts.end(), [](const std::string &p) { return !MayFail(p); });
  return parts;
}

// What is certain of a condition without evaluating what can fail in it:
// `yes` is TRUE only on rows where the condition is TRUE, `no` only where it
// is FALSE (either is FALSE or NULL where it cannot tell); both read only
// what the condition reads, cannot fail and hold no subquery. Empty where
// nothing short of the condition tells.
struct Certainty {
  std::string yes, no;
};

// A conjunct that SQLite evaluates only where none of `guard` is FALSE
// (FALSE there, as the guard makes the conjunction; where `yes` holds, the
// conjunct is TRUE without the guard, whose own conjuncts decide the
// conjunction anyway). The part stands in a
// WHEN, where SQLite evaluates AND, OR and NOT by jumps and stops at the
// operand that decides, as the library does (in a THEN or ELSE it computes
// both operands of an AND or OR). Where `yes` holds the part is TRUE
// without being evaluated. `top`: the conjunct is one of a WHERE or ON,
// where FALSE and UNKNOWN reject the row alike; elsewhere an UNKNOWN part
// stays UNKNOWN, at the cost of a second evaluation of the part where it is
// not TRUE.
std::string After(const std::vector<std::string> &guard, const std::string &part, const std::string &yes, bool top) {
  std::string sql = "(CASE";
  if (!yes.empty()) sql += " WHEN " + yes + " THEN 1";
  if (!guard.empty()) sql += " WHEN (NOT " + Logical(guard, 0, guard.size(), " AND ") + ") THEN 0";
  sql += " WHEN " + part + " THEN 1";
  sql += top ? " ELSE 0 END)" : " WHEN (NOT " + part + ") THEN 0 END)";
  return sql;
}

// One query block under construction: a SELECT whose parts are still
// open, so that a filter, projection, sort or grouping over it, and the
// inputs of a join, merge into one SELECT instead of nesting a derived
// table per operator (SQLite's parser takes only a few nesting levels,
// and its planner sees through a flat block best). A block that cannot
// take an operator is wrapped: it becomes a common table expression of the
// statement when it reads no enclosing row, else a derived table.
struct Block {
  std::string from;                // FROM clause
  std::vector<std::string> where;  // conjuncts
  Row row;                         // output columns as SQL over the FROM aliases
  std::vector<std::string> group;  // GROUP BY keys
  std::vector<std::string> order;  // ORDER BY keys
  std::vector<std::string> read;   // column elements of the row that `where` reads
  std::string compound;            // a whole UNION; the parts above are unused
  bool grouped = false;
  bool computed = false;    // row holds expressions other than stored columns
  bool single = false;      // from is one item (a stored table or a wrapped block)
  bool correlated = false;  // reads a row of an enclosing query
  // A chain: from is `head` (one item) followed by `tail`, LEFT joins each
  // of whose ON conditions cannot be TRUE while the items before it are
  // NULL, so that a row whose head is NULL is NULL throughout. `in_head`
  // says which columns of the row are the head's.
  bool chain = false;
  std::string head, tail;
  std::vector<bool> in_head;
  // The tables (ColSql::table) of the FROM items that a join's condition
  // joins by a unique key: at most one row of each per row of the others.
  std::vector<int> unique_joined;
  std::vector<int> tables;  // the tables of the FROM items, when all are stored tables
  // The conjuncts that cannot fail of the ON conditions of the INNER joins
  // of `from`: what the parts of the WHERE that can fail wait for.
  std::vector<std::string> joins;
  bool plain() const { return compound.empty() && !grouped && order.empty() && !computed; }
};

// Adds the columns of the row (references of level 0) that an expression
// or condition reads to `out`; false when it holds a subquery, whose
// references are not followed.
bool ReadColumns(const QdExpr &e, std::vector<int> *out) {
  if (e.subquery) return false;
  if (e.token == SQLNWTVEColRef && e.level == 0) out->push_back(e.column);
  for (const auto &a : e.args)
    if (a && !ReadColumns(*a, out)) return false;
  return true;
}

bool ReadColumns(const QdCond &c, std::vector<int> *out) {
  if (c.subquery) return false;
  for (const auto &x : c.conds)
    if (x && !ReadColumns(*x, out)) return false;
  for (const auto &e : c.exprs)
    if (e && !ReadColumns(*e, out)) return false;
  return true;
}

// The conjuncts of a condition (an AND's operands, nested ANDs flattened).
void Conjuncts(const QdCond &c, std::vector<const QdCond *> *out) {
  if (c.token != SQLNWTSCAnd) {
    out->push_back(&c);
    return;
  }
  for (const auto &x : c.conds)
    if (x) Conjuncts(*x, out);
}

// Adds to `joined` the table of each unique key column of the row that a
// conjunct sets equal to a term reading no column of that table.
void UniqueJoined(const std::vector<const QdCond *> &conjuncts, const Row &row, std::vector<int> *joined) {
  auto known = [&](const QdExpr &e) -> const ColSql * {
    if (e.token != SQLNWTVEColRef || e.level != 0 || e.column < 0 || static_cast<std::size_t>(e.column) >= row.size())
      return nullptr;
    const ColSql &c = row[static_cast<std::size_t>(e.column)];
    return c.key && c.table >= 0 ? &c : nullptr;
  };
  for (const QdCond *c : conjuncts) {
    if (c->token != SQLNWTSCEquals || c->n != 1 || c->exprs.size() != 2 || !c->exprs[0] || !c->exprs[1]) continue;
    for (int side = 0; side < 2; ++side) {
      const ColSql *key = known(*c->exprs[static_cast<std::size_t>(side)]);
      std::vector<int> read;
      if (key == nullptr || !ReadColumns(*c->exprs[static_cast<std::size_t>(1 - side)], &read)) continue;
      bool other = std::all_of(read.begin(), read.end(), [&](int r) {
        return r < 0 || static_cast<std::size_t>(r) >= row.size() || row[static_cast<std::size_t>(r)].table != key->table;
      });
      if (other) joined->push_back(key->table);
    }
  }
}

// TRUE when the condition cannot be TRUE while the columns [from, to) of
// the row are NULL: a conjunct compares one of them, a scalar, by =, <>,
// <, <=, > or >= (NULL there gives UNKNOWN, in SQLite as in the library).
bool RejectsNull(const QdCond &c, const Row &row, std::size_t from, std::size_t to) {
  if (c.token == SQLNWTSCAnd) {
    for (const auto &x : c.conds)
      if (x && RejectsNull(*x, row, from, to)) return true;
    return false;
  }
  static const int kComparisons[] = {SQLNWTSCEquals,   SQLNWTSCNotEquals,  SQLNWTSCLessThan,
                                     SQLNWTSCLessThanOrEquals, SQLNWTSCGreaterThan, SQLNWTSCGreaterThanOrEquals};
  if (std::find(std::begin(kComparisons), std::end(kComparisons), c.token) == std::end(kComparisons) || c.n != 1 ||
      c.exprs.size() != 2)
    return false;
  for (const auto &e : c.exprs) {
    if (!e || e->token != SQLNWTVEColRef || e->level != 0 || e->column < 0) continue;
    auto column = static_cast<std::size_t>(e->column);
    if (column >= from && column < to && column < row.size() && DepthOf(row[column].desc) == 1) return true;
  }
  return false;
}

class Translator {
 public:
  Translator(const TableLookup &tables, SqlFunctionHost *host, Translation *out)
      : tables_(tables), host_(host), out_(out) {}

  // The SQL of a query description, result columns named c0, c1, ...
  std::string Query(const QdRowSource &rs, Descs *descs) {
    Block b = Select(rs);
    descs->clear();
    for (const ColSql &c : b.row) descs->push_back(c.desc);
    return With() + Render(b);
  }
  std::string Dml(const QdDml &dml);

 private:
  struct Scoped {
    Scoped(Translator *t, const Row *row) : t_(t) { t_->scopes_.push_back(row); }
    ~Scoped() { t_->scopes_.pop_back(); }
    Translator *t_;
  };
  // While it lives, the column elements resolved in the innermost scope
  // (also from subqueries within) are appended to `out`.
  struct Reading {
    Reading(Translator *t, std::vector<std::string> *out) : t_(t) {
      t_->readers_.emplace_back(t_->scopes_.size() - 1, out);
    }
    ~Reading() { t_->readers_.pop_back(); }
    Translator *t_;
  };

  std::string Alias() { return "t" + std::to_string(++aliases_); }
  // Adds the conjuncts of a filter's condition to the block's WHERE.
  void Where(const QdCond &cond, Block *b);
  std::string With() const { return ctes_.empty() ? "" : "WITH " + Join(ctes_, ", ") + " "; }
  const DdTableDesc &Table(const std::string &name, int compnr) {
    const DdTableDesc *d = tables_(name, compnr);
    if (d == nullptr)
      throw SQLException(
          "42S02", 513,
          SQLString(("Table " + name + " company " + std::to_string(compnr) + " not held").c_str()));
    return *d;
  }
  const ColSql &Resolve(int level, int column) {
    int index = static_cast<int>(scopes_.size()) - 1 + level;
    if (index < 0 || level > 0)
      Refuse("column reference to level " + std::to_string(level) + " outside the description");
    const Row &row = *scopes_[static_cast<std::size_t>(index)];
    if (column < 0 || column >= static_cast<int>(row.size()))
      Refuse("column " + std::to_string(column) + " of a row of " + std::to_string(row.size()));
    min_ref_ = std::min(min_ref_, index);
    const ColSql &c = row[static_cast<std::size_t>(column)];
    for (const auto &[scope, out] : readers_)
      if (scope == static_cast<std::size_t>(index)) out->insert(out->end(), c.elems.begin(), c.elems.end());
    return c;
  }
  int Register(std::unique_ptr<SqlIsland> island) {
    int id = host_->Register(island.get());
    out_->island_ids.push_back(id);
    out_->islands.push_back(std::move(island));
    return id;
  }
  SQLParameter *StatementParam(const QdExpr &e) {
    auto &slot = out_->params[e.param_id];
    if (!slot) {
      slot = std::make_unique<SQLParameter>();
      slot->SetType(e.type, static_cast<unsigned long>(e.length), e.depth);
      slot->SetNumericTypeOpen(false);
      slot->SetNull();
    } else if (slot->GetType() != e.type || slot->GetDepth() != e.depth) {
      Refuse("parameter " + std::to_string(e.param_id) + " declared with two types");
    }
    return slot.get();
  }
  // The SQLite variable that carries a statement parameter.
  std::string Variable(SQLParameter *p) {
    for (std::size_t i = 0; i < out_->binds.size(); ++i)
      if (out_->binds[i] == p) return "?" + std::to_string(i + 1);
    out_->binds.push_back(p);
    return "?" + std::to_string(out_->binds.size());
  }

  Block Select(const QdRowSource &rs);
  Block SelectNode(const QdRowSource &rs, std::size_t entry);
  Block JoinNode(const QdRowSource &rs, std::size_t entry);
  Block UnionNode(const QdRowSource &rs, std::size_t entry);
  // The block as the FROM item of a new block (see Block).
  Block Wrap(const Block &b, std::size_t entry);
  std::string Render(const Block &b, const std::vector<std::string> *items = nullptr) const;
  // FROM and what follows it.
  std::string Tail(const Block &b) const;
  // Each element of the row named c<i> or c<i>_<e>.
  static std::vector<std::string> NamedItems(const Row &row, bool collate);
  // A GROUP BY key that no index is to serve, for SQLite to sort by. A
  // stored text column of mode 1 is grouped by its bytes: every value of
  // the column fills its width, and two texts of one width are equal in
  // the mode's order exactly when their bytes are (sqlite_functions.h), so
  // the groups are the same and no comparison calls the collation. Any
  // other key is written as an expression (+key).
  std::string SortedKey(const std::string &sql, const SQLColumnDescriptor &d) const {
    bool bytes = d.GetType() == SQL_STRING && CollationMode() == TSS_MODE_CLASSIC &&
                 std::find(stored_.begin(), stored_.end(), sql) != stored_.end();
    return bytes ? sql : "+" + Key(sql, d);
  }
  // A stored text column of mode 1 (see SortedKey).
  bool StoredText(const ColSql &c) const {
    return c.desc.GetType() == SQL_STRING && DepthOf(c.desc) == 1 && CollationMode() == TSS_MODE_CLASSIC &&
           std::find(stored_.begin(), stored_.end(), c.elems[0]) != stored_.end();
  }
  // A common table expression of the statement; its name says whether it
  // can fail (MayFail).
  std::string Cte(const std::string &sql) {
    std::string name = (MayFail(sql) ? "qf" : "q") + std::to_string(ctes_.size() + 1);
    ctes_.push_back(name + " AS (" + sql + ")");
    return name;
  }

  ColSql Expr(const QdExpr &e);
  std::optional<ColSql> Native(const QdExpr &e);
  ExprPtr Lib(const QdExpr &e, SqlIsland &island, std::vector<std::string> &args);
  ExprPtr Leaf(const ColSql &c, SqlIsland &island, std::vector<std::string> &args) {
    SQLParameter *p = island.AddLeaf(c.desc);
    args.insert(args.end(), c.elems.begin(), c.elems.end());
    return std::make_unique<SQLRSSCParameterRef>(p);
  }
  std::string Cond(const QdCond &c);
  // What is certain of a condition's SQL (Certainty), as Cond recorded it
  // for one that can fail.
  Certainty CertainOf(const std::string &sql) const;
  // A conjunction of the parts, those that can fail last; `top`: of a
  // WHERE or ON (After).
  std::string Conjunction(const std::vector<std::string> &parts, bool top) const;
  // The conjunction of a WHERE or a join's ON, its parts that can fail
  // waiting for `joins`.
  std::string JoinedConjunction(const std::vector<std::string> &parts, const std::vector<std::string> &joins) const;
  // TRUE when the expression reads nothing but constants.
  static bool Constant(const QdExpr &e);
  // TRUE when evaluating the expression (or condition) can raise for some
  // row; FALSE when it never does (a constant part that the library
  // evaluates without an error counts as such).
  bool CanFail(const QdExpr &e);
  bool CanFail(const QdCond &c);
  // Evaluates a library expression over constants now: its value, or null
  // when it raises.
  std::optional<SQLValueStore> Evaluated(ExprPtr x);
  static std::optional<std::string> Literal(const SQLValueStore &v);
  std::optional<std::string> NativeCond(const QdCond &c);
  std::optional<std::string> PlainComparison(const QdCond &c);
  bool PlainShape(const QdExpr &e, SQLType *type);
  SQLType PlainTerm(const QdExpr &e, std::string *sql, std::vector<std::string> *checks,
                    std::optional<long long> *value);
  // The condition as one island; `failing`: it can fail (CanFail).
  std::string IslandCond(const QdCond &c, bool failing);
  CondPtr LibCond(const QdCond &c, SqlIsland &island, std::vector<std::string> &args);
  pSQLRSSCValueExprList *MakeList(std::vector<ExprPtr> &exprs, std::size_t from, std::size_t n) {
    auto *list = new pSQLRSSCValueExprList();
    for (std::size_t i = from; i < from + n; ++i) list->Append(exprs[i].release());
    return list;
  }
  ColSql ScalarSubquery(const QdRowSource &rs);
  ColSql TextContent(const QdExpr &e);

  const TableLookup &tables_;
  SqlFunctionHost *host_;
  Translation *out_;
  std::vector<const Row *> scopes_;
  std::vector<std::string> stored_;  // the stored columns read, each as its table's alias names it
  std::vector<std::pair<std::size_t, std::vector<std::string> *>> readers_;  // see Reading
  std::vector<std::string> ctes_;
  std::map<std::string, Certainty> certain_;  // of the conditions that can fail, by their SQL
  int aliases_ = 0;
  int min_ref_ = INT_MAX;  // lowest scope read since the current row source began
};

std::vector<std::string> Translator::NamedItems(const Row &row, bool collate) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < row.size(); ++i) {
    std::vector<std::string> names = OutNames(i, DepthOf(row[i].desc));
    for (std::size_t e = 0; e < names.size(); ++e)
      items.push_back((collate ? Collated(row[i].elems[e], row[i].desc) : row[i].elems[e]) + " AS " +
                      names[e]);
  }
  return items;
}

std::string Translator::Render(const Block &b, const std::vector<std::string> *items) const {
  if (!b.compound.empty()) return b.compound;
  std::vector<std::string> named;
  if (items == nullptr) {
    named = NamedItems(b.row, false);
    items = &named;
  }
  return "SELECT " + Join(*items, ", ") + Tail(b);
}

Certainty Translator::CertainOf(const std::string &sql) const {
  if (!MayFail(sql)) return HoldsSubquery(sql) ? Certainty{} : Certainty{sql, "(NOT " + sql + ")"};
  auto it = certain_.find(sql);
  return it == certain_.end() ? Certainty{} : it->second;
}

// SQLite tests the terms of a WHERE that hold a correlated subquery after
// the others, so a part that can fail waits for the parts with one through
// a CASE: it is evaluated only where none of them is FALSE. (A correlated
// subquery reads its tables itself; an uncorrelated one, tested first,
// reads its common table expression.) It waits likewise for the parts that
// can fail written before it that hold a subquery (a scalar subquery's
// one-row check), so that of two that can fail the one written first is
// evaluated first.
std::string Translator::Conjunction(const std::vector<std::string> &parts, bool top) const {
  std::vector<std::string> ordered = FailingLast(parts);
  std::vector<std::string> before;
  for (const std::string &p : ordered)
    if (!MayFail(p) && HoldsSubquery(p) && p.find(" FROM \"") != std::string::npos) before.push_back(p);
  for (std::string &p : ordered) {
    if (!MayFail(p)) continue;
    std::string const written = p;
    if (!before.empty()) p = After(before, p, CertainOf(p).yes, top);
    if (HoldsSubquery(written)) before.push_back(written);
  }
  return Logical(ordered, 0, ordered.size(), " AND ");
}

// SQLite evaluates a conjunct in the outermost loop that holds the tables
// it reads, so a part over one table that can fail would fail on rows of
// that table that no row of the others joins, and whether it does would
// depend on SQLite's loop order; over one table it evaluates a part that
// reads only the columns of the index it scans before the others, which
// need the row. Each part that can fail is evaluated instead only where
// none of the parts that cannot fail and of `joins` (the conditions of the
// INNER joins of the FROM clause) is FALSE, as the library evaluates it on
// the joined rows. So that this costs no plan, what is certain of the part
// without what can fail in it (Certainty) stands beside it as a conjunct
// of its own: SQLite tests that in the loop of the part's own table and
// drops there the rows that the part rejects for certain. Where the part
// is certainly TRUE it is not evaluated at all. Parts that can fail keep
// their written order in the loop that tests them all; one that holds a
// subquery, which SQLite tests last, is waited for by those after it.
std::string Translator::JoinedConjunction(const std::vector<std::string> &parts,
                                          const std::vector<std::string> &joins) const {
  std::vector<std::string> guard = joins, ordered;
  for (const std::string &p : parts)
    if (!MayFail(p)) {
      guard.push_back(p);
      ordered.push_back(p);
    }
  if (guard.empty() || ordered.size() == parts.size()) return Conjunction(parts, true);
  std::vector<std::string> waits = guard;
  for (const std::string &p : parts) {
    if (!MayFail(p)) continue;
    Certainty const c = CertainOf(p);
    if (!c.no.empty()) ordered.push_back("(" + c.no + " IS NOT 1)");
    ordered.push_back(After(waits, p, c.yes, true));
    if (HoldsSubquery(p)) waits.push_back(p);
  }
  return Logical(ordered, 0, ordered.size(), " AND ");
}

std::string Translator::Tail(const Block &b) const {
  std::string sql = " FROM " + b.from;
  if (!b.where.empty()) sql += " WHERE " + JoinedConjunction(b.where, b.joins);
  if (!b.group.empty()) sql += " GROUP BY " + Join(b.group, ", ");
  if (!b.order.empty()) sql += " ORDER BY " + Join(b.order, ", ");
  return sql;
}

Block Translator::Wrap(const Block &b, std::size_t entry) {
  Block w;
  std::string alias = Alias();
  std::string sql = Render(b);
  w.correlated = b.correlated || min_ref_ < static_cast<int>(entry);
  w.from = (w.correlated ? "(" + sql + ")" : Cte(sql)) + " AS " + alias;
  w.single = true;
  Descs descs;
  for (const ColSql &c : b.row) descs.push_back(c.desc);
  w.row = RowOf(alias, descs);
  return w;
}

Block Translator::Select(const QdRowSource &rs) {
  std::size_t entry = scopes_.size();
  int saved = min_ref_;
  min_ref_ = INT_MAX;
  Block b = SelectNode(rs, entry);
  b.correlated = b.correlated || min_ref_ < static_cast<int>(entry);
  min_ref_ = std::min(saved, min_ref_);
  return b;
}

Block Translator::SelectNode(const QdRowSource &rs, std::size_t entry) {
  if (rs.token == SQLNWTRSTable) {
    const DdTableDesc &table = Table(rs.table, rs.compnr);
    Block b;
    std::string alias = Alias();
    int const number = aliases_;
    // The columns that alone make a unique key.
    std::vector<std::string> keys;
    for (const DdKeyDesc &k : table.keys)
      if ((k.index_nr == 1 || k.duplicates == 0) && k.columns.size() == 1 && k.columns[0] < table.columns.size())
        keys.push_back(table.columns[k.columns[0]].name);
    for (const DdColumnDesc *c : OrdinaryColumns(table)) {
      int depth = c->depth > 1 ? c->depth : 1;
      ColSql col{{},
                 SQLColumnDescriptor(c->name.c_str(), SQLTypeOfColumnType(c->type),
                                     static_cast<unsigned long>(c->length / depth), depth)};
      for (int e = 0; e < depth; ++e)
        col.elems.push_back(alias + "." +
                            Quote(depth == 1 ? c->name : c->name + "_" + std::to_string(e + 1)));
      stored_.insert(stored_.end(), col.elems.begin(), col.elems.end());
      col.table = number;
      col.key = depth == 1 && std::find(keys.begin(), keys.end(), c->name) != keys.end();
      b.row.push_back(std::move(col));
    }
    if (b.row.empty()) Refuse("table " + rs.table + " without columns");
    b.from = Quote(SqliteTableName(rs.table, rs.compnr)) + " AS " + alias;
    b.single = true;
    b.tables = {number};
    return b;
  }
  if (rs.token == SQLNWTRSJoin) return JoinNode(rs, entry);
  if (rs.token == SQLNWTRSUnion) return UnionNode(rs, entry);

  Block b = Select(*rs.inputs[0]);
  switch (rs.token) {
    case SQLNWTRSFilter: {
      if (!b.compound.empty() || b.grouped || b.computed) b = Wrap(b, entry);
      Scoped scope(this, &b.row);
      Reading reading(this, &b.read);
      Where(*rs.cond, &b);
      return b;
    }
    case SQLNWTRSProject: {
      bool refs = true;
      for (const auto &e : rs.exprs) refs = refs && e->token == SQLNWTVEColRef && e->level == 0;
      if (!b.compound.empty() || ((b.grouped || b.computed) && !refs)) b = Wrap(b, entry);
      Row row;
      {
        Scoped scope(this, &b.row);
        for (const auto &e : rs.exprs) row.push_back(Expr(*e));
      }
      b.row = std::move(row);
      b.computed = b.computed || !refs;
      return b;
    }
    case SQLNWTRSSort: {
      if (!b.compound.empty()) b = Wrap(b, entry);
      std::vector<std::string> keys;
      for (const QdSortSpec &s : rs.sort) {
        if (s.column < 0 || s.column >= static_cast<int>(b.row.size()))
          Refuse("sort column " + std::to_string(s.column) + " of a row of " + std::to_string(b.row.size()));
        const ColSql &c = b.row[static_cast<std::size_t>(s.column)];
        for (const std::string &e : c.elems)
          keys.push_back(Key(e, c.desc) + (s.descending ? " DESC NULLS FIRST" : " ASC NULLS LAST"));
      }
      // A sort keeps the order of its input among equal keys.
      keys.insert(keys.end(), b.order.begin(), b.order.end());
      b.order = std::move(keys);
      return b;
    }
    case SQLNWTRSGroup: {
      b.order.clear();  // a grouping's order is its own
      if (!b.plain()) b = Wrap(b, entry);
      Scoped scope(this, &b.row);
      std::vector<std::string> keys, sorted;
      for (int g : rs.group_columns) {
        const ColSql &c = Resolve(0, g);
        keys.insert(keys.end(), c.elems.begin(), c.elems.end());
        for (const std::string &e : c.elems) {
          b.group.push_back(Key(e, c.desc));
          sorted.push_back(SortedKey(e, c.desc));
        }
      }
      std::vector<std::string> read = b.read;  // what the grouped query reads of the row
      Reading reading(this, &read);
      Row row;
      for (const QdGroupSpec &spec : rs.group_specs) {
        if (spec.token == SQLNWTColumnId) {
          const ColSql &c = Resolve(0, spec.column);
          row.push_back(ColSql{
              c.elems, SQLColumnDescriptor("", c.desc.GetType(), c.desc.GetLength(), c.desc.GetDepth())});
          continue;
        }
        if (spec.token == SQLNWTCountStar) {
          row.push_back(ColSql{{"count(*)"}, SQLColumnDescriptor("", SQL_INTEGER, 0, 1)});
          continue;
        }
        ColSql arg = Expr(*spec.arg);
        if (DepthOf(arg.desc) > 1) Refuse("set function over an array");
        std::string type = std::to_string(static_cast<int>(arg.desc.GetType()));
        switch (spec.token) {
          case SQLNWTCount:
            row.push_back(
                ColSql{{"count(" + arg.elems[0] + ")"}, SQLColumnDescriptor("", SQL_INTEGER, 0, 1)});
            break;
          case SQLNWTAvg:
            CheckScalar(arg.desc, {SQL_INTEGER, SQL_REAL}, "AVG");
            row.push_back(ColSql{{"mv_avg(" + type + ", " + arg.elems[0] + ")"},
                                 SQLColumnDescriptor("", SQL_REAL, 0, 1)});
            break;
          case SQLNWTSum:
            CheckArithmetic(SQLNWTVEAdd, arg.desc, arg.desc);
            [[fallthrough]];
          default: {
            const char *fn = spec.token == SQLNWTMin   ? "mv_min("
                             : spec.token == SQLNWTMax ? "mv_max("
                                                       : "mv_sum(";
            // A SUM names its column should it leave its range.
            const char *name = arg.desc.GetName();
            const std::string column =
                spec.token == SQLNWTSum ? ", '" + std::string(name != nullptr ? name : "") + "'" : std::string();
            row.push_back(ColSql{{fn + type + ", " + arg.elems[0] + column + ")"},
                                 SQLColumnDescriptor("", arg.desc.GetType(), arg.desc.GetLength(), 1)});
          }
        }
      }
      // SQLite groups by walking an index of the keys where one serves, and
      // reads the rows in the index's order: a page read per row once the
      // table outgrows the cache. The walk stands where the query reads
      // nothing but the keys (a COUNT of them); otherwise the keys are
      // written so that no index serves them, and SQLite scans the table
      // and sorts.
      bool covered = b.single && std::all_of(read.begin(), read.end(), [&](const std::string &e) {
                       return std::find(keys.begin(), keys.end(), e) != keys.end();
                     });
      if (!covered) b.group = std::move(sorted);
      b.row = std::move(row);
      b.grouped = true;
      return b;
    }
    case SQLNWTRSConstLeftOuterJoin: {
      if (!b.plain() || !b.single) b = Wrap(b, entry);
      std::vector<std::string> on = b.where;
      {
        Scoped scope(this, &b.row);
        on.push_back(Cond(*rs.cond));
      }
      b.from =
          "(SELECT 1) AS k" + Alias() + " LEFT JOIN " + b.from + " ON " + Conjunction(on, true);
      b.where.clear();
      b.single = false;
      return b;
    }
    default:  // prepare and hints change nothing of the rows
      return b;
  }
}

void Translator::Where(const QdCond &cond, Block *b) {
  std::vector<const QdCond *> conjuncts;
  Conjuncts(cond, &conjuncts);
  std::vector<std::string> parts;
  std::vector<bool> dear;
  std::vector<int> table;  // a cheap conjunct's one table, else -1
  for (const QdCond *c : conjuncts) {
    std::vector<int> read;
    bool const cheap = ReadColumns(*c, &read);
    int t = -1;
    for (std::size_t i = 0; cheap && i < read.size(); ++i) {
      int const r = read[i];
      int const of = r >= 0 && static_cast<std::size_t>(r) < b->row.size() ? b->row[static_cast<std::size_t>(r)].table : -1;
      t = of < 0 || (i > 0 && of != t) ? -1 : of;
      if (t < 0) break;
    }
    parts.push_back(Cond(*c));
    dear.push_back(!cheap);
    table.push_back(t);
  }
  // SQLite evaluates a conjunct in the outermost loop that holds the
  // tables it reads, and orders its loops without the cost of subqueries:
  // a subquery over one table's row would run for every row of that
  // table before a cheap condition on another table, looked up by its
  // unique key, rejects the row. Each conjunct holding a subquery is
  // made to wait for the cheap one-table conditions of such tables (CASE
  // WHEN they hold THEN it END, whose truth in a WHERE is theirs AND its):
  // where at most one table of the block is not joined by a unique key, it
  // then runs for no more rows than before, and for none that they reject.
  // SQLite takes such a condition for one that keeps nearly every row of
  // its table, and reads the other table first, seeking the joined one per
  // row; written as unlikely(), it lets SQLite read the condition's table
  // first where an index serves the join from there, so that a condition
  // no row meets spares the other table and the dear part.
  std::vector<std::string> guards;
  std::vector<bool> guarding(parts.size(), false);
  const std::vector<int> &tables = b->tables;
  if (!b->single && tables.size() > 1 && std::find(dear.begin(), dear.end(), true) != dear.end()) {
    std::vector<int> joined = b->unique_joined;
    UniqueJoined(conjuncts, b->row, &joined);
    auto isJoined = [&](int t) { return std::find(joined.begin(), joined.end(), t) != joined.end(); };
    if (std::count_if(tables.begin(), tables.end(), [&](int t) { return !isJoined(t); }) <= 1)
      for (std::size_t i = 0; i < parts.size(); ++i)
        if (!dear[i] && table[i] >= 0 && isJoined(table[i]) && !MayFail(parts[i])) {
          guards.push_back(parts[i]);
          guarding[i] = true;
        }
  }
  std::string const guard = guards.empty() ? "" : Logical(guards, 0, guards.size(), " AND ");
  // The dear parts go last; those that can fail keep the order they were
  // written in among themselves and with the dear ones.
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (!dear[i] && !MayFail(parts[i])) b->where.push_back(guarding[i] ? "unlikely(" + parts[i] + ")" : parts[i]);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!dear[i] && MayFail(parts[i]))
      b->where.push_back(parts[i]);
    else if (dear[i])
      // (Within the CASE a part that can fail stands in a WHEN: see After.)
      b->where.push_back(guard.empty()        ? parts[i]
                         : MayFail(parts[i]) ? "CASE WHEN " + guard + " THEN (CASE WHEN " + parts[i] + " THEN 1 ELSE 0 END) END"
                                             : "CASE WHEN " + guard + " THEN " + parts[i] + " END");
  }
}

Block Translator::JoinNode(const QdRowSource &rs, std::size_t entry) {
  Block l = Select(*rs.inputs[0]), r = Select(*rs.inputs[1]);
  bool outer_right = rs.join_type >= 2;  // RIGHT or FULL: both sides' rows must stay as they are
  // A RIGHT join's left operand becomes the right operand of a LEFT join:
  // it must be one FROM item, or a chain of LEFT joins (two RIGHT joins in
  // a row), which is written in parentheses or continues the join (below)
  // instead of being materialised whole.
  bool const nested = rs.join_type == 2 && !l.single && l.chain && l.plain() && l.where.empty();
  if (!l.plain() || (outer_right && !l.where.empty()) || (rs.join_type == 2 && !l.single && !nested))
    l = Wrap(l, entry);
  // So is the right operand of an INNER join (a JOIN (b LEFT JOIN c)).
  bool const nested_inner = rs.join_type == 0 && !r.single && r.chain && r.plain() && r.where.empty();
  if (!r.plain() || (!r.single && !nested_inner) || (outer_right && !r.where.empty())) r = Wrap(r, entry);
  Row both = l.row;
  both.insert(both.end(), r.row.begin(), r.row.end());
  std::vector<std::string> on = r.where;
  if (rs.cond) {
    Scoped s(this, &both);
    std::vector<const QdCond *> conjuncts;
    Conjuncts(*rs.cond, &conjuncts);
    for (const QdCond *c : conjuncts) on.push_back(Cond(*c));
  }
  // An INNER join's parts that can fail wait for the conditions of the
  // INNER joins below it too; an outer join's for its own ON only.
  std::vector<std::string> below;
  if (rs.join_type == 0) {
    below = l.joins;
    below.insert(below.end(), r.joins.begin(), r.joins.end());
  }
  std::string const condition = on.empty() ? "1" : JoinedConjunction(on, below);
  // A RIGHT join is written as a LEFT join with its operands swapped: the
  // system's SQLite drops rows of some statements with RIGHT JOIN (a
  // compound with a RIGHT JOIN arm loses the other arm's WHERE, a grouping
  // over collated keys loses the NULL-extended groups). The row keeps its
  // order, since its columns are named by their tables' aliases.
  bool swap = rs.join_type == 2;
  static const char *const kJoins[] = {" INNER JOIN ", " LEFT JOIN ", " LEFT JOIN ", " FULL JOIN "};
  Block j;
  if (!l.tables.empty() && !r.tables.empty()) {
    j.tables = l.tables;
    j.tables.insert(j.tables.end(), r.tables.begin(), r.tables.end());
  }
  j.unique_joined = l.unique_joined;
  j.unique_joined.insert(j.unique_joined.end(), r.unique_joined.begin(), r.unique_joined.end());
  if (rs.cond) {
    std::vector<const QdCond *> conjuncts;
    Conjuncts(*rs.cond, &conjuncts);
    UniqueJoined(conjuncts, both, &j.unique_joined);
  }
  std::string joined;  // what follows the preserved operand
  if (nested) {
    // r LEFT JOIN (h LEFT JOIN ... ON k) ON c is r LEFT JOIN h ON c LEFT
    // JOIN ... ON k when c reads no column of l but the head's: where c
    // finds no partner, the chain's ON conditions make the rest NULL too.
    // SQLite plans the flat form as a join of tables; the parenthesised
    // one it materialises.
    std::vector<int> read;
    bool flat = rs.cond && ReadColumns(*rs.cond, &read);
    for (int c : read)
      if (c >= 0 && static_cast<std::size_t>(c) < l.row.size() && !l.in_head[static_cast<std::size_t>(c)]) flat = false;
    joined = flat ? " LEFT JOIN " + l.head + " ON " + condition + l.tail
                  : " LEFT JOIN (" + l.from + ") ON " + condition;
  } else if (nested_inner) {
    // l INNER JOIN (h LEFT JOIN ... ON k) ON c is l INNER JOIN h ON c LEFT
    // JOIN ... ON k when c reads no column of r but the head's.
    std::vector<int> read;
    bool flat = !rs.cond || ReadColumns(*rs.cond, &read);
    for (int c : read) {
      auto column = static_cast<std::size_t>(c);
      if (c >= 0 && column >= l.row.size() && column - l.row.size() < r.row.size() &&
          !r.in_head[column - l.row.size()])
        flat = false;
    }
    joined = flat ? " INNER JOIN " + r.head + " ON " + condition + r.tail
                  : " INNER JOIN (" + r.from + ") ON " + condition;
  } else {
    joined = kJoins[rs.join_type] + (swap ? l.from : r.from) + " ON " + condition;
  }
  const Block &preserved = swap ? r : l;
  j.from = preserved.from + joined;
  j.where = l.where;
  if (rs.join_type == 0) {
    j.joins = std::move(below);
    for (const std::string &p : on)
      if (!MayFail(p)) j.joins.push_back(p);
  } else {
    j.joins = preserved.joins;
  }
  j.row = std::move(both);
  j.correlated = l.correlated || r.correlated;
  // The LEFT join continues the preserved operand's chain when its
  // condition rejects the NULL row of that operand.
  std::size_t const from = swap ? l.row.size() : 0;
  if ((rs.join_type == 1 || swap) && (preserved.single || preserved.chain) && rs.cond &&
      RejectsNull(*rs.cond, j.row, from, from + preserved.row.size())) {
    j.chain = true;
    j.head = preserved.single ? preserved.from : preserved.head;
    j.tail = (preserved.single ? "" : preserved.tail) + joined;
    j.in_head.assign(j.row.size(), false);
    for (std::size_t i = 0; i < preserved.row.size(); ++i)
      j.in_head[from + i] = preserved.single || preserved.in_head[i];
  }
  return j;
}

Block Translator::UnionNode(const QdRowSource &rs, std::size_t entry) {
  Block l = Select(*rs.inputs[0]), r = Select(*rs.inputs[1]);
  if (l.row.size() != r.row.size())
    Refuse("union of " + std::to_string(l.row.size()) + " and " + std::to_string(r.row.size()) + " columns");
  if (!l.compound.empty() || !l.order.empty()) l = Wrap(l, entry);
  if (!r.compound.empty() || !r.order.empty()) r = Wrap(r, entry);
  Block u;
  for (std::size_t i = 0; i < l.row.size(); ++i) {
    const SQLColumnDescriptor &ld = l.row[i].desc, &rd = r.row[i].desc;
    CheckComparable(ld, rd, "union");
    if (DepthOf(ld) != DepthOf(rd)) Refuse("union of arrays of different lengths");
    SQLType t = ld.GetType() == rd.GetType() || (ld.GetType() == SQL_INTEGER && rd.GetType() == SQL_REAL)
                    ? rd.GetType()
                    : ld.GetType();
    u.row.push_back(
        ColSql{{}, SQLColumnDescriptor("", t, std::max(ld.GetLength(), rd.GetLength()), ld.GetDepth())});
  }
  // Texts are merged in the library's order, so that UNION drops what it
  // counts as duplicates.
  std::vector<std::string> litems = NamedItems(l.row, true), ritems = NamedItems(r.row, true);
  u.compound = Render(l, &litems) + (rs.union_all ? " UNION ALL " : " UNION ") + Render(r, &ritems);
  u.correlated = l.correlated || r.correlated;
  return u;
}

ColSql Translator::ScalarSubquery(const QdRowSource &rs) {
  Block b = Select(rs);
  if (b.row.empty() || DepthOf(b.row[0].desc) > 1) Refuse("scalar subquery of an array or of no column");
  SQLColumnDescriptor d("", b.row[0].desc.GetType(), b.row[0].desc.GetLength(), 1);
  // NULL without rows, the value of one row, a cardinality violation for more.
  const char *pick = "(SELECT CASE WHEN mv_card(count(*)) IS NULL THEN max(";
  if (b.plain() && b.correlated) return ColSql{{pick + b.row[0].elems[0] + ") END" + Tail(b) + ")"}, d};
  std::string alias = Alias();
  std::string sub = b.correlated ? Render(b) : "SELECT * FROM " + Cte(Render(b));
  return ColSql{{pick + alias + ".c0) END FROM (" + sub + " LIMIT 2) AS " + alias + ")"}, d};
}

// The text reader's query: the lines of the text in the language, in
// ascending sequence, joined, the end of the last line stripped; NULL
// without lines (or for a NULL number or language).
ColSql Translator::TextContent(const QdExpr &e) {
  ColSql number = Expr(*e.args[0]), language = Expr(*e.args[1]);
  CheckScalar(number.desc, {SQL_INTEGER}, "text number");
  CheckScalar(language.desc, {SQL_STRING}, "text language");
  const DdTableDesc &table = Table(kTextTable, e.compnr);
  auto column = [&](const char *name) {
    for (const DdColumnDesc *c : OrdinaryColumns(table))
      if (c->name == name && c->depth <= 1) return Quote(c->name);
    Refuse(std::string("text table without column ") + name);
  };
  std::string alias = Alias();
  return ColSql{{"(SELECT mv_text(" + alias + ".t) FROM (SELECT " + column("text") + " AS t FROM " +
                 Quote(SqliteTableName(kTextTable, e.compnr)) + " WHERE " + column("ctxt") + " = " +
                 number.elems[0] + " AND substr(CAST(" + column("clan") + " AS BLOB), 1, 1) = substr(CAST(" +
                 language.elems[0] + " AS BLOB), 1, 1) ORDER BY " + column("seqe") + ") AS " + alias + ")"},
                SQLColumnDescriptor("", SQL_STRING, 0, 1)};
}

// An island that cannot fail is called as mv_xd, one that can as mv_x (see
// IslandCond). A scalar of constants that the library computes without an
// error is computed here, once, and written as its value.
ColSql Translator::Expr(const QdExpr &e) {
  if (std::optional<ColSql> native = Native(e)) return *native;
  auto island = std::make_unique<SqlIsland>();
  std::vector<std::string> args;
  island->SetValue(Lib(e, *island, args).release());
  SQLColumnDescriptor d = island->descriptor();
  if (d.GetType() == SQL_UNDEFINED) Refuse("expression without a type");
  int depth = DepthOf(d);
  bool failing = CanFail(e);
  if (depth == 1 && args.empty() && Constant(e)) {
    try {
      if (std::optional<std::string> literal = Literal(*island->EvaluateValue(nullptr)))
        return ColSql{{*literal}, d};
    } catch (const SQLException &) {
      failing = true;
    }
  }
  int id = Register(std::move(island));
  std::string tail = args.empty() ? "" : ", " + Join(args, ", ");
  ColSql c{{}, d};
  for (int k = 0; k < depth; ++k)
    c.elems.push_back((failing ? "mv_x(" : "mv_xd(") + std::to_string(id) + ", " + std::to_string(depth > 1 ? k : -1) +
                      tail + ")");
  return c;
}

// A value as an SQLite literal of the form Native gives a constant; null
// for one that has none (an infinite REAL).
std::optional<std::string> Translator::Literal(const SQLValueStore &v) {
  if (v.IsNull()) return "(NULL)";
  switch (v.GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      return "(" + std::to_string(v.GetInteger()) + ")";
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return "(" + std::to_string(v.GetTimestamp()) + ")";
    case SQL_STRING:
      return v.GetLength() == 0 ? "''" : "CAST(X'" + Hex(v.GetBytes(), v.GetLength()) + "' AS TEXT)";
    case SQL_RAW:
      return "X'" + Hex(v.GetBytes(), v.GetLength()) + "'";
    case SQL_REAL: {
      double const x = v.GetReal();
      if (!std::isfinite(x)) return std::nullopt;
      char text[40];
      std::snprintf(text, sizeof text, "%.17e", x);
      return "(" + std::string(text) + ")";
    }
    default:
      return std::nullopt;
  }
}

// Values that SQLite holds exactly as the library does: columns, results
// of subqueries, constants and scalar parameters. Texts are SQLite TEXT
// (or stored BLOBs, cast where they are compared), numbers and dates
// INTEGER or REAL. Null when the expression needs the library.
std::optional<ColSql> Translator::Native(const QdExpr &e) {
  switch (e.token) {
    case SQLNWTVEColRef:
      return Resolve(e.level, e.column);
    case SQLNWTVETextContent:
      return TextContent(e);
    case SQLNWTVEScalarSubquery:
      return ScalarSubquery(*e.subquery);
    case SQLNWTVEParameterRef:
    case SQLNWTVEStringConst:
    case SQLNWTVERawConst:
    case SQLNWTVEIntegerConst:
    case SQLNWTVEDateConst:
    case SQLNWTVERealConst:
    case SQLNWTVETimeStampConst:
      break;
    default:
      return std::nullopt;
  }
  SqlIsland scratch;
  std::vector<std::string> none;
  SQLColumnDescriptor d = Lib(e, scratch, none)->GetColumnDescriptor();
  const SQLValueStore &v = e.constant;
  switch (e.token) {
    case SQLNWTVEParameterRef:
      if (e.depth > 1) return std::nullopt;
      return ColSql{{Variable(StatementParam(e))}, d};
    case SQLNWTVEStringConst:
      return ColSql{{v.GetLength() == 0 ? "''" : "CAST(X'" + Hex(v.GetBytes(), v.GetLength()) + "' AS TEXT)"},
                    d};
    case SQLNWTVERawConst:
      return ColSql{{"X'" + Hex(v.GetBytes(), v.GetLength()) + "'"}, d};
    case SQLNWTVEIntegerConst:
    case SQLNWTVEDateConst:
      return ColSql{{"(" + std::to_string(v.GetInteger()) + ")"}, d};
    case SQLNWTVETimeStampConst:
      return ColSql{{"(" + std::to_string(v.GetTimestamp()) + ")"}, d};
    default: {  // REAL
      double x = v.GetReal();
      if (!std::isfinite(x)) return std::nullopt;
      char text[40];
      std::snprintf(text, sizeof text, "%.17e", x);
      return ColSql{{"(" + std::string(text) + ")"}, d};
    }
  }
}

ExprPtr Translator::Lib(const QdExpr &e, SqlIsland &island, std::vector<std::string> &args) {
  auto sub = [&](std::size_t i) { return Lib(*e.args[i], island, args); };
  auto optional = [&](std::size_t i) { return e.args[i] ? Lib(*e.args[i], island, args) : ExprPtr(); };
  switch (e.token) {
    case SQLNWTVEColRef:
      return Leaf(Resolve(e.level, e.column), island, args);
    case SQLNWTVEScalarSubquery:
      return Leaf(ScalarSubquery(*e.subquery), island, args);
    case SQLNWTVEParameterRef:
      return std::make_unique<SQLRSSCParameterRef>(StatementParam(e));
    case SQLNWTVEStringConst:
      return std::make_unique<SQLRSSCStringConst>(e.constant.GetBytes(), e.constant.GetLength());
    case SQLNWTVERawConst:
      return std::make_unique<SQLRSSCRawConst>(e.constant.GetBytes(), e.constant.GetLength());
    case SQLNWTVEIntegerConst:
      return std::make_unique<SQLRSSCIntegerConst>(e.constant.GetInteger());
    case SQLNWTVEDateConst:
      return std::make_unique<SQLRSSCDateConst>(e.constant.GetDate());
    case SQLNWTVERealConst:
      return std::make_unique<SQLRSSCRealConst>(e.constant.GetReal());
    case SQLNWTVETimeStampConst:
      return std::make_unique<SQLRSSCTimestampConst>(e.constant.GetTimestamp());
    case SQLNWTVEAdd:
    case SQLNWTVESubtract:
    case SQLNWTVEMultiply:
    case SQLNWTVEDivide:
    case SQLNWTVEModulo:
    case SQLNWTVEConcatenate: {
      ExprPtr l = sub(0), r = sub(1);
      CheckArithmetic(e.token, l->GetColumnDescriptor(), r->GetColumnDescriptor());
      SQLRSSCValueExpr *a = l.release(), *b = r.release();
      switch (e.token) {
        case SQLNWTVEAdd:
          return ExprPtr(new SQLRSSCAdd(a, b));
        case SQLNWTVESubtract:
          return ExprPtr(new SQLRSSCSubtract(a, b));
        case SQLNWTVEMultiply:
          return ExprPtr(new SQLRSSCMultiply(a, b));
        case SQLNWTVEDivide:
          return ExprPtr(new SQLRSSCDivide(a, b));
        case SQLNWTVEModulo:
          return ExprPtr(new SQLRSSCModulo(a, b));
        default:
          return ExprPtr(new SQLRSSCConcatenate(a, b));
      }
    }
    case SQLNWTVEIndexing: {
      ExprPtr l = sub(0), r = sub(1);
      if (DepthOf(l->GetColumnDescriptor()) <= 1) Refuse("indexing of a value that is not an array");
      CheckScalar(r->GetColumnDescriptor(), {SQL_INTEGER}, "array index");
      return ExprPtr(new SQLRSSCIndexing(l.release(), r.release()));
    }
    case SQLNWTVESubstr: {
      ExprPtr s = sub(0), start = sub(1), length = optional(2);
      CheckScalar(s->GetColumnDescriptor(), {SQL_STRING, SQL_RAW}, "SUBSTRING");
      CheckScalar(start->GetColumnDescriptor(), {SQL_INTEGER}, "SUBSTRING start");
      if (length) CheckScalar(length->GetColumnDescriptor(), {SQL_INTEGER}, "SUBSTRING length");
      return ExprPtr(new SQLRSSCSubstr(s.release(), start.release(), length.release()));
    }
    case SQLNWTVETrim: {
      ExprPtr ch = optional(0), s = sub(1);
      if (ch) CheckScalar(ch->GetColumnDescriptor(), {SQL_STRING}, "TRIM character");
      CheckScalar(s->GetColumnDescriptor(), {SQL_STRING}, "TRIM");
      return ExprPtr(new SQLRSSCTrim(static_cast<SQLTrimSpec>(e.trim), ch.release(), s.release()));
    }
    case SQLNWTVEReinterpretCast: {
      ExprPtr x = sub(0);
      CheckScalar(x->GetColumnDescriptor(), {SQL_INTEGER, SQL_REAL}, "CAST");
      if (e.type != SQL_DATE && e.type != SQL_TIMESTAMP && e.type != SQL_INTERVAL_DAYS &&
          e.type != SQL_INTERVAL_SECONDS)
        Refuse("CAST to type " + std::to_string(static_cast<int>(e.type)));
      return ExprPtr(new SQLRSSCReinterpretCast(x.release(), e.type));
    }
    case SQLNWTVESimpleCase: {
      ExprPtr operand = sub(0);
      std::size_t n = (e.args.size() - 2) / 2;
      std::vector<std::pair<ExprPtr, ExprPtr>> whens;
      for (std::size_t i = 0; i < n; ++i) {
        ExprPtr w = sub(1 + 2 * i), t = optional(2 + 2 * i);
        CheckComparable(operand->GetColumnDescriptor(), w->GetColumnDescriptor(), "CASE operand and WHEN");
        whens.emplace_back(std::move(w), std::move(t));
      }
      ExprPtr otherwise = optional(e.args.size() - 1);
      // Every result must share one type (INTEGER counting as REAL).
      const SQLRSSCValueExpr *first = nullptr;
      auto check = [&](const SQLRSSCValueExpr *x) {
        if (x == nullptr) return;
        if (first == nullptr)
          first = x;
        else
          CheckComparable(first->GetColumnDescriptor(), x->GetColumnDescriptor(), "CASE results");
      };
      for (auto &w : whens) check(w.second.get());
      check(otherwise.get());
      auto *list = new List<SQLRSSCSimpleCase::WhenClause *>();
      for (auto &w : whens)
        list->Append(new SQLRSSCSimpleCase::WhenClause(w.first.release(), w.second.release()));
      return ExprPtr(new SQLRSSCSimpleCase(operand.release(), list, otherwise.release()));
    }
    case SQLNWTVETextContent:
      return Leaf(TextContent(e), island, args);
    default:
      Refuse("expression token " + std::to_string(e.token));
  }
}

CondPtr Translator::LibCond(const QdCond &c, SqlIsland &island, std::vector<std::string> &args) {
  std::vector<ExprPtr> x;
  for (const auto &e : c.exprs) x.push_back(e ? Lib(*e, island, args) : ExprPtr());
  auto desc = [&](std::size_t i) { return x[i]->GetColumnDescriptor(); };
  std::size_t n = static_cast<std::size_t>(c.n);
  switch (c.token) {
    case SQLNWTSCEquals:
    case SQLNWTSCNotEquals:
    case SQLNWTSCLessThan:
    case SQLNWTSCLessThanOrEquals:
    case SQLNWTSCGreaterThan:
    case SQLNWTSCGreaterThanOrEquals: {
      for (std::size_t i = 0; i < n; ++i) CheckComparable(desc(i), desc(n + i), "comparison");
      static const std::pair<int, SQLRSSCCompOperator> kOps[] = {
          {SQLNWTSCEquals, SQLRSSC_EQUAL},
          {SQLNWTSCNotEquals, SQLRSSC_NOT_EQUAL},
          {SQLNWTSCLessThan, SQLRSSC_LESS_THAN},
          {SQLNWTSCLessThanOrEquals, SQLRSSC_LESS_THAN_OR_EQUAL},
          {SQLNWTSCGreaterThan, SQLRSSC_GREATER_THAN},
          {SQLNWTSCGreaterThanOrEquals, SQLRSSC_GREATER_THAN_OR_EQUAL}};
      SQLRSSCCompOperator op = SQLRSSC_EQUAL;
      for (const auto &o : kOps)
        if (o.first == c.token) op = o.second;
      pSQLRSSCValueExprList *l = MakeList(x, 0, n);
      pSQLRSSCValueExprList *r = MakeList(x, n, n);
      return CondPtr(new SQLRSSCComparison(l, op, r));
    }
    case SQLNWTSCBetween: {
      for (std::size_t i = 0; i < n; ++i) {
        CheckComparable(desc(i), desc(n + i), "BETWEEN");
        CheckComparable(desc(i), desc(2 * n + i), "BETWEEN");
      }
      pSQLRSSCValueExprList *v = MakeList(x, 0, n);
      pSQLRSSCValueExprList *lo = MakeList(x, n, n);
      pSQLRSSCValueExprList *hi = MakeList(x, 2 * n, n);
      return CondPtr(new SQLRSSCBetween(v, lo, hi));
    }
    case SQLNWTSCInSet: {
      for (std::size_t i = 1; i < x.size(); ++i) CheckComparable(desc(0), desc(i), "IN");
      SQLRSSCValueExpr *v = x[0].release();
      pSQLRSSCValueExprList *set = MakeList(x, 1, x.size() - 1);
      return CondPtr(new SQLRSSCInSet(v, set));
    }
    case SQLNWTSCLikeAnsi:
    case SQLNWTSCLikeRegexp: {
      for (std::size_t i = 0; i < x.size(); ++i)
        if (x[i]) CheckScalar(desc(i), {SQL_STRING}, "LIKE");
      SQLRSSCValueExpr *escape = x.size() > 2 ? x[2].release() : nullptr;
      SQLRSSCValueExpr *v = x[0].release(), *p = x[1].release();
      return CondPtr(new SQLRSSCLike(v, p, escape, c.token == SQLNWTSCLikeAnsi));
    }
    case SQLNWTSCIsNull:
      return CondPtr(new SQLRSSCIsNull(x[0].release()));
    default:
      Refuse("condition token " + std::to_string(c.token));
  }
}

std::string Translator::Cond(const QdCond &c) {
  switch (c.token) {
    case SQLNWTSCAnd:
    case SQLNWTSCOr: {
      std::vector<std::string> parts;
      for (const auto &x : c.conds) parts.push_back(Cond(*x));
      bool const conjunction = c.token == SQLNWTSCAnd;
      std::string const sql = conjunction ? Conjunction(parts, false) : [&] {
        std::vector<std::string> ordered = FailingLast(parts);
        return Logical(ordered, 0, ordered.size(), " OR ");
      }();
      if (!MayFail(sql)) return sql;
      // An AND is certainly TRUE where each operand is, and certainly FALSE
      // where one operand is, whatever the others raise; an OR alike.
      std::vector<std::string> all, any;
      for (const std::string &p : parts) {
        Certainty const x = CertainOf(p);
        const std::string &every = conjunction ? x.yes : x.no, &one = conjunction ? x.no : x.yes;
        if (!every.empty()) all.push_back(every);
        if (!one.empty()) any.push_back(one);
      }
      std::string const joined = all.size() == parts.size() ? Logical(all, 0, all.size(), " AND ") : "";
      std::string const some = any.empty() ? "" : Logical(any, 0, any.size(), " OR ");
      certain_[sql] = conjunction ? Certainty{joined, some} : Certainty{some, joined};
      return sql;
    }
    case SQLNWTSCNot: {
      std::string const operand = Cond(*c.conds[0]);
      std::string const sql = "(NOT " + operand + ")";
      if (MayFail(sql)) {
        Certainty const x = CertainOf(operand);
        certain_[sql] = Certainty{x.no, x.yes};
      }
      return sql;
    }
    case SQLNWTSCExists: {
      Block b = Select(*c.subquery);
      if (!b.correlated) return "EXISTS (SELECT 1 FROM " + Cte(Render(b)) + ")";
      std::vector<std::string> one{"1"};
      return "EXISTS (" + Render(b, b.plain() ? &one : nullptr) + ")";
    }
    case SQLNWTSCInSubquery: {
      // SQLite's IN has the library's rule: no row gives FALSE; a NULL
      // value with rows UNKNOWN; else TRUE on an equal row, UNKNOWN when a
      // row is NULL, FALSE otherwise. The subquery runs once (or once per
      // enclosing row when it reads that row).
      ColSql v = Expr(*c.exprs[0]);
      Block b = Select(*c.subquery);
      if (b.row.empty() || DepthOf(v.desc) > 1 || DepthOf(b.row[0].desc) > 1)
        Refuse("IN subquery over arrays");
      CheckComparable(v.desc, b.row[0].desc, "IN subquery");
      bool text = v.desc.GetType() == SQL_STRING;
      if (!b.compound.empty()) b = Wrap(b, scopes_.size());
      const std::string &item = b.row[0].elems[0];
      std::vector<std::string> items{(text ? "CAST(" + item + " AS TEXT)" : item) + " AS c0"};
      std::string sub = Render(b, &items);
      // An answer that can fail is never looked up by an index of the value:
      // SQLite would fill it before reading any row, where the statement may
      // have no row that reaches it.
      std::string const set = b.correlated ? "(" + sub + ")" : Cte(sub);
      std::string const value = (MayFail(set) && !text ? "+" : "") + Collated(v.elems[0], v.desc);
      return "(" + value + " IN " + set + ")";
    }
    case SQLNWTSCEquals:
    case SQLNWTSCNotEquals:
    case SQLNWTSCLessThan:
    case SQLNWTSCLessThanOrEquals:
    case SQLNWTSCGreaterThan:
    case SQLNWTSCGreaterThanOrEquals:
      if (std::optional<std::string> plain = PlainComparison(c)) return *plain;
      [[fallthrough]];
    case SQLNWTSCBetween:
    case SQLNWTSCInSet:
    case SQLNWTSCIsNull:
      if (std::optional<std::string> native = NativeCond(c)) return *native;
      return IslandCond(c, CanFail(c));
    default:
      return IslandCond(c, CanFail(c));
  }
}

// Comparisons, BETWEEN, IN lists and IS NULL of scalar operands in SQLite's
// own operators, whose three-valued results are the library's; texts
// compare under the driver's collation. Null when an operand is an array.
std::optional<std::string> Translator::NativeCond(const QdCond &c) {
  std::vector<ColSql> x;
  for (const auto &e : c.exprs) {
    x.push_back(Expr(*e));
    if (DepthOf(x.back().desc) > 1) return std::nullopt;
  }
  auto sql = [&](std::size_t i) {
    return x[i].desc.GetType() == SQL_STRING ? Collated(x[i].elems[0], x[i].desc) : x[i].elems[0];
  };
  auto row = [&](std::size_t from, std::size_t n) {
    std::vector<std::string> parts;
    for (std::size_t i = from; i < from + n; ++i) parts.push_back(sql(i));
    return n == 1 ? parts[0] : "(" + Join(parts, ", ") + ")";
  };
  std::size_t n = static_cast<std::size_t>(c.n);
  switch (c.token) {
    case SQLNWTSCIsNull:
      return "(" + x[0].elems[0] + " IS NULL)";
    case SQLNWTSCInSet: {
      for (std::size_t i = 1; i < x.size(); ++i) CheckComparable(x[0].desc, x[i].desc, "IN");
      std::vector<std::string> set;
      for (std::size_t i = 1; i < x.size(); ++i)
        set.push_back(x[i].desc.GetType() == SQL_STRING ? "CAST(" + x[i].elems[0] + " AS TEXT)"
                                                        : x[i].elems[0]);
      return "(" + sql(0) + " IN (" + Join(set, ", ") + "))";
    }
    case SQLNWTSCBetween:
      for (std::size_t i = 0; i < n; ++i) {
        CheckComparable(x[i].desc, x[n + i].desc, "BETWEEN");
        CheckComparable(x[i].desc, x[2 * n + i].desc, "BETWEEN");
      }
      if (n == 1) return "(" + sql(0) + " BETWEEN " + sql(1) + " AND " + sql(2) + ")";
      return "(" + row(0, n) + " >= " + row(n, n) + " AND " + row(0, n) + " <= " + row(2 * n, n) + ")";
    default: {
      for (std::size_t i = 0; i < n; ++i) CheckComparable(x[i].desc, x[n + i].desc, "comparison");
      const char *op = ComparisonOperator(c.token);
      // Two stored texts of mode 1 of one width are equal exactly when
      // their bytes are (see SortedKey): the bytes are compared first, so
      // that SQLite can also join them by an index it makes itself and
      // calls the collation only for rows of equal bytes; the collated
      // term still lets it use a key's index.
      if (c.token == SQLNWTSCEquals && n == 1 && StoredText(x[0]) && StoredText(x[1]) &&
          x[0].desc.GetLength() == x[1].desc.GetLength())
        return "(" + x[0].elems[0] + " = " + x[1].elems[0] + " AND " + sql(0) + op + sql(1) + ")";
      return "(" + row(0, n) + op + row(n, n) + ")";
    }
  }
}

namespace {

// The range of a 32-bit integer result of the library's arithmetic, which
// refuses a result outside it ("22003", or a date after 31 December 9999
// or before the calendar's first day).
std::pair<long long, long long> RangeOf(SQLType t) {
  if (t == SQL_DATE) return {0, AL_LAST_DAY_NUMBER};
  return {INT32_MIN, INT32_MAX};
}

// The type of the library's +, - or * over two 32-bit integer types
// (INTEGER, DATE, INTERVAL DAYS), SQL_UNDEFINED for another pair.
SQLType PlainResult(int token, SQLType a, SQLType b) {
  auto is = [&](SQLType x, SQLType y) { return a == x && b == y; };
  constexpr SQLType I = SQL_INTEGER, D = SQL_DATE, V = SQL_INTERVAL_DAYS;
  switch (token) {
    case SQLNWTVEAdd:
      if (is(I, I)) return I;
      if (is(D, I) || is(D, V) || is(V, D)) return D;
      if (is(V, V)) return V;
      break;
    case SQLNWTVESubtract:
      if (is(I, I)) return I;
      if (is(D, D) || is(V, V)) return V;
      if (is(D, V)) return D;
      break;
    case SQLNWTVEMultiply:
      if (is(I, I)) return I;
      if (is(I, V) || is(V, I)) return V;
      break;
    default:
      break;
  }
  return SQL_UNDEFINED;
}

}  // namespace

// A term that SQLite's integer arithmetic computes as the library does: +,
// - and * over INTEGER, DATE and INTERVAL DAYS columns, constants and
// parameters. Its type, or FALSE for any other term.
bool Translator::PlainShape(const QdExpr &e, SQLType *type) {
  switch (e.token) {
    case SQLNWTVEColRef: {
      const ColSql &c = Resolve(e.level, e.column);
      *type = DepthOf(c.desc) == 1 ? c.desc.GetType() : SQL_UNDEFINED;
      break;
    }
    case SQLNWTVEIntegerConst:
      *type = SQL_INTEGER;
      break;
    case SQLNWTVEDateConst:
      *type = SQL_DATE;
      break;
    case SQLNWTVEParameterRef:
      *type = e.depth > 1 ? SQL_UNDEFINED : e.type;
      break;
    case SQLNWTVEReinterpretCast: {
      // An integer taken as a date or a number of days keeps its value.
      SQLType a = SQL_UNDEFINED;
      if (e.args.size() != 1 || !e.args[0] || !PlainShape(*e.args[0], &a) || a != SQL_INTEGER) return false;
      *type = e.type == SQL_DATE || e.type == SQL_INTERVAL_DAYS ? e.type : SQL_UNDEFINED;
      break;
    }
    case SQLNWTVEAdd:
    case SQLNWTVESubtract:
    case SQLNWTVEMultiply: {
      SQLType a = SQL_UNDEFINED, b = SQL_UNDEFINED;
      if (e.args.size() != 2 || !e.args[0] || !e.args[1] || !PlainShape(*e.args[0], &a) ||
          !PlainShape(*e.args[1], &b))
        return false;
      *type = PlainResult(e.token, a, b);
      return *type != SQL_UNDEFINED;
    }
    default:
      return false;
  }
  return *type == SQL_INTEGER || *type == SQL_DATE || *type == SQL_INTERVAL_DAYS;
}

// The SQL of a term that PlainShape accepts, and for each of its results
// the check that it lies in its type's range; its type as PlainShape
// gives it, and its value when it reads only constants. SQLite computes in
// 64 bits: exact for results of 32-bit operands, and a result out of range
// fails its check. A result of constants is checked here, once: in range,
// it needs no check.
SQLType Translator::PlainTerm(const QdExpr &e, std::string *sql, std::vector<std::string> *checks,
                              std::optional<long long> *value) {
  auto check = [&](const std::string &test, long long lo, long long hi) {
    if (value->has_value() && **value >= lo && **value <= hi) return;
    value->reset();  // beyond its range: the check fails, the term's value is not known
    checks->push_back(test);
  };
  if (e.token == SQLNWTVEReinterpretCast) {
    PlainTerm(*e.args[0], sql, checks, value);
    // A date beyond the calendar's last day is refused; a number of days
    // that fits in 32 bits is not.
    if (e.type == SQL_DATE)
      check("(" + *sql + " <= " + std::to_string(AL_LAST_DAY_NUMBER) + ")", LLONG_MIN, AL_LAST_DAY_NUMBER);
    return e.type;
  }
  if (e.token != SQLNWTVEAdd && e.token != SQLNWTVESubtract && e.token != SQLNWTVEMultiply) {
    *sql = Native(e)->elems[0];
    SQLType type = SQL_UNDEFINED;
    PlainShape(e, &type);
    if (e.token == SQLNWTVEIntegerConst || e.token == SQLNWTVEDateConst) *value = e.constant.GetInteger();
    else value->reset();
    return type;
  }
  std::string a, b;
  std::optional<long long> va, vb;
  const SQLType ta = PlainTerm(*e.args[0], &a, checks, &va);
  const SQLType tb = PlainTerm(*e.args[1], &b, checks, &vb);
  const SQLType type = PlainResult(e.token, ta, tb);
  const char *op = e.token == SQLNWTVEAdd ? " + " : e.token == SQLNWTVESubtract ? " - " : " * ";
  *sql = "(" + a + op + b + ")";
  value->reset();
  if (va && vb) *value = e.token == SQLNWTVEAdd ? *va + *vb : e.token == SQLNWTVESubtract ? *va - *vb : *va * *vb;
  auto [lo, hi] = RangeOf(type);
  check("(" + *sql + " BETWEEN " + std::to_string(lo) + " AND " + std::to_string(hi) + ")", lo, hi);
  return type;
}

// A scalar comparison of which a side is integer arithmetic (PlainShape),
// in SQLite's own operators, so that its planner sees which table the term
// reads and that it rejects a NULL row (an outer join under it joins as an
// inner one): a comparison through a function tells it neither. A row on
// which some result of the arithmetic leaves its range is handed to the
// library's term, which refuses it as it does here; on the other rows the
// two agree, NULLs included. Without such a result (all of its results are
// of constants, in range) the comparison cannot fail. Null for any other
// comparison.
std::optional<std::string> Translator::PlainComparison(const QdCond &c) {
  if (c.n != 1 || c.exprs.size() != 2 || !c.exprs[0] || !c.exprs[1]) return std::nullopt;
  bool arithmetic = false;
  SQLType types[2] = {SQL_UNDEFINED, SQL_UNDEFINED};
  for (std::size_t i = 0; i < 2; ++i) {
    const QdExpr &e = *c.exprs[i];
    bool const computed = e.token == SQLNWTVEAdd || e.token == SQLNWTVESubtract ||
                          e.token == SQLNWTVEMultiply || e.token == SQLNWTVEReinterpretCast;
    if (!PlainShape(e, &types[i])) {
      if (computed) return std::nullopt;
      types[i] = SQL_UNDEFINED;  // another operand: native (below) or not at all
    }
    arithmetic = arithmetic || computed;
  }
  if (!arithmetic) return std::nullopt;
  std::string sides[2];
  std::vector<std::string> checks;
  for (std::size_t i = 0; i < 2; ++i) {
    const QdExpr &e = *c.exprs[i];
    if (types[i] != SQL_UNDEFINED) {
      std::optional<long long> value;
      PlainTerm(e, &sides[i], &checks, &value);
      continue;
    }
    // A REAL constant, column or parameter: SQLite compares it with an
    // integer as a number, as the library does.
    if (e.token != SQLNWTVEColRef && e.token != SQLNWTVERealConst && e.token != SQLNWTVEParameterRef)
      return std::nullopt;
    std::optional<ColSql> x = Native(e);
    if (!x || DepthOf(x->desc) > 1 || x->desc.GetType() != SQL_REAL) return std::nullopt;
    types[i] = SQL_REAL;
    sides[i] = x->elems[0];
  }
  bool const numbers = IsNumber(types[0]) && IsNumber(types[1]);
  if (types[0] != types[1] && !numbers) return std::nullopt;  // the library's term refuses it
  std::string const comparison = "(" + sides[0] + ComparisonOperator(c.token) + sides[1] + ")";
  if (checks.empty()) return comparison;
  std::string const in = Logical(checks, 0, checks.size(), " AND ");
  std::string const sql = "((" + in + " IS NOT 0 OR " + IslandCond(c, true) + ") AND " + comparison + ")";
  certain_[sql] = Certainty{"(" + in + " AND " + comparison + ")", "(" + in + " AND NOT " + comparison + ")"};
  return sql;
}

// An island that cannot fail is called as mv_cd, which SQLite may
// evaluate once for what its arguments make constant; one that can as mv_c,
// which SQLite evaluates only where a row reaches it (sqlite_functions.h).
// A condition of constants that the library decides without an error is
// decided here.
std::string Translator::IslandCond(const QdCond &c, bool failing) {
  auto island = std::make_unique<SqlIsland>();
  std::vector<std::string> args;
  island->SetCond(LibCond(c, *island, args).release());
  bool constant = true;
  for (const auto &e : c.exprs) constant = constant && (!e || Constant(*e));
  if (constant && args.empty()) {
    try {
      SQLTruthValue const t = island->EvaluateCond(nullptr);
      return t == TV_TRUE ? "(1)" : t == TV_FALSE ? "(0)" : "(NULL)";
    } catch (const SQLException &) {
      failing = true;
    }
  }
  int id = Register(std::move(island));
  return (failing ? "mv_c(" : "mv_cd(") + std::to_string(id) + (args.empty() ? "" : ", " + Join(args, ", ")) + ")";
}

bool Translator::Constant(const QdExpr &e) {
  switch (e.token) {
    case SQLNWTVEColRef:
    case SQLNWTVEParameterRef:
    case SQLNWTVEScalarSubquery:
    case SQLNWTVETextContent:
      return false;
    default:
      break;
  }
  for (const auto &a : e.args)
    if (a && !Constant(*a)) return false;
  return !e.subquery;
}

std::optional<SQLValueStore> Translator::Evaluated(ExprPtr x) {
  SqlIsland scratch;
  try {
    scratch.SetValue(x.release());
    SQLValueStore v;
    v.Copy(scratch.EvaluateValue(nullptr));
    return v;
  } catch (const SQLException &) {
    return std::nullopt;
  }
}

bool Translator::CanFail(const QdExpr &e) {
  auto any = [&](std::size_t from) {
    for (std::size_t i = from; i < e.args.size(); ++i)
      if (e.args[i] && CanFail(*e.args[i])) return true;
    return false;
  };
  // A constant operand's value, or null when it raises.
  auto value = [&](std::size_t i) -> std::optional<SQLValueStore> {
    if (i >= e.args.size() || !e.args[i] || !Constant(*e.args[i])) return std::nullopt;
    SqlIsland scratch;
    std::vector<std::string> none;
    return Evaluated(Lib(*e.args[i], scratch, none));
  };
  if (Constant(e)) {
    SqlIsland scratch;
    std::vector<std::string> none;
    return !Evaluated(Lib(e, scratch, none));
  }
  switch (e.token) {
    case SQLNWTVEColRef:
    case SQLNWTVEParameterRef:
    case SQLNWTVEScalarSubquery:  // its one-row check is SQL of its own
    case SQLNWTVETextContent:
    case SQLNWTVEStringConst:
    case SQLNWTVERawConst:
    case SQLNWTVEIntegerConst:
    case SQLNWTVEDateConst:
    case SQLNWTVERealConst:
    case SQLNWTVETimeStampConst:
      return false;
    case SQLNWTVEConcatenate:
    case SQLNWTVESimpleCase:
      return any(0);
    case SQLNWTVETrim: {
      // Only a trim character of another length than one character fails.
      if (!e.args[0]) return any(1);
      std::optional<SQLValueStore> ch = value(0);
      if (!ch || ch->IsNull()) return true;
      unsigned long const n = ch->GetLength();
      return n == 0 || n != (ch->GetBytes()[0] == 0x9B ? 4UL : 1UL) || any(1);
    }
    case SQLNWTVEAdd:
    case SQLNWTVESubtract: {
      // A REAL column plus or minus a constant far below the REAL range's
      // end stays finite.
      for (std::size_t i = 0; i < 2 && e.args.size() == 2 && e.args[0] && e.args[1]; ++i) {
        const QdExpr &column = *e.args[i];
        std::optional<SQLValueStore> c = value(1 - i);
        if (column.token != SQLNWTVEColRef || !c || c->IsNull()) continue;
        const ColSql &x = Resolve(column.level, column.column);
        double const v = c->GetType() == SQL_REAL      ? c->GetReal()
                         : c->GetType() == SQL_INTEGER ? static_cast<double>(c->GetInteger())
                                                       : 1e300;
        if (DepthOf(x.desc) == 1 && x.desc.GetType() == SQL_REAL && std::fabs(v) < 1e290) return false;
      }
      return true;
    }
    case SQLNWTVEDivide: {
      // A quotient by a constant other than 0 (and -1, whose quotient can
      // leave the range) or a fraction stays in range.
      std::optional<SQLValueStore> d = value(1);
      if (!d || d->IsNull()) return true;
      bool const safe = d->GetType() == SQL_INTEGER ? d->GetInteger() != 0 && d->GetInteger() != -1
                                                    : d->GetType() == SQL_REAL && std::fabs(d->GetReal()) >= 1;
      return !safe || any(0);
    }
    default:
      return true;
  }
}

bool Translator::CanFail(const QdCond &c) {
  for (const auto &e : c.exprs)
    if (e && CanFail(*e)) return true;
  if (c.token != SQLNWTSCLikeAnsi && c.token != SQLNWTSCLikeRegexp) return false;
  // A pattern (and escape) of constants fails for every value or for none:
  // tried here on one.
  for (std::size_t i = 1; i < c.exprs.size(); ++i)
    if (c.exprs[i] && !Constant(*c.exprs[i])) return true;
  if (c.exprs.size() < 2 || !c.exprs[1]) return true;
  SqlIsland scratch;
  std::vector<std::string> none;
  ExprPtr pattern = Lib(*c.exprs[1], scratch, none);
  ExprPtr escape = c.exprs.size() > 2 && c.exprs[2] ? Lib(*c.exprs[2], scratch, none) : ExprPtr();
  static const unsigned char kOne[] = {'x'};
  try {
    scratch.SetCond(new SQLRSSCLike(new SQLRSSCStringConst(kOne, 1), pattern.release(), escape.release(),
                                    c.token == SQLNWTSCLikeAnsi));
    scratch.EvaluateCond(nullptr);
    return false;
  } catch (const SQLException &) {
    return true;
  }
}

std::string Translator::Dml(const QdDml &dml) {
  const DdTableDesc &table = Table(dml.table, dml.compnr);
  std::string name = Quote(SqliteTableName(dml.table, dml.compnr));
  std::vector<const DdColumnDesc *> columns = OrdinaryColumns(table);
  Row row;
  for (const DdColumnDesc *c : columns) {
    int depth = c->depth > 1 ? c->depth : 1;
    ColSql col{{},
               SQLColumnDescriptor(c->name.c_str(), SQLTypeOfColumnType(c->type),
                                   static_cast<unsigned long>(c->length / depth), depth)};
    for (int e = 0; e < depth; ++e)
      col.elems.push_back(name + "." + Quote(depth == 1 ? c->name : c->name + "_" + std::to_string(e + 1)));
    row.push_back(std::move(col));
  }
  Scoped scope(this, &row);
  std::string where = dml.cond ? " WHERE " + Cond(*dml.cond) : "";
  out_->rows = With() + "SELECT " + name + ".rowid FROM " + name + where;
  if (dml.token == SQLNWTETDelete) return With() + "DELETE FROM " + name + where;
  std::vector<std::string> sets;
  for (const QdSetItem &item : dml.sets) {
    if (item.column >= static_cast<int>(columns.size()))
      Refuse("SET of column " + std::to_string(item.column));
    const DdColumnDesc &c = *columns[static_cast<std::size_t>(item.column)];
    const ColSql &target = row[static_cast<std::size_t>(item.column)];
    ColSql value = Expr(*item.value);
    SQLType vt = value.desc.GetType(), ct = target.desc.GetType();
    bool text = vt == SQL_STRING || vt == SQL_RAW, ctext = ct == SQL_STRING || ct == SQL_RAW;
    if (text != ctext || value.elems.size() != target.elems.size())
      Refuse("SET of column " + c.name + " of type " + TypeText(target.desc) + " to type " +
             TypeText(value.desc));
    int depth = DepthOf(target.desc);
    for (int e = 0; e < depth; ++e)
      sets.push_back(Quote(depth == 1 ? c.name : c.name + "_" + std::to_string(e + 1)) + " = mv_st(" +
                     std::to_string(c.type) + ", " + std::to_string(c.length / depth) + ", " +
                     std::to_string(static_cast<int>(vt)) + ", " + value.elems[static_cast<std::size_t>(e)] +
                     ")");
  }
  return With() + "UPDATE " + name + " SET " + Join(sets, ", ") + where;
}

}  // namespace

std::unique_ptr<Translation> TranslateDesc(const QueryDesc &desc, const TableLookup &tables,
                                           SqlFunctionHost *host) {
  auto out = std::make_unique<Translation>();
  out->host = host;
  Translator t(tables, host, out.get());
  if (desc.dml) {
    out->sql = t.Dml(*desc.dml);
  } else {
    out->sql = t.Query(*desc.query, &out->columns);
  }
  return out;
}

}  // namespace molvane::driver
