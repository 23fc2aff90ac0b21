#pragma once
// KV_PolySurfaceActor3D: draws a (triangulated) polygon surface geometry from client-side
// vertex arrays that are rebuilt only when the geometry reports a change. Each polygon is
// one triangle of three array elements, and an element is one combination of vertex,
// texture coordinate, file normal and picture that some corner uses.
//
// Two layouts. An untextured surface has one element per vertex, element i being vertex i;
// a textured one has one element per texture coordinate, element j being coordinate j at
// the vertex of the last corner that uses it (as the surface's texture-coordinate vertices
// are made), so that texture seams keep their own coordinates. Corners their element cannot
// stand for (a coordinate shared by corners at different vertices, as other programs' files
// do; a vertex or coordinate with several of the file's normals; a coordinate used by two
// pictures) get further elements after those. A surface file, whose coordinates each belong
// to one vertex, needs none: its arrays are exactly the one-per-coordinate layout, and its
// triangle list is the texture polygons' own flat run, shared rather than copied.
//
// What the geometry's Appearance() adds, where it fits the surface: each textured material
// drawn with its own texture object (the one covering most polygons with the main one),
// repeated or clamped by its own coordinates, the triangles ordered by material so that each
// is one range; vertex colours (opaque, for ambient and diffuse, without the surface
// material's shine) where no picture is shown; the file's normals (per vertex or per corner)
// in place of the computed ones. Flat shading gives each triangle the normal of its own
// plane: its last corner (the one OpenGL takes the colour of) is turned into an element of
// its own with that normal, in a layout made on the first flat frame.
//
// A large textured surface of triangles with its coordinates each at one vertex and nothing
// else of the appearance (a scan's file) is drawn with one element per vertex instead: the
// positions and normals are the surface's own lists, shared as they lie (in one piece each),
// and each vertex takes the coordinate of the first corner at it (the surface's own list
// too, where each vertex's coordinate has the vertex's number). The few triangles with a
// corner whose coordinate is another (the texture's seams) are drawn from small arrays of
// their own, in their place in the order, so that every corner has the same values in the
// same order as in the one-per-coordinate layout. The coarse copy and its inspection still
// see one element per coordinate. Flat shading goes back to the one-per-coordinate layout.
//
// Polygons that cannot be drawn (fewer than three corners, or a corner beyond the lists)
// are skipped rather than read past the arrays.
//
// In GL_RENDER mode a list that holds every polygon in order (the whole surface, selected or
// not) is drawn with one glDrawElements call per range over the arrays instead of one
// glBegin/glEnd per triangle: the same vertices in the same order, so the same pixels,
// without the per-triangle submission cost. Wireframe goes through an index list of the
// three edges of each triangle as separate lines, which rasterise as the closed loop does.
// Names matter only in GL_SELECT, which always takes the per-triangle path.

#include "image/KV_MultiImage.h"
#include "render/KV_TexturedActor3D.h"
#include "render/KV_TriangleCorners.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class KV_Executor;
class KV_PolySurfaceGeometry3D;
class KV_Vector2D;
class KV_Vector3D;
class KV_PolySurface;
class KV_Material;
class KV_PolygonIndexList;

class KV_PolySurfaceActor3D : public KV_TexturedActor3D
{
public:
    // Attaches itself to geometry.
    explicit KV_PolySurfaceActor3D(KV_PolySurfaceGeometry3D* geometry);
    ~KV_PolySurfaceActor3D() override;

    void Draw() override;
    void DrawForSelection(int pass) override;
    unsigned int DrawForColourPicking(unsigned int firstId) override;
    // Uploads the texture (when there is an image) and the pictures of the appearance's
    // other materials, and builds and binds the arrays.
    void CreateGLResources() override;
    // Disables the client arrays.
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
    // past the arrays is dropped). While SetDrawCoarse(true) and no polygon is selected,
    // Draw() draws it in place of the polygons, one call per material (each triangle taking
    // its first corner's), with the smooth normals even in flat shading; pictures in memory
    // never do. Rebuilt arrays make the list stale (unused).
    void SetCoarseTriangles(std::vector<unsigned int> triangles, unsigned int arrayBuild);
    bool HasCoarseTriangles() const
    {
        return !mkCoarseTriangles.empty() && munCoarseBuild == munArrayBuilds;
    }
    std::size_t CoarseTriangleCount() const { return mkCoarseTriangles.size() / 3; }
    void SetDrawCoarse(bool flag) { mbDrawCoarse = flag; }

