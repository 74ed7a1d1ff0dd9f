// 4x4 transform arithmetic on row vectors; a null matrix stands for the identity, a null
// vector for zero.
#pragma once
#include "binding/host_records.h"

KEL_BEGIN_C

extern const Transform identity_transform;

void trf_copy(const Transform src, Transform dst);
// out = a x b (a applied first); out must be neither a nor b.
void trf_multiply(const Transform a, const Transform b, Transform out);
// Inverse of a scaled rotation plus translation; 0 with `out` untouched when the first axis is
// (near) zero.
int trf_invert(const Transform a, Transform out);
double* vec3_copy(const Vector3 src, Vector3 dst);

KEL_END_C
