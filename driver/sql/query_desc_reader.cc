// Reading a query description. Row sources, conditions and expressions are
// written in prefix order: each token is followed by its own items and then
// its operands, so one recursive descent reads them all.
#include "sql/query_desc_reader.h"

#include <algorithm>
#include <string>

#include "sql/agent/nw_token.h"
#include "sql/common/sql_exception.h"

namespace molvane::driver {

namespace {

[[noreturn]] void Bad(const std::string &what) { throw SQLExUnknownNetWorkToken(SQLString(what.c_str())); }

class Reader {
 public:
  explicit Reader(const SQLTokenString &ts) : ts_(ts) {}

  QueryDesc Read() {
    QueryDesc desc;
    desc_ = &desc;
    int token = Peek();
    if (token == SQLNWTETDelete || token == SQLNWTETUpdate)
      desc.dml = Dml();
    else
      desc.query = RowSource();
    if (!ts_.AtEnd()) Bad("bytes after the end of the description");
    return desc;
  }

 private:
  // Keeps the recursion bounded.
  struct Nest {
    explicit Nest(Reader *r) : r_(r) {
      if (++r_->depth_ > kMaxDescriptionDepth) Bad("description nested too deeply");
    }
    ~Nest() { --r_->depth_; }
    Reader *r_;
  };

  int Peek() {
    if (ts_.AtEnd()) Bad("description ends early");
    return ts_.PeekToken();
  }
  int Token() { return ts_.GetToken(); }
  // A count of items that follow, each at least `min_size` bytes long.
  int Count(int n, int min_size) {
    if (n < 0 || static_cast<long>(n) * min_size > ts_.Length() - ts_.GetReadOffset())
      Bad("count " + std::to_string(n) + " beyond the description");
    return n;
  }
  std::string Memory() {
    const unsigned char *bytes;
    std::int16_t n;
    ts_.GetMemory(bytes, n);
    if (n < 0) Bad("negative memory length");
    return std::string(reinterpret_cast<const char *>(bytes), static_cast<std::size_t>(n));
  }
  // True (and the token consumed) when an absent operand is written.
  bool Absent() {
    if (Peek() != SQLNWTNull) return false;
    Token();
    return true;
  }
  void NoteTable(const std::string &name, int compnr) {
    QdTableRef ref{name, compnr};
    if (std::find(desc_->tables.begin(), desc_->tables.end(), ref) == desc_->tables.end())
      desc_->tables.push_back(ref);
  }

  std::unique_ptr<QdRowSource> RowSource();
  std::unique_ptr<QdCond> Cond();
  std::unique_ptr<QdCond> OptionalCond() { return Absent() ? nullptr : Cond(); }
  static std::unique_ptr<QdCond> AlwaysTrue();
  std::unique_ptr<QdExpr> Expr();
  // The parts of Expr that do not recurse.
  [[gnu::noinline]] void TrimSpec(QdExpr *e);
  [[gnu::noinline]] int WhenCount();
  [[gnu::noinline]] void TextCompnr(QdExpr *e);
  [[gnu::noinline]] void Leaf(QdExpr *e);
  std::unique_ptr<QdExpr> OptionalExpr() { return Absent() ? nullptr : Expr(); }
  std::unique_ptr<QdDml> Dml();
  void Hints();

