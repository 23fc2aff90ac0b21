// What a model's appearance table and its corners change in the picture, judged by pixels
// read back from Xvfb's Mesa: texture coordinates shared between corners at different
// vertices, one texture per material, vertex colours, the file's normals, flat shading, and
// a model far from the origin. The arrays of a surface file keep the one element per texture
// coordinate layout.

// Before the X11 headers, whose None macro would clash with its enumerator.
#include "surfacefile/KV_SurfaceLoader.h"

#include "GLTestSupport.h"
#include "RenderTestSurfaces.h"

#include "render/KV_OGLRenderer.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_ViewDefaults.h"
#include "surface/KV_PSO_ComputeNormals.h"

#include <cmath>
#include <memory>
#include <set>
#include <tuple>

namespace
{
constexpr int kSize = 64;
constexpr std::uint32_t kNone = KV_SurfaceAppearance::kNoMaterial;

KV_PolySurface Quad(KV_Vector3D a, KV_Vector3D b, KV_Vector3D c, KV_Vector3D d)
{
    KV_PolySurface s;
    for (const KV_Vector3D& p : {a, b, c, d}) s.Vertices().Append(p);
    AppendTriangle(s.Polygons(), 0, 1, 2);
    AppendTriangle(s.Polygons(), 0, 2, 3);
    return s;
}

void GiveNormals(KV_PolySurface& s)
{
    s.ComputeExtents();
    KV_PSO_ComputeNormals normals(&s);
    normals.ComputePolygonNormals();
    normals.RefineVertexNormals();
}

// Texture coordinates (0,0) (1,0) (1,1) (0,1) shared by every quad's corners a, b, c, d.
void ShareFourCoordinates(KV_PolySurface& s, KV_Image<KV_RGB8>* picture)
{
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(4);
    for (const auto& t :
         {KV_Vector2D(0, 0), KV_Vector2D(1, 0), KV_Vector2D(1, 1), KV_Vector2D(0, 1)})
        s.mpTextureCoordinates->Append(t);
    s.mpTexturePolygons = new KV_List<KV_Polygon>(64);
    for (unsigned int p = 0; p < s.PolygonCount(); ++p)
        AppendTriangle(*s.mpTexturePolygons, 0, p % 2 == 0 ? 1 : 2, p % 2 == 0 ? 2 : 3);
    s.mpTextureMap = new KV_MultiImage;
    s.mpTextureMap->SetImage(picture);
}

// The unit cube as other programs write it: eight corners, six quads (as triangle pairs
// a-b-c, a-c-d, outward), all sharing four texture coordinates.
KV_PolySurface Cube(bool textured)
{
    KV_PolySurface s;
    for (int i = 0; i < 8; ++i) s.Vertices().Append(KV_Vector3D(i & 1, (i >> 1) & 1, (i >> 2) & 1));
    const unsigned int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                      {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& f : faces)
    {
        AppendTriangle(s.Polygons(), f[0], f[1], f[2]);
        AppendTriangle(s.Polygons(), f[0], f[2], f[3]);
    }
    GiveNormals(s);
    if (textured)
        ShareFourCoordinates(
            s, ColourImage(8, 8,
                           [](int r, int c)
                           { return (r + c) % 2 ? KV_RGB8(250, 200, 0) : KV_RGB8(0, 120, 250); }));
    return s;
}

// Three unit quads side by side along x, each showing the whole picture.
KV_PolySurface Strip(bool textured)
{
    KV_PolySurface s;
    for (int i = 0; i <= 3; ++i)
    {
        s.Vertices().Append(KV_Vector3D(static_cast<float>(i), 0, 0));
        s.Vertices().Append(KV_Vector3D(static_cast<float>(i), 1, 0));
    }
    for (unsigned int i = 0; i < 3; ++i)
    {
        AppendTriangle(s.Polygons(), 2 * i, 2 * i + 2, 2 * i + 3);
        AppendTriangle(s.Polygons(), 2 * i, 2 * i + 3, 2 * i + 1);
    }
    GiveNormals(s);
    if (textured)
        ShareFourCoordinates(s, ColourImage(4, 4, [](int, int) { return KV_RGB8(255, 0, 0); }));
    return s;
}

std::shared_ptr<const KV_MultiImage> Picture(KV_RGB8 colour)
{
    auto image = std::make_shared<KV_MultiImage>();
    image->SetImage(ColourImage(4, 4, [colour](int, int) { return colour; }));
    return image;
}

bool Covered(const KV_RGB8& p)
{
    return p.red != 0 || p.green != 0 || p.blue != 0;
}

// What the view's two lights and OpenGL's global ambient make of a material (no specular)
// on a face that looks at the camera: light 0 head-on, light 1 from (-1, 1, 1).
int Lit(float ambient, float diffuse)
{
    const float value =
        ambient * (0.2f + 0.15f + 0.15f) + diffuse * (1.0f + 1.0f / std::sqrt(3.0f));
    return static_cast<int>(std::lround(255.0f * std::min(value, 1.0f)));
}
}  // namespace

