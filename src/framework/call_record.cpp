#include "framework/call_record.h"

#include "common/live_lists.h"
#include "common/orv_param_lst.h"
#include "common/orv_param_lst_wrap.h"
#include "platform/system.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace kestrel {

namespace {

// The record copies open on this thread, innermost last. Their slots are variables of this
// library holding interfaces it made itself or checked when the record was opened, so reading
// one needs no probe of its memory (a probe is a system call on POSIX).
constexpr std::size_t kTrackedCopies = 8;

// With them, the host interfaces met last on this thread and their tables: a host hands over
// the same ones call after call, so the opening test reads them along on that guess. A wrong
// guess costs nothing but the probes it would have saved. One thread-local object: each
// thread-local variable of a shared library costs a look-up of its own.
struct InterfaceGuess {
  IorvParamsListA* face;
  const void* table;
};
struct ThreadCalls {
  const TPluginCallRecIntf* open[kTrackedCopies];
  std::size_t count;
  InterfaceGuess params_guess;
  InterfaceGuess result_guess;
};
thread_local ThreadCalls t_calls; // zero-initialised: no guard to test on each use

bool IsOpenCopySlot(const void* variable) noexcept {
  ThreadCalls& calls = t_calls;
  const std::size_t tracked = calls.count < kTrackedCopies ? calls.count : kTrackedCopies;
  for (std::size_t i = tracked; i-- > 0;) {
    const TPluginCallRecIntf* copy = calls.open[i];
    if (variable == &copy->params || variable == &copy->data || variable == &copy->result)
      return true;
  }
  return false;
}

// Records close in the reverse order of opening; the copy is looked for all the same, so no
// closed copy's slots are ever trusted.
void ForgetOpenCopy(const TPluginCallRecIntf* copy) noexcept {
  ThreadCalls& calls = t_calls;
  const std::size_t tracked = calls.count < kTrackedCopies ? calls.count : kTrackedCopies;
  for (std::size_t i = tracked; i-- > 0;) {
    if (calls.open[i] == copy) {
      for (std::size_t j = i + 1; j < tracked; ++j)
        calls.open[j - 1] = calls.open[j];
      break;
    }
  }
  --calls.count;
}

// As InterfaceInVariable, for a variable whose bytes the caller has found readable.
IorvParamsListA* InterfaceInReadableVariable(const void* variable) {
  IorvParamsListA* face = nullptr;
  std::memcpy(&face, variable, sizeof(face));
  if (face && (!platform::IsReadableMemory(face, sizeof(void*)) ||
               !platform::IsReadableMemory(face->lpVtbl, sizeof(IorvParamsListAVtbl))))
    throw std::runtime_error("The parameter interface of the call record cannot be read");
  return face;
}

// The interface in a host variable that a record open on this thread tested when it was
// opened, when the variable still holds the interface it held then; nullptr otherwise. The
// variable was readable at opening, and the host's variables outlive its call.
IorvParamsListA* CheckedInterface(const void* variable) noexcept {
  ThreadCalls& calls = t_calls;
  const std::size_t tracked = calls.count < kTrackedCopies ? calls.count : kTrackedCopies;
  for (std::size_t i = tracked; i-- > 0;)
    for (const TPluginCallRecIntf::CheckedVariable& checked : calls.open[i]->checked)
      if (checked.variable == variable) {
        IorvParamsListA* face = nullptr;
        std::memcpy(&face, variable, sizeof(face));
        if (face == checked.face)
          return face;
      }
  return nullptr;
}

// A list interface the host put in a variable: the variable, the interface and its table must
// be readable before anything calls through them.
IorvParamsListA* InterfaceInVariable(const void* variable) {
  if (IsOpenCopySlot(variable)) {
    IorvParamsListA* face = nullptr;
    std::memcpy(&face, variable, sizeof(face));
    return face;
  }
  if (IorvParamsListA* face = CheckedInterface(variable))
    return face;
  if (!platform::IsReadableMemory(variable, sizeof(void*)))
    throw std::runtime_error("The parameter list of the call record cannot be read");
  return InterfaceInReadableVariable(variable);
}

IorvParamsListA* Remembered(IorvParamsListA* face, InterfaceGuess& guess) noexcept {
  if (face)
    guess = {face, face->lpVtbl};
  return face;
}

// The memory a record's opening reads, tested in one go (one system call on POSIX) instead of a
// probe per pointer: the parameter bytes, the interface and table guessed to be in them, the
// packet bytes and the result variable with its guessed interface and table. The test stops at
// the first span that cannot be read; what it did not find readable is probed where it is
// used, as it would have been without it, so a wrong guess or an unreadable span changes no
// outcome.
class OpeningTest {
public:
  enum Span {
    kParams,
    kParamsFace,
    kParamsTable,
    kPacket,
    kResultVariable,
    kResultFace,
    kResultTable,
    kSpanCount
  };

