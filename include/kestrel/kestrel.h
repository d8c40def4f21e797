/* Kestrel plug-in ABI: what a host needs to load the library and talk to its instances.

   A host calls the eight exported functions below, each with one packed call record
   (TPluginCallRec). Parameters and results travel in ordered lists of named VARIANT values,
   handed over through the COM-style interfaces IorvParamsListA/W and IorvParamsListItemA/W:
   C structs whose first field points to a table of functions in a fixed slot order.

   On 32-bit Windows the exports and interface methods are stdcall (KESTREL_CALL) and the call
   record is exactly 102 bytes, its data descriptors 13. On 64-bit targets the three
   pointer-holding fields (Instance, Params, Payload) widen to 8 bytes: the record is 118 bytes
   and a descriptor 17; RecSize must then be sizeof(TPluginCallRec). The two text addresses of
   the module-information record widen the same way.

   Memory blocks of kind KESTREL_KIND_MEMORY that the library creates or grows (the raw text of
   delivered results in DataDesc) belong to the host after the call returns. They come from
   malloc/realloc of the C run-time on POSIX systems: free them with free(). On Windows they
   come from the process heap (GetProcessHeap): free them with HeapFree.

   The same holds for the packet a host hands to ProcessData: the library appends the raw text
   of each delivered block to the packet's own kind-4 block in DataDesc, growing it in place
   (realloc on POSIX, HeapReAlloc on the process heap on Windows). That block must therefore
   come from that allocator (malloc on POSIX, HeapAlloc(GetProcessHeap(), ...) on Windows);
   a packet in a stack buffer, a static array or a block from new[] or another heap ends the
   process on the first delivered row. After the call, a DataDesc.Payload that is not 0 is the
   (possibly moved) block to free in place of the one handed in; when it is 0, nothing was
   delivered and the block handed in is still the host's.

   Every ExecutePluginCommand and ProcessData call needs a parameter list in Params (it may be
   empty). A record whose Params is 0 is refused with -1; the instance logs this once. To tell a
   plain list from an interface variable, the plug-in reads the first sizeof(void*) + 4 bytes at
   Params: a host that passes the address of an interface variable keeps at least 4 readable
   bytes after that variable (zero them; a plain list's signature there would be misread). */
#ifndef KESTREL_H
#define KESTREL_H

#include <kestrel/kestrel_base.h>
#include <kestrel/oleauto.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define KESTREL_STATIC_ASSERT(condition, message) static_assert(condition, message)
#define KESTREL_NOEXCEPT noexcept
#else
#define KESTREL_NOEXCEPT
#define KESTREL_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* The library defines KESTREL_BUILD_LIBRARY while it compiles its exports. */
#ifdef KESTREL_BUILD_LIBRARY
#define KESTREL_API KESTREL_EXPORT
#else
#define KESTREL_API
#endif

/* A boolean as one byte: 0 false, anything else true. */
typedef uint8_t KestrelBool;

/* Interface identifiers, in the Windows GUID layout. */
typedef struct KestrelGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} KestrelGuid;

/* ---- Result codes of the exports --------------------------------------------------------- */
#define KESTREL_RESULT_OK 0
#define KESTREL_RESULT_BAD_CALL (-1)  /* bad record, no such instance, missing parameter */
#define KESTREL_RESULT_UNHANDLED (-2) /* the command is not handled */
#define KESTREL_RESULT_FAILED (-3)    /* a failure while executing */

/* ---- Call record -------------------------------------------------------------------------- */

/* Kind of a data descriptor's Payload. */
#define KESTREL_KIND_LIST 1          /* a plain list object, accepted when its signature is valid */
#define KESTREL_KIND_BYTES_WRITTEN 2 /* ResultDesc: Payload = bytes written into DataDesc */
#define KESTREL_KIND_MEMORY 4        /* Payload = address of a block of Size bytes */
#define KESTREL_KIND_INTEGER 5       /* Payload = a 32-bit integer result */
#define KESTREL_KIND_RELEASE_ALL 6   /* DataDesc of FreePluginInstance: release-all request */
#define KESTREL_KIND_PACKET 7        /* a packet kind without a meaning of its own here */
#define KESTREL_KIND_LIST_UNCHECKED 8 /* a plain list object, signature not checked */
#define KESTREL_KIND_INTERFACE 9      /* Payload = address of a variable holding a list interface */

