#include "render/KV_PolySurfaceActor3D.h"

#include "foundation/KV_Executor.h"
#include "render/KV_Material.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "surface/KV_PolySurface.h"

#include <GL/gl.h>

#include <algorithm>
#include <optional>
#include <cstdint>

static_assert(KV_TriangleCorners::kPieceShift == KV_List<KV_Polygon>::kFlatPieceShift,
              "a shared run's pieces are the polygon list's");

namespace
{
// The holder handed out for a surface without a usable texture.
const KV_MultiImage& EmptyImage()
{
    static const KV_MultiImage empty;
    return empty;
}

const std::uint32_t kNoMaterial = KV_SurfaceAppearance::kNoMaterial;

bool IsTextured(const KV_PolySurface& surface)
{
    return surface.HasTextureMap() && surface.mpTextureCoordinates != nullptr &&
           surface.mpTexturePolygons != nullptr && surface.mpTexturePolygons->Count() > 0;
}

// Below this many polygons the arrays take less time than handing them to a thread costs.
const unsigned int kArraysBesideTextureFrom = 65536;

// glDrawElements takes its count as a GLsizei; six line corners per triangle must fit.
bool cornerCountFits(unsigned int triangles)
{
    return static_cast<std::uint64_t>(triangles) * 6u <= 0x7fffffffu;
}

void PutVector(std::vector<float>& array, unsigned int element, const KV_Vector3D& v)
{
    array[3 * element] = v.x;
    array[3 * element + 1] = v.y;
    array[3 * element + 2] = v.z;
}

// Outlines are unlit, two pixels wide, in the selected material's ambient colour.
class OutlineState
{
public:
    OutlineState()
    {
        glDisable(GL_LIGHTING);
        glGetFloatv(GL_LINE_WIDTH, &mrLineWidth);
        glLineWidth(2.0f);
        const KV_OGLColour& c = KV_Geometry3D::mkSelectedMaterial.mkAmbient;
        glColor4f(c.mrRed, c.mrGreen, c.mrBlue, c.mrAlpha);
    }
    ~OutlineState()
    {
        glLineWidth(mrLineWidth);
        glEnable(GL_LIGHTING);
    }
    OutlineState(const OutlineState&) = delete;
    OutlineState& operator=(const OutlineState&) = delete;

private:
    GLfloat mrLineWidth = 1.0f;
};
}  // namespace

KV_PolySurfaceActor3D::KV_PolySurfaceActor3D(KV_PolySurfaceGeometry3D* geometry)
    : KV_TexturedActor3D(geometry)
{
    if (geometry != nullptr)
        geometry->Attach(this);
}

KV_PolySurfaceActor3D::~KV_PolySurfaceActor3D() = default;

KV_PolySurfaceGeometry3D* KV_PolySurfaceActor3D::SurfaceGeometry() const
{
    // Set from a KV_PolySurfaceGeometry3D at construction and never changed (only cleared).
    return static_cast<KV_PolySurfaceGeometry3D*>(mkGeometry);
}

const KV_MultiImage& KV_PolySurfaceActor3D::GetTextureImage() const
{
    const KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr || !IsTextured(geometry->DrawingSurface()))
        return EmptyImage();
    return *geometry->DrawingSurface().mpTextureMap;
}

const KV_MultiImage* KV_PolySurfaceActor3D::TextureImageOf(const KV_PolySurface& surface)
{
    return IsTextured(surface) ? surface.mpTextureMap : nullptr;
}

void KV_PolySurfaceActor3D::BuildArrays()
{
    BuildVertexArrays();
    // The batched path's corner list: only needed when some polygon is not drawn or the
    // materials put the triangles in another order.
    std::vector<unsigned int>().swap(mkDrawnCorners);
    std::vector<unsigned int>().swap(mkEdgeCorners);
    mkRanges.clear();
    const size_t triangleCount = (*mpkTriangles).size() / 3;
    size_t drawable = 0;
    bool inOrder = true;
    std::uint32_t lastSlot = 0;
    std::vector<size_t> perSlot(munMaterialCount + 1, 0);
    for (size_t t = 0; t < triangleCount; ++t)
    {
        if ((*mpkTriangles)[3 * t] < 0)
            continue;
        ++drawable;
        if (munMaterialCount == 0)
            continue;
        const std::uint32_t slot = mkElementSlots[static_cast<size_t>((*mpkTriangles)[3 * t])];
        inOrder = inOrder && slot >= lastSlot;
        lastSlot = slot;
        ++perSlot[slot];
    }
    munDrawableTriangles = static_cast<unsigned int>(drawable);
    if (drawable != triangleCount || !inOrder)
        OrderTriangles((*mpkTriangles), mkDrawnCorners);
    if (drawable == 0)
        return;
    if (munMaterialCount == 0)
    {
        mkRanges.push_back({mbTexturedLayout ? kMainPicture : kNoMaterial, 0, 3 * drawable});
        return;
    }
    size_t first = 0;
    for (std::uint32_t slot = 0; slot <= munMaterialCount; ++slot)
    {
        if (perSlot[slot] == 0)
            continue;
        mkRanges.push_back(
            {slot == munMaterialCount ? kNoMaterial : slot, first, 3 * perSlot[slot]});
        first += 3 * perSlot[slot];
    }
}

void KV_PolySurfaceActor3D::OrderTriangles(const KV_TriangleCorners& triangles,
                                           std::vector<unsigned int>& out) const
{
    const size_t triangleCount = triangles.size() / 3;
    out.clear();
    out.reserve(3 * static_cast<size_t>(munDrawableTriangles));
    if (munMaterialCount == 0)
    {
        for (size_t t = 0; t < triangleCount; ++t)
            if (triangles[3 * t] >= 0)
                for (size_t k = 0; k < 3; ++k)
                    out.push_back(static_cast<unsigned int>(triangles[3 * t + k]));
        return;
    }
    // A counting sort by material slot, stable within each slot.
    std::vector<size_t> next(munMaterialCount + 2, 0);
    for (size_t t = 0; t < triangleCount; ++t)
        if (triangles[3 * t] >= 0)
            ++next[mkElementSlots[static_cast<size_t>(triangles[3 * t])] + 1];
    for (size_t slot = 1; slot < next.size(); ++slot) next[slot] += next[slot - 1];
    out.resize(3 * next.back());
    for (size_t t = 0; t < triangleCount; ++t)
    {
        if (triangles[3 * t] < 0)
            continue;
        const size_t at = 3 * next[mkElementSlots[static_cast<size_t>(triangles[3 * t])]]++;
        for (size_t k = 0; k < 3; ++k)
            out[at + k] = static_cast<unsigned int>(triangles[3 * t + k]);
    }
}

namespace
{
const std::uint32_t kUnclaimed = 0xffffffffu;
}  // namespace

// Each vertex takes its first corner's coordinate; a triangle with a corner of another
// coordinate is a seam triangle. More seams than seamLimit: refused (the rest is not looked
// at). The polygons and texture polygons are runs of triangles inside their lists.
struct KV_PolySurfaceActor3D::VertexClaims
{
    std::vector<std::uint32_t> own;  // per vertex
    std::vector<std::uint32_t> seams;
    bool refused = false;
};

KV_PolySurfaceActor3D::VertexClaims KV_PolySurfaceActor3D::ClaimCoordinates(
    const KV_PolySurface& surface)
{
    const KV_List<KV_Polygon>& polygons = *surface.mpPolygons;
    const KV_List<KV_Polygon>& texturePolygons = *surface.mpTexturePolygons;
    const unsigned int vertexCount = surface.VertexCount();
    VertexClaims claims;
    claims.own.assign(vertexCount, kUnclaimed);
    const unsigned int polygonCount = polygons.Count();
    const std::size_t seamLimit = polygonCount / 8;
    for (unsigned int p = 0; p < polygonCount; ++p)
    {
        const unsigned int* polygon = polygons.RunCorners(p);
        const unsigned int* texturePolygon = texturePolygons.RunCorners(p);
        bool seam = false;
        for (unsigned int k = 0; k < 3; ++k)
        {
            if (polygon[k] >= vertexCount)
            {
                // Made beside the pass that finds such a corner: nothing is claimed.
                claims.refused = true;
                return claims;
            }
            std::uint32_t& claimed = claims.own[polygon[k]];
            if (claimed == kUnclaimed)
                claimed = texturePolygon[k];
            seam = seam || claimed != texturePolygon[k];
        }
        if (seam)
        {
            if (claims.seams.size() >= seamLimit)
            {
                claims.refused = true;
                return claims;
            }
            claims.seams.push_back(p);
        }
    }
    return claims;
}

