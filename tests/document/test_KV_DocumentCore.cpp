#include "document/KV_DocumentCore.h"

#include "foundation/KV_Executor.h"
#include "tests/tools/FixtureFiles.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceExtents.h"
#include "tests/image/ImageTestFiles.h"
#include "tests/render/RenderTestSurfaces.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace
{
const KV_PolySurface& SurfaceOf(const KV_DocumentCore& document)
{
    return document.GetSurfaceGeometry()->GetSurface();
}

template <typename List>
std::vector<unsigned int> Indices(const List& list)
{
    std::vector<unsigned int> v;
    for (unsigned int i = 0; i < list.Count(); ++i) v.push_back(list[i]);
    return v;
}

std::vector<std::vector<unsigned int>> PolygonsOf(const KV_List<KV_Polygon>* list)
{
    std::vector<std::vector<unsigned int>> v;
    if (list != nullptr)
        for (unsigned int i = 0; i < list->Count(); ++i) v.push_back(Indices((*list)[i]));
    return v;
}

// A document with the plain square loaded, recording its notifications.
struct LoadedDocument
{
    KV_DocumentCore document;
    std::vector<std::pair<int, KV_PolySurfaceGeometry3D*>> hints;

    LoadedDocument()
    {
        document.SetNotifier(
            [this](int hint, KV_PolySurfaceGeometry3D* g) {
                hints.push_back({hint, g});
            });
        EXPECT_TRUE(document.LoadSurfaceFile(WriteRaw("first.osf", PlainSquare()).c_str()));
        hints.clear();
    }
};

// Loading path must fail and leave the first surface in place, unannounced.
void ExpectRefused(const std::string& path, KV_SurfaceRejection why)
{
    LoadedDocument loaded;
    KV_PolySurfaceGeometry3D* before = loaded.document.GetSurfaceGeometry();
    EXPECT_FALSE(loaded.document.LoadSurfaceFile(path.c_str()));
    EXPECT_EQ(loaded.document.GetReadReport().meRejection, why);
    // The fixed message, then why on a line of its own.
    const std::string error = loaded.document.LastError().c_str();
    EXPECT_EQ(error.rfind("Failed to load surface file: " + path + "\n", 0), 0u) << error;
    EXPECT_GT(error.size(), ("Failed to load surface file: " + path + "\n").size()) << error;
    EXPECT_EQ(loaded.document.GetSurfaceGeometry(), before);
    EXPECT_EQ(SurfaceOf(loaded.document).VertexCount(), 4u);
    EXPECT_TRUE(loaded.hints.empty());
}

// Loading must succeed with the geometry intact and every texture member released.
void ExpectTextureDropped(const std::string& path, KV_TextureDrop why, unsigned int triangles)
{
    KV_DocumentCore document;
    ASSERT_TRUE(document.LoadSurfaceFile(path.c_str())) << path;
    EXPECT_EQ(document.GetReadReport().meTextureDrop, why);
    const KV_PolySurface& s = SurfaceOf(document);
    EXPECT_EQ(s.PolygonCount(), triangles);
    EXPECT_FALSE(s.HasTextureMap());
    EXPECT_EQ(s.mpTextureCoordinates, nullptr);
    EXPECT_EQ(s.mpTexturePolygons, nullptr);
    EXPECT_EQ(s.mpTextureMap, nullptr);
    EXPECT_EQ(s.mpTextureCoordinateVertices, nullptr);
    ASSERT_NE(s.mpVertexNormals, nullptr);
    EXPECT_EQ(s.mpVertexNormals->Count(), s.VertexCount());
}
}  // namespace

