// A host that gets things wrong: malformed records, addresses it no longer owns, descriptors
// whose kind does not match their payload, lists that are not lists, interfaces that fail every
// call. Each call must end with its documented code, never a crash, and the client whose call
// failed must go on parsing where it was.
#include "packet_call.h"
#include "pipeline_host.h"
#include "plugin_library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using kestrel::TorvParamsList;
using kestrel::Variant;
using kestrel::testing::PipelineHost;

// Addresses nothing is mapped at, on every supported system: the first page and the top page.
const uintptr_t kUnmapped[] = {0x10, ~uintptr_t{0} - 0xFFF};

// A list interface whose every method fails: HRESULTs and counts are E_UNEXPECTED, the rest
// 0 or nothing; out arguments are left alone.
template <class F> struct Fails;
template <class R, class... A> struct Fails<R(KESTREL_CALL*)(A...)> {
  static R KESTREL_CALL Call(A...) {
    if constexpr (!std::is_void_v<R>)
      return std::is_same_v<R, HRESULT> ? R(E_UNEXPECTED) : R(0);
  }
};
#define KESTREL_FAILS(slot) .slot = &Fails<decltype(IorvParamsListAVtbl::slot)>::Call
const IorvParamsListAVtbl kFailingTable = {
    KESTREL_FAILS(QueryInterface), KESTREL_FAILS(AddRef),       KESTREL_FAILS(Release),
    KESTREL_FAILS(GetCount),       KESTREL_FAILS(GetSignature), KESTREL_FAILS(GetTag),
    KESTREL_FAILS(SetTag),         KESTREL_FAILS(Clear),        KESTREL_FAILS(Delete),
    KESTREL_FAILS(FindRowEnd),     KESTREL_FAILS(AddNewRow),    KESTREL_FAILS(AppendRow),
    KESTREL_FAILS(GetItem),        KESTREL_FAILS(AppendList),   KESTREL_FAILS(AppendRange),
    KESTREL_FAILS(Find),           KESTREL_FAILS(IndexOf),      KESTREL_FAILS(GetValue),
    KESTREL_FAILS(GetValueDef),    KESTREL_FAILS(Add),          KESTREL_FAILS(Insert),
    KESTREL_FAILS(SetValue),       KESTREL_FAILS(AddItem)};
#undef KESTREL_FAILS

class HostileHost : public ::testing::Test {
protected:
  static void SetUpTestSuite() { library_ = new kestrel::testing::PluginLibrary; }
  static void TearDownTestSuite() { delete library_; }

  void SetUp() override {
    ASSERT_TRUE(library_->Loaded()) << library_->Error();
    std::memcpy(not_a_list_, &kUnmapped[0], sizeof(uintptr_t));
    host_ = std::make_unique<PipelineHost>(Entry());
    ASSERT_EQ(host_->Load("\\Software\\Kestrel\\Hostile"), 0);
    ASSERT_EQ(host_->SetState("1;COM1;Serial port 1", true), 0);
  }

  static const kestrel::testing::PluginEntryPoints& Entry() { return library_->Entry(); }

  // A well-formed ProcessData record for client 4 of data source 1, carrying no bytes.
  TPluginCallRec PacketRecord(TorvParamsList& params) const {
    TPluginCallRec rec = kestrel::testing::NewRecord(host_->Instance());
    rec.Params = &params;
    rec.DataSourceId = 1;
    rec.ClientId = 4;
    std::memcpy(rec.ClientName, "c", 2);
    rec.DataFlags = KESTREL_DATA_PACKET;
    return rec;
  }

  // Half a block is waiting in client 4's buffer; `calls` must leave it there.
  void ExpectClientUnharmedBy(const std::function<void()>& calls) {
    EXPECT_EQ(host_->Send(1, 4, "c", "{\"a\":").Rows(), 0);
    calls();
    EXPECT_EQ(host_->Send(1, 4, "c", "1}").All("a"), std::vector<Variant>{Variant(1)});
  }

  static kestrel::testing::PluginLibrary* library_;
  std::unique_ptr<PipelineHost> host_;
  IorvParamsListA failing_list_{&kFailingTable};
  IorvParamsListA* failing_ = &failing_list_; // a host's interface variable
  // No signature: its first word is read as an interface pointer, one that points nowhere.
  char not_a_list_[32] = {};
};

