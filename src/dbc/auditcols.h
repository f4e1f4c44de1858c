// Audit columns: which tables and columns are logged to an audit driver.
#pragma once

// Non-zero when the audit-column mechanism is in use for this process.
int audit_using_auditcols();

// Non-zero when some column of the table is logged in the company.
int auditcols_some_column_is_logged(const char *table, int compnr);
