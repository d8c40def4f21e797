// The package GetOptionsDialog writes, built from resources handed in by name.
#include "framework/options_dialog_package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::options_dialog {
namespace {

const std::map<std::string, std::string> kResources = {
    {"FORM_DATA", "gzip-bytes"},
    {"FORM_NAME", "tfrmOption"}, // upper-cased before the lookup
    {"TFRMOPTION", std::string("TPF0\0form", 9)},
    {"OTHER", "other form"},
    {"OTHER_CODE", "other code"},
};

std::optional<std::string_view> Find(std::string_view name) {
  const auto found = kResources.find(std::string(name));
  if (found == kResources.end())
    return std::nullopt;
  return std::string_view(found->second);
}

uint32_t At(const std::vector<char>& buffer, std::size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<uint8_t>(buffer[offset + static_cast<std::size_t>(i)]);
  return value;
}

class OptionsDialogPackage : public ::testing::Test {
protected:
  // Runs a delivery into a buffer of `capacity` bytes that starts with `requested`.
  void Deliver(std::size_t capacity, const std::string& requested = "") {
    buffer.assign(capacity, '\x7f');
    std::memcpy(buffer.data(), requested.data(), std::min(requested.size(), capacity));
    if (requested.size() < capacity)
      buffer[requested.size()] = '\0';
    std::memset(&rec, 0, sizeof(rec));
    rec.DataDesc.Size = static_cast<uint32_t>(capacity);
    rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(buffer.data());
    rec.ResultDesc.Kind = KESTREL_KIND_INTEGER;
    rec.ResultDesc.Payload = kDialogNoInstance;
    DeliverOptionsDialog(module, &rec, &Find);
  }
  std::string Block(int index) const {
    const uint32_t offset = At(buffer, 8 * static_cast<std::size_t>(index));
    return std::string(buffer.data() + offset, At(buffer, 8 * static_cast<std::size_t>(index) + 4));
  }

  TorvPlugin module{nullptr};
  TPluginCallRec rec{};
  std::vector<char> buffer;
};

TEST_F(OptionsDialogPackage, ExactFitDeliversHeaderAndBlocksOneByteLessAsksForMore) {
  const uint32_t total = 24 + 9 + 0 + 10;
  Deliver(total);
  ASSERT_EQ(+rec.ResultDesc.Payload, total);
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_BYTES_WRITTEN);
  EXPECT_EQ(+rec.ResultDesc.Size, 0u);
  EXPECT_EQ(At(buffer, 0), 24u);
  EXPECT_EQ(At(buffer, 4), 9u);
  EXPECT_EQ(At(buffer, 8), 33u);
  EXPECT_EQ(At(buffer, 12), 0u);
  EXPECT_EQ(At(buffer, 16), 33u);
  EXPECT_EQ(At(buffer, 20), 10u);
  EXPECT_EQ(Block(0), std::string("TPF0\0form", 9));
  EXPECT_EQ(Block(2), "gzip-bytes");

  Deliver(total - 1);
  EXPECT_EQ(+rec.ResultDesc.Payload, kDialogBufferTooSmall);
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_INTEGER);
  EXPECT_EQ(+rec.ResultDesc.Size, total);
  EXPECT_EQ(buffer[0], '\0'); // nothing written
  EXPECT_EQ(buffer[1], '\x7f');
}

TEST_F(OptionsDialogPackage, RequestedNamesAreLookedUpInUpperCaseWithTheirCode) {
  Deliver(256, "other");
  ASSERT_EQ(+rec.ResultDesc.Payload, 24u + 10 + 10);
  EXPECT_EQ(Block(0), "other form");
  EXPECT_EQ(Block(2), "other code");

  // The form by its own name: no "TFRMOPTION_CODE", so no script package.
  Deliver(256, "tfrmoption");
  ASSERT_EQ(+rec.ResultDesc.Payload, 24u + 9);
  EXPECT_EQ(Block(0), std::string("TPF0\0form", 9));
  EXPECT_EQ(At(buffer, 20), 0u);
  EXPECT_EQ(At(buffer, 16), 33u);

  // A name that fills the whole buffer (no terminator) is still read.
  Deliver(5, "OTHER");
  EXPECT_EQ(+rec.ResultDesc.Payload, kDialogBufferTooSmall);
  EXPECT_EQ(+rec.ResultDesc.Size, 44u);

  Deliver(256, "missing");
  EXPECT_EQ(+rec.ResultDesc.Payload, kDialogNothingToDeliver);
}

TEST_F(OptionsDialogPackage, TheModuleEventNamesTheFormAndAddsItsText) {
  std::string seen;
  module.OnGetOptionsDialog = [&](TorvPlugin&, TPluginCallRec*, std::string& form,
                                  std::string& extra) {
    seen = "asked";
    form = "Other";
    extra = "extra!";
  };
  Deliver(256);
  EXPECT_EQ(seen, "asked");
  ASSERT_EQ(+rec.ResultDesc.Payload, 24u + 10 + 6 + 10);
  EXPECT_EQ(Block(0), "other form");
  EXPECT_EQ(Block(1), "extra!");
  EXPECT_EQ(Block(2), "other code");

  // A requested name passes the event by.
  seen.clear();
  Deliver(256, "OTHER");
  EXPECT_EQ(seen, "");

  module.OnGetOptionsDialog = [](TorvPlugin&, TPluginCallRec*, std::string&, std::string&) {};
  Deliver(256);
  EXPECT_EQ(+rec.ResultDesc.Payload, kDialogNothingToDeliver);

  // A failing event is the module's failure, logged; the instance is not reported missing.
  module.OnGetOptionsDialog = [](TorvPlugin&, TPluginCallRec*, std::string&, std::string&) {
    throw std::runtime_error("no form today");
  };
  Deliver(256);
  EXPECT_EQ(+rec.ResultDesc.Payload, kDialogNothingToDeliver);
  std::vector<char> log(256);
  uint32_t length = 0;
  const uint32_t copied = module.Log().Collect(log.data(), 256, length);
  EXPECT_EQ(std::string(log.data(), copied), "\x01{GETOPTIONS} no form today\r\n");
}

TEST_F(OptionsDialogPackage, MissingResourcesGiveEmptyBlocks) {
  const auto none = [](std::string_view) { return std::optional<std::string_view>(); };
  const TOptionsDialogBlocks blocks = SelectBlocks(none, "");
  EXPECT_TRUE(blocks.Form.empty());
  EXPECT_TRUE(blocks.Code.empty());
  // The form name resource names a form that is not there: only the script package.
  const auto only_code = [](std::string_view name) -> std::optional<std::string_view> {
    if (name == "FORM_DATA")
      return "code";
    if (name == "FORM_NAME")
      return "NOFORM";
    return std::nullopt;
  };
  const TOptionsDialogBlocks partial = SelectBlocks(only_code, "");
  EXPECT_TRUE(partial.Form.empty());
  EXPECT_EQ(partial.Code, "code");
  EXPECT_EQ(partial.PackedSize(), 28u);
}

} // namespace
} // namespace kestrel::options_dialog
