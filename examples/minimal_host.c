/* A minimal Kestrel host in plain C: loads the library, runs one stream file through one
   instance as a single packet and prints each row as "name=value" fields. Uses only the public
   headers. Build (Linux): cc minimal_host.c $(pkg-config --cflags --libs kestrel)
   Run: minimal_host STREAM [INI-FILE [LIBRARY]] */
#include <kestrel/kestrel.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#define LIBRARY "kestrel.dll"
#define OPEN(path) ((void*)LoadLibraryA(path))
#define SYMBOL(lib, name) ((void*)GetProcAddress((HMODULE)(lib), name))
#define BLOCK_ALLOC(size) HeapAlloc(GetProcessHeap(), 0, size)
#define BLOCK_FREE(block) HeapFree(GetProcessHeap(), 0, block)
#else
#include <dlfcn.h>
#define LIBRARY "libkestrel.so.5"
#define OPEN(path) dlopen(path, RTLD_NOW)
#define SYMBOL(lib, name) dlsym(lib, name)
#define BLOCK_ALLOC(size) malloc(size)
#define BLOCK_FREE(block) free(block)
#endif

/* The host's parameter list: what the plug-in calls on a list it is handed (GetValue, IndexOf,
   SetValue, Add, GetCount, GetItem, Clear and the item accessors). Names compare exactly. */
typedef struct Item {
  IorvParamsListItemA face;
  char* name;
  int32_t type;
  VARIANT value;
} Item;
typedef struct List {
  IorvParamsListA face;
  int32_t count;
  Item* items[4096];
} List;

static HRESULT KESTREL_CALL ItemQuery(IorvParamsListItemA* s, const KestrelGuid* iid, void** out) {
  (void)s, (void)iid, *out = NULL;
  return E_NOINTERFACE;
}
static uint32_t KESTREL_CALL ItemRef(IorvParamsListItemA* s) { return (void)s, 1; }
static void KESTREL_CALL ItemSetKey(IorvParamsListItemA* s, const char* key) { (void)s, (void)key; }
static void KESTREL_CALL ItemSetType(IorvParamsListItemA* s, int32_t t) { ((Item*)s)->type = t; }
static void KESTREL_CALL ItemSetState(IorvParamsListItemA* s, uint8_t v) { (void)s, (void)v; }
static const char* KESTREL_CALL ItemName(IorvParamsListItemA* s) { return ((Item*)s)->name; }
static int32_t KESTREL_CALL ItemType(IorvParamsListItemA* s) { return ((Item*)s)->type; }
static uint8_t KESTREL_CALL ItemState(IorvParamsListItemA* s) { return (void)s, 0; }
static HRESULT KESTREL_CALL ItemSet(IorvParamsListItemA* s, const VARIANT* v) {
  VariantClear(&((Item*)s)->value);
  return VariantCopy(&((Item*)s)->value, (VARIANT*)v);
}
static HRESULT KESTREL_CALL ItemGet(IorvParamsListItemA* s, VARIANT* v) {
  VariantInit(v);
  return VariantCopy(v, &((Item*)s)->value);
}
static void KESTREL_CALL ItemSetName(IorvParamsListItemA* s, const char* n) { (void)s, (void)n; }
static KestrelBool KESTREL_CALL ItemIsRow(IorvParamsListItemA* s) {
  return ((Item*)s)->type == KESTREL_ROW_MARKER_TYPE;
}
static const IorvParamsListItemAVtbl kItem = {ItemQuery, ItemRef,   ItemRef,  ItemSetKey, ItemSetType,
                                              ItemSetState, ItemName, ItemType, ItemState, ItemSet,
                                              ItemGet,  ItemSetName, ItemName, ItemIsRow};

static HRESULT KESTREL_CALL Query(IorvParamsListA* s, const KestrelGuid* iid, void** out) {
  *out = memcmp(iid, &IID_IorvParamsListA, sizeof *iid) ? NULL : s;
  return *out ? S_OK : E_NOINTERFACE;
}
static uint32_t KESTREL_CALL Ref(IorvParamsListA* s) { return (void)s, 1; }
static int32_t KESTREL_CALL Count(IorvParamsListA* s) { return ((List*)s)->count; }
static int32_t KESTREL_CALL Zero(IorvParamsListA* s) { return (void)s, 0; }
static void KESTREL_CALL SetTag(IorvParamsListA* s, int32_t tag) { (void)s, (void)tag; }
static void KESTREL_CALL Clear(IorvParamsListA* s) {
  for (List* l = (List*)s; l->count > 0; free(l->items[--l->count]))
    VariantClear(&l->items[l->count - 1]->value), free(l->items[l->count - 1]->name);
}
static void KESTREL_CALL Delete(IorvParamsListA* s, int32_t i) { (void)s, (void)i; }
static KestrelBool KESTREL_CALL RowEnd(IorvParamsListA* s, int32_t a, int32_t* i, KestrelBool* m) {
  return (void)s, (void)a, *i = -1, *m = 0, 0;
}
static HRESULT KESTREL_CALL Add(IorvParamsListA* s, const char* n, const VARIANT* v,
                                IorvParamsListItemA** out);
