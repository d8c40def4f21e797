// The options dialog as a host receives it from the built library: the package layout, the
// form stream read back with a reader of its own, and the script package inflated.
#include "pipeline_host.h"
#include "plugin_library.h"

#include "platform/messages.h"

#include <kestrel/kestrel.h>

#include <gtest/gtest.h>

#if KESTREL_TEST_ZLIB
#include <zlib.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace {

using kestrel::Variant;
using kestrel::testing::PipelineHost;
using kestrel::testing::PluginLibrary;

// ---- An independent reader of the binary form stream -------------------------------------

struct FormValue;
using FormList = std::vector<FormValue>;
struct FormIdent {
  std::string name;
  bool operator==(const FormIdent&) const = default;
};
using FormSet = std::vector<std::string>;
struct FormValue {
  std::variant<std::monostate, int64_t, double, std::string, FormIdent, bool, FormSet, FormList>
      value;
};

struct FormComponent {
  std::string class_name;
  std::string name;
  std::map<std::string, FormValue> properties;
  std::vector<FormComponent> children;
};

class FormStreamReader {
public:
  explicit FormStreamReader(std::string data) : data_(std::move(data)) {}

  FormComponent Read() {
    if (data_.compare(0, 4, "TPF0") != 0)
      throw std::runtime_error("no TPF0 signature");
    pos_ = 4;
    FormComponent root = Component();
    if (pos_ != data_.size())
      throw std::runtime_error("bytes after the root component");
    return root;
  }

private:
  uint8_t Byte() {
    if (pos_ >= data_.size())
      throw std::runtime_error("form stream ends early");
    return static_cast<uint8_t>(data_[pos_++]);
  }
  uint64_t Unsigned(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
      value |= uint64_t{Byte()} << (8 * i);
    return value;
  }
  std::string Bytes(std::size_t count) {
    if (pos_ + count > data_.size())
      throw std::runtime_error("form stream ends early");
    std::string text = data_.substr(pos_, count);
    pos_ += count;
    return text;
  }
  std::string Short() { return Bytes(Byte()); }

  FormComponent Component() {
    FormComponent component;
    if ((static_cast<uint8_t>(data_.at(pos_)) & 0xF0) == 0xF0)
      throw std::runtime_error("unexpected filer flags");
    component.class_name = Short();
    component.name = Short();
    for (std::string name = Short(); !name.empty(); name = Short())
      component.properties[name] = Value();
    while (data_.at(pos_) != 0)
      component.children.push_back(Component());
    ++pos_;
    return component;
  }

  FormValue Value() {
    switch (const uint8_t type = Byte()) {
    case 1: { // list
      FormList list;
      while (data_.at(pos_) != 0)
        list.push_back(Value());
      ++pos_;
      return {list};
    }
    case 2:
      return {static_cast<int64_t>(static_cast<int8_t>(Unsigned(1)))};
    case 3:
      return {static_cast<int64_t>(static_cast<int16_t>(Unsigned(2)))};
    case 4:
      return {static_cast<int64_t>(static_cast<int32_t>(Unsigned(4)))};
    case 5: { // 80-bit extended
      const uint64_t mantissa = Unsigned(8);
      const auto top = static_cast<uint16_t>(Unsigned(2));
      double value = mantissa == 0 ? 0.0
                                   : std::ldexp(static_cast<double>(mantissa),
                                                static_cast<int>(top & 0x7FFF) - 16383 - 63);
      return {(top & 0x8000) ? -value : value};
    }
    case 6:
      return {Short()};
    case 7:
      return {FormIdent{Short()}};
    case 8:
      return {false};
    case 9:
      return {true};
    case 11: {
      FormSet set;
      for (std::string name = Short(); !name.empty(); name = Short())
        set.push_back(name);
      return {set};
    }
    case 12:
    case 20:
      return {Bytes(static_cast<std::size_t>(Unsigned(4)))};
    case 13:
      return {};
    default:
      throw std::runtime_error("value type " + std::to_string(type) + " not expected here");
    }
  }

  std::string data_;
  std::size_t pos_ = 0;
};

const FormComponent* FindComponent(const FormComponent& in, const std::string& name) {
  if (in.name == name)
    return &in;
  for (const FormComponent& child : in.children)
    if (const FormComponent* found = FindComponent(child, name))
      return found;
  return nullptr;
}

