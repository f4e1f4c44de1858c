// Shared set-up of the fuzz harnesses: a scratch environment root that lives
// as long as the process, fixture paths, and the input split into parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace molvane::fuzz {

// Path of a file or folder under tests/fixtures.
std::string FixturePath(const std::string &relative);

// A scratch environment root, created on the first call and removed at exit;
// ZUV and ZUV_LOG point into it. Log messages are formatted and dropped:
// a fuzzer reaches every refusal millions of times.
const std::string &ScratchRoot();

// Copies a fixture file or folder below the scratch root.
void CopyFixture(const std::string &relative, const std::string &to);

// Writes a file below the scratch root, creating its folders.
void WriteScratchFile(const std::string &relative, std::string_view content);

// The input as text.
inline std::string_view AsText(const std::uint8_t *data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char *>(data), size);
}

}  // namespace molvane::fuzz

// The harness's entry: libFuzzer's, or the replaying main's.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
