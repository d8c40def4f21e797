// Module parameters read and set by name through GET-/SET-MODULE-PARAMETER.
#include "module_host.h"

#include "framework/module_parameters.h"
#include "platform/system.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

using testing::ModuleHost;

TEST(ModuleParameters, NamesIgnoreCaseExceptWhereTheyAreExact) {
  ModuleHost host(&CreateTorvPlugin);
  EXPECT_TRUE(host.Set("logtitle", Variant("Kestrel")));
  EXPECT_EQ(host.Get("LOGTITLE"), Variant("Kestrel"));
  EXPECT_TRUE(host.Set("ParserItems", Variant("Temperature|temp|Float|\r\nName|name|String|")));
  EXPECT_EQ(host.Get("parseritemscount"), Variant(2));
  EXPECT_EQ(host.Get("ParserItemName1"), Variant("name"));
  EXPECT_EQ(host.Get("ParserItemDesc0"), Variant("Temperature"));
  EXPECT_EQ(host.Get("ParserItemType0"), Variant(5));
  EXPECT_TRUE(host.Get("parseritemname0").IsEmpty()); // its prefix is compared exactly
  EXPECT_TRUE(host.Get("ParserItemName2").IsEmpty());
  EXPECT_TRUE(host.Get("ParserItemNamex").IsEmpty());
  EXPECT_EQ(host.Get("ParserItemName0xy"), Variant()); // characters 15..17 are the number

  EXPECT_TRUE(host.Get("NoSuchParameter").IsEmpty());
  EXPECT_FALSE(host.Set("NoSuchParameter", Variant(1)));
  EXPECT_FALSE(host.Set("ModuleLoadCount", Variant(3))); // read-only
  EXPECT_FALSE(host.Set("ModuleType", Variant("bits")));
  EXPECT_TRUE(host.Set("moduletype", Variant(0x102)));
  EXPECT_EQ(host.Get("ModuleType"), Variant(0x02));

  EXPECT_TRUE(host.Set("CustomCommands", Variant("RUN|a|b|1|0\r\nshort|x")));
  EXPECT_TRUE(host.Set("CustomCommands", Variant("STOP|c|d|0|1")));
  EXPECT_EQ(host.Get("customcommands"), Variant("RUN|a|b|1|0\r\nSTOP|c|d|0|1\r\n"));
  EXPECT_TRUE(host.Set("OWNER-FORM", Variant(77)));
  EXPECT_EQ(host.Get("owner-form"), Variant(77));
  EXPECT_EQ(host.Get("ModuleRegistryRoot1"), Variant::UInt8(2));
  EXPECT_EQ(host.Get("ModuleRegistryRoot2"), Variant::UInt8(1));
  // Handles are 32-bit values where they fit (always on 32-bit Windows), 64-bit otherwise.
  EXPECT_EQ(VariantToInt64(host.Get("ModulePluginHandle")),
            static_cast<int64_t>(host.Record().Instance));
  EXPECT_EQ(host.Get("IsTemporaryLoad"), Variant(true)); // created without parameters
  EXPECT_EQ(host.Get("TESTTRANSL"), Variant(false));
  // The module's own file; a library built without a version has none to show.
  EXPECT_FALSE(host.Get("ModuleName").IsEmpty());
  EXPECT_TRUE(host.Get("DisplayFullVersion").IsString());
}

// GetModuleInfo on one thread while commands rewrite what it reports on another: it reads
// them under the command lock, so it sees one text or the other, never a mixture.
TEST(ModuleParameters, ModuleInformationReadWhileCommandsChangeIt) {
  ModuleHost host(&CreateTorvPlugin);
  const std::string texts[] = {std::string(40, 'a'), std::string(300, 'b')};
  ASSERT_TRUE(host.Set("Description", Variant(texts[0])));
  std::atomic<bool> stop{false};
  std::atomic<int> changes{0};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      host.Set("Description", Variant(texts[i % 2]));
      host.Set("ModuleType", Variant(i % 2 ? 0x01 : 0x02));
      ++changes;
    }
  });
  std::vector<unsigned char> buffer(1024);
  auto* info = reinterpret_cast<TPluginModuleInfo*>(buffer.data());
  int mixed = 0;
  std::string last_mixed;
  // Reads go on until both texts were read, so the writer changed them meanwhile, however the
  // threads were scheduled. The deadline only ends a run in which that never happens.
  bool seen[2] = {false, false};
  int reads = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (changes.load() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  for (; reads < 2000 || !(seen[0] && seen[1]); ++reads) {
    if (reads % 100 == 0 && std::chrono::steady_clock::now() >= deadline)
      break;
    info->BufferSize = static_cast<uint32_t>(buffer.size());
    uint32_t needed = 0;
    EXPECT_EQ(GetModuleInfo(&host.Record(), info, &needed), 1);
    const std::string description(info->Description ? info->Description : "",
                                  info->DescriptionLength);
    if (description == texts[0] || description == texts[1]) {
      seen[description == texts[1]] = true;
    } else {
      ++mixed;
      last_mixed = description;
    }
  }
  stop = true;
  writer.join();
  EXPECT_EQ(mixed, 0) << last_mixed;
  EXPECT_TRUE(seen[0] && seen[1]) << "the description never changed during " << reads << " reads";
}

