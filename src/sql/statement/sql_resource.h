// SQLResource: the SQL layers' view of their settings in the database
// client's settings table. Each accessor returns the setting's current value,
// read at every call, so that a change through the settings commands takes
// effect at once.
#pragma once

class SQLResource {
 public:
  static int qelt_sql_trace();              // trace flags of the SQL layers
  static int qelt_sql_stmt_cache_size();    // statement cache capacity: negative 330, 0 off
  static int qelt_sql_cacherows();          // rows of a value-store buffer kept in memory
  static int qelt_sql_commu_buffer_rows();  // rows per network fetch (setting rds_full)
  static int qelt_sql_soft_close_delay();   // soft-close delay in seconds, -1 off
  static long tt_sql_trace();               // trace level of the classic SQL API
};
