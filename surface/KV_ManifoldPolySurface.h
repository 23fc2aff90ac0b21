#pragma once
// KV_ManifoldPolySurface: the surface the VRML export works on, a KV_PolySurface that can
// also carry lists of per-element parameters of three value types. The parameter lists
// count as derived data: ClearDerived() releases them, and removing polygons releases all
// derived data, normals included, keeping only vertex polygons. Nothing throws except a
// block list that cannot grow.

#include "math/KV_Vector3D.h"
#include "surface/KV_ManifoldParameter.h"
#include "surface/KV_PolySurface.h"

class KV_ManifoldPolySurface : public KV_PolySurface
{
public:
    KV_ManifoldPolySurface() = default;
    KV_ManifoldPolySurface(const KV_ManifoldPolySurface& other);
    KV_ManifoldPolySurface& operator=(const KV_ManifoldPolySurface& other);
    // The KV_PolySurface copy applied to this surface: the parameter lists end up absent.
    KV_ManifoldPolySurface& operator=(const KV_PolySurface& other);
    ~KV_ManifoldPolySurface() override;

    void RemoveVertices(const KV_List<unsigned int>& vertices) override;
    // Removes the polygons, their texture polygons (with a texture map) and the vertices and
    // texture coordinates left unused; recomputes the vertex polygons. When every polygon
    // goes, the vertices stay.
    void RemovePolygons(const KV_List<unsigned int>& polygons) override;
    void Clear() override;
    // Removes the polygons only, then releases all derived data (ClearDerived()).
    void RemovePolygonEntries(const KV_List<unsigned int>& polygons) override;
    void ClearDerived() override;

    // The texture map, created empty (no image) when absent.
    KV_MultiImage& TextureMap();

    KV_List<KV_ManifoldParameter<char>>* mpCharParameters = nullptr;
    KV_List<KV_ManifoldParameter<float>>* mpFloatParameters = nullptr;
    KV_List<KV_ManifoldParameter<KV_Vector3D>>* mpVectorParameters = nullptr;
};
