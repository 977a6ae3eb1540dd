// Our stand-in for the platform's component-object basics: GUIDs, HRESULT
// codes, IUnknown, and the interface-id lookup (__uuidof / IID_PPV_ARGS) in the
// form that both this stand-in and the real SDK accept.
#pragma once

#include <windef.h>

#include <type_traits>

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
typedef GUID IID;
typedef const IID& REFIID;
typedef const GUID& REFGUID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

namespace sim {
// Every interface of the stand-in names its id with SIM_INTERFACE_ID; the id and
// a readable name are what __uuidof and the call journal use.
template <class T>
struct InterfaceId;
}  // namespace sim

#define SIM_INTERFACE_ID(type, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7)          \
    template <>                                                                   \
    struct sim::InterfaceId<type> {                                               \
        static constexpr GUID value{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}}; \
        static constexpr const char* name = #type;                                \
    }

#define __uuidof(type) (::sim::InterfaceId<std::remove_cv_t<type>>::value)

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
SIM_INTERFACE_ID(IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

template <class T>
void** IID_PPV_ARGS_Helper(T** pp) {
    static_assert(std::is_base_of_v<IUnknown, T>, "IID_PPV_ARGS needs an interface pointer");
    return reinterpret_cast<void**>(pp);
}
#define IID_PPV_ARGS(pp) __uuidof(std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>), IID_PPV_ARGS_Helper(pp)