/* DataDesc.Payload of the release-all request (with KESTREL_KIND_RELEASE_ALL). */
#define KESTREL_RELEASE_ALL_PAYLOAD 0xFF01

/* DataFlags bits. For the SET-STATE command DataFlags is the set of module types concerned. */
#define KESTREL_DATA_KEEP_EMPTY 0x01   /* keep empty lists */
#define KESTREL_DATA_PACKET 0x02       /* a received packet to parse */
#define KESTREL_DATA_WRITE 0x04        /* write request */
#define KESTREL_DATA_REPORT 0x08       /* report completion */
#define KESTREL_DATA_PASS_THROUGH 0x20 /* pass input through */

/* CallFlags bit set while a call runs when Params pointed to an interface variable. */
#define KESTREL_CALL_PARAMS_INTERFACE 0x40

#pragma pack(push, 1)

/* Data handed in or out of a call. */
typedef struct TPluginCallData {
  int32_t Counter;   /* ResultDesc: number of result lists delivered during the call */
  uint32_t Size;     /* bytes of data, capacity of a host buffer, or the size needed */
  uint8_t Kind;      /* KESTREL_KIND_* */
  uintptr_t Payload; /* pointer or inline integer, by Kind */
} TPluginCallData;

/* The call record every export takes. Owned by the host. */
typedef struct TPluginCallRec {
  uint32_t RecSize; /* sizeof(TPluginCallRec) */
  uint8_t CallFlags;
  uintptr_t Instance;  /* 0 before CreatePluginInstance, which writes it */
  int32_t ModuleIndex; /* the host's number for this instance */
  int32_t DataSourceId;
  int32_t ClientId;  /* client within the data source, 0 = none */
  uint8_t DataFlags; /* KESTREL_DATA_* */
  void* Params; /* address of a variable holding an IorvParamsListA*, or a plain list; 0 = none */
  TPluginCallData DataDesc;
  TPluginCallData ResultDesc;
  char ClientName[50]; /* 8-bit, NUL-terminated unless all 50 bytes are used */
} TPluginCallRec;

/* The interface version GetModuleInfo reports in TPluginModuleInfo.InterfaceVersion. */
#define KESTREL_INTERFACE_VERSION 4u

/* Header of the module-information record written by GetModuleInfo. The two texts (UTF-8, no
   terminators) follow the header inside the same buffer; their addresses point there. */
typedef struct TPluginModuleInfo {
  uint32_t BufferSize;       /* set by the host, left unchanged */
  uint32_t ModuleTypes;      /* low 16 bits: module types (bit n = type n); high 16: capabilities */
  uint32_t InterfaceVersion; /* KESTREL_INTERFACE_VERSION: low word 4, high word 0 */
  float Version;             /* the module's version number */
  uint8_t ModuleByte;
  uint32_t DescriptionLength;
  const char* Description; /* 0 when empty */
  uint32_t CommandsLength;
  const char* Commands; /* custom-command list, 0 when empty */
} TPluginModuleInfo;

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
KESTREL_STATIC_ASSERT(sizeof(TPluginCallData) == 13, "13-byte descriptor");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallData, Counter) == 0, "Counter at 0");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallData, Size) == 4, "Size at 4");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallData, Kind) == 8, "Kind at 8");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallData, Payload) == 9, "Payload at 9");
KESTREL_STATIC_ASSERT(sizeof(TPluginCallRec) == 102, "102-byte call record");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, CallFlags) == 4, "CallFlags at 4");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, Instance) == 5, "Instance at 5");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ModuleIndex) == 9, "ModuleIndex at 9");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, DataSourceId) == 13, "DataSourceId at 13");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ClientId) == 17, "ClientId at 17");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, DataFlags) == 21, "DataFlags at 21");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, Params) == 22, "Params at 22");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, DataDesc) == 26, "DataDesc at 26");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ResultDesc) == 39, "ResultDesc at 39");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ClientName) == 52, "ClientName at 52");
KESTREL_STATIC_ASSERT(sizeof(TPluginModuleInfo) == 33, "33-byte module-information header");
KESTREL_STATIC_ASSERT(offsetof(TPluginModuleInfo, Version) == 12, "Version at 12");
KESTREL_STATIC_ASSERT(offsetof(TPluginModuleInfo, ModuleByte) == 16, "module byte at 16");
KESTREL_STATIC_ASSERT(offsetof(TPluginModuleInfo, DescriptionLength) == 17, "text 1 at 17");
KESTREL_STATIC_ASSERT(offsetof(TPluginModuleInfo, Description) == 21, "text 1 address at 21");
KESTREL_STATIC_ASSERT(offsetof(TPluginModuleInfo, CommandsLength) == 25, "text 2 at 25");
KESTREL_STATIC_ASSERT(offsetof(TPluginModuleInfo, Commands) == 29, "text 2 address at 29");
#else
KESTREL_STATIC_ASSERT(sizeof(TPluginCallData) == 17, "17-byte descriptor");
KESTREL_STATIC_ASSERT(sizeof(TPluginCallRec) == 118, "118-byte call record");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ModuleIndex) == 13, "ModuleIndex at 13");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, Params) == 26, "Params at 26");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, DataDesc) == 34, "DataDesc at 34");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ResultDesc) == 51, "ResultDesc at 51");
KESTREL_STATIC_ASSERT(offsetof(TPluginCallRec, ClientName) == 68, "ClientName at 68");
KESTREL_STATIC_ASSERT(sizeof(TPluginModuleInfo) == 41, "41-byte module-information header");
#endif

