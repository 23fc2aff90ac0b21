#include "render/KV_PolySurfaceActor3D.h"

#include "foundation/KV_Async.h"
#include "render/KV_Material.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "surface/KV_PolySurface.h"

#include <GL/gl.h>

#include <cstdint>
#include <future>

namespace
{
// The holder handed out for a surface without a usable texture.
const KV_MultiImage& EmptyImage()
{
    static const KV_MultiImage empty;
    return empty;
}

bool IsTextured(const KV_PolySurface& surface)
{
    return surface.HasTextureMap() && surface.mpTextureCoordinates != nullptr &&
           surface.mpTexturePolygons != nullptr && surface.mpTexturePolygons->Count() > 0;
}

// The first three entries of polygon as element indices, or -1s when it has fewer than
// three or one of them is not below elementCount.
void Corners(const KV_Polygon& polygon, unsigned int elementCount, int* out)
{
    if (polygon.Count() < 3 || polygon[0] >= elementCount || polygon[1] >= elementCount ||
        polygon[2] >= elementCount)
    {
        out[0] = out[1] = out[2] = -1;
        return;
    }
    for (int k = 0; k < 3; ++k) out[k] = static_cast<int>(polygon[k]);
}

// Below this many polygons the arrays take less time than a second thread costs to start.
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
    // The batched path's corner list: only needed when some polygon is not drawn.
    std::vector<unsigned int>().swap(mkDrawnCorners);
    std::vector<unsigned int>().swap(mkEdgeCorners);
    const size_t triangleCount = mkTriangles.size() / 3;
    size_t drawable = 0;
    for (size_t t = 0; t < triangleCount; ++t) drawable += mkTriangles[3 * t] >= 0 ? 1 : 0;
    munDrawableTriangles = static_cast<unsigned int>(drawable);
    if (drawable != triangleCount)
    {
        mkDrawnCorners.reserve(3 * drawable);
        for (size_t t = 0; t < triangleCount; ++t)
            if (mkTriangles[3 * t] >= 0)
                for (size_t k = 0; k < 3; ++k)
                    mkDrawnCorners.push_back(static_cast<unsigned int>(mkTriangles[3 * t + k]));
    }
}

void KV_PolySurfaceActor3D::BuildVertexArrays()
{
    mkPositions.clear();
    mkNormals.clear();
    mkTextureCoordinates.clear();
    mkTriangles.clear();
    mbRepeatsTexture = false;
    ++munArrayBuilds;
    KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry == nullptr)
        return;
    // Nothing drawn here waits for the lists finished after the first frame.
    KV_PolySurface& surface = geometry->DrawingSurface();
    const unsigned int vertexCount = surface.VertexCount();
    const unsigned int polygonCount = surface.PolygonCount();
    const KV_List<KV_Vector3D>* normals = surface.mpVertexNormals;
    if (normals != nullptr && normals->Count() != vertexCount)
        normals = nullptr;
    mbTexturedLayout = IsTextured(surface);
    mkTriangles.assign(static_cast<size_t>(polygonCount) * 3, -1);

    if (!mbTexturedLayout)
    {
        mkPositions.resize(static_cast<size_t>(vertexCount) * 3);
        mkNormals.resize(static_cast<size_t>(vertexCount) * 3, 0.0f);
        for (unsigned int i = 0; i < vertexCount; ++i)
        {
            PutVector(mkPositions, i, (*surface.mpVertices)[i]);
            if (normals != nullptr)
                PutVector(mkNormals, i, (*normals)[i]);
        }
        for (unsigned int p = 0; p < polygonCount; ++p)
            Corners((*surface.mpPolygons)[p], vertexCount,
                    &mkTriangles[3 * static_cast<size_t>(p)]);
        return;
    }

    const KV_List<KV_Vector2D>& coordinates = *surface.mpTextureCoordinates;
    const KV_List<KV_Polygon>& texturePolygons = *surface.mpTexturePolygons;
    const unsigned int elementCount = coordinates.Count();
    // The list the load has just made is taken as it is; after a change it is made again.
    const bool current = geometry->TakeTextureCoordinateVerticesCurrent();
    const KV_List<unsigned int>* vertexOf =
        current && surface.mpTextureCoordinateVertices != nullptr &&
                surface.mpTextureCoordinateVertices->Count() == elementCount
            ? surface.mpTextureCoordinateVertices
            : surface.RecomputeTextureCoordinateVertices();
    mkPositions.resize(static_cast<size_t>(elementCount) * 3, 0.0f);
    mkNormals.resize(static_cast<size_t>(elementCount) * 3, 0.0f);
    mkTextureCoordinates.resize(static_cast<size_t>(elementCount) * 2, 0.0f);
    for (unsigned int j = 0; j < elementCount; ++j)
    {
        const KV_Vector2D& t = coordinates[j];
        mbRepeatsTexture =
            mbRepeatsTexture || !(t.u >= 0.0f && t.u <= 1.0f && t.v >= 0.0f && t.v <= 1.0f);
        const unsigned int v =
            (vertexOf != nullptr && j < vertexOf->Count()) ? (*vertexOf)[j] : ~0u;
        if (v >= vertexCount)
            continue;  // no vertex: the element stays unset and no triangle uses it
        PutVector(mkPositions, j, (*surface.mpVertices)[v]);
        if (normals != nullptr)
            PutVector(mkNormals, j, (*normals)[v]);
        mkTextureCoordinates[2 * static_cast<size_t>(j)] = coordinates[j].u;
        mkTextureCoordinates[2 * static_cast<size_t>(j) + 1] = coordinates[j].v;
    }
    const unsigned int drawn = std::min(polygonCount, texturePolygons.Count());
    for (unsigned int p = 0; p < drawn; ++p)
        Corners(texturePolygons[p], elementCount, &mkTriangles[3 * static_cast<size_t>(p)]);
}

