// What the parsing pipeline needs of the module it runs in: logging with the module's message
// texts. The concrete module implements it on the
// framework's module object; tests may supply their own.
#pragma once

#include "common/orv_param_lst.h"
#include "parser/text_resources.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kestrel::parser {

class IParserModule {
public:
  virtual ~IParserModule() = default;

  // A log line at a level (0 failure, 1 warning, 2 information).
  virtual void ParserLog(uint8_t level, const std::string& message) = 0;
  // The message texts in use now, as one set that stays whole while the caller holds it.
  virtual std::shared_ptr<const TTextResources> Texts() const = 0;
};

} // namespace kestrel::parser