/* ---- Parameter lists ---------------------------------------------------------------------- */

#define KESTREL_LIST_SIGNATURE 0x0FDE2E4B
/* Row markers separate the records of a list that carries several rows. */
#define KESTREL_ROW_MARKER_NAME "$NEW_ROW$"
#define KESTREL_ROW_MARKER_TYPE 0xFF01
/* Joins the raw texts of the blocks delivered in one call. */
#define KESTREL_RAW_TEXT_JOINER "<{[::]}>"

/* Range arguments: Start below 0 counts as 0; Stop below 0 or past the end means the last
   item; Stop = KESTREL_STOP_AT_ROW_END also means the last item, but a search stops at the
   first row marker. */
#define KESTREL_STOP_LAST (-1)
#define KESTREL_STOP_AT_ROW_END (-2)

/* {33316D29-0F86-41C4-8DB4-3FE9756158B1} and siblings. */
static const KestrelGuid IID_IorvParamsListA = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1}};
static const KestrelGuid IID_IorvParamsListW = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB2}};
static const KestrelGuid IID_IorvParamsListItemA = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4}};
static const KestrelGuid IID_IorvParamsListItemW = {
    0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6}};

typedef struct IorvParamsListItemA IorvParamsListItemA;
typedef struct IorvParamsListItemW IorvParamsListItemW;
typedef struct IorvParamsListA IorvParamsListA;
typedef struct IorvParamsListW IorvParamsListW;

/* One named value. Methods returning HRESULT give S_OK or E_UNEXPECTED; returned texts stay
   valid while the interface is held. A VARIANT handed in with type 0x100 (0x102) and a
   non-null pointer is read as NUL-terminated 8-bit (UTF-16) text. */
typedef struct IorvParamsListItemAVtbl {
  HRESULT(KESTREL_CALL* QueryInterface)
  (IorvParamsListItemA* self, const KestrelGuid* iid, void** out);
  uint32_t(KESTREL_CALL* AddRef)(IorvParamsListItemA* self);
  uint32_t(KESTREL_CALL* Release)(IorvParamsListItemA* self);
  void(KESTREL_CALL* SetKeyText)(IorvParamsListItemA* self, const char* key);
  void(KESTREL_CALL* SetDataType)(IorvParamsListItemA* self, int32_t type);
  void(KESTREL_CALL* SetState)(IorvParamsListItemA* self, uint8_t state);
  const char*(KESTREL_CALL* GetKeyText)(IorvParamsListItemA* self);
  int32_t(KESTREL_CALL* GetDataType)(IorvParamsListItemA* self);
  uint8_t(KESTREL_CALL* GetState)(IorvParamsListItemA* self);
  HRESULT(KESTREL_CALL* SetValue)(IorvParamsListItemA* self, const VARIANT* value);
  HRESULT(KESTREL_CALL* GetValue)(IorvParamsListItemA* self, VARIANT* value);
  void(KESTREL_CALL* SetName)(IorvParamsListItemA* self, const char* name);
  const char*(KESTREL_CALL* GetName)(IorvParamsListItemA* self);
  KestrelBool(KESTREL_CALL* IsNewRow)(IorvParamsListItemA* self);
} IorvParamsListItemAVtbl;