void KV_PolySurfaceActor3D::EnableArrays()
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    if (mbTexturedLayout)
    {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, 0, mkTextureCoordinates.data());
    }
    glVertexPointer(3, GL_FLOAT, 0, mkPositions.data());
    glNormalPointer(GL_FLOAT, 0, mkNormals.data());
}

void KV_PolySurfaceActor3D::CreateGLResources()
{
    BuildArraysBeside([this] { CreateTexture(); });
    EnableArrays();
}

void KV_PolySurfaceActor3D::BuildArraysBeside(const std::function<void()>& upload)
{
    // The arrays are plain memory made from the surface, the upload is OpenGL's and stays on
    // this thread: a large textured surface gets both at once, one on each core. Neither
    // reads what the other writes: the upload reads the picture and whether the surface is
    // textured, the arrays write their own vectors and the texture-coordinate vertices.
    std::future<void> arrays;
    const KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    if (geometry != nullptr &&
        geometry->DrawingSurface().PolygonCount() >= kArraysBesideTextureFrom && HasTexturePixels())
        arrays = KV_AsyncIfThreads([this] { BuildArrays(); });
    try
    {
        upload();
    }
    catch (...)
    {
        if (arrays.valid())
            arrays.wait();
        throw;
    }
    if (arrays.valid())
        arrays.get();
    else
        BuildArrays();
}

