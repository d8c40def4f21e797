// A module for driving the parsing pipeline without the framework: it keeps its log lines and
// adds the standard fields the way the framework does.
#pragma once

#include "common/variant_convert.h"
#include "parser/parser_module.h"
#include "platform/text.h"

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
    if (!list)
      return 0;
    int added = 0;
    if (!full_text.empty()) {
      list->Add("FULL_DATA_PACKET", Variant(full_text));
      ++added;
    }
    if (!block_text.empty()) {
      list->Add("DATA_PACKET", Variant(block_text));
      ++added;
    }
    list->Add("DATE_TIME_STAMP", Variant::DateTime(45000.5));
    list->Add("DATA_SOURCE_ID", Variant(source_id));
    list->Add("DATA_SOURCE_FULL_NAME", Variant(source_long_name));
    added += 3;
    if (client_id != 0) {
      list->Add("CLIENTID", Variant(static_cast<int32_t>(client_id)));
      ++added;
    }
    list->Add("DATA_SOURCE_NAME", Variant(client_id != 0 ? client_name : source_name));
    return added + 1;
  }
  bool IsStandardItem(std::string_view name) const override {
    static const char* const names[] = {
        "FULL_DATA_PACKET", "DATA_PACKET",           "DATE_TIME_STAMP", "DATA_SOURCE_ID",
        "DATA_SOURCE_NAME", "DATA_SOURCE_FULL_NAME", "CLIENTID"};
    const std::string upper = platform::AnsiUpperCase(name);
    for (const char* standard : names)
      if (upper == standard)
        return true;
    return false;
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
