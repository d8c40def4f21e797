/* The host's own list: items in a growing array, names compared ASCII-case-insensitively. Only
   what a host needs is implemented; the rest answers E_NOTIMPL.

   A result list takes thousands of values per second, so its items and their names live in a
   chunked arena the list owns: an item costs no allocation of its own (only its value may, a
   string being a BSTR), and Clear keeps the newest chunk for the next packet's rows. */
#include "host_list.h"

#include <stdlib.h>
#include <string.h>

/* Under AddressSanitizer the arena marks what it has not handed out, or has taken back, as
   unreadable: a library that keeps using an item after Delete or Clear is still caught. */
#if defined(__SANITIZE_ADDRESS__)
#define HOST_LIST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_LIST_ASAN 1
#endif
#endif
#ifdef HOST_LIST_ASAN
#include <sanitizer/asan_interface.h>
#define ARENA_HIDE(at, size) ASAN_POISON_MEMORY_REGION((at), (size))
#define ARENA_SHOW(at, size) ASAN_UNPOISON_MEMORY_REGION((at), (size))
#else
#define ARENA_HIDE(at, size) ((void)(at), (void)(size))
#define ARENA_SHOW(at, size) ((void)(at), (void)(size))
#endif

typedef struct HostList HostList;

typedef struct HostItem {
  IorvParamsListItemA face;
  HostList* list; /* the arena that holds the item and its texts */
  char* name;
  char* key;
  size_t key_room; /* bytes the key's buffer holds, its terminator included */
  int32_t type;
  uint8_t state;
  VARIANT value;
} HostItem;

typedef struct Chunk {
  struct Chunk* next; /* the older chunks */
  size_t size;
  size_t used;
} Chunk;

struct HostList {
  IorvParamsListA face;
  uint32_t refs;
  int32_t tag;
  int count;
  int capacity;
  HostItem** items;
  Chunk* chunks; /* newest first */
};

static int g_live = 0;

enum { kAlign = 16, kFirstChunk = 16 * 1024, kLargestChunk = 1024 * 1024 };

static size_t round_up(size_t size) {
  return (size + kAlign - 1) & ~(size_t)(kAlign - 1);
}

/* `size` bytes from the list's arena, aligned for any value; NULL when memory runs out. */
static void* arena_take(HostList* list, size_t size) {
  size = round_up(size);
  Chunk* chunk = list->chunks;
  const size_t header = round_up(sizeof(Chunk));
  if (!chunk || chunk->size - chunk->used < size) {
    size_t grown = chunk ? chunk->size * 2 : kFirstChunk;
    if (grown > kLargestChunk)
      grown = kLargestChunk;
    if (grown < header + size)
      grown = header + size;
    Chunk* fresh = (Chunk*)malloc(grown);
    if (!fresh)
      return NULL;
    fresh->next = chunk;
    fresh->size = grown;
    fresh->used = header;
    ARENA_HIDE((char*)fresh + header, grown - header);
    list->chunks = fresh;
    chunk = fresh;
  }
  void* block = (char*)chunk + chunk->used;
  chunk->used += size;
  ARENA_SHOW(block, size);
  return block;
}

/* Forgets everything taken; the newest chunk stays for reuse, the older ones are freed. */
static void arena_reset(HostList* list, int keep_newest) {
  Chunk* chunk = list->chunks;
  Chunk* older = chunk ? chunk->next : NULL;
  if (chunk && !keep_newest) {
    older = chunk;
    list->chunks = NULL;
  } else if (chunk) {
    chunk->next = NULL;
    chunk->used = round_up(sizeof(Chunk));
    ARENA_HIDE((char*)chunk + chunk->used, chunk->size - chunk->used);
  }
  while (older) {
    Chunk* next = older->next;
    free(older);
    older = next;
  }
}

static char* arena_text(HostList* list, const char* text, size_t length) {
  char* copy = (char*)arena_take(list, length + 1);
  if (!copy)
    return NULL;
  if (length)
    memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

static int same_name(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? (char)(*a - 'A' + 'a') : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? (char)(*b - 'A' + 'a') : *b;
    if (x != y)
      return 0;
    if (!x)
      return 1;
  }
}

