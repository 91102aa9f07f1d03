// Polynomial kernels after exact argument reduction. The reductions multiply by constants and
// subtract, so they lose a few ulps for huge arguments; the synthesiser only passes angles of a
// few turns and exponents of a few tens.
#include "tools/synth/portable_math.h"

#include <cmath>

namespace ridgeline::synth {
namespace {

constexpr double kHalfPi = kPi / 2.0;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kTanEighthPi = 0.41421356237309504880;

// sin(r) for |r| <= pi/4 by its Taylor series to r^15 (error below 1e-16 there).
double SinKernel(double r) {
  const double r2 = r * r;
  double sum = -1.0 / 1307674368000.0;
  sum = sum * r2 + 1.0 / 6227020800.0;
  sum = sum * r2 - 1.0 / 39916800.0;
  sum = sum * r2 + 1.0 / 362880.0;
  sum = sum * r2 - 1.0 / 5040.0;
  sum = sum * r2 + 1.0 / 120.0;
  sum = sum * r2 - 1.0 / 6.0;
  return r + r * r2 * sum;
}

// cos(r) for |r| <= pi/4 by its Taylor series to r^16.
double CosKernel(double r) {
  const double r2 = r * r;
  double sum = 1.0 / 20922789888000.0;
  sum = sum * r2 - 1.0 / 87178291200.0;
  sum = sum * r2 + 1.0 / 479001600.0;
  sum = sum * r2 - 1.0 / 3628800.0;
  sum = sum * r2 + 1.0 / 40320.0;
  sum = sum * r2 - 1.0 / 720.0;
  sum = sum * r2 + 1.0 / 24.0;
  sum = sum * r2 - 0.5;
  return 1.0 + r2 * sum;
}

// Reduces x to r in [-pi/4, pi/4] and the quadrant q (x = q * pi/2 + r), q in 0..3.
void ReduceQuadrant(double x, double* r, int* q) {
  const double turns = std::floor(x / kHalfPi + 0.5);
  *r = x - turns * kHalfPi;
  const long long k = static_cast<long long>(turns);
  *q = static_cast<int>(((k % 4) + 4) % 4);
}

// atan(u) for |u| <= tan(pi/8) by its alternating series to u^41 (error below 1e-17).
double AtanKernel(double u) {
  const double u2 = u * u;
  double sum = 0.0;
  for (int n = 41; n >= 3; n -= 2) sum = (n % 4 == 1 ? 1.0 : -1.0) / n + u2 * sum;
  return u + u * u2 * sum;
}

// atan(t) for t >= 0.
double AtanPositive(double t) {
  if (t > 1.0) return kHalfPi - AtanPositive(1.0 / t);
  if (t > kTanEighthPi) return kPi / 4.0 + AtanKernel((t - 1.0) / (t + 1.0));
  return AtanKernel(t);
}

}  // namespace

double PortableSin(double x) {
  double r;
  int q;
  ReduceQuadrant(x, &r, &q);
  switch (q) {
    case 0:
      return SinKernel(r);
    case 1:
      return CosKernel(r);
    case 2:
      return -SinKernel(r);
    default:
      return -CosKernel(r);
  }
}

double PortableCos(double x) {
  double r;
  int q;
  ReduceQuadrant(x, &r, &q);
  switch (q) {
    case 0:
      return CosKernel(r);
    case 1:
      return -SinKernel(r);
    case 2:
      return -CosKernel(r);
    default:
      return SinKernel(r);
  }
}

double PortableAtan2(double y, double x) {
  if (x == 0.0 && y == 0.0) return 0.0;
  if (x == 0.0) return y > 0.0 ? kHalfPi : -kHalfPi;
  const double base = AtanPositive(std::fabs(y / x));
  if (x > 0.0) return y >= 0.0 ? base : -base;
  return y >= 0.0 ? kPi - base : -(kPi - base);
}

double PortableExp(double x) {
  if (x < -700.0) return 0.0;
  const double k = std::floor(x / kLn2 + 0.5);
  const double r = x - k * kLn2;  // |r| <= ln2 / 2
  double sum = 1.0;
  for (int n = 17; n >= 1; --n) sum = 1.0 + sum * r / n;
  return std::ldexp(sum, static_cast<int>(k));
}

}  // namespace ridgeline::synth