namespace
{

// The parts of a model's appearance that fit the surface, usable without further checks.
struct FittingAppearance
{
    const std::uint32_t* materials = nullptr;  // one per polygon (textured layout only)
    std::uint32_t materialCount = 0;
    const std::uint8_t* colours = nullptr;  // four per vertex
    const KV_Vector3D* normals = nullptr;
    const std::uint32_t* cornerNormals = nullptr;  // one per corner, in polygon order
    bool vertexNormals = false;                    // normals one per vertex
};

bool MaterialsFit(const KV_SurfaceAppearance& look, const KV_PolySurface& surface)
{
    if (look.materials.empty() || look.materials.size() >= kUnclaimed ||
        look.polygonMaterials.size() != surface.PolygonCount())
        return false;
    const size_t count = look.materials.size();
    for (std::uint32_t m : look.polygonMaterials)
        if (m != kNoMaterial && m >= count)
            return false;
    return true;
}

FittingAppearance Fitting(const KV_SurfaceAppearance& look, const KV_PolySurface& surface,
                          bool textured)
{
    FittingAppearance fit;
    const size_t vertexCount = surface.VertexCount();
    if (textured && MaterialsFit(look, surface))
    {
        fit.materials = look.polygonMaterials.data();
        fit.materialCount = static_cast<std::uint32_t>(look.materials.size());
    }
    if (vertexCount > 0 && look.vertexColours.size() == 4 * vertexCount)
        fit.colours = look.vertexColours.data();
    if (look.normals.empty())
        return fit;
    if (look.cornerNormals.empty())
    {
        if (look.normals.size() == vertexCount)
        {
            fit.normals = look.normals.data();
            fit.vertexNormals = true;
        }
        return fit;
    }
    size_t corners = 0;
    for (unsigned int p = 0; p < surface.PolygonCount(); ++p)
        corners += (*surface.mpPolygons)[p].Count();
    if (corners != look.cornerNormals.size())
        return fit;
    for (std::uint32_t n : look.cornerNormals)
        if (n >= look.normals.size())
            return fit;
    fit.normals = look.normals.data();
    fit.cornerNormals = look.cornerNormals.data();
    return fit;
}

// A corner that its home element (its vertex, or its texture coordinate) cannot stand for:
// what it needs, and where it is in the triangle list.
struct StrayCorner
{
    std::uint32_t vertex, coordinate, normal, slot, corner;
    bool operator<(const StrayCorner& o) const
    {
        if (vertex != o.vertex)
            return vertex < o.vertex;
        if (coordinate != o.coordinate)
            return coordinate < o.coordinate;
        if (normal != o.normal)
            return normal < o.normal;
        return slot < o.slot;
    }
    bool SameElement(const StrayCorner& o) const
    {
        return vertex == o.vertex && coordinate == o.coordinate && normal == o.normal &&
               slot == o.slot;
    }
};
}  // namespace

