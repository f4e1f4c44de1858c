// SQLSTATEs of the validation errors (class 42I: names and usage; 42T:
// types). Every one travels as SQLExSyntaxError with native error 302.
#pragma once

namespace vtstate {

inline constexpr char kAmbiguousColumn[] = "42I02";       // ambiguous column reference
inline constexpr char kNotGroupingColumn[] = "42I19";     // column is not a grouping column
inline constexpr char kAggregateOnCombined[] = "42I20";   // set function on a combined column
inline constexpr char kAggregateNotGrouped[] = "42I21";   // set function outside a grouped query
inline constexpr char kTooManyIndexHints[] = "42I43";     // more than 4 index hints per table
inline constexpr char kCompnrRestriction[] = "42I89";     // company-number restriction conflict

}  // namespace vtstate
