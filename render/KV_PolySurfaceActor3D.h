#pragma once
// KV_PolySurfaceActor3D: draws a (triangulated) polygon surface geometry from client-side
// vertex arrays that are rebuilt only when the geometry reports a change. Two layouts: an
// untextured surface has one array element per vertex; a textured one has one element per
// texture coordinate (position and normal of its vertex, and the coordinate), so that
// texture seams keep their own coordinates. Each polygon is one triangle of three elements.
//
// Polygons that cannot be drawn (fewer than three corners, or a corner beyond the arrays)
// are skipped rather than read past the arrays.
//
// In GL_RENDER mode a list that holds every polygon in order (the whole surface, selected or
// not) is drawn with one glDrawElements call over the arrays instead of one glBegin/glEnd
// per triangle: the same vertices in the same order, so the same pixels, without the
// per-triangle submission cost. Wireframe goes through an index list of the three edges of
// each triangle as separate lines, which rasterise as the closed loop does. Names matter
// only in GL_SELECT, which always takes the per-triangle path.

#include "image/KV_MultiImage.h"
#include "render/KV_TexturedActor3D.h"

#include <functional>
#include <vector>

class KV_PolySurfaceGeometry3D;
class KV_PolySurface;
class KV_Material;

class KV_PolySurfaceActor3D : public KV_TexturedActor3D
{
public:
    // Attaches itself to geometry.
    explicit KV_PolySurfaceActor3D(KV_PolySurfaceGeometry3D* geometry);
    ~KV_PolySurfaceActor3D() override;

    void Draw() override;
    void DrawForSelection(int pass) override;
    unsigned int DrawForColourPicking(unsigned int firstId) override;
    // Uploads the texture (when there is an image) and builds and binds the arrays.
    void CreateGLResources() override;
    // Disables the three client arrays.
    void ReleaseGLResources() override;
    // The surface's texture image when the surface is textured (texture map, coordinates
    // and texture polygons present), else an empty holder.
    const KV_MultiImage& GetTextureImage() const override;
    // The image an actor of the surface would texture with, or null when it draws the
    // surface untextured.
    static const KV_MultiImage* TextureImageOf(const KV_PolySurface& surface);

    void SetBoundaryDisplayed(bool flag) { mbIsBoundaryDisplayed = flag; }
    bool IsBoundaryDisplayed() const { return mbIsBoundaryDisplayed; }
    // Holes shown: the boundary loops are outlined whether or not the geometry is selected.
    void SetHolesShown(bool flag) { mbAreHolesShown = flag; }
    bool AreHolesShown() const { return mbAreHolesShown; }

    // Level of detail: a coarse triangle list over the current arrays' elements (three
    // element indices per triangle), made for the arrays of build number arrayBuild; the
    // elements it uses are copied into small arrays of its own (a list naming an element
    // past the arrays is dropped). While
    // SetDrawCoarse(true) and no polygon is selected, Draw() draws it in one call in place of
    // the polygons; pictures in memory never do. Rebuilt arrays make the list stale (unused).
    void SetCoarseTriangles(std::vector<unsigned int> triangles, unsigned int arrayBuild);
    bool HasCoarseTriangles() const
    {
        return !mkCoarseTriangles.empty() && munCoarseBuild == munArrayBuilds;
    }
    std::size_t CoarseTriangleCount() const { return mkCoarseTriangles.size() / 3; }
    void SetDrawCoarse(bool flag) { mbDrawCoarse = flag; }

    // The arrays, for inspection: 3 floats per element (positions, normals), 2 per element
    // (texture coordinates, textured layout only), 3 element indices per polygon (-1 for a
    // polygon that is not drawn).
    const std::vector<float>& Positions() const { return mkPositions; }
    const std::vector<float>& Normals() const { return mkNormals; }
    const std::vector<float>& TextureCoordinates() const { return mkTextureCoordinates; }
    const std::vector<int>& Triangles() const { return mkTriangles; }
    bool HasTexturedLayout() const { return mbTexturedLayout; }
    // How many times the arrays were built.
    unsigned int ArrayBuildCount() const { return munArrayBuilds; }
    // Off: every list goes through the per-triangle calls, as in GL_SELECT (for comparing
    // the two paths). On by default.
    void SetBatchedDrawing(bool flag) { mbBatchedDrawing = flag; }
    bool IsBatchedDrawing() const { return mbBatchedDrawing; }

private:
    KV_PolySurfaceGeometry3D* SurfaceGeometry() const;
    void BuildArrays();
    void BuildVertexArrays();
    // Runs upload (OpenGL work on this thread) and builds the arrays, on another thread
    // beside it when the surface is large and textured.
    void BuildArraysBeside(const std::function<void()>& upload);
    void EnableArrays();
    void ApplyPendingUpdates();
    void DrawTriangle(unsigned int polygon, unsigned int primitive) const;
    void DrawPolygons(const KV_List<unsigned int>& polygons, unsigned int primitive, bool named);
    bool IsWholeSurface(const KV_List<unsigned int>& polygons);
    void DrawWholeSurface(unsigned int primitive);
    // Draws the polygons, or the coarse list in their place when that is asked for and
    // allowed (see SetCoarseTriangles).
    void DrawUnselected(const KV_PolySurfaceGeometry3D& geometry, unsigned int primitive,
                        bool named);
    void DrawBoundingBox() const;
    void DrawBoundaries() const;

    std::vector<float> mkPositions;
    std::vector<float> mkNormals;
    std::vector<int> mkTriangles;
    std::vector<float> mkTextureCoordinates;
    // The drawable triangles' corners for the batched path: mkTriangles itself when every
    // polygon is drawable (empty then), else only the drawable ones. The edge list for
    // wireframe is made on its first use.
    std::vector<unsigned int> mkDrawnCorners;
    std::vector<unsigned int> mkEdgeCorners;
    unsigned int munDrawableTriangles = 0;
    // Which selection lists were last found to hold every polygon in order, and the lists'
    // addresses and counts they were found for (the geometry refills them on SetSurface,
    // which rebuilds the arrays too).
    const void* mpCheckedList[2] = {nullptr, nullptr};
    unsigned int munCheckedCount[2] = {0, 0};
    unsigned int munCheckedBuild[2] = {0, 0};
    bool mbCheckedWhole[2] = {false, false};
    bool mbIsBoundaryDisplayed = true;
    bool mbAreHolesShown = false;
    std::vector<unsigned int> mkCoarseTriangles;  // indices into the coarse arrays
    std::vector<float> mkCoarsePositions;
    std::vector<float> mkCoarseNormals;
    std::vector<float> mkCoarseTextureCoordinates;
    unsigned int munCoarseBuild = 0;
    bool mbDrawCoarse = false;
    bool mbTexturedLayout = false;
    // Some texture coordinate lies outside the unit square: the picture repeats.
    bool mbRepeatsTexture = false;
    bool mbBatchedDrawing = true;
    unsigned int munArrayBuilds = 0;
};