void KV_PolySurfaceActor3D::BuildVertexArrays()
{
    // New lists, not cleared ones: the coarse copy in the making may still read the old.
    mpkPositions = std::make_shared<std::vector<float>>();
    mkNormals.clear();
    std::vector<float>().swap(mkTextureCoordinates);
    mpkSharedCoordinates.reset();
    mbVertexLayout = false;
    munCoordinateCount = 0;
    mpkVertexPositions.reset();
    mpkVertexNormals.reset();
    mpkCoordinatePiece.reset();
    mpkCoordinateTriangles.reset();
    std::vector<std::uint32_t>().swap(mkSeamTriangles);
    std::vector<float>().swap(mkSeamPositions);
    std::vector<float>().swap(mkSeamNormals);
    std::vector<float>().swap(mkSeamCoordinates);
    std::vector<unsigned int>().swap(mkSeamEdges);
    mkColours.clear();
    mkElementSlots.clear();
    mkSlotRepeats.clear();
    mpkTriangles = std::make_shared<KV_TriangleCorners>();
    munMaterialCount = 0;
    munElementCount = 0;
    mbRepeatsTexture = false;
    mbFlatMade = false;
    std::vector<int>().swap(mkFlatTriangles.Own());
    std::vector<unsigned int>().swap(mkFlatDrawnCorners);
    std::vector<float>().swap(mkFlatNormals);
    ++munArrayBuilds;
    KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr)
        return;
    // Nothing drawn here waits for the lists finished after the first frame.
    KV_PolySurface& surface = geometry->DrawingSurface();
    const unsigned int vertexCount = surface.VertexCount();
    const unsigned int polygonCount = surface.PolygonCount();
    const KV_List<KV_Vector3D>* surfaceNormals = surface.mpVertexNormals;
    if (surfaceNormals != nullptr && surfaceNormals->Count() != vertexCount)
        surfaceNormals = nullptr;
    mbTexturedLayout = IsTextured(surface);
    const FittingAppearance look = Fitting(geometry->Appearance(), surface, mbTexturedLayout);
    std::vector<int>& own = mpkTriangles->Own();

    // Homes: element h is vertex h (untextured) or texture coordinate h (textured), with
    // the position of the vertex the coordinate is drawn at: the last corner's to use it, as
    // the surface's own texture-coordinate vertices are made. Made here, in the one pass over
    // both polygon lists that also finds whether some coordinate is used at two vertices,
    // the surface's list (and the load's mark that it is current) is not needed.
    const KV_List<KV_Vector2D>* coordinates = nullptr;
    const KV_List<KV_Polygon>* texturePolygons = nullptr;
    std::vector<std::uint32_t> owner;  // per coordinate; kUnclaimed where no corner uses it
    KV_Task<VertexClaims> claims;
    unsigned int homeCount = vertexCount;
    unsigned int drawn = polygonCount;
    bool shared = false;
    bool everyInside = true;
    if (mbTexturedLayout)
    {
        coordinates = surface.mpTextureCoordinates;
        texturePolygons = surface.mpTexturePolygons;
        homeCount = coordinates->Count();
        drawn = std::min(polygonCount, texturePolygons->Count());
        geometry->TakeTextureCoordinateVerticesCurrent();
        owner.assign(homeCount, kUnclaimed);
        everyInside = drawn == polygonCount;
        const bool runs =
            surface.mpPolygons->FlatCornerCount() == 3 && texturePolygons->FlatCornerCount() == 3;
        // Where the one-per-vertex layout may follow, its claims are made beside this pass
        // (both only read the two lists).
        if (runs && mpExecutor != nullptr && !mbVertexLayoutRefused &&
            polygonCount >= munVertexLayoutFrom && drawn == polygonCount &&
            look.cornerNormals == nullptr && look.materials == nullptr && look.colours == nullptr &&
            look.normals == nullptr && surfaceNormals != nullptr)
            claims = KV_Spawn(mpExecutor, [&surface] { return ClaimCoordinates(surface); });
        for (unsigned int p = 0; p < drawn; ++p)
        {
            // Two runs of triangles are read as they lie, without a view per polygon.
            const KV_PolygonView polygon =
                runs ? KV_PolygonView(surface.mpPolygons->RunCorners(p), 3)
                     : (*surface.mpPolygons)[p];
            const KV_PolygonView texturePolygon =
                runs ? KV_PolygonView(texturePolygons->RunCorners(p), 3) : (*texturePolygons)[p];
            const unsigned int n = std::min(polygon.Count(), texturePolygon.Count());
            bool inside = n >= 3;
            for (unsigned int k = 0; k < n; ++k)
            {
                const std::uint32_t t = texturePolygon[k], v = polygon[k];
                inside = inside && (k >= 3 || (v < vertexCount && t < homeCount));
                if (t >= homeCount)
                    continue;
                shared |= owner[t] != kUnclaimed && owner[t] != v;
                owner[t] = v;
            }
            everyInside = everyInside && inside;
        }
    }
    // A surface file's triangles are its texture polygons as they are: their flat run is
    // shared rather than copied. Otherwise each corner its coordinate's element, unless the
    // pass below sorts them out.
    const bool plain = look.cornerNormals == nullptr && look.materials == nullptr;
    const bool asTexturePolygons = mbTexturedLayout && plain && !shared && everyInside &&
                                   texturePolygons->FlatCornerCount() == 3 &&
                                   homeCount <= static_cast<unsigned int>(INT32_MAX);
    if (asTexturePolygons && !mbVertexLayoutRefused && polygonCount >= munVertexLayoutFrom &&
        look.colours == nullptr && look.normals == nullptr && surfaceNormals != nullptr)
    {
        std::optional<VertexClaims> made;
        if (claims.Valid())
            made = claims.Get();
        if (BuildVertexLayout(surface, made ? &*made : nullptr))
            return;
    }
    claims.Abandon();
    if (asTexturePolygons)
    {
        mpkTriangles->Share(texturePolygons->SharedPieces(), polygonCount);
    }
    else
    {
        own.assign(static_cast<size_t>(polygonCount) * 3, -1);
        for (unsigned int p = 0; mbTexturedLayout && p < drawn; ++p)
        {
            const KV_PolygonView& polygon = (*surface.mpPolygons)[p];
            const KV_PolygonView& texturePolygon = (*texturePolygons)[p];
            if (std::min(polygon.Count(), texturePolygon.Count()) < 3)
                continue;
            bool inside = true;
            for (unsigned int k = 0; k < 3; ++k)
                inside = inside && polygon[k] < vertexCount && texturePolygon[k] < homeCount;
            if (inside)
                for (unsigned int k = 0; k < 3; ++k)
                    own[3 * static_cast<size_t>(p) + k] = static_cast<int>(texturePolygon[k]);
        }
    }

    // Each corner takes its home when the home's vertex is its vertex and the home's normal
    // and material (claimed by the first corner to take it) are its own; the others become
    // strays, given elements of their own below. A textured surface whose coordinates each
    // belong to one vertex, without the file's corner normals or materials (every surface
    // file), has its triangles already.
    std::vector<std::uint32_t> homeNormal, homeSlot;
    if (look.cornerNormals != nullptr)
        homeNormal.assign(homeCount, kUnclaimed);
    if (look.materials != nullptr)
        homeSlot.assign(homeCount, kUnclaimed);
    std::vector<StrayCorner> strays;
    size_t cornerOffset = 0;
    if (mbTexturedLayout && plain && !shared)
        drawn = 0;
    for (unsigned int p = 0; p < drawn; ++p)
    {
        const KV_PolygonView& polygon = (*surface.mpPolygons)[p];
        const size_t firstCorner = cornerOffset;
        cornerOffset += polygon.Count();
        if (polygon.Count() < 3)
            continue;
        const bool textured = texturePolygons != nullptr;
        const KV_PolygonView texturePolygon =
            textured ? (*texturePolygons)[p] : KV_PolygonView(nullptr, 0);
        if (textured && texturePolygon.Count() < 3)
            continue;
        std::uint32_t v[3], home[3];
        bool inside = true;
        for (int k = 0; k < 3; ++k)
        {
            v[k] = polygon[k];
            home[k] = textured ? texturePolygon[k] : v[k];
            inside = inside && v[k] < vertexCount && home[k] < homeCount;
        }
        if (!inside)
            continue;
        std::uint32_t slot = 0;
        if (look.materials != nullptr)
            slot = look.materials[p] == kNoMaterial ? look.materialCount : look.materials[p];
        int* out = &own[3 * static_cast<size_t>(p)];
        if (plain)
        {
            for (int k = 0; k < 3; ++k)
            {
                if (!textured || owner[home[k]] == v[k])
                    out[k] = static_cast<int>(home[k]);
                else
                    strays.push_back({v[k], home[k], 0, 0, static_cast<std::uint32_t>(3 * p + k)});
            }
            continue;
        }
        for (int k = 0; k < 3; ++k)
        {
            const std::uint32_t h = home[k];
            const std::uint32_t normal =
                look.cornerNormals != nullptr ? look.cornerNormals[firstCorner + k] : 0;
            bool own = !textured || owner[h] == v[k];
            if (own && look.cornerNormals != nullptr)
                own = homeNormal[h] == kUnclaimed || homeNormal[h] == normal;
            if (own && look.materials != nullptr)
                own = homeSlot[h] == kUnclaimed || homeSlot[h] == slot;
            if (own)
            {
                if (look.cornerNormals != nullptr)
                    homeNormal[h] = normal;
                if (look.materials != nullptr)
                    homeSlot[h] = slot;
                out[k] = static_cast<int>(h);
                continue;
            }
            strays.push_back({v[k], textured ? h : 0u, normal, slot,
                              static_cast<std::uint32_t>(3 * p + k)});
        }
    }

    // One element per distinct need of the strays, after the homes.
    std::sort(strays.begin(), strays.end());
    size_t extra = 0;
    for (size_t i = 0; i < strays.size(); ++i)
        extra += (i == 0 || !strays[i].SameElement(strays[i - 1])) ? 1 : 0;
    const size_t elementCount = homeCount + extra;
    munElementCount = elementCount;
    munMaterialCount = look.materials != nullptr ? look.materialCount : 0;
    (*mpkPositions).resize(elementCount * 3, 0.0f);
    mkNormals.resize(elementCount * 3, 0.0f);
    // A surface file's coordinates, one element each, are taken as they lie when the reader
    // put them in one piece.
    static_assert(sizeof(KV_Vector2D) == 2 * sizeof(float), "a coordinate is u, v");
    if (asTexturePolygons && elementCount == homeCount)
        mpkSharedCoordinates = coordinates->SharedPiece();
    if (mbTexturedLayout && !mpkSharedCoordinates)
        mkTextureCoordinates.resize(elementCount * 2, 0.0f);
    if (look.colours != nullptr)
        mkColours.resize(elementCount * 4, 0);
    if (look.materials != nullptr)
        mkElementSlots.resize(elementCount, munMaterialCount);

    // Only read for a vertex below vertexCount, so never when the list is absent.
    const KV_List<KV_Vector3D>* vertices = surface.mpVertices;
    auto put = [&](size_t element, std::uint32_t vertex, std::uint32_t coordinate,
                   const KV_Vector3D* normal)
    {
        PutVector((*mpkPositions), static_cast<unsigned int>(element), (*vertices)[vertex]);
        if (normal != nullptr)
            PutVector(mkNormals, static_cast<unsigned int>(element), *normal);
        else if (look.vertexNormals)
            PutVector(mkNormals, static_cast<unsigned int>(element), look.normals[vertex]);
        else if (surfaceNormals != nullptr)
            PutVector(mkNormals, static_cast<unsigned int>(element), (*surfaceNormals)[vertex]);
        if (coordinates != nullptr && !mpkSharedCoordinates)
        {
            mkTextureCoordinates[2 * element] = (*coordinates)[coordinate].u;
            mkTextureCoordinates[2 * element + 1] = (*coordinates)[coordinate].v;
        }
        if (look.colours != nullptr)
            std::copy_n(look.colours + 4 * static_cast<size_t>(vertex), 4, &mkColours[4 * element]);
    };
    for (unsigned int h = 0; h < homeCount; ++h)
    {
        std::uint32_t vertex = h;
        if (coordinates != nullptr)
        {
            const KV_Vector2D& t = (*coordinates)[h];
            mbRepeatsTexture =
                mbRepeatsTexture || !(t.u >= 0.0f && t.u <= 1.0f && t.v >= 0.0f && t.v <= 1.0f);
            vertex = owner[h];
            if (vertex >= vertexCount)
                continue;  // no vertex: the element stays unset and no triangle uses it
        }
        const bool claimed = look.cornerNormals != nullptr && homeNormal[h] != kUnclaimed;
        put(h, vertex, h, claimed ? &look.normals[homeNormal[h]] : nullptr);
        if (look.materials != nullptr && homeSlot[h] != kUnclaimed)
            mkElementSlots[h] = homeSlot[h];
    }
    size_t element = homeCount;
    for (size_t i = 0; i < strays.size(); ++i)
    {
        const StrayCorner& stray = strays[i];
        if (i > 0 && !stray.SameElement(strays[i - 1]))
            ++element;
        if (i == 0 || !stray.SameElement(strays[i - 1]))
        {
            put(element, stray.vertex, stray.coordinate,
                look.cornerNormals != nullptr ? &look.normals[stray.normal] : nullptr);
            if (look.materials != nullptr)
                mkElementSlots[element] = stray.slot;
        }
        own[stray.corner] = static_cast<int>(element);
    }

    // Each material's picture repeats when its own coordinates leave the unit square.
    if (look.materials != nullptr)
    {
        mkSlotRepeats.assign(munMaterialCount + 1, 0);
        for (size_t corner = 0; corner < (*mpkTriangles).size(); ++corner)
        {
            if ((*mpkTriangles)[corner - corner % 3] < 0)
                continue;
            const size_t e = static_cast<size_t>((*mpkTriangles)[corner]);
            const float u = mkTextureCoordinates[2 * e], w = mkTextureCoordinates[2 * e + 1];
            if (!(u >= 0.0f && u <= 1.0f && w >= 0.0f && w <= 1.0f))
                mkSlotRepeats[mkElementSlots[e]] = 1;
        }
    }
}