std::string Text(const FormComponent& c, const std::string& property) {
  const auto found = c.properties.find(property);
  if (found == c.properties.end() || !std::holds_alternative<std::string>(found->second.value))
    return "<none>";
  return std::get<std::string>(found->second.value);
}
double Number(const FormComponent& c, const std::string& property) {
  const auto found = c.properties.find(property);
  if (found == c.properties.end())
    return 0; // the streamed default
  if (const auto* integer = std::get_if<int64_t>(&found->second.value))
    return static_cast<double>(*integer);
  return std::get<double>(found->second.value);
}
std::vector<std::string> Lines(const FormComponent& c, const std::string& property) {
  std::vector<std::string> lines;
  for (const FormValue& item : std::get<FormList>(c.properties.at(property).value))
    lines.push_back(std::get<std::string>(item.value));
  return lines;
}

// ---- The library, loaded as a host loads it ---------------------------------------------------

class OptionsDialog : public ::testing::Test {
protected:
  void SetUp() override {
    library_ = std::make_unique<PluginLibrary>();
    ASSERT_TRUE(library_->Loaded()) << library_->Error();
    host_ = std::make_unique<PipelineHost>(library_->Entry(), 1);
    ASSERT_TRUE(host_->Created());
  }
  void TearDown() override {
    host_.reset();
    library_.reset();
  }
  const kestrel::testing::PluginEntryPoints& Entry() const { return library_->Entry(); }
  // GetOptionsDialog with a buffer of `capacity` bytes; the buffer is kept in buffer_.
  TPluginCallRec GetDialog(std::size_t capacity, const std::string& requested = "") {
    buffer_.assign(capacity, '\0');
    std::memcpy(buffer_.data(), requested.data(), std::min(capacity, requested.size()));
    return host_->OptionsDialog(buffer_);
  }
  uint32_t Header(std::size_t field) const {
    uint32_t value = 0;
    std::memcpy(&value, buffer_.data() + 4 * field, 4); // little-endian targets only
    return value;
  }
  std::string Block(std::size_t index) const {
    return std::string(buffer_.data() + Header(2 * index), Header(2 * index + 1));
  }
  // The whole package, fetched the way a host does: ask, then retry with the size needed.
  void FetchPackage(const std::string& requested = "") {
    const TPluginCallRec probe = GetDialog(requested.size() + 1, requested);
    ASSERT_EQ(+probe.ResultDesc.Payload, 3u);
    const uint32_t total = probe.ResultDesc.Size;
    const TPluginCallRec rec = GetDialog(total, requested);
    ASSERT_EQ(+rec.ResultDesc.Payload, total);
    ASSERT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_BYTES_WRITTEN);
  }
  // LOAD with the shared registry path and the host's window.
  static int32_t Load(PipelineHost& host, kestrel::platform::HWND window) {
    return host.Command(
        "LOAD",
        {{"REGISTRY-PATH", Variant("\\Software\\Kestrel\\DialogTest")},
         {"MSG-PROC-HANDLE", Variant(static_cast<int64_t>(reinterpret_cast<uintptr_t>(window)))}});
  }

  std::unique_ptr<PluginLibrary> library_;
  std::unique_ptr<PipelineHost> host_;
  std::vector<char> buffer_;
};

TEST_F(OptionsDialog, PackageLayoutAndBufferSizes) {
  FetchPackage();
  const uint32_t total = static_cast<uint32_t>(buffer_.size());
  EXPECT_EQ(Header(0), 24u);
  EXPECT_EQ(Header(2), 24u + Header(1));
  EXPECT_EQ(Header(3), 0u); // no extra text
  EXPECT_EQ(Header(4), Header(2) + Header(3));
  EXPECT_EQ(Header(4) + Header(5), total);
  EXPECT_EQ(Block(0).substr(0, 4), "TPF0");
  EXPECT_EQ(Block(2).substr(0, 2), "\x1f\x8b"); // delivered still compressed
  const std::string form = Block(0);

  // One byte short: the size needed again, nothing written.
  TPluginCallRec rec = GetDialog(total - 1);
  EXPECT_EQ(+rec.ResultDesc.Payload, 3u);
  EXPECT_EQ(+rec.ResultDesc.Size, total);
  EXPECT_EQ(buffer_[0], 0);

  // The form by name, in any case: the same form, and no "TFRMOPTION_CODE" script.
  FetchPackage("tfrmOption");
  EXPECT_EQ(Block(0), form);
  EXPECT_EQ(Header(5), 0u);
  EXPECT_EQ(buffer_.size(), 24u + form.size());

  rec = GetDialog(4096, "NOSUCHFORM");
  EXPECT_EQ(+rec.ResultDesc.Payload, 2u);
  rec.Instance = 0;
  Entry().GetDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 1u);
}

