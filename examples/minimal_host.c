/* A minimal Kestrel host in plain C on the public headers alone: load the library, create an
   instance, LOAD, SET-STATE, one ProcessData with a whole stream file as the packet, print each
   row as tab-separated name=value fields, UNLOAD, free. Run: minimal_host STREAM [INI [LIBRARY]]
   Build on Linux: cc minimal_host.c $(pkg-config --cflags --libs kestrel) -o minimal_host */
#include <kestrel/kestrel.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
/* An export into a function pointer, through memcpy: ISO C has no cast from void*. */
#define EXPORT(out, type, found) (memcpy(out, &(type){found}, sizeof(type)), *(out) != NULL)
#ifdef _WIN32
#define LIBRARY "kestrel.dll"
#define OPEN(path) ((void*)LoadLibraryA(path))
#define SYMBOL(lib, name, out) EXPORT(out, FARPROC, GetProcAddress((HMODULE)(lib), name))
#define BLOCK_ALLOC(size) HeapAlloc(GetProcessHeap(), 0, size)
#define BLOCK_FREE(block) HeapFree(GetProcessHeap(), 0, block)
#else
#include <dlfcn.h>
#define LIBRARY "libkestrel.so.5"
#define OPEN(path) dlopen(path, RTLD_NOW)
#define SYMBOL(lib, name, out) EXPORT(out, void*, dlsym(lib, name))
#define BLOCK_ALLOC(size) malloc(size)
#define BLOCK_FREE(block) free(block)
#endif

/* The host's list: the methods the plug-in calls on a host list (the host guide names them);
   the slots it never calls stay empty. Items live as long as their list; names compare exactly. */
// clang-format off
typedef struct Item { IorvParamsListItemA face; char* name; int32_t type; VARIANT value; } Item;
typedef struct List { IorvParamsListA face; int32_t count; Item* items[8192]; } List;
#define ITEM(s) ((Item*)(s))
#define LIST(s) ((List*)(s))
static uint32_t KESTREL_CALL ItemRef(IorvParamsListItemA* s) { return (void)s, 1; }
static void KESTREL_CALL SetKey(IorvParamsListItemA* s, const char* k) { (void)s, (void)k; }
static void KESTREL_CALL SetType(IorvParamsListItemA* s, int32_t t) { ITEM(s)->type = t; }
static void KESTREL_CALL SetState(IorvParamsListItemA* s, uint8_t v) { (void)s, (void)v; }
static const char* KESTREL_CALL Name(IorvParamsListItemA* s) { return ITEM(s)->name; }
static int32_t KESTREL_CALL Type(IorvParamsListItemA* s) { return ITEM(s)->type; }
static uint8_t KESTREL_CALL State(IorvParamsListItemA* s) { return (void)s, 0; }
static HRESULT KESTREL_CALL ItemGet(IorvParamsListItemA* s, VARIANT* v) { VariantInit(v); return VariantCopy(v, &ITEM(s)->value); }
static const IorvParamsListItemAVtbl kItem = {.AddRef = ItemRef, .Release = ItemRef,
  .SetKeyText = SetKey, .SetDataType = SetType, .SetState = SetState, .GetKeyText = Name,
  .GetDataType = Type, .GetState = State, .GetValue = ItemGet, .GetName = Name};