class AppearanceTest : public DisplayTest
{
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
        if (IsSkipped())
            return;
        KV_PixelFormat chosen;
        ASSERT_EQ(0, mkRenderer.Initialise(mkWindow.GetDeviceContext(), chosen,
                                           KV_WGLRenderer::WindowPixelFormat(), 0));
        KV_AddViewLights(mkRenderer);
        mkRenderer.SetClippingVolume(KV_ViewClippingVolume());
        mkRenderer.SetBackgroundColour(KV_OGLColour(0, 0, 0, 0));
        mkRenderer.SetWindowSize(kSize, kSize);
    }

    void TearDown() override
    {
        if (mkRenderer.IsInitialised())
            mkRenderer.CleanUp();
    }

    // Shows surface with appearance as the view does after opening, in a geometry of its own
    // (the previous one's actor removed), turned by turn degrees about (1, 0.6, 0).
    KV_PolySurfaceActor3D* Show(const KV_PolySurface& surface,
                                const KV_SurfaceAppearance& appearance = KV_SurfaceAppearance(),
                                float turn = 0.0f, bool selected = false)
    {
        if (mpGeometry)
            mkRenderer.RemoveActor(mpGeometry->munID);
        mpGeometry = std::make_unique<KV_PolySurfaceGeometry3D>();
        mpGeometry->Appearance() = appearance;
        mpGeometry->SetSurface(surface, selected);
        // A dull material: nothing reaches white, so colours can be compared.
        mpGeometry->mkMaterial =
            KV_Material(KV_Material::FRONT_AND_DIMMED_BACK, KV_OGLColour(0.2f, 0.4f, 0.6f, 1),
                        KV_OGLColour(0.3f, 0.3f, 0.3f, 1), KV_OGLColour(0, 0, 0, 1), 0.0f);
        auto* actor = static_cast<KV_PolySurfaceActor3D*>(mpGeometry->CreateActor());
        mkRenderer.AddActor(actor);
        mkRenderer.ResetCamera(1);
        mkRenderer.mkWorldCentreOfRotation = mpGeometry->GetCentre();
        if (turn != 0.0f)
            mkRenderer.RotateWorld(KV_Vector3D(1.0f, 0.6f, 0.0f), turn);
        return actor;
    }

    // One frame in a memory context, as Save Image draws it.
    KV_Image<KV_RGB8> Frame(const std::string& name)
    {
        KV_Image<KV_RGB8> image;
        EXPECT_EQ(0, mkRenderer.BeginMemoryContext(kSize, kSize, nullptr, 0));
        mkRenderer.Render();
        image = mkRenderer.MemoryImage();
        mkRenderer.EndMemoryContext();
        SaveForInspection(image, name);
        return image;
    }

    std::unique_ptr<KV_PolySurfaceGeometry3D> mpGeometry;
    KV_OGLRenderer mkRenderer;
};