/* ---- items: owned by their list, the interface lives as long as the list ---- */
static HostItem* item_of(IorvParamsListItemA* face) {
  return (HostItem*)face;
}
static HRESULT KESTREL_CALL item_query(IorvParamsListItemA* self, const KestrelGuid* iid,
                                       void** out) {
  (void)self;
  (void)iid;
  *out = NULL;
  return E_NOINTERFACE;
}
static uint32_t KESTREL_CALL item_addref(IorvParamsListItemA* self) {
  (void)self;
  return 1;
}
static uint32_t KESTREL_CALL item_release(IorvParamsListItemA* self) {
  (void)self;
  return 1;
}
/* A key usually replaces one of the same length (the name lower-cased): it goes into the old
   buffer; a longer one takes new arena space. */
static void KESTREL_CALL item_set_key(IorvParamsListItemA* self, const char* key) {
  HostItem* item = item_of(self);
  const size_t length = key ? strlen(key) : 0;
  if (length < item->key_room) {
    memcpy(item->key, key ? key : "", length);
    item->key[length] = 0;
    return;
  }
  char* copy = arena_text(item->list, key, length);
  if (copy) {
    item->key = copy;
    item->key_room = length + 1;
  }
}
static void KESTREL_CALL item_set_type(IorvParamsListItemA* self, int32_t type) {
  item_of(self)->type = type;
}
static void KESTREL_CALL item_set_state(IorvParamsListItemA* self, uint8_t state) {
  item_of(self)->state = state;
}
static const char* KESTREL_CALL item_get_key(IorvParamsListItemA* self) {
  return item_of(self)->key;
}
static int32_t KESTREL_CALL item_get_type(IorvParamsListItemA* self) {
  return item_of(self)->type;
}
static uint8_t KESTREL_CALL item_get_state(IorvParamsListItemA* self) {
  return item_of(self)->state;
}
/* Windows declares the source of VariantCopy without const; it is only read, so the casts below
   drop the qualifier. */
static HRESULT KESTREL_CALL item_set_value(IorvParamsListItemA* self, const VARIANT* value) {
  return VariantCopy(&item_of(self)->value, (VARIANT*)value);
}
static HRESULT KESTREL_CALL item_get_value(IorvParamsListItemA* self, VARIANT* value) {
  VariantInit(value);
  return VariantCopy(value, &item_of(self)->value);
}
static void KESTREL_CALL item_set_name(IorvParamsListItemA* self, const char* name) {
  HostItem* item = item_of(self);
  char* copy = arena_text(item->list, name, name ? strlen(name) : 0);
  if (copy)
    item->name = copy;
}
static const char* KESTREL_CALL item_get_name(IorvParamsListItemA* self) {
  return item_of(self)->name;
}
static KestrelBool KESTREL_CALL item_is_new_row(IorvParamsListItemA* self) {
  return item_of(self)->type == KESTREL_ROW_MARKER_TYPE;
}

static const IorvParamsListItemAVtbl kItemTable = {
    item_query,     item_addref,   item_release,  item_set_key,   item_set_type,
    item_set_state, item_get_key,  item_get_type, item_get_state, item_set_value,
    item_get_value, item_set_name, item_get_name, item_is_new_row};

/* The item, its name and its key in one piece of the arena. */
static HostItem* item_new(HostList* list, const char* name, const VARIANT* value) {
  const size_t length = name ? strlen(name) : 0;
  const size_t head = round_up(sizeof(HostItem));
  char* block = (char*)arena_take(list, head + 2 * (length + 1));
  if (!block)
    return NULL;
  HostItem* item = (HostItem*)block;
  memset(item, 0, sizeof(HostItem));
  item->face.lpVtbl = &kItemTable;
  item->list = list;
  item->name = block + head;
  item->key = item->name + length + 1;
  item->key_room = length + 1;
  if (length) {
    memcpy(item->name, name, length);
    memcpy(item->key, name, length);
  }
  item->name[length] = 0;
  item->key[length] = 0;
  VariantInit(&item->value);
  if (value)
    VariantCopy(&item->value, (VARIANT*)value);
  return item;
}

/* The item's arena space is given back with the whole arena, at Clear or Release. */
static void item_free(HostItem* item) {
  VariantClear(&item->value);
  ARENA_HIDE(item, sizeof(HostItem));
}

/* ---- the list ---- */
static HostList* list_of(IorvParamsListA* face) {
  return (HostList*)face;
}

