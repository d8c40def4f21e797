// kestrel-host: a small host that loads the Kestrel plug-in the way a data logger does and
// prints the records it parses from files, standard input or TCP clients (kHostUsage).
//
// --info creates an instance, prints its module information and frees it again; --version
// prints the host's version and, from the same module information, the plug-in's.
#include "host_options.h"
#include "host_run.h"
#include "host_system.h"
#include "platform/library.h"
#include "platform/system.h"

#include <kestrel/kestrel.h>
#include <kestrel/kestrel_version.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Exports {
  PFN_CreatePluginInstance create = nullptr;
  PFN_FreePluginInstance free = nullptr;
  PFN_GetModuleInfo module_info = nullptr;
};

std::string Text(const char* data, uint32_t length) {
  return data && length ? std::string(data, length) : std::string();
}

int PrintInfo(const Exports& exports, const std::string& library, bool version_only) {
  TPluginCallRec rec;
  std::memset(&rec, 0, sizeof(rec));
  rec.RecSize = sizeof(rec);
  if (exports.create(&rec) != KESTREL_RESULT_OK) {
    std::fprintf(stderr, "kestrel-host: CreatePluginInstance failed\n");
    return 1;
  }
  uint32_t needed = 0;
  exports.module_info(&rec, nullptr, &needed);
  std::vector<unsigned char> buffer(needed < sizeof(TPluginModuleInfo) ? sizeof(TPluginModuleInfo)
                                                                       : needed);
  auto* info = reinterpret_cast<TPluginModuleInfo*>(buffer.data());
  info->BufferSize = static_cast<uint32_t>(buffer.size());
  int status = 0;
  if (exports.module_info(&rec, info, &needed) != 1) {
    std::fprintf(stderr, "kestrel-host: GetModuleInfo failed\n");
    status = 1;
  } else if (version_only) {
    std::printf("plug-in %s %.1f (interface %u): %s\n",
                Text(info->Description, info->DescriptionLength).c_str(),
                static_cast<double>(info->Version), info->InterfaceVersion, library.c_str());
  } else {
    std::printf("Description:       %s\n",
                Text(info->Description, info->DescriptionLength).c_str());
    std::printf("Module types:      0x%04X\n", info->ModuleTypes & 0xFFFFu);
    std::printf("Capabilities:      0x%X\n", info->ModuleTypes >> 16);
    std::printf("Interface version: %u\n", info->InterfaceVersion);
    std::printf("Module version:    %.1f\n", static_cast<double>(info->Version));
    const std::string commands = Text(info->Commands, info->CommandsLength);
    std::printf("Custom commands:   %s\n", commands.empty() ? "(none)" : "");
    if (!commands.empty())
      std::printf("%s", commands.c_str());
  }
  if (exports.free(&rec) != KESTREL_RESULT_OK) {
    std::fprintf(stderr, "kestrel-host: FreePluginInstance failed\n");
    status = 1;
  }
  TPluginCallRec release_all;
  std::memset(&release_all, 0, sizeof(release_all));
  release_all.RecSize = sizeof(release_all);
  release_all.DataDesc.Kind = KESTREL_KIND_RELEASE_ALL;
  release_all.DataDesc.Payload = KESTREL_RELEASE_ALL_PAYLOAD;
  exports.free(&release_all);
  return status;
}

// The library the host loads without --library: the file of the library's name in the host's
// own folder, else in ../lib beside it (the installed layout); never a path of the build.
std::string DefaultLibrary() {
  const std::filesystem::path program(kestrel::platform::ModuleFileName(nullptr));
  const std::filesystem::path folder = program.parent_path();
  const std::filesystem::path beside = folder / KESTREL_DEFAULT_LIBRARY;
  const std::filesystem::path installed = folder / ".." / "lib" / KESTREL_DEFAULT_LIBRARY;
  std::error_code error;
  if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error))
    return installed.lexically_normal().string();
  return beside.string();
}

} // namespace

int main(int argc, char** argv) {
  kestrel::host::HostOptions options;
  options.library = DefaultLibrary();
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kestrel::host::kHostUsage, stdout);
      return kestrel::host::kExitOk;
    }
  }
  std::string problem;
  if (!kestrel::host::ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                       &problem)) {
    std::fprintf(stderr, "kestrel-host: %s\n\n%s", problem.c_str(), kestrel::host::kHostUsage);
    return kestrel::host::kExitUsage;
  }
  if (options.version)
    std::printf("kestrel-host %s\n", KESTREL_VERSION_TEXT);
  if (!options.info && !options.version) {
    kestrel::host::PrepareStandardStreams();
    static std::atomic<bool> interrupted{false};
    kestrel::host::CatchInterrupt(&interrupted);
    kestrel::host::HostHooks hooks;
    hooks.interrupt = &interrupted;
    return kestrel::host::RunHost(options, stdout, stderr, hooks);
  }

  const std::string& library = options.library;
  std::string error;
  kestrel::platform::LibraryHandle handle = kestrel::platform::OpenLibrary(library, &error);
  if (!handle) {
    std::fprintf(stderr, "kestrel-host: cannot load %s: %s\n", library.c_str(), error.c_str());
    return kestrel::host::kExitNoLibrary;
  }
  Exports exports;
  exports.create = reinterpret_cast<PFN_CreatePluginInstance>(
      kestrel::platform::LibrarySymbol(handle, "CreatePluginInstance"));
  exports.free = reinterpret_cast<PFN_FreePluginInstance>(
      kestrel::platform::LibrarySymbol(handle, "FreePluginInstance"));
  exports.module_info = reinterpret_cast<PFN_GetModuleInfo>(
      kestrel::platform::LibrarySymbol(handle, "GetModuleInfo"));
  int status = kestrel::host::kExitNoLibrary;
  if (!exports.create || !exports.free || !exports.module_info)
    std::fprintf(stderr, "kestrel-host: %s lacks the plug-in exports\n", library.c_str());
  else
    status = PrintInfo(exports, library, options.version);
  kestrel::platform::CloseLibrary(handle);
  return status;
}
