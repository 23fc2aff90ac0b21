#pragma once
// Compares two appearance tables read from one file by two paths (our own readers in this
// process, the import library in its helper): the same materials with the same pictures,
// the same material per polygon, colours and normals.

#include "surface/KV_SurfaceAppearance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

// Whether two floats are equal, or (with nearby) one unit in the last place apart: the
// library's own number reader can round a decimal the other way.
inline bool SameOrNextFloat(float a, float b, bool nearby)
{
    return std::memcmp(&a, &b, sizeof a) == 0 || (nearby && std::nextafter(a, b) == b);
}

inline void ExpectSamePicture(const KV_MultiImage* a, const KV_MultiImage* b)
{
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (a == nullptr)
        return;
    ASSERT_EQ(a->Rows(), b->Rows());
    ASSERT_EQ(a->Cols(), b->Cols());
    ASSERT_EQ(a->ColourImage() != nullptr, b->ColourImage() != nullptr);
    if (a->ColourImage() != nullptr)
    {
        EXPECT_EQ(std::memcmp(a->ColourImage()->Data(), b->ColourImage()->Data(),
                              sizeof(KV_RGB8) * a->ColourImage()->Count()),
                  0);
    }
}

inline void ExpectSameAppearance(const KV_SurfaceAppearance& a, const KV_SurfaceAppearance& b,
                                 bool nearby)
{
    ASSERT_EQ(a.materials.size(), b.materials.size());
    for (std::size_t m = 0; m < a.materials.size(); ++m)
    {
        SCOPED_TRACE("material " + std::to_string(m));
        EXPECT_EQ(a.materials[m].name, b.materials[m].name);
        EXPECT_EQ(a.materials[m].textured, b.materials[m].textured);
        ExpectSamePicture(a.materials[m].image.get(), b.materials[m].image.get());
    }
    EXPECT_EQ(a.polygonMaterials, b.polygonMaterials);
    EXPECT_EQ(a.vertexColours, b.vertexColours);
    ASSERT_EQ(a.normals.size(), b.normals.size());
    for (std::size_t i = 0; i < a.normals.size(); ++i)
        ASSERT_TRUE(SameOrNextFloat(a.normals[i].x, b.normals[i].x, nearby) &&
                    SameOrNextFloat(a.normals[i].y, b.normals[i].y, nearby) &&
                    SameOrNextFloat(a.normals[i].z, b.normals[i].z, nearby))
            << "normal " << i;
    EXPECT_EQ(a.cornerNormals, b.cornerNormals);
}
