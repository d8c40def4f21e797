#include "parser/cfg_options_proxy.h"

#include "common/variant_convert.h"

#include <cmath>
#include <limits>
#include <variant>

namespace kestrel::parser {

namespace {

using Member =
    std::variant<int32_t TCfgOptionValues::*, double TCfgOptionValues::*, bool TCfgOptionValues::*,
                 std::string TCfgOptionValues::*, std::vector<std::string> TCfgOptionValues::*>;

struct Binding {
  TPublishedProperty property;
  Member member;
};

#define KESTREL_PROPERTY(name, kind)                                                               \
  Binding {                                                                                        \
    {#name, TPropertyKind::kind}, &TCfgOptionValues::name                                          \
  }

const std::vector<Binding>& Bindings() {
  static const std::vector<Binding> bindings = {
      KESTREL_PROPERTY(Left, Integer),
      KESTREL_PROPERTY(Top, Integer),
      KESTREL_PROPERTY(Height, Integer),
      KESTREL_PROPERTY(Width, Integer),
      KESTREL_PROPERTY(OpenDialog_FileName, String),
      KESTREL_PROPERTY(OpenDialog_FilterIndex, Integer),
      KESTREL_PROPERTY(SaveDialog_FileName, String),
      KESTREL_PROPERTY(SaveDialog_FilterIndex, Integer),
      KESTREL_PROPERTY(BegSign_Text, String),
      KESTREL_PROPERTY(LeftTrim_Checked, Boolean),
      KESTREL_PROPERTY(RightTrim_Checked, Boolean),
      KESTREL_PROPERTY(FmtDate_Text, String),
      KESTREL_PROPERTY(FmtTime_Text, String),
      KESTREL_PROPERTY(FmtDateTime_Text, String),
      KESTREL_PROPERTY(chkUseNowTime_Checked, Boolean),
      KESTREL_PROPERTY(chkUseNowDate_Checked, Boolean),
      KESTREL_PROPERTY(spLocaleID_Value, Double),
      KESTREL_PROPERTY(Filters_Hint, String),
      KESTREL_PROPERTY(lstJSON_Hint, String),
      KESTREL_PROPERTY(spSignTimeout_Value, Double),
      KESTREL_PROPERTY(spMaxBlockSize_Value, Double),
      KESTREL_PROPERTY(chkAddNodeName_Checked, Boolean),
      KESTREL_PROPERTY(chkNameUpper_Checked, Boolean),
      KESTREL_PROPERTY(chkExpandArrays_Checked, Boolean),
      KESTREL_PROPERTY(spDepth_Value, Double),
      KESTREL_PROPERTY(MapTransl0_Strings, Strings),
      KESTREL_PROPERTY(MapTransl1_Strings, Strings),
      KESTREL_PROPERTY(MapTransl2_Strings, Strings),
      KESTREL_PROPERTY(comboTransDirection_Tag, Integer),
      KESTREL_PROPERTY(comboChar_Tag, Integer),
  };
  return bindings;
}

#undef KESTREL_PROPERTY

// Published property names compare without regard to ASCII case, as the store looks them up.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

const Binding* FindBinding(std::string_view name) {
  for (const Binding& binding : Bindings())
    if (SameName(binding.property.Name, name))
      return &binding;
  return nullptr;
}

} // namespace

const std::vector<TPublishedProperty>& TProxyCodeObject::PublishedProperties() const {
  static const std::vector<TPublishedProperty> properties = [] {
    std::vector<TPublishedProperty> list;
    for (const Binding& binding : Bindings())
      list.push_back(binding.property);
    return list;
  }();
  return properties;
}

std::optional<Variant> TProxyCodeObject::GetPropertyValue(std::string_view name) const {
  const Binding* binding = FindBinding(name);
  if (!binding)
    return std::nullopt;
  const TCfgOptionValues& values = *this;
  return std::visit(
      [&](auto member) -> std::optional<Variant> {
        using T = std::remove_cvref_t<decltype(values.*member)>;
        if constexpr (std::is_same_v<T, std::vector<std::string>>)
          return std::nullopt;
        else
          return Variant(values.*member);
      },
      binding->member);
}

bool TProxyCodeObject::SetPropertyValue(std::string_view name, const Variant& value) {
  const Binding* binding = FindBinding(name);
  if (!binding)
    return false;
  TCfgOptionValues& values = *this;
  return std::visit(
      [&](auto member) -> bool {
        using T = std::remove_cvref_t<decltype(values.*member)>;
        if constexpr (std::is_same_v<T, int32_t>) {
          const auto number = VariantToInt64(value);
          if (!number || *number < std::numeric_limits<int32_t>::min() ||
              *number > std::numeric_limits<int32_t>::max())
            return false;
          values.*member = static_cast<int32_t>(*number);
        } else if constexpr (std::is_same_v<T, double>) {
          const auto number = VariantToDouble(value);
          if (!number)
            return false;
          values.*member = *number;
        } else if constexpr (std::is_same_v<T, bool>) {
          const auto flag = VariantToBool(value);
          if (!flag)
            return false;
          values.*member = *flag;
        } else if constexpr (std::is_same_v<T, std::string>) {
          values.*member = VariantToAnsi(value);
        } else {
          return false;
        }
        return true;
      },
      binding->member);
}

std::vector<std::string>* TProxyCodeObject::StringsProperty(std::string_view name) {
  const Binding* binding = FindBinding(name);
  if (!binding)
    return nullptr;
  if (const auto* member =
          std::get_if<std::vector<std::string> TCfgOptionValues::*>(&binding->member))
    return &(static_cast<TCfgOptionValues&>(*this).**member);
  return nullptr;
}

} // namespace kestrel::parser
