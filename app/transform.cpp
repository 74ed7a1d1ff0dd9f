// 4x4 transform arithmetic used to bring coordinate systems into a reference system.
#include "app/transform.h"

#include <cmath>
#include <cstring>

// Every intermediate is an IEEE double (the running sums are rounded at each step), so the
// same inputs give the same bits whatever floating-point unit the compiler would pick.
#if defined(__i386__) && defined(__GNUC__) && !defined(__clang__)
#define KEL_DOUBLE_MATH __attribute__((target("sse2,fpmath=sse")))
#else
#define KEL_DOUBLE_MATH
#endif

extern "C" {

const Transform identity_transform = {
    {1.0, 0.0, 0.0, 0.0},
    {0.0, 1.0, 0.0, 0.0},
    {0.0, 0.0, 1.0, 0.0},
    {0.0, 0.0, 0.0, 1.0},
};

void trf_copy(const Transform src, Transform dst) {
  const double(*from)[4] = src ? src : identity_transform;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) dst[i][j] = from[i][j];
}

KEL_DOUBLE_MATH void trf_multiply(const Transform a, const Transform b, Transform out) {
  if (!a) {
    trf_copy(b, out);
    return;
  }
  if (!b) {
    trf_copy(a, out);
    return;
  }
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      out[i][j] = 0.0;
      for (int k = 0; k < 4; ++k) out[i][j] = out[i][j] + a[i][k] * b[k][j];
    }
  }
}

KEL_DOUBLE_MATH int trf_invert(const Transform a, Transform out) {
  if (!a) {
    trf_copy(nullptr, out);
    return 1;
  }
  // Only the first axis is measured: the axes are taken to be orthogonal and of one length.
  const double s = a[0][0] * a[0][0] + a[0][1] * a[0][1] + a[0][2] * a[0][2];
  if (s < 1e-18 || std::isnan(s)) return 0;
  const double d = 1.0 / s;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out[i][j] = d * a[j][i];
    out[i][3] = 0.0;
  }
  for (int i = 0; i < 3; ++i) {
    out[3][i] = 0.0;
    for (int j = 0; j < 3; ++j) out[3][i] = out[3][i] - a[i][j] * a[3][j] * d;
  }
  out[3][3] = 1.0;
  return 1;
}

double* vec3_copy(const Vector3 src, Vector3 dst) {
  for (int i = 0; i < 3; ++i) dst[i] = src ? src[i] : 0.0;
  return dst;
}

}  // extern "C"