static HRESULT KESTREL_CALL list_query(IorvParamsListA* self, const KestrelGuid* iid, void** out) {
  *out = NULL;
  if (memcmp(iid, &IID_IorvParamsListA, sizeof(KestrelGuid)) != 0)
    return E_NOINTERFACE;
  ++list_of(self)->refs;
  *out = self;
  return S_OK;
}
static uint32_t KESTREL_CALL list_addref(IorvParamsListA* self) {
  return ++list_of(self)->refs;
}
static void KESTREL_CALL list_clear(IorvParamsListA* self) {
  HostList* list = list_of(self);
  for (int i = 0; i < list->count; ++i)
    item_free(list->items[i]);
  list->count = 0;
  arena_reset(list, 1);
}
static uint32_t KESTREL_CALL list_release(IorvParamsListA* self) {
  uint32_t left = --list_of(self)->refs;
  if (left == 0) {
    list_clear(self);
    arena_reset(list_of(self), 0);
    free(list_of(self)->items);
    free(list_of(self));
    --g_live;
  }
  return left;
}
static int32_t KESTREL_CALL list_count(IorvParamsListA* self) {
  return list_of(self)->count;
}
static int32_t KESTREL_CALL list_signature(IorvParamsListA* self) {
  (void)self;
  return 0;
}
static int32_t KESTREL_CALL list_get_tag(IorvParamsListA* self) {
  return list_of(self)->tag;
}
static void KESTREL_CALL list_set_tag(IorvParamsListA* self, int32_t tag) {
  list_of(self)->tag = tag;
}
static void KESTREL_CALL list_delete(IorvParamsListA* self, int32_t index) {
  HostList* list = list_of(self);
  if (index < 0 || index >= list->count)
    return;
  item_free(list->items[index]);
  memmove(&list->items[index], &list->items[index + 1],
          sizeof(HostItem*) * (size_t)(list->count - index - 1));
  --list->count;
}
static KestrelBool KESTREL_CALL list_find_row_end(IorvParamsListA* self, int32_t start,
                                                  int32_t* index, KestrelBool* marker) {
  (void)self;
  (void)start;
  *index = -1;
  *marker = 0;
  return 0;
}
static HRESULT list_append(HostList* list, const char* name, const VARIANT* value,
                           IorvParamsListItemA** out) {
  if (out)
    *out = NULL;
  if (list->count == list->capacity) {
    const int capacity = list->capacity ? list->capacity * 2 : 16;
    HostItem** grown = (HostItem**)realloc(list->items, sizeof(HostItem*) * (size_t)capacity);
    if (!grown)
      return E_OUTOFMEMORY;
    list->items = grown;
    list->capacity = capacity;
  }
  HostItem* item = item_new(list, name, value);
  if (!item)
    return E_OUTOFMEMORY;
  list->items[list->count++] = item;
  if (out)
    *out = &item->face;
  return S_OK;
}
static void KESTREL_CALL list_add_new_row(IorvParamsListA* self) {
  IorvParamsListItemA* item = NULL;
  list_append(list_of(self), KESTREL_ROW_MARKER_NAME, NULL, &item);
  if (item)
    item_of(item)->type = KESTREL_ROW_MARKER_TYPE;
}
static void KESTREL_CALL list_append_row(IorvParamsListA* self, void* source) {
  (void)self;
  (void)source;
}
static HRESULT KESTREL_CALL list_get_item(IorvParamsListA* self, int32_t index,
                                          IorvParamsListItemA** item) {
  HostList* list = list_of(self);
  *item = (index >= 0 && index < list->count) ? &list->items[index]->face : NULL;
  return S_OK;
}
static HRESULT KESTREL_CALL list_append_list(IorvParamsListA* self, void* source,
                                             KestrelBool* result) {
  (void)self;
  (void)source;
  *result = 0;
  return E_NOTIMPL;
}
static HRESULT KESTREL_CALL list_append_range(IorvParamsListA* self, void* source, int32_t from,
                                              int32_t to, KestrelBool* result) {
  (void)from;
  (void)to;
  return list_append_list(self, source, result);
}
static int find_index(HostList* list, const char* name, int32_t start, int32_t stop) {
  if (start < 0)
    start = 0;
  if (stop < 0 || stop >= list->count)
    stop = list->count - 1;
  for (int i = start; i <= stop; ++i)
    if (name && same_name(list->items[i]->name, name))
      return i;
  return -1;
}
static HRESULT KESTREL_CALL list_find(IorvParamsListA* self, const char* name, int32_t start,
                                      int32_t stop, IorvParamsListItemA** item) {
  int index = find_index(list_of(self), name, start, stop);
  *item = index >= 0 ? &list_of(self)->items[index]->face : NULL;
  return S_OK;
}
static HRESULT KESTREL_CALL list_index_of(IorvParamsListA* self, const char* name, int32_t start,
                                          int32_t stop, int32_t* index) {
  *index = find_index(list_of(self), name, start, stop);
  return S_OK;
}
static HRESULT KESTREL_CALL list_get_value(IorvParamsListA* self, const char* name, int32_t start,
                                           int32_t stop, VARIANT* value) {
  int index = find_index(list_of(self), name, start, stop);
  VariantInit(value);
  return index < 0 ? S_OK : VariantCopy(value, &list_of(self)->items[index]->value);
}
static HRESULT KESTREL_CALL list_get_value_def(IorvParamsListA* self, const char* name,
                                               const VARIANT* fallback, int32_t start, int32_t stop,
                                               VARIANT* value) {
  int index = find_index(list_of(self), name, start, stop);
  VariantInit(value);
  return VariantCopy(value, index < 0 ? (VARIANT*)fallback : &list_of(self)->items[index]->value);
}
static HRESULT KESTREL_CALL list_add(IorvParamsListA* self, const char* name, const VARIANT* value,
                                     IorvParamsListItemA** item) {
  return list_append(list_of(self), name, value, item);
}
static HRESULT KESTREL_CALL list_insert(IorvParamsListA* self, int32_t index, const char* name,
                                        const VARIANT* value, IorvParamsListItemA** item) {
  (void)self;
  (void)index;
  (void)name;
  (void)value;
  *item = NULL;
  return E_NOTIMPL;
}
static HRESULT KESTREL_CALL list_set_value(IorvParamsListA* self, const char* name,
                                           const VARIANT* value, KestrelBool add,
                                           IorvParamsListItemA** item) {
  HostList* list = list_of(self);
  int index = find_index(list, name, 0, -1);
  if (item)
    *item = NULL;
  if (index < 0)
    return add ? list_append(list, name, value, item) : S_OK;
  if (item)
    *item = &list->items[index]->face;
  return VariantCopy(&list->items[index]->value, (VARIANT*)value);
}
static HRESULT KESTREL_CALL list_add_item(IorvParamsListA* self, IorvParamsListItemA* source,
                                          IorvParamsListItemA** item) {
  (void)self;
  (void)source;
  *item = NULL;
  return E_NOTIMPL;
}

