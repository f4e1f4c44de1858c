// Translation of a typed description into SQLite SQL. One recursive pass
// both types and translates: a row source returns its SELECT text and the
// descriptors of its result columns; its parent reads that SELECT as a
// derived table under a fresh alias, through which expressions name the
// columns (the scope stack gives enclosing rows to correlated subqueries).
#include "sqlite_translate.h"

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
#include "query_desc_reader.h"

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

using Descs = std::vector<SQLColumnDescriptor>;
using ExprPtr = std::unique_ptr<SQLRSSCValueExpr>;
using CondPtr = std::unique_ptr<SQLRSSCSearchCond>;

// One column of a row as SQL: one text per element, and its descriptor.
struct ColSql {
  std::vector<std::string> elems;
  SQLColumnDescriptor desc;
};
using Row = std::vector<ColSql>;

[[noreturn]] void Refuse(const std::string &what) {
  throw SQLException("42T00", 302, SQLString(what.c_str()));
}

std::string Quote(const std::string &id) {
  std::string q = "\"";
  for (char c : id) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
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
  return d.GetType() == SQL_STRING ? "CAST(" + sql + " AS TEXT) COLLATE mvtss" : sql;
}

std::string Join(const std::vector<std::string> &parts, const char *sep) {
  std::string s;
  for (std::size_t i = 0; i < parts.size(); ++i) s += (i ? sep : "") + parts[i];
  return s;
}

// The terms [from, to) of an AND or OR, parenthesised. SQLite nests "a OR b
// OR c" one level per operator and refuses an expression deeper than 1,000
// levels: a long list is cut in halves, each parenthesised, so that it
// nests a few dozen levels deep however long it is.
std::string JoinNested(const std::vector<std::string> &parts, std::size_t from, std::size_t to, const char *op) {
  constexpr std::size_t kFlat = 64;
  if (to - from <= kFlat) {
    std::string s = "(";
    for (std::size_t i = from; i < to; ++i) s += (i > from ? op : "") + parts[i];
    return s + ")";
  }
  std::size_t const middle = from + (to - from) / 2;
  return "(" + JoinNested(parts, from, middle, op) + op + JoinNested(parts, middle, to, op) + ")";
}

class Translator {
 public:
  Translator(const TableLookup &tables, SqlFunctionHost *host, Translation *out)
      : tables_(tables), host_(host), out_(out) {}

  std::string Select(const QdRowSource &rs, Descs *descs);
  std::string Dml(const QdDml &dml);

 private:
  struct Scoped {
    Scoped(Translator *t, const Row *row) : t_(t) { t_->scopes_.push_back(row); }
    ~Scoped() { t_->scopes_.pop_back(); }
    Translator *t_;
  };

  std::string Alias() { return "t" + std::to_string(++aliases_); }
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
    return row[static_cast<std::size_t>(column)];
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

  ColSql Expr(const QdExpr &e);
  ExprPtr Lib(const QdExpr &e, SqlIsland &island, std::vector<std::string> &args);
  ExprPtr Leaf(const ColSql &c, SqlIsland &island, std::vector<std::string> &args) {
    SQLParameter *p = island.AddLeaf(c.desc);
    args.insert(args.end(), c.elems.begin(), c.elems.end());
    return std::make_unique<SQLRSSCParameterRef>(p);
  }
  std::string Cond(const QdCond &c);
  CondPtr LibCond(const QdCond &c, SqlIsland &island, std::vector<std::string> &args);
  pSQLRSSCValueExprList *MakeList(std::vector<ExprPtr> &exprs, std::size_t from, std::size_t n) {
    auto *list = new pSQLRSSCValueExprList();
    for (std::size_t i = from; i < from + n; ++i) list->Append(exprs[i].release());
    return list;
  }
  // The SELECT text of a subquery and its result columns.
  std::string Subquery(const QdRowSource &rs, Descs *descs) { return Select(rs, descs); }
  ColSql ScalarSubquery(const QdRowSource &rs);
  ColSql TextContent(const QdExpr &e);

  const TableLookup &tables_;
  SqlFunctionHost *host_;
  Translation *out_;
  std::vector<const Row *> scopes_;
  int aliases_ = 0;
};

