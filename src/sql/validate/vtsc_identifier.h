// SQLVTSCIdentifier: a column name as the parser reads it, before name
// resolution.
//
// Names are kept in lower case. A name given as one string may contain a
// dot ("t.amount"): the part before the first dot is taken as the qualifier
// and, should that find nothing, the scope also tries the whole dotted text
// as the name of one column (the whole-name flag is then FALSE). Name
// resolution replaces the identifier by a column reference, a combined
// column (SQLVTSCPseudoColumnRef), an array element for name(n), or the
// number of an enumeration keyword written domain.keyword.
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

class SQLVTSCIdentifier : public SQLVTSCValueExpr {
 public:
  // The carrier of a name from the parser: a line number and an owned,
  // zero-terminated text.
  class String {
   public:
    // Copies text.
    explicit String(char const *text);
    // takeOver TRUE: owns text, which must come from new[]; FALSE: copies it.
    String(char *text, bool takeOver);
    String(String const &) = delete;
    String &operator=(String const &) = delete;
    virtual ~String();

    int GetLineNumber() const { return line_; }
    void SetLineNumber(int line) { line_ = line; }
    // Checks the text (42I00 for an empty name or a byte outside 32..126)
    // and hands it to the caller (a new[] buffer); the string then owns
    // nothing.
    char *Extract();

   private:
    void Check() const;

    int line_ = 0;
    char *text_;  // owned; null once extracted
  };

  // From one string that may contain a dot; deletes the string.
  explicit SQLVTSCIdentifier(String *name);
  // From a qualifier (null for none) and a name; deletes both strings.
  SQLVTSCIdentifier(String *qualifier, String *name);

  // The whole lower-case text ("q.name" or "name").
  char const *GetText() const { return text_.get(); }
  // The column part: behind the first dot of a qualified name.
  char const *GetIdentifier() const { return column_; }
  // The qualifier; null when unqualified.
  char const *GetQualifier() const { return qualifier_; }
  // FALSE when one string contained the dot: the scope then also tries the
  // whole text as one column name.
  bool IsWholeName() const { return wholeName_; }
  // TRUE for name(n): a ')' at the end, one or more digits before it and a
  // '(' before them that is not the first character.
  bool IsQuotedArrayIndex() const;
  // Hands the whole text (a new[] buffer) to the caller and deletes the node.
  char *DeleteToString();

  SQLVTSCValueExpr *Cast(SQLType, bool) override { return nullptr; }
  SQLVTSCValueExpr *Copy() override { return nullptr; }
  SQLRSSCValueExpr *CreateRS() override { return nullptr; }
  void GetPossibleTypes(SQLTypeSet *) override {}
  void Log() const override;
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  // Resolves the name and deletes the identifier; the result carries its
  // line number.
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  bool IsIdentifier() override { return true; }
  SQLVTSCIdentifier *AsIdentifier() override { return this; }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameIdentifier(this);
  }
  bool IsSameIdentifier(SQLVTSCIdentifier const *other) const override;

 private:
  SQLVTSCValueExpr *Resolve(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                            SQLVTWhereUsedMgr *whereUsed, bool inExpression);
  SQLVTSCValueExpr *ResolveArrayElement(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression);

  std::unique_ptr<char[]> text_;  // full name, '\0', then the qualifier's copy and '\0'
  char const *qualifier_ = nullptr;
  char const *column_ = nullptr;
  bool wholeName_ = true;
};
