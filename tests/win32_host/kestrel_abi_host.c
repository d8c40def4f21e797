/* A minimal Windows host: loads kestrel.dll with LoadLibrary, resolves every export with
   GetProcAddress and drives one instance through the call record (102 bytes on 32-bit Windows):
   create, module information, one command, one packet, free. Exits 0 when the library behaved
   as a host expects, 1 with a line on stderr otherwise. A wrong calling convention or record
   layout shows up here as a crash or a wrong answer.

   Usage: kestrel_abi_host.exe path\to\kestrel.dll */
#include "../e2e/host_list.h"

#include <kestrel/kestrel.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "kestrel_abi_host: %s\n", what);
    ++failures;
  }
}

static FARPROC resolve(HMODULE library, const char* name) {
  FARPROC address = GetProcAddress(library, name);
  if (!address)
    fprintf(stderr, "kestrel_abi_host: export %s is missing\n", name);
  return address;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kestrel_abi_host kestrel.dll\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (!library) {
    fprintf(stderr, "kestrel_abi_host: cannot load %s (error %lu)\n", argv[1],
            (unsigned long)GetLastError());
    return 1;
  }
  /* Every export by its undecorated name. */
  PFN_CreatePluginInstance create =
      (PFN_CreatePluginInstance)(void (*)(void))resolve(library, "CreatePluginInstance");
  PFN_FreePluginInstance release =
      (PFN_FreePluginInstance)(void (*)(void))resolve(library, "FreePluginInstance");
  PFN_GetModuleInfo module_info =
      (PFN_GetModuleInfo)(void (*)(void))resolve(library, "GetModuleInfo");
  PFN_ExecutePluginCommand execute =
      (PFN_ExecutePluginCommand)(void (*)(void))resolve(library, "ExecutePluginCommand");
  PFN_ProcessData process = (PFN_ProcessData)(void (*)(void))resolve(library, "ProcessData");
  PFN_GetLogEx get_log = (PFN_GetLogEx)(void (*)(void))resolve(library, "GetLogEx");
  PFN_GetOptionsDialog get_dialog =
      (PFN_GetOptionsDialog)(void (*)(void))resolve(library, "GetOptionsDialog");
  PFN_ShowOptionsDialog show_dialog =
      (PFN_ShowOptionsDialog)(void (*)(void))resolve(library, "ShowOptionsDialog");
  if (!create || !release || !module_info || !execute || !process || !get_log || !get_dialog ||
      !show_dialog)
    return 1;

  TPluginCallRec rec;
  memset(&rec, 0, sizeof rec);
  rec.RecSize = sizeof rec;
#if !defined(_WIN64)
  check(sizeof rec == 102, "the call record is not 102 bytes");
#endif
  IorvParamsListA* params = host_list_create();
  rec.Params = &params;
  rec.ModuleIndex = 7;
  check(create(&rec) == KESTREL_RESULT_OK && rec.Instance != 0, "CreatePluginInstance failed");
  const uintptr_t instance = rec.Instance;

  /* Module information: the size first, then the record. */
  union {
    TPluginModuleInfo info;
    unsigned char bytes[1024];
  } buffer;
  memset(&buffer, 0, sizeof buffer);
  uint32_t needed = 0;
  buffer.info.BufferSize = 1;
  check(module_info(&rec, &buffer.info, &needed) == 0 && needed >= sizeof(TPluginModuleInfo),
        "GetModuleInfo did not ask for a larger buffer");
  buffer.info.BufferSize = sizeof buffer;
  check(module_info(&rec, &buffer.info, &needed) == 1, "GetModuleInfo wrote nothing");
  check((buffer.info.InterfaceVersion & 0xFFFF) == 4, "module information: interface version");
  check(buffer.info.BufferSize == sizeof buffer, "module information: BufferSize changed");

  /* One command through the host's own list interface. A command the module does not handle
     is an answer too (-2); -1 would mean the record or the list was not understood. */
  host_list_add_text(params, "COMMAND", "ITEMS");
  host_list_add_int(params, "RESULT", 0);
  const int32_t command = execute(&rec);
  check(command == KESTREL_RESULT_OK || command == KESTREL_RESULT_UNHANDLED,
        "ExecutePluginCommand did not understand the record");
  check(rec.Instance == instance && rec.Params == &params && rec.RecSize == sizeof rec,
        "ExecutePluginCommand changed the host's record");

  /* One packet. */
  char packet[] = "{\"temperature\":21.5}";
  rec.DataFlags = KESTREL_DATA_PACKET;
  rec.DataSourceId = 1;
  rec.ClientId = 1;
  strcpy(rec.ClientName, "client");
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = (uint32_t)strlen(packet);
  rec.DataDesc.Payload = (uintptr_t)packet;
  const int32_t processed = process(&rec);
  check(processed != KESTREL_RESULT_BAD_CALL && processed != KESTREL_RESULT_FAILED,
        "ProcessData did not understand the record");
  check(rec.DataDesc.Payload == (uintptr_t)packet, "ProcessData replaced the host's packet");

  check(release(&rec) == KESTREL_RESULT_OK, "FreePluginInstance failed");
  check(release(&rec) == KESTREL_RESULT_BAD_CALL, "a freed instance was found again");
  params->lpVtbl->Release(params);
  check(host_list_live_count() == 0, "the library kept a reference to the host's list");

  memset(&rec, 0, sizeof rec);
  rec.RecSize = sizeof rec;
  rec.DataDesc.Kind = KESTREL_KIND_RELEASE_ALL;
  rec.DataDesc.Payload = KESTREL_RELEASE_ALL_PAYLOAD;
  check(release(&rec) == KESTREL_RESULT_OK, "release-all failed");
  FreeLibrary(library);
  if (!failures)
    printf("kestrel_abi_host: %s: 8 exports, create, module information, command, packet and "
           "free through a %u-byte call record\n",
           argv[1], (unsigned)sizeof rec);
  return failures ? 1 : 0;
}
