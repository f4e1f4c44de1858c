// Token strings as they arrive from an SQL agent: the input is the string.
// It is walked item by item as a reader would, converted between byte orders
// and floating-point formats, and traced. A malformed string must raise the
// protocol exception, and its trace must stay one line, never one per item.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/numbers.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"

namespace {

void Walk(SQLTokenString const &ts) {
  ts.SetReadOffset(0);
  while (!ts.AtEnd()) {
    switch (ts.TypeCurrent()) {
      case SQLNWTbs1: ts.GetBs1(); break;
      case SQLNWTbs2: ts.GetBs2(); break;
      case SQLNWTbs4: ts.GetBs4(); break;
      case SQLNWTbs8: ts.GetBs8(); break;
      case SQLNWTdouble: ts.GetDouble(); break;
      case SQLNWTmemory: {
        unsigned char const *bytes;
        std::int16_t n;
        ts.GetMemory(bytes, n);
        break;
      }
      case SQLNWTtoken: {
        ts.PeekToken();
        const int at = ts.GetReadOffset();
        try {
          ts.GetType();
        } catch (SQLException const &) {
          ts.SetReadOffset(at);
          ts.GetToken();
        }
        break;
      }
      default: ts.GetBs1(); break;  // raises: an unknown tag
    }
  }
}

// The number of lines the trace of the string writes to standard error.
int TraceLines(SQLTokenString const &ts) {
  std::fflush(stderr);
  FILE *capture = std::tmpfile();
  if (capture == nullptr) return 0;
  const int saved = dup(2);
  dup2(fileno(capture), 2);
  ts.Log();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::rewind(capture);
  int lines = 0;
  for (int c; (c = std::fgetc(capture)) != EOF;) lines += c == '\n';
  std::fclose(capture);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size > 1 << 16) return 0;
  SQLTokenString ts(data, static_cast<int>(size));
  try {
    Walk(ts);
  } catch (SQLException const &) {
  }
  SQLLogger::Instance()->SetLogFlags(SQLLogger::CommunicationPackets);
  const int lines = TraceLines(ts);
  SQLLogger::Instance()->SetLogFlags(0);
  if (size > 0 && lines != 1) std::abort();  // one trace line per string
  for (bool swap : {false, true}) {
    SQLTokenString copy(data, static_cast<int>(size));
    try {
      copy.ConvertDataFormat(swap, AL_DOUBLE_IEEE_LSB, AL_DOUBLE_IEEE_MSB,
                             SQLTokenString::ToHostOrder);
      copy.ConvertDataFormat(swap, AL_DOUBLE_IEEE_MSB, AL_DOUBLE_IEEE_LSB,
                             SQLTokenString::FromHostOrder);
      Walk(copy);
    } catch (SQLException const &) {
    }
  }
  return 0;
}