TEST(DocumentCoreLoad, CompletesTheSurfaceInTheGeometry)
{
    KV_DocumentCore document;
    const std::string path = WriteRaw("square.osf", TexturedSquare());
    ASSERT_TRUE(document.LoadSurfaceFile(path.c_str()));
    EXPECT_TRUE(document.HasSurface());
    EXPECT_STREQ(document.GetPathName().c_str(), path.c_str());
    EXPECT_STREQ(document.LastError().c_str(), "");
    EXPECT_EQ(document.GetReadReport().meEncoding, KV_SurfaceEncoding::Raw);
    EXPECT_EQ(document.GetReadReport().munPolygonsAsRead, 1u);

    const KV_PolySurface& s = SurfaceOf(document);
    // The quadrilateral is a fan of two triangles, its texture polygon likewise.
    EXPECT_EQ(PolygonsOf(s.mpPolygons),
              (std::vector<std::vector<unsigned int>>{{0, 1, 2}, {0, 2, 3}}));
    EXPECT_EQ(PolygonsOf(s.mpTexturePolygons),
              (std::vector<std::vector<unsigned int>>{{0, 1, 2}, {0, 2, 3}}));
    ASSERT_NE(s.mpPolygonNormals, nullptr);
    ASSERT_EQ(s.mpPolygonNormals->Count(), 2u);
    EXPECT_EQ((*s.mpPolygonNormals)[0], KV_Vector3D(0, 0, 1));
    ASSERT_NE(s.mpVertexNormals, nullptr);
    EXPECT_EQ(s.mpVertexNormals->Count(), 4u);
    ASSERT_NE(s.mpExtents, nullptr);
    EXPECT_EQ(s.mpExtents->Minimum(), KV_Vector3D(0, 0, 0));
    EXPECT_EQ(s.mpExtents->Maximum(), KV_Vector3D(1, 1, 0));
    EXPECT_EQ(s.mpExtents->Centroid(), KV_Vector3D(0.5f, 0.5f, 0));
    EXPECT_EQ(s.mpExtents->MaximumPolygonSize(), 3u);
    ASSERT_NE(s.mpBoundaries, nullptr);
    ASSERT_EQ(s.mpBoundaries->Count(), 1u);
    EXPECT_EQ(Indices((*s.mpBoundaries)[0]), (std::vector<unsigned int>{0, 1, 2, 3}));
    ASSERT_NE(s.mpVertexPolygons, nullptr);
    EXPECT_EQ(Indices((*s.mpVertexPolygons)[0]), (std::vector<unsigned int>{0, 1}));
    ASSERT_NE(s.mpVertexBoundaries, nullptr);
    EXPECT_EQ(s.mpVertexBoundaries->Count(), 4u);
    for (unsigned int i = 0; i < 4; ++i) EXPECT_EQ((*s.mpVertexBoundaries)[i], 1);
    ASSERT_NE(s.mpTextureCoordinateVertices, nullptr);
    EXPECT_EQ(Indices(*s.mpTextureCoordinateVertices), (std::vector<unsigned int>{0, 1, 2, 3}));
    // Every polygon is drawn with the geometry's own material.
    EXPECT_EQ(document.GetSurfaceGeometry()->UnselectedPolyIndices().Count(), 2u);
    EXPECT_EQ(document.GetSurfaceGeometry()->SelectedPolyIndices().Count(), 0u);
    EXPECT_EQ(document.GetSurfaceGeometry()->PolygonSelection().size(), 2u);
    // The completed surface is consistent.
    KV_PolySurface copy(s);
    EXPECT_TRUE(copy.CheckConsistency());
}

TEST(DocumentCoreLoad, UntexturedSurfaceGetsNoTextureCoordinateVertices)
{
    KV_DocumentCore document;
    ASSERT_TRUE(document.LoadSurfaceFile(WriteContainer("plain.osf", PlainSquare()).c_str()));
    EXPECT_EQ(document.GetReadReport().meEncoding, KV_SurfaceEncoding::Container);
    EXPECT_EQ(document.GetReadReport().meChecksum, KV_ChecksumState::Matched);
    EXPECT_EQ(SurfaceOf(document).mpTextureCoordinateVertices, nullptr);
    EXPECT_EQ(SurfaceOf(document).PolygonCount(), 2u);
}

TEST(DocumentCoreLoad, ReplacingNotifiesRemovalThenAddition)
{
    LoadedDocument loaded;
    KV_PolySurfaceGeometry3D* first = loaded.document.GetSurfaceGeometry();
    ASSERT_TRUE(loaded.document.LoadSurfaceFile(WriteRaw("second.osf", TexturedSquare()).c_str()));
    KV_PolySurfaceGeometry3D* second = loaded.document.GetSurfaceGeometry();
    ASSERT_EQ(loaded.hints.size(), 2u);
    EXPECT_EQ(loaded.hints[0], std::make_pair(0, first));
    EXPECT_EQ(loaded.hints[1], std::make_pair(1, second));
    EXPECT_TRUE(SurfaceOf(loaded.document).HasTextureMap());
}

