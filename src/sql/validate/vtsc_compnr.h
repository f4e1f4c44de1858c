// Company-number restrictions: the predicates on the "_compnr" pseudo-column
// ("company_nr" in the ANSI parse mode) and the restriction set of a table.
//
// The parser builds a SQLVTSCCompnrSpec for t._compnr = 5, t._compnr = :p,
// t1._compnr = t2._compnr and t._compnr IN (1, 2); the query builder lifts
// them out of the WHERE condition (PruneCompnrSpecs) before the rest becomes
// a filter. Each table keeps the restrictions that reach it as a
// SQLVTSCCompnrSet of values, which tells at run time which company the
// table reads: -1 unrestricted, the number, or -2 for a conflict.
#pragma once

#include <atomic>
#include <memory>

#include "sql/common/list.h"
#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vtsc_identifier.h"

class SQLParameter;
class SQLVTTable;
class SQLVTSCCompnrInteger;
class SQLVTSCCompnrParameter;

class SQLVTSCCompnrSpec : public SQLVTSCSearchCond {
 public:
  // column = parameter; the parameter is not owned.
  SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, SQLParameter const *parameter);
  // column = number (0 to 999).
  SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, int number);
  // column = otherColumn (a _compnr join).
  SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, SQLVTSCIdentifier *otherColumn);
  // column IN (list), the numbers in written order. Everything given is
  // taken over.
  SQLVTSCCompnrSpec(SQLVTSCIdentifier *column, List<int> *list);
  ~SQLVTSCCompnrSpec() override;

  // The "_compnr" column that names the restricted table.
  SQLVTSCIdentifier *GetColumn() const { return column_.get(); }
  // TRUE and the value when the company-number specification is of that kind.
  bool GetInteger(int *number) const;
  bool GetParam(SQLParameter const **parameter) const;
  bool GetIdentifier(SQLVTSCIdentifier const **otherColumn) const;
  List<int> const *GetList() const { return list_.get(); }

  // An IN list: a new INTEGER parameter, which becomes the specification's parameter
  // (the caller owns it), and the list handed over through *list; null for
  // the other kinds.
  SQLParameter *CompnrSetToParameter(List<int> **list);
  // Restricts the table's company-number set by the parameter or the number.
  void SetCompnr(SQLVTTable *table) const;

  // Never evaluated: null.
  SQLRSSCSearchCond *CreateRS() override { return nullptr; }
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  [[noreturn]] void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed) override;
  // Moves this into *specs; nothing remains.
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) override;
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *) override { return this; }
  void ValidateArrayUsage() const override {}
  void ValidateTypes() const override {}

 private:
  std::unique_ptr<SQLVTSCIdentifier> column_;
  SQLParameter const *parameter_ = nullptr;  // = :p, or the parameter of a list
  int integer_ = -1;                         // = n; -1 for the other kinds
  std::unique_ptr<SQLVTSCIdentifier> otherColumn_;
  std::unique_ptr<List<int>> list_;          // IN (...); null once handed over
};

// A value of a restriction set.
class SQLVTSCCompnrValue {
 public:
  virtual ~SQLVTSCCompnrValue();
  // The company number, -1 unrestricted, -2 a conflict.
  virtual int Evaluate() const = 0;
  virtual bool ConflictsWith(SQLVTSCCompnrValue const *other) const = 0;
  virtual bool ConflictsWithInteger(SQLVTSCCompnrInteger const *) const { return true; }
  virtual bool ConflictsWithParameter(SQLVTSCCompnrParameter const *) const { return true; }
  // *simplest = the simplest value (null: unrestricted); FALSE on a conflict.
  virtual bool Simplify(SQLVTSCCompnrValue const **simplest) const = 0;
  // A new copy; null where the value cannot be copied.
  virtual SQLVTSCCompnrValue *Copy() const = 0;
  virtual void Log() const = 0;
};

