#pragma once
// KV_TexturedPolySurface: a polygon surface with a texture: texture coordinates, one texture
// polygon per geometry polygon (same vertex count, position j of texture polygon i gives the
// coordinate used at position j of polygon i, so a vertex may carry different coordinates in
// different polygons), and the texture image. Two lists are derived from them: the texture
// polygons of each coordinate and the geometry vertex of each coordinate.
//
// Failure: IsValid drops all texture data whose texture polygons index past the texture
// coordinates (the surface stays valid without its texture). Nothing throws except a block
// list that cannot grow.

#include "image/KV_MultiImage.h"
#include "math/KV_Vector2D.h"
#include "surface/KV_BasePolySurface.h"

class KV_TexturedPolySurface : public KV_BasePolySurface
{
public:
    KV_TexturedPolySurface() = default;
    KV_TexturedPolySurface(const KV_TexturedPolySurface& other);
    KV_TexturedPolySurface& operator=(const KV_TexturedPolySurface& other);
    ~KV_TexturedPolySurface() override;

    bool CheckConsistency() override;
    void RemoveVertices(const KV_List<unsigned int>& vertices) override;
    // Also removes the texture polygons of the removed polygons and the texture coordinates
    // no texture polygon uses any more.
    void RemovePolygons(const KV_List<unsigned int>& polygons) override;
    void Clear() override;
    // Also removes the texture polygons with the same indices.
    void RemovePolygonEntries(const KV_List<unsigned int>& polygons) override;
    bool IsValid(unsigned int maximumPolygonSize) override;
    void ClearDerived() override;

    // True when a texture map holding an image is present.
    bool HasTextureMap() const;
    // Releases all five texture members.
    void ClearTexture();
    // For each texture coordinate the texture polygons that use it.
    void ComputeTextureCoordinatePolygons();
    // For each texture coordinate the geometry vertex it belongs to, all bits set when no
    // texture polygon uses it. A present list is updated in place, not resized.
    void ComputeTextureCoordinateVertices();
    // Releases the list first, so that it is rebuilt with one entry per coordinate.
    KV_List<unsigned int>* RecomputeTextureCoordinateVertices();

    KV_List<KV_Vector2D>* mpTextureCoordinates = nullptr;
    KV_List<KV_Polygon>* mpTexturePolygons = nullptr;
    KV_MultiImage* mpTextureMap = nullptr;
    KV_List<KV_List<unsigned int>>* mpTextureCoordinatePolygons = nullptr;
    KV_List<unsigned int>* mpTextureCoordinateVertices = nullptr;

protected:
    // The texture polygons whose index is not in polygons, in order (when texture
    // coordinates and texture polygons are both present).
    void RemoveTexturePolygons(const KV_List<unsigned int>& polygons);
    // Drops the texture coordinates no texture polygon uses and renumbers the rest;
    // releases both derived texture lists.
    void CompactTextureCoordinates();
    bool CheckTexturedConsistency();
};