    // The arrays, for inspection: 3 floats per element (positions, normals), 2 per element
    // (texture coordinates, textured layout only), 4 bytes per element (colours, only with
    // vertex colours), 3 element indices per polygon (-1 for a polygon that is not drawn).
    // After a flat frame the element arrays hold the flat layout's own elements at their
    // end, which no polygon of Triangles() names.
    // Copies: PositionData() and NormalData() are the arrays as OpenGL reads them.
    std::vector<float> Positions() const;
    std::vector<float> Normals() const;
    const float* PositionData() const;
    const float* NormalData() const;
    std::vector<float> TextureCoordinates() const;
    // The texture coordinates as OpenGL reads them: two floats an element, TextureCoordinateCount()
    // elements (the surface's own list when the actor shares it).
    const float* TextureCoordinateData() const;
    std::size_t TextureCoordinateCount() const;
    const std::vector<std::uint8_t>& Colours() const { return mkColours; }
    const KV_TriangleCorners& Triangles() const { return *mpkTriangles; }
    // The same lists, shared with a reader on another thread (the coarse copy in the making):
    // the actor never changes a list it shares, but makes a new one.
    // With one element per vertex, these are one per coordinate all the same (the positions
    // gathered for the caller, the triangles the texture polygons): the element space the
    // coarse list is made in and SetCoarseTriangles takes.
    std::shared_ptr<const std::vector<float>> SharedPositions() const;
    std::shared_ptr<const KV_TriangleCorners> SharedTriangles() const
    {
        return mbVertexLayout ? mpkCoordinateTriangles : mpkTriangles;
    }
    bool HasTexturedLayout() const { return mbTexturedLayout; }
    // Drawn with one element per vertex from the surface's own lists (see above).
    bool HasVertexLayout() const { return mbVertexLayout; }
    // How many polygons a surface needs for that layout (for tests; 65536 by default).
    void SetVertexLayoutFrom(unsigned int polygons) { munVertexLayoutFrom = polygons; }
    // The triangles drawn from the seam arrays, in polygon order.
    const std::vector<std::uint32_t>& SeamTriangles() const { return mkSeamTriangles; }
    // How many elements the smooth layout has (the flat layout's come after them).
    std::size_t ElementCount() const { return munElementCount; }
    // One run of the drawn triangles that share a picture: material is an index into the
    // appearance's materials, kNoMaterial for triangles drawn without a picture, or
    // kMainPicture for a surface without a material table (drawn with its texture map).
    // first and count are in corners of the drawn list.
    static constexpr std::uint32_t kMainPicture = 0xfffffffeu;
    struct DrawnRange
    {
        std::uint32_t material;
        std::size_t first;
        std::size_t count;
    };
    const std::vector<DrawnRange>& Ranges() const { return mkRanges; }
    // The texture object material's range is drawn with in the current context (0: none).
    unsigned int MaterialTextureName(std::uint32_t material) const;
    // How many times the arrays were built.
    unsigned int ArrayBuildCount() const { return munArrayBuilds; }
    // Off: every list goes through the per-triangle calls, as in GL_SELECT (for comparing
    // the two paths). On by default.
    void SetBatchedDrawing(bool flag) { mbBatchedDrawing = flag; }
    bool IsBatchedDrawing() const { return mbBatchedDrawing; }
    // The program's executor (not owned): a large textured surface's arrays are then built
    // as a piece of their own while this thread uploads the pictures (the same arrays).
    // Null, the default: one after the other on this thread.
    void SetExecutor(KV_Executor* executor) { mpExecutor = executor; }

private:
    KV_PolySurfaceGeometry3D* SurfaceGeometry() const;
    void BuildArrays();
    void BuildVertexArrays();
    // The drawable triangles of triangles, ordered by material (stable), three corners each.
    void OrderTriangles(const KV_TriangleCorners& triangles, std::vector<unsigned int>& out) const;
    // Makes the flat layout when it is not made yet for the current arrays.
    void BuildFlatLayout();
    // Uploads the pictures of the appearance's materials other than the main one.
    void UploadMaterialTextures();
    // Runs upload (OpenGL work on this thread) and builds the arrays, as a piece of the
    // executor beside it when the surface is large and textured.
    void BuildArraysBeside(const std::function<void()>& upload);
    void EnableArrays();
    void ApplyPendingUpdates();
    // Tries the one-per-vertex layout; false leaves everything for the other layouts.
    // claimed: the claims of the surface as it is, made already (null: made here).
    struct VertexClaims;
    static VertexClaims ClaimCoordinates(const KV_PolySurface& surface);
    bool BuildVertexLayout(const KV_PolySurface& surface, VertexClaims* claimed = nullptr);
    // Per coordinate, the vertex of the last corner to use it (kUnclaimed where none), from
    // the shared triangle lists.
    std::vector<std::uint32_t> CoordinateOwners() const;
    // Points the arrays at the seam triangles' own arrays, or back at the main ones.
    void PointArrays(bool seams) const;
    // Draws corners [first, first + count) of the polygons in order, the seam triangles
    // from their own arrays.
    void DrawAroundSeams(std::size_t first, std::size_t count, unsigned int primitive);
    void DrawCornerRun(std::size_t first, std::size_t count, unsigned int primitive);
    // glDrawElements / glDrawArrays in steps, with a glFlush after every kCornersPerFlush
    // corners drawn (counted across calls). A software rasteriser holds every draw of a frame
    // (its copies of the arrays and its binned triangles) until the frame is flushed; in
    // steps it holds one step's worth, and a 4M-triangle frame both peaks lower and is
    // drawn sooner, the bins staying in cache.
    void DrawElementsInSteps(unsigned int primitive, std::size_t count,
                             const unsigned int* corners);
    void DrawArraysInSteps(unsigned int primitive, std::size_t first, std::size_t count);
    // draw(first, n) draws corners [first, first + n) of count, step by step.
    template <typename DrawStep>
    void DrawInSteps(std::size_t count, DrawStep draw);
    void CountDrawnCorners(std::size_t count);
    static constexpr std::size_t kCornersPerFlush = 3 * 32768;
    void DrawTriangle(unsigned int polygon, unsigned int primitive) const;
    // Draws the polygons of the list; with pictures, range by range in each one's state.
    void DrawPolygons(const KV_PolygonIndexList& polygons, unsigned int primitive, bool named,
                      bool pictures);
    bool IsWholeSurface(const KV_PolygonIndexList& polygons) const;
    // Draws count corners of the drawn list from first on (a range, or the whole list).
    void DrawCorners(std::size_t first, std::size_t count, unsigned int primitive);
    // Draws the polygons, or the coarse list in their place when that is asked for and
    // allowed (see SetCoarseTriangles).
    void DrawUnselected(const KV_PolySurfaceGeometry3D& geometry, unsigned int primitive,
                        bool named, bool pictures);
    // The OpenGL state for drawing material's triangles: its texture, or the untextured
    // surface (its material, or the vertex colours).
    void ApplyRangeState(std::uint32_t material, bool pictures);
    void ApplyPlainState();
    // Leaves what the untextured state turned on (colour array, colour material) off.
    void EndPlainState();
    bool RepeatsTexture(std::uint32_t material) const;
    // The triangle list the current shading draws from (per polygon).
    const KV_TriangleCorners& DrawnTriangles() const;
    void DrawBoundingBox() const;
    void DrawBoundaries() const;