std::string Translator::Select(const QdRowSource &rs, Descs *descs) {
  if (rs.token == SQLNWTRSTable) {
    const DdTableDesc &table = Table(rs.table, rs.compnr);
    std::vector<std::string> items;
    descs->clear();
    for (const DdColumnDesc *c : OrdinaryColumns(table)) {
      int depth = c->depth > 1 ? c->depth : 1;
      std::size_t i = descs->size();
      descs->emplace_back(c->name.c_str(), SQLTypeOfColumnType(c->type),
                          static_cast<unsigned long>(c->length / depth), depth);
      std::vector<std::string> names = OutNames(i, depth);
      for (int e = 0; e < depth; ++e)
        items.push_back(Quote(depth == 1 ? c->name : c->name + "_" + std::to_string(e + 1)) + " AS " +
                        names[static_cast<std::size_t>(e)]);
    }
    if (items.empty()) Refuse("table " + rs.table + " without columns");
    return "SELECT " + Join(items, ", ") + " FROM " + Quote(SqliteTableName(rs.table, rs.compnr));
  }
  if (rs.token == SQLNWTRSJoin || rs.token == SQLNWTRSUnion) {
    Descs ld, rd;
    std::string l = Select(*rs.inputs[0], &ld), r = Select(*rs.inputs[1], &rd);
    std::string la = Alias(), ra = Alias();
    Row lrow = RowOf(la, ld), rrow = RowOf(ra, rd);
    if (rs.token == SQLNWTRSUnion) {
      if (ld.size() != rd.size())
        Refuse("union of " + std::to_string(ld.size()) + " and " + std::to_string(rd.size()) + " columns");
      descs->clear();
      std::vector<std::string> litems, ritems;
      for (std::size_t i = 0; i < ld.size(); ++i) {
        CheckComparable(ld[i], rd[i], "union");
        if (DepthOf(ld[i]) != DepthOf(rd[i])) Refuse("union of arrays of different lengths");
        SQLType t = ld[i].GetType() == rd[i].GetType() ||
                            (ld[i].GetType() == SQL_INTEGER && rd[i].GetType() == SQL_REAL)
                        ? rd[i].GetType()
                        : ld[i].GetType();
        descs->emplace_back("", t, std::max(ld[i].GetLength(), rd[i].GetLength()), ld[i].GetDepth());
        std::vector<std::string> names = OutNames(i, DepthOf(ld[i]));
        for (std::size_t e = 0; e < names.size(); ++e) {
          litems.push_back(Collated(lrow[i].elems[e], ld[i]) + " AS " + names[e]);
          ritems.push_back(Collated(rrow[i].elems[e], ld[i]) + " AS " + names[e]);
        }
      }
      return "SELECT " + Join(litems, ", ") + " FROM (" + l + ") AS " + la +
             (rs.union_all ? " UNION ALL " : " UNION ") + "SELECT " + Join(ritems, ", ") + " FROM (" + r +
             ") AS " + ra;
    }
    Row both = lrow;
    both.insert(both.end(), rrow.begin(), rrow.end());
    std::string on = "1";
    if (rs.cond) {
      Scoped s(this, &both);
      on = Cond(*rs.cond);
    }
    *descs = ld;
    descs->insert(descs->end(), rd.begin(), rd.end());
    std::vector<std::string> items;
    for (std::size_t i = 0; i < both.size(); ++i) {
      std::vector<std::string> names = OutNames(i, DepthOf(both[i].desc));
      for (std::size_t e = 0; e < names.size(); ++e) items.push_back(both[i].elems[e] + " AS " + names[e]);
    }
    static const char *const kJoins[] = {" INNER JOIN ", " LEFT JOIN ", " RIGHT JOIN ", " FULL JOIN "};
    return "SELECT " + Join(items, ", ") + " FROM (" + l + ") AS " + la + kJoins[rs.join_type] + "(" + r +
           ") AS " + ra + " ON " + on;
  }

  Descs in;
  std::string child = Select(*rs.inputs[0], &in);
  std::string alias = Alias();
  Row row = RowOf(alias, in);
  std::string from = " FROM (" + child + ") AS " + alias;
  Scoped scope(this, &row);
  switch (rs.token) {
    case SQLNWTRSFilter:
      *descs = in;
      return "SELECT *" + from + " WHERE " + Cond(*rs.cond);
    case SQLNWTRSProject: {
      descs->clear();
      std::vector<std::string> items;
      for (const auto &e : rs.exprs) {
        ColSql c = Expr(*e);
        std::vector<std::string> names = OutNames(descs->size(), DepthOf(c.desc));
        for (std::size_t k = 0; k < names.size(); ++k) items.push_back(c.elems[k] + " AS " + names[k]);
        descs->push_back(c.desc);
      }
      return "SELECT " + Join(items, ", ") + from;
    }
    case SQLNWTRSSort: {
      std::vector<std::string> keys;
      for (const QdSortSpec &s : rs.sort) {
        const ColSql &c = Resolve(0, s.column);
        for (const std::string &e : c.elems)
          keys.push_back(Collated(e, c.desc) + (s.descending ? " DESC NULLS FIRST" : " ASC NULLS LAST"));
      }
      *descs = in;
      return keys.empty() ? "SELECT *" + from : "SELECT *" + from + " ORDER BY " + Join(keys, ", ");
    }
    case SQLNWTRSGroup: {
      std::vector<std::string> keys, items;
      for (int g : rs.group_columns) {
        const ColSql &c = Resolve(0, g);
        for (const std::string &e : c.elems) keys.push_back(Collated(e, c.desc));
      }
      descs->clear();
      for (const QdGroupSpec &spec : rs.group_specs) {
        std::vector<std::string> names = OutNames(descs->size(), 1);
        if (spec.token == SQLNWTColumnId) {
          const ColSql &c = Resolve(0, spec.column);
          names = OutNames(descs->size(), DepthOf(c.desc));
          for (std::size_t k = 0; k < names.size(); ++k) items.push_back(c.elems[k] + " AS " + names[k]);
          descs->emplace_back("", c.desc.GetType(), c.desc.GetLength(), c.desc.GetDepth());
          continue;
        }
        if (spec.token == SQLNWTCountStar) {
          items.push_back("count(*) AS " + names[0]);
          descs->emplace_back("", SQL_INTEGER, 0, 1);
          continue;
        }
        ColSql arg = Expr(*spec.arg);
        if (DepthOf(arg.desc) > 1) Refuse("set function over an array");
        std::string type = std::to_string(static_cast<int>(arg.desc.GetType()));
        switch (spec.token) {
          case SQLNWTCount:
            items.push_back("count(" + arg.elems[0] + ") AS " + names[0]);
            descs->emplace_back("", SQL_INTEGER, 0, 1);
            break;
          case SQLNWTAvg:
            CheckScalar(arg.desc, {SQL_INTEGER, SQL_REAL}, "AVG");
            items.push_back("mv_avg(" + type + ", " + arg.elems[0] + ") AS " + names[0]);
            descs->emplace_back("", SQL_REAL, 0, 1);
            break;
          case SQLNWTSum:
            CheckArithmetic(SQLNWTVEAdd, arg.desc, arg.desc);
            [[fallthrough]];
          default: {
            const char *fn = spec.token == SQLNWTMin   ? "mv_min("
                             : spec.token == SQLNWTMax ? "mv_max("
                                                       : "mv_sum(";
            items.push_back(fn + type + ", " + arg.elems[0] + ") AS " + names[0]);
            descs->emplace_back("", arg.desc.GetType(), arg.desc.GetLength(), 1);
          }
        }
      }
      return "SELECT " + Join(items, ", ") + from + (keys.empty() ? "" : " GROUP BY " + Join(keys, ", "));
    }
    case SQLNWTRSConstLeftOuterJoin: {
      *descs = in;
      std::string on = rs.cond ? Cond(*rs.cond) : "1";
      return "SELECT " + alias + ".* FROM (SELECT 1) AS k" + alias + " LEFT JOIN (" + child + ") AS " +
             alias + " ON " + on;
    }
    default:  // prepare and hints change nothing of the rows
      *descs = in;
      return child;
  }
}

