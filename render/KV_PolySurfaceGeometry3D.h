#pragma once
// KV_PolySurfaceGeometry3D: a textured polygon surface as a scene geometry. It holds its own
// copy of the surface with the derived data (normals, boundaries, extents) and splits the
// polygons into those drawn with the selected material and those drawn with the geometry's
// own material and texture.

#include "foundation/KV_List.h"
#include "render/KV_Geometry3D.h"
#include "surface/KV_PolySurface.h"

#include <utility>
#include <vector>

class KV_PolySurfaceGeometry3D : public KV_Geometry3D
{
public:
    KV_PolySurfaceGeometry3D();
    ~KV_PolySurfaceGeometry3D() override;

    // Copies the surface, marks every polygon selected or unselected, and notifies the
    // observers with hint 0 (surface) and then hint 1 (texture).
    void SetSurface(const KV_PolySurface& surface, bool selected);
    const KV_PolySurface& GetSurface() const { return mkSurface; }
    // The actors build their arrays from this (they refresh its texture-coordinate vertices).
    KV_PolySurface& GetSurface() { return mkSurface; }

    // The extents' corner box carried through mkTransform (an axis-aligned box around the
    // eight transformed corners). Extents are computed on the fly when the surface has none.
    KV_BoundingBox3D GetBoundingBox() const override;
    // The extents' centroid, untransformed.
    KV_Vector3D GetCentre() const override;
    // A KV_PolySurfaceActor3D attached to this geometry; the caller owns it.
    KV_Actor3D* CreateActor() override;
    void Dump(std::ostream& os) const override;

    const KV_List<unsigned int>& SelectedPolyIndices() const { return mkSelectedPolyIndices; }
    const KV_List<unsigned int>& UnselectedPolyIndices() const { return mkUnselectedPolyIndices; }
    // (selected, polygon index), one per polygon in polygon order.
    const std::vector<std::pair<bool, unsigned int>>& PolygonSelection() const
    {
        return mkPolygonSelection;
    }

private:
    KV_SurfaceExtents Extents() const;

    KV_PolySurface mkSurface;
    std::vector<std::pair<bool, unsigned int>> mkPolygonSelection;
    KV_List<unsigned int> mkSelectedPolyIndices;
    KV_List<unsigned int> mkUnselectedPolyIndices;
};