static void KESTREL_CALL NewRow(IorvParamsListA* s) {
  IorvParamsListItemA* item = NULL;
  if (Add(s, KESTREL_ROW_MARKER_NAME, NULL, &item) == S_OK)
    ((Item*)item)->type = KESTREL_ROW_MARKER_TYPE;
}
static void KESTREL_CALL AppendRow(IorvParamsListA* s, void* from) { (void)s, (void)from; }
static HRESULT KESTREL_CALL GetItem(IorvParamsListA* s, int32_t i, IorvParamsListItemA** out) {
  *out = i >= 0 && i < Count(s) ? &((List*)s)->items[i]->face : NULL;
  return *out ? S_OK : E_UNEXPECTED;
}
static HRESULT KESTREL_CALL AppendList(IorvParamsListA* s, void* from, KestrelBool* ok) {
  return (void)s, (void)from, *ok = 0, E_NOTIMPL;
}
static HRESULT KESTREL_CALL AppendRange(IorvParamsListA* s, void* f, int32_t a, int32_t b,
                                        KestrelBool* ok) {
  return (void)a, (void)b, AppendList(s, f, ok);
}
static int32_t Index(IorvParamsListA* s, const char* n, int32_t start, int32_t stop) {
  if (stop < 0 || stop >= Count(s))
    stop = Count(s) - 1;
  for (int32_t i = start < 0 ? 0 : start; n && i <= stop; ++i)
    if (strcmp(((List*)s)->items[i]->name, n) == 0)
      return i;
  return -1;
}
static HRESULT KESTREL_CALL Find(IorvParamsListA* s, const char* n, int32_t a, int32_t b,
                                 IorvParamsListItemA** out) {
  return GetItem(s, Index(s, n, a, b), out), S_OK;
}
static HRESULT KESTREL_CALL IndexOf(IorvParamsListA* s, const char* n, int32_t a, int32_t b,
                                    int32_t* out) {
  return *out = Index(s, n, a, b), S_OK;
}
static HRESULT KESTREL_CALL GetValueDef(IorvParamsListA* s, const char* n, const VARIANT* def,
                                        int32_t a, int32_t b, VARIANT* v) {
  const int32_t i = Index(s, n, a, b);
  VariantInit(v);
  return VariantCopy(v, i < 0 ? (VARIANT*)def : &((List*)s)->items[i]->value);
}
static HRESULT KESTREL_CALL GetValue(IorvParamsListA* s, const char* n, int32_t a, int32_t b,
                                     VARIANT* v) {
  VARIANT empty;
  VariantInit(&empty);
  return GetValueDef(s, n, &empty, a, b, v);
}
static HRESULT KESTREL_CALL Add(IorvParamsListA* s, const char* n, const VARIANT* v,
                                IorvParamsListItemA** out) {
  List* l = (List*)s;
  Item* item = l->count < 4096 ? calloc(1, sizeof(Item)) : NULL;
  if (out)
    *out = item ? &item->face : NULL;
  if (!item)
    return E_OUTOFMEMORY;
  item->face.lpVtbl = &kItem;
  item->name = strcpy(malloc(strlen(n ? n : "") + 1), n ? n : "");
  l->items[l->count++] = item;
  return v ? ItemSet(&item->face, v) : S_OK;
}
static HRESULT KESTREL_CALL Insert(IorvParamsListA* s, int32_t i, const char* n, const VARIANT* v,
                                   IorvParamsListItemA** out) {
  return (void)s, (void)i, (void)n, (void)v, *out = NULL, E_NOTIMPL;
}
static HRESULT KESTREL_CALL SetValue(IorvParamsListA* s, const char* n, const VARIANT* v,
                                     KestrelBool add, IorvParamsListItemA** out) {
  const int32_t i = Index(s, n, 0, -1);
  IorvParamsListItemA* item = NULL;
  if (out)
    *out = NULL;
  if (i < 0)
    return add ? Add(s, n, v, out) : S_OK;
  GetItem(s, i, out ? out : &item);
  return ItemSet(&((List*)s)->items[i]->face, v);
}
static HRESULT KESTREL_CALL AddItem(IorvParamsListA* s, IorvParamsListItemA* from,
                                    IorvParamsListItemA** out) {
  return (void)s, (void)from, *out = NULL, E_NOTIMPL;
}
static const IorvParamsListAVtbl kList = {
    Query,     Ref,     Ref,        Count,       Zero,  Zero,     SetTag,   Clear,
    Delete,    RowEnd,  NewRow,     AppendRow,   GetItem, AppendList, AppendRange, Find,
    IndexOf,   GetValue, GetValueDef, Add,       Insert, SetValue, AddItem};

/* Adds a text parameter (ASCII) as a BSTR. */
static void AddText(List* list, const char* name, const char* text) {
  VARIANT v;
  OLECHAR wide[1024];
  size_t n = 0;
  for (; text[n] && n < 1024; ++n)
    wide[n] = (OLECHAR)(unsigned char)text[n];
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(wide, (UINT)n);
  Add(&list->face, name, &v, NULL);
  VariantClear(&v);
}
