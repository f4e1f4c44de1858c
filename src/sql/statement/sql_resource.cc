#include "sql/statement/sql_resource.h"

#include "dbc/session/dbc_settings.h"

int SQLResource::qelt_sql_trace() { return dbc_settings().qelt_sql_trace; }
int SQLResource::qelt_sql_stmt_cache_size() { return dbc_settings().qelt_sql_stmt_cache_size; }
int SQLResource::qelt_sql_cacherows() { return dbc_settings().qelt_sql_cacherows; }
int SQLResource::qelt_sql_commu_buffer_rows() { return dbc_settings().rds_full; }
int SQLResource::qelt_sql_soft_close_delay() { return dbc_settings().qelt_sql_soft_close_delay; }
long SQLResource::tt_sql_trace() { return dbc_settings().tt_sql_trace; }