TEST_F(OptionsDialog, FormStreamHoldsEveryControlWithItsTexts) {
  FetchPackage();
  const FormComponent form = FormStreamReader(Block(0)).Read();
  EXPECT_EQ(form.class_name, "TfrmOption");
  EXPECT_EQ(form.name, "frmOption");
  EXPECT_EQ(Text(form, "Caption"), "Data block parser");
  EXPECT_EQ(Number(form, "Width"), 344);
  EXPECT_EQ(Number(form, "Height"), 420);

  struct Expected {
    const char* name;
    const char* class_name;
    const char* property; // a text property and its value, or nullptr
    const char* value;
  };
  const Expected controls[] = {
      {"BegSign", "TEdit", "Hint", "Empty - all data"},
      {"lblBegSign", "TLabel", "Caption", "Root object name"},
      {"spSignTimeout", "TJvSpinEdit", "Hint", "0 - unlimited"},
      {"lblSignTimeout", "TLabel", "Caption", "Timeout (ms)"},
      {"spDepth", "TJvSpinEdit", "Hint", "0 - unlimited"},
      {"lblDepth", "TLabel", "Caption", "Max depth"},
      {"chkAddNodeName", "TCheckBox", "Caption", "Add parent name to value name"},
      {"chkNameUpper", "TCheckBox", "Caption", "Export names in upper case"},
      {"pnlJSON", "TPanel", nullptr, nullptr},
      {"lblTransDirection", "TLabel", "Caption", "Type"},
      {"comboTransDirection", "TComboBox", "Text", "Data packet"},
      {"chkRemoveBelow32", "TCheckBox", "Caption", "Remove all below ASCII 32"},
      {"chkRemoveAbove127", "TCheckBox", "Caption", "Remove all above ASCII 127"},
      {"rgCharReg", "TRadioGroup", "Caption", "Convert all characters"},
      {"comboChar", "TComboBox", nullptr, nullptr},
      {"rgTransMode", "TRadioGroup", nullptr, nullptr},
      {"comboTransChar", "TComboBox", nullptr, nullptr},
      {"edtTransStr", "TEdit", nullptr, nullptr},
      {"lblTranslations", "TLabel", "Caption", "Current translations"},
      {"lbTranslations", "TListBox", nullptr, nullptr},
      {"btnClearTransl", "TButton", "Caption", "Clear"},
      {"gbFilters", "TGroupBox", "Caption", "Filter rules (data packets level)"},
      {"LeftTrim", "TCheckBox", "Caption", "Trim spaces from left"},
      {"RightTrim", "TCheckBox", "Caption", "Trim spaces from right"},
      {"FmtDate", "TEdit", "Text", "YYYY-MM-DD"},
      {"lblFmtDate", "TLabel", "Caption", "Date items"},
      {"FmtTime", "TEdit", "Text", "HH\":\"NN\":\"SS"},
      {"lblFmtTime", "TLabel", "Caption", "Time items"},
      {"FmtDateTime", "TEdit", "Text", "YYYY-MM-DD\"T\"HH\":\"NN\":\"SS"},
      {"lblFmtDateTime", "TLabel", "Caption", "DateTime items"},
      {"chkUseNowTime", "TCheckBox", "Caption", "Use current time for missing parts of time"},
      {"chkUseNowDate", "TCheckBox", "Caption", "Use current date for missing parts of date"},
      {"lblLocaleID", "TLabel", "Caption", "Locale/language ID"},
      {"lblLocaleNote", "TLabel", "Caption", "Default value: 0x409 - English language"},
      {"btnPreset", "TButton", "Caption", "Load && Save"},
      {"OpenDialog", "TOpenDialog", nullptr, nullptr},
      {"SaveDialog", "TSaveDialog", nullptr, nullptr},
      {"MapTransl0", "TorvStrHolder", nullptr, nullptr},
      {"MapTransl1", "TorvStrHolder", nullptr, nullptr},
      {"MapTransl2", "TorvStrHolder", nullptr, nullptr},
      {"popupPreset", "TPopupMenu", nullptr, nullptr},
      {"miLoadPreset", "TMenuItem", "Caption", "Load preset"},
      {"miSeparator", "TMenuItem", "Caption", "-"},
      {"miSavePreset", "TMenuItem", "Caption", "Save preset"},
      {"miPresets", "TMenuItem", "Caption", "Presets"},
      {"miAllFiles", "TMenuItem", "Caption", "All files"},
  };
  for (const Expected& expected : controls) {
    SCOPED_TRACE(expected.name);
    const FormComponent* control = FindComponent(form, expected.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->class_name, expected.class_name);
    if (expected.property) {
      EXPECT_EQ(Text(*control, expected.property), expected.value);
    }
  }

  const auto& at = [&](const char* name) -> const FormComponent& {
    return *FindComponent(form, name);
  };
  EXPECT_EQ(Number(at("spSignTimeout"), "MinValue"), 0);
  EXPECT_EQ(Number(at("spSignTimeout"), "MaxValue"), 65535);
  EXPECT_EQ(Number(at("spSignTimeout"), "Value"), 5000);
  EXPECT_EQ(Number(at("spDepth"), "MaxValue"), 65535);
  EXPECT_EQ(Number(at("spDepth"), "Value"), 0);
  EXPECT_EQ(Number(at("spLocaleID"), "MinValue"), 1);
  EXPECT_EQ(Number(at("spLocaleID"), "MaxValue"), 30000);
  EXPECT_EQ(Number(at("spLocaleID"), "Value"), 1033);
  EXPECT_EQ(Lines(at("comboTransDirection"), "Items.Strings"),
            (std::vector<std::string>{"Data packet", "String variables", "RAW data"}));
  EXPECT_EQ(Lines(at("rgCharReg"), "Items.Strings"),
            (std::vector<std::string>{"None", "Uppercase", "Lowercase"}));
  EXPECT_EQ(Lines(at("rgTransMode"), "Items.Strings"),
            (std::vector<std::string>{"Keep character", "Remove character",
                                      "Replace with character", "Replace with string"}));
  EXPECT_TRUE(std::get<bool>(at("miPresets").properties.at("Visible").value) == false);
  EXPECT_TRUE(std::get<bool>(at("miAllFiles").properties.at("Visible").value) == false);
  EXPECT_EQ(std::get<FormIdent>(at("btnPreset").properties.at("DropDownMenu").value).name,
            "popupPreset");

  // Settings the host's translator must not touch: 9999 keeps a component out of translation,
  // 10016 keeps the start string's text and translates its caption and hint.
  for (const char* name :
       {"FmtDate", "FmtTime", "FmtDateTime", "MapTransl0", "MapTransl1", "MapTransl2", "DataTypes"})
    EXPECT_EQ(Number(at(name), "Tag"), 9999) << name;
  EXPECT_EQ(Number(at("BegSign"), "Tag"), 10016);

  // The data types holder: encoding version 2, an empty key, then each line as hexadecimal.
  const FormComponent& types = at("DataTypes");
  EXPECT_EQ(Number(types, "InternalVer"), 2);
  std::vector<std::string> lines = Lines(types, "StrData");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "");
  std::vector<std::string> decoded;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string line;
    for (std::size_t j = 0; j + 1 < lines[i].size(); j += 2)
      line += static_cast<char>(std::stoi(lines[i].substr(j, 2), nullptr, 16));
    decoded.push_back(line);
  }
  EXPECT_EQ(decoded, (std::vector<std::string>{"String", "Smallint", "Integer", "Word", "Boolean",
                                               "Float", "Currency", "Date", "Time", "DateTime"}));
}

