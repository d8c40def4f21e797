// The standard fields every result row carries and the standard parser items the module
// publishes for them.
#pragma once

#include "common/orv_param_lst.h"
#include "framework/standard_items.h"

#include <cstdint>
#include <string_view>

namespace kestrel {

class TorvPlugin;

// What the standard fields of one result row are made of.
struct TStandardFields {
  std::string_view FullText = {};       // FULL_DATA_PACKET, left out when empty
  std::string_view BlockText = {};      // DATA_PACKET, left out when empty
  std::string_view ClientName = {};     // DATA_SOURCE_NAME of a row from a client
  std::string_view SourceName = {};     // DATA_SOURCE_NAME of a row without a client
  std::string_view SourceLongName = {}; // DATA_SOURCE_FULL_NAME
  int32_t ClientId = 0;                 // CLIENTID, left out when 0
  int32_t SourceId = 0;                 // DATA_SOURCE_ID
};

// Adds the standard fields to a result row, in this order: FULL_DATA_PACKET and DATA_PACKET
// (each only when its text is not empty), DATE_TIME_STAMP (now, local time),
// DATA_SOURCE_ID, DATA_SOURCE_FULL_NAME, CLIENTID (only when not 0), DATA_SOURCE_NAME (the
// client's name for a client, else the data source's). Returns how many were added; 0 for
// no list.
int AddStandardFields(TorvParamsList* list, const TStandardFields& fields);

// Appends the standard parser items to the module's parser items: the first six, and
// CLIENTID as well when `with_client`.
void AddStandardItems(TorvPlugin& module, bool with_client);

} // namespace kestrel
