// Follows one client's stream the way the plug-in cuts it into blocks (a block opens at the
// first "{" or "[", only its own bracket pair nests, quotes and backslashes hide brackets), so
// the host can tell when a client went away in the middle of a block.
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrel::host {

class OpenBlock {
public:
  void Feed(std::string_view bytes);
  // Whether the stream stopped inside a block, and that block's bytes so far.
  bool Open() const { return depth_ > 0; }
  uint64_t Bytes() const { return bytes_; }

private:
  char open_ = 0;
  char close_ = 0;
  int64_t depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
  uint64_t bytes_ = 0;
};

} // namespace kestrel::host
