// The functions that write or take request payloads, declared here so that
// the request writers and readers call them by name without the headers of
// the folders that own them: roles (perm/perm_send.cc), company mapping
// (compnr/compnr.cc), audit columns (audit/auditcols.cc), row data sets
// (request/rds_store.cc), dictionary descriptions (request/request_dd_info.cc)
// and SQL agent replies (src/sql/agent/net_agent_client.cc).
#pragma once

#include <cstdint>

#include "ipc/stream.h"

struct DD_TABLE;
struct RDS;
struct ZDB_REQUEST;

// PERMISSION payload: the user's DB-role permissions.
int dbc_send_roles(STREAM *out);
// SEND_COMPNR payload: the company mapping; its result is the writer's.
int dbc_send_compnrs(STREAM *out);
// AUDITCOLS payload: the audit-column settings.
int audit_send_auditcols(STREAM *out);
// EXE_UPDATE payload of one table: its row data set stream.
int rds_write_to_sp(RDS *rds, STREAM *out);
// DD_INFO_TABLE description of one table (after code and session id).
int dbc_write_dd_info(STREAM *out, const DD_TABLE *table, std::uint16_t compnr);
// Hands the packets of a SQL_MESSAGE reply to the SQL agent client.
int SQLNetAgentClientPacketsHandler(ZDB_REQUEST *req);
