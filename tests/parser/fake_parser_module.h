// A module for driving the parsing pipeline without the framework's module object: it keeps
// its log lines and adds the standard fields with the framework's own code.
#pragma once

#include "framework/result_delivery.h"
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
  int AddStandardFields(TorvParamsList* list, std::string_view full_text,
                        std::string_view client_name, std::string_view source_long_name,
                        std::string_view source_name, uint32_t client_id, int32_t source_id,
                        std::string_view block_text) override {
    return kestrel::AddStandardFields(list, full_text, client_name, source_long_name, source_name,
                                      static_cast<int32_t>(client_id), source_id, block_text);
  }
  bool IsStandardItem(std::string_view name) const override {
    return kestrel::IsStandardItem(name);
  }

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
