// Dictionary dumps: the first byte chooses a domain dump (even) or a table
// dump (odd); a table dump's name is the next 8 bytes, the dump follows. A
// table dump is parsed the way a load parses it, over the fixture domains
// and a few long ones of the harness, the text of each column's default is
// formed, and the records are released after each input.
#include <cstring>
#include <string>

#include "dbc/dict/dd.h"
#include "dbc/dict/dd_load.h"
#include "dbc/dict/dd_state.h"
#include "fuzz_support.h"

namespace dd = molvane::dd;

namespace {

void ParseDomains(std::string_view text) {
  dd::LoadScope scope;
  dd::DumpFile dump;
  dump.physical_name = "fuzz.pd";
  dump.text = std::string(text);
  if (!dd::SplitDumpLines(dump.physical_name, "fuzz", dump)) return;
  dd::ParseDomainDump(dump, "zz");
}

void ParseTable(std::string_view name, std::string_view text) {
  dd::LoadScope scope;
  dd::DumpFile dump;
  dump.physical_name = "fuzz";
  dump.text = std::string(text);
  if (!dd::SplitDumpLines(dump.physical_name, "fuzz", dump)) return;
  auto *table = dd::AllocArray<DD_TABLE>(1);
  auto *cache = dd::AllocArray<DD_TABLE_CACHE>(1);
  std::memcpy(table->name, name.data(), 8);
  table->mode_bits = static_cast<uint8_t>(dd::ModeBits());
  cache->table = table;
  cache->loading = true;
  dd::AddTableCache(cache);
  dd::State().loading_tables.push_back(cache);
  const bool parsed = dd::ParseTableDump(dump, table);
  dd::State().loading_tables.pop_back();
  if (parsed) {
    // The text form of every default, into the smallest buffer the
    // dictionary promises to fill.
    char text[DD_DEFA_TEXT_MIN];
    for (int i = 0; i < table->column_count; ++i)
      defa_domain(table, &table->columns[i], text, sizeof text);
  }
  dd::RemoveTableCache(cache);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    const std::string &root = molvane::fuzz::ScratchRoot();
    // The domain dumps of the fixtures, without their table dumps: a table
    // dump of the input never finds a stored one of its name.
    for (const char *pd : {"dex.pd", "dtt.pd"})
      molvane::fuzz::CopyFixture(std::string("zuv/dict/") + pd, std::string("dict/") + pd);
    // Domains at the limits of a column, which the fixtures do not hold.
    molvane::fuzz::WriteScratchFile("dict/dfz.pd",
                                    "D fzlong\n:NAME fzlong\n:TYPE s\n:CLEN 1000\n:PLEN 1000\n"
                                    "D fzraw\n:NAME fzraw\n:TYPE r\n:CLEN 400\n"
                                    "D fzmb\n:NAME fzmb\n:TYPE m\n:CLEN 2000\n");
    setenv("F_ZRDD", (root + "/dict").c_str(), 1);
    init_local_dd();
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;
  const std::string_view input = molvane::fuzz::AsText(data, size);
  if ((data[0] & 1) == 0) {
    ParseDomains(input.substr(1));
  } else if (size >= 9 && input.substr(1, 8).find('\0') == std::string_view::npos) {
    ParseTable(input.substr(1, 8), input.substr(9));
  }
  return 0;
}