TEST(DocumentCoreLoad, FailedLoadKeepsTheSurfaceAndNamesThePath)
{
    // The geometry is made before the file is read: a failed load uses up an id.
    const unsigned int nextId = KV_Geometry3D::munIDCounter;
    KV_DocumentCore document;
    EXPECT_FALSE(document.LoadSurfaceFile(ScratchPath("none.osf").c_str()));
    EXPECT_EQ(KV_Geometry3D::munIDCounter.load(), nextId + 1);
    ASSERT_TRUE(document.LoadSurfaceFile(WriteRaw("plain.osf", PlainSquare()).c_str()));
    EXPECT_EQ(document.GetSurfaceGeometry()->munID, nextId + 1);

    ExpectRefused(ScratchPath("does-not-exist.osf"), KV_SurfaceRejection::LoadFailed);
    const std::string junk = ScratchPath("junk.osf");
    WriteOsfFile(junk, {'0', '9', 1, 2, 3});
    ExpectRefused(junk, KV_SurfaceRejection::LoadFailed);
}

TEST(DocumentCoreValidation, SurfaceWithoutVerticesIsRefused)
{
    ExpectRefused(WriteRaw("empty.osf", OsfSurface()), KV_SurfaceRejection::NoVertices);
    OsfSurface onlyPolygons;
    onlyPolygons.polygons = {{0, 1, 2}};
    ExpectRefused(WriteRaw("onlypolygons.osf", onlyPolygons), KV_SurfaceRejection::NoVertices);
}

TEST(DocumentCoreValidation, PolygonOfFewerThanThreeVerticesIsRefused)
{
    // Normals of such a polygon would end the program.
    OsfSurface s = PlainSquare();
    s.polygons = {{0, 1, 2}, {2, 3}};
    ExpectRefused(WriteRaw("twovertices.osf", s), KV_SurfaceRejection::ShortPolygon);
    s.polygons = {{0, 1, 2}, {}};
    ExpectRefused(WriteRaw("novertices.osf", s), KV_SurfaceRejection::ShortPolygon);
    // A field-encoded polygon list that ends inside a polygon.
    OsfContainer file;
    file.Add(VerticesField(PlainSquare().vertices));
    OsfEntry polygons = IndexField("Polygons", {{0, 1, 2}}, 1);
    polygons.data = {3, 0, 1, 2, 3, 0};
    polygons.extents = {6};
    file.Add(polygons);
    WriteOsfFile(ScratchPath("cutpolygon.osf"), file.Bytes());
    ExpectRefused(ScratchPath("cutpolygon.osf"), KV_SurfaceRejection::ShortPolygon);
}

TEST(DocumentCoreValidation, VertexIndexPastTheVerticesIsRefused)
{
    OsfSurface s = PlainSquare();
    s.polygons = {{0, 1, 2}, {0, 2, 4}};
    ExpectRefused(WriteRaw("index.osf", s), KV_SurfaceRejection::VertexIndexOutOfRange);
}

TEST(DocumentCoreValidation, NonFiniteCoordinateIsRefused)
{
    for (float bad :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()})
    {
        OsfSurface s = PlainSquare();
        s.vertices[2][1] = bad;
        ExpectRefused(WriteRaw("nonfinite.osf", s), KV_SurfaceRejection::NonFiniteVertex);
    }
    // Even on a vertex that no polygon uses.
    OsfSurface s = PlainSquare();
    s.vertices.push_back({0, 0, std::numeric_limits<float>::quiet_NaN()});
    ExpectRefused(WriteRaw("unusednan.osf", s), KV_SurfaceRejection::NonFiniteVertex);
}

TEST(DocumentCoreValidation, UnpairedTexturePolygonsDropTheTexture)
{
    OsfSurface s = TexturedSquare();
    s.polygons = {{0, 1, 2}, {0, 2, 3}};
    s.texturePolygons = {{0, 1, 2}};
    ExpectTextureDropped(WriteRaw("fewer.osf", s), KV_TextureDrop::UnpairedTexturePolygons, 2);
    s.texturePolygons = {{0, 1, 2}, {0, 2, 3}, {0, 1, 3}};
    ExpectTextureDropped(WriteRaw("more.osf", s), KV_TextureDrop::UnpairedTexturePolygons, 2);
    s.texturePolygons = {{0, 1, 2}, {0, 1, 2, 3}};
    ExpectTextureDropped(WriteRaw("sizes.osf", s), KV_TextureDrop::UnpairedTexturePolygons, 2);
}

