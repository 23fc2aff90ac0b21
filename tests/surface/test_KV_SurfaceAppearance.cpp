// The table beside a surface: it must follow the surface's own triangulation exactly, and
// refuse to be used for a surface it does not fit.

#include "surface/KV_PSO_Triangulate.h"
#include "surface/KV_SurfaceAppearance.h"
#include "SurfaceFixtures.h"

#include <gtest/gtest.h>

namespace
{
// A triangle, a quad, a pentagon and a hexagon side by side (corners named by vertex index).
void MakeMixedPolygons(KV_PolySurface& s)
{
    for (unsigned int i = 0; i < 18; ++i)
        s.Vertices().Append(KV_Vector3D(static_cast<float>(i), static_cast<float>(i % 3), 0.0f));
    AddPolygons(s, {{0, 1, 2}, {3, 4, 5, 6}, {7, 8, 9, 10, 11}, {12, 13, 14, 15, 16, 17}});
}
}  // namespace

// Each corner's normal index is set to its vertex index: after both triangulations the table
// must name, corner by corner, the vertices the real triangulator put there, and each
// triangle must carry the material of the polygon it came from.
TEST(SurfaceAppearance, FollowsTheSurfacesTriangulationCornerByCorner)
{
    KV_PolySurface surface;
    MakeMixedPolygons(surface);
    KV_SurfaceAppearance appearance;
    appearance.materials.resize(3);
    appearance.polygonMaterials = {2, KV_SurfaceAppearance::kNoMaterial, 0, 1};
    appearance.normals.resize(18);
    for (unsigned int p = 0; p < surface.PolygonCount(); ++p)
        for (unsigned int k = 0; k < surface.Polygons()[p].Count(); ++k)
            appearance.cornerNormals.push_back(surface.Polygons()[p][k]);
    ASSERT_TRUE(appearance.Fit(surface));

    appearance.Triangulate(surface.Polygons());
    KV_PSO_Triangulate triangulate(&surface);
    triangulate.Triangulate();

    ASSERT_EQ(appearance.polygonMaterials.size(), surface.PolygonCount());
    ASSERT_EQ(appearance.cornerNormals.size(), 3u * surface.PolygonCount());
    const std::uint32_t before[] = {2, KV_SurfaceAppearance::kNoMaterial, 0, 1};
    for (unsigned int j = 0; j < 4; ++j)
        for (unsigned int k = 0; k < triangulate.ReplacementMap()[j].Count(); ++k)
            EXPECT_EQ(appearance.polygonMaterials[triangulate.ReplacementMap()[j][k]], before[j]);
    for (unsigned int p = 0; p < surface.PolygonCount(); ++p)
        for (unsigned int k = 0; k < 3; ++k)
            EXPECT_EQ(appearance.cornerNormals[3 * p + k], surface.Polygons()[p][k])
                << "triangle " << p << " corner " << k;
    EXPECT_TRUE(appearance.Fit(surface));
}

// Each part that does not fit is dropped on its own; the others stay usable.
TEST(SurfaceAppearance, FitDropsExactlyThePartsThatDoNotFit)
{
    struct Case
    {
        const char* name;
        void (*spoil)(KV_SurfaceAppearance&);
        bool materialsKept, coloursKept, normalsKept;
    };
    const Case cases[] = {
        {"fits", [](KV_SurfaceAppearance&) {}, true, true, true},
        {"material past the list", [](KV_SurfaceAppearance& a) { a.polygonMaterials[1] = 2; },
         false, true, true},
        {"one material short", [](KV_SurfaceAppearance& a) { a.polygonMaterials.pop_back(); },
         false, true, true},
        {"colours of one vertex too many",
         [](KV_SurfaceAppearance& a) { a.vertexColours.resize(a.vertexColours.size() + 4); },
         true, false, true},
        {"normal index past the normals", [](KV_SurfaceAppearance& a) { a.cornerNormals[5] = 9; },
         true, true, false},
        {"one corner short", [](KV_SurfaceAppearance& a) { a.cornerNormals.pop_back(); }, true,
         true, false},
        {"vertex normals of the wrong count",
         [](KV_SurfaceAppearance& a)
         {
             a.cornerNormals.clear();
             a.normals.resize(3);
         },
         true, true, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_PolySurface surface;
        MakeTwoTriangles(surface);
        KV_SurfaceAppearance appearance;
        appearance.materials.resize(2);
        appearance.polygonMaterials = {0, 1};
        appearance.vertexColours.assign(16, 200);
        appearance.normals.resize(4);
        appearance.cornerNormals = {0, 1, 2, 0, 2, 3};
        c.spoil(appearance);
        const bool all = c.materialsKept && c.coloursKept && c.normalsKept;
        EXPECT_EQ(appearance.Fit(surface), all);
        EXPECT_EQ(!appearance.polygonMaterials.empty(), c.materialsKept);
        EXPECT_EQ(appearance.HasVertexColours(), c.coloursKept);
        EXPECT_EQ(appearance.HasNormals(), c.normalsKept);
    }
}

TEST(SurfaceAppearance, MaterialPictureIsItsOwnOrTheSurfaces)
{
    KV_PolySurface surface;
    MakeTwoTriangles(surface);
    AddTextureMap(surface);
    KV_SurfaceAppearance appearance;
    auto own = std::make_shared<KV_MultiImage>();
    own->SetImage(new KV_Image<KV_RGB8>(4, 4));
    appearance.materials = {{"main", nullptr, true}, {"side", own, true}, {"plain", nullptr, false}};
    EXPECT_EQ(appearance.MaterialImage(0, surface), surface.mpTextureMap);
    EXPECT_EQ(appearance.MaterialImage(1, surface), own.get());
    EXPECT_EQ(appearance.MaterialImage(2, surface), nullptr);
    EXPECT_EQ(appearance.MaterialImage(KV_SurfaceAppearance::kNoMaterial, surface), nullptr);
    EXPECT_EQ(appearance.TextureCount(), 2u);
}
