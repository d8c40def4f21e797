/* OLE automation values: VARIANT, BSTR, SAFEARRAY and the oleaut32 functions that handle them.

   Values cross the plug-in boundary in the binary layout of Windows everywhere. On POSIX systems
   libkestrel_platform provides that layout and the functions under their Windows names. Strings
   (BSTR) are UTF-16, length-prefixed and NUL-terminated; safe arrays are one- or
   more-dimensional with the bounds of Windows.

   On Windows the functions are oleaut32's. A host that includes this header gets the system's
   own declarations through <windows.h> and <oleauto.h>, as it always has. The library's own
   code is built with KESTREL_NO_WINDOWS_H defined: it then sees the declarations below, which
   match the system's in layout, type names and calling convention (oleaut32 imports, stdcall),
   so it never needs <windows.h>. A file of the library that does need <windows.h> (the Win32
   backend, Windows tests and hosts) includes it before any Kestrel header; this header then
   keeps to the system's declarations. Including <windows.h> after this header's own
   declarations fails to compile (the types are declared twice). */
#ifndef KESTREL_OLEAUTO_H
#define KESTREL_OLEAUTO_H

#if defined(_WIN32) && (!defined(KESTREL_NO_WINDOWS_H) || defined(_WINDOWS_))
#include <windows.h>
/* <windows.h> leaves the OLE functions out under WIN32_LEAN_AND_MEAN. */
#include <oleauto.h>
#else

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
/* oleaut32's imports, and the Windows integer names with the system's own types (LONG is
   long), so that C++ functions taking them have the same names in every file. */
#define KESTREL_PLATFORM_API __declspec(dllimport)
#define KESTREL_OLE_CALL __stdcall
typedef wchar_t OLECHAR;
typedef long LONG;
typedef unsigned long ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef short SHORT;
typedef unsigned short USHORT;
typedef unsigned char BYTE;
typedef char CHAR;
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;
typedef long HRESULT;
typedef long SCODE;
#else
#define KESTREL_PLATFORM_API __attribute__((visibility("default")))
#define KESTREL_OLE_CALL
#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef uint16_t OLECHAR;
#endif
/* Windows integer names with their Windows widths (LONG is 32-bit on every Windows target), so
   code written against them compiles unchanged for both systems. */
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint8_t BYTE;
typedef char CHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int32_t HRESULT;
typedef int32_t SCODE;
#endif
typedef OLECHAR* BSTR;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;

/* A wide-string literal in the OLE character type: OLESTR("text"). */
#if defined(_WIN32)
#define OLESTR(text) L##text
#elif defined(__cplusplus)
#define OLESTR(text) u##text
#else
#define OLESTR(text) L##text
#endif

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000D)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define E_FAIL ((HRESULT)0x80004005)

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0xFFF
};

typedef union tagCY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
} CY;

typedef struct tagDEC {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
} DECIMAL;

typedef struct tagSAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800

#if defined(_WIN32)
/* A COM object; oleaut32 releases those held in variants. */
typedef struct IUnknown IUnknown;
#else
/* A COM object as seen through its first field: a table whose slots 0..2 are QueryInterface,
   AddRef and Release. Enough to release objects held in variants. */
typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
  HRESULT (*QueryInterface)(IUnknown* self, const void* iid, void** out);
  uint32_t (*AddRef)(IUnknown* self);
  uint32_t (*Release)(IUnknown* self);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};
#endif

typedef struct tagVARIANT VARIANT;
#if defined(__clang__)
/* The Windows layout nests anonymous structs in anonymous unions; clang warns about that
   under -Wpedantic even with __extension__. */
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#endif
struct tagVARIANT {
  union {
    __extension__ struct {
      VARTYPE vt;
      USHORT wReserved1;
      USHORT wReserved2;
      USHORT wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        void* pdispVal;
        SAFEARRAY* parray;
        void* byref;
        VARIANT* pvarVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        __extension__ struct {
          void* pvRecord;
          void* pRecInfo;
        } brecVal;
      };
    };
    DECIMAL decVal;
  };
};
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
typedef VARIANT VARIANTARG;

KESTREL_PLATFORM_API BSTR KESTREL_OLE_CALL SysAllocString(const OLECHAR* text);
KESTREL_PLATFORM_API BSTR KESTREL_OLE_CALL SysAllocStringLen(const OLECHAR* text, UINT length);
KESTREL_PLATFORM_API BSTR KESTREL_OLE_CALL SysAllocStringByteLen(const char* bytes, UINT length);
KESTREL_PLATFORM_API INT KESTREL_OLE_CALL SysReAllocStringLen(BSTR* target, const OLECHAR* text,
                                                              UINT length);
KESTREL_PLATFORM_API void KESTREL_OLE_CALL SysFreeString(BSTR text);
KESTREL_PLATFORM_API UINT KESTREL_OLE_CALL SysStringLen(BSTR text);
KESTREL_PLATFORM_API UINT KESTREL_OLE_CALL SysStringByteLen(BSTR text);

KESTREL_PLATFORM_API void KESTREL_OLE_CALL VariantInit(VARIANT* value);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL VariantClear(VARIANT* value);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL VariantCopy(VARIANT* target, const VARIANT* source);

KESTREL_PLATFORM_API SAFEARRAY* KESTREL_OLE_CALL SafeArrayCreate(VARTYPE vt, UINT dims,
                                                                 SAFEARRAYBOUND* bounds);
KESTREL_PLATFORM_API SAFEARRAY* KESTREL_OLE_CALL SafeArrayCreateVector(VARTYPE vt, LONG lower_bound,
                                                                       ULONG count);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayDestroy(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** target);
KESTREL_PLATFORM_API UINT KESTREL_OLE_CALL SafeArrayGetDim(SAFEARRAY* array);
KESTREL_PLATFORM_API UINT KESTREL_OLE_CALL SafeArrayGetElemsize(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayGetLBound(SAFEARRAY* array, UINT dim,
                                                                 LONG* bound);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayGetUBound(SAFEARRAY* array, UINT dim,
                                                                 LONG* bound);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayAccessData(SAFEARRAY* array, void** data);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayUnaccessData(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayLock(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayUnlock(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayGetElement(SAFEARRAY* array, LONG* indices,
                                                                  void* value);
KESTREL_PLATFORM_API HRESULT KESTREL_OLE_CALL SafeArrayPutElement(SAFEARRAY* array, LONG* indices,
                                                                  void* value);

#ifdef __cplusplus
}
#endif

#endif /* own declarations */
#endif /* KESTREL_OLEAUTO_H */
