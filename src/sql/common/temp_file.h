// SQLTempFile: a binary scratch file that lives as long as the object.
#pragma once

#include <cstdio>
#include <string>

// A new, exclusively created file "sql<letters>" in the temporary directory
// (get_zuv_tmp; the current directory when that text is empty), open for
// reading and writing through a buffered stream. The destructor closes and
// removes it. Every failure to create, write, read or position the file
// throws SQLExFileIOError, so a full disk is never a silent loss; the file
// then stays open and usable.
class SQLTempFile {
 public:
  SQLTempFile();
  ~SQLTempFile();
  SQLTempFile(SQLTempFile const &) = delete;
  SQLTempFile &operator=(SQLTempFile const &) = delete;

  // Transfer exactly one block of size bytes at the current position.
  void Write(void const *data, unsigned int size);
  void Read(void *data, unsigned int size);
  // One byte; EOF at the end of the file or on failure (no exception).
  int Get();
  int Put(int byte);
  // Moves the position (whence as for fseek) and returns the new position.
  long Seek(long offset, int whence);
  long Tell();

  std::string const &Path() const { return path_; }

 private:
  enum class LastOp { None, Read, Write };
  // The C library needs a positioning call between a write and a read.
  void Switch(LastOp next);

  std::string path_;         // owned path text
  std::FILE *stream_ = nullptr;  // the open file
  LastOp lastOp_ = LastOp::None;
};
