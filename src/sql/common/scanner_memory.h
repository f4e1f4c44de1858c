// The memory of a generated scanner (flex with noyyalloc, noyyrealloc and
// noyyfree), taken through mal_sys_* so that the allocator's failure hook
// reaches it like every other allocation of the library.
//
// The generated code reports a failed allocation as a fatal error and loses
// hold of some blocks on the way: yy_create_buffer forgets its buffer state
// when the character buffer that follows cannot be had, and a failed
// yyrealloc of the character buffer overwrites the only pointer to the old
// block. ScannerMemory remembers both, so that the fatal-error routine can
// free them (ReleaseLost) before it destroys the scanner and throws
// std::bad_alloc; the next scan then starts a fresh scanner.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "platform/mal.h"

class ScannerMemory {
 public:
  // state_size: sizeof(struct yy_buffer_state) of the scanner.
  explicit constexpr ScannerMemory(std::size_t state_size) : stateSize_(state_size) {}

  void *Alloc(std::size_t size) {
    void *block = mal_sys_malloc(size);
    if (size == stateSize_) newestState_ = block;
    return block;
  }
  // Null when memory runs out; the block is then remembered as lost.
  void *Realloc(void *block, std::size_t size) {
    void *grown = mal_sys_realloc(block, size);
    if (grown == nullptr && block != nullptr) lostBlock_ = block;
    return grown;
  }
  void Free(void *block) {
    if (block != nullptr && block == newestState_) newestState_ = nullptr;
    std::free(block);
  }
  // Frees what the generated code lost hold of in the allocation that just
  // failed. current: the scanner's current buffer state (it stays the
  // generated code's to free).
  void ReleaseLost(void const *current) {
    if (newestState_ != nullptr && newestState_ != current) std::free(newestState_);
    newestState_ = nullptr;
    std::free(lostBlock_);
    lostBlock_ = nullptr;
  }

 private:
  std::size_t stateSize_;
  void *newestState_ = nullptr;  // the buffer state allocated last, until freed
  void *lostBlock_ = nullptr;    // the block of a failed yyrealloc
};
