#include "sql/validate/vtsc_enum_text.h"

#include <cstring>
#include <string>

#include <molvane/dd.h>

#include "dbc/dict/dd.h"
#include "platform/log.h"
#include "platform/user.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_string.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_text_content.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_scope_info.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vt_value_expr.h"
#include "sql/validate/vtsc_case.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/vtsc_support.h"
#include "sql/validate/where_used.h"

namespace {

// Dictionary type of text columns (the stored value is the text number).
constexpr int kTextColumnType = 9;

// What differs between the two functions in the shared column checks.
struct FunctionText {
  char const *name;            // "enum_description"
  char const *baseState;       // state of "must identify a column of a table name"
  char const *baseMessage;
  bool baseAtIdentifier;       // that error carries the identifier's line
  int columnType;              // DDT_ENUM or text
  char const *typeMessage;
};

constexpr FunctionText kEnumDescription = {
    "enum_description", "42I86",
    "The first operand of the enum_description function must identify a column of a table name", true,
    DDT_ENUM,
    "Type conflict on enum_description function. The first operand should identify a table column of type "
    "DB.ENUM"};

constexpr FunctionText kTextContent = {
    "text_content", "42T29",
    "The first operand of the text_content function must identify a column of a table name", false,
    kTextColumnType,
    "Type conflict on text_content function. The first operand should identify a table column of type DB.TEXT"};

void LookUpColumn(SQLVTScope *scope, SQLVTSCIdentifier const *identifier, int flags, SQLVTColumnInfo *info) {
  if (!scope->GetColumnInfo(identifier, info, (flags & 32) != 0)) {
    SQLVTThrow("42I03", std::string("Unknown column '") + identifier->GetText() + "'",
               identifier->GetLineNumber());
  }
}

// The dictionary column behind the looked-up column, checked for the
// function: a plain column of a base table, not an array, of its type.
DD_COLUMN const *CheckDictionaryColumn(SQLVTSCIdentifier const *identifier, SQLVTColumnInfo const &info,
                                       FunctionText const &function, int line) {
  if (info.kind == SQLVTColumnInfo::PseudoColumn) {
    SQLVTThrow("42I10",
               std::string("Combined column '") + identifier->GetText() + "' used in " + function.name +
                   " function",
               identifier->GetLineNumber());
  }
  if (info.GetBaseTableName() == nullptr || info.baseColumnName == nullptr) {
    SQLVTThrow(function.baseState, function.baseMessage,
               function.baseAtIdentifier ? identifier->GetLineNumber() : line);
  }
  std::string fullName = std::string(info.GetBaseTableName()) + "." + info.baseColumnName;
  DD_COLUMN const *column = dd_column_or_throw(fullName.c_str());
  // A table the scope knows whose dictionary lacks the column is refused
  // like an unknown column rather than read through a null record.
  if (column == nullptr) {
    SQLVTThrow("42I03", std::string("Unknown column '") + identifier->GetText() + "'",
               identifier->GetLineNumber());
  }
  if (column->depth > 1) {
    SQLVTThrow("42I50", std::string("Invalid use of array value in ") + function.name + " function", line);
  }
  if (column->type != function.columnType) SQLVTThrow("42T28", function.typeMessage, line);
  return column;
}

// The language character of a language constant, which must be exactly
// one character long.
char LanguageOf(SQLVTSCStringConst const *language, char const *state, char const *message) {
  if (language == nullptr) return user_info.language;
  if (language->GetLength() != 1 || language->GetString()[0] == '\0') {
    SQLVTThrow(state, message, language->GetLineNumber());
  }
  return static_cast<char>(language->GetString()[0]);
}

void LogCall(char const *name, SQLVTSCValueExpr const *operand, SQLVTSCStringConst const *language) {
  SQLLogger &log = *SQLLogger::Instance();
  log << name;
  if (operand) operand->Log();
  log << ", Language: ";
  if (language) {
    language->Log();
  } else {
    log << "<default>";
  }
  log << ")";
}

bool SameLanguage(SQLVTSCStringConst const *a, SQLVTSCStringConst const *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return SQLVTSameOperand(a, b);
}

}  // namespace

// ---- enumeration description ----

