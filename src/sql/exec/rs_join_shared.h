// What the files of the joins share: rs_join.cc (the plan, and
// SQLRSConstLeftOuterJoin), rs_join_exec.cc (a join run here: nested loop
// and buffered inner side) and rs_join_across.cc (an INNER join with a table
// of another driver: read once, in batches, or a key list for the outer
// side). Defined in rs_join.cc.
#pragma once

#include <string>

class SQLColumnDescriptor;
class SQLRowSource;
class SQLRSFetch;
class SQLRSSCColumnRef;
class SQLRSSCValueExpr;
class SQLValueStore;

namespace sql_join {

// TRUE when a side (or the side under its filter) joins tables, here or
// in a driver: run once per outer row, it would repeat that join each time.
bool JoinsTables(SQLRowSource *side);
// The table leaf of a side that is one (or a filter over one), else null.
SQLRSFetch *SideLeaf(SQLRowSource *side);
// Sets a store NULL: each element of an array.
void SetStoreNull(SQLValueStore *v);
// A store for a column: an array of the column's depth, or NULL, typed as
// the column is, so that a row without partner is complete before any value
// was copied in (sorts, groups and buffers read the type of every store).
void InitOwnStore(SQLValueStore *v, SQLColumnDescriptor const *d);
// A plain reference to a column of the examined level, or null.
SQLRSSCColumnRef *PlainColumn(SQLRSSCValueExpr *e);
// Sets *image to a key value's image under the join's equality
// (SQLEqualityImage): keys of two widths or of INTEGER and REAL that
// compare equal have one image. FALSE for NULL or an array, which equal no
// value.
bool KeyImage(SQLValueStore const *v, std::string *image);

}  // namespace sql_join
