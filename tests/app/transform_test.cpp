// Transform arithmetic against products and inverses worked out independently.
#include <gtest/gtest.h>

#include <cmath>

#include "app/transform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A uniformly scaled rotation about z by `angle`, axes of length `scale`, origin `o`.
void rot_z(double angle, double scale, double ox, double oy, double oz, Transform t) {
  const double c = std::cos(angle) * scale, s = std::sin(angle) * scale;
  const Transform m = {{c, s, 0, 0}, {-s, c, 0, 0}, {0, 0, scale, 0}, {ox, oy, oz, 1}};
  trf_copy(m, t);
}

void expect_near(const Transform expected, const Transform actual, double tol = 1e-12) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_NEAR(expected[i][j], actual[i][j], tol) << "element (" << i << ", " << j << ")";
}

void expect_equal(const Transform expected, const Transform actual) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_EQ(expected[i][j], actual[i][j]) << "element (" << i << ", " << j << ")";
}

void fill(Transform t, double v) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) t[i][j] = v;
}

TEST(Transform, NullStandsForIdentityInCopyAndProduct) {
  Transform out;
  fill(out, 7.0);
  trf_copy(nullptr, out);
  expect_equal(identity_transform, out);

  fill(out, 7.0);
  trf_multiply(nullptr, nullptr, out);
  expect_equal(identity_transform, out);

  Transform a;
  rot_z(0.3, 2.0, 1, 2, 3, a);
  fill(out, 7.0);
  trf_multiply(a, nullptr, out);
  expect_equal(a, out);
  fill(out, 7.0);
  trf_multiply(nullptr, a, out);
  expect_equal(a, out);
  trf_multiply(a, identity_transform, out);
  expect_equal(a, out);
  trf_multiply(identity_transform, a, out);
  expect_equal(a, out);
}

TEST(Transform, ProductAppliesLeftOperandFirst) {
  // A quarter turn about z then a shift: a point on x lands on y, then moves.
  Transform turn, shift, out;
  const Transform turn_m = {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  const Transform shift_m = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {10, 20, 30, 1}};
  trf_copy(turn_m, turn);
  trf_copy(shift_m, shift);
  trf_multiply(turn, shift, out);
  const Transform turn_then_shift = {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {10, 20, 30, 1}};
  expect_equal(turn_then_shift, out);
  trf_multiply(shift, turn, out);
  const Transform shift_then_turn = {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {-20, 10, 30, 1}};
  expect_equal(shift_then_turn, out);
}

TEST(Transform, ProductOfScaledRotationsComposesAnglesAndScales) {
  Transform a, b, out, expected;
  rot_z(kPi / 6, 2.0, 1, 2, 3, a);
  rot_z(kPi / 4, 0.5, -4, 5, 6, b);
  trf_multiply(a, b, out);
  // Rotations compose by adding angles and multiplying scales; a's origin goes through b.
  const double c = std::cos(kPi / 4) * 0.5, s = std::sin(kPi / 4) * 0.5;
  rot_z(kPi / 6 + kPi / 4, 1.0, 1 * c - 2 * s - 4, 1 * s + 2 * c + 5, 3 * 0.5 + 6, expected);
  expect_near(expected, out);
}

// Sums run left to right with every step rounded to a double: 1e16 + 1 rounds back to 1e16,
// so a different order, or wider intermediates, would give 1 or -1 instead of 0.
TEST(Transform, SumsAccumulateInAscendingOrderInDoubles) {
  const Transform a = {{1e16, 1, -1e16, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  const Transform b = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 0, 1, 0}, {0, 0, 0, 1}};
  Transform out;
  trf_multiply(a, b, out);
  EXPECT_EQ(0.0, out[0][0]);
  EXPECT_EQ(1.0, out[0][1]);

  const Transform t = {{1, 0, 0, 0}, {1, 1, 1, 0}, {0, 0, 1, 0}, {1e16, 1, -1e16, 1}};
  ASSERT_EQ(1, trf_invert(t, out));
  EXPECT_EQ(-1e16, out[3][0]);
  EXPECT_EQ(0.0, out[3][1]);
}

TEST(Transform, InverseOfTranslationNegatesOrigin) {
  const Transform t = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {3, -4, 5.5, 1}};
  Transform out;
  ASSERT_EQ(1, trf_invert(t, out));
  const Transform expected = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {-3, 4, -5.5, 1}};
  expect_equal(expected, out);

  fill(out, 7.0);
  ASSERT_EQ(1, trf_invert(nullptr, out));
  expect_equal(identity_transform, out);
}

TEST(Transform, InverseUndoesRotatedAndScaledTransforms) {
  struct Case {
    double angle, scale, ox, oy, oz;
  };
  for (const Case& c :
       {Case{kPi / 2, 1.0, 1, 0, 0}, Case{kPi / 3, 2.0, 7, -2, 4}, Case{-1.1, 0.25, -3, 8, 0.5}}) {
    SCOPED_TRACE(c.angle);
    Transform t, inv, product;
    rot_z(c.angle, c.scale, c.ox, c.oy, c.oz, t);
    ASSERT_EQ(1, trf_invert(t, inv));
    // The inverse of a scaled rotation is the opposite rotation with the reciprocal scale.
    EXPECT_NEAR(1.0 / c.scale, std::hypot(inv[0][0], inv[0][1], inv[0][2]), 1e-12);
    trf_multiply(t, inv, product);
    expect_near(identity_transform, product);
    trf_multiply(inv, t, product);
    expect_near(identity_transform, product);
  }
}

TEST(Transform, DegenerateFirstAxisIsRejectedWithoutWriting) {
  Transform zero = {}, out;
  fill(out, 7.0);
  EXPECT_EQ(0, trf_invert(zero, out));
  Transform sevens;
  fill(sevens, 7.0);
  expect_equal(sevens, out);

  Transform tiny;
  trf_copy(nullptr, tiny);
  tiny[0][0] = 1e-10;  // squared length 1e-20: rejected
  EXPECT_EQ(0, trf_invert(tiny, out));
  expect_equal(sevens, out);
  tiny[0][0] = 1e-8;  // squared length 1e-16: accepted
  EXPECT_EQ(1, trf_invert(tiny, out));
  EXPECT_DOUBLE_EQ(1e8, out[0][0]);

  Transform nan_axis;
  trf_copy(nullptr, nan_axis);
  nan_axis[0][1] = std::nan("");
  fill(out, 7.0);
  EXPECT_EQ(0, trf_invert(nan_axis, out));
  expect_equal(sevens, out);
}

TEST(Transform, VectorCopy) {
  Vector3 v = {1, 2, 3};
  const Vector3 src = {-1.5, 0.25, 9};
  EXPECT_EQ(v, vec3_copy(src, v));
  EXPECT_EQ(-1.5, v[0]);
  EXPECT_EQ(0.25, v[1]);
  EXPECT_EQ(9.0, v[2]);
  EXPECT_EQ(v, vec3_copy(nullptr, v));
  EXPECT_EQ(0.0, v[0]);
  EXPECT_EQ(0.0, v[1]);
  EXPECT_EQ(0.0, v[2]);
}

}  // namespace
