// Translation of a typed description into SQLite SQL. One recursive pass
// both types and translates: a row source returns its SELECT text and the
// descriptors of its result columns; its parent reads that SELECT as a
// derived table under a fresh alias, through which expressions name the
// columns (the scope stack gives enclosing rows to correlated subqueries).
#include "sql/sqlite_translator.h"

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

namespace translate {

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

namespace {

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

}  // namespace

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
      b.outer.clear();
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
  std::vector<bool> outer;  // reads no column of the block's row
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
    outer.push_back(cheap && read.empty());
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
    if (!dear[i] && MayFail(parts[i])) {
      b->where.push_back(parts[i]);
      if (outer[i]) b->outer.push_back(parts[i]);
    }
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
  j.outer = l.outer;
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

}  // namespace translate

std::unique_ptr<Translation> TranslateDesc(const QueryDesc &desc, const TableLookup &tables,
                                           SqlFunctionHost *host) {
  auto out = std::make_unique<Translation>();
  out->host = host;
  translate::Translator t(tables, host, out.get());
  if (desc.dml) {
    out->sql = t.Dml(*desc.dml);
  } else {
    out->sql = t.Query(*desc.query, &out->columns);
  }
  return out;
}

}  // namespace molvane::driver