TEST(DocumentCoreValidation, TextureIndexPastTheCoordinatesDropsTheTexture)
{
    OsfSurface s = TexturedSquare();
    s.texturePolygons = {{0, 1, 2, 4}};
    ExpectTextureDropped(WriteRaw("texindex.osf", s), KV_TextureDrop::TextureIndexOutOfRange, 2);
    s.textureCoordinates.clear();
    s.texturePolygons = {{0, 1, 2, 3}};
    ExpectTextureDropped(WriteRaw("nocoords.osf", s), KV_TextureDrop::TextureIndexOutOfRange, 2);
}

TEST(DocumentCoreValidation, ImageWithoutTexturePolygonsDropsTheTexture)
{
    // The raw encoding stores an empty list, the container none at all.
    OsfSurface s = TexturedSquare();
    s.texturePolygons.clear();
    ExpectTextureDropped(WriteRaw("notexpolys.osf", s), KV_TextureDrop::ImageWithoutTexturePolygons,
                         2);
    ExpectTextureDropped(WriteContainer("notexpolys-c.osf", s),
                         KV_TextureDrop::ImageWithoutTexturePolygons, 2);
}

TEST(DocumentCoreValidation, ImageWithoutPixelsDropsTheTexture)
{
    OsfSurface s = TexturedSquare();
    s.textureRows = 0;
    s.textureColumns = 5;
    s.texturePixels.clear();
    ExpectTextureDropped(WriteRaw("emptyimage.osf", s), KV_TextureDrop::EmptyImage, 2);
}

TEST(DocumentCoreValidation, TexturePolygonsWithoutImageAreKept)
{
    // Texture kind 0: the raw reader itself drops the texture data.
    OsfSurface s = TexturedSquare();
    s.textureKind = 0;
    KV_DocumentCore document;
    ASSERT_TRUE(document.LoadSurfaceFile(WriteRaw("kind0.osf", s).c_str()));
    EXPECT_EQ(document.GetReadReport().meTextureDrop, KV_TextureDrop::None);
    EXPECT_FALSE(SurfaceOf(document).HasTextureMap());
}

TEST(DocumentCoreValidation, ExtremeButFiniteCoordinatesLoad)
{
    // A fan of six triangles about a centre vertex: refining its normal fits a plane to the
    // directions towards its neighbours, whose differences overflow single precision.
    OsfSurface s;
    const float big = 3.0e38f;
    s.vertices = {{0, 0, 0},    {big, 0, 0},       {big, big, 0}, {0, big, -big},
                  {-big, 0, 0}, {-big, -big, big}, {0, -big, 0}};
    s.polygons = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 5}, {0, 5, 6}, {0, 6, 1}};
    KV_DocumentCore document;
    EXPECT_TRUE(document.LoadSurfaceFile(WriteRaw("huge.osf", s).c_str()));
}

TEST(DocumentCoreClose, CloseDeletesAndIsIdempotent)
{
    LoadedDocument loaded;
    loaded.document.CloseSurface();
    EXPECT_FALSE(loaded.document.HasSurface());
    EXPECT_EQ(loaded.document.GetSurfaceGeometry(), nullptr);
    EXPECT_STREQ(loaded.document.GetPathName().c_str(), "");
    loaded.document.CloseSurface();
    EXPECT_FALSE(loaded.document.HasSurface());
    EXPECT_TRUE(loaded.hints.empty());
}

TEST(DocumentCoreMaterial, GeneratorRunsTheFixedSequence)
{
    KV_SurfaceColourRandom random;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int value : expected) EXPECT_EQ(random.Next(), value);
    // Bits 16 to 30 only: never above 32767 over a long run.
    int largest = 0;
    for (int i = 0; i < 100000; ++i) largest = std::max(largest, random.Next());
    EXPECT_EQ(largest, 32767);
}

