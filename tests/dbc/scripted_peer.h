// A driver stand-in for protocol tests: the client writes into a byte
// array and reads a scripted reply from another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbc/session/zdb_server.h"

namespace molvane::test {

// Builds wire bytes field by field (big-endian integers).
class Bytes {
 public:
  Bytes &u8(std::uint8_t v) { data_.push_back(v); return *this; }
  Bytes &u16(std::uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
  Bytes &u32(std::uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Bytes &raw(const std::string &s) { data_.insert(data_.end(), s.begin(), s.end()); return *this; }
  Bytes &text(const std::string &s) { return raw(s).u8(0); }
  Bytes &fill(std::size_t n, std::uint8_t v) { data_.insert(data_.end(), n, v); return *this; }
  const std::vector<std::uint8_t> &data() const { return data_; }
  std::size_t size() const { return data_.size(); }

 private:
  std::vector<std::uint8_t> data_;
};

// A ZDB_SERVER whose output is a growing byte array and whose input is the
// scripted reply.
class ScriptedPeer {
 public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer &) = delete;
  ScriptedPeer &operator=(const ScriptedPeer &) = delete;

  // Replaces the input with these reply bytes and empties the output.
  void Reply(const std::vector<std::uint8_t> &bytes);
  void Reply(const Bytes &bytes) { Reply(bytes.data()); }
  // What the client has written since the last Reply, also after the client
// closed the streams.
  std::vector<std::uint8_t> Sent();
  ZDB_SERVER *server() { return &server_; }

 private:
  ZDB_SERVER server_;
  std::vector<std::uint8_t> sent_;
};

}  // namespace molvane::test
