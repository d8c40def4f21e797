// Reads arbitrary bytes as JSON. A document that comes out must be written, read back to the
// same compact text, and answer name look-ups consistently.
#include "json/json_document.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace kestrel::json;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

void Walk(const TJsonBase* node, int depth) {
  Check(depth <= TJson::kMaxDepth + 1);
  if (const auto* member = dynamic_cast<const TJsonMember*>(node)) {
    Walk(member->Value(), depth);
    return;
  }
  if (const auto* object = dynamic_cast<const TJsonObject*>(node)) {
    for (int32_t i = 0; i < object->ItemCount(); ++i) {
      const auto& member = dynamic_cast<const TJsonMember&>(*object->GetItem(i));
      const int32_t first = object->IndexByName(member.Name());
      Check(first >= 0 && first <= i);
      Check(dynamic_cast<const TJsonMember&>(*object->GetItem(first)).Name() == member.Name());
      if (first == i)
        Check(object->NameAt(i) == member.Name());
    }
  }
  for (int32_t i = 0; i < node->ItemCount(); ++i)
    Walk(node->GetItem(i), depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const TJsonPtr doc = TJson::Parse(text);
  if (!doc)
    return 0;
  Walk(doc.get(), 0);
  const std::string compact = TJson::Serialize(doc.get());
  const TJsonPtr again = TJson::Parse(compact);
  Check(again != nullptr);
  Check(TJson::Serialize(again.get()) == compact);
  return 0;
}
