// Math wrappers shared by the effects and the music engine. Every float-to-integer
// conversion in the program goes through roundToInteger: round to nearest, ties to even.
#pragma once
#include <cstdint>

double sine(double radians);
double cosine(double radians);
double squareRoot(double value);
double tangent(double radians);
double arcTangent2(double y, double x);
double arcSine(double x);

// 2^(exponent * log2(base)); exactly 0 when base is 0.
double power(double base, double exponent);

// Round to nearest, ties to even (the FPU's default mode), as a signed 64-bit integer.
int64_t roundToInteger(double value);

// roundToInteger(x - 0.5) as a double: floor(x) for non-integers; a whole odd x gives x - 1.
double floorRound(double x);
