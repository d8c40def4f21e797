// A module for driving the parsing pipeline without the framework's module object: it keeps
// its log lines.
#pragma once

#include "parser/parser_module.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::testing {

class FakeParserModule : public parser::IParserModule {
public:
  void ParserLog(uint8_t level, const std::string& message) override {
    std::lock_guard lock(mutex);
    log.push_back(std::to_string(level) + ":" + message);
  }
  std::shared_ptr<const parser::TTextResources> Texts() const override { return texts; }

  std::vector<std::string> Log() {
    std::lock_guard lock(mutex);
    return log;
  }

  std::shared_ptr<const parser::TTextResources> texts =
      std::make_shared<const parser::TTextResources>();
  std::mutex mutex;
  std::vector<std::string> log;
};

} // namespace kestrel::testing
