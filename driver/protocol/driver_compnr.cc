#include "protocol/driver_compnr.h"

#include <algorithm>
#include <map>
#include <memory>

#include "dbc/zdb_errors.h"

namespace molvane::driver {

namespace {

constexpr std::size_t kMaxEnvText = 4096;
constexpr std::size_t kMaxSpecName = 8;
constexpr std::uint32_t kMaxSpecs = 100000;
constexpr std::uint32_t kMaxCompanies = 1000;
constexpr std::uint16_t kMaxCompnr = 999;

std::map<std::string, std::unique_ptr<CompnrMap>> &Maps() {
  static std::map<std::string, std::unique_ptr<CompnrMap>> maps;
  return maps;
}

std::uint16_t Company(WireReader &in, const char *what) {
  std::uint16_t n = in.U16();
  if (n > kMaxCompnr) throw Malformed(std::string(what) + " company " + std::to_string(n));
  return n;
}

}  // namespace

const CompnrSpec *CompnrMap::SpecOf(const std::string &table) const {
  const CompnrSpec *best = nullptr;
  for (const CompnrSpec &spec : specs) {
    if (table.compare(0, spec.name.size(), spec.name) != 0) continue;
    if (best == nullptr || spec.name.size() > best->name.size()) best = &spec;
  }
  return best;
}

std::vector<int> CompnrMap::Logicals(const std::string &table, int physical) const {
  const CompnrSpec *best = SpecOf(table);
  if (best != nullptr)
    for (const CompnrPhysical &entry : best->entries)
      if (entry.physical == physical) return {entry.logical.begin(), entry.logical.end()};
  return {};
}

int CompnrMap::Physical(const std::string &table, int logical) const {
  const CompnrSpec *best = SpecOf(table);
  if (best == nullptr) return logical;
  for (const CompnrPhysical &entry : best->entries)
    if (std::find(entry.logical.begin(), entry.logical.end(), logical) != entry.logical.end())
      return entry.physical;
  return logical;
}

CompnrMap ReadCompnrMap(WireReader &in) {
  CompnrMap map;
  map.env = in.Text(kMaxEnvText);
  std::uint32_t specs = in.U32();
  if (specs > kMaxSpecs) throw Malformed("spec count " + std::to_string(specs));
  for (std::uint32_t i = 0; i < specs; ++i) {
    CompnrSpec spec;
    spec.name = in.Text(kMaxSpecName);
    std::uint32_t entries = in.U32();
    if (entries > kMaxCompanies) throw Malformed("physical entry count " + std::to_string(entries));
    for (std::uint32_t j = 0; j < entries; ++j) {
      CompnrPhysical entry;
      entry.physical = Company(in, "physical");
      std::uint16_t count = in.U16();
      if (count > kMaxCompanies) throw Malformed("logical company count " + std::to_string(count));
      for (std::uint16_t k = 0; k < count; ++k) entry.logical.push_back(Company(in, "logical"));
      spec.entries.push_back(std::move(entry));
    }
    map.specs.push_back(std::move(spec));
  }
  return map;
}

const CompnrMap *FindCompnrMap(const std::string &env) {
  auto it = Maps().find(env);
  return it == Maps().end() ? nullptr : it->second.get();
}

void KeepCompnrMap(CompnrMap map) {
  std::string env = map.env;
  Maps()[env] = std::make_unique<CompnrMap>(std::move(map));
}

void ForgetCompnrMaps() { Maps().clear(); }

}  // namespace molvane::driver
