#pragma once

// The one small 3-vector of the program: positions and directions in
// double precision, and in single precision where the normals are worked
// out several at a time. Every operation is plain IEEE arithmetic in the
// order written (the build allows no fused multiply-add), so every
// platform gets the same bits.

#include <cmath>

namespace tavimor {

template <typename T>
struct Vector3 {
    T x, y, z;
};

using Position = Vector3<double>;

template <typename T>
constexpr Vector3<T> operator+(const Vector3<T>& a, const Vector3<T>& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
template <typename T>
constexpr Vector3<T> operator-(const Vector3<T>& a, const Vector3<T>& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
template <typename T>
constexpr Vector3<T> operator*(const Vector3<T>& a, T s) {
    return {a.x * s, a.y * s, a.z * s};
}
template <typename T>
constexpr T dot(const Vector3<T>& a, const Vector3<T>& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <typename T>
constexpr Vector3<T> cross(const Vector3<T>& a, const Vector3<T>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <typename T>
constexpr bool operator==(const Vector3<T>& a, const Vector3<T>& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// v made unit length; a zero vector stays zero.
inline Position unitOf(const Position& v) {
    const double length = std::sqrt(dot(v, v));
    return length > 0 ? v * (1.0 / length) : Position{0, 0, 0};
}

}  // namespace tavimor
