// 4x4 transforms of the host's placements: rows x, y, z, origin; points are row vectors, so
// A x B applies A first.
#pragma once
#include <array>

#include "host/model.h"

namespace mirax {

using Matrix4 = std::array<std::array<double, 4>, 4>;

inline Matrix4 identity4() { return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}; }

inline Matrix4 to_matrix(const Frame& f) {
  return {{{f.x[0], f.x[1], f.x[2], 0},
           {f.y[0], f.y[1], f.y[2], 0},
           {f.z[0], f.z[1], f.z[2], 0},
           {f.origin[0], f.origin[1], f.origin[2], 1}}};
}

inline Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
  Matrix4 out{};
  for (size_t i = 0; i < 4; ++i)
    for (size_t j = 0; j < 4; ++j) {
      double sum = 0;
      for (size_t k = 0; k < 4; ++k) sum += a[i][k] * b[k][j];
      out[i][j] = sum;
    }
  return out;
}

// Inverse of a transform whose axes are orthonormal: the transposed rotation, and the origin
// taken through it with its sign turned.
inline Matrix4 rigid_inverse(const Matrix4& t) {
  Matrix4 out = identity4();
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) out[i][j] = t[j][i];
  for (size_t j = 0; j < 3; ++j) {
    double sum = 0;
    for (size_t k = 0; k < 3; ++k) sum += t[3][k] * out[k][j];
    out[3][j] = -sum;
  }
  return out;
}

}  // namespace mirax