typedef struct IorvParamsListItemWVtbl {
  HRESULT(KESTREL_CALL* QueryInterface)
  (IorvParamsListItemW* self, const KestrelGuid* iid, void** out);
  uint32_t(KESTREL_CALL* AddRef)(IorvParamsListItemW* self);
  uint32_t(KESTREL_CALL* Release)(IorvParamsListItemW* self);
  void(KESTREL_CALL* SetKeyText)(IorvParamsListItemW* self, const char* key);
  void(KESTREL_CALL* SetDataType)(IorvParamsListItemW* self, int32_t type);
  void(KESTREL_CALL* SetState)(IorvParamsListItemW* self, uint8_t state);
  const char*(KESTREL_CALL* GetKeyText)(IorvParamsListItemW* self);
  int32_t(KESTREL_CALL* GetDataType)(IorvParamsListItemW* self);
  uint8_t(KESTREL_CALL* GetState)(IorvParamsListItemW* self);
  HRESULT(KESTREL_CALL* SetValue)(IorvParamsListItemW* self, const VARIANT* value);
  HRESULT(KESTREL_CALL* GetValue)(IorvParamsListItemW* self, VARIANT* value);
  void(KESTREL_CALL* SetName)(IorvParamsListItemW* self, const char* name);
  const char*(KESTREL_CALL* GetName)(IorvParamsListItemW* self);
  KestrelBool(KESTREL_CALL* IsNewRow)(IorvParamsListItemW* self);
  void(KESTREL_CALL* SetNameW)(IorvParamsListItemW* self, const OLECHAR* name);
  const OLECHAR*(KESTREL_CALL* GetNameW)(IorvParamsListItemW* self);
  HRESULT(KESTREL_CALL* SetValueW)(IorvParamsListItemW* self, const VARIANT* value);
  HRESULT(KESTREL_CALL* GetValueW)(IorvParamsListItemW* self, VARIANT* value);
} IorvParamsListItemWVtbl;

struct IorvParamsListItemA {
  const IorvParamsListItemAVtbl* lpVtbl;
};
struct IorvParamsListItemW {
  const IorvParamsListItemWVtbl* lpVtbl;
};

/* An ordered list of named values. Names are 8-bit text in the system code page (A) or UTF-16
   (W). AppendRow and the W form of AppendList/AppendRange take a list object of this library
   (an IorvParamsListA or IorvParamsListW pointer it handed out); the A form of
   AppendList/AppendRange takes a plain list object. */
typedef struct IorvParamsListAVtbl {
  HRESULT(KESTREL_CALL* QueryInterface)(IorvParamsListA* self, const KestrelGuid* iid, void** out);
  uint32_t(KESTREL_CALL* AddRef)(IorvParamsListA* self);
  uint32_t(KESTREL_CALL* Release)(IorvParamsListA* self);
  int32_t(KESTREL_CALL* GetCount)(IorvParamsListA* self);
  int32_t(KESTREL_CALL* GetSignature)(IorvParamsListA* self);
  int32_t(KESTREL_CALL* GetTag)(IorvParamsListA* self);
  void(KESTREL_CALL* SetTag)(IorvParamsListA* self, int32_t tag);
  void(KESTREL_CALL* Clear)(IorvParamsListA* self);
  void(KESTREL_CALL* Delete)(IorvParamsListA* self, int32_t index);
  KestrelBool(KESTREL_CALL* FindRowEnd)(IorvParamsListA* self, int32_t start, int32_t* index,
                                        KestrelBool* is_marker);
  void(KESTREL_CALL* AddNewRow)(IorvParamsListA* self);
  void(KESTREL_CALL* AppendRow)(IorvParamsListA* self, void* source);
  HRESULT(KESTREL_CALL* GetItem)(IorvParamsListA* self, int32_t index, IorvParamsListItemA** item);
  HRESULT(KESTREL_CALL* AppendList)(IorvParamsListA* self, void* source, KestrelBool* result);
  HRESULT(KESTREL_CALL* AppendRange)
  (IorvParamsListA* self, void* source, int32_t from, int32_t to, KestrelBool* result);
  HRESULT(KESTREL_CALL* Find)
  (IorvParamsListA* self, const char* name, int32_t start, int32_t stop,
   IorvParamsListItemA** item);
  HRESULT(KESTREL_CALL* IndexOf)
  (IorvParamsListA* self, const char* name, int32_t start, int32_t stop, int32_t* index);
  HRESULT(KESTREL_CALL* GetValue)
  (IorvParamsListA* self, const char* name, int32_t start, int32_t stop, VARIANT* value);
  HRESULT(KESTREL_CALL* GetValueDef)
  (IorvParamsListA* self, const char* name, const VARIANT* fallback, int32_t start, int32_t stop,
   VARIANT* value);
  HRESULT(KESTREL_CALL* Add)
  (IorvParamsListA* self, const char* name, const VARIANT* value, IorvParamsListItemA** item);
  HRESULT(KESTREL_CALL* Insert)
  (IorvParamsListA* self, int32_t index, const char* name, const VARIANT* value,
   IorvParamsListItemA** item);
  HRESULT(KESTREL_CALL* SetValue)
  (IorvParamsListA* self, const char* name, const VARIANT* value, KestrelBool add_if_missing,
   IorvParamsListItemA** item);
  HRESULT(KESTREL_CALL* AddItem)
  (IorvParamsListA* self, IorvParamsListItemA* source, IorvParamsListItemA** item);
} IorvParamsListAVtbl;