ColSql Translator::ScalarSubquery(const QdRowSource &rs) {
  Descs d;
  std::string sub = Subquery(rs, &d);
  if (d.empty() || DepthOf(d[0]) > 1) Refuse("scalar subquery of an array or of no column");
  std::string alias = Alias();
  return ColSql{{"(SELECT CASE WHEN mv_card(count(*)) IS NULL THEN max(" + alias + ".c0) END FROM (" + sub +
                 " LIMIT 2) AS " + alias + ")"},
                SQLColumnDescriptor("", d[0].GetType(), d[0].GetLength(), 1)};
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

ColSql Translator::Expr(const QdExpr &e) {
  if (e.token == SQLNWTVEColRef) return Resolve(e.level, e.column);
  if (e.token == SQLNWTVETextContent) return TextContent(e);
  auto island = std::make_unique<SqlIsland>();
  std::vector<std::string> args;
  island->SetValue(Lib(e, *island, args).release());
  SQLColumnDescriptor d = island->descriptor();
  if (d.GetType() == SQL_UNDEFINED) Refuse("expression without a type");
  int id = Register(std::move(island));
  std::string tail = args.empty() ? "" : ", " + Join(args, ", ");
  ColSql c{{}, d};
  int depth = DepthOf(d);
  for (int k = 0; k < depth; ++k)
    c.elems.push_back("mv_x(" + std::to_string(id) + ", " + std::to_string(depth > 1 ? k : -1) + tail + ")");
  return c;
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
      return JoinNested(parts, 0, parts.size(), c.token == SQLNWTSCAnd ? " AND " : " OR ");
    }
    case SQLNWTSCNot:
      return "(NOT " + Cond(*c.conds[0]) + ")";
    case SQLNWTSCExists: {
      Descs d;
      return "EXISTS (" + Subquery(*c.subquery, &d) + ")";
    }
    case SQLNWTSCInSubquery: {
      ColSql v = Expr(*c.exprs[0]);
      Descs d;
      std::string sub = Subquery(*c.subquery, &d);
      if (d.empty() || DepthOf(v.desc) > 1 || DepthOf(d[0]) > 1) Refuse("IN subquery over arrays");
      CheckComparable(v.desc, d[0], "IN subquery");
      // The library's rule: no row gives FALSE; a NULL value with rows
      // UNKNOWN; else the OR of the equalities with every row.
      auto island = std::make_unique<SqlIsland>();
      auto *l = new pSQLRSSCValueExprList();
      l->Append(new SQLRSSCParameterRef(island->AddLeaf(v.desc)));
      auto *r = new pSQLRSSCValueExprList();
      r->Append(new SQLRSSCParameterRef(island->AddLeaf(d[0])));
      island->SetCond(new SQLRSSCComparison(l, SQLRSSC_EQUAL, r));
      std::string id = std::to_string(Register(std::move(island)));
      std::string a1 = Alias(), a2 = Alias();
      return "(CASE WHEN NOT EXISTS (" + sub + ") THEN 0 WHEN " + v.elems[0] +
             " IS NULL THEN NULL WHEN EXISTS (SELECT 1 FROM (" + sub + ") AS " + a1 + " WHERE mv_c(" + id +
             ", " + v.elems[0] + ", " + a1 + ".c0) = 1) THEN 1 WHEN EXISTS (SELECT 1 FROM (" + sub + ") AS " +
             a2 + " WHERE mv_c(" + id + ", " + v.elems[0] + ", " + a2 + ".c0) IS NULL) THEN NULL ELSE 0 END)";
    }
    default: {
      auto island = std::make_unique<SqlIsland>();
      std::vector<std::string> args;
      island->SetCond(LibCond(c, *island, args).release());
      int id = Register(std::move(island));
      return "mv_c(" + std::to_string(id) + (args.empty() ? "" : ", " + Join(args, ", ")) + ")";
    }
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
  if (dml.token == SQLNWTETDelete) return "DELETE FROM " + name + where;
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
  return "UPDATE " + name + " SET " + Join(sets, ", ") + where;
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
    out->sql = t.Select(*desc.query, &out->columns);
  }
  return out;
}

}  // namespace molvane::driver
