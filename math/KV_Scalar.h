#pragma once
// Scalar functions of the numerical routines. They take floats and return double; callers
// round to float when they store a result.

#include <cmath>

inline double KV_Sin(float a) { return std::sin(static_cast<double>(a)); }
inline double KV_Cos(float a) { return std::cos(static_cast<double>(a)); }
inline double KV_Tan(float a) { return std::tan(static_cast<double>(a)); }
inline double KV_Atan2(float y, float x)
{
    return std::atan2(static_cast<double>(y), static_cast<double>(x));
}
inline double KV_Pow(float a, float b)
{
    return std::pow(static_cast<double>(a), static_cast<double>(b));
}
inline double KV_Sqrt(float a) { return std::sqrt(static_cast<double>(a)); }
inline double KV_Abs(float a) { return std::fabs(static_cast<double>(a)); }

// The nearest integer, halves away from zero (2.5 gives 3, -2.5 gives -3). Adding the half
// in double keeps 0.49999997f from rounding up to 1.
inline double KV_Round(float a)
{
    const double x = a;
    return std::trunc(x >= 0.0 ? x + 0.5 : x - 0.5);
}

// |a| with the sign of b; b = 0 (and -0) counts as positive.
inline double KV_Sign(float a, float b)
{
    const double m = std::fabs(static_cast<double>(a));
    return b >= 0.0f ? m : -m;
}

// sqrt(a² + b²) without overflow or underflow of the squares.
inline double KV_Hypot(float a, float b)
{
    const double absA = std::fabs(static_cast<double>(a));
    const double absB = std::fabs(static_cast<double>(b));
    if (absA > absB)
    {
        const double ratio = absB / absA;
        return absA * std::sqrt(1.0 + ratio * ratio);
    }
    if (absB == 0.0)
        return 0.0;
    const double ratio = absA / absB;
    return absB * std::sqrt(1.0 + ratio * ratio);
}