  const SQLTokenString &ts_;
  QueryDesc *desc_ = nullptr;
  int depth_ = 0;
};

void Reader::Hints() {
  for (;;) {
    int t = Token();
    switch (t) {
      case SQLNWTTerminator:
        return;
      case SQLNWTHintsArrayFetchingEnabled:
      case SQLNWTHintsArrayFetchingDisabled:
      case SQLNWTHintsOrdered:
      case SQLNWTHintsRowModeAllRows:
      case SQLNWTHintsRowModeFirstRows:
      case SQLNWTHintsNoHints:
        break;
      case SQLNWTHintsArrayFetchingSize:
        ts_.GetBs4();
        break;
      case SQLNWTHintsStringHint:
        Memory();
        break;
      default:
        Bad("unexpected hint token " + std::to_string(t));
    }
  }
}

std::unique_ptr<QdRowSource> Reader::RowSource() {
  Nest nest(this);
  auto rs = std::make_unique<QdRowSource>();
  rs->token = Token();
  switch (rs->token) {
    case SQLNWTRSTable: {
      rs->table = Memory();
      if (rs->table.empty() || rs->table.size() > 64)
        Bad("table name of " + std::to_string(rs->table.size()) + " bytes");
      rs->compnr = ts_.GetBs2();
      if (rs->compnr < 0 || rs->compnr > 999) Bad("company number " + std::to_string(rs->compnr));
      int hints = Token();
      if (hints == SQLNWTIndexHints) {
        int n = Count(ts_.GetBs1(), 2);
        for (int i = 0; i < n; ++i) ts_.GetBs1();
        int mode = Token();
        if (mode != SQLNWTNull && mode != SQLNWTAscending && mode != SQLNWTDescending)
          Bad("unexpected index hint mode " + std::to_string(mode));
      } else if (hints != SQLNWTNoIndexHints) {
        Bad("unexpected token " + std::to_string(hints) + " after a table");
      }
      NoteTable(rs->table, rs->compnr);
      return rs;
    }
    case SQLNWTRSFilter:
      rs->cond = Cond();
      break;
    case SQLNWTRSProject: {
      int n = Count(ts_.GetBs2(), 3);
      if (n == 0) Bad("projection without columns");
      for (int i = 0; i < n; ++i) rs->exprs.push_back(Expr());
      break;
    }
    case SQLNWTRSSort: {
      int n = Count(ts_.GetBs2(), 6);
      for (int i = 0; i < n; ++i) {
        QdSortSpec s;
        s.column = ts_.GetBs2();
        int dir = Token();
        if (dir != SQLNWTAscending && dir != SQLNWTDescending)
          Bad("unexpected sort direction " + std::to_string(dir));
        s.descending = dir == SQLNWTDescending;
        rs->sort.push_back(s);
      }
      break;
    }
    case SQLNWTRSGroup: {
      int g = Count(ts_.GetBs2(), 3);
      for (int i = 0; i < g; ++i) rs->group_columns.push_back(ts_.GetBs2());
      int m = Count(ts_.GetBs2(), 3);
      if (m == 0) Bad("grouping without output columns");
      for (int i = 0; i < m; ++i) {
        QdGroupSpec spec;
        spec.token = Token();
        switch (spec.token) {
          case SQLNWTColumnId:
            spec.column = ts_.GetBs2();
            break;
          case SQLNWTCountStar:
            break;
          case SQLNWTMin:
          case SQLNWTMax:
          case SQLNWTSum:
          case SQLNWTAvg:
          case SQLNWTCount:
            spec.arg = Expr();
            break;
          default:
            Bad("unexpected group specification " + std::to_string(spec.token));
        }
        rs->group_specs.push_back(std::move(spec));
      }
      break;
    }
    case SQLNWTRSJoin: {
      int jt = Token();
      if (jt < SQLNWTJoinTypeInner || jt > SQLNWTJoinTypeFull)
        Bad("unexpected join type " + std::to_string(jt));
      rs->join_type = jt - SQLNWTJoinTypeInner;
      rs->cond = OptionalCond();
      rs->inputs.push_back(RowSource());
      break;  // the right operand follows below
    }
    case SQLNWTRSConstLeftOuterJoin:
      // Without a condition every row of the child qualifies: the join's
      // condition is then 1 = 1.
      rs->cond = OptionalCond();
      if (!rs->cond) rs->cond = AlwaysTrue();
      break;
    case SQLNWTRSUnion: {
      int all = ts_.GetBs2();
      if (all != 0 && all != 1) Bad("unexpected union flag " + std::to_string(all));
      rs->union_all = all == 1;
      rs->inputs.push_back(RowSource());
      break;
    }
    case SQLNWTRSPrepare:
      break;
    case SQLNWTRSHints:
      Hints();
      break;
    default:
      Bad("unexpected row source token " + std::to_string(rs->token));
  }
  rs->inputs.push_back(RowSource());
  return rs;
}

std::unique_ptr<QdCond> Reader::AlwaysTrue() {
  auto c = std::make_unique<QdCond>();
  c->token = SQLNWTSCEquals;
  c->n = 1;
  for (int i = 0; i < 2; ++i) {
    auto one = std::make_unique<QdExpr>();
    one->token = SQLNWTVEIntegerConst;
    one->constant.SetInteger(1);
    c->exprs.push_back(std::move(one));
  }
  return c;
}

std::unique_ptr<QdCond> Reader::Cond() {
  Nest nest(this);
  auto c = std::make_unique<QdCond>();
  c->token = Token();
  switch (c->token) {
    case SQLNWTSCAnd:
    case SQLNWTSCOr: {
      int n = Count(ts_.GetBs2(), 3);
      if (n == 0) Bad("logical operator without operands");
      for (int i = 0; i < n; ++i) c->conds.push_back(Cond());
      break;
    }
    case SQLNWTSCNot:
      c->conds.push_back(Cond());
      break;
    case SQLNWTSCEquals:
    case SQLNWTSCNotEquals:
    case SQLNWTSCLessThan:
    case SQLNWTSCLessThanOrEquals:
    case SQLNWTSCGreaterThan:
    case SQLNWTSCGreaterThanOrEquals:
    case SQLNWTSCBetween: {
      c->n = Count(ts_.GetBs2(), 3);
      if (c->n == 0) Bad("comparison of empty row values");
      int parts = c->token == SQLNWTSCBetween ? 3 : 2;
      for (int i = 0; i < parts * c->n; ++i) c->exprs.push_back(Expr());
      break;
    }
    case SQLNWTSCInSet: {
      c->exprs.push_back(Expr());
      int n = Count(ts_.GetBs2(), 3);
      if (n == 0) Bad("IN with an empty list");
      for (int i = 0; i < n; ++i) c->exprs.push_back(Expr());
      break;
    }
    case SQLNWTSCLikeAnsi:
    case SQLNWTSCLikeRegexp:
      c->exprs.push_back(Expr());
      c->exprs.push_back(Expr());
      if (c->token == SQLNWTSCLikeAnsi) c->exprs.push_back(OptionalExpr());
      break;
    case SQLNWTSCIsNull:
      c->exprs.push_back(Expr());
      break;
    case SQLNWTSCInSubquery:
      c->exprs.push_back(Expr());
      c->subquery = RowSource();
      break;
    case SQLNWTSCExists:
      c->subquery = RowSource();
      break;
    default:
      Bad("unexpected condition token " + std::to_string(c->token));
  }
  return c;
}

// Expressions nest as deep as the statement (up to kMaxDescriptionDepth):
// Expr keeps to the cases that recurse and holds no temporaries, so that a
// level costs little stack; the leaves and the messages are read elsewhere.
std::unique_ptr<QdExpr> Reader::Expr() {
  Nest nest(this);
  auto e = std::make_unique<QdExpr>();
  e->token = Token();
  switch (e->token) {
    case SQLNWTVEAdd:
    case SQLNWTVESubtract:
    case SQLNWTVEMultiply:
    case SQLNWTVEDivide:
    case SQLNWTVEModulo:
    case SQLNWTVEConcatenate:
    case SQLNWTVEIndexing:
      e->args.push_back(Expr());
      e->args.push_back(Expr());
      break;
    case SQLNWTVESubstr:
      e->args.push_back(Expr());
      e->args.push_back(Expr());
      e->args.push_back(OptionalExpr());
      break;
    case SQLNWTVETrim:
      TrimSpec(e.get());
      e->args.push_back(OptionalExpr());
      e->args.push_back(Expr());
      break;
    case SQLNWTVEReinterpretCast:
      e->type = ts_.GetType();
      e->args.push_back(Expr());
      break;
    case SQLNWTVEScalarSubquery:
      e->subquery = RowSource();
      break;
    case SQLNWTVESimpleCase: {
      e->args.push_back(Expr());
      int n = WhenCount();
      for (int i = 0; i < n; ++i) {
        e->args.push_back(Expr());
        e->args.push_back(OptionalExpr());
      }
      e->args.push_back(OptionalExpr());
      break;
    }
    case SQLNWTVETextContent:
      e->args.push_back(Expr());
      e->args.push_back(Expr());
      TextCompnr(e.get());
      break;
    default:
      Leaf(e.get());
  }
  return e;
}

void Reader::TrimSpec(QdExpr *e) {
  int spec = Token();
  if (spec < SQLNWTTrimLeading || spec > SQLNWTTrimBoth) Bad("unexpected trim specification " + std::to_string(spec));
  e->trim = spec - SQLNWTTrimLeading;
}

int Reader::WhenCount() {
  int n = Count(ts_.GetBs4(), 6);
  if (n == 0) Bad("CASE without WHEN");
  return n;
}

void Reader::TextCompnr(QdExpr *e) {
  e->compnr = ts_.GetBs4();
  if (e->compnr < 0 || e->compnr > 999) Bad("company number " + std::to_string(e->compnr));
  NoteTable(kTextTable, e->compnr);
}

void Reader::Leaf(QdExpr *e) {
  switch (e->token) {
    case SQLNWTVEColRef:
      e->level = ts_.GetBs2();
      e->column = ts_.GetBs2();
      if (e->level > 0 || e->column < 0)
        Bad("column reference level " + std::to_string(e->level) + " column " + std::to_string(e->column));
      break;
    case SQLNWTVEParameterRef:
      e->param_id = ts_.GetBs4();
      e->type = ts_.GetType();
      e->length = ts_.GetBs4();
      e->depth = ts_.GetBs4();
      if (e->length < 0 || e->depth < 1 || e->depth > 4096)
        Bad("parameter of length " + std::to_string(e->length) + " depth " + std::to_string(e->depth));
      break;
    case SQLNWTVEStringConst:
    case SQLNWTVERawConst: {
      std::string bytes = Memory();
      const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
      if (e->token == SQLNWTVEStringConst)
        e->constant.SetString(p, bytes.size());
      else
        e->constant.SetRaw(p, bytes.size());
      break;
    }
    case SQLNWTVEIntegerConst:
      e->constant.SetInteger(ts_.GetBs4());
      break;
    case SQLNWTVEDateConst:
      e->constant.SetDate(ts_.GetBs4());
      break;
    case SQLNWTVERealConst:
      e->constant.SetReal(ts_.GetDouble());
      break;
    case SQLNWTVETimeStampConst:
      e->constant.SetTimestamp(ts_.GetBs8());
      break;
    default:
      Bad("unexpected expression token " + std::to_string(e->token));
  }
}

std::unique_ptr<QdDml> Reader::Dml() {
  auto d = std::make_unique<QdDml>();
  d->token = Token();
  d->table = Memory();
  if (d->table.empty() || d->table.size() > 64)
    Bad("table name of " + std::to_string(d->table.size()) + " bytes");
  d->compnr = ts_.GetBs2();
  if (d->compnr < 0 || d->compnr > 999) Bad("company number " + std::to_string(d->compnr));
  NoteTable(d->table, d->compnr);
  if (d->token == SQLNWTETUpdate) {
    int n = Count(ts_.GetBs2(), 8);
    if (n == 0) Bad("UPDATE without SET items");
    for (int i = 0; i < n; ++i) {
      QdSetItem item;
      item.column = ts_.GetBs4();
      if (item.column < 0) Bad("SET column " + std::to_string(item.column));
      item.value = Expr();
      d->sets.push_back(std::move(item));
    }
  }
  d->cond = OptionalCond();
  return d;
}

}  // namespace

QueryDesc ReadQueryDesc(const SQLTokenString &ts) { return Reader(ts).Read(); }

}  // namespace molvane::driver
