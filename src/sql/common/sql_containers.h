// The container instances of the SQL layers under their established names:
// <Element>List, p<Element>List (pointer elements), pconst<Element>List,
// <Value>Key<Key>Hash, <Value>Key<Key>Recycler and p<Element>Stack. Each is
// an alias of one template instance; the element classes are declared here
// only, so that a module includes the definitions it actually uses.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

#include "sql/common/chained_hash.h"
#include "sql/common/crc32.h"
#include "sql/common/dynamic_array.h"
#include "sql/common/fixed_stack.h"
#include "sql/common/interval.h"
#include "sql/common/list.h"
#include "sql/common/recycler.h"
#include "sql/common/ref_ptr.h"
#include "sql/common/sql_string.h"

class SQLColumnIdMapping;
class SQLDiagRec;
class SQLExecTree;
class SQLNamedParameter;
class SQLNetAgentClientStatementData;
class SQLOuterCRef2Param;
class SQLPacketBuffer;
class SQLParameter;
struct SQLRetrySpec;
class SQLRolesCacheKey;
class SQLRolesCachedElement;
class SQLRSSCColumnRef;
class SQLRSSCSearchCond;
class SQLRSSCValueExpr;
class SQLSchemaPtr;
class SQLSortSpec;
class SQLStatement;
class SQLStatementData;
class SQLTokenString;
class SQLValueStore;
class SQLVSBufferId;
class SQLVTObject;
class SQLVTSCSearchCond;
class SQLVTSCValueExpr;
class ShortArray;

// Lists.
using intList = List<int>;
using pintListList = List<intList *>;
using SQLRetrySpecList = List<SQLRetrySpec>;
using SQLSortSpecList = List<SQLSortSpec>;
using SQLColumnIdMappingList = List<SQLColumnIdMapping>;
using SQLVSBufferIdList = List<SQLVSBufferId>;
using SQLSchemaPtrList = List<SQLSchemaPtr>;
using SQLRSSCValueExprRefPtrList = List<RefPtr<SQLRSSCValueExpr>>;
using pSQLNamedParameterList = List<SQLNamedParameter *>;
using pSQLRSSCValueExprList = List<SQLRSSCValueExpr *>;
using pSQLRSSCColumnRefList = List<SQLRSSCColumnRef *>;
using pSQLRSSCSearchCondList = List<SQLRSSCSearchCond *>;
using pSQLPacketBufferList = List<SQLPacketBuffer *>;
using pSQLTokenStringList = List<SQLTokenString *>;
using pSQLParameterList = List<SQLParameter *>;
using pconstSQLParameterList = List<SQLParameter const *>;
using pSQLDiagRecList = List<SQLDiagRec *>;
using pSQLVTSCSearchCondList = List<SQLVTSCSearchCond *>;
using pSQLVTSCValueExprList = List<SQLVTSCValueExpr *>;
using pSQLOuterCRef2ParamList = List<SQLOuterCRef2Param *>;
using pSQLValueStoreList = List<SQLValueStore *>;

// Chained hashes, with the expected sizes their owners create them with.
using pSQLStatementKeybu4Hash = Hash<unsigned long, SQLStatement *>;             // 200
using pSQLStatementPoolKeybu4Hash = Hash<unsigned long, pSQLStatementKeybu4Hash *>;  // 5
using pSQLNetAgentClientStatementDataKeybu4Hash =
    Hash<unsigned long, SQLNetAgentClientStatementData *>;  // 1000
using SQLSchemaPtrKeySQLStringHash = Hash<SQLString, SQLSchemaPtr>;  // 100
using pSQLRolesCachedElementKeySQLRolesCacheKeyHash =
    Hash<SQLRolesCacheKey, SQLRolesCachedElement *>;  // 1000

// Bounded caches.
using SQLStatementDataKeycharRecycler =
    Recycler<char, SQLStatementData, char[]>;
using SQLExecTreeKeyShortArrayRecycler = Recycler<ShortArray, SQLExecTree>;

// Stacks.
using pSQLVTObjectStack = Stack<SQLVTObject *>;

// Hash and equality of C-text keys (the statement cache). Statement texts
// run to hundreds of bytes and are hashed at every prepare and every park:
// the library's word-at-a-time string hash costs a fraction of a CRC's byte
// loop.
inline unsigned long SQLTextHash(char const *text) {
  return static_cast<unsigned long>(std::hash<std::string_view>{}(std::string_view(text)));
}
inline bool SQLTextEqual(char const *a, char const *b) { return std::strcmp(a, b) == 0; }
