// OLE automation values on POSIX: the same memory layout and semantics as oleaut32 for the
// subset the plug-in boundary uses. BSTRs carry a 4-byte byte-length prefix and a 2-byte NUL;
// safe arrays keep their element type in the 4 bytes before the descriptor, as Windows does
// when FADF_HAVEVARTYPE is set.
#include "platform/ole.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kPrefix = sizeof(uint32_t);

BSTR AllocateBytes(const void* data, uint32_t bytes) {
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block)
    return nullptr;
  std::memcpy(block, &bytes, kPrefix);
  if (data)
    std::memcpy(block + kPrefix, data, bytes);
  else
    std::memset(block + kPrefix, 0, bytes);
  std::memset(block + kPrefix + bytes, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BlockOf(BSTR text) {
  return reinterpret_cast<unsigned char*>(text) - kPrefix;
}

// Element size and feature flags for a safe-array element type; 0 when unsupported.
uint32_t ElementSize(VARTYPE vt, uint16_t* features) {
  *features = FADF_HAVEVARTYPE;
  switch (vt) {
  case VT_I1:
  case VT_UI1:
    return 1;
  case VT_I2:
  case VT_UI2:
  case VT_BOOL:
    return 2;
  case VT_I4:
  case VT_UI4:
  case VT_INT:
  case VT_UINT:
  case VT_R4:
  case VT_ERROR:
    return 4;
  case VT_I8:
  case VT_UI8:
  case VT_R8:
  case VT_CY:
  case VT_DATE:
    return 8;
  case VT_DECIMAL:
    return sizeof(DECIMAL);
  case VT_BSTR:
    *features |= FADF_BSTR;
    return sizeof(BSTR);
  case VT_UNKNOWN:
    *features |= FADF_UNKNOWN;
    return sizeof(IUnknown*);
  case VT_DISPATCH:
    *features |= FADF_DISPATCH;
    return sizeof(void*);
  case VT_VARIANT:
    *features |= FADF_VARIANT;
    return sizeof(VARIANT);
  default:
    return 0;
  }
}

uint32_t ElementCount(const SAFEARRAY* array) {
  uint64_t count = 1;
  for (uint32_t i = 0; i < array->cDims; ++i)
    count *= array->rgsabound[i].cElements;
  return static_cast<uint32_t>(count);
}

std::size_t DescriptorSize(uint32_t dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

// Releases what the elements own (strings, objects, nested variants) and zeroes them.
void ClearElements(SAFEARRAY* array) {
  if (!array->pvData)
    return;
  const uint32_t count = ElementCount(array);
  if (array->fFeatures & FADF_BSTR) {
    auto* items = static_cast<BSTR*>(array->pvData);
    for (uint32_t i = 0; i < count; ++i)
      SysFreeString(items[i]), items[i] = nullptr;
  } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = static_cast<IUnknown**>(array->pvData);
    for (uint32_t i = 0; i < count; ++i)
      if (items[i])
        items[i]->lpVtbl->Release(items[i]), items[i] = nullptr;
  } else if (array->fFeatures & FADF_VARIANT) {
    auto* items = static_cast<VARIANT*>(array->pvData);
    for (uint32_t i = 0; i < count; ++i)
      VariantClear(&items[i]);
  }
}

// Offset of an element from its indices. As on Windows, indices[0] and rgsabound[0] both
// belong to the right-most dimension, which varies fastest.
HRESULT ElementOffset(SAFEARRAY* array, const int32_t* indices, std::size_t* offset) {
  if (!array || !indices)
    return E_INVALIDARG;
  std::size_t index = 0;
  std::size_t stride = 1;
  for (uint32_t d = 0; d < array->cDims; ++d) {
    const SAFEARRAYBOUND& b = array->rgsabound[d];
    const int64_t rel = static_cast<int64_t>(indices[d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<int64_t>(b.cElements))
      return DISP_E_BADINDEX;
    index += static_cast<std::size_t>(rel) * stride;
    stride *= b.cElements;
  }
  *offset = index * array->cbElements;
  return S_OK;
}

} // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* text) {
  if (!text)
    return nullptr;
  uint32_t length = 0;
  while (text[length])
    ++length;
  return SysAllocStringLen(text, length);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (UINT32_MAX - 16) / sizeof(OLECHAR))
    return nullptr;
  return AllocateBytes(text, length * static_cast<uint32_t>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
  if (length > UINT32_MAX - 16)
    return nullptr;
  return AllocateBytes(bytes, length);
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (!target)
    return 0;
  BSTR fresh = SysAllocStringLen(text, length);
  if (!fresh)
    return 0;
  SysFreeString(*target);
  *target = fresh;
  return 1;
}

