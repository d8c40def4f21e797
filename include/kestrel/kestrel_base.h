/* Kestrel public ABI: calling convention and export macros shared by every public header. */
#ifndef KESTREL_BASE_H
#define KESTREL_BASE_H

#include <stdint.h>

/* Exports and interface methods use stdcall on 32-bit Windows; other targets have one
   convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define KESTREL_CALL __stdcall
#else
#define KESTREL_CALL
#endif

#if defined(_WIN32)
/* The library's .def file names the exports, undecorated; __declspec(dllexport) would export
   the stdcall-decorated names (CreatePluginInstance@4) as well. */
#define KESTREL_EXPORT
#else
#define KESTREL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define KESTREL_EXTERN_C extern "C"
#else
#define KESTREL_EXTERN_C
#endif

#endif /* KESTREL_BASE_H */