#if KESTREL_TEST_ZLIB
TEST_F(OptionsDialog, ScriptPackageInflatesToTheThreeSections) {
  FetchPackage();
  const std::string member = Block(2);
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  ASSERT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
  gz_header header;
  std::memset(&header, 0, sizeof(header));
  char name[16] = {};
  header.name = reinterpret_cast<Bytef*>(name);
  header.name_max = sizeof(name);
  inflateGetHeader(&stream, &header);
  std::string text(1 << 20, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  stream.avail_in = static_cast<uInt>(member.size());
  stream.next_out = reinterpret_cast<Bytef*>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  ASSERT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u); // one member, nothing after it
  text.resize(stream.total_out);
  inflateEnd(&stream);
  EXPECT_STREQ(name, "1");

  const std::string separator = "\r\n\r\n<=======>\r\n\r\n";
  const std::size_t first = text.find(separator);
  ASSERT_NE(first, std::string::npos);
  const std::size_t second = text.find(separator, first + separator.size());
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.find(separator, second + separator.size()), std::string::npos);
  const std::string script = text.substr(0, first);
  EXPECT_EQ(text.substr(first + separator.size(), second - first - separator.size()), "TFRMOPTION");
  const std::string map = text.substr(second + separator.size());
  EXPECT_EQ(map.substr(0, 30), "Left,Left\r\nTop,Top\r\nHeight,Hei");
  EXPECT_NE(map.find("\r\n;---short---\r\n"), std::string::npos);
  EXPECT_NE(map.find("\r\nspDepth.Value,Max depth\r\n\r\nMapTransl0.Strings,Translation\\Map0\r\n"),
            std::string::npos);
  EXPECT_EQ(map.substr(map.size() - 9), "\r\n \r\n \r\n ");
  EXPECT_EQ(map.find('\n', 0) - 1, map.find('\r', 0)); // CR LF, never a bare LF

  // The syntax tree: a program with the form's handlers, every element with its position.
  ASSERT_EQ(script.rfind("<?xml", 0), 0u);
  EXPECT_NE(script.find("<program pos=\""), std::string::npos);
  std::vector<std::string> tags; // every opening or empty element's tag
  for (std::size_t at = script.find('<', 1); at != std::string::npos; at = script.find('<', at + 1))
    if (script[at + 1] >= 'a' && script[at + 1] <= 'z')
      tags.push_back(script.substr(at, script.find('>', at) - at + 1));
  EXPECT_GT(tags.size(), 500u);
  for (const std::string& tag : tags) {
    const std::size_t pos = tag.find(" pos=\"");
    ASSERT_NE(pos, std::string::npos) << tag;
    unsigned line = 0;
    unsigned column = 0;
    char quote = 0;
    EXPECT_EQ(std::sscanf(tag.c_str() + pos, " pos=\"%u:%u%c", &line, &column, &quote), 3) << tag;
    EXPECT_TRUE(line > 0 && column > 0 && quote == '"') << tag;
  }
  for (const char* handler : {"frmOptionCreate", "btnOKClick", "comboTransDirectionChange",
                              "CharRuleChange", "popupPresetPopup", "miLoadPresetClick"}) {
    const std::string name = std::string(" name=\"") + handler + "\"";
    EXPECT_TRUE(std::any_of(tags.begin(), tags.end(), [&](const std::string& tag) {
      return tag.rfind("<procedure ", 0) == 0 && tag.find(name) != std::string::npos;
    })) << handler;
  }
}
#endif

