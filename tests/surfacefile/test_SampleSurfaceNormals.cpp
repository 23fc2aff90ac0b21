// The refined normals of the sample scan, read from its file and triangulated as the
// completion does, against the general plane fits.

#include "foundation/KV_Executor.h"
#include "surface/KV_PSO_ComputeNormals.h"
#include "surface/KV_PSO_Triangulate.h"
#include "surface/KV_PolySurface.h"
#include "surfacefile/KV_SurfaceLoader.h"
#include "tests/surface/GeneralPathNormals.h"

#include <gtest/gtest.h>

TEST(SampleSurfaceNormals, RefinedNormalsMatchTheGeneralFits)
{
    KV_PolySurface surface;
    KV_SurfaceLoader loader(surface);
    ASSERT_TRUE(loader.Load(ORVANE_SOURCE_DIR "/data/sample.osf"));
    KV_PSO_Triangulate(&surface).Triangulate();
    KV_PSO_ComputeNormals normals(&surface);
    normals.ComputeVertexNormals();
    const KV_List<KV_Vector3D> averaged = *surface.mpVertexNormals;
    KV_Executor executor(2);
    normals.SetExecutor(&executor);
    normals.RefineVertexNormals();
    ExpectRefinedAsByGeneralFits(surface, averaged, "sample.osf");
}
