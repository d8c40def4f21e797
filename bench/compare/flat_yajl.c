/* Flat rows from a stream of concatenated JSON blocks with yajl's event parser, the way a C
   program on yajl would do it: yajl_allow_multiple_values, the stream fed in chunks, nested
   names joined with "_", an array one value (its element count), the elements of a top-level
   array one row each. After a parse error the parser starts again at the next '{' or '['.

     flat_yajl [--chunk N] STREAM      prints "bytes seconds rows values cpu-seconds" */
#include <yajl/yajl_parse.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct Text {
  char* data;
  size_t size, capacity;
} Text;

static void text_add(Text* text, const char* data, size_t size) {
  if (text->size + size + 1 > text->capacity) {
    text->capacity = (text->size + size + 1) * 2;
    text->data = (char*)realloc(text->data, text->capacity);
  }
  memcpy(text->data + text->size, data, size);
  text->size += size;
}

#define MAX_LEVELS 256

typedef struct State {
  /* The row being built: "name\0value\0" pairs, the host's list stand-in. */
  Text row;
  size_t row_values;
  int row_open;
  int in_top_array;
  int level;                     /* object level inside the row, 1 = the row's own */
  size_t prefix_end[MAX_LEVELS]; /* where each level's name prefix ends in `prefix` */
  Text prefix;
  char key[1024];
  size_t key_size;
  int skip;        /* containers open inside an array value or a skipped element */
  int skip_emits;  /* the skipped array is a member's value */
  size_t elements; /* its element count, the value delivered for it */
  unsigned long long rows, values;
} State;

static void emit(State* s, const char* value, size_t size) {
  size_t base = s->prefix.size;
  if (base > 0)
    text_add(&s->prefix, "_", 1);
  text_add(&s->prefix, s->key, s->key_size);
  text_add(&s->row, s->prefix.data + base + (base > 0), s->prefix.size - base - (base > 0));
  text_add(&s->row, "", 1);
  s->prefix.size = base;
  text_add(&s->row, value, size);
  text_add(&s->row, "", 1);
  ++s->row_values;
}

static int on_scalar(State* s, const char* value, size_t size) {
  if (s->skip > 0) {
    if (s->skip == 1)
      ++s->elements;
    return 1;
  }
  if (s->row_open)
    emit(s, value, size);
  return 1; /* a scalar outside an object is no row */
}

static int on_null(void* ctx) {
  return on_scalar((State*)ctx, "null", 4);
}
static int on_boolean(void* ctx, int value) {
  return on_scalar((State*)ctx, value ? "true" : "false", value ? 4 : 5);
}
static int on_number(void* ctx, const char* value, size_t size) {
  return on_scalar((State*)ctx, value, size);
}
static int on_string(void* ctx, const unsigned char* value, size_t size) {
  return on_scalar((State*)ctx, (const char*)value, size);
}

static int on_map_key(void* ctx, const unsigned char* key, size_t size) {
  State* s = (State*)ctx;
  if (s->skip == 0) {
    if (size > sizeof s->key)
      size = sizeof s->key;
    memcpy(s->key, key, size);
    s->key_size = size;
  }
  return 1;
}

/* Inside a value that is kept whole (an array), a nested container only deepens the skip; at
   the array's own level it counts as one element. */
static int enters_skipped_container(State* s) {
  if (s->skip == 0)
    return 0;
  if (s->skip == 1)
    ++s->elements;
  ++s->skip;
  return 1;
}

static int on_start_map(void* ctx) {
  State* s = (State*)ctx;
  if (enters_skipped_container(s))
    return 1;
  if (!s->row_open) {
    s->row_open = 1;
    s->level = 1;
    s->prefix.size = 0;
    s->prefix_end[1] = 0;
    s->row.size = 0;
    s->row_values = 0;
    return 1;
  }
  if (s->level + 1 >= MAX_LEVELS)
    return 0;
  if (s->prefix.size > 0)
    text_add(&s->prefix, "_", 1);
  text_add(&s->prefix, s->key, s->key_size);
  s->prefix_end[++s->level] = s->prefix.size;
  return 1;
}