// Every corner's element holds that corner's position and texture coordinate, whatever the
// sharing; a surface whose coordinates each belong to one vertex (a surface file) keeps
// element j = coordinate j at the position of the vertex the surface assigns to it.
TEST_F(AppearanceTest, EveryCornerDrawsItsOwnPositionAndCoordinate)
{
    KV_PolySurface sample;
    ASSERT_TRUE(KV_SurfaceLoader(sample).Load(ORVANE_SOURCE_DIR "/data/sample.osf"));
    struct Case
    {
        const char* name;
        KV_PolySurface surface;
        bool oneElementPerCoordinate;
    };
    Case cases[] = {{"sample.osf", sample, true},
                    {"seam grid", TexturedSeamGrid(8, 6), true},
                    {"shared cube", Cube(true), false},
                    {"shared strip", Strip(true), false}};
    for (Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const KV_PolySurface& s = c.surface;
        KV_PolySurfaceActor3D* actor = Show(s);
        const std::vector<float>& positions = actor->Positions();
        const std::vector<float>& coordinates = actor->TextureCoordinates();
        const std::vector<int> triangles = actor->Triangles().ToVector();
        ASSERT_TRUE(actor->HasTexturedLayout());
        ASSERT_EQ(3 * s.PolygonCount(), triangles.size());
        const unsigned int count = s.mpTextureCoordinates->Count();
        if (c.oneElementPerCoordinate)
        {
            EXPECT_EQ(count, actor->ElementCount());
            for (unsigned int p = 0; p < s.PolygonCount(); ++p)
                for (unsigned int k = 0; k < 3; ++k)
                    ASSERT_EQ(static_cast<int>((*s.mpTexturePolygons)[p][k]), triangles[3 * p + k]);
        }
        else
        {
            EXPECT_GT(actor->ElementCount(), count);
        }
        for (unsigned int p = 0; p < s.PolygonCount(); ++p)
            for (unsigned int k = 0; k < 3; ++k)
            {
                const size_t e = static_cast<size_t>(triangles[3 * p + k]);
                const KV_Vector3D& v = (*s.mpVertices)[(*s.mpPolygons)[p][k]];
                const KV_Vector2D& t = (*s.mpTextureCoordinates)[(*s.mpTexturePolygons)[p][k]];
                ASSERT_EQ(KV_Vector3D(positions[3 * e], positions[3 * e + 1], positions[3 * e + 2]),
                          v);
                ASSERT_EQ(t.u, coordinates[2 * e]);
                ASSERT_EQ(t.v, coordinates[2 * e + 1]);
            }
    }
}

// Shared coordinates draw every face: textured, with texturing off and flat, the outline is
// that of the same polygons without texture data.
TEST_F(AppearanceTest, SharedCoordinatesCoverWhatThePlainPolygonsCover)
{
    struct Case
    {
        const char* name;
        KV_PolySurface (*make)(bool);
    };
    for (const Case& c : {Case{"cube", Cube}, Case{"strip", Strip}})
    {
        Show(c.make(false), {}, 35.0f);
        const KV_Image<KV_RGB8> plain = Frame(std::string(c.name) + "-plain");
        for (const bool texturing : {true, false})
            for (const bool smooth : {true, false})
            {
                SCOPED_TRACE(std::string(c.name) + (texturing ? " textured" : " untextured") +
                             (smooth ? " smooth" : " flat"));
                KV_PolySurfaceActor3D* actor = Show(c.make(true), {}, 35.0f);
                actor->SetDisplayedTextured(texturing);
                actor->SetDisplayedSmooth(smooth);
                const KV_Image<KV_RGB8> image = Frame(std::string(c.name) + "-shared");
                int covered = 0, differing = 0;
                for (int r = 0; r < kSize; ++r)
                    for (int col = 0; col < kSize; ++col)
                    {
                        covered += Covered(plain(r, col)) ? 1 : 0;
                        differing += Covered(plain(r, col)) != Covered(image(r, col)) ? 1 : 0;
                    }
                EXPECT_GT(covered, 300);
                EXPECT_EQ(0, differing);
            }
    }
}

// The strip's quads take materials: the main picture (red, the surface's texture map), a
// picture of their own (blue left, green right, repeated twice across), none (the surface
// material). Each shows its own, in a memory context as in the window afterwards (whose
// texture names came back), and from a coarse list that holds every triangle.
TEST_F(AppearanceTest, EachMaterialShowsItsOwnPicture)
{
    KV_SurfaceAppearance look;
    look.materials.resize(3);
    look.materials[0].textured = true;  // the texture map
    auto blueGreen = std::make_shared<KV_MultiImage>();
    blueGreen->SetImage(ColourImage(
        4, 4, [](int, int c) { return c < 2 ? KV_RGB8(0, 0, 255) : KV_RGB8(0, 255, 0); }));
    look.materials[1] = {"blue", blueGreen, true};
    look.materials[2] = {"green", Picture(KV_RGB8(0, 255, 0)), true};  // used by none
    look.polygonMaterials = {1, 1, 0, 0, kNone, kNone};
    KV_PolySurface strip = Strip(true);
    for (unsigned int t = 0; t < 4; ++t) (*strip.mpTextureCoordinates)[t].u *= 2.0f;
    KV_PolySurfaceActor3D* actor = Show(strip, look);
    ASSERT_EQ(3u, actor->Ranges().size());
    const int plainRed = Lit(0.2f, 0.3f), plainBlue = Lit(0.6f, 0.3f);
    auto check = [&](const KV_Image<KV_RGB8>& image)
    {
        // The strip is framed by its height: the middle quad fills the middle half.
        // The first quad's right half is seen, u from 1 to 2: blue then green again.
        const KV_RGB8 first = image(32, 4), second = image(32, 32), third = image(32, 56);
        EXPECT_GT(image(32, 12).green, 200);
        EXPECT_TRUE(first.blue > 200 && first.red < 10 && first.green < 10) << int(first.red);
        EXPECT_TRUE(second.red > 200 && second.green < 10 && second.blue < 10) << int(second.blue);
        EXPECT_TRUE(Near(third, plainRed, Lit(0.4f, 0.3f), plainBlue)) << int(third.red);
    };
    check(Frame("materials"));
    mkRenderer.Render();
    check(ReadFront());

    const std::vector<int> listed = actor->Triangles().ToVector();
    std::vector<unsigned int> all(listed.begin(), listed.end());
    actor->SetCoarseTriangles(all, actor->ArrayBuildCount());
    actor->SetDrawCoarse(true);
    ASSERT_TRUE(actor->HasCoarseTriangles());
    mkRenderer.Render();
    check(ReadFront());
}