SQLVTSCEnumDescription::SQLVTSCEnumDescription(SQLVTSCIdentifier *identifier, SQLVTSCStringConst *language)
    : identifier_(identifier), language_(language) {}

SQLVTSCEnumDescription::~SQLVTSCEnumDescription() = default;

void SQLVTSCEnumDescription::Log() const {
  if (!SQLVTTracing()) return;
  LogCall("EnumDescription(", identifier_.get(), language_.get());
}

void SQLVTSCEnumDescription::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCEnumDescription::MapColumnIds() called");
}

SQLVTSCValueExpr *SQLVTSCEnumDescription::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *, int flags,
                                                              SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTColumnInfo info;
  LookUpColumn(scope, identifier_.get(), flags, &info);
  char language = LanguageOf(
      language_.get(), "42I86",
      "The length of the language specification in an enum_description function must be exactly 1");
  DD_COLUMN const *column = CheckDictionaryColumn(identifier_.get(), info, kEnumDescription, GetLineNumber());
  if (whereUsed) whereUsed->RegisterColumn(info.GetBaseTableName(), info.baseColumnName);

  // A missing language is not an error here: the default language stands
  // in, and the dictionary's complaint would only fill the log.
  al_disable_log_mesg();
  DD_ENUM_DEF const *def = get_enum_def(column->domain, static_cast<unsigned char>(language));
  if (def == nullptr) def = get_enum_def(column->domain, '2');
  al_enable_log_mesg();

  std::unique_ptr<SQLVTSCSimpleCase> result;
  if (def != nullptr) {
    auto clauses = std::make_unique<SQLVTSCSimpleWhenClauseList>();
    for (int i = 0; i < def->count; ++i) {
      DD_ENUM_ENTRY const &entry = def->entries[i];
      char const *text = entry.descr ? entry.descr : "";
      auto when = std::make_unique<SQLVTSCIntegerConst>(entry.value);
      auto then = std::make_unique<SQLVTSCStringConst>(reinterpret_cast<unsigned char const *>(text),
                                                       static_cast<long>(std::strlen(text)),
                                                       SQLVTSCStringConst::AsIs);
      std::unique_ptr<SQLVTSCSimpleWhenClause> clause(new SQLVTSCSimpleWhenClause(when.release(), then.release()));
      clause->SetLineNumber(GetLineNumber());
      clauses->Append(clause.get());
      static_cast<void>(clause.release());
    }
    auto operand = std::make_unique<SQLVTSCColumnRef>(info.levelOffset, info.position, info.descriptor);
    operand->SetLineNumber(identifier_->GetLineNumber());
    result.reset(new SQLVTSCSimpleCase(operand.release(), clauses.release(), nullptr));
  } else {
    // No definition at all: CASE 1 WHEN 1 THEN NULL ELSE ' ' END, always
    // NULL and typed STRING.
    auto clauses = std::make_unique<SQLVTSCSimpleWhenClauseList>();
    auto one = std::make_unique<SQLVTSCIntegerConst>(1);
    std::unique_ptr<SQLVTSCSimpleWhenClause> clause(new SQLVTSCSimpleWhenClause(one.release(), nullptr));
    clause->SetLineNumber(GetLineNumber());
    clauses->Append(clause.get());
    static_cast<void>(clause.release());
    static unsigned char const kBlank[] = " ";
    auto elseResult = std::make_unique<SQLVTSCStringConst>(kBlank, 1L, SQLVTSCStringConst::AsIs);
    auto operand = std::make_unique<SQLVTSCIntegerConst>(1);
    result.reset(new SQLVTSCSimpleCase(operand.release(), clauses.release(), elseResult.release()));
  }
  result->SetLineNumber(GetLineNumber());
  delete this;
  return result.release();
}

bool SQLVTSCEnumDescription::IsSameEnumDescription(SQLVTSCEnumDescription const *other) const {
  return SQLVTSameOperand(identifier_.get(), other->identifier_.get()) &&
         SameLanguage(language_.get(), other->language_.get());
}

// ---- text content ----

SQLVTSCTextContent::SQLVTSCTextContent(SQLVTSCIdentifier *identifier, SQLVTSCStringConst *language)
    : identifier_(identifier), language_(language) {}