class SQLVTSCCompnrInteger : public SQLVTSCCompnrValue {
 public:
  explicit SQLVTSCCompnrInteger(int number) : number_(number) {}
  int GetNumber() const { return number_; }
  int Evaluate() const override { return number_; }
  bool ConflictsWith(SQLVTSCCompnrValue const *other) const override { return other->ConflictsWithInteger(this); }
  bool ConflictsWithInteger(SQLVTSCCompnrInteger const *other) const override {
    return other->number_ != number_;
  }
  bool Simplify(SQLVTSCCompnrValue const **simplest) const override;
  SQLVTSCCompnrValue *Copy() const override { return new SQLVTSCCompnrInteger(number_); }
  void Log() const override;

 private:
  int number_;
};

class SQLVTSCCompnrParameter : public SQLVTSCCompnrValue {
 public:
  explicit SQLVTSCCompnrParameter(SQLParameter const *parameter) : parameter_(parameter) {}  // not owned
  SQLParameter const *GetParameter() const { return parameter_; }
  int Evaluate() const override;
  bool ConflictsWith(SQLVTSCCompnrValue const *other) const override {
    return other->ConflictsWithParameter(this);
  }
  bool ConflictsWithParameter(SQLVTSCCompnrParameter const *other) const override {
    return other->parameter_ != parameter_;
  }
  bool Simplify(SQLVTSCCompnrValue const **simplest) const override;
  SQLVTSCCompnrValue *Copy() const override { return new SQLVTSCCompnrParameter(parameter_); }
  void Log() const override;

 private:
  SQLParameter const *parameter_;
};

class SQLVTSCCompnrSet;

// The restrictions of another table's set (a _compnr join).
class SQLVTSCCompnrSetRef : public SQLVTSCCompnrValue {
 public:
  explicit SQLVTSCCompnrSetRef(SQLVTSCCompnrSet const *set) : set_(set) {}  // not owned
  int Evaluate() const override;
  bool ConflictsWith(SQLVTSCCompnrValue const *) const override { return false; }
  bool Simplify(SQLVTSCCompnrValue const **simplest) const override;
  SQLVTSCCompnrValue *Copy() const override { return nullptr; }
  void Log() const override;

 private:
  SQLVTSCCompnrSet const *set_;
};

// The restriction set of one table; empty means unrestricted.
class SQLVTSCCompnrSet {
 public:
  SQLVTSCCompnrSet();
  SQLVTSCCompnrSet(SQLVTSCCompnrSet const &) = delete;
  SQLVTSCCompnrSet &operator=(SQLVTSCCompnrSet const &) = delete;
  ~SQLVTSCCompnrSet();

  int GetId() const { return id_; }
  void IntersectWith(int number);
  void IntersectWith(SQLParameter const *parameter);
  void IntersectWith(SQLVTSCCompnrSet const *other);
  bool IsRestricted() const { return values_.NrElements() > 0; }

  // *simplest = the one value all values agree on (null: unrestricted);
  // FALSE on a conflict. A set met again along a chain of references counts
  // as unrestricted.
  bool Simplify(SQLVTSCCompnrValue const **simplest) const;
  // Replaces the values by the simplest one; FALSE (set unchanged) on a
  // conflict.
  bool Simplify();
  // -1 unrestricted, the company number, or -2 when the values disagree.
  int Evaluate() const;
  // "Id: " id " Restrictions: [" values "]".
  void Log() const;

 private:
  void Clear();

  // Ids of the sets of the process; atomic like the row-source counter, as
  // statements may be prepared on different threads.
  static std::atomic<int> _idCounter;

  int id_;
  mutable List<SQLVTSCCompnrValue *> values_;  // owned; the cursor walks in const operations
  mutable bool busy_ = false;                  // a walk through this set is under way
};

// Traces "CompnrSpecs:" and one specification per line (nothing for a null
// or empty array).
void SQLVTLogCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> const *specs);
