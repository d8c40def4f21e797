// The standard fields of a result row and the standard parser items that name them.
#include "framework/standard_fields.h"
#include "common/ascii_text.h"
#include "common/ole_date.h"
#include "framework/orv_plugin_module.h"
#include "platform/locale.h"

namespace kestrel {

namespace {

// Now as an OLE date: days since 30 December 1899, the time of day as the fraction.
double LocalNowAsDate() {
  return OleDateTimeFromLocalTime(platform::LocalTimeNow());
}

} // namespace

int AddStandardFields(TorvParamsList* list, const TStandardFields& fields) {
  if (!list)
    return 0;
  int added = 0;
  auto add = [&](std::string_view name, Variant&& value) {
    if (list->Add(name, std::move(value)))
      ++added;
  };
  if (!fields.FullText.empty() && fields.FullText.data() == fields.BlockText.data() &&
      fields.FullText.size() == fields.BlockText.size()) {
    // One text under both names: converted once, copied once.
    Variant text(fields.BlockText);
    add("FULL_DATA_PACKET", Variant(text));
    add("DATA_PACKET", std::move(text));
  } else {
    if (!fields.FullText.empty())
      add("FULL_DATA_PACKET", Variant(fields.FullText));
    if (!fields.BlockText.empty())
      add("DATA_PACKET", Variant(fields.BlockText));
  }
  add("DATE_TIME_STAMP", Variant::DateTime(LocalNowAsDate()));
  add("DATA_SOURCE_ID", Variant(fields.SourceId));
  add("DATA_SOURCE_FULL_NAME", Variant(fields.SourceLongName));
  if (fields.ClientId != 0)
    add("CLIENTID", Variant(fields.ClientId));
  add("DATA_SOURCE_NAME", Variant(fields.ClientId != 0 ? fields.ClientName : fields.SourceName));
  return added;
}

void AddStandardItems(TorvPlugin& module, bool with_client) {
  for (const TStandardItem& item : kStandardItems) {
    if (!with_client && item.Name == "CLIENTID")
      continue;
    module.ParserItems.push_back(
        TParserItem{std::string(item.Name), std::string(item.Description), item.Type, {}});
  }
}

} // namespace kestrel
