// The vocabulary of the SQL agent protocol: item tags of token strings and
// the 2-byte protocol tokens, with the names that the trace prints.
#pragma once

// The tag byte in front of every token-string item.
enum SQLNWTokenType : int {
  SQLNWTbs1 = 1,     // 1 signed byte
  SQLNWTbs2 = 2,     // 16-bit signed integer
  SQLNWTbs4 = 3,     // 32-bit signed integer
  SQLNWTbs8 = 4,     // 64-bit signed integer
  SQLNWTdouble = 5,  // IEEE 754 binary64
  SQLNWTmemory = 6,  // 16-bit count n, then n raw bytes
  SQLNWTtoken = 7,   // 16-bit SQLNWToken code
};

// Protocol tokens. The library uses no other codes.
enum SQLNWToken : int {
  // Packet kinds, packet operations, replies about statements.
  SQLNWTPacketForStmt = 1,
  SQLNWTPacketForSession = 2,
  SQLNWTPacketForDriver = 3,
  SQLNWTLanguageLevel = 7,
  SQLNWTPacketPrepare = 11,
  SQLNWTPacketAttach = 12,
  SQLNWTPacketBindParams = 13,
  SQLNWTPacketSetTimeOut = 14,
  SQLNWTPacketSetMaxRows = 15,
  SQLNWTPacketExec = 16,
  SQLNWTPacketFetch = 17,
  SQLNWTPacketBreak = 18,
  SQLNWTPacketClose = 19,
  SQLNWTPacketDestroy = 20,
  SQLNWTPacketSkipRows = 21,
  SQLNWTMissingDDs = 27,
  SQLNWTHandlePendingPackets = 28,
  SQLNWTDiagRec = 29,
  SQLNWTStmtNotCreated = 30,
  SQLNWTStmtPrepared = 32,
  SQLNWTStmtAttached = 33,
  SQLNWTStmtExecuted = 34,

  // Markers and list elements.
  SQLNWTNull = 40,
  SQLNWTTerminator = 41,
  SQLNWTAscending = 50,
  SQLNWTDescending = 51,
  SQLNWTColumnId = 60,
  SQLNWTCountStar = 61,
  SQLNWTCount = 62,
  SQLNWTMin = 63,
  SQLNWTMax = 64,
  SQLNWTSum = 65,
  SQLNWTAvg = 66,
  SQLNWTTrimLeading = 70,
  SQLNWTTrimTrailing = 71,
  SQLNWTTrimBoth = 72,

  // Value types and join types.
  SQLNWTTypeString = 101,
  SQLNWTTypeInteger = 102,
  SQLNWTTypeReal = 103,
  SQLNWTTypeDate = 104,
  SQLNWTTypeTimeStamp = 105,
  SQLNWTTypeIntervalDays = 106,
  SQLNWTTypeIntervalSeconds = 107,
  SQLNWTTypeRaw = 108,
  SQLNWTTypeArray = 110,  // bs2 element count, then each element as a typed value
  SQLNWTJoinTypeInner = 120,
  SQLNWTJoinTypeLeft = 121,
  SQLNWTJoinTypeRight = 122,
  SQLNWTJoinTypeFull = 123,

  // Replies with data.
  SQLNWTResultSet = 200,
  SQLNWTEndOfSet = 201,
  SQLNWTNrRowsProcessed = 210,

  // Row sources and statements.
  SQLNWTRSProject = 300,
  SQLNWTRSPrepare = 301,
  SQLNWTRSSort = 302,
  SQLNWTRSGroup = 303,
  SQLNWTRSFilter = 304,
  SQLNWTRSConstLeftOuterJoin = 305,
  SQLNWTRSJoin = 306,
  SQLNWTRSTable = 308,
  SQLNWTRSUnion = 309,
  SQLNWTRSHints = 310,
  SQLNWTETDelete = 330,
  SQLNWTETUpdate = 331,

  // Search conditions.
  SQLNWTSCAnd = 400,
  SQLNWTSCOr = 401,
  SQLNWTSCNot = 402,
  SQLNWTSCEquals = 410,
  SQLNWTSCNotEquals = 411,
  SQLNWTSCLessThan = 412,
  SQLNWTSCLessThanOrEquals = 413,
  SQLNWTSCGreaterThan = 414,
  SQLNWTSCGreaterThanOrEquals = 415,
  SQLNWTSCBetween = 420,
  SQLNWTSCInSet = 421,
  SQLNWTSCLikeRegexp = 422,
  SQLNWTSCInSubquery = 423,
  SQLNWTSCExists = 424,
  SQLNWTSCIsNull = 425,
  SQLNWTSCLikeAnsi = 426,

  // Value expressions.
  SQLNWTVEAdd = 500,
  SQLNWTVESubtract = 501,
  SQLNWTVEMultiply = 502,
  SQLNWTVEDivide = 503,
  SQLNWTVEModulo = 504,
  SQLNWTVEConcatenate = 510,
  SQLNWTVESubstr = 511,
  SQLNWTVETrim = 512,
  SQLNWTVEIndexing = 520,
  SQLNWTVEReinterpretCast = 530,
  SQLNWTVEColRef = 540,
  SQLNWTVEParameterRef = 541,
  SQLNWTVEScalarSubquery = 550,
  SQLNWTVEStringConst = 551,
  SQLNWTVEIntegerConst = 552,
  SQLNWTVERealConst = 553,
  SQLNWTVEDateConst = 554,
  SQLNWTVETimeStampConst = 555,
  SQLNWTVERawConst = 558,
  SQLNWTVESimpleCase = 559,
  SQLNWTVETextContent = 560,

  // Index hints and statement hints.
  SQLNWTIndexHints = 1002,
  SQLNWTNoIndexHints = 1003,
  SQLNWTHintsArrayFetchingEnabled = 1011,
  SQLNWTHintsArrayFetchingDisabled = 1012,
  SQLNWTHintsArrayFetchingSize = 1013,
  SQLNWTHintsOrdered = 1014,
  SQLNWTHintsStringHint = 1015,
  SQLNWTHintsRowModeAllRows = 1016,
  SQLNWTHintsRowModeFirstRows = 1017,
  SQLNWTHintsNoHints = 1018,
};

// The name that the trace prints for a token ("SQLNWTRSTable", ...), or null
// for a code without one (among them SQLNWTTypeArray).
char const *SQLNWTokenName(int token);

// The trace name of an item tag ("SQLNWTbs4", ...), or null outside 1..7.
char const *SQLNWTokenTypeName(int tag);