static int on_end_map(void* ctx) {
  State* s = (State*)ctx;
  if (s->skip > 0) {
    --s->skip;
    return 1;
  }
  if (--s->level == 0) {
    s->row_open = 0;
    if (s->row_values > 0) {
      ++s->rows;
      s->values += s->row_values;
    }
    return 1;
  }
  s->prefix.size = s->prefix_end[s->level];
  return 1;
}

static int on_start_array(void* ctx) {
  State* s = (State*)ctx;
  if (enters_skipped_container(s))
    return 1;
  if (s->row_open) { /* a member's array: one value */
    s->skip = 1;
    s->skip_emits = 1;
    s->elements = 0;
  } else if (!s->in_top_array) {
    s->in_top_array = 1;
  } else { /* an array inside a top-level array is no row */
    s->skip = 1;
    s->skip_emits = 0;
  }
  return 1;
}

static int on_end_array(void* ctx) {
  State* s = (State*)ctx;
  if (s->skip > 0) {
    if (--s->skip == 0 && s->skip_emits) {
      char count[32];
      int size = snprintf(count, sizeof count, "[%zu]", s->elements);
      emit(s, count, (size_t)size);
    }
    return 1;
  }
  s->in_top_array = 0;
  return 1;
}

static const yajl_callbacks kCallbacks = {on_null,    on_boolean,     NULL,         NULL,
                                          on_number,  on_string,      on_start_map, on_map_key,
                                          on_end_map, on_start_array, on_end_array};

static yajl_handle new_parser(State* s) {
  yajl_handle h = yajl_alloc(&kCallbacks, NULL, s);
  yajl_config(h, yajl_allow_multiple_values, 1);
  s->row_open = 0;
  s->in_top_array = 0;
  s->level = 0;
  s->skip = 0;
  return h;
}

/* The offset of the next '{' or '[' at or after `at`, or `size`. */
static size_t next_start(const char* data, size_t size, size_t at) {
  for (; at < size; ++at)
    if (data[at] == '{' || data[at] == '[')
      return at;
  return size;
}

int main(int argc, char** argv) {
  size_t chunk = 1500;
  const char* path = NULL;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--chunk") == 0 && i + 1 < argc)
      chunk = (size_t)strtoul(argv[++i], NULL, 10);
    else
      path = argv[i];
  }
  FILE* f = path ? fopen(path, "rb") : NULL;
  if (!f || chunk == 0) {
    fprintf(stderr, "usage: flat_yajl [--chunk N] STREAM\n");
    return 1;
  }
  fseek(f, 0, SEEK_END);
  size_t size = (size_t)ftell(f);
  fseek(f, 0, SEEK_SET);
  char* data = (char*)malloc(size ? size : 1);
  if (fread(data, 1, size, f) != size)
    return 1;
  fclose(f);

  struct timespec t0, t1, c0, c1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  State s;
  memset(&s, 0, sizeof s);
  yajl_handle h = new_parser(&s);
  size_t at = 0;
  while (at < size) {
    size_t n = size - at < chunk ? size - at : chunk;
    if (yajl_parse(h, (const unsigned char*)data + at, n) == yajl_status_ok) {
      at += n;
      continue;
    }
    /* Garbage: start again at the next block start after the error. */
    size_t bad = at + yajl_get_bytes_consumed(h);
    yajl_free(h);
    h = new_parser(&s);
    at = next_start(data, size, bad + 1 > size ? size : (bad > at ? bad : at + 1));
  }
  yajl_complete_parse(h);
  yajl_free(h);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
  double seconds = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
  double cpu = (double)(c1.tv_sec - c0.tv_sec) + (double)(c1.tv_nsec - c0.tv_nsec) / 1e9;
  printf("%zu %.6f %llu %llu %.6f\n", size, seconds, s.rows, s.values, cpu);
  free(s.row.data);
  free(s.prefix.data);
  free(data);
  return 0;
}
