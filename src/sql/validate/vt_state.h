// SQLSTATEs of the validation errors (class 42I: names and usage; 42T:
// types). Every one travels as SQLExSyntaxError with native error 302.
#pragma once

namespace vtstate {

inline constexpr char kAmbiguousColumn[] = "42I02";       // ambiguous column reference
inline constexpr char kUnknownColumn[] = "42I03";         // unknown column
inline constexpr char kUnknownTable[] = "42I04";          // unknown table
inline constexpr char kUnknownCorrelation[] = "42I07";    // table not in the FROM clause
inline constexpr char kMixedReferenceOperand[] = "42I12";   // REFERS TO operand of columns and constants
inline constexpr char kReferenceOperandTables[] = "42I13";  // REFERS TO operand over two tables
inline constexpr char kInvalidPathElement[] = "42I14";    // unqualified REFERS TO path element
inline constexpr char kReferenceCycle[] = "42I17";        // cycle in REFERS TO predicates
inline constexpr char kReferredTwice[] = "42I18";         // table referred to by different tables
inline constexpr char kNotGroupingColumn[] = "42I19";     // column is not a grouping column
inline constexpr char kAggregateOnCombined[] = "42I20";   // set function on a combined column
inline constexpr char kAggregateNotGrouped[] = "42I21";   // set function outside a grouped query
inline constexpr char kMultipleCompnrSpecs[] = "42I31";   // two _compnr restrictions on one table
inline constexpr char kTooManyIndexHints[] = "42I43";     // more than 4 index hints per table
inline constexpr char kInvalidIndexNumber[] = "42I44";    // index hint outside the table's indexes
inline constexpr char kMultipleIndexHints[] = "42I45";    // two index hints on one table
inline constexpr char kCompnrOnDerived[] = "42I55";       // _compnr of a derived table
inline constexpr char kFromClauseMissing[] = "42I60";     // a FROM clause without tables
inline constexpr char kReferenceFromClause[] = "42I70";   // misused FROM element of a REFERS TO
inline constexpr char kCompnrRestriction[] = "42I89";     // company-number restriction conflict
inline constexpr char kRefersBesideJoin[] = "42I91";      // REFERS TO beside a joined or derived table
inline constexpr char kOuterReferenceOperand[] = "42I92"; // outer column in a REFERS TO operand

}  // namespace vtstate
