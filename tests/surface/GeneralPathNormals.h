#pragma once
// The refined vertex normals computed the long way, as an independent check of the
// refinement: neighbour lists from the topology, one point per neighbour at unit distance
// from the vertex, the single-precision covariance (KV_Covariance) and the general
// iterative EigenDecompose. Compares them with the normals the refinement left on a surface.

#include "math/KV_Covariance.h"
#include "math/KV_Eigen.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceTopology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

// Expects surface's vertex normals (refined) to be, at every vertex with more than three
// neighbours, the general fit's normal turned the same way, to within an angle of a few
// single-precision roundings (of the vertex position's size, the fits' points being placed
// around it) times the fit's condition, the largest eigenvalue over the gap between the two
// smallest; other vertices keep their averaged normals exactly. averaged: the normals before
// refinement.
inline void ExpectRefinedAsByGeneralFits(const KV_PolySurface& surface,
                                         const KV_List<KV_Vector3D>& averaged,
                                         const std::string& name)
{
    const unsigned int n = surface.VertexCount();
    KV_SurfaceTopology::IndexLists around(16);
    KV_SurfaceTopology::VertexVerticesFromPolygons(
        n, surface.mpPolygons, KV_SurfaceTopology::CompactVertexPolygons(n, surface.mpPolygons),
        around);
    const KV_List<KV_Vector3D>& vertices = *surface.mpVertices;
    const KV_List<KV_Vector3D>& refined = *surface.mpVertexNormals;
    ASSERT_EQ(refined.Count(), n) << name;
    KV_Covariance covariance;
    KV_Matrix vectors;
    KV_Vector values;
    unsigned int fitted = 0;
    double worst = 0.0;
    for (unsigned int v = 0; v < n; ++v)
    {
        const KV_Vector3D& got = refined[v];
        if (around[v].Count() <= 3)
        {
            ASSERT_EQ(got, averaged[v]) << name << ", vertex " << v;
            continue;
        }
        const KV_Vector3D centre = vertices[v];
        covariance.Clear();
        for (unsigned int k = 0; k < around[v].Count(); ++k)
        {
            KV_Vector3D d = vertices[around[v][k]] - centre;
            d.Normalise();
            covariance.AddObservation(centre + d);
        }
        covariance.BuildCovariance(false);
        ASSERT_TRUE(EigenDecompose(covariance.Matrix(), vectors, values));
        const int k = values.IndexOfSmallest();
        KV_Vector3D expected = vectors.Column3D(k);
        if (DotProduct(expected, averaged[v]) < 0.0f)
            expected = -expected;
        float sorted[3] = {values[1], values[2], values[3]};
        std::sort(sorted, sorted + 3);
        const double gap = std::max(1e-30, double(sorted[1]) - sorted[0]);
        const double size =
            1.0 + std::max({std::fabs(centre.x), std::fabs(centre.y), std::fabs(centre.z)});
        const double tolerance = 16 * 1.2e-7 * size * std::max(1.0, sorted[2] / gap);
        const double angle =
            std::atan2(double(CrossProduct(got, expected).Length()), DotProduct(got, expected));
        worst = std::max(worst, angle);
        ASSERT_LE(angle, tolerance) << name << ", vertex " << v;
        ASSERT_NEAR(got.Length(), 1.0f, 1e-6f) << name << ", vertex " << v;
        ++fitted;
    }
    EXPECT_GT(fitted, n / 2) << name;
    std::cout << name << ": " << fitted << " fits, largest angle to the general fit " << worst
              << " rad\n";
}