bool KV_PolySurfaceActor3D::BuildVertexLayout(const KV_PolySurface& surface, VertexClaims* claimed)
{
    // Called with the textured surface file's triangles checked: every polygon and texture
    // polygon a triangle inside the lists, each coordinate at one vertex.
    const KV_List<KV_Polygon>& polygons = *surface.mpPolygons;
    const KV_List<KV_Polygon>& texturePolygons = *surface.mpTexturePolygons;
    const unsigned int vertexCount = surface.VertexCount();
    const unsigned int polygonCount = surface.PolygonCount();
    if (polygons.FlatCornerCount() != 3 || vertexCount > static_cast<unsigned int>(INT32_MAX))
        return false;
    std::shared_ptr<const KV_Vector3D> positions = surface.mpVertices->SharedPiece();
    std::shared_ptr<const KV_Vector3D> normals = surface.mpVertexNormals->SharedPiece();
    std::shared_ptr<const KV_Vector2D> coordinates = surface.mpTextureCoordinates->SharedPiece();
    if (!positions || !normals || !coordinates)
        return false;
    // Many seam triangles would cost more than the layout saves.
    VertexClaims claims = claimed != nullptr ? std::move(*claimed) : ClaimCoordinates(surface);
    if (claims.refused)
        return false;
    const std::vector<std::uint32_t>& own = claims.own;
    std::vector<std::uint32_t>& seams = claims.seams;
    static_assert(sizeof(KV_Vector3D) == 3 * sizeof(float), "a position is x, y, z");
    mbVertexLayout = true;
    munElementCount = vertexCount;
    munCoordinateCount = surface.mpTextureCoordinates->Count();
    mpkVertexPositions = std::move(positions);
    mpkVertexNormals = std::move(normals);
    mpkCoordinatePiece = std::move(coordinates);
    mpkTriangles->Share(polygons.SharedPieces(), polygonCount);
    mpkCoordinateTriangles = std::make_shared<KV_TriangleCorners>();
    mpkCoordinateTriangles->Share(texturePolygons.SharedPieces(), polygonCount);
    const KV_Vector2D* uv = mpkCoordinatePiece.get();
    for (std::size_t t = 0; t < munCoordinateCount; ++t)
        mbRepeatsTexture = mbRepeatsTexture || !(uv[t].u >= 0.0f && uv[t].u <= 1.0f &&
                                                 uv[t].v >= 0.0f && uv[t].v <= 1.0f);
    // Where each vertex's coordinate has the vertex's own number (a file whose coordinates
    // are per vertex, seams apart), the coordinates are drawn as they lie, as the positions
    // are; a vertex no corner uses is never read.
    bool numberedAsVertices = munCoordinateCount >= vertexCount;
    for (unsigned int v = 0; v < vertexCount && numberedAsVertices; ++v)
        numberedAsVertices = own[v] == kUnclaimed || own[v] == v;
    if (numberedAsVertices)
        mpkSharedCoordinates = mpkCoordinatePiece;
    else
    {
        mkTextureCoordinates.assign(2 * static_cast<std::size_t>(vertexCount), 0.0f);
        for (unsigned int v = 0; v < vertexCount; ++v)
            if (own[v] != kUnclaimed)
            {
                mkTextureCoordinates[2 * static_cast<std::size_t>(v)] = uv[own[v]].u;
                mkTextureCoordinates[2 * static_cast<std::size_t>(v) + 1] = uv[own[v]].v;
            }
    }
    mkSeamTriangles = std::move(seams);
    const std::size_t seamCorners = 3 * mkSeamTriangles.size();
    mkSeamPositions.resize(3 * seamCorners);
    mkSeamNormals.resize(3 * seamCorners);
    mkSeamCoordinates.resize(2 * seamCorners);
    mkSeamEdges.resize(2 * seamCorners);
    for (std::size_t s = 0; s < mkSeamTriangles.size(); ++s)
    {
        const KV_PolygonView polygon = polygons[mkSeamTriangles[s]];
        const KV_PolygonView texturePolygon = texturePolygons[mkSeamTriangles[s]];
        for (unsigned int k = 0; k < 3; ++k)
        {
            const std::size_t e = 3 * s + k;
            const KV_Vector3D& p = mpkVertexPositions.get()[polygon[k]];
            const KV_Vector3D& n = mpkVertexNormals.get()[polygon[k]];
            std::copy_n(&p.x, 3, &mkSeamPositions[3 * e]);
            std::copy_n(&n.x, 3, &mkSeamNormals[3 * e]);
            mkSeamCoordinates[2 * e] = uv[texturePolygon[k]].u;
            mkSeamCoordinates[2 * e + 1] = uv[texturePolygon[k]].v;
        }
        // The lines a-b, b-c, c-a, as the main edge list has them.
        const unsigned int a = static_cast<unsigned int>(3 * s);
        const unsigned int edges[6] = {a, a + 1, a + 1, a + 2, a + 2, a};
        std::copy_n(edges, 6, &mkSeamEdges[6 * s]);
    }
    return true;
}

std::vector<std::uint32_t> KV_PolySurfaceActor3D::CoordinateOwners() const
{
    std::vector<std::uint32_t> owner(munCoordinateCount, kUnclaimed);
    if (!mbVertexLayout)
        return owner;
    const std::size_t triangles = mpkTriangles->size() / 3;
    for (std::size_t t = 0; t < triangles; ++t)
    {
        const int* v = mpkTriangles->Triangle(t);
        const int* c = mpkCoordinateTriangles->Triangle(t);
        for (int k = 0; k < 3; ++k)
            owner[static_cast<std::size_t>(c[k])] = static_cast<std::uint32_t>(v[k]);
    }
    return owner;
}

std::shared_ptr<const std::vector<float>> KV_PolySurfaceActor3D::SharedPositions() const
{
    if (!mbVertexLayout)
        return mpkPositions;
    // One per coordinate, for the coarse copy in the making; let go by it when it is done.
    const std::vector<std::uint32_t> owner = CoordinateOwners();
    auto positions = std::make_shared<std::vector<float>>(3 * munCoordinateCount, 0.0f);
    for (std::size_t t = 0; t < munCoordinateCount; ++t)
        if (owner[t] != kUnclaimed)
            std::copy_n(&mpkVertexPositions.get()[owner[t]].x, 3, &(*positions)[3 * t]);
    return positions;
}

const float* KV_PolySurfaceActor3D::PositionData() const
{
    return mbVertexLayout ? &mpkVertexPositions.get()->x : mpkPositions->data();
}

const float* KV_PolySurfaceActor3D::NormalData() const
{
    return mbVertexLayout ? &mpkVertexNormals.get()->x : mkNormals.data();
}

std::vector<float> KV_PolySurfaceActor3D::Positions() const
{
    if (!mbVertexLayout)
        return *mpkPositions;
    return std::vector<float>(PositionData(), PositionData() + 3 * munElementCount);
}

std::vector<float> KV_PolySurfaceActor3D::Normals() const
{
    if (!mbVertexLayout)
        return mkNormals;
    return std::vector<float>(NormalData(), NormalData() + 3 * munElementCount);
}

