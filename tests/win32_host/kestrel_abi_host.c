/* A minimal Windows host: loads kestrel.dll with LoadLibrary, resolves every export with
   GetProcAddress and drives one instance through the call record (102 bytes on 32-bit Windows):
   create, module information, LOAD and SET-STATE, one packet that gives a row, the options
   dialog package, UNLOAD, free.
   Exits 0 when the library behaved as a host expects, 1 with a line on stderr otherwise. A wrong
   calling convention or record layout shows up here as a crash or a wrong answer.

   Usage: kestrel_abi_host.exe path\to\kestrel.dll */
#include "host_list.h"

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

/* The instance's log, for a failure's context. */
static void print_log(PFN_GetLogEx get_log, const TPluginCallRec* base) {
  static char text[16384];
  TPluginCallRec rec = *base;
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = sizeof text - 1;
  rec.DataDesc.Payload = (uintptr_t)text;
  const int32_t copied = get_log(&rec);
  if (copied > 0) {
    text[copied] = 0;
    fprintf(stderr, "kestrel_abi_host: the instance's log:\n%s\n", text);
  }
}

/* One command with at most one text parameter and an optional RESULT (-1: none), through a
   list of the host's own for this call. */
static int32_t command(PFN_ExecutePluginCommand execute, TPluginCallRec* rec, const char* name,
                       const char* text_name, const char* text, int result, uint8_t flags) {
  IorvParamsListA* list = host_list_create();
  host_list_add_text(list, "COMMAND", name);
  if (text_name)
    host_list_add_text(list, text_name, text);
  if (result >= 0)
    host_list_add_int(list, "RESULT", result);
  void* const params = rec->Params;
  rec->Params = &list;
  rec->DataFlags = flags;
  const int32_t code = execute(rec);
  if (rec->Params != &list)
    check(0, "ExecutePluginCommand changed the record's parameter list");
  rec->Params = params;
  rec->DataFlags = 0;
  list->lpVtbl->Release(list);
  if (code != KESTREL_RESULT_OK)
    fprintf(stderr, "kestrel_abi_host: %s returned %d\n", name, (int)code);
  return code;
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

  /* Commands through the host's own list interface: LOAD, then data source 1 enabled for
     parsing. -1 would mean the record or the list was not understood. */
  check(command(execute, &rec, "LOAD", "REGISTRY-PATH", "\\Software\\Kestrel\\AbiHost", -1, 0) ==
            KESTREL_RESULT_OK,
        "LOAD failed");
  check(command(execute, &rec, "SET-STATE", "DATA-SOURCES-IN-CFG", "1;COM1;Serial port 1", 1,
                0x02) == KESTREL_RESULT_OK,
        "SET-STATE failed");
  check(rec.Instance == instance && rec.Params == &params && rec.RecSize == sizeof rec,
        "ExecutePluginCommand changed the host's record");

  /* One packet, in a block of the process heap: the library may grow it to hand text back.
     Afterwards DataDesc holds either nothing (the host keeps its block) or the block to free. */
  static const char text[] = "{\"temperature\":21.5}";
  char* packet = (char*)HeapAlloc(GetProcessHeap(), 0, sizeof text);
  check(packet != NULL, "no memory for the packet");
  if (!packet)
    return 1;
  memcpy(packet, text, sizeof text);
  rec.DataFlags = KESTREL_DATA_PACKET;
  rec.DataSourceId = 1;
  rec.ClientId = 1;
  strcpy(rec.ClientName, "client");
  rec.DataDesc.Kind = KESTREL_KIND_MEMORY;
  rec.DataDesc.Size = (uint32_t)strlen(text);
  rec.DataDesc.Payload = (uintptr_t)packet;
  IorvParamsListA* rows = host_list_create();
  rec.ResultDesc.Kind = KESTREL_KIND_INTERFACE;
  rec.ResultDesc.Payload = (uintptr_t)&rows;
  const int32_t processed = process(&rec);
  if (processed == KESTREL_RESULT_BAD_CALL || processed == KESTREL_RESULT_FAILED) {
    fprintf(stderr, "kestrel_abi_host: ProcessData returned %d\n", (int)processed);
    check(0, "ProcessData did not understand the record");
  }
  check(rec.DataDesc.Kind == KESTREL_KIND_MEMORY, "ProcessData changed the packet's kind");
  HeapFree(GetProcessHeap(), 0, rec.DataDesc.Payload ? (void*)rec.DataDesc.Payload : packet);
  rec.DataDesc.Payload = 0;
  rec.DataDesc.Size = 0;
  check(rec.ResultDesc.Counter == 1 && rows->lpVtbl->GetCount(rows) > 1,
        "ProcessData delivered no row for a complete block");
  rows->lpVtbl->Release(rows);
  memset(&rec.ResultDesc, 0, sizeof rec.ResultDesc);

  /* The options dialog: ask with a one-byte buffer for the size, then fetch the package (its
     form stream and its gzip-compressed script), and confirm the dialog. */
  char probe = 0;
  rec.DataDesc.Size = 1;
  rec.DataDesc.Payload = (uintptr_t)&probe;
  get_dialog(&rec);
  check(rec.ResultDesc.Payload == 3 && rec.ResultDesc.Size > 24,
        "GetOptionsDialog did not ask for a larger buffer");
  const uint32_t total = rec.ResultDesc.Size;
  unsigned char* package = (unsigned char*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total);
  check(package != NULL, "no memory for the dialog package");
  if (!package)
    return 1;
  rec.DataDesc.Size = total;
  rec.DataDesc.Payload = (uintptr_t)package;
  get_dialog(&rec);
  uint32_t header[6];
  memcpy(header, package, sizeof header);
  check(rec.ResultDesc.Kind == KESTREL_KIND_BYTES_WRITTEN && rec.ResultDesc.Payload == total,
        "GetOptionsDialog did not fill the buffer");
  check(header[0] == 24 && header[2] == 24 + header[1] && header[3] == 0 &&
            header[4] == header[2] && header[4] + header[5] == total,
        "the dialog package's header does not add up");
  check(memcmp(package + 24, "TPF0", 4) == 0, "the dialog package holds no form stream");
  check(package[header[4]] == 0x1f && package[header[4] + 1] == 0x8b,
        "the dialog package holds no gzip member");
  HeapFree(GetProcessHeap(), 0, package);
  memset(&rec.DataDesc, 0, sizeof rec.DataDesc);
  show_dialog(&rec);
  check(rec.ResultDesc.Size == 4 && rec.ResultDesc.Payload == 1,
        "ShowOptionsDialog was not accepted");
  memset(&rec.ResultDesc, 0, sizeof rec.ResultDesc);

  check(command(execute, &rec, "UNLOAD", NULL, NULL, -1, 0) == KESTREL_RESULT_OK, "UNLOAD failed");

  if (failures)
    print_log(get_log, &rec);
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
    printf("kestrel_abi_host: %s: 8 exports, create, module information, LOAD, SET-STATE, a packet "
           "giving a row, the options dialog, UNLOAD and free through a %u-byte call record\n",
           argv[1], (unsigned)sizeof rec);
  return failures ? 1 : 0;
}