kestrel::testing::PluginLibrary* HostileHost::library_ = nullptr;

TEST_F(HostileHost, MalformedPacketRecordsGetTheirCodes) {
  TorvParamsList list;
  char closing[] = "2}"; // would complete the waiting block, were it ever taken
  const auto at = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
  struct Case {
    const char* what;
    void* params;
    TPluginCallData data;
    int32_t code;
    uint32_t size = sizeof(TPluginCallRec);
  };
  std::vector<Case> cases = {
      {"RecSize 0", &list, {}, KESTREL_RESULT_BAD_CALL, 0},
      {"RecSize short", &list, {}, KESTREL_RESULT_BAD_CALL, sizeof(TPluginCallRec) - 1},
      {"RecSize long", &list, {}, KESTREL_RESULT_BAD_CALL, sizeof(TPluginCallRec) + 1},
      {"no Params", nullptr, {}, KESTREL_RESULT_BAD_CALL},
      {"Params no list", not_a_list_, {}, KESTREL_RESULT_FAILED},
      {"failing Params", &failing_, {}, KESTREL_RESULT_OK}, // a packet needs no parameter
      {"bytes as kind 1", &list, {0, 2, KESTREL_KIND_LIST, at(closing)}, KESTREL_RESULT_OK},
      {"integer as bytes", &list, {0, 4, KESTREL_KIND_INTEGER, 1234}, KESTREL_RESULT_FAILED},
      {"release-all as bytes",
       &list,
       {0, 4, KESTREL_KIND_PACKET, KESTREL_RELEASE_ALL_PAYLOAD},
       KESTREL_RESULT_FAILED},
      {"past the end",
       &list,
       {0, 0xFFFFFFFFu, KESTREL_KIND_MEMORY, at(closing)},
       KESTREL_RESULT_FAILED},
  };
  for (const uintptr_t address : kUnmapped) {
    cases.push_back({"Params", reinterpret_cast<void*>(address), {}, KESTREL_RESULT_FAILED});
    cases.push_back(
        {"bytes", &list, {0, 100, KESTREL_KIND_MEMORY, address}, KESTREL_RESULT_FAILED});
    cases.push_back(
        {"kind 8", &list, {0, 0, KESTREL_KIND_LIST_UNCHECKED, address}, KESTREL_RESULT_OK});
    cases.push_back(
        {"kind 9", &list, {0, 0, KESTREL_KIND_INTERFACE, address}, KESTREL_RESULT_FAILED});
  }
  ExpectClientUnharmedBy([&] {
    for (const Case& c : cases) {
      TPluginCallRec rec = PacketRecord(list);
      rec.RecSize = c.size;
      rec.Params = c.params;
      rec.DataDesc = c.data;
      EXPECT_EQ(Entry().Process(&rec), c.code) << c.what << " " << c.data.Payload;
    }
  });
}

TEST_F(HostileHost, FailedDeliveriesLoseOnlyTheirOwnRows) {
  // Where the rows go, and how many lists the call says it delivered: the failing interface
  // was handed its rows (it refused them), the unmapped ones never had a list to take them.
  std::vector<std::pair<TPluginCallData, int32_t>> targets = {
      {{0, 0, KESTREL_KIND_INTERFACE, reinterpret_cast<uintptr_t>(&failing_)}, 1}};
  for (const uintptr_t address : kUnmapped) {
    targets.push_back({{0, 0, KESTREL_KIND_INTERFACE, address}, 0});
    targets.push_back({{0, 0, KESTREL_KIND_LIST_UNCHECKED, address}, 0});
  }
  for (const auto& [target, delivered] : targets) {
    // The block completed by a call whose rows cannot be delivered is lost; the next block,
    // half of which came in that call, is not.
    host_->Send(1, 4, "c", "{\"a\":");
    TorvParamsList params;
    kestrel::testing::PacketCall call(host_->Instance(), 0, 1, 4, "c", "1}{\"a\":");
    TPluginCallRec& rec = call.rec;
    rec.Params = &params;
    rec.ResultDesc = target;
    const int32_t code = Entry().Process(&rec);
    EXPECT_TRUE(code == KESTREL_RESULT_OK || code == KESTREL_RESULT_FAILED) << code;
    EXPECT_EQ(+rec.ResultDesc.Counter, delivered);
    EXPECT_EQ(host_->Send(1, 4, "c", "2}").All("a"), std::vector<Variant>{Variant(2)})
        << +target.Kind << " " << target.Payload;
  }
}

