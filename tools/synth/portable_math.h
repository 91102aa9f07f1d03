// Sine, cosine, arctangent and exponential built only from +, -, *, / and exact scaling, so that
// the synthesiser gives the same pixels whatever the platform's maths library. IEEE double
// arithmetic is correctly rounded; with floating-point contraction disabled for this library
// (no fused multiply-add), each routine returns the same bits on every conforming machine.
// Accuracy is about 1e-12 relative, far more than image synthesis needs.
#pragma once

namespace ridgeline::synth {

inline constexpr double kPi = 3.14159265358979323846;

double PortableSin(double x);
double PortableCos(double x);
// The angle of (x, y) in (-pi, pi]; 0 for the origin.
double PortableAtan2(double y, double x);
// e^x for x in [-700, 700]; smaller arguments give 0.
double PortableExp(double x);

// 0 below edge0, 1 above edge1, the cubic Hermite step between.
inline double SmoothStep(double edge0, double edge1, double x) {
  double t = (x - edge0) / (edge1 - edge0);
  t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
  return t * t * (3.0 - 2.0 * t);
}

inline double Clamp(double x, double lo, double hi) { return x < lo ? lo : (x > hi ? hi : x); }

// Round half away from zero, without the rounding mode of the floating-point environment.
inline int RoundToInt(double x) { return static_cast<int>(x < 0.0 ? x - 0.5 : x + 0.5); }

}  // namespace ridgeline::synth
