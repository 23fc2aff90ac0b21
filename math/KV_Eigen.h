#pragma once
// Eigen decomposition of a real symmetric matrix: Householder reduction to tridiagonal form,
// then the QL algorithm with implicit shifts, in single precision.

#include "math/KV_Matrix.h"
#include "math/KV_Vector.h"

// Decomposes the symmetric n x n matrix a (rows and columns 1..n; only its lower triangle
// is read). eigenvalues becomes a vector of length n holding the eigenvalues, unsorted, in
// the order the iteration leaves them; column k of eigenvectors (made n x n) is the unit
// eigenvector of eigenvalue k. a is not changed.
//
// Failures: an eigenvalue that does not converge in 50 iterations is a fatal report
// ("Eigen Analysis Error"). A matrix holding an infinity or NaN cannot converge; it is not
// iterated on: the eigenvalues are all the undefined value (KV_UndefinedFloat), the
// eigenvectors the identity, and the result is false. Otherwise the result is true.
bool EigenDecompose(const KV_Matrix& a, KV_Matrix& eigenvectors, KV_Vector& eigenvalues);
