// SQLSTATEs of the SQL front end (scanner, grammar and parse entry). All of
// them travel in SQLExSyntaxError with native error 302 and the statement
// line. "22019" (invalid escape character) lives in sql/common/sql_state.h.
#pragma once

namespace syntaxstate {

inline constexpr char kUnexpectedToken[] = "42I00";  // also a token too long to scan
inline constexpr char kDuplicateTableName[] = "42I01";
inline constexpr char kUnknownTable[] = "42I04";
inline constexpr char kNumericLiteralOutOfRange[] = "42I05";
inline constexpr char kCombinedExpressionInLike[] = "42I08";
inline constexpr char kInvalidReferencePathElement[] = "42I14";
inline constexpr char kInvalidDate[] = "42I24";
inline constexpr char kCombinedExpressionInIn[] = "42I26";
inline constexpr char kUnknownEnumValue[] = "42I28";
inline constexpr char kCompnrInHaving[] = "42I32";
inline constexpr char kRefersInHaving[] = "42I33";
inline constexpr char kMultipleRowModeHints[] = "42I34";
inline constexpr char kMultipleArrayFetchingHints[] = "42I35";
inline constexpr char kMultipleArraySizeHints[] = "42I36";
inline constexpr char kInvalidArraySize[] = "42I37";
inline constexpr char kMultipleBufferSizeHints[] = "42I38";
inline constexpr char kInvalidBufferSize[] = "42I39";
inline constexpr char kMultipleStringHints[] = "42I40";
inline constexpr char kMultipleOrderedHints[] = "42I41";
inline constexpr char kMultipleNoHintsHints[] = "42I42";
inline constexpr char kTooManyIndexHints[] = "42I43";
inline constexpr char kUnexpectedEnd[] = "42I46";
inline constexpr char kSubqueryForUpdate[] = "42I56";
inline constexpr char kForUpdateInGroupedQuery[] = "42I57";
inline constexpr char kTooManySubqueries[] = "42I58";
inline constexpr char kTreeTooDeep[] = "42I59";
inline constexpr char kFromClauseMissing[] = "42I60";
inline constexpr char kRefersInDelete[] = "42I61";
inline constexpr char kRefersInUpdate[] = "42I62";
inline constexpr char kForUpdateInUnion[] = "42I72";
inline constexpr char kInvalidDateString[] = "42I76";
inline constexpr char kInvalidTimestamp[] = "42I77";
inline constexpr char kInvalidTimestampString[] = "42I78";
inline constexpr char kInvalidCompanyNumber[] = "42I79";
inline constexpr char kRowValueInIsNull[] = "42I81";
inline constexpr char kNotInThisParseMode[] = "42I82";
inline constexpr char kInvalidCaseExpression[] = "42I85";
inline constexpr char kMultipleCompnrInLists[] = "42I89";
inline constexpr char kTimestampOutOfRange[] = "22501";
inline constexpr char kInvalidMaxRows[] = "QP050";

}  // namespace syntaxstate