  OpeningTest(const TPluginCallRec* rec, bool params_listed, bool packet) {
    ThreadCalls& calls = t_calls;
    constexpr std::size_t kParamsSpan = TorvParamsList::kSignatureOffset + sizeof(uint32_t);
    static_assert(kParamsSpan >= sizeof(void*));
    if (!params_listed) {
      if (platform::IsInCallerFrames(rec->Params, kParamsSpan)) {
        // A variable in the host's own frames is readable: the interface it holds is known
        // rather than guessed, and only its table is.
        on_stack_ = true;
        IorvParamsListA* held = nullptr;
        std::memcpy(&held, rec->Params, sizeof(held));
        Guess(kParamsFace, {held, calls.params_guess.table});
      } else {
        Set(kParams, rec->Params, kParamsSpan);
        Guess(kParamsFace, calls.params_guess);
      }
    }
    const TPluginCallData& data = rec->DataDesc;
    // The bytes the packet handler reads: a descriptor that holds no list.
    if (packet && data.Kind != KESTREL_KIND_LIST && data.Kind != KESTREL_KIND_LIST_UNCHECKED &&
        data.Kind != KESTREL_KIND_INTERFACE && data.Payload != 0 && data.Size > 0)
      Set(kPacket, reinterpret_cast<const void*>(data.Payload), data.Size);
    const TPluginCallData& result = rec->ResultDesc;
    if (result.Kind == KESTREL_KIND_INTERFACE && result.Payload != 0) {
      const auto* variable = reinterpret_cast<const void*>(result.Payload);
      if (platform::IsInCallerFrames(variable, sizeof(void*))) {
        result_on_stack_ = true;
        spans_[kResultVariable].address = variable; // readable without a test
        IorvParamsListA* held = nullptr;
        std::memcpy(&held, variable, sizeof(held));
        Guess(kResultFace, {held, calls.result_guess.table});
      } else {
        Set(kResultVariable, variable, sizeof(void*));
        Guess(kResultFace, calls.result_guess);
      }
    }
    readable_ = platform::CountReadableSpans(spans_, kSpanCount);
  }

  bool Readable(Span span) const noexcept {
    if ((span == kParams && on_stack_) || (span == kResultVariable && result_on_stack_))
      return true;
    return spans_[span].size != 0 && static_cast<std::size_t>(span) < readable_;
  }
  const void* Address(Span span) const noexcept { return spans_[span].address; }

  // The interface in a variable found readable, when it is the one guessed at `face` and it
  // still has the table guessed after it, both found readable; nullptr otherwise.
  IorvParamsListA* Interface(const void* variable, Span face) const noexcept {
    IorvParamsListA* held = nullptr;
    std::memcpy(&held, variable, sizeof(held));
    const auto table = static_cast<Span>(face + 1);
    if (!held || held != Address(face) || !Readable(face) || !Readable(table))
      return nullptr;
    return static_cast<const void*>(held->lpVtbl) == Address(table) ? held : nullptr;
  }

private:
  void Set(Span span, const void* address, std::size_t size) noexcept {
    spans_[span] = {address, size};
  }
  void Guess(Span face, const InterfaceGuess& guess) noexcept {
    if (!guess.face || !guess.table)
      return;
    Set(face, guess.face, sizeof(void*));
    Set(static_cast<Span>(face + 1), guess.table, sizeof(IorvParamsListAVtbl));
  }

  platform::MemorySpan spans_[kSpanCount]{};
  std::size_t readable_ = 0;
  bool on_stack_ = false;        // the parameter bytes lie in the host's frames
  bool result_on_stack_ = false; // so does the result variable
};

IorvParamsListA* WrapPlainList(void* list) {
  IorvParamsListA* face =
      TorvParamsListWrap::Create(static_cast<TorvParamsList*>(list), false)->InterfaceA();
  face->lpVtbl->AddRef(face);
  return face;
}

void OpenDescriptor(TPluginCallData& descriptor, IorvParamsListA*& slot) {
  if (!HoldsPlainList(descriptor))
    return;
  slot = WrapPlainList(reinterpret_cast<void*>(descriptor.Payload));
  descriptor.Kind = KESTREL_KIND_INTERFACE;
  descriptor.Payload = reinterpret_cast<uintptr_t>(&slot);
}

void CloseDescriptor(TPluginCallData& descriptor, const TPluginCallData& original,
                     IorvParamsListA*& slot) {
  if (!slot)
    return;
  // The variable dies with the copy: a descriptor still pointing at it gets the host's list
  // back rather than a dangling address.
  if (descriptor.Kind == KESTREL_KIND_INTERFACE &&
      descriptor.Payload == reinterpret_cast<uintptr_t>(&slot)) {
    descriptor.Kind = original.Kind;
    descriptor.Payload = original.Payload;
  }
  slot->lpVtbl->Release(slot);
  slot = nullptr;
}

} // namespace

