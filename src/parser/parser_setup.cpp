#include "parser/parser_setup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel::parser {

namespace {

int64_t IntegerPart(double value) {
  if (std::isnan(value))
    return 0;
  const double truncated = std::trunc(value);
  if (truncated >= 9.2e18)
    return std::numeric_limits<int64_t>::max();
  if (truncated <= -9.2e18)
    return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(truncated);
}

int32_t ClampToInt32(int64_t value) {
  return value > std::numeric_limits<int32_t>::max()   ? std::numeric_limits<int32_t>::max()
         : value < std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::min()
                                                       : static_cast<int32_t>(value);
}

} // namespace

void TParserSetup::TakeOptions(const TCfgOptionValues& options) {
  StartNodeName = options.BegSign_Text;
  AddNodeName = options.chkAddNodeName_Checked;
  ExpandArrays = options.chkExpandArrays_Checked;
  UpperCaseNames = options.chkNameUpper_Checked;
  MaxDepth = ClampToInt32(IntegerPart(options.spDepth_Value));
  LeftTrim = options.LeftTrim_Checked;
  RightTrim = options.RightTrim_Checked;
  DateFormat = options.FmtDate_Text;
  TimeFormat = options.FmtTime_Text;
  DateTimeFormat = options.FmtDateTime_Text;
  UseCurrentTime = options.chkUseNowTime_Checked;
  UseCurrentDate = options.chkUseNowDate_Checked;
  const int64_t locale = IntegerPart(options.spLocaleID_Value);
  LocaleId = locale < 0 || locale > std::numeric_limits<uint32_t>::max()
                 ? 0
                 : static_cast<uint32_t>(locale);
  SignTimeout = IntegerPart(options.spSignTimeout_Value);
  const int64_t block = IntegerPart(options.spMaxBlockSize_Value);
  MaxBlockSize = block < 1 ? kDefaultMaxBlockSize
                           : static_cast<int32_t>(std::min<int64_t>(block, kLargestMaxBlockSize));
  ItemRulesText = options.lstJSON_Hint;
}

std::shared_ptr<const TParserSetup> TParserSetup::Defaults() {
  auto setup = std::make_shared<TParserSetup>();
  setup->TakeOptions(TCfgOptionValues{});
  setup->PacketTable = std::make_shared<TorvTranslationTable>();
  setup->StringTable = std::make_shared<TorvTranslationTable>();
  setup->RawTable = std::make_shared<TorvTranslationTable>();
  setup->ItemRules = std::make_shared<TParserItemList>();
  setup->RuleFormats = std::make_shared<TRuleFormatList>();
  setup->FilterRules = std::make_shared<TFilterItemList>();
  return setup;
}

const TRuleFormat* TParserSetup::FormatOf(const TParserItem& rule) const {
  if (!ItemRules || !RuleFormats || ItemRules->empty())
    return nullptr;
  // The rule the flattening found is an element of ItemRules.
  const TParserItem* first = ItemRules->data();
  if (&rule < first || &rule >= first + ItemRules->size())
    return nullptr;
  const auto index = static_cast<std::size_t>(&rule - first);
  if (index >= RuleFormats->size() || !(*RuleFormats)[index])
    return nullptr;
  return &*(*RuleFormats)[index];
}

} // namespace kestrel::parser
