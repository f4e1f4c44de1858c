// The expressions and single conditions of the translation: what SQLite
// holds as the library does is written as SQLite's own; anything else
// becomes a scalar island of the library's expression classes, with
// constants computed here once.
#include "sql/sqlite_translator.h"

namespace molvane::driver::translate {

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

}  // namespace

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

}  // namespace molvane::driver::translate
