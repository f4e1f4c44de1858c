// An execution tree that does nothing but record its destruction, for the
// caches that own trees.
#pragma once

#include <string>
#include <vector>

#include "sql/exec/exec_tree.h"

class FakeExecTree : public SQLExecTree {
 public:
  // Appends `name` to `destroyed` when deleted.
  FakeExecTree(std::string name, std::vector<std::string> *destroyed)
      : name_(std::move(name)), destroyed_(destroyed) {}
  ~FakeExecTree() override {
    if (destroyed_) destroyed_->push_back(name_);
  }

  std::string const &Name() const { return name_; }

  SQLExecTree *Optimize() override { return this; }
  void Prepare(SQLRSPrepareContext *) override {}
  void Attach(unsigned long) override {}
  int GetNumCols() override { return 0; }
  SQLColumnDescriptor const *GetColumnDescriptor(int) override { return nullptr; }
  SQLValueStore const *GetValueStoreAddr(int) override { return nullptr; }
  void SetMaxRows(int) override {}
  void SetTimeOut(long) override {}
  void SetBufferSize(int) override {}
  int Exec() override { return 0; }
  int Fetch() override { return 0; }
  int SkipRows(int) override { return 0; }
  void Break() override {}
  void Close() override {}
  void Log() override {}

 private:
  std::string name_;
  std::vector<std::string> *destroyed_;
};