static uint32_t KESTREL_CALL Ref(IorvParamsListA* s) { return (void)s, 1; }
static int32_t KESTREL_CALL Count(IorvParamsListA* s) { return LIST(s)->count; }
static HRESULT KESTREL_CALL GetItem(IorvParamsListA* s, int32_t i, IorvParamsListItemA** out) {
  return (*out = i >= 0 && i < Count(s) ? &LIST(s)->items[i]->face : NULL) ? S_OK : E_UNEXPECTED;
}
// clang-format on
static void KESTREL_CALL Clear(IorvParamsListA* s) {
  for (List* l = LIST(s); l->count > 0; free(l->items[--l->count])) {
    VariantClear(&l->items[l->count - 1]->value);
    free(l->items[l->count - 1]->name);
  }
}
static HRESULT KESTREL_CALL IndexOf(IorvParamsListA* s, const char* n, int32_t start, int32_t stop,
                                    int32_t* out) {
  for (*out = start < 0 ? 0 : start; n && *out < Count(s) && (stop < 0 || *out <= stop); ++*out)
    if (strcmp(LIST(s)->items[*out]->name, n) == 0)
      return S_OK;
  return *out = -1, S_OK;
}
static HRESULT KESTREL_CALL GetValue(IorvParamsListA* s, const char* n, int32_t a, int32_t b,
                                     VARIANT* v) {
  int32_t i;
  IndexOf(s, n, a, b, &i);
  VariantInit(v);
  return i < 0 ? S_OK : VariantCopy(v, &LIST(s)->items[i]->value);
}
static HRESULT KESTREL_CALL Add(IorvParamsListA* s, const char* n, const VARIANT* v,
                                IorvParamsListItemA** out) {
  Item* item = LIST(s)->count < 8192 ? calloc(1, sizeof(Item)) : NULL;
  if (out)
    *out = item ? &item->face : NULL;
  if (!item)
    return E_OUTOFMEMORY;
  item->face.lpVtbl = &kItem;
  item->name = strcpy(malloc(strlen(n ? n : "") + 1), n ? n : "");
  LIST(s)->items[LIST(s)->count++] = item;
  return v ? VariantCopy(&item->value, (VARIANT*)v) : S_OK;
}
static HRESULT KESTREL_CALL SetValue(IorvParamsListA* s, const char* n, const VARIANT* v,
                                     KestrelBool add, IorvParamsListItemA** out) {
  int32_t i;
  IndexOf(s, n, 0, -1, &i);
  if (i < 0)
    return add ? Add(s, n, v, out) : S_OK;
  if (out)
    *out = &LIST(s)->items[i]->face;
  VariantClear(&LIST(s)->items[i]->value);
  return VariantCopy(&LIST(s)->items[i]->value, (VARIANT*)v);
}
// clang-format off
static const IorvParamsListAVtbl kList = {.AddRef = Ref, .Release = Ref, .GetCount = Count,
  .Clear = Clear, .GetItem = GetItem, .IndexOf = IndexOf, .GetValue = GetValue, .Add = Add,
  .SetValue = SetValue};
// clang-format on
/* A text parameter (8-bit) as a BSTR. */
static void Param(List* list, const char* name, const char* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(NULL, (UINT)strlen(text));
  for (UINT i = 0; text[i]; ++i)
    v.bstrVal[i] = (OLECHAR)(unsigned char)text[i];
  Add(&list->face, name, &v, NULL);
  VariantClear(&v);
}
/* Prints a value: texts with \uXXXX for what is not ASCII, numbers, booleans, dates as days
   since 1899-12-30. */
static void PrintValue(const VARIANT* v) {
  for (UINT i = 0; v->vt == VT_BSTR && i < SysStringLen(v->bstrVal); ++i)
    printf(v->bstrVal[i] < 0x80 ? "%c" : "\\u%04x", (unsigned)v->bstrVal[i]);
  if (v->vt == VT_I4)
    printf("%ld", (long)v->lVal);
  else if (v->vt == VT_I8)
    printf("%lld", (long long)v->llVal);
  else if (v->vt == VT_R8 || v->vt == VT_DATE)
    printf("%.15g", v->vt == VT_R8 ? v->dblVal : v->date);
  else if (v->vt == VT_BOOL)
    fputs(v->boolVal ? "true" : "false", stdout);
  else if (v->vt != VT_BSTR && v->vt != VT_EMPTY && v->vt != VT_NULL)
    printf("(type %u)", (unsigned)v->vt);
}
static PFN_ExecutePluginCommand execute;
static List params = {.face = {&kList}}, rows = {.face = {&kList}}; /* big: static */
/* Params: a variable holding the interface, zeros after it (no plain list's signature there) */
static IorvParamsListA *slot[2], *rows_slot[2];
static TPluginCallRec Record(uintptr_t instance) {
  TPluginCallRec rec = {.RecSize = sizeof rec, .Instance = instance, .ModuleIndex = 1};
  slot[0] = &params.face;
  rec.Params = &slot;
  return rec;
}
static int32_t Command(uintptr_t instance, const char* command, uint8_t flags) {
  TPluginCallRec rec = Record(instance);
  Param(&params, "COMMAND", command);
  rec.DataFlags = flags;
  const int32_t result = execute(&rec);
  Clear(&params.face);
  return result;
}

