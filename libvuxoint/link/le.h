// Little-endian packing: the instrument's numbers are little-endian whatever the host is.
#ifndef VUXO_LE_H
#define VUXO_LE_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vuxo {

template <typename T> inline void store_le(unsigned char* p, T value) {
    using U = std::make_unsigned_t<std::conditional_t<
        std::is_floating_point_v<T>, std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;
    U u;
    if constexpr (std::is_floating_point_v<T>) {
        u = std::bit_cast<U>(value);
    } else {
        u = static_cast<U>(value);
    }
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<unsigned char>(u >> (8 * i));
    }
}

template <typename T> inline T load_le(const unsigned char* p) {
    using U = std::make_unsigned_t<std::conditional_t<
        std::is_floating_point_v<T>, std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;
    U u = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        u = static_cast<U>(u | static_cast<U>(U{p[i]} << (8 * i)));
    }
    if constexpr (std::is_floating_point_v<T>) {
        return std::bit_cast<T>(u);
    } else {
        return static_cast<T>(u);
    }
}

} // namespace vuxo

#endif