void KV_PolySurfaceActor3D::PointArrays(bool seams) const
{
    const bool flat = mbDrawingFlat && mbFlatMade;
    if (seams)
    {
        glVertexPointer(3, GL_FLOAT, 0, mkSeamPositions.data());
        glNormalPointer(GL_FLOAT, 0, mkSeamNormals.data());
        glTexCoordPointer(2, GL_FLOAT, 0, mkSeamCoordinates.data());
        return;
    }
    glVertexPointer(3, GL_FLOAT, 0, PositionData());
    glNormalPointer(GL_FLOAT, 0, flat ? mkFlatNormals.data() : NormalData());
    if (mbTexturedLayout)
        glTexCoordPointer(2, GL_FLOAT, 0, TextureCoordinateData());
}

void KV_PolySurfaceActor3D::BuildFlatLayout()
{
    // Flat shading adds elements of its own, which the surface's lists have no room for.
    if (mbVertexLayout)
    {
        mbVertexLayoutRefused = true;
        // The same elements per coordinate as the coarse list names: it stays current.
        const unsigned int builds = munArrayBuilds;
        BuildArrays();
        munArrayBuilds = builds;
    }
    // The flat layout's elements are appended to the positions: a list the coarse copy in
    // the making still reads is copied first.
    if (mpkPositions.use_count() > 1)
        mpkPositions = std::make_shared<std::vector<float>>(*mpkPositions);
    if (mbFlatMade)
        return;
    mbFlatMade = true;
    const size_t elementCount = munElementCount;
    std::vector<int>& flatTriangles = mkFlatTriangles.Own();
    flatTriangles = mpkTriangles->ToVector();
    // The flat layout's elements are appended to the coordinates too.
    if (mpkSharedCoordinates)
    {
        const float* shared = TextureCoordinateData();
        mkTextureCoordinates.assign(shared, shared + 2 * elementCount);
        mpkSharedCoordinates.reset();
    }
    mkFlatNormals = mkNormals;
    // Each triangle's last corner becomes an element only it uses as its last: one of its
    // own corners when that is still free (the triangle turned so that it comes last, which
    // keeps the winding), else a copy of its last corner made for it.
    std::vector<char> taken(elementCount, 0);
    const size_t triangleCount = flatTriangles.size() / 3;
    for (size_t t = 0; t < triangleCount; ++t)
    {
        int* c = &flatTriangles[3 * t];
        if (c[0] < 0)
            continue;
        const float* a = &(*mpkPositions)[3 * static_cast<size_t>(c[0])];
        const float* b = &(*mpkPositions)[3 * static_cast<size_t>(c[1])];
        const float* d = &(*mpkPositions)[3 * static_cast<size_t>(c[2])];
        KV_Vector3D normal = CrossProduct(KV_Vector3D(b[0] - a[0], b[1] - a[1], b[2] - a[2]),
                                          KV_Vector3D(d[0] - a[0], d[1] - a[1], d[2] - a[2]));
        const float length = normal.Length();
        if (length > 0.0f)
            normal /= length;
        else
            normal = KV_Vector3D(mkNormals[3 * static_cast<size_t>(c[2])],
                                 mkNormals[3 * static_cast<size_t>(c[2]) + 1],
                                 mkNormals[3 * static_cast<size_t>(c[2]) + 2]);
        int k = 2;
        while (k >= 0 && taken[static_cast<size_t>(c[k])]) --k;
        if (k == 1)
        {
            const int first = c[0];
            c[0] = c[2];
            c[2] = c[1];
            c[1] = first;
        }
        else if (k == 0)
        {
            const int first = c[0];
            c[0] = c[1];
            c[1] = c[2];
            c[2] = first;
        }
        if (k >= 0)
        {
            taken[static_cast<size_t>(c[2])] = 1;
        }
        else
        {
            const size_t from = static_cast<size_t>(c[2]);
            const size_t copy = (*mpkPositions).size() / 3;
            for (int i = 0; i < 3; ++i)
            {
                const float position = (*mpkPositions)[3 * from + i];
                const float smooth = mkNormals[3 * from + i];
                (*mpkPositions).push_back(position);
                mkNormals.push_back(smooth);
                mkFlatNormals.push_back(0.0f);
            }
            if (mbTexturedLayout)
                for (int i = 0; i < 2; ++i)
                {
                    const float coordinate = mkTextureCoordinates[2 * from + i];
                    mkTextureCoordinates.push_back(coordinate);
                }
            if (!mkColours.empty())
                for (int i = 0; i < 4; ++i)
                {
                    const std::uint8_t colour = mkColours[4 * from + i];
                    mkColours.push_back(colour);
                }
            if (!mkElementSlots.empty())
            {
                const std::uint32_t slot = mkElementSlots[from];
                mkElementSlots.push_back(slot);
            }
            c[2] = static_cast<int>(copy);
        }
        PutVector(mkFlatNormals, static_cast<unsigned int>(c[2]), normal);
    }
    if (!mkDrawnCorners.empty())
        OrderTriangles(mkFlatTriangles, mkFlatDrawnCorners);
}

void KV_PolySurfaceActor3D::UploadMaterialTextures()
{
    mkMaterialPictures.clear();
    const KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr)
        return;
    const KV_PolySurface& surface = geometry->DrawingSurface();
    const KV_SurfaceAppearance& look = geometry->Appearance();
    if (!IsTextured(surface) || !MaterialsFit(look, surface))
        return;
    const size_t count = look.materials.size();
    std::vector<char> used(count, 0);
    for (std::uint32_t m : look.polygonMaterials)
        if (m < count)
            used[m] = 1;
    mkMaterialPictures.assign(count, 0);
    if (mkMoreTextureNames.size() < count)
        mkMoreTextureNames.resize(count, 0);
    for (std::uint32_t m = 0; m < count; ++m)
    {
        const KV_MultiImage* image = used[m] ? look.MaterialImage(m, surface) : nullptr;
        if (image == nullptr)
            continue;
        if (image == surface.mpTextureMap)
        {
            mkMaterialPictures[m] = 1;
            continue;
        }
        UploadTextureObject(*image, mkMoreTextureNames[m]);
        if (mkMoreTextureNames[m] != 0)
            mkMaterialPictures[m] = 2;
    }
}

unsigned int KV_PolySurfaceActor3D::MaterialTextureName(std::uint32_t material) const
{
    if (material == kMainPicture)
        return munTextureName;
    if (material >= mkMaterialPictures.size())
        return 0;
    if (mkMaterialPictures[material] == 1)
        return munTextureName;
    if (mkMaterialPictures[material] == 2 && material < mkMoreTextureNames.size())
        return mkMoreTextureNames[material];
    return 0;
}

bool KV_PolySurfaceActor3D::RepeatsTexture(std::uint32_t material) const
{
    if (material == kMainPicture)
        return mbRepeatsTexture;
    return material < mkSlotRepeats.size() && mkSlotRepeats[material] != 0;
}

const float* KV_PolySurfaceActor3D::TextureCoordinateData() const
{
    return mpkSharedCoordinates ? reinterpret_cast<const float*>(mpkSharedCoordinates.get())
                                : mkTextureCoordinates.data();
}

std::size_t KV_PolySurfaceActor3D::TextureCoordinateCount() const
{
    return mpkSharedCoordinates ? munElementCount : mkTextureCoordinates.size() / 2;
}

std::vector<float> KV_PolySurfaceActor3D::TextureCoordinates() const
{
    const float* data = TextureCoordinateData();
    return std::vector<float>(data, data + 2 * TextureCoordinateCount());
}

const KV_TriangleCorners& KV_PolySurfaceActor3D::DrawnTriangles() const
{
    return mbDrawingFlat && mbFlatMade ? mkFlatTriangles : (*mpkTriangles);
}

void KV_PolySurfaceActor3D::EnableArrays()
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    if (mbTexturedLayout)
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    PointArrays(false);
    // Red, green and blue of each element's four bytes: the colours draw opaque, as the
    // surface itself does.
    if (!mkColours.empty())
        glColorPointer(3, GL_UNSIGNED_BYTE, 4, mkColours.data());
}

void KV_PolySurfaceActor3D::CreateGLResources()
{
    BuildArraysBeside(
        [this]
        {
            CreateTexture();
            UploadMaterialTextures();
        });
    EnableArrays();
}

