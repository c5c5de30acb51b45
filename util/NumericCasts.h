#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace zembra {

// Option values are free text, so a product of one with a scale (seconds to microseconds,
// quantiser to lambda) can leave the target's range; a plain conversion would then be undefined.
// Out-of-range values stop at the nearest end, NaN becomes 0.
template <class T>
T SaturatingCast(double Value) {
    static_assert(std::is_arithmetic_v<T>);
    if (std::isnan(Value)) return T(0);
    if constexpr (std::is_floating_point_v<T>) {
        constexpr double Max = static_cast<double>(std::numeric_limits<T>::max());
        if (Value >= Max) return std::numeric_limits<T>::max();
        if (Value <= -Max) return std::numeric_limits<T>::lowest();
        return static_cast<T>(Value);
    } else {
        // The maxima of 64-bit types round up to a power of two as doubles, so reaching that
        // power already means out of range; the minima are exact.
        constexpr double Max = static_cast<double>(std::numeric_limits<T>::max());
        constexpr double Min = static_cast<double>(std::numeric_limits<T>::min());
        if (Value >= Max) return std::numeric_limits<T>::max();
        if (Value <= Min) return std::numeric_limits<T>::min();
        return static_cast<T>(Value);
    }
}

// Time stamps of a damaged file can lie anywhere in 64 bits, so sums and differences of them
// stop at the ends. The lowest value is the libraries' "no time", so the low end is one above
// it: a real time never turns into none.
constexpr int64_t kLowestTime = std::numeric_limits<int64_t>::min() + 1;

// A time computed in floating point and already rounded (std::round, std::nearbyint), as a time
// stamp: out-of-range values stop at the ends instead of becoming the C library's unspecified
// result, which on glibc is exactly "no time".
inline int64_t SaturatingTime(double Rounded) {
    const int64_t Time = SaturatingCast<int64_t>(Rounded);
    return Time < kLowestTime ? kLowestTime : Time;
}

inline int64_t SaturatingAdd(int64_t A, int64_t B) {
    int64_t Sum = 0;
    if (__builtin_add_overflow(A, B, &Sum)) return B > 0 ? std::numeric_limits<int64_t>::max() : kLowestTime;
    return Sum < kLowestTime ? kLowestTime : Sum;
}

inline int64_t SaturatingSub(int64_t A, int64_t B) {
    int64_t Difference = 0;
    if (__builtin_sub_overflow(A, B, &Difference))
        return B < 0 ? std::numeric_limits<int64_t>::max() : kLowestTime;
    return Difference < kLowestTime ? kLowestTime : Difference;
}

}  // namespace zembra
