// The conditions of the translation that combine others (AND, OR, NOT) or
// read a subquery (EXISTS, IN), and the forms that make a condition that can
// fail be evaluated only where a row reaches it: each beside what is
// certain of it without what can fail (Certainty), and waiting for the
// conditions that decide before it.
#include "sql/sqlite_translator.h"

namespace molvane::driver::translate {

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

namespace {

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

}  // namespace

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

// A part of a correlated subquery's WHERE that can fail and reads only
// enclosing rows has one value for all the rows of the subquery, but it
// is evaluated, guarded, on every row that reaches it: SQLite tests a
// term of enclosing rows once before its loop only when it cannot fail,
// and doing so with one that can would fail where no row reaches it. So
// where what is certain of such parts says that all are TRUE, which the
// enclosing row alone tells, the subquery is run without them (the same
// rows, the parts spared); elsewhere it runs as it is. Each run reads the
// subquery once. A subquery that would double an already long text is
// left as it is, so that nested ones do not grow without bound.
std::string Translator::SureOuter(const Block &b, const std::function<std::string(const Block &)> &over) const {
  constexpr std::size_t kLongest = 20000;
  if (!b.correlated || b.outer.empty()) return over(b);
  Block lean = b;
  lean.where.clear();
  lean.outer.clear();
  std::vector<std::string> sure;
  for (const std::string &p : b.where) {
    bool const outer = std::find(b.outer.begin(), b.outer.end(), p) != b.outer.end();
    std::string const yes = outer ? CertainOf(p).yes : "";
    if (yes.empty())
      lean.where.push_back(p);
    else
      sure.push_back(yes);
  }
  std::string const whole = over(b);
  if (sure.empty() || whole.size() > kLongest) return whole;
  return "(CASE WHEN " + Logical(sure, 0, sure.size(), " AND ") + " THEN " + over(lean) + " ELSE " + whole + " END)";
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
      return SureOuter(b, [&](const Block &x) { return "EXISTS (" + Render(x, x.plain() ? &one : nullptr) + ")"; });
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
      return SureOuter(b, [&](const Block &x) {
        std::string sub = Render(x, &items);
        // An answer that can fail is never looked up by an index of the
        // value: SQLite would fill it before reading any row, where the
        // statement may have no row that reaches it.
        std::string const set = x.correlated ? "(" + sub + ")" : Cte(sub);
        std::string const value = (MayFail(set) && !text ? "+" : "") + Collated(v.elems[0], v.desc);
        return "(" + value + " IN " + set + ")";
      });
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

}  // namespace molvane::driver::translate
