// Expression filters on received data run on the host's packet thread, whose stack may be
// small: a pattern that backtracks deeply over a long block must not overflow it.
#include "fake_parser_module.h"
#include "parser/block_processing.h"
#include "parser/data_source_cfg.h"
#include "parser/serial_port_dm.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <functional>

namespace {

using namespace kestrel;
using namespace kestrel::parser;
using kestrel::testing::FakeParserModule;

// Runs `work` on a thread with a stack of `bytes`.
void RunOnSmallStack(std::size_t bytes, std::function<void()> work) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* arg) -> void* {
                  (*static_cast<std::function<void()>*>(arg))();
                  return nullptr;
                },
                &work),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

TEST(ExpressionFilter, DeepBacktrackingOnASmallStackCountsAsNotFound) {
  FakeParserModule module;
  TDataSourceCfg cfg;
  cfg.Filters_Hint = "1||1||\"m\":\"(a|b)*z||0"; // drop the block when found
  cfg.ApplySettings(TDataSourceCfg::kApplyAll);
  TSerialPortDM dm(module, 1, "COM1", "Serial COM1");
  const auto setup = cfg.Setup();

  std::vector<int> rows;
  RunOnSmallStack(256 * 1024, [&] {
    for (const std::string& body :
         {"\"m\":\"" + std::string(8000, 'a') + "\"", "\"m\":\"" + std::string(9000, 'b') + "\"",
          std::string("\"m\":\"abz\"")}) {
      TPacketInfo packet;
      packet.ClientId = 3;
      TKestrelClient client(nullptr, packet);
      client.OpenText.assign(1, '{');
      client.CloseText.assign(1, '}');
      TParsedDataList list;
      ProcessBlock(dm, client, body, list, *setup);
      rows.push_back(list.Count() > 0 ? 1 : 0);
    }
  });
  // The long blocks are not found (kept); a short one that matches is still dropped.
  EXPECT_EQ(rows, (std::vector<int>{1, 1, 0}));
  const auto log = module.Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.starts_with("0:") &&
                                   line.find("match limit") != std::string::npos;
                          }),
            1)
      << ::testing::PrintToString(log);
}

} // namespace