// Vertex colours show where no picture is drawn; selected polygons keep the selected
// material.
TEST_F(AppearanceTest, VertexColoursShowWithoutAPicture)
{
    struct Case
    {
        const char* name;
        bool textured, texturing, selected;
        int red, green, blue;  // the colour in the middle, roughly
    };
    const Case cases[] = {{"untextured surface", false, true, false, 0, 0, 255},
                          {"texturing off", true, false, false, 0, 0, 255},
                          {"texturing on", true, true, false, 255, 0, 0},
                          {"selected", false, true, true, 255, 0, 0}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        KV_PolySurface s = Quad(KV_Vector3D(0, 0, 0), KV_Vector3D(1, 0, 0), KV_Vector3D(1, 1, 0),
                                KV_Vector3D(0, 1, 0));
        GiveNormals(s);
        if (c.textured)
            AddTexture(s, ColourImage(4, 4, [](int, int) { return KV_RGB8(255, 0, 0); }));
        KV_SurfaceAppearance look;
        for (int v = 0; v < 4; ++v)
            look.vertexColours.insert(look.vertexColours.end(), {0, 0, 255, 0});
        KV_PolySurfaceActor3D* actor = Show(s, look, 0.0f, c.selected);
        actor->SetDisplayedTextured(c.texturing);
        const KV_RGB8 p = Frame(c.name)(32, 32);
        EXPECT_NEAR(c.red, p.red, c.selected ? 120 : 20);
        EXPECT_NEAR(c.green, p.green, 20);
        EXPECT_NEAR(c.blue, p.blue, 20);
    }
}

// Flat shading shades each triangle by its own plane: both triangles of a flat quad whose
// corner normals lean four ways take the colour of a face that looks at the camera. A grid
// far from the origin (integer coordinates, exact in float) shades as the one at the origin.
TEST_F(AppearanceTest, FlatFacesAndFarModelsShadeByTheirPlane)
{
    const int expected[3] = {Lit(0.2f, 0.3f), Lit(0.4f, 0.3f), Lit(0.6f, 0.3f)};
    KV_PolySurface leaning = Quad(KV_Vector3D(0, 0, 0), KV_Vector3D(1, 0, 0), KV_Vector3D(1, 1, 0),
                                  KV_Vector3D(0, 1, 0));
    leaning.mpVertexNormals = new KV_List<KV_Vector3D>(4);
    for (const auto& n : {KV_Vector3D(-0.6f, -0.6f, 0.5f), KV_Vector3D(0.6f, -0.6f, 0.5f),
                          KV_Vector3D(0.6f, 0.6f, 0.5f), KV_Vector3D(-0.6f, 0.6f, 0.5f)})
        leaning.mpVertexNormals->Append(n * (1.0f / n.Length()));
    KV_PolySurfaceActor3D* actor = Show(leaning);
    actor->SetDisplayedSmooth(false);
    const KV_Image<KV_RGB8> flat = Frame("flat-quad");
    for (const auto& at : {std::make_pair(24, 40), std::make_pair(40, 24)})  // one per triangle
        EXPECT_TRUE(Near(flat(at.first, at.second), expected[0], expected[1], expected[2]))
            << int(flat(at.first, at.second).red) << " " << int(flat(at.first, at.second).blue);

    for (const KV_Vector3D offset :
         {KV_Vector3D(0, 0, 0), KV_Vector3D(0, 0, 100000), KV_Vector3D(100000, -100000, 0)})
    {
        SCOPED_TRACE(offset.x + offset.z);
        KV_PolySurface grid;
        const int n = 20;
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i)
                grid.Vertices().Append(
                    KV_Vector3D(static_cast<float>(i), static_cast<float>(j), 0) + offset);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i)
            {
                const unsigned int a = j * (n + 1) + i;
                AppendTriangle(grid.Polygons(), a, a + 1, a + n + 2);
                AppendTriangle(grid.Polygons(), a, a + n + 2, a + n + 1);
            }
        GiveNormals(grid);
        Show(grid);
        const KV_Image<KV_RGB8> image = Frame("grid");
        for (const auto& at : {std::make_pair(32, 32), std::make_pair(20, 44)})
            EXPECT_TRUE(Near(image(at.first, at.second), expected[0], expected[1], expected[2]))
                << int(image(at.first, at.second).red) << " "
                << int(image(at.first, at.second).blue);
    }
}

