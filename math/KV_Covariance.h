#pragma once
// KV_Covariance: accumulates observations (vectors of one dimension p, fixed by the first)
// and turns their sums into the population covariance matrix (divisor n, not n - 1).
//
// Failures: an observation of length 0 or of a dimension other than the first one's is a
// fatal report ("Covarience Error"); building from fewer than two observations is reported
// as a message and leaves the raw sums in the matrix with IsBuilt() false.

#include "foundation/KV_List.h"
#include "math/KV_Matrix.h"
#include "math/KV_Vector.h"
#include "math/KV_Vector3D.h"

class KV_Covariance
{
public:
    KV_Covariance() = default;

    void AddObservation(const KV_Vector& observation);
    void AddObservation(const KV_Vector3D& observation);
    // Adds every vector in order, then builds.
    void AddObservations(const KV_List<KV_Vector3D>& observations, bool verbose);

    // Turns the sums into the covariance; with verbose, writes progress lines to stdout.
    void BuildCovariance(bool verbose);
    // Forgets every observation; the storage stays for the next ones of the same dimension,
    // so a run of small fits allocates nothing after the first.
    void Clear()
    {
        munCount = 0;
        mbBuilt = false;
    }

    // The p x p sums of products while accumulating; the covariance once built.
    const KV_Matrix& Matrix() const { return mkMatrix; }
    // The mean observation; valid once built.
    const KV_Vector& Mean() const { return mkMean; }
    unsigned int Count() const { return munCount; }
    bool IsBuilt() const { return mbBuilt; }

private:
    // Clears the built state, checks the dimension and sizes the sums on the first call.
    void StartObservation(int dimension);

    KV_Matrix mkMatrix;
    KV_Vector mkMean;
    KV_Vector mkSum;
    unsigned int munCount = 0;
    bool mbBuilt = false;
};
