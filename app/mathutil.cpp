// Math wrappers. roundToInteger relies on the default rounding mode of the
// floating-point unit (nearest, ties to even), which the program never changes.
#include "app/mathutil.h"

#include <cmath>

double sine(double radians) {
    return std::sin(radians);
}
double cosine(double radians) {
    return std::cos(radians);
}
double squareRoot(double value) {
    return std::sqrt(value);
}
double tangent(double radians) {
    return std::tan(radians);
}
double arcTangent2(double y, double x) {
    return std::atan2(y, x);
}

double arcSine(double x) {
    double ax = std::fabs(x);
    double v;
    if (ax <= 0.5) {
        v = 1.0 - x * x;
    } else {
        // 1 - x^2 written as 2t - t^2 with t = 1 - |x| avoids cancellation near |x| = 1.
        double t = 1.0 - ax;
        v = 2.0 * t - t * t;
    }
    return std::atan2(x, std::sqrt(v));
}

double power(double base, double exponent) {
    if (base == 0.0) return 0.0;
    double t = exponent * std::log2(base);
    if (std::isnan(t)) return t; // a negative base, or a NaN argument
    // Beyond +-4096 the result is infinite or zero whatever the fraction; clamping
    // keeps the conversion of the whole part below defined.
    if (t > 4096.0) t = 4096.0;
    if (t < -4096.0) t = -4096.0;
    double whole = std::trunc(t);
    double fraction = t - whole;
    return std::ldexp(std::exp2(fraction), static_cast<int>(whole));
}

int64_t roundToInteger(double value) {
    return std::llrint(value);
}

double floorRound(double x) {
    volatile double shifted = x > 0 ? (x + 0.5) - 1.0 : x - 0.5;
    return static_cast<double>(static_cast<int32_t>(roundToInteger(shifted)));
}
