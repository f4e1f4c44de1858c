// SQLVTObject: the root of every object of the validated tree and of the
// FROM-clause parse objects. The parser's object stack deletes through it.
#pragma once

class SQLVTObject {
 public:
  SQLVTObject() = default;
  SQLVTObject(SQLVTObject const &) = default;
  SQLVTObject &operator=(SQLVTObject const &) = default;
  virtual ~SQLVTObject();

  // The statement line of the construct; 0 until the parser sets it. Every
  // validation error a node raises carries it.
  int GetLineNumber() const { return lineNumber_; }
  void SetLineNumber(int line) { lineNumber_ = line; }

 private:
  int lineNumber_ = 0;
};