TEST(ModuleParameters, CustomStore) {
  ModuleHost host(&CreateTorvPlugin);
  EXPECT_EQ(host.Get("CustomCOUNT"), Variant(0));
  EXPECT_TRUE(host.Set("Custom:Colour", Variant("red")));
  EXPECT_TRUE(host.Set("Custom_size", Variant(3)));
  EXPECT_TRUE(host.Set("Custom colour", Variant("blue"))); // the same key: names ignore case
  EXPECT_EQ(host.Get("Custom:COUNT"), Variant(2));
  EXPECT_EQ(host.Get("Custom:0"), Variant("blue"));
  EXPECT_EQ(host.Get("Customsize"), Variant(3));
  EXPECT_TRUE(host.Get("Custom:7").IsNull());
  EXPECT_TRUE(host.Get("Custom:missing").IsNull());

  EXPECT_TRUE(host.Set("Custom:1", Variant(4))); // by index
  EXPECT_EQ(host.Get("Custom_size"), Variant(4));
  EXPECT_TRUE(host.Set("Custom:9", Variant(1))); // an index past the end changes nothing
  EXPECT_EQ(host.Get("CustomCOUNT"), Variant(2));

  // "Custom" alone, or in another case, is no Custom name.
  EXPECT_FALSE(host.Set("Custom", Variant(1)));
  EXPECT_FALSE(host.Set("custom:x", Variant(1)));
  EXPECT_TRUE(host.Get("Custom:").IsEmpty());

  EXPECT_TRUE(host.Set("CustomCOUNT", Variant("whatever")));
  EXPECT_EQ(host.Get("CustomCOUNT"), Variant(0));
}

TEST(ModuleParameters, DerivedPaths) {
  ModuleHost host(&CreateTorvPlugin);
  const std::string sep(1, platform::PathSeparator());
  const std::string common = platform::CommonAppDataFolder();
  ASSERT_EQ(host.Command("LOAD", {{"REGISTRY-PATH", Variant("Software\\Quillet\\Logger\\Con")},
                                  {"INI-SECTION-PREFIX", Variant("{Main:17}Settings")}}),
            0);
  EXPECT_EQ(host.Get("ModuleConfigId"), Variant("17"));
  EXPECT_EQ(host.Get("AppDataPath"), Variant(common + sep + "_Con" + sep)); // a device name
  EXPECT_TRUE(host.Set("Description", Variant("COM: <ports>\r\nsecond line")));
  EXPECT_EQ(host.Get("ModuleDataPath"),
            Variant(common + sep + "_Con" + sep + "17" + sep + "_COM- -ports-" + sep));

  // No description: the library's file name without its extension, in lower case.
  EXPECT_TRUE(host.Set("Description", Variant("")));
  const std::string name = VariantToAnsi(host.Get("ModuleName"));
  const std::string stem = platform::AnsiLowerCase(name.substr(0, name.rfind('.')));
  EXPECT_EQ(host.Get("ModuleDataPath"),
            Variant(common + sep + "_Con" + sep + "17" + sep + stem + sep));
}

TEST(ModuleParameters, SafeNamesAndConfigIds) {
  EXPECT_EQ(MakeSafeFileName("a\"b*c/d:e<f>g?h\\i|j", '-'), "a-b-c-d-e-f-g-h-i-j");
  EXPECT_EQ(MakeSafeFileName("con", ' '), "_con");
  EXPECT_EQ(MakeSafeFileName("Lpt1", ' '), "_Lpt1");
  EXPECT_EQ(MakeSafeFileName("console", ' '), "console");
  EXPECT_EQ(MakeSafeFileName("", ' '), "");
  EXPECT_EQ(ConfigIdFromSectionPrefix("{Main:17}Settings"), "17");
  EXPECT_EQ(ConfigIdFromSectionPrefix("{Main}Settings"), "Main");
  EXPECT_EQ(ConfigIdFromSectionPrefix("{Main:}x"), "Main:");
  EXPECT_EQ(ConfigIdFromSectionPrefix("Settings"), "");
  EXPECT_EQ(ConfigIdFromSectionPrefix("a}{b:c}"), "");
}

} // namespace
} // namespace kestrel
