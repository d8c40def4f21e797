/* OLE automation values for hosts and plug-ins on POSIX systems.

   On Windows these types and functions come from <oleauto.h> and oleaut32. On other systems
   libkestrel_platform provides the same binary layout and the same functions under their
   Windows names, so values cross the plug-in boundary identically everywhere. Strings (BSTR)
   are UTF-16, length-prefixed and NUL-terminated; safe arrays are one- or more-dimensional
   with the bounds of Windows. */
#ifndef KESTREL_OLEAUTO_H
#define KESTREL_OLEAUTO_H

#if defined(_WIN32)
#include <windows.h>
#include <oleauto.h>
#else

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t OLECHAR;
#else
typedef uint16_t OLECHAR;
#endif

#define KESTREL_PLATFORM_API __attribute__((visibility("default")))

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
typedef OLECHAR* BSTR;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;

/* A wide-string literal in the OLE character type: OLESTR("text"). */
#ifdef __cplusplus
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
    uint32_t Lo;
    int32_t Hi;
  } s;
  int64_t int64;
} CY;

typedef struct tagDEC {
  uint16_t wReserved;
  uint8_t scale;
  uint8_t sign;
  uint32_t Hi32;
  uint64_t Lo64;
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

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
  union {
    __extension__ struct {
      VARTYPE vt;
      uint16_t wReserved1;
      uint16_t wReserved2;
      uint16_t wReserved3;
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
typedef VARIANT VARIANTARG;

KESTREL_PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
KESTREL_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
KESTREL_PLATFORM_API BSTR SysAllocStringByteLen(const char* bytes, UINT length);
KESTREL_PLATFORM_API INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
KESTREL_PLATFORM_API void SysFreeString(BSTR text);
KESTREL_PLATFORM_API UINT SysStringLen(BSTR text);
KESTREL_PLATFORM_API UINT SysStringByteLen(BSTR text);

KESTREL_PLATFORM_API void VariantInit(VARIANT* value);
KESTREL_PLATFORM_API HRESULT VariantClear(VARIANT* value);
KESTREL_PLATFORM_API HRESULT VariantCopy(VARIANT* target, const VARIANT* source);

KESTREL_PLATFORM_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
KESTREL_PLATFORM_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count);
KESTREL_PLATFORM_API HRESULT SafeArrayDestroy(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** target);
KESTREL_PLATFORM_API UINT SafeArrayGetDim(SAFEARRAY* array);
KESTREL_PLATFORM_API UINT SafeArrayGetElemsize(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
KESTREL_PLATFORM_API HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
KESTREL_PLATFORM_API HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
KESTREL_PLATFORM_API HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
KESTREL_PLATFORM_API HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT SafeArrayLock(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT SafeArrayUnlock(SAFEARRAY* array);
KESTREL_PLATFORM_API HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
KESTREL_PLATFORM_API HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);

#ifdef __cplusplus
}
#endif

#endif /* !_WIN32 */
#endif /* KESTREL_OLEAUTO_H */