TEST_F(HostileHost, CommandsWithBrokenParameterListsFailCleanly) {
  IorvParamsListA* no_interface = nullptr;
  const std::vector<std::pair<void*, int32_t>> cases = {
      {not_a_list_, KESTREL_RESULT_FAILED},
      {&failing_, KESTREL_RESULT_FAILED},
      {&no_interface, KESTREL_RESULT_BAD_CALL},
  };
  ExpectClientUnharmedBy([&] {
    for (const auto& [params, code] : cases) {
      TPluginCallRec rec = kestrel::testing::NewRecord(host_->Instance());
      rec.Params = params;
      EXPECT_EQ(Entry().Execute(&rec), code);
      EXPECT_EQ(+rec.Params, params); // the record is the host's again
      EXPECT_EQ(+rec.CallFlags, 0);
    }
    // The instance still takes commands.
    EXPECT_EQ(host_->Items().size(), 7u);
  });
}

TEST_F(HostileHost, LogBuffersOfEverySize) {
  host_->WriteWithoutData();
  TorvParamsList params;
  TPluginCallRec rec = PacketRecord(params);
  auto collect = [&](void* buffer, uint32_t capacity) {
    rec.DataDesc = {0, capacity, KESTREL_KIND_MEMORY, reinterpret_cast<uintptr_t>(buffer)};
    rec.ResultDesc = {0, 0, 0, 0xABCD};
    return Entry().Log(&rec);
  };
  char probe;
  ASSERT_EQ(collect(&probe, 1), 0);
  const uint32_t needed = static_cast<uint32_t>(rec.ResultDesc.Payload);
  ASSERT_GT(needed, 1u);

  std::vector<char> buffer(needed + 1, '#');
  // Too small, no buffer, or one the host does not own: nothing copied, the log kept.
  for (const uint32_t capacity : {1u, needed - 1})
    EXPECT_EQ(collect(buffer.data(), capacity), 0) << capacity;
  EXPECT_EQ(collect(nullptr, needed), 0);
  for (const uintptr_t address : kUnmapped)
    EXPECT_EQ(collect(reinterpret_cast<void*>(address), needed), 0);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(needed + 1, '#'));
  EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_INTEGER);
  EXPECT_EQ(+rec.ResultDesc.Payload, needed);

  // Exactly the size needed: all of it, not a byte more.
  EXPECT_EQ(collect(buffer.data(), needed), static_cast<int32_t>(needed));
  EXPECT_EQ(buffer[needed], '#');
  EXPECT_NE(std::string(buffer.data(), needed).find("No data"), std::string::npos);
  EXPECT_EQ(collect(buffer.data(), needed), 0); // delivered once
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);

  // Capacity 0 discards the log.
  host_->WriteWithoutData();
  EXPECT_EQ(collect(buffer.data(), 0), 0);
  EXPECT_EQ(+rec.ResultDesc.Payload, needed);
  EXPECT_EQ(collect(buffer.data(), needed), 0);
  EXPECT_EQ(+rec.ResultDesc.Payload, 0u);
}

TEST_F(HostileHost, DialogBufferTheHostDoesNotOwn) {
  TorvParamsList params;
  for (const uintptr_t address : kUnmapped) {
    // The buffer is read for a form name and written with the package: neither may happen.
    TPluginCallRec rec = PacketRecord(params);
    rec.DataDesc = {0, 1u << 20, KESTREL_KIND_MEMORY, address};
    Entry().GetDialog(&rec);
    EXPECT_EQ(+rec.ResultDesc.Kind, KESTREL_KIND_INTEGER);
    EXPECT_EQ(+rec.ResultDesc.Payload, 3u); // as for a buffer too small
    EXPECT_GT(+rec.ResultDesc.Size, 24u);
  }
}

} // namespace
