// One-dimensional arrays handed across the automation boundary on Windows: one owned system
// SAFEARRAY (lower bound 0), laid out as the pointer itself, so that a `SafeArray<T>*` out
// parameter is the `SAFEARRAY(T)*` of the type library. Strings are arrays of BSTR
// (VT_BSTR), integers arrays of 32-bit integers (VT_I4), as the interfaces declare them.
#pragma once

#include <cstdint>
#include <vector>

#include <windows.h>
#include <oleauto.h>

#include "automation/Bstr.h"

namespace velq3 {

template <class T> constexpr VARTYPE kSafeArrayElementType = VT_EMPTY;
template <> inline constexpr VARTYPE kSafeArrayElementType<Bstr> = VT_BSTR;
template <> inline constexpr VARTYPE kSafeArrayElementType<std::int32_t> = VT_I4;

template <class T>
class SafeArray {
public:
    static_assert(kSafeArrayElementType<T> != VT_EMPTY, "arrays of strings or 32-bit integers only");

    // An empty array: clients get an array with no elements, never a null one.
    SafeArray() : m_p(::SafeArrayCreateVector(kSafeArrayElementType<T>, 0, 0)) {}
    explicit SafeArray(const std::vector<T>& elements)
        : m_p(::SafeArrayCreateVector(kSafeArrayElementType<T>, 0, static_cast<ULONG>(elements.size()))) {
        if (!m_p) return;
        for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) Put(i, elements[static_cast<std::size_t>(i)]);
    }
    SafeArray(SafeArray&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    SafeArray& operator=(SafeArray&& o) noexcept {
        SAFEARRAY* old = m_p;
        m_p = o.m_p;
        o.m_p = old;
        return *this;
    }
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;
    ~SafeArray() {
        if (m_p) ::SafeArrayDestroy(m_p);
    }

    SAFEARRAY* Get() const { return m_p; }
    SAFEARRAY* Detach() {
        SAFEARRAY* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    // SafeArrayPutElement copies: a BSTR element is a new string, an integer its value.
    void Put(LONG index, const Bstr& value) { ::SafeArrayPutElement(m_p, &index, value.Get()); }
    void Put(LONG index, std::int32_t value) {
        LONG v = value;
        ::SafeArrayPutElement(m_p, &index, &v);
    }

    SAFEARRAY* m_p = nullptr;
};

static_assert(sizeof(SafeArray<Bstr>) == sizeof(SAFEARRAY*), "a SafeArray out parameter is a SAFEARRAY* out parameter");

} // namespace velq3