typedef struct IorvParamsListWVtbl {
  HRESULT(KESTREL_CALL* QueryInterface)(IorvParamsListW* self, const KestrelGuid* iid, void** out);
  uint32_t(KESTREL_CALL* AddRef)(IorvParamsListW* self);
  uint32_t(KESTREL_CALL* Release)(IorvParamsListW* self);
  int32_t(KESTREL_CALL* GetCount)(IorvParamsListW* self);
  int32_t(KESTREL_CALL* GetSignature)(IorvParamsListW* self);
  int32_t(KESTREL_CALL* GetTag)(IorvParamsListW* self);
  void(KESTREL_CALL* SetTag)(IorvParamsListW* self, int32_t tag);
  void(KESTREL_CALL* Clear)(IorvParamsListW* self);
  void(KESTREL_CALL* Delete)(IorvParamsListW* self, int32_t index);
  KestrelBool(KESTREL_CALL* FindRowEnd)(IorvParamsListW* self, int32_t start, int32_t* index,
                                        KestrelBool* is_marker);
  void(KESTREL_CALL* AddNewRow)(IorvParamsListW* self);
  void(KESTREL_CALL* AppendRow)(IorvParamsListW* self, void* source);
  HRESULT(KESTREL_CALL* GetItem)(IorvParamsListW* self, int32_t index, IorvParamsListItemW** item);
  HRESULT(KESTREL_CALL* AppendList)(IorvParamsListW* self, void* source, KestrelBool* result);
  HRESULT(KESTREL_CALL* AppendRange)
  (IorvParamsListW* self, void* source, int32_t from, int32_t to, KestrelBool* result);
  HRESULT(KESTREL_CALL* Find)
  (IorvParamsListW* self, const OLECHAR* name, int32_t start, int32_t stop,
   IorvParamsListItemW** item);
  HRESULT(KESTREL_CALL* IndexOf)
  (IorvParamsListW* self, const OLECHAR* name, int32_t start, int32_t stop, int32_t* index);
  HRESULT(KESTREL_CALL* GetValue)
  (IorvParamsListW* self, const OLECHAR* name, int32_t start, int32_t stop, VARIANT* value);
  HRESULT(KESTREL_CALL* GetValueDef)
  (IorvParamsListW* self, const OLECHAR* name, const VARIANT* fallback, int32_t start, int32_t stop,
   VARIANT* value);
  HRESULT(KESTREL_CALL* Add)
  (IorvParamsListW* self, const OLECHAR* name, const VARIANT* value, IorvParamsListItemW** item);
  HRESULT(KESTREL_CALL* Insert)
  (IorvParamsListW* self, int32_t index, const OLECHAR* name, const VARIANT* value,
   IorvParamsListItemW** item);
  HRESULT(KESTREL_CALL* SetValue)
  (IorvParamsListW* self, const OLECHAR* name, const VARIANT* value, KestrelBool add_if_missing,
   IorvParamsListItemW** item);
  HRESULT(KESTREL_CALL* AddItem)
  (IorvParamsListW* self, IorvParamsListItemW* source, IorvParamsListItemW** item);
} IorvParamsListWVtbl;

