// Table-definition lines: each line of the input is split into its fields;
// an entry's company list and table patterns are matched, and its driver
// list is parsed into driver groups. A "!" (a driver on another host) is
// replaced: host names would be looked up in the name service on every input.
#include <string>

#include "dbc/tabledef/tabledef_parse.h"
#include "fuzz_support.h"

using namespace tabledef_detail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    molvane::fuzz::ScratchRoot();
    return true;
  }();
  (void)ready;
  std::string text(molvane::fuzz::AsText(data, size));
  for (char &c : text)
    if (c == '!') c = '_';
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    LineFields fields;
    if (SplitLine(line, &fields) != LineKind::kEntry) continue;
    for (int compnr : {-1, 0, 100, 999})
      MatchCompanyList(fields.companies, compnr);
    MatchTablePatterns(fields.patterns, "abxyz400");
    ArgumentText(fields.drivers);
    bool error = false;
    ParseDriverList(fields.drivers, std::string(), &error);
  }
  return 0;
}
