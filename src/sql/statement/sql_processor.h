// SQLProcessor: the one static object of the SQL layers. Created when the
// library loads, it installs the out-of-memory handler as the process's
// new-handler; destroyed at process exit, it tears the SQL singletons down
// and puts the previous handler back.
#pragma once

#include <new>

class SQLString;

class SQLProcessor {
 public:
  SQLProcessor();
  SQLProcessor(SQLProcessor const &) = delete;
  SQLProcessor &operator=(SQLProcessor const &) = delete;
  ~SQLProcessor();

  // The new-handler: sets zdb_errno to 501, logs "Out of memory!" under the
  // keyword "Memory" and throws std::bad_alloc, so that every failed
  // allocation reaches the SQL layers as bad_alloc. While the log call
  // itself runs out of memory the handler only throws.
  static void OutOfMemory();

  // "No more memory": the message of the out-of-memory record "QP501",
  // made at load so that reporting it needs no allocation. Lives while the
  // processor does.
  static SQLString const &NoMoreMemory();

 private:
  std::new_handler previousHandler_;
};
