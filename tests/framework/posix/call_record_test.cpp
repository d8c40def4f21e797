// A host's Params variable at the very end of its readable memory.
#include "common/orv_param_lst.h"
#include "common/orv_param_lst_wrap.h"
#include "framework/call_record.h"

#include <kestrel/kestrel.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace kestrel {
namespace {

TEST(CallRecord, ParamsVariableEndingReadableMemoryIsStillAnInterface) {
  // The bytes a plain list's signature would occupy lie past the variable, on a page that
  // cannot be read: the variable alone decides.
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);
  TorvParamsList params;
  params.Add("COMMAND", std::string("X"));
  IorvParamsListA* face = TorvParamsListWrap::Create(&params, false)->InterfaceA();
  face->lpVtbl->AddRef(face);
  void* variable = static_cast<char*>(pages) + page - sizeof(face);
  std::memcpy(variable, &face, sizeof(face));

  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof(rec));
  rec.RecSize = sizeof(rec);
  rec.Params = variable;
  {
    TPluginCallRecIntf copy;
    CallRecordScope scope(&rec, copy);
    EXPECT_EQ(copy.params, face);
    EXPECT_NE(rec.CallFlags & KESTREL_CALL_PARAMS_INTERFACE, 0);
    EXPECT_EQ(ReadParam(&rec, "command"), Variant(std::string("X")));
  }
  // A variable wholly past the readable memory is refused, not read.
  rec.Params = static_cast<char*>(pages) + page;
  TPluginCallRecIntf copy;
  EXPECT_THROW(OpenCallRecord(&rec, copy), std::runtime_error);
  face->lpVtbl->Release(face);
  munmap(pages, 2 * page);
}

} // namespace
} // namespace kestrel