TEST(DocumentCoreMaterial, EachLoadTakesThreeNumbersForItsAmbientColour)
{
    KV_SurfaceColourRandom ahead = KV_SurfaceColourRandom::Process();
    const float r1 = ahead.Next() / 32767.0f, r2 = ahead.Next() / 32767.0f,
                r3 = ahead.Next() / 32767.0f;
    const float s1 = ahead.Next() / 32767.0f, s2 = ahead.Next() / 32767.0f,
                s3 = ahead.Next() / 32767.0f;

    KV_DocumentCore document;
    ASSERT_TRUE(document.LoadSurfaceFile(WriteRaw("colour1.osf", PlainSquare()).c_str()));
    const KV_Material first = document.GetSurfaceGeometry()->mkMaterial;
    EXPECT_EQ(first.meMaterialFaces, 3);
    EXPECT_EQ(first.mkAmbient, KV_OGLColour(r3, r2, r1, 0.0f));
    EXPECT_EQ(first.mkDiffuse, KV_OGLColour(0.8f, 0.8f, 0.8f, 1.0f));
    EXPECT_EQ(first.mkSpecular, KV_OGLColour(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(first.mrShininess, 25.0f);

    // A failed load takes none.
    EXPECT_FALSE(document.LoadSurfaceFile(ScratchPath("missing.osf").c_str()));
    ASSERT_TRUE(document.LoadSurfaceFile(WriteRaw("colour2.osf", PlainSquare()).c_str()));
    EXPECT_EQ(document.GetSurfaceGeometry()->mkMaterial.mkAmbient, KV_OGLColour(s3, s2, s1, 0.0f));
    EXPECT_NE(document.GetSurfaceGeometry()->mkMaterial.mkAmbient, first.mkAmbient);
}

TEST(DocumentCoreExport, TexturedSquareMatchesTheHandWrittenWorld)
{
    KV_DocumentCore document;
    ASSERT_TRUE(document.LoadSurfaceFile(WriteRaw("export.osf", TexturedSquare()).c_str()));
    mkdir(ScratchPath("world").c_str(), 0755);
    const std::string path = ScratchPath("world/textured.wrl");
    ASSERT_TRUE(document.ExportVRML(path.c_str()));
    EXPECT_EQ(ReadText(path),
              ReadText(std::string(ORVANE_SOURCE_DIR) + "/tests/vrml/golden/textured.wrl"));
    const DecodedGif gif = DecodeGif(ScratchPath("world/textured.gif"));
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.Pixel(0, 0), (KV_RGB8{0, 0, 255}));
    EXPECT_EQ(gif.Pixel(1, 1), (KV_RGB8{0, 255, 0}));
    // The document's surface is not changed by the export.
    EXPECT_EQ(SurfaceOf(document).PolygonCount(), 2u);
}

TEST(DocumentCoreExport, FailuresNameThePath)
{
    KV_DocumentCore document;
    EXPECT_FALSE(document.ExportVRML(ScratchPath("nothing.wrl").c_str()));
    EXPECT_STREQ(document.LastError().c_str(),
                 ("Failed to save file " + ScratchPath("nothing.wrl")).c_str());
    EXPECT_FALSE(Exists(ScratchPath("nothing.wrl")));

    ASSERT_TRUE(document.LoadSurfaceFile(WriteRaw("export2.osf", PlainSquare()).c_str()));
    const std::string bad = ScratchPath("missing-dir/out.wrl");
    EXPECT_FALSE(document.ExportVRML(bad.c_str()));
    EXPECT_STREQ(document.LastError().c_str(), ("Failed to save file " + bad).c_str());
}

TEST(DocumentCorePieces, LoadGeometryHandsOverAGeometryOrNull)
{
    KV_SurfaceReadReport report;
    KV_PolySurfaceGeometry3D* geometry =
        KV_DocumentCore::LoadGeometry(WriteRaw("piece.osf", TexturedSquare()).c_str(), &report);
    ASSERT_NE(geometry, nullptr);
    EXPECT_EQ(geometry->GetSurface().PolygonCount(), 2u);
    EXPECT_TRUE(KV_DocumentCore::ExportGeometry(*geometry, ScratchPath("piece.wrl").c_str()));
    delete geometry;

    EXPECT_EQ(KV_DocumentCore::LoadGeometry(ScratchPath("absent.osf").c_str(), &report), nullptr);
    EXPECT_EQ(report.meRejection, KV_SurfaceRejection::LoadFailed);
    EXPECT_EQ(KV_DocumentCore::LoadGeometry(ScratchPath("absent.osf").c_str(), nullptr), nullptr);
}

// A second part asked to stop (a window closed right after the first frame) returns without
// finishing the polygon normals, and leaves no list half made: one of the full count would
// be taken as whole by its readers.
TEST(KV_CompleteSurface, StoppedSecondPartLeavesItsListsAbsent)
{
    KV_PolySurface surface = TexturedSeamGrid(200, 170);
    KV_CompleteSurfaceForDrawing(surface);
    const std::atomic<bool> stop{true};
    KV_CompleteSurfaceAfterDrawing(surface, &stop);
    EXPECT_EQ(nullptr, surface.mpPolygonNormals);
    EXPECT_EQ(nullptr, surface.mpBoundaries);
    EXPECT_EQ(nullptr, surface.mpVertexPolygons);
    EXPECT_EQ(nullptr, surface.mpVertexBoundaries);
    ASSERT_NE(nullptr, surface.mpVertexNormals);
    KV_CompleteSurfaceAfterDrawing(surface);
    ASSERT_NE(nullptr, surface.mpPolygonNormals);
    EXPECT_EQ(surface.PolygonCount(), surface.mpPolygonNormals->Count());
}

// A completed geometry makes its outlines once shown and the lists nothing draws (polygon
// normals, vertex polygons, the coordinates' vertices) only for the first reader of the whole
// surface; each comes out as a full completion makes it, whichever way it is reached, and a
// surface put in place of the loaded one drops what was still to be made.
TEST(DocumentCorePieces, ListsNothingDrawsWaitForTheWholeSurfacesFirstReader)
{
    struct Case
    {
        const char* name;
        bool executor, outlinedFirst, replaced;
    };
    const Case cases[] = {
        {"on the executor, outlined first", true, true, false},
        {"on this thread, outlined first", false, true, false},
        {"the whole surface at once", true, false, false},
        {"replaced once outlined", true, true, true},
    };
    const KV_PolySurface drawn = TexturedSeamGrid(60, 40);
    KV_PolySurface full = drawn;
    KV_CompleteSurface(full);
    auto sameVectors = [](const KV_List<KV_Vector3D>* a, const KV_List<KV_Vector3D>* b)
    {
        if (a == nullptr || b == nullptr || a->Count() != b->Count())
            return false;
        for (unsigned int i = 0; i < a->Count(); ++i)
            if (std::memcmp(&(*a)[i], &(*b)[i], sizeof(KV_Vector3D)) != 0)
                return false;
        return true;
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_Executor executor(2);
        KV_PolySurfaceGeometry3D geometry;
        geometry.GetSurface() = drawn;
        KV_DocumentCore::CompleteGeometry(geometry, &executor);
        if (c.executor)
            geometry.StartDeferredCompletion(&executor);
        if (c.outlinedFirst)
        {
            const KV_PolySurface& outlined = geometry.OutlinedSurface();
            ASSERT_NE(outlined.mpBoundaries, nullptr);
            EXPECT_EQ(outlined.mpBoundaries->Count(), full.mpBoundaries->Count());
            EXPECT_EQ(outlined.mpPolygonNormals, nullptr);
            EXPECT_EQ(outlined.mpVertexPolygons, nullptr);
            EXPECT_EQ(outlined.mpTextureCoordinateVertices, nullptr);
            EXPECT_FALSE(geometry.IsCompletionOutstanding());
            EXPECT_TRUE(geometry.IsCompletionDeferred());
        }
        if (c.replaced)
        {
            geometry.SetSurface(drawn, false);
            EXPECT_FALSE(geometry.IsCompletionDeferred());
            EXPECT_EQ(geometry.GetSurface().mpPolygonNormals, nullptr);
            continue;
        }
        const KV_PolySurface& whole = geometry.GetSurface();
        EXPECT_FALSE(geometry.IsCompletionDeferred());
        EXPECT_TRUE(sameVectors(whole.mpPolygonNormals, full.mpPolygonNormals));
        EXPECT_TRUE(sameVectors(whole.mpVertexNormals, full.mpVertexNormals));
        ASSERT_NE(whole.mpVertexPolygons, nullptr);
        ASSERT_EQ(whole.mpVertexPolygons->Count(), full.mpVertexPolygons->Count());
        for (unsigned int v = 0; v < whole.VertexCount(); ++v)
            ASSERT_EQ(Indices((*whole.mpVertexPolygons)[v]), Indices((*full.mpVertexPolygons)[v]));
        ASSERT_NE(whole.mpTextureCoordinateVertices, nullptr);
        EXPECT_EQ(Indices(*whole.mpTextureCoordinateVertices),
                  Indices(*full.mpTextureCoordinateVertices));
        ASSERT_NE(whole.mpBoundaries, nullptr);
        EXPECT_EQ(whole.mpBoundaries->Count(), full.mpBoundaries->Count());
    }
}