int main(int argc, char** argv) {
  if (argc < 2)
    return fprintf(stderr, "usage: minimal_host STREAM [INI-FILE [LIBRARY]]\n"), 2;
  void* library = OPEN(argc > 3 ? argv[3] : LIBRARY);
  PFN_CreatePluginInstance create;
  PFN_FreePluginInstance destroy;
  PFN_ProcessData process;
  if (!library || !SYMBOL(library, "CreatePluginInstance", &create) ||
      !SYMBOL(library, "FreePluginInstance", &destroy) ||
      !SYMBOL(library, "ProcessData", &process) ||
      !SYMBOL(library, "ExecutePluginCommand", &execute))
    return fprintf(stderr, "minimal_host: cannot load %s\n", argc > 3 ? argv[3] : LIBRARY), 3;
  FILE* file = fopen(argv[1], "rb");
  long size = file && fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
  char* packet = size >= 0 ? BLOCK_ALLOC((size_t)size + 1) : NULL; /* grown by the plug-in */
  if (!packet || (rewind(file), fread(packet, 1, (size_t)size, file)) != (size_t)size)
    return fprintf(stderr, "minimal_host: cannot read %s\n", argv[1]), 5;
  fclose(file);
  TPluginCallRec rec = Record(0);
  if (create(&rec) != KESTREL_RESULT_OK)
    return fprintf(stderr, "minimal_host: CreatePluginInstance failed\n"), 1;
  const uintptr_t instance = rec.Instance;
  Param(&params, "REGISTRY-PATH", "\\Software\\Kestrel\\minimal-host");
  if (argc > 2)
    Param(&params, "INI-FILE", argv[2]);
  const int32_t loaded = Command(instance, "LOAD", 0);
  char sources[1200]; /* "id;name;long name" lines */
  snprintf(sources, sizeof sources, "1;%s;%s\r\n", argv[1], argv[1]);
  Param(&params, "DATA-SOURCES-IN-CFG", sources);
  Param(&params, "RESULT", "1"); /* enabled */
  if (loaded != KESTREL_RESULT_OK || Command(instance, "SET-STATE", KESTREL_DATA_PACKET) != 0)
    return fprintf(stderr, "minimal_host: LOAD or SET-STATE failed\n"), 1;
  rec = Record(instance);
  rec.DataSourceId = 1;
  rec.DataFlags = KESTREL_DATA_PACKET;
  rec.DataDesc = (TPluginCallData){0, (uint32_t)size, KESTREL_KIND_MEMORY, (uintptr_t)packet};
  rows_slot[0] = &rows.face;
  rec.ResultDesc = (TPluginCallData){0, 0, KESTREL_KIND_INTERFACE, (uintptr_t)&rows_slot};
  const int32_t result = process(&rec);
  BLOCK_FREE(rec.DataDesc.Payload ? (void*)rec.DataDesc.Payload : packet);
  for (int32_t i = 0, fields = 0; i < rows.count; ++i) { /* a marker ends each row */
    if (rows.items[i]->type != KESTREL_ROW_MARKER_TYPE) {
      printf("%s%s=", fields++ ? "\t" : "", rows.items[i]->name);
      PrintValue(&rows.items[i]->value);
    }
    if (fields && (rows.items[i]->type == KESTREL_ROW_MARKER_TYPE || i + 1 == rows.count))
      fields = 0, putchar('\n');
  }
  Command(instance, "UNLOAD", 0);
  rec = Record(instance);
  destroy(&rec);
  rec = Record(0);
  rec.DataDesc = (TPluginCallData){0, 0, KESTREL_KIND_RELEASE_ALL, KESTREL_RELEASE_ALL_PAYLOAD};
  destroy(&rec);
  Clear(&rows.face);
  return result < 0 ? 1 : 0;
}