void KV_PolySurfaceActor3D::ReleaseGLResources()
{
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

void KV_PolySurfaceActor3D::ApplyPendingUpdates()
{
    if (mbPendingUpdates[KV_Subject::HINT_TEXTURE_CHANGED])
    {
        mbPendingUpdates[KV_Subject::HINT_TEXTURE_CHANGED] = false;
        UpdateTexture();
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
    const int* corners = &mkTriangles[3 * static_cast<size_t>(polygon)];
    glBegin(primitive);
    glArrayElement(corners[0]);
    glArrayElement(corners[1]);
    glArrayElement(corners[2]);
    glEnd();
}

bool KV_PolySurfaceActor3D::IsWholeSurface(const KV_List<unsigned int>& polygons)
{
    const size_t triangleCount = mkTriangles.size() / 3;
    if (polygons.Count() != triangleCount || triangleCount == 0)
        return false;
    // The answer is kept per list until the list's count or the arrays change.
    const KV_PolySurfaceGeometry3D* geometry = SurfaceGeometry();
    const int slot = &polygons == &geometry->SelectedPolyIndices() ? 1 : 0;
    if (mpCheckedList[slot] != &polygons || munCheckedCount[slot] != polygons.Count() ||
        munCheckedBuild[slot] != munArrayBuilds)
    {
        bool whole = true;
        for (unsigned int i = 0; i < polygons.Count() && whole; ++i) whole = polygons[i] == i;
        mpCheckedList[slot] = &polygons;
        munCheckedCount[slot] = polygons.Count();
        munCheckedBuild[slot] = munArrayBuilds;
        mbCheckedWhole[slot] = whole;
    }
    return mbCheckedWhole[slot];
}

void KV_PolySurfaceActor3D::DrawWholeSurface(unsigned int primitive)
{
    const unsigned int* corners = mkDrawnCorners.empty()
                                      ? reinterpret_cast<const unsigned int*>(mkTriangles.data())
                                      : mkDrawnCorners.data();
    const size_t cornerCount = 3 * static_cast<size_t>(munDrawableTriangles);
    if (cornerCount == 0)
        return;
    if (primitive == GL_LINE_LOOP)
    {
        // Each triangle's loop a-b-c-a as the lines a-b, b-c, c-a: the same segments with
        // the same last (colour-giving) vertex each.
        if (mkEdgeCorners.size() != 2 * cornerCount)
        {
            mkEdgeCorners.resize(2 * cornerCount);
            for (size_t t = 0; t < cornerCount; t += 3)
            {
                unsigned int* edge = &mkEdgeCorners[2 * t];
                edge[0] = corners[t];
                edge[1] = corners[t + 1];
                edge[2] = corners[t + 1];
                edge[3] = corners[t + 2];
                edge[4] = corners[t + 2];
                edge[5] = corners[t];
            }
        }
        glDrawElements(GL_LINES, static_cast<GLsizei>(mkEdgeCorners.size()), GL_UNSIGNED_INT,
                       mkEdgeCorners.data());
        return;
    }
    glDrawElements(primitive, static_cast<GLsizei>(cornerCount), GL_UNSIGNED_INT, corners);
}

void KV_PolySurfaceActor3D::DrawPolygons(const KV_List<unsigned int>& polygons,
                                         unsigned int primitive, bool named)
{
    if (mbBatchedDrawing && cornerCountFits(polygons.Count()))
    {
        GLint mode = GL_RENDER;
        glGetIntegerv(GL_RENDER_MODE, &mode);
        if (mode == GL_RENDER && IsWholeSurface(polygons))
        {
            DrawWholeSurface(primitive);
            return;
        }
    }
    const size_t triangleCount = mkTriangles.size() / 3;
    const unsigned int count = polygons.Count();
    for (unsigned int i = 0; i < count; ++i)
    {
        const unsigned int k = polygons[i];
        if (k >= triangleCount || mkTriangles[3 * static_cast<size_t>(k)] < 0)
            continue;
        if (named)
            glPushName(k);
        DrawTriangle(k, primitive);
        if (named)
            glPopName();
    }
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
    const bool textured = mbIsDisplayedTextured && GetTextureName() != 0 && mbTexturedLayout;
    glShadeModel(shading);

    if (textured)
    {
        const KV_Material& own = geometry->mkMaterial;
        const KV_Material lit(KV_Material::FRONT_AND_DIMMED_BACK,
                              KV_OGLColour(1.0f, 1.0f, 1.0f, own.mkAmbient.mrAlpha),
                              KV_OGLColour(0.4f, 0.4f, 0.4f, own.mkDiffuse.mrAlpha),
                              KV_OGLColour(0.0f, 0.0f, 0.0f, own.mkSpecular.mrAlpha), 0.0f);
        lit.Apply();
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, GetTextureName());
        // Coordinates beyond the unit square tile the picture, as the programs that write such
        // models show it; a surface inside the square keeps the edge clamp.
        const GLint wrap = mbRepeatsTexture ? GL_REPEAT : GL_CLAMP;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        DrawUnselected(*geometry, primitive, false);
    }
    else
    {
        geometry->mkMaterial.Apply();
        glDisable(GL_TEXTURE_2D);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        DrawUnselected(*geometry, primitive, true);
    }

    KV_Geometry3D::mkSelectedMaterial.Apply();
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    DrawPolygons(geometry->SelectedPolyIndices(), primitive, true);

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
    mkCoarseTriangles.resize(mkCoarseTriangles.size() / 3 * 3);
    // Never an index past the arrays the list was made for.
    const std::size_t elements = mkPositions.size() / 3;
    for (unsigned int index : mkCoarseTriangles)
        if (index >= elements)
        {
            mkCoarseTriangles.clear();
            return;
        }
    // The copy gets arrays of its own, holding only the elements it uses: drawn from the
    // full arrays, every frame would pass all of their elements to OpenGL (client arrays are
    // read over the whole index range), which costs more than the triangles saved.
    const unsigned int unused = ~0u;
    std::vector<unsigned int> remap(elements, unused);
    const bool textured = mbTexturedLayout && mkTextureCoordinates.size() / 2 >= elements;
    for (unsigned int& index : mkCoarseTriangles)
    {
        if (remap[index] == unused)
        {
            remap[index] = static_cast<unsigned int>(mkCoarsePositions.size() / 3);
            mkCoarsePositions.insert(mkCoarsePositions.end(), &mkPositions[3 * size_t(index)],
                                     &mkPositions[3 * size_t(index)] + 3);
            mkCoarseNormals.insert(mkCoarseNormals.end(), &mkNormals[3 * size_t(index)],
                                   &mkNormals[3 * size_t(index)] + 3);
            if (textured)
                mkCoarseTextureCoordinates.insert(mkCoarseTextureCoordinates.end(),
                                                  &mkTextureCoordinates[2 * size_t(index)],
                                                  &mkTextureCoordinates[2 * size_t(index)] + 2);
        }
        index = remap[index];
    }
}

void KV_PolySurfaceActor3D::DrawUnselected(const KV_PolySurfaceGeometry3D& geometry,
                                           unsigned int primitive, bool named)
{
    const bool coarse = mbDrawCoarse && !mbRenderToMemory && HasCoarseTriangles() &&
                        geometry.SelectedPolyIndices().Count() == 0;
    if (!coarse)
    {
        DrawPolygons(geometry.UnselectedPolyIndices(), primitive, named);
        return;
    }
    glVertexPointer(3, GL_FLOAT, 0, mkCoarsePositions.data());
    glNormalPointer(GL_FLOAT, 0, mkCoarseNormals.data());
    if (!mkCoarseTextureCoordinates.empty())
        glTexCoordPointer(2, GL_FLOAT, 0, mkCoarseTextureCoordinates.data());
    if (primitive != GL_TRIANGLES)
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mkCoarseTriangles.size()), GL_UNSIGNED_INT,
                   mkCoarseTriangles.data());
    if (primitive != GL_TRIANGLES)
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    // Back to the full arrays for whatever is drawn next.
    glVertexPointer(3, GL_FLOAT, 0, mkPositions.data());
    glNormalPointer(GL_FLOAT, 0, mkNormals.data());
    if (mbTexturedLayout)
        glTexCoordPointer(2, GL_FLOAT, 0, mkTextureCoordinates.data());
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
    // The boundaries may be finished after the first frame: GetSurface() waits for them.
    const KV_PolySurface& surface = SurfaceGeometry()->GetSurface();
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
    const unsigned int polygonCount = static_cast<unsigned int>(mkTriangles.size() / 3);
    for (unsigned int i = 0; i < polygonCount; ++i)
    {
        const unsigned int id = firstId + i;
        glColor3ub(static_cast<GLubyte>(id & 0xff), static_cast<GLubyte>((id >> 8) & 0xff),
                   static_cast<GLubyte>((id >> 16) & 0xff));
        if (mkTriangles[3 * static_cast<size_t>(i)] >= 0)
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
    DrawPolygons(geometry->UnselectedPolyIndices(), GL_TRIANGLES, true);
    KV_Geometry3D::mkSelectedMaterial.Apply();
    DrawPolygons(geometry->SelectedPolyIndices(), GL_TRIANGLES, true);
    glPopMatrix();
    glPopName();
}