void KV_PolySurfaceActor3D::BuildArraysBeside(const std::function<void()>& upload)
{
    // The arrays are plain memory made from the surface, the upload is OpenGL's and stays on
    // this thread: a large textured surface gets both at once. Neither reads what the other
    // writes: the upload reads the picture and whether the surface is textured, the arrays
    // write their own vectors and the texture-coordinate vertices.
    const KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (mpExecutor == nullptr || geometry == nullptr ||
        geometry->DrawingSurface().PolygonCount() < kArraysBesideTextureFrom || !HasTexturePixels())
    {
        upload();
        BuildArrays();
        return;
    }
    // Waited for on every way out, the upload's exceptions included.
    KV_Task<void> arrays = KV_Spawn(mpExecutor, [this] { BuildArrays(); });
    upload();
    arrays.Get();
}

void KV_PolySurfaceActor3D::ReleaseGLResources()
{
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
}

void KV_PolySurfaceActor3D::ApplyPendingUpdates()
{
    if (mbPendingUpdates[KV_Subject::HINT_TEXTURE_CHANGED])
    {
        mbPendingUpdates[KV_Subject::HINT_TEXTURE_CHANGED] = false;
        // Without a texture object yet, UpdateTexture makes every resource, the materials'
        // pictures among them.
        const bool made = munTextureName != 0;
        UpdateTexture();
        if (made)
            UploadMaterialTextures();
    }
    if (mbPendingUpdates[KV_Subject::HINT_SURFACE_CHANGED])
    {
        mbPendingUpdates[KV_Subject::HINT_SURFACE_CHANGED] = false;
        BuildArrays();
    }
    // Dropped one by one from the front, so that a failing upload leaves the rest pending.
    while (!mkPendingHints.empty())
    {
        KV_SmartPtr<KV_SubjectObserverObjectHint> hint = mkPendingHints.front();
        mkPendingHints.erase(mkPendingHints.begin());
        if (const auto* rectangle = dynamic_cast<const KV_UpdateTextureSubImageHint*>(hint.Get()))
            UpdateTextureSubImage(rectangle->mnFirstColumn, rectangle->mnFirstRow,
                                  rectangle->mnLastColumn, rectangle->mnLastRow);
    }
    // The arrays are bound again in whichever context is current.
    EnableArrays();
}

void KV_PolySurfaceActor3D::DrawTriangle(unsigned int polygon, unsigned int primitive) const
{
    if (mbVertexLayout && !mkSeamTriangles.empty())
    {
        const auto seam = std::lower_bound(mkSeamTriangles.begin(), mkSeamTriangles.end(), polygon);
        if (seam != mkSeamTriangles.end() && *seam == polygon)
        {
            const GLint first = static_cast<GLint>(3 * (seam - mkSeamTriangles.begin()));
            PointArrays(true);
            glBegin(primitive);
            glArrayElement(first);
            glArrayElement(first + 1);
            glArrayElement(first + 2);
            glEnd();
            PointArrays(false);
            return;
        }
    }
    const int* corners = DrawnTriangles().Triangle(polygon);
    glBegin(primitive);
    glArrayElement(corners[0]);
    glArrayElement(corners[1]);
    glArrayElement(corners[2]);
    glEnd();
}

bool KV_PolySurfaceActor3D::IsWholeSurface(const KV_PolygonIndexList& polygons) const
{
    // A list written out holds some index off the run, so only a run can be the whole.
    const size_t triangleCount = (*mpkTriangles).size() / 3;
    return polygons.IsRun() && polygons.Count() == triangleCount && triangleCount != 0;
}

void KV_PolySurfaceActor3D::DrawAroundSeams(std::size_t first, std::size_t count,
                                            unsigned int primitive)
{
    const std::size_t end = (first + count) / 3;
    std::size_t t = first / 3;
    std::size_t s = static_cast<std::size_t>(
        std::lower_bound(mkSeamTriangles.begin(), mkSeamTriangles.end(), t) -
        mkSeamTriangles.begin());
    while (t < end)
    {
        const std::size_t next =
            s < mkSeamTriangles.size() && mkSeamTriangles[s] < end ? mkSeamTriangles[s] : end;
        if (next > t)
            DrawCornerRun(3 * t, 3 * (next - t), primitive);
        if (next == end)
            return;
        std::size_t run = 1;
        while (s + run < mkSeamTriangles.size() && mkSeamTriangles[s + run] == next + run &&
               next + run < end)
            ++run;
        PointArrays(true);
        if (primitive == GL_LINE_LOOP)
            DrawElementsInSteps(GL_LINES, 6 * run, mkSeamEdges.data() + 6 * s);
        else
            DrawArraysInSteps(primitive, 3 * s, 3 * run);
        PointArrays(false);
        t = next + run;
        s += run;
    }
}

void KV_PolySurfaceActor3D::DrawCorners(std::size_t first, std::size_t count,
                                        unsigned int primitive)
{
    const size_t cornerCount = 3 * static_cast<size_t>(munDrawableTriangles);
    if (count == 0 || first + count > cornerCount)
        return;
    if (mbVertexLayout)
        DrawAroundSeams(first, count, primitive);
    else
        DrawCornerRun(first, count, primitive);
}

void KV_PolySurfaceActor3D::DrawCornerRun(std::size_t first, std::size_t count,
                                          unsigned int primitive)
{
    const bool flat = mbDrawingFlat && mbFlatMade;
    const std::vector<unsigned int>& drawn = flat ? mkFlatDrawnCorners : mkDrawnCorners;
    const KV_TriangleCorners& triangles = flat ? mkFlatTriangles : (*mpkTriangles);
    const size_t cornerCount = 3 * static_cast<size_t>(munDrawableTriangles);
    if (count == 0 || first + count > cornerCount)
        return;
    if (primitive == GL_LINE_LOOP)
    {
        // Each triangle's loop a-b-c-a as the lines a-b, b-c, c-a: the same segments with
        // the same last (colour-giving) vertex each. Wireframe never draws the flat layout,
        // so the list is made from the smooth one.
        if (mkEdgeCorners.size() != 2 * cornerCount)
        {
            mkEdgeCorners.resize(2 * cornerCount);
            for (size_t t = 0; t < cornerCount; t += 3)
            {
                unsigned int corner[3];
                for (size_t k = 0; k < 3; ++k)
                    corner[k] =
                        drawn.empty() ? static_cast<unsigned int>(triangles[t + k]) : drawn[t + k];
                unsigned int* edge = &mkEdgeCorners[2 * t];
                edge[0] = corner[0];
                edge[1] = corner[1];
                edge[2] = corner[1];
                edge[3] = corner[2];
                edge[4] = corner[2];
                edge[5] = corner[0];
            }
        }
        DrawElementsInSteps(GL_LINES, 2 * count, mkEdgeCorners.data() + 2 * first);
        return;
    }
    if (!drawn.empty())
    {
        DrawElementsInSteps(primitive, count, drawn.data() + first);
        return;
    }
    // The triangles themselves, one call per stretch in memory (the pieces of a shared run).
    triangles.ForEachRun(first, count,
                         [this, primitive](const unsigned int* corners, std::size_t n)
                         { DrawElementsInSteps(primitive, n, corners); });
}

void KV_PolySurfaceActor3D::DrawElementsInSteps(unsigned int primitive, std::size_t count,
                                                const unsigned int* corners)
{
    DrawInSteps(
        count, [primitive, corners](std::size_t first, std::size_t n)
        { glDrawElements(primitive, static_cast<GLsizei>(n), GL_UNSIGNED_INT, corners + first); });
}

void KV_PolySurfaceActor3D::DrawArraysInSteps(unsigned int primitive, std::size_t first,
                                              std::size_t count)
{
    DrawInSteps(
        count, [primitive, first](std::size_t done, std::size_t n)
        { glDrawArrays(primitive, static_cast<GLint>(first + done), static_cast<GLsizei>(n)); });
}

template <typename DrawStep>
void KV_PolySurfaceActor3D::DrawInSteps(std::size_t count, DrawStep draw)
{
    // Steps of whole primitives: a multiple of both three (triangles) and two (lines).
    for (std::size_t done = 0; done < count;)
    {
        const std::size_t room = kCornersPerFlush - mnCornersSinceFlush;
        const std::size_t n = count - done <= room ? count - done : room - room % 6;
        draw(done, n);
        done += n;
        CountDrawnCorners(n);
    }
}

void KV_PolySurfaceActor3D::CountDrawnCorners(std::size_t count)
{
    mnCornersSinceFlush += count;
    if (mnCornersSinceFlush + 6 > kCornersPerFlush)
    {
        glFlush();
        mnCornersSinceFlush = 0;
    }
}

