// Functions of other parts of the client that write or take request
// payloads. The protocol calls them by these names; each part defines its
// own (until it lands, stub_payloads.cc holds bodies that do the least).
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
