// Trace names of the protocol tokens and item tags.
#include "sql/agent/nw_token.h"

namespace {

struct TokenName {
  int code;
  char const *name;
};

// Sorted by code.
constexpr TokenName kTokenNames[] = {
    {SQLNWTPacketForStmt, "SQLNWTPacketForStmt"},
    {SQLNWTPacketForSession, "SQLNWTPacketForSession"},
    {SQLNWTPacketForDriver, "SQLNWTPacketForDriver"},
    {SQLNWTLanguageLevel, "SQLNWTLanguageLevel"},
    {SQLNWTPacketPrepare, "SQLNWTPacketPrepare"},
    {SQLNWTPacketAttach, "SQLNWTPacketAttach"},
    {SQLNWTPacketBindParams, "SQLNWTPacketBindParams"},
    {SQLNWTPacketSetTimeOut, "SQLNWTPacketSetTimeOut"},
    {SQLNWTPacketSetMaxRows, "SQLNWTPacketSetMaxRows"},
    {SQLNWTPacketExec, "SQLNWTPacketExec"},
    {SQLNWTPacketFetch, "SQLNWTPacketFetch"},
    {SQLNWTPacketBreak, "SQLNWTPacketBreak"},
    {SQLNWTPacketClose, "SQLNWTPacketClose"},
    {SQLNWTPacketDestroy, "SQLNWTPacketDestroy"},
    {SQLNWTPacketSkipRows, "SQLNWTPacketSkipRows"},
    {SQLNWTMissingDDs, "SQLNWTMissingDDs"},
    {SQLNWTHandlePendingPackets, "SQLNWTHandlePendingPackets"},
    {SQLNWTDiagRec, "SQLNWTDiagRec"},
    {SQLNWTStmtNotCreated, "SQLNWTStmtNotCreated"},
    {SQLNWTStmtPrepared, "SQLNWTStmtPrepared"},
    {SQLNWTStmtAttached, "SQLNWTStmtAttached"},
    {SQLNWTStmtExecuted, "SQLNWTStmtExecuted"},
    {SQLNWTNull, "SQLNWTNull"},
    {SQLNWTTerminator, "SQLNWTTerminator"},
    {SQLNWTAscending, "SQLNWTAscending"},
    {SQLNWTDescending, "SQLNWTDescending"},
    {SQLNWTColumnId, "SQLNWTColumnId"},
    {SQLNWTCountStar, "SQLNWTCountStar"},
    {SQLNWTCount, "SQLNWTCount"},
    {SQLNWTMin, "SQLNWTMin"},
    {SQLNWTMax, "SQLNWTMax"},
    {SQLNWTSum, "SQLNWTSum"},
    {SQLNWTAvg, "SQLNWTAvg"},
    {SQLNWTTrimLeading, "SQLNWTTrimLeading"},
    {SQLNWTTrimTrailing, "SQLNWTTrimTrailing"},
    {SQLNWTTrimBoth, "SQLNWTTrimBoth"},
    {SQLNWTTypeString, "SQLNWTTypeString"},
    {SQLNWTTypeInteger, "SQLNWTTypeInteger"},
    {SQLNWTTypeReal, "SQLNWTTypeReal"},
    {SQLNWTTypeDate, "SQLNWTTypeDate"},
    {SQLNWTTypeTimeStamp, "SQLNWTTypeTimeStamp"},
    {SQLNWTTypeIntervalDays, "SQLNWTTypeIntervalDays"},
    {SQLNWTTypeIntervalSeconds, "SQLNWTTypeIntervalSeconds"},
    {SQLNWTTypeRaw, "SQLNWTTypeRaw"},
    {SQLNWTJoinTypeInner, "SQLNWTJoinTypeInner"},
    {SQLNWTJoinTypeLeft, "SQLNWTJoinTypeLeft"},
    {SQLNWTJoinTypeRight, "SQLNWTJoinTypeRight"},
    {SQLNWTJoinTypeFull, "SQLNWTJoinTypeFull"},
    {SQLNWTResultSet, "SQLNWTResultSet"},
    {SQLNWTEndOfSet, "SQLNWTEndOfSet"},
    {SQLNWTNrRowsProcessed, "SQLNWTNrRowsProcessed"},
    {SQLNWTRSProject, "SQLNWTRSProject"},
    {SQLNWTRSPrepare, "SQLNWTRSPrepare"},
    {SQLNWTRSSort, "SQLNWTRSSort"},
    {SQLNWTRSGroup, "SQLNWTRSGroup"},
    {SQLNWTRSFilter, "SQLNWTRSFilter"},
    {SQLNWTRSConstLeftOuterJoin, "SQLNWTRSConstLeftOuterJoin"},
    {SQLNWTRSJoin, "SQLNWTRSJoin"},
    {SQLNWTRSTable, "SQLNWTRSTable"},
    {SQLNWTRSUnion, "SQLNWTRSUnion"},
    {SQLNWTRSHints, "SQLNWTRSHints"},
    {SQLNWTETDelete, "SQLNWTETDelete"},
    {SQLNWTETUpdate, "SQLNWTETUpdate"},
    {SQLNWTSCAnd, "SQLNWTSCAnd"},
    {SQLNWTSCOr, "SQLNWTSCOr"},
    {SQLNWTSCNot, "SQLNWTSCNot"},
    {SQLNWTSCEquals, "SQLNWTSCEquals"},
    {SQLNWTSCNotEquals, "SQLNWTSCNotEquals"},
    {SQLNWTSCLessThan, "SQLNWTSCLessThan"},
    {SQLNWTSCLessThanOrEquals, "SQLNWTSCLessThanOrEquals"},
    {SQLNWTSCGreaterThan, "SQLNWTSCGreaterThan"},
    {SQLNWTSCGreaterThanOrEquals, "SQLNWTSCGreaterThanOrEquals"},
    {SQLNWTSCBetween, "SQLNWTSCBetween"},
    {SQLNWTSCInSet, "SQLNWTSCInSet"},
    {SQLNWTSCLikeRegexp, "SQLNWTSCLikeRegexp"},
    {SQLNWTSCInSubquery, "SQLNWTSCInSubquery"},
    {SQLNWTSCExists, "SQLNWTSCExists"},
    {SQLNWTSCIsNull, "SQLNWTSCIsNull"},
    {SQLNWTSCLikeAnsi, "SQLNWTSCLikeAnsi"},
    {SQLNWTVEAdd, "SQLNWTVEAdd"},
    {SQLNWTVESubtract, "SQLNWTVESubtract"},
    {SQLNWTVEMultiply, "SQLNWTVEMultiply"},
    {SQLNWTVEDivide, "SQLNWTVEDivide"},
    {SQLNWTVEModulo, "SQLNWTVEModulo"},
    {SQLNWTVEConcatenate, "SQLNWTVEConcatenate"},
    {SQLNWTVESubstr, "SQLNWTVESubstr"},
    {SQLNWTVETrim, "SQLNWTVETrim"},
    {SQLNWTVEIndexing, "SQLNWTVEIndexing"},
    {SQLNWTVEReinterpretCast, "SQLNWTVEReinterpretCast"},
    {SQLNWTVEColRef, "SQLNWTVEColRef"},
    {SQLNWTVEParameterRef, "SQLNWTVEParameterRef"},
    {SQLNWTVEScalarSubquery, "SQLNWTVEScalarSubquery"},
    {SQLNWTVEStringConst, "SQLNWTVEStringConst"},
    {SQLNWTVEIntegerConst, "SQLNWTVEIntegerConst"},
    {SQLNWTVERealConst, "SQLNWTVERealConst"},
    {SQLNWTVEDateConst, "SQLNWTVEDateConst"},
    {SQLNWTVETimeStampConst, "SQLNWTVETimeStampConst"},
    {SQLNWTVERawConst, "SQLNWTVERawConst"},
    {SQLNWTVESimpleCase, "SQLNWTVESimpleCase"},
    {SQLNWTVETextContent, "SQLNWTVETextContent"},
    {SQLNWTIndexHints, "SQLNWTIndexHints"},
    {SQLNWTNoIndexHints, "SQLNWTNoIndexHints"},
    {SQLNWTHintsArrayFetchingEnabled, "SQLNWTHintsArrayFetchingEnabled"},
    {SQLNWTHintsArrayFetchingDisabled, "SQLNWTHintsArrayFetchingDisabled"},
    {SQLNWTHintsArrayFetchingSize, "SQLNWTHintsArrayFetchingSize"},
    {SQLNWTHintsOrdered, "SQLNWTHintsOrdered"},
    {SQLNWTHintsStringHint, "SQLNWTHintsStringHint"},
    {SQLNWTHintsRowModeAllRows, "SQLNWTHintsRowModeAllRows"},
    {SQLNWTHintsRowModeFirstRows, "SQLNWTHintsRowModeFirstRows"},
    {SQLNWTHintsNoHints, "SQLNWTHintsNoHints"},
};

}  // namespace

char const *SQLNWTokenName(int token) {
  int low = 0, high = static_cast<int>(sizeof kTokenNames / sizeof kTokenNames[0]);
  while (low < high) {
    int middle = (low + high) / 2;
    if (kTokenNames[middle].code == token) return kTokenNames[middle].name;
    if (kTokenNames[middle].code < token) low = middle + 1; else high = middle;
  }
  return nullptr;
}

char const *SQLNWTokenTypeName(int tag) {
  switch (tag) {
    case SQLNWTbs1: return "SQLNWTbs1";
    case SQLNWTbs2: return "SQLNWTbs2";
    case SQLNWTbs4: return "SQLNWTbs4";
    case SQLNWTbs8: return "SQLNWTbs8";
    case SQLNWTdouble: return "SQLNWTdouble";
    case SQLNWTmemory: return "SQLNWTmemory";
    case SQLNWTtoken: return "SQLNWTtoken";
    default: return nullptr;
  }
}
