#include "sql/validate/vtsc_identifier.h"

#include <cerrno>
#include <cstdint>
#include <limits>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dbc/dict/dd.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_support.h"
#include "sql/validate/vtsc_string_ops.h"
#include "sql/validate/where_used.h"

namespace {

// Name-resolution flags used here.
constexpr int kArrayElementNames = 8;  // name(n) may denote an array element
constexpr int kInSetFunction = 32;     // inside the argument of a set function

// The dictionary's enumeration-keyword lookup copies the name into a buffer
// of this size; a longer name cannot be a keyword.
constexpr std::size_t kEnumKeywordBuffer = 528;

char *CopyText(char const *text) {
  std::size_t n = std::strlen(text);
  char *copy = new char[n + 1];
  std::memcpy(copy, text, n + 1);
  return copy;
}

void LowerInto(char *to, char const *from, std::size_t n) {
  SQLVTLowerCase(to, from, n);
}

}  // namespace

// ---- String ----

SQLVTSCIdentifier::String::String(char const *text) : text_(CopyText(text ? text : "")) {}

SQLVTSCIdentifier::String::String(char *text, bool takeOver)
    : text_(takeOver ? text : CopyText(text ? text : "")) {
  if (text_ == nullptr) text_ = CopyText("");
}

SQLVTSCIdentifier::String::~String() { delete[] text_; }

char *SQLVTSCIdentifier::String::Extract() {
  Check();
  char *text = text_;
  text_ = nullptr;
  return text;
}

void SQLVTSCIdentifier::String::Check() const {
  if (text_ == nullptr || text_[0] == '\0') SQLVTThrow("42I00", "Empty identifier", line_);
  for (unsigned char const *p = reinterpret_cast<unsigned char const *>(text_); *p; ++p) {
    if (*p < 32 || *p > 126) {
      SQLVTThrow("42I00", "Illegal character " + std::to_string(*p) + " in identifier", line_);
    }
  }
}

// ---- construction ----

SQLVTSCIdentifier::SQLVTSCIdentifier(String *name) {
  std::unique_ptr<String> owned(name);
  std::unique_ptr<char[]> text(name->Extract());
  SetLineNumber(name->GetLineNumber());
  owned.reset();

  std::size_t n = std::strlen(text.get());
  char const *dot = std::strchr(text.get(), '.');
  std::size_t k = dot ? static_cast<std::size_t>(dot - text.get()) : 0;
  text_ = std::make_unique<char[]>(n + 1 + (dot ? k + 1 : 0));
  LowerInto(text_.get(), text.get(), n + 1);
  if (dot) {
    char *qualifier = text_.get() + n + 1;
    LowerInto(qualifier, text.get(), k);
    qualifier[k] = '\0';
    qualifier_ = qualifier;
    column_ = text_.get() + k + 1;
    wholeName_ = false;
  } else {
    column_ = text_.get();
    wholeName_ = true;
  }
}

SQLVTSCIdentifier::SQLVTSCIdentifier(String *qualifier, String *name) {
  std::unique_ptr<String> ownedQualifier(qualifier);
  std::unique_ptr<String> ownedName(name);
  std::unique_ptr<char[]> q(qualifier ? qualifier->Extract() : nullptr);
  std::unique_ptr<char[]> c(name->Extract());
  SetLineNumber(qualifier ? qualifier->GetLineNumber() : name->GetLineNumber());

  std::size_t qn = q ? std::strlen(q.get()) : 0;
  std::size_t cn = std::strlen(c.get());
  if (q) {
    // "q.name\0q\0"
    text_ = std::make_unique<char[]>(qn + 1 + cn + 1 + qn + 1);
    char *t = text_.get();
    LowerInto(t, q.get(), qn);
    t[qn] = '.';
    LowerInto(t + qn + 1, c.get(), cn + 1);
    char *copy = t + qn + 1 + cn + 1;
    LowerInto(copy, q.get(), qn + 1);
    qualifier_ = copy;
    column_ = t + qn + 1;
  } else {
    text_ = std::make_unique<char[]>(cn + 1);
    LowerInto(text_.get(), c.get(), cn + 1);
    column_ = text_.get();
  }
  wholeName_ = true;
}

bool SQLVTSCIdentifier::IsQuotedArrayIndex() const {
  std::size_t n = std::strlen(text_.get());
  if (n < 4 || text_[n - 1] != ')') return false;
  std::size_t i = n - 1;
  while (i > 0 && std::isdigit(static_cast<unsigned char>(text_[i - 1]))) --i;
  if (i == n - 1) return false;  // no digits
  // text_[i - 1] must be '(' and not the first character
  return i >= 2 && text_[i - 1] == '(';
}

char *SQLVTSCIdentifier::DeleteToString() {
  char *text = text_.release();
  delete this;
  return text;
}

