// Token codes and the semantic value of the role-condition language.
//
// The codes are the parser's token numbers: the grammar declares every token
// with exactly this number. Any other code 1 to 255 is a byte that starts no
// token (the parser rejects it); 0 is the end of the text.
#pragma once

class SQLVTSCSearchCond;
class SQLVTSCValueExpr;

namespace sctoken {
enum : int {
  kEnd = 0,
  kAnd = 258,           // "and", any case
  kOr = 259,            // "or", any case
  kIdentifier = 260,    // a column name
  kString = 261,        // '...' or "..." with its quotes
  kInteger = 262,       // decimal digits
  kReal = 263,          // digits with a point, optionally an exponent
  kEqual = 264,         // "="
  kNotEqual = 265,      // "<>" and "!="
  kLess = 266,          // "<"
  kGreater = 267,       // ">"
  kLessEqual = 268,     // "<="
  kGreaterEqual = 269,  // ">="
  kPlus = 270,          // "+"
  kMinus = 271,         // "-"
  kAsterisk = 272,      // "*"
  kSlash = 273,         // "/"
  kBackslash = 274,     // "\": modulo
  kAmpersand = 275,     // "&": concatenation
  kLeftParen = 276,     // "("
  kRightParen = 277,    // ")"
};
}  // namespace sctoken

// The parser's value cell. Tokens that carry text point into the scan
// buffer (valid until the next token is scanned); the grammar's nodes are
// owned by the live-object lists of the parse until a parent takes them.
union SQLSCYYSType {
  char *text;
  SQLVTSCValueExpr *value;
  SQLVTSCSearchCond *cond;
  int op;  // a comparison operator code
};
