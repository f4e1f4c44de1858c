// SQLRSSCLike: value LIKE pattern [ESCAPE character], matched by the
// platform's regular-expression engine (docs/like-patterns.md).
//
// In ANSI mode the LIKE pattern is translated into a regular expression:
// "%" becomes ".*", "_" becomes ".", the characters special to the engine
// are written with a "\" before them, and the escape character makes the
// next "%", "_" or escape character stand for itself. A TSS 4-byte
// character is copied whole, so that its bytes are never read as pattern
// characters. In regexp mode the pattern is the expression itself. Either
// way the expression is anchored ("^" ... "$") so that the whole value must
// match, and compiled once at Prepare when pattern and escape are constant.
#pragma once

#include <string>
#include <vector>

#include "sql/exec/sc_search_cond.h"

class SQLRSSCLike : public SQLRSSCSearchCond {
 public:
  // Takes the three expressions over; escape may be null.
  SQLRSSCLike(SQLRSSCValueExpr *value, SQLRSSCValueExpr *pattern, SQLRSSCValueExpr *escape, bool ansi);

  void Prepare(SQLRSPrepareContext *context) override;
  // UNKNOWN for a NULL value, pattern or escape. An escape that is not one
  // byte raises "22019" (319), an escape before anything but "%", "_" or
  // itself "22025" (325), an ANSI pattern over 2048 bytes "22001" (307), a
  // pattern the engine refuses SQLExZDBError 215.
  SQLTruthValue Evaluate() override;
  void Reset() override;
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

  // The regular expression of an ANSI pattern (not yet anchored); escape
  // is a byte, or -1 for none.
  static std::string TranslatePattern(unsigned char const *pattern, unsigned long length, int escape);

 protected:
  char const *ClassName() const override { return "SQLRSSCLike"; }

 private:
  // The escape byte of the evaluated escape (-1 when there is none); FALSE
  // when the escape is NULL.
  bool EscapeByte(int *escape);
  // Translates (ANSI), anchors and compiles the evaluated pattern into
  // program.
  void Compile(int escape, std::vector<char> *program);
  static bool Match(SQLValueStore const *value, std::vector<char> const &program);

  SQLRSSCValueExprPtr value_, pattern_, escape_;
  SQLValueStore const *valueStore_ = nullptr;
  SQLValueStore const *patternStore_ = nullptr;
  SQLValueStore const *escapeStore_ = nullptr;
  bool ansi_;
  bool constant_ = false;       // pattern and escape are constant: program_ holds them
  bool constantNull_ = false;   // ... and one of them is NULL
  std::vector<char> program_;   // the compiled constant pattern
  std::vector<char> scratch_;   // per-row compilation of a variable pattern
};