void KV_PolySurfaceActor3D::DrawPolygons(const KV_PolygonIndexList& polygons,
                                         unsigned int primitive, bool named, bool pictures)
{
    if (mbBatchedDrawing && cornerCountFits(polygons.Count()))
    {
        GLint mode = GL_RENDER;
        glGetIntegerv(GL_RENDER_MODE, &mode);
        if (mode == GL_RENDER && IsWholeSurface(polygons))
        {
            if (!pictures)
            {
                DrawCorners(0, 3 * static_cast<size_t>(munDrawableTriangles), primitive);
                return;
            }
            for (const DrawnRange& range : mkRanges)
            {
                ApplyRangeState(range.material, true);
                DrawCorners(range.first, range.count, primitive);
            }
            return;
        }
    }
    const KV_TriangleCorners& triangles = DrawnTriangles();
    const size_t triangleCount = triangles.size() / 3;
    const unsigned int count = polygons.Count();
    auto drawOne = [&](unsigned int k)
    {
        if (named)
            glPushName(k);
        DrawTriangle(k, primitive);
        if (named)
            glPopName();
    };
    if (!pictures || mkRanges.size() <= 1)
    {
        if (pictures && !mkRanges.empty())
            ApplyRangeState(mkRanges.front().material, true);
        for (unsigned int i = 0; i < count; ++i)
        {
            const unsigned int k = polygons[i];
            if (k < triangleCount && triangles[3 * static_cast<size_t>(k)] >= 0)
                drawOne(k);
        }
        return;
    }
    // Range by range: the listed polygons sorted by material slot first.
    std::vector<unsigned int> bySlot;
    std::vector<size_t> next(munMaterialCount + 2, 0);
    for (unsigned int i = 0; i < count; ++i)
    {
        const unsigned int k = polygons[i];
        if (k < triangleCount && triangles[3 * static_cast<size_t>(k)] >= 0)
            ++next[mkElementSlots[static_cast<size_t>(triangles[3 * static_cast<size_t>(k)])] + 1];
    }
    for (size_t slot = 1; slot < next.size(); ++slot) next[slot] += next[slot - 1];
    bySlot.resize(next.back());
    const std::vector<size_t> starts(next.begin(), next.end() - 1);
    for (unsigned int i = 0; i < count; ++i)
    {
        const unsigned int k = polygons[i];
        if (k < triangleCount && triangles[3 * static_cast<size_t>(k)] >= 0)
            bySlot[next[mkElementSlots[static_cast<size_t>(
                triangles[3 * static_cast<size_t>(k)])]]++] = k;
    }
    for (std::uint32_t slot = 0; slot <= munMaterialCount; ++slot)
    {
        if (starts[slot] == next[slot])
            continue;
        ApplyRangeState(slot == munMaterialCount ? kNoMaterial : slot, true);
        for (size_t i = starts[slot]; i < next[slot]; ++i) drawOne(bySlot[i]);
    }
}

void KV_PolySurfaceActor3D::ApplyRangeState(std::uint32_t material, bool pictures)
{
    const unsigned int name = pictures ? MaterialTextureName(material) : 0;
    if (name == 0)
    {
        glDisable(GL_TEXTURE_2D);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        ApplyPlainState();
        return;
    }
    EndPlainState();
    // A picture is shown in its own colours, lit without the surface material's shine.
    const KV_Material& own = SurfaceGeometry()->mkMaterial;
    const KV_Material lit(KV_Material::FRONT_AND_DIMMED_BACK,
                          KV_OGLColour(1.0f, 1.0f, 1.0f, own.mkAmbient.mrAlpha),
                          KV_OGLColour(0.4f, 0.4f, 0.4f, own.mkDiffuse.mrAlpha),
                          KV_OGLColour(0.0f, 0.0f, 0.0f, own.mkSpecular.mrAlpha), 0.0f);
    lit.Apply();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, name);
    // Coordinates beyond the unit square tile the picture, as the programs that write such
    // models show it; a picture whose coordinates stay inside keeps the edge clamp.
    const GLint wrap = RepeatsTexture(material) ? GL_REPEAT : GL_CLAMP;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
}

void KV_PolySurfaceActor3D::ApplyPlainState()
{
    const KV_Material& own = SurfaceGeometry()->mkMaterial;
    if (mkColours.empty())
    {
        own.Apply();
        return;
    }
    // The model's colours give ambient and diffuse; like a picture they are shown without
    // the surface material's white shine, which would wash them out where it is strongest.
    const KV_Material coloured(KV_Material::FRONT_AND_BACK, own.mkAmbient, own.mkDiffuse,
                               KV_OGLColour(0.0f, 0.0f, 0.0f, own.mkSpecular.mrAlpha), 0.0f);
    coloured.Apply();
    if (mbColoursOn)
        return;
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnableClientState(GL_COLOR_ARRAY);
    mbColoursOn = true;
}

void KV_PolySurfaceActor3D::EndPlainState()
{
    if (!mbColoursOn)
        return;
    glDisableClientState(GL_COLOR_ARRAY);
    glDisable(GL_COLOR_MATERIAL);
    mbColoursOn = false;
}

void KV_PolySurfaceActor3D::Draw()
{
    KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr)
        return;
    ApplyPendingUpdates();
    if (!mbIsVisible)
        return;
    if (mbIsBoundingBoxDisplayed)
        DrawBoundingBox();

    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    geometry->mkTransform.Apply();

    GLenum primitive = GL_TRIANGLES;
    GLenum shading = mbIsDisplayedSmooth ? GL_SMOOTH : GL_FLAT;
    if (mbIsDisplayedWireframe)
    {
        primitive = GL_LINE_LOOP;
        shading = GL_FLAT;
    }
    // Flat triangles take the normal of their own plane from the flat layout.
    mbDrawingFlat = !mbIsDisplayedSmooth && !mbIsDisplayedWireframe;
    if (mbDrawingFlat)
        BuildFlatLayout();
    EnableArrays();
    const bool pictures = mbIsDisplayedTextured && GetTextureName() != 0 && mbTexturedLayout;
    glShadeModel(shading);

    if (pictures)
    {
        DrawUnselected(*geometry, primitive, false, true);
    }
    else
    {
        glDisable(GL_TEXTURE_2D);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        ApplyPlainState();
        DrawUnselected(*geometry, primitive, true, false);
    }
    EndPlainState();

    KV_Geometry3D::mkSelectedMaterial.Apply();
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    DrawPolygons(geometry->SelectedPolyIndices(), primitive, true, false);

    if ((geometry->IsSelected() && mbIsBoundaryDisplayed) || mbAreHolesShown)
        DrawBoundaries();
    glPopMatrix();
}

