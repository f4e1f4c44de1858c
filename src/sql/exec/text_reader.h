// SQLTextReader: reads numbered multi-line texts for text_content().
//
// The texts live in the table "tttxt010" of each company, one row per line:
// the text number ("ctxt"), the language ("clan"), the line's sequence
// number ("seqe") and the line ("text"). The reader keeps one prepared
// row-source tree (the fetcher) that selects the lines of one text in one
// language in ascending sequence order, and rebuilds it only when the
// company changes. The lines are joined exactly as stored; only the end of
// the last line loses its blanks.
//
// One reader per process, used on the caller's thread like the rest of the
// library.
#pragma once

#include <memory>

#include "sql/common/sql_parameter.h"

class SQLRowSource;
class SQLValueStore;

class SQLTextReader {
 public:
  static constexpr char kTableName[] = "tttxt010";

  static SQLTextReader *Instance();
  // Destroys the reader (with its fetcher); the next Instance makes a new one.
  static void DeleteInstance();

  SQLTextReader(SQLTextReader const &) = delete;
  SQLTextReader &operator=(SQLTextReader const &) = delete;
  ~SQLTextReader();

  // Fills out with the text, or sets it NULL when the text has no lines in
  // the language. Errors of the fetch pass out unchanged.
  void ReadText(int textNumber, unsigned char language, int companyNumber, unsigned long session,
                SQLValueStore *out);
  // Closes the fetcher when it is attached (the argument is not used).
  void DetachFromSession(unsigned long session);

  // For tests: the company the fetcher was built for (-1: none), and how
  // many fetchers were built.
  int GetCompanyNumber() const { return companyNumber_; }
  int GetBuilds() const { return builds_; }

 private:
  SQLTextReader();
  void BuildFetcher(int companyNumber);
  void DropFetcher();

  std::unique_ptr<SQLRowSource> fetcher_;
  int companyNumber_ = -1;
  unsigned long session_ = 0;  // 0 while detached
  SQLParameter textNumber_;
  SQLParameter language_;
  SQLValueStore const *text_ = nullptr;  // the fetcher's "text" column
  int builds_ = 0;
};