    KV_Executor* mpExecutor = nullptr;
    std::shared_ptr<std::vector<float>> mpkPositions = std::make_shared<std::vector<float>>();
    std::vector<float> mkNormals;
    std::shared_ptr<KV_TriangleCorners> mpkTriangles = std::make_shared<KV_TriangleCorners>();
    std::vector<float> mkTextureCoordinates;
    // Instead, the surface's own coordinates in one piece (a surface file's, one element
    // each): written in place, the list shows through until the arrays are made again.
    std::shared_ptr<const KV_Vector2D> mpkSharedCoordinates;
    std::vector<std::uint8_t> mkColours;
    // The one-per-vertex layout: the surface's positions, normals and coordinates in their
    // pieces, the texture polygons beside mpkTriangles (which are the polygons then), and per
    // seam triangle three elements of its own (and its edges as line corners over them).
    bool mbVertexLayout = false;
    bool mbVertexLayoutRefused = false;
    unsigned int munVertexLayoutFrom = 65536;
    std::size_t munCoordinateCount = 0;
    std::shared_ptr<const KV_Vector3D> mpkVertexPositions;
    std::shared_ptr<const KV_Vector3D> mpkVertexNormals;
    std::shared_ptr<const KV_Vector2D> mpkCoordinatePiece;
    std::shared_ptr<KV_TriangleCorners> mpkCoordinateTriangles;
    std::vector<std::uint32_t> mkSeamTriangles;
    std::vector<float> mkSeamPositions, mkSeamNormals, mkSeamCoordinates;
    std::vector<unsigned int> mkSeamEdges;
    // Each element's material slot (material index; the material count for none), only
    // when the triangles are drawn by material: the coarse list finds its ranges by it.
    std::vector<std::uint32_t> mkElementSlots;
    std::uint32_t munMaterialCount = 0;
    std::size_t munElementCount = 0;
    // The drawable triangles' corners for the batched path, ordered by material:
    // the triangles themselves when every polygon is drawable and no material reorders them
    // (empty then). The edge list for wireframe is made on its first use.
    std::vector<unsigned int> mkDrawnCorners;
    std::vector<unsigned int> mkEdgeCorners;
    std::vector<DrawnRange> mkRanges;
    // Per material slot: its own coordinates leave the unit square, so its picture repeats
    // (mbRepeatsTexture says so for the main picture without a material table).
    std::vector<char> mkSlotRepeats;
    // The flat layout: per polygon its triangle turned so that the last corner is its own,
    // the drawn list in the same order as mkDrawnCorners (empty when that is), and one
    // normal per element (the plane's at each triangle's last corner).
    bool mbFlatMade = false;
    bool mbDrawingFlat = false;
    KV_TriangleCorners mkFlatTriangles;
    std::vector<unsigned int> mkFlatDrawnCorners;
    std::vector<float> mkFlatNormals;
    // Per material: 0 no picture, 1 the main texture, 2 its own texture object
    // (mkMoreTextureNames[material]).
    std::vector<char> mkMaterialPictures;
    bool mbColoursOn = false;
    unsigned int munDrawableTriangles = 0;
    bool mbIsBoundaryDisplayed = true;
    bool mbAreHolesShown = false;
    std::vector<unsigned int> mkCoarseTriangles;  // indices into the coarse arrays
    std::vector<float> mkCoarsePositions;
    std::vector<float> mkCoarseNormals;
    std::vector<float> mkCoarseTextureCoordinates;
    std::vector<std::uint8_t> mkCoarseColours;
    std::vector<DrawnRange> mkCoarseRanges;
    unsigned int munCoarseBuild = 0;
    bool mbDrawCoarse = false;
    bool mbTexturedLayout = false;
    // Some texture coordinate lies outside the unit square: the picture repeats.
    bool mbRepeatsTexture = false;
    bool mbBatchedDrawing = true;
    unsigned int munArrayBuilds = 0;
    std::size_t mnCornersSinceFlush = 0;
};
