// One-dimensional arrays handed across the automation boundary, lower bound 0. Like Bstr,
// an array is a value: the caller of a member that returns one owns it.
#pragma once

#ifdef _WIN32
#include "automation/win32/SafeArray.h"
#else

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "automation/HResult.h"

namespace velq3 {

template <class T>
class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(std::vector<T> elements) : m_Elements(std::move(elements)) {}

    static constexpr unsigned Dims() { return 1; }
    static constexpr std::int32_t LBound() { return 0; }
    // -1 for an empty array, as for any array whose lower bound is 0.
    std::int32_t UBound() const { return static_cast<std::int32_t>(m_Elements.size()) - 1; }
    std::size_t size() const { return m_Elements.size(); }

    HRESULT GetElement(std::int32_t index, T& out) const {
        if (index < 0 || static_cast<std::size_t>(index) >= m_Elements.size()) return DISP_E_BADINDEX;
        out = m_Elements[static_cast<std::size_t>(index)];
        return S_OK;
    }
    HRESULT PutElement(std::int32_t index, T value) {
        if (index < 0 || static_cast<std::size_t>(index) >= m_Elements.size()) return DISP_E_BADINDEX;
        m_Elements[static_cast<std::size_t>(index)] = std::move(value);
        return S_OK;
    }

    const std::vector<T>& Elements() const { return m_Elements; }
    const T* data() const { return m_Elements.data(); }

    friend bool operator==(const SafeArray&, const SafeArray&) = default;

private:
    std::vector<T> m_Elements;
};

} // namespace velq3

#endif // _WIN32