struct IorvParamsListA {
  const IorvParamsListAVtbl* lpVtbl;
};
struct IorvParamsListW {
  const IorvParamsListWVtbl* lpVtbl;
};

/* ---- Window messages posted to the host's message window ---------------------------------- */
/* wParam = the instance's ModuleIndex, lParam = 0. */
#define KESTREL_MSG_LOG_CHANGED 0x711     /* new log lines: collect them with GetLogEx */
#define KESTREL_MSG_RELOAD_SETTINGS 0x714 /* have the instance reload its settings */

/* ---- Options dialog status in ResultDesc.Payload (Kind 5) --------------------------------- */
#define KESTREL_DIALOG_NO_INSTANCE 2 /* ShowOptionsDialog: no such instance */
#define KESTREL_DIALOG_NO_HANDLER 3  /* ShowOptionsDialog: the module has no options dialog */
#define KESTREL_DIALOG_RUNNING 4     /* ShowOptionsDialog: while the dialog handler runs */

/* ---- Exports ------------------------------------------------------------------------------ */
/* 0 created (Instance written); -1 failure, also when Instance is not 0. */
KESTREL_API int32_t KESTREL_CALL CreatePluginInstance(TPluginCallRec* rec) KESTREL_NOEXCEPT;
/* 0 freed, or release-all done; -1 not found. */
KESTREL_API int32_t KESTREL_CALL FreePluginInstance(TPluginCallRec* rec) KESTREL_NOEXCEPT;
/* 1 when info was written, else 0; *needed receives the size required. */
KESTREL_API uint8_t KESTREL_CALL GetModuleInfo(TPluginCallRec* rec, TPluginModuleInfo* info,
                                               uint32_t* needed) KESTREL_NOEXCEPT;
/* The command's result; -1 bad record, no such instance or no "COMMAND"; -3 failure. */
KESTREL_API int32_t KESTREL_CALL ExecutePluginCommand(TPluginCallRec* rec) KESTREL_NOEXCEPT;
/* The module's processing result; -1 bad record (Params 0 included), no such instance or
   terminating; -3 failure. A kind-4 packet block in DataDesc must come from the allocator named
   at the top of this file: delivering rows grows it. */
KESTREL_API int32_t KESTREL_CALL ProcessData(TPluginCallRec* rec) KESTREL_NOEXCEPT;
/* Number of log bytes copied into the DataDesc buffer. */
KESTREL_API int32_t KESTREL_CALL GetLogEx(TPluginCallRec* rec) KESTREL_NOEXCEPT;
/* Status in ResultDesc. */
KESTREL_API void KESTREL_CALL GetOptionsDialog(TPluginCallRec* rec) KESTREL_NOEXCEPT;
KESTREL_API void KESTREL_CALL ShowOptionsDialog(TPluginCallRec* rec) KESTREL_NOEXCEPT;

/* Types of the exports, for hosts that resolve them at run time. */
typedef int32_t(KESTREL_CALL* PFN_CreatePluginInstance)(TPluginCallRec* rec);
typedef int32_t(KESTREL_CALL* PFN_FreePluginInstance)(TPluginCallRec* rec);
typedef uint8_t(KESTREL_CALL* PFN_GetModuleInfo)(TPluginCallRec* rec, TPluginModuleInfo* info,
                                                 uint32_t* needed);
typedef int32_t(KESTREL_CALL* PFN_ExecutePluginCommand)(TPluginCallRec* rec);
typedef int32_t(KESTREL_CALL* PFN_ProcessData)(TPluginCallRec* rec);
typedef int32_t(KESTREL_CALL* PFN_GetLogEx)(TPluginCallRec* rec);
typedef void(KESTREL_CALL* PFN_GetOptionsDialog)(TPluginCallRec* rec);
typedef void(KESTREL_CALL* PFN_ShowOptionsDialog)(TPluginCallRec* rec);

#ifdef __cplusplus
}
#endif

#endif /* KESTREL_H */