static const IorvParamsListAVtbl kListTable = {
    list_query,       list_addref,     list_release,   list_count,         list_signature,
    list_get_tag,     list_set_tag,    list_clear,     list_delete,        list_find_row_end,
    list_add_new_row, list_append_row, list_get_item,  list_append_list,   list_append_range,
    list_find,        list_index_of,   list_get_value, list_get_value_def, list_add,
    list_insert,      list_set_value,  list_add_item};

IorvParamsListA* host_list_create(void) {
  HostList* list = (HostList*)calloc(1, sizeof(HostList));
  list->face.lpVtbl = &kListTable;
  list->refs = 1;
  ++g_live;
  return &list->face;
}

void host_list_add_int(IorvParamsListA* list, const char* name, int32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  list_append(list_of(list), name, &v, NULL);
}

void host_list_add_text(IorvParamsListA* list, const char* name, const char* ascii) {
  OLECHAR wide[128];
  size_t length = strlen(ascii);
  if (length > 127)
    length = 127;
  for (size_t i = 0; i < length; ++i)
    wide[i] = (OLECHAR)(unsigned char)ascii[i];
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(wide, (uint32_t)length);
  list_append(list_of(list), name, &v, NULL);
  VariantClear(&v);
}

void host_list_add_value(IorvParamsListA* list, const char* name, const VARIANT* value) {
  list_append(list_of(list), name, value, NULL);
}

const VARIANT* host_list_item_value(IorvParamsListItemA* item) {
  return &item_of(item)->value;
}

int host_list_live_count(void) {
  return g_live;
}
