// Token codes of the SQL scanner: the parser's token numbers.
//
// Codes 258 to 389 are the terminal symbols of the SQL grammar; the parser
// generator must number its tokens exactly as below (code - 255 is the
// parser's internal symbol number). Every other byte value 1 to 255 that the
// scanner returns stands for itself: a byte that starts no token, which the
// parser reports as unexpected. 0 ends the input.
#pragma once

namespace sqltoken {

inline constexpr int kEnd = 0;  // end of the statement text

// Keywords, matched in any case.
inline constexpr int kAlike = 258;
inline constexpr int kAll = 259;
inline constexpr int kAnd = 260;
inline constexpr int kArray = 261;
inline constexpr int kAs = 262;
inline constexpr int kAsc = 263;
// "as" directly followed (across blanks and "|" comments) by SET or PREPARED.
inline constexpr int kAsBeforeSet = 264;
inline constexpr int kAvg = 265;
inline constexpr int kBetween = 266;
inline constexpr int kBoth = 267;
inline constexpr int kBuffer = 268;
inline constexpr int kBy = 269;
inline constexpr int kCase = 270;
inline constexpr int kCast = 271;
inline constexpr int kClear = 272;
inline constexpr int kClearUnref = 273;
inline constexpr int kCount = 274;
inline constexpr int kCross = 275;  // scanned, accepted by no grammar rule
inline constexpr int kCurrentDate = 276;
inline constexpr int kCurrentTimestamp = 277;
inline constexpr int kDate = 278;
inline constexpr int kDateNum = 279;    // "date.num"
inline constexpr int kDateToNum = 280;  // "date.to.num"
inline constexpr int kDelete = 281;
inline constexpr int kDesc = 282;
inline constexpr int kElse = 283;
inline constexpr int kEmpty = 284;
inline constexpr int kEndKeyword = 285;  // "end" (kEnd is the end of the text)
inline constexpr int kEnumDescription = 286;
inline constexpr int kEscape = 287;
inline constexpr int kExists = 288;
inline constexpr int kFetching = 289;
inline constexpr int kFirst = 290;
inline constexpr int kFor = 291;
inline constexpr int kFrom = 292;
inline constexpr int kFull = 293;
inline constexpr int kGroup = 294;
inline constexpr int kHaving = 295;
inline constexpr int kHint = 296;
inline constexpr int kHints = 297;
inline constexpr int kIn = 298;
inline constexpr int kIndex = 299;
inline constexpr int kInner = 300;
inline constexpr int kInRange = 301;
inline constexpr int kInteger = 302;
inline constexpr int kIs = 303;
inline constexpr int kJoin = 304;
inline constexpr int kLast = 305;
inline constexpr int kLeading = 306;
inline constexpr int kLeft = 307;
inline constexpr int kLike = 308;
inline constexpr int kMax = 309;
inline constexpr int kMin = 310;
inline constexpr int kNo = 311;
inline constexpr int kNot = 312;
inline constexpr int kNull = 313;
inline constexpr int kOn = 314;
inline constexpr int kOr = 315;
inline constexpr int kOrder = 316;
inline constexpr int kOrdered = 317;
inline constexpr int kOuter = 318;
inline constexpr int kPath = 319;
inline constexpr int kPrepared = 320;
inline constexpr int kRaw = 321;
inline constexpr int kReal = 322;
inline constexpr int kRefers = 323;
inline constexpr int kRepeat = 324;
inline constexpr int kRetry = 325;
inline constexpr int kRight = 326;
inline constexpr int kRow = 327;
inline constexpr int kRows = 328;
inline constexpr int kSelect = 329;
inline constexpr int kSet = 330;
inline constexpr int kSetUnref = 331;
inline constexpr int kSkip = 332;
inline constexpr int kSize = 333;
inline constexpr int kString = 334;
inline constexpr int kSubhint = 335;
inline constexpr int kSum = 336;
inline constexpr int kTextContent = 337;
inline constexpr int kThen = 338;
inline constexpr int kTimestamp = 339;
inline constexpr int kTo = 340;
inline constexpr int kTrailing = 341;
inline constexpr int kTrim = 342;
inline constexpr int kUnion = 343;
inline constexpr int kUnref = 344;
inline constexpr int kUpdate = 345;
inline constexpr int kUse = 346;
inline constexpr int kWhen = 347;
inline constexpr int kWhere = 348;
inline constexpr int kWith = 349;

// Operators and punctuation.
inline constexpr int kAmpersand = 350;  // "&": string concatenation
inline constexpr int kAsterisk = 351;   // "*"
inline constexpr int kBackslash = 352;  // "\": modulo
inline constexpr int kColon = 353;      // ":" alone; no grammar rule accepts it
inline constexpr int kHashGreater = 354;       // "#>"
inline constexpr int kHashGreaterEqual = 355;  // "#>="
inline constexpr int kHashLess = 356;          // "#<"
inline constexpr int kHashLessEqual = 357;     // "#<="
inline constexpr int kComma = 358;             // ","
// "_compnr" in classic mode, "company_nr" in ANSI mode (text).
inline constexpr int kCompanyColumn = 359;
inline constexpr int kDollar = 360;     // "$" alone; no grammar rule accepts it
inline constexpr int kDoubleBar = 361;  // "||": concatenation, ANSI mode only
inline constexpr int kEquals = 362;          // "="
inline constexpr int kGreater = 363;         // ">"
inline constexpr int kGreaterEqual = 364;    // ">="
inline constexpr int kRawLiteral = 365;      // x'0F', X"ab" (text)
inline constexpr int kHostVariable = 366;    // ":5", ":rec.field$" (text, colon kept)
inline constexpr int kIdentifier = 367;      // (text)
inline constexpr int kQualifiedName = 368;   // "a.b.c" as one token (text)
inline constexpr int kLeftBrace = 369;       // "{"
inline constexpr int kLeftBracket = 370;     // "["
inline constexpr int kLeftParen = 371;       // "("
inline constexpr int kLess = 372;            // "<"
inline constexpr int kLessEqual = 373;       // "<="
inline constexpr int kMinus = 374;           // "-"
inline constexpr int kNotEqual = 375;        // "<>" or "!="
inline constexpr int kPeriod = 376;          // "."
inline constexpr int kPlus = 377;            // "+"
// "company_nr" in double quotes, ANSI mode (text, quotes kept).
inline constexpr int kQuotedCompanyColumn = 378;
// Any other double-quoted text in ANSI mode (text, quotes kept).
inline constexpr int kDelimitedIdentifier = 379;
inline constexpr int kRightBrace = 380;    // "}"
inline constexpr int kRightBracket = 381;  // "]"
inline constexpr int kRightParen = 382;    // ")"
inline constexpr int kSemicolon = 383;     // ";"
inline constexpr int kSlash = 384;         // "/"
// Single-quoted text; double-quoted text in classic mode (text, quotes kept).
inline constexpr int kStringLiteral = 385;
// identifier "." company-column word of the current mode (text).
inline constexpr int kQualifiedCompanyColumn = 386;
inline constexpr int kIntegerLiteral = 387;  // also TRUE (text "1") and FALSE (text "0")
inline constexpr int kRealLiteral = 388;
inline constexpr int kUnused = 389;  // a parser symbol the scanner never returns

inline constexpr int kFirstToken = kAlike;
inline constexpr int kLastToken = kUnused;

}  // namespace sqltoken

// The value a grammar symbol carries. For every token marked (text) above the
// scanner stores the token text (NUL-terminated in the scan buffer, valid
// until the next token is scanned) in `text`; the parser's own symbols use
// the other members.
union SQLYYSType {
  char *text;    // token text
  void *object;  // an object built by a parse action
  long number;   // a code or count of a parse action
};

// A printable name of a token code for traces and tests: the keyword in upper
// case ("DATE.NUM"), the operator text ("#>="), or the token class in lower
// case ("identifier", "AS-before-SET", "end"). nullptr for a single-byte token
// (1 to 255) and any other number.
char const *SQLTokenName(int code);
