/* A parameter list written by a host in plain C: the library must work with it through the
   IorvParamsListA interface alone. */
#ifndef KESTREL_HOST_LIST_H
#define KESTREL_HOST_LIST_H

#include <kestrel/kestrel.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A new list with one reference. */
IorvParamsListA* host_list_create(void);
/* Appends an item without going through the interface. */
void host_list_add_int(IorvParamsListA* list, const char* name, int32_t value);
void host_list_add_text(IorvParamsListA* list, const char* name, const char* ascii);
/* Appends a copy of any value. */
void host_list_add_value(IorvParamsListA* list, const char* name, const VARIANT* value);
/* The value an item of a host list holds, read in place (GetValue hands out a copy). */
const VARIANT* host_list_item_value(IorvParamsListItemA* item);
/* Number of host lists alive (created and not yet released to 0). */
int host_list_live_count(void);

#ifdef __cplusplus
}
#endif

#endif
