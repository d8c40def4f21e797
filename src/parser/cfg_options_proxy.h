// The settings object's base classes: every option the options dialog edits is a published
// property named after the dialog control and its property joined by "_" (`BegSign_Text`
// mirrors the Text of the control BegSign). The property table lets the settings store move
// values by name without knowing the class.
#pragma once

#include "common/variant.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::parser {

// The type kind of a published property, which decides how a store encodes it.
enum class TPropertyKind : uint8_t { Integer, Double, Boolean, String, Strings };

struct TPublishedProperty {
  std::string_view Name;
  TPropertyKind Kind;
};

// A component that publishes properties by name.
class TProxyCodeCustomObject {
public:
  virtual ~TProxyCodeCustomObject() = default;

  // Component properties; not in the property map and never persisted.
  std::string Name;
  int32_t Tag = 0;

  // The published properties in declaration order.
  virtual const std::vector<TPublishedProperty>& PublishedProperties() const = 0;
  // The value of a scalar property (Integer, Double, Boolean, String); nothing for an unknown
  // name or a string list.
  virtual std::optional<Variant> GetPropertyValue(std::string_view name) const = 0;
  // Stores a scalar property converted to its type; false for an unknown name, a string list,
  // or a value that does not convert (the property then keeps its value).
  virtual bool SetPropertyValue(std::string_view name, const Variant& value) = 0;
  // The string list of a Strings property, or null.
  virtual std::vector<std::string>* StringsProperty(std::string_view name) = 0;
};

// The option values with their defaults, as a plain record that can be copied whole.
struct TCfgOptionValues {
  int32_t Left = 839;
  int32_t Top = 242;
  int32_t Height = 420;
  int32_t Width = 464;
  std::string OpenDialog_FileName;
  int32_t OpenDialog_FilterIndex = 1;
  std::string SaveDialog_FileName;
  int32_t SaveDialog_FilterIndex = 1;
  std::string BegSign_Text;
  bool LeftTrim_Checked = false;
  bool RightTrim_Checked = false;
  std::string FmtDate_Text = "YYYY-MM-DD";
  std::string FmtTime_Text = "HH\":\"NN\":\"SS";
  std::string FmtDateTime_Text = "YYYY-MM-DD\"T\"HH\":\"NN\":\"SS";
  bool chkUseNowTime_Checked = false;
  bool chkUseNowDate_Checked = false;
  double spLocaleID_Value = 1033;
  std::string Filters_Hint;
  std::string lstJSON_Hint;
  double spSignTimeout_Value = 5000;
  double spMaxBlockSize_Value = 16384;
  bool chkAddNodeName_Checked = false;
  bool chkNameUpper_Checked = false;
  bool chkExpandArrays_Checked = false;
  double spDepth_Value = 0;
  std::vector<std::string> MapTransl0_Strings;
  std::vector<std::string> MapTransl1_Strings;
  std::vector<std::string> MapTransl2_Strings;
  int32_t comboTransDirection_Tag = 0;
  int32_t comboChar_Tag = 0;

  friend bool operator==(const TCfgOptionValues&, const TCfgOptionValues&) = default;
};

// Publishes the option values above as properties.
class TProxyCodeObject : public TProxyCodeCustomObject, public TCfgOptionValues {
public:
  const std::vector<TPublishedProperty>& PublishedProperties() const override;
  std::optional<Variant> GetPropertyValue(std::string_view name) const override;
  bool SetPropertyValue(std::string_view name, const Variant& value) override;
  std::vector<std::string>* StringsProperty(std::string_view name) override;

  const TCfgOptionValues& Values() const { return *this; }
};

} // namespace kestrel::parser
