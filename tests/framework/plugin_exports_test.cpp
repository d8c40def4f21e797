// ShowOptionsDialog through the export, with a module of the test's own.
#include "module_host.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestrel {
namespace {

using testing::ModuleHost;

std::unique_ptr<TorvPlugin> CreatePlain(TPluginCallRec* rec) {
  return CreateModule<TorvPlugin>(rec);
}

TEST(ShowOptionsDialog, TakesTheHostParametersAndMarksTheModuleForTheHandlerOnly) {
  ModuleHost host(&CreatePlain);
  TorvPlugin& module = host.Module();
  ASSERT_EQ(host.Command("LOAD", {{"INI-FILE", Variant("old.ini")}}), 0);

  struct Seen {
    bool in_dialog = false;
    uint8_t flags = 0;
    IorvParamsListA* list = nullptr;
    std::string ini;
    uintptr_t owner = 0;
  } seen;
  module.OnShowOptionsDialog = [&](TorvPlugin& sender, TPluginCallRec* rec, bool& handled) {
    EXPECT_EQ(+rec->ResultDesc.Payload, uintptr_t{KESTREL_DIALOG_RUNNING});
    seen = {sender.InOptionsDialog.load(), sender.DialogDataFlags.load(), sender.DialogList.load(),
            sender.INIFile, sender.OwnerForm};
    handled = false;
  };
  TorvParamsList params;
  params.Add("INI-FILE", Variant("new.ini"));
  params.Add("OWNER-FORM", Variant(int64_t{0x1234}));
  TorvParamsList data;
  TPluginCallRec rec = host.Record();
  rec.Params = &params;
  rec.DataFlags = 0x21;
  rec.DataDesc.Kind = KESTREL_KIND_LIST;
  rec.DataDesc.Payload = reinterpret_cast<uintptr_t>(&data);
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u); // not handled
  EXPECT_EQ(+rec.ResultDesc.Size, 4u);
  EXPECT_TRUE(seen.in_dialog);
  EXPECT_EQ(seen.flags, 0x21);
  EXPECT_NE(seen.list, nullptr);
  EXPECT_EQ(seen.ini, "new.ini");
  EXPECT_EQ(seen.owner, 0x1234u);
  // All of it ends with the call; the record is the host's again.
  EXPECT_FALSE(module.InOptionsDialog.load());
  EXPECT_EQ(module.DialogDataFlags.load(), 0);
  EXPECT_EQ(module.DialogList.load(), nullptr);
  EXPECT_EQ(+rec.DataDesc.Kind, KESTREL_KIND_LIST);

  // Without "INI-FILE" the module goes back to the registry; the owner form stays.
  TorvParamsList empty;
  rec.Params = &empty;
  ShowOptionsDialog(&rec);
  EXPECT_EQ(module.INIFile, "");
  EXPECT_EQ(module.OwnerForm, 0x1234u);
}

TEST(ShowOptionsDialog, AFailingHandlerOrRecordIsLoggedAndReportedAsNotHandled) {
  ModuleHost host(&CreatePlain);
  TorvPlugin& module = host.Module();
  TPluginCallRec rec = host.Record();
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, uintptr_t{KESTREL_DIALOG_NO_HANDLER});

  module.OnShowOptionsDialog = [](TorvPlugin&, TPluginCallRec*, bool& handled) {
    handled = true;
    throw std::runtime_error("dialog broke");
  };
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);
  EXPECT_EQ(host.CollectLog(), "\x01"
                               "dialog broke {SHOWOPTIONS}\r\n");
  EXPECT_FALSE(module.InOptionsDialog.load());

  // A parameter list that cannot be read: the live instance reports a failure, not "none".
  module.OnShowOptionsDialog = [](TorvPlugin&, TPluginCallRec*, bool& handled) { handled = true; };
  rec.Params = reinterpret_cast<void*>(0x10);
  ShowOptionsDialog(&rec);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);
  EXPECT_EQ(host.CollectLog().rfind("\x01{SHOWOPTIONS} ", 0), 0u);
}

} // namespace
} // namespace kestrel