void SysFreeString(BSTR text) {
  if (text)
    std::free(BlockOf(text));
}

UINT SysStringByteLen(BSTR text) {
  if (!text)
    return 0;
  uint32_t bytes;
  std::memcpy(&bytes, BlockOf(text), kPrefix);
  return bytes;
}

UINT SysStringLen(BSTR text) {
  return SysStringByteLen(text) / static_cast<uint32_t>(sizeof(OLECHAR));
}

void VariantInit(VARIANT* value) {
  if (value) {
    value->vt = VT_EMPTY;
    value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  }
}

HRESULT VariantClear(VARIANT* value) {
  if (!value)
    return E_INVALIDARG;
  const VARTYPE vt = value->vt;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(value->parray);
      if (hr != S_OK)
        return hr;
    } else {
      switch (vt) {
      case VT_BSTR:
        SysFreeString(value->bstrVal);
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (value->punkVal)
          value->punkVal->lpVtbl->Release(value->punkVal);
        break;
      default:
        break;
      }
    }
  }
  std::memset(value, 0, sizeof(VARIANT));
  value->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
  if (!target || !source)
    return E_INVALIDARG;
  if (target == source)
    return S_OK;
  VARIANT copy;
  std::memcpy(&copy, source, sizeof(VARIANT));
  const VARTYPE vt = source->vt;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      copy.parray = nullptr;
      if (source->parray) {
        const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
        if (hr != S_OK)
          return hr;
      }
    } else if (vt == VT_BSTR) {
      if (source->bstrVal) {
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                             SysStringByteLen(source->bstrVal));
        if (!copy.bstrVal)
          return E_OUTOFMEMORY;
      }
    } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && source->punkVal) {
      source->punkVal->lpVtbl->AddRef(source->punkVal);
    }
  }
  const HRESULT hr = VariantClear(target);
  if (hr != S_OK) {
    VariantClear(&copy);
    return hr;
  }
  std::memcpy(target, &copy, sizeof(VARIANT));
  return S_OK;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
  uint16_t features = 0;
  const uint32_t size = ElementSize(vt, &features);
  if (!size || dims == 0 || dims > 64 || !bounds)
    return nullptr;
  // The element type lives in the 4 bytes before the descriptor.
  auto* block = static_cast<unsigned char*>(std::calloc(1, 16 + DescriptorSize(dims)));
  if (!block)
    return nullptr;
  uint32_t stored_vt = vt;
  std::memcpy(block + 16 - sizeof(uint32_t), &stored_vt, sizeof(uint32_t));
  auto* array = reinterpret_cast<SAFEARRAY*>(block + 16);
  array->cDims = static_cast<uint16_t>(dims);
  array->fFeatures = features;
  array->cbElements = size;
  // Windows stores bounds in reverse order of the dimensions as given.
  for (uint32_t i = 0; i < dims; ++i)
    array->rgsabound[i] = bounds[dims - 1 - i];
  const uint64_t count = ElementCount(array);
  if (count * size > 0x7FFFFFFFu) {
    std::free(block);
    return nullptr;
  }
  if (count) {
    array->pvData = std::calloc(static_cast<std::size_t>(count), size);
    if (!array->pvData) {
      std::free(block);
      return nullptr;
    }
  }
  return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count) {
  SAFEARRAYBOUND bound{count, lower_bound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (!array)
    return S_OK;
  if (array->cLocks)
    return DISP_E_ARRAYISLOCKED;
  ClearElements(array);
  std::free(array->pvData);
  std::free(reinterpret_cast<unsigned char*>(array) - 16);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (!array || !vt)
    return E_INVALIDARG;
  uint32_t stored;
  std::memcpy(&stored, reinterpret_cast<unsigned char*>(array) - sizeof(uint32_t), sizeof stored);
  *vt = static_cast<VARTYPE>(stored);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** target) {
  if (!source || !target)
    return E_INVALIDARG;
  VARTYPE vt;
  SafeArrayGetVartype(source, &vt);
  SAFEARRAYBOUND bounds[64];
  for (uint32_t i = 0; i < source->cDims; ++i)
    bounds[i] = source->rgsabound[source->cDims - 1 - i];
  SAFEARRAY* copy = SafeArrayCreate(vt, source->cDims, bounds);
  if (!copy)
    return E_OUTOFMEMORY;
  const uint32_t count = ElementCount(source);
  if (count && source->pvData) {
    if (source->fFeatures & FADF_BSTR) {
      auto* from = static_cast<BSTR*>(source->pvData);
      auto* to = static_cast<BSTR*>(copy->pvData);
      for (uint32_t i = 0; i < count; ++i)
        if (from[i])
          to[i] = SysAllocStringByteLen(reinterpret_cast<const char*>(from[i]),
                                        SysStringByteLen(from[i]));
    } else if (source->fFeatures & FADF_VARIANT) {
      auto* from = static_cast<VARIANT*>(source->pvData);
      auto* to = static_cast<VARIANT*>(copy->pvData);
      for (uint32_t i = 0; i < count; ++i) {
        const HRESULT hr = VariantCopy(&to[i], &from[i]);
        if (hr != S_OK) {
          SafeArrayDestroy(copy);
          return hr;
        }
      }
    } else {
      std::memcpy(copy->pvData, source->pvData, std::size_t{count} * source->cbElements);
      if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* items = static_cast<IUnknown**>(copy->pvData);
        for (uint32_t i = 0; i < count; ++i)
          if (items[i])
            items[i]->lpVtbl->AddRef(items[i]);
      }
    }
  }
  *target = copy;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
  return array ? array->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* array) {
  return array ? array->cbElements : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (!array || !bound)
    return E_INVALIDARG;
  if (dim < 1 || dim > array->cDims)
    return DISP_E_BADINDEX;
  *bound = array->rgsabound[array->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (!array || !bound)
    return E_INVALIDARG;
  if (dim < 1 || dim > array->cDims)
    return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
  *bound = static_cast<int32_t>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
  if (!array)
    return E_INVALIDARG;
  ++array->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
  if (!array)
    return E_INVALIDARG;
  if (!array->cLocks)
    return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (!array || !data)
    return E_INVALIDARG;
  ++array->cLocks;
  *data = array->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
  return SafeArrayUnlock(array);
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
  std::size_t offset = 0;
  const HRESULT hr = ElementOffset(array, indices, &offset);
  if (hr != S_OK)
    return hr;
  if (!value)
    return E_INVALIDARG;
  const auto* element = static_cast<unsigned char*>(array->pvData) + offset;
  if (array->fFeatures & FADF_VARIANT) {
    auto* out = static_cast<VARIANT*>(value);
    VariantInit(out);
    return VariantCopy(out, reinterpret_cast<const VARIANT*>(element));
  }
  if (array->fFeatures & FADF_BSTR) {
    BSTR source = *reinterpret_cast<const BSTR*>(element);
    BSTR copy = source ? SysAllocStringByteLen(reinterpret_cast<const char*>(source),
                                               SysStringByteLen(source))
                       : nullptr;
    if (source && !copy)
      return E_OUTOFMEMORY;
    *static_cast<BSTR*>(value) = copy;
    return S_OK;
  }
  std::memcpy(value, element, array->cbElements);
  if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* object = *static_cast<IUnknown**>(value);
    if (object)
      object->lpVtbl->AddRef(object);
  }
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
  std::size_t offset = 0;
  const HRESULT hr = ElementOffset(array, indices, &offset);
  if (hr != S_OK)
    return hr;
  auto* element = static_cast<unsigned char*>(array->pvData) + offset;
  if (array->fFeatures & FADF_VARIANT)
    return VariantCopy(reinterpret_cast<VARIANT*>(element), static_cast<VARIANT*>(value));
  if (array->fFeatures & FADF_BSTR) {
    auto source = static_cast<BSTR>(value);
    BSTR copy = source ? SysAllocStringByteLen(reinterpret_cast<const char*>(source),
                                               SysStringByteLen(source))
                       : nullptr;
    if (source && !copy)
      return E_OUTOFMEMORY;
    BSTR* slot = reinterpret_cast<BSTR*>(element);
    SysFreeString(*slot);
    *slot = copy;
    return S_OK;
  }
  if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* object = static_cast<IUnknown*>(value);
    if (object)
      object->lpVtbl->AddRef(object);
    auto** slot = reinterpret_cast<IUnknown**>(element);
    if (*slot)
      (*slot)->lpVtbl->Release(*slot);
    *slot = object;
    return S_OK;
  }
  std::memcpy(element, value, array->cbElements);
  return S_OK;
}

} // extern "C"
