#include "open_block.h"

namespace kestrel::host {

void OpenBlock::Feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (depth_ == 0) {
      if (c == '{' || c == '[') {
        open_ = c;
        close_ = c == '{' ? '}' : ']';
        depth_ = 1;
        bytes_ = 1;
        in_string_ = false;
        escaped_ = false;
      }
      continue;
    }
    ++bytes_;
    if (escaped_) {
      escaped_ = false;
    } else if (c == '\\') {
      escaped_ = true;
    } else if (c == '"') {
      in_string_ = !in_string_;
    } else if (!in_string_ && c == open_) {
      ++depth_;
    } else if (!in_string_ && c == close_) {
      --depth_;
    }
  }
}

} // namespace kestrel::host