void KV_PolySurfaceActor3D::SetCoarseTriangles(std::vector<unsigned int> triangles,
                                               unsigned int arrayBuild)
{
    mkCoarseTriangles = std::move(triangles);
    munCoarseBuild = arrayBuild;
    mkCoarsePositions.clear();
    mkCoarseNormals.clear();
    mkCoarseTextureCoordinates.clear();
    mkCoarseColours.clear();
    mkCoarseRanges.clear();
    mkCoarseTriangles.resize(mkCoarseTriangles.size() / 3 * 3);
    // Never an index past the arrays the list was made for.
    const std::size_t elements = mbVertexLayout ? munCoordinateCount : (*mpkPositions).size() / 3;
    for (unsigned int index : mkCoarseTriangles)
        if (index >= elements)
        {
            mkCoarseTriangles.clear();
            return;
        }
    // By material as the full list is, each triangle taking its first corner's.
    if (!mkElementSlots.empty() && mkElementSlots.size() >= elements)
    {
        const size_t triangleCount = mkCoarseTriangles.size() / 3;
        std::vector<size_t> next(munMaterialCount + 2, 0);
        for (size_t t = 0; t < triangleCount; ++t)
            ++next[mkElementSlots[mkCoarseTriangles[3 * t]] + 1];
        for (size_t slot = 1; slot < next.size(); ++slot) next[slot] += next[slot - 1];
        for (std::uint32_t slot = 0; slot <= munMaterialCount; ++slot)
            if (next[slot + 1] > next[slot])
                mkCoarseRanges.push_back({slot == munMaterialCount ? kNoMaterial : slot,
                                          3 * next[slot], 3 * (next[slot + 1] - next[slot])});
        std::vector<unsigned int> sorted(mkCoarseTriangles.size());
        for (size_t t = 0; t < triangleCount; ++t)
        {
            const size_t at = 3 * next[mkElementSlots[mkCoarseTriangles[3 * t]]]++;
            for (size_t k = 0; k < 3; ++k) sorted[at + k] = mkCoarseTriangles[3 * t + k];
        }
        mkCoarseTriangles.swap(sorted);
    }
    else if (!mkCoarseTriangles.empty())
    {
        mkCoarseRanges.push_back({mkRanges.empty() ? kNoMaterial : mkRanges.front().material, 0,
                                  mkCoarseTriangles.size()});
    }
    // The copy gets arrays of its own, holding only the elements it uses: drawn from the
    // full arrays, every frame would pass all of their elements to OpenGL (client arrays are
    // read over the whole index range), which costs more than the triangles saved.
    const unsigned int unused = ~0u;
    std::vector<unsigned int> remap(elements, unused);
    if (mbVertexLayout)
    {
        // One element per coordinate, at the vertex that owns it.
        const std::vector<std::uint32_t> owner = CoordinateOwners();
        for (unsigned int& index : mkCoarseTriangles)
        {
            if (remap[index] == unused)
            {
                remap[index] = static_cast<unsigned int>(mkCoarsePositions.size() / 3);
                const std::uint32_t v = owner[index] == kUnclaimed ? 0 : owner[index];
                const float* p = &mpkVertexPositions.get()[v].x;
                const float* n = &mpkVertexNormals.get()[v].x;
                mkCoarsePositions.insert(mkCoarsePositions.end(), p, p + 3);
                mkCoarseNormals.insert(mkCoarseNormals.end(), n, n + 3);
                const float* uv = &mpkCoordinatePiece.get()[index].u;
                mkCoarseTextureCoordinates.insert(mkCoarseTextureCoordinates.end(), uv, uv + 2);
            }
            index = remap[index];
        }
        return;
    }
    const bool textured = mbTexturedLayout && TextureCoordinateCount() >= elements;
    const float* coordinates = TextureCoordinateData();
    const bool coloured = !mkColours.empty() && mkColours.size() / 4 >= elements;
    for (unsigned int& index : mkCoarseTriangles)
    {
        if (remap[index] == unused)
        {
            remap[index] = static_cast<unsigned int>(mkCoarsePositions.size() / 3);
            mkCoarsePositions.insert(mkCoarsePositions.end(), &(*mpkPositions)[3 * size_t(index)],
                                     &(*mpkPositions)[3 * size_t(index)] + 3);
            mkCoarseNormals.insert(mkCoarseNormals.end(), &mkNormals[3 * size_t(index)],
                                   &mkNormals[3 * size_t(index)] + 3);
            if (textured)
                mkCoarseTextureCoordinates.insert(mkCoarseTextureCoordinates.end(),
                                                  coordinates + 2 * size_t(index),
                                                  coordinates + 2 * size_t(index) + 2);
            if (coloured)
                mkCoarseColours.insert(mkCoarseColours.end(), &mkColours[4 * size_t(index)],
                                       &mkColours[4 * size_t(index)] + 4);
        }
        index = remap[index];
    }
}

void KV_PolySurfaceActor3D::DrawUnselected(const KV_PolySurfaceGeometry3D& geometry,
                                           unsigned int primitive, bool named, bool pictures)
{
    const bool coarse = mbDrawCoarse && !mbRenderToMemory && HasCoarseTriangles() &&
                        geometry.SelectedPolyIndices().Count() == 0;
    if (!coarse)
    {
        DrawPolygons(geometry.UnselectedPolyIndices(), primitive, named, pictures);
        return;
    }
    glVertexPointer(3, GL_FLOAT, 0, mkCoarsePositions.data());
    glNormalPointer(GL_FLOAT, 0, mkCoarseNormals.data());
    if (!mkCoarseTextureCoordinates.empty())
        glTexCoordPointer(2, GL_FLOAT, 0, mkCoarseTextureCoordinates.data());
    if (!mkCoarseColours.empty())
        glColorPointer(3, GL_UNSIGNED_BYTE, 4, mkCoarseColours.data());
    if (primitive != GL_TRIANGLES)
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    for (const DrawnRange& range : mkCoarseRanges)
    {
        if (pictures)
            ApplyRangeState(range.material, true);
        DrawElementsInSteps(GL_TRIANGLES, range.count, mkCoarseTriangles.data() + range.first);
    }
    if (primitive != GL_TRIANGLES)
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    // Back to the full arrays for whatever is drawn next.
    EnableArrays();
}

void KV_PolySurfaceActor3D::DrawBoundingBox() const
{
    const KV_BoundingBox3D box = mkGeometry->GetBoundingBox();
    OutlineState outline;
    for (float z : {box.mrZLo, box.mrZHi})
    {
        glBegin(GL_LINE_LOOP);
        glVertex3f(box.mrXLo, box.mrYLo, z);
        glVertex3f(box.mrXHi, box.mrYLo, z);
        glVertex3f(box.mrXHi, box.mrYHi, z);
        glVertex3f(box.mrXLo, box.mrYHi, z);
        glEnd();
    }
    glBegin(GL_LINES);
    const float corners[4][2] = {{box.mrXLo, box.mrYLo},
                                 {box.mrXHi, box.mrYLo},
                                 {box.mrXHi, box.mrYHi},
                                 {box.mrXLo, box.mrYHi}};
    for (const auto& c : corners)
    {
        glVertex3f(c[0], c[1], box.mrZLo);
        glVertex3f(c[0], c[1], box.mrZHi);
    }
    glEnd();
}

void KV_PolySurfaceActor3D::DrawBoundaries() const
{
    // The boundaries may be finished after the first frame: OutlinedSurface() waits for them.
    const KV_PolySurface& surface = SurfaceGeometry()->OutlinedSurface();
    if (surface.mpBoundaries == nullptr || surface.mpVertices == nullptr)
        return;
    const unsigned int vertexCount = surface.VertexCount();
    OutlineState outline;
    for (unsigned int b = 0; b < surface.mpBoundaries->Count(); ++b)
    {
        const KV_Boundary& loop = (*surface.mpBoundaries)[b];
        if (loop.Count() <= 2)
            continue;
        glBegin(GL_LINE_LOOP);
        for (unsigned int k = 0; k < loop.Count(); ++k)
        {
            if (loop[k] >= vertexCount)
                continue;
            const KV_Vector3D& p = (*surface.mpVertices)[loop[k]];
            glVertex3f(p.x, p.y, p.z);
        }
        glEnd();
    }
}

unsigned int KV_PolySurfaceActor3D::DrawForColourPicking(unsigned int firstId)
{
    KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr || !mbIsPickable || !mbIsVisible)
        return firstId;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    geometry->mkTransform.Apply();
    ApplyPendingUpdates();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    // Each polygon's colour is its id: no colour array may replace it.
    EndPlainState();
    const unsigned int polygonCount = static_cast<unsigned int>((*mpkTriangles).size() / 3);
    for (unsigned int i = 0; i < polygonCount; ++i)
    {
        const unsigned int id = firstId + i;
        glColor3ub(static_cast<GLubyte>(id & 0xff), static_cast<GLubyte>((id >> 8) & 0xff),
                   static_cast<GLubyte>((id >> 16) & 0xff));
        if ((*mpkTriangles)[3 * static_cast<size_t>(i)] >= 0)
            DrawTriangle(i, GL_TRIANGLES);
    }
    glPopMatrix();
    glEnable(GL_LIGHTING);
    return firstId + polygonCount;
}

void KV_PolySurfaceActor3D::DrawForSelection(int pass)
{
    KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr || !mbIsPickable || !mbIsVisible || (pass != 0 && pass != 1))
        return;
    glPushName(geometry->munID);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    geometry->mkTransform.Apply();
    ApplyPendingUpdates();
    glShadeModel(GL_FLAT);
    geometry->mkMaterial.Apply();
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    DrawPolygons(geometry->UnselectedPolyIndices(), GL_TRIANGLES, true, false);
    KV_Geometry3D::mkSelectedMaterial.Apply();
    DrawPolygons(geometry->SelectedPolyIndices(), GL_TRIANGLES, true, false);
    glPopMatrix();
    glPopName();
}