void SQLVTSCIdentifier::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "Identifier(" << text_.get() << ")";
}

bool SQLVTSCIdentifier::IsSameIdentifier(SQLVTSCIdentifier const *other) const {
  return std::strcmp(other->text_.get(), text_.get()) == 0;
}

// ---- name resolution ----

SQLVTSCValueExpr *SQLVTSCIdentifier::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData,
                                                         int flags, SQLVTWhereUsedMgr *whereUsed,
                                                         bool inExpression) {
  // On an error the identifier stays where it is, owned by its parent.
  SQLVTSCValueExpr *result = Resolve(scope, treeData, flags, whereUsed, inExpression);
  result->SetLineNumber(GetLineNumber());
  delete this;
  return result;
}

SQLVTSCValueExpr *SQLVTSCIdentifier::Resolve(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                             SQLVTWhereUsedMgr *whereUsed, bool inExpression) {
  bool inSetFunction = (flags & kInSetFunction) != 0;
  SQLVTColumnInfo info;
  if (scope->GetColumnInfo(this, &info, inSetFunction)) {
    if (inSetFunction && info.levelOffset < 0) {
      SQLVTThrow("42I90",
                 std::string("Outer column reference '") + GetText() + "' used in set function specification",
                 GetLineNumber());
    }
    if (info.kind == SQLVTColumnInfo::Column) {
      auto ref = std::make_unique<SQLVTSCColumnRef>(info.levelOffset, info.position, info.descriptor);
      if (whereUsed && info.GetBaseTableName() && info.descriptor) {
        whereUsed->RegisterColumn(info.GetBaseTableName(), info.descriptor->GetName());
      }
      return ref.release();
    }
    if (inExpression) {
      SQLVTThrow("42I10", std::string("Combined column '") + GetText() + "' used in expression",
                 GetLineNumber());
    }
    auto pseudo = std::make_unique<SQLVTSCPseudoColumnRef>(info.pseudoColumnName, nullptr);
    for (int i = 0; i < info.count; ++i) {
      int id = info.positions[i];
      SQLColumnDescriptor const *descriptor = scope->GetColumnDescriptor(info.levelOffset, id);
      auto member = std::make_unique<SQLVTSCColumnRef>(info.levelOffset, id, descriptor);
      member->SetLineNumber(GetLineNumber());
      pseudo->AppendMember(member.release());
      if (whereUsed && info.GetBaseTableName() && descriptor) {
        whereUsed->RegisterColumn(info.GetBaseTableName(), descriptor->GetName());
      }
    }
    if (whereUsed && info.GetBaseTableName() && info.pseudoColumnName) {
      whereUsed->RegisterColumn(info.GetBaseTableName(), info.pseudoColumnName);
    }
    return pseudo.release();
  }
  if ((flags & kArrayElementNames) != 0 && IsQuotedArrayIndex()) {
    return ResolveArrayElement(scope, treeData, flags, whereUsed, inExpression);
  }
  long value = 0;
  if (std::strlen(GetText()) < kEnumKeywordBuffer && dddomain_from_enum_keyw(GetText(), &value) != nullptr) {
    return new SQLVTSCIntegerConst(value);
  }
  SQLVTThrow("42I03", std::string("Unknown column '") + GetText() + "'", GetLineNumber());
}

SQLVTSCValueExpr *SQLVTSCIdentifier::ResolveArrayElement(SQLVTScope *scope, SQLVTreeData *treeData,
                                                         int flags, SQLVTWhereUsedMgr *whereUsed,
                                                         bool inExpression) {
  std::string column(column_);
  std::size_t open = column.rfind('(');
  std::size_t close = column.rfind(')');
  std::string digits = column.substr(open + 1, close - open - 1);
  column.resize(open);
  // An index that does not fit an INTEGER names no element: it is refused
  // now rather than when the statement runs.
  errno = 0;
  long index = std::strtol(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || index > std::numeric_limits<std::int32_t>::max()) {
    SQLVTThrow("42I03", std::string("Unknown column '") + GetText() + "'", GetLineNumber());
  }

  String *qualifierString = nullptr;
  if (qualifier_) {
    qualifierString = new String(qualifier_);
    qualifierString->SetLineNumber(GetLineNumber());
  }
  auto *nameString = new String(column.c_str());
  nameString->SetLineNumber(GetLineNumber());
  auto *array = new SQLVTSCIdentifier(qualifierString, nameString);
  auto *indexConst = new SQLVTSCIntegerConst(index);
  indexConst->SetLineNumber(GetLineNumber());
  auto indexing = std::make_unique<SQLVTSCIndexing>(array, indexConst);
  indexing->SetLineNumber(GetLineNumber());
  SQLVTSCValueExpr *result = indexing->MapColumnNamesToIds(scope, treeData, flags, whereUsed, inExpression);
  if (result == indexing.get()) indexing.release();
  return result;
}
