// The translator behind TranslateDesc (sqlite_translate.h), shared by the
// files that make it: sqlite_translate.cc assembles statements, FROM
// clauses and joins; sqlite_translate_expr.cc writes expressions and single
// conditions; sqlite_translate_cond.cc writes AND, OR, NOT and subquery
// conditions and the guarded forms of the conditions that can fail.
#pragma once

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
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
#include "sql/sqlite_translate.h"

namespace molvane::driver::translate {

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

[[noreturn]] void Refuse(const std::string &what);
int DepthOf(const SQLColumnDescriptor &d);
bool IsNumber(SQLType t);
std::string TypeText(const SQLColumnDescriptor &d);
void CheckComparable(const SQLColumnDescriptor &a, const SQLColumnDescriptor &b, const char *what);
void CheckScalar(const SQLColumnDescriptor &d, std::initializer_list<SQLType> types, const char *what);
void CheckArithmetic(int token, const SQLColumnDescriptor &l, const SQLColumnDescriptor &r);
std::string Collated(const std::string &sql, const SQLColumnDescriptor &d);
std::string Key(const std::string &sql, const SQLColumnDescriptor &d);
std::string Join(const std::vector<std::string> &parts, const char *sep);
std::string Logical(const std::vector<std::string> &parts, std::size_t lo, std::size_t hi, const char *op);
bool MayFail(const std::string &sql);

// What is certain of a condition without evaluating what can fail in it:
// `yes` is TRUE only on rows where the condition is TRUE, `no` only where it
// is FALSE (either is FALSE or NULL where it cannot tell); both read only
// what the condition reads, cannot fail and hold no subquery. Empty where
// nothing short of the condition tells.
struct Certainty {
  std::string yes, no;
};

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
  // The parts of `where` that can fail, hold no subquery and read no column
  // of `from`: only enclosing rows, constants and parameters.
  std::vector<std::string> outer;
  bool plain() const { return compound.empty() && !grouped && order.empty() && !computed; }
};

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
  // A condition over a correlated subquery, `over` giving it for a block,
  // with the block's outer parts left out where they are certainly TRUE.
  std::string SureOuter(const Block &b, const std::function<std::string(const Block &)> &over) const;
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

}  // namespace molvane::driver::translate