SQLVTSCTextContent::~SQLVTSCTextContent() = default;

SQLVTSCValueExpr *SQLVTSCTextContent::Cast(SQLType, bool) {
  if (column_) SQLVTCastOperand(&column_, SQL_INTEGER, true);
  return this;
}

SQLVTSCValueExpr *SQLVTSCTextContent::Copy() {
  if (!column_) return nullptr;
  std::unique_ptr<SQLVTSCValueExpr> column(column_->Copy());
  if (!column) return nullptr;
  std::unique_ptr<SQLVTSCValueExpr> language;
  if (language_) {
    language.reset(language_->Copy());
    if (!language) return nullptr;
  }
  std::unique_ptr<SQLVTSCTextContent> copy(
      new SQLVTSCTextContent(nullptr, static_cast<SQLVTSCStringConst *>(language.release())));
  copy->column_ = std::move(column);
  copy->table_ = table_;
  copy->SetLineNumber(GetLineNumber());
  return copy.release();
}

SQLRSSCValueExpr *SQLVTSCTextContent::CreateRS() {
  if (!column_ || table_ == nullptr) SQLAbort(__FILE__, __LINE__, "SQLVTSCTextContent::CreateRS() called");
  int company = table_->GetPhysicalCompnr();
  std::unique_ptr<SQLRSSCValueExpr> number(column_->CreateRS());
  std::unique_ptr<SQLRSSCValueExpr> language;
  if (language_) {
    language.reset(language_->CreateRS());
  } else {
    // Without a language the user's own stands.
    auto own = static_cast<unsigned char>(user_info.language);
    language = std::make_unique<SQLRSSCStringConst>(&own, 1);
  }
  return new SQLRSSCTextContent(number.release(), language.release(), company);
}

void SQLVTSCTextContent::Log() const {
  if (!SQLVTTracing()) return;
  LogCall("TextContent(", column_ ? column_.get() : identifier_.get(), language_.get());
}

void SQLVTSCTextContent::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCTextContent::MapColumnIds() called");
}

SQLVTSCValueExpr *SQLVTSCTextContent::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                          SQLVTWhereUsedMgr *whereUsed, bool) {
  if (!identifier_) return nullptr;  // resolved before
  SQLVTSCIdentifier const *identifier = identifier_->AsIdentifier();
  SQLVTColumnInfo info;
  LookUpColumn(scope, identifier, flags, &info);
  CheckDictionaryColumn(identifier, info, kTextContent, GetLineNumber());
  if (whereUsed) whereUsed->RegisterColumn(info.GetBaseTableName(), info.baseColumnName);
  table_ = info.baseTable;
  LanguageOf(language_.get(), "42I87",
             "The length of the language specification in a text_content function must be exactly 1");
  SQLVTResolveOperand(&identifier_, scope, treeData, flags, whereUsed, false);
  column_ = std::move(identifier_);
  return this;
}

void SQLVTSCTextContent::ValidateTypes() const {
  if (!column_) return;
  column_->ValidateTypes();
  if (language_) language_->ValidateTypes();
  if (!column_->GetPossibleTypeSet().Contains(SQL_INTEGER)) {
    SQLVTThrow("42T29",
               "Type conflict on text_content function. The first operand should identify a table column of "
               "type DB.TEXT",
               GetLineNumber());
  }
}

void SQLVTSCTextContent::ValidateArrayUsage() const {
  if (!column_) return;
  column_->ValidateArrayUsage();
  if (column_->GetDepth() != 1) {
    SQLVTThrow("42I87", "Invalid use of array value in text_content function", GetLineNumber());
  }
  if (language_) language_->ValidateArrayUsage();
}

bool SQLVTSCTextContent::IsSameTextContent(SQLVTSCTextContent const *other) const {
  auto same = [](SQLVTSCValueExpr const *a, SQLVTSCValueExpr const *b) {
    if (a == nullptr || b == nullptr) return a == b;
    return SQLVTSameOperand(a, b);
  };
  return same(identifier_.get(), other->identifier_.get()) && SameLanguage(language_.get(), other->language_.get()) &&
         same(column_.get(), other->column_.get());
}