// Smooth shading takes the file's normals: per corner, a ridge stays sharp (each side one
// colour, the two sides different); per vertex, they draw as the same normals held by the
// surface itself do.
TEST_F(AppearanceTest, SmoothShadingTakesTheFilesNormals)
{
    // Two faces meeting at a ridge along y at x = 1, seen from above.
    KV_PolySurface roof;
    for (const auto& p : {KV_Vector3D(0, 0, 0), KV_Vector3D(0, 1, 0), KV_Vector3D(1, 0, 0.6f),
                          KV_Vector3D(1, 1, 0.6f), KV_Vector3D(2, 0, 0), KV_Vector3D(2, 1, 0)})
        roof.Vertices().Append(p);
    AppendTriangle(roof.Polygons(), 0, 2, 3);
    AppendTriangle(roof.Polygons(), 0, 3, 1);
    AppendTriangle(roof.Polygons(), 2, 4, 5);
    AppendTriangle(roof.Polygons(), 2, 5, 3);
    GiveNormals(roof);
    KV_SurfaceAppearance sharp;
    KV_Vector3D left(-0.6f, 0, 1), right(0.6f, 0, 1);
    sharp.normals = {left * (1.0f / left.Length()), right * (1.0f / right.Length())};
    sharp.cornerNormals = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    auto colours = [](const KV_Image<KV_RGB8>& image, int c0, int c1)
    {
        std::set<std::tuple<int, int, int>> seen;
        for (int r = 26; r < 38; ++r)
            for (int c = c0; c < c1; ++c)
                seen.insert({image(r, c).red, image(r, c).green, image(r, c).blue});
        return seen;
    };
    Show(roof);
    const KV_Image<KV_RGB8> computed = Frame("roof-computed");
    EXPECT_GT(colours(computed, 18, 31).size(), 3u);
    Show(roof, sharp);
    const KV_Image<KV_RGB8> image = Frame("roof-sharp");
    const auto leftSide = colours(image, 18, 31), rightSide = colours(image, 34, 46);
    EXPECT_EQ(1u, leftSide.size());
    EXPECT_EQ(1u, rightSide.size());
    EXPECT_NE(*leftSide.begin(), *rightSide.begin());

    // Per vertex: the leaning normals of the file against the same held by the surface.
    KV_SurfaceAppearance perVertex;
    for (unsigned int v = 0; v < 6; ++v)
    {
        KV_Vector3D n(0.3f * static_cast<float>(v) - 0.7f, 0.4f, 1.0f);
        perVertex.normals.push_back(n * (1.0f / n.Length()));
    }
    Show(roof, perVertex);
    const KV_Image<KV_RGB8> fromFile = Frame("roof-file-normals");
    KV_PolySurface held = roof;
    for (unsigned int v = 0; v < 6; ++v) (*held.mpVertexNormals)[v] = perVertex.normals[v];
    Show(held);
    const KV_Image<KV_RGB8> fromSurface = Frame("roof-held-normals");
    int differing = 0;
    for (int r = 0; r < kSize; ++r)
        for (int c = 0; c < kSize; ++c) differing += fromFile(r, c) == fromSurface(r, c) ? 0 : 1;
    EXPECT_EQ(0, differing);
    EXPECT_NE(computed(32, 24), fromFile(32, 24));
}
