#include "framework/options_dialog_package.h"

#include "common/current_exception.h"
#include "common/readable_block.h"
#include "platform/resources.h"

#include <cstring>

namespace kestrel::options_dialog {

namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  return upper;
}

std::string_view FindOrEmpty(const TResourceFinder& find, std::string_view name) {
  if (name.empty())
    return {};
  return find(name).value_or(std::string_view());
}

void PutUint32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The requested form name: the DataDesc buffer's bytes up to the first zero or its capacity.
std::string RequestedName(const TPluginCallRec* rec) {
  const auto* buffer = reinterpret_cast<const char*>(rec->DataDesc.Payload);
  if (!buffer || rec->DataDesc.Size == 0 || !IsReadableBlock(buffer, rec->DataDesc.Size))
    return {};
  const void* zero = std::memchr(buffer, 0, rec->DataDesc.Size);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer) : rec->DataDesc.Size;
  return std::string(buffer, length);
}

// Any address inside this library names it for the resource lookup.
std::optional<std::string_view> FindLibraryResource(std::string_view name) {
  platform::ResourceData data;
  if (!platform::FindModuleResource(reinterpret_cast<const void*>(&FindLibraryResource), name,
                                    &data))
    return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(data.data), data.size);
}

} // namespace

std::optional<uint32_t> TOptionsDialogBlocks::PackedSize() const {
  const uint64_t total = uint64_t{kPackageHeaderSize} + Form.size() + Extra.size() + Code.size();
  if (total > UINT32_MAX)
    return std::nullopt;
  return static_cast<uint32_t>(total);
}

TOptionsDialogBlocks SelectBlocks(const TResourceFinder& find, std::string_view form_name) {
  TOptionsDialogBlocks blocks;
  if (!form_name.empty()) {
    const std::string name = UpperAscii(form_name);
    blocks.Form = FindOrEmpty(find, name);
    blocks.Code = FindOrEmpty(find, name + std::string(kCodeSuffix));
  } else {
    blocks.Code = FindOrEmpty(find, kFormDataResource);
    blocks.Form = FindOrEmpty(find, UpperAscii(FindOrEmpty(find, kFormNameResource)));
  }
  return blocks;
}

void WritePackage(const TOptionsDialogBlocks& blocks, uint8_t* out) {
  const auto form = static_cast<uint32_t>(blocks.Form.size());
  const auto extra = static_cast<uint32_t>(blocks.Extra.size());
  const auto code = static_cast<uint32_t>(blocks.Code.size());
  PutUint32(out + 0, kPackageHeaderSize);
  PutUint32(out + 4, form);
  PutUint32(out + 8, kPackageHeaderSize + form);
  PutUint32(out + 12, extra);
  PutUint32(out + 16, kPackageHeaderSize + form + extra);
  PutUint32(out + 20, code);
  uint8_t* block = out + kPackageHeaderSize;
  // Empty views may have no data pointer: copy only what is there.
  if (form)
    std::memcpy(block, blocks.Form.data(), form);
  if (extra)
    std::memcpy(block + form, blocks.Extra.data(), extra);
  if (code)
    std::memcpy(block + form + extra, blocks.Code.data(), code);
}

void DeliverOptionsDialog(TorvPlugin& module, TPluginCallRec* rec, const TResourceFinder& find) {
  const std::string requested = RequestedName(rec);
  TOptionsDialogBlocks blocks;
  if (!requested.empty() || !module.OnGetOptionsDialog) {
    blocks = SelectBlocks(find, requested);
  } else {
    std::string form_name;
    std::string extra;
    try {
      module.OnGetOptionsDialog(module, rec, form_name, extra);
    } catch (...) {
      // The module's own failure: logged, and nothing delivered (the instance is there).
      module.LogFailure("GETOPTIONS", CurrentExceptionMessage());
      rec->ResultDesc.Payload = kDialogNothingToDeliver;
      return;
    }
    if (form_name.empty() && extra.empty()) {
      rec->ResultDesc.Payload = kDialogNothingToDeliver;
      return;
    }
    if (!form_name.empty())
      blocks = SelectBlocks(find, form_name);
    blocks.Extra = std::move(extra);
  }

  const std::optional<uint32_t> total = blocks.PackedSize();
  if (total && *total == kPackageHeaderSize) {
    rec->ResultDesc.Payload = kDialogNothingToDeliver;
    return;
  }
  if (!total || rec->DataDesc.Size < *total ||
      !IsReadableBlock(reinterpret_cast<const void*>(rec->DataDesc.Payload), *total)) {
    // The host retries with a buffer of the size reported.
    rec->ResultDesc.Payload = kDialogBufferTooSmall;
    rec->ResultDesc.Size = total.value_or(UINT32_MAX);
    return;
  }
  WritePackage(blocks, reinterpret_cast<uint8_t*>(rec->DataDesc.Payload));
  rec->ResultDesc.Kind = KESTREL_KIND_BYTES_WRITTEN;
  rec->ResultDesc.Size = 0;
  rec->ResultDesc.Payload = *total;
}

void DeliverLibraryOptionsDialog(TorvPlugin& module, TPluginCallRec* rec) {
  DeliverOptionsDialog(module, rec, &FindLibraryResource);
}

} // namespace kestrel::options_dialog