TEST_F(OptionsDialog, ShowWithAnUnreadableRecordIsAFailureNotAMissingInstance) {
  TPluginCallRec rec = kestrel::testing::NewRecord(host_->Instance());
  rec.Params = reinterpret_cast<void*>(0x10);
  Entry().ShowDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);
  EXPECT_EQ(+rec.Params, reinterpret_cast<void*>(0x10));
  EXPECT_NE(host_->Log().find("{SHOWOPTIONS} "), std::string::npos);
}

// The host's message window: the reload requests it receives, by module index.
struct ReloadWindow {
  static kestrel::platform::LRESULT Proc(kestrel::platform::HWND window, unsigned message,
                                         kestrel::platform::WPARAM wparam,
                                         kestrel::platform::LPARAM) {
    auto* self = static_cast<ReloadWindow*>(kestrel::platform::WindowUserData(window));
    if (self && message == KESTREL_MSG_RELOAD_SETTINGS)
      self->reloads.push_back(wparam);
    return 0;
  }
  ReloadWindow() : handle(kestrel::platform::CreateMessageWindow(&Proc, this)) {}
  ~ReloadWindow() { kestrel::platform::DestroyMessageWindow(handle); }
  const std::vector<uintptr_t>& Pump() {
    kestrel::platform::Message message;
    while (kestrel::platform::PeekWindowMessage(&message, nullptr, kestrel::platform::kPmRemove))
      kestrel::platform::DispatchWindowMessage(&message);
    return reloads;
  }
  kestrel::platform::HWND handle;
  std::vector<uintptr_t> reloads;
};

TEST_F(OptionsDialog, ConfirmedDialogReachesAnInstanceOfAnotherThreadThroughItsHost) {
  ReloadWindow window;
  ASSERT_EQ(Load(*host_, window.handle), 0);
  PipelineHost other(Entry(), 2);
  ASSERT_TRUE(other.Created());
  std::thread loader([&] { EXPECT_EQ(Load(other, window.handle), 0); });
  loader.join();

  EXPECT_EQ(host_->ShowOptionsDialog(), 1u);
  // This thread's instance reloaded in the call; the other one is asked through its window.
  EXPECT_EQ(window.Pump(), std::vector<uintptr_t>{2});
  EXPECT_EQ(other.Free(), 0);
}

} // namespace