bool HoldsPlainList(const TPluginCallData& descriptor) noexcept {
  const auto* object = reinterpret_cast<const void*>(descriptor.Payload);
  if (descriptor.Kind == KESTREL_KIND_LIST)
    return TorvParamsList::HasValidSignature(object);
  // A host that skips the check still cannot hand over an address that points nowhere.
  return descriptor.Kind == KESTREL_KIND_LIST_UNCHECKED &&
         platform::IsReadableMemory(object, TorvParamsList::kSignatureOffset + sizeof(uint32_t));
}

bool IsValidCallRecord(const TPluginCallRec* rec) noexcept {
  return rec && rec->RecSize == kCallRecordSize && rec->Params;
}

void OpenCallRecord(TPluginCallRec* rec, TPluginCallRecIntf& copy, bool packet) {
  ThreadCalls& calls = t_calls;
  copy = TPluginCallRecIntf();
  std::memcpy(&copy.record, rec, sizeof(TPluginCallRec));
  if (void* params = rec->Params) {
    // Params is a plain list or a variable holding an interface. The bytes up to a list's
    // signature word cover the variable as well, so one test serves both; only when they
    // cannot all be read is the variable probed on its own (it may end a readable region).
    const bool listed = live_lists::Contains(params);
    const OpeningTest test(rec, listed, packet);
    const bool readable = listed || test.Readable(OpeningTest::kParams);
    if (!readable || !TorvParamsList::HasSignatureWord(params)) {
      if (readable) {
        copy.params = test.Interface(params, OpeningTest::kParamsFace);
        if (!copy.params)
          copy.params = Remembered(InterfaceInReadableVariable(params), calls.params_guess);
        if (copy.params)
          copy.checked[0] = {params, copy.params};
      } else {
        copy.params = InterfaceInVariable(params);
      }
      rec->CallFlags |= KESTREL_CALL_PARAMS_INTERFACE;
    } else {
      copy.params = WrapPlainList(rec->Params);
      copy.params_wrapped = true;
      rec->Params = &copy.params;
    }
    if (test.Readable(OpeningTest::kPacket)) {
      copy.checked_block = test.Address(OpeningTest::kPacket);
      copy.checked_block_size = rec->DataDesc.Size;
    }
    if (test.Readable(OpeningTest::kResultVariable)) {
      const void* variable = test.Address(OpeningTest::kResultVariable);
      if (IorvParamsListA* face = test.Interface(variable, OpeningTest::kResultFace))
        copy.checked[1] = {variable, face};
    }
  }
  copy.opened = true;
  if (calls.count < kTrackedCopies)
    calls.open[calls.count] = &copy;
  ++calls.count;
  try {
    OpenDescriptor(rec->DataDesc, copy.data);
    OpenDescriptor(rec->ResultDesc, copy.result);
  } catch (...) {
    CloseCallRecord(rec, copy);
    throw;
  }
}

void CloseCallRecord(TPluginCallRec* rec, TPluginCallRecIntf& copy) noexcept {
  if (!copy.opened)
    return;
  copy.opened = false;
  ForgetOpenCopy(&copy);
  rec->CallFlags = copy.record.CallFlags;
  if (copy.params_wrapped) {
    copy.params->lpVtbl->Release(copy.params);
    copy.params = nullptr;
    copy.params_wrapped = false;
    rec->Params = copy.record.Params;
  }
  CloseDescriptor(rec->DataDesc, copy.record.DataDesc, copy.data);
  CloseDescriptor(rec->ResultDesc, copy.record.ResultDesc, copy.result);
}

IorvParamsListA* ParamsInterface(const TPluginCallRec* rec) {
  if (!rec || !rec->Params)
    return nullptr;
  return InterfaceInVariable(rec->Params);
}

Variant ReadParam(const TPluginCallRec* rec, std::string_view name) {
  IorvParamsListA* params = ParamsInterface(rec);
  if (!params)
    return Variant();
  VARIANT raw;
  std::memset(&raw, 0, sizeof(raw));
  const std::string text(name);
  const HRESULT hr = params->lpVtbl->GetValue(params, text.c_str(), 0, -1, &raw);
  if (hr != S_OK)
    throw std::runtime_error("Reading parameter " + text + " failed");
  return Variant::Adopt(raw);
}

bool HasParam(const TPluginCallRec* rec, std::string_view name) {
  return !ReadParam(rec, name).IsEmptyOrNull();
}

IorvParamsListA* DescriptorInterface(const TPluginCallData& descriptor) {
  ThreadCalls& calls = t_calls;
  if (descriptor.Kind != KESTREL_KIND_INTERFACE || !descriptor.Payload)
    return nullptr;
  return Remembered(InterfaceInVariable(reinterpret_cast<const void*>(descriptor.Payload)),
                    calls.result_guess);
}

bool IsCheckedBlock(const void* address, std::size_t size) noexcept {
  ThreadCalls& calls = t_calls;
  const std::size_t tracked = calls.count < kTrackedCopies ? calls.count : kTrackedCopies;
  for (std::size_t i = tracked; i-- > 0;)
    if (calls.open[i]->checked_block == address && calls.open[i]->checked_block_size == size)
      return address != nullptr;
  return false;
}

} // namespace kestrel
