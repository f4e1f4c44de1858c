// Parsing of table-definition lines and driver lists, shared by the
// table-definition file reader and specify_server.
#pragma once

#include <string>
#include <string_view>

#include "dbc/tabledef/tabledef.h"

namespace tabledef_detail {

// How a company list answers for a company number (-1: any company).
enum class CompanyMatch { kNo, kYes, kCoversAll };

CompanyMatch MatchCompanyList(std::string_view list, int compnr);

// True when one of the comma-separated patterns matches the table: "*", the
// whole name, or its first five characters (package and module).
bool MatchTablePatterns(std::string_view patterns, std::string_view table);

// Driver type of a driver name (matched by prefix), without flags.
uint32_t DriverTypeOfName(std::string_view name);

// The text between parentheses of a driver element as stored: quotes
// removed, every comma outside quotes replaced by the byte 0x01.
std::string ArgumentText(std::string_view raw);

// One parsed table-definition line.
struct LineFields {
  std::string patterns;
  std::string companies;
  std::string drivers;  // the driver field
  std::string audit;    // the audit field, empty when absent
};

enum class LineKind { kSkip, kEntry, kMalformed };

// Splits a line of the file. Comment, empty and foreign ("{word}" without
// "qelt") lines are kSkip.
LineKind SplitLine(std::string_view line, LineFields *fields);

// Builds the driver list of a driver field. Elements resolve to server
// records through the global server list; `file_host` is the host of the file
// the field comes from ("" for a local file). Elements that are dropped
// (disabled audit drivers, unknown types on another host) do not appear.
// Sets *error when an element was refused; returns the first group or null.
DRIVER_SPEC *ParseDriverList(std::string_view field, const std::string &file_host, bool *error);

// The driver group of an audit driver on `host` ("" for this machine), with
// the given argument text, created once per host and argument text.
DRIVER_SPEC *AuditGroup(const std::string &host, const std::string &args);

// Appends a group to a driver list; returns the (possibly new) list head.
DRIVER_SPEC *AppendGroup(DRIVER_SPEC *list, DRIVER_SPEC *group);

// True when DEBUG_LEVEL has the given bit.
bool DebugBit(unsigned bit);

// The first server of the global list (newest first).
SERVER_REC *ServerListHead();

}  // namespace tabledef_detail
