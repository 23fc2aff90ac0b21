// Frames per second of the surface actor at 800 x 600 on the X display (Xvfb with Mesa in
// CI) for the 1M-triangle textured benchmark surface: a grid of 1,000,000 triangles
// (501 x 1001 vertices, one texture coordinate per vertex) with a 4096 x 4096 colour
// texture, completed as the document completes a loaded surface.
//
// Each actor mode (smooth, textured, wireframe) is run three ways: the actor as it draws
// (batched: one glDrawElements for the whole surface), the actor's per-triangle path
// (glBegin/glEnd per triangle, as in GL_SELECT), and the comparison run: one glDrawElements
// call over the actor's own arrays in the same context and state, this machine's ceiling for
// those arrays. The ceiling is also run from a display list compiled once (OpenGL 1.1's way
// of keeping the data on the graphics card). Every run is made at 800 x 600 and again in a
// 64 x 48 viewport, where rasterising is cheap and the submission cost shows as it would on
// a graphics card. Last, the time from AddActor (texture upload and array building
// included) to the first finished frame.
//
// Needs DISPLAY; without one every benchmark is skipped with a message.

#include "document/KV_DocumentCore.h"
#include "document/KV_SurfacePreparation.h"
#include "foundation/KV_Executor.h"
#include "lod/KV_LevelOfDetail.h"
#include "measure/KV_SurfacePicker.h"
#include "render/KV_OGLRenderer.h"
#include "render/KV_PolySurfaceActor3D.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_ViewDefaults.h"

#include <benchmark/benchmark.h>

#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/glx.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

namespace
{
const unsigned int kColumns = 500;  // cells across; two triangles each
const unsigned int kRows = 1000;
const int kTextureSize = 4096;
const int kWidth = 800;
const int kHeight = 600;

KV_PolySurface BenchmarkSurface(unsigned int columns = kColumns, unsigned int rows = kRows)
{
    KV_PolySurface s;
    const unsigned int across = columns + 1, down = rows + 1;
    // In one piece each, as the readers make them: the actor draws from them as they lie.
    KV_List<KV_Vector3D>& vertices = s.Vertices();
    vertices.SetBlockSize(1u << 12);
    vertices.SetCountInOnePiece(across * down);
    s.mpTextureCoordinates = new KV_List<KV_Vector2D>(1u << 12);
    s.mpTextureCoordinates->SetCountInOnePiece(across * down);
    for (unsigned int y = 0; y < down; ++y)
        for (unsigned int x = 0; x < across; ++x)
        {
            // A gentle wave so that the normals differ.
            const float z = 0.05f * static_cast<float>(std::sin(0.05 * x) * std::cos(0.07 * y));
            vertices[y * across + x] = KV_Vector3D(0.01f * x, 0.01f * y, z);
            (*s.mpTextureCoordinates)[y * across + x] =
                KV_Vector2D(static_cast<float>(x) / columns, static_cast<float>(y) / rows);
        }
    KV_List<KV_Polygon>& polygons = s.Polygons();
    for (unsigned int y = 0; y < rows; ++y)
        for (unsigned int x = 0; x < columns; ++x)
        {
            const unsigned int a = y * across + x, b = a + 1, c = a + across + 1, d = a + across;
            const unsigned int triangles[2][3] = {{a, b, c}, {a, c, d}};
            for (const auto& t : triangles)
            {
                KV_Polygon p;
                p.Append(t[0]);
                p.Append(t[1]);
                p.Append(t[2]);
                polygons.Append(p);
            }
        }
    s.mpTexturePolygons = new KV_List<KV_Polygon>(polygons);
    auto* image = new KV_Image<KV_RGB8>(kTextureSize, kTextureSize);
    for (int r = 0; r < kTextureSize; ++r)
        for (int c = 0; c < kTextureSize; ++c)
            (*image)(r, c) =
                KV_RGB8(static_cast<unsigned char>(r / 16), static_cast<unsigned char>(c / 16),
                        static_cast<unsigned char>(128 + 100 * std::sin(0.001 * (r + c))));
    s.mpTextureMap = new KV_MultiImage;
    s.mpTextureMap->SetImage(image);
    KV_CompleteSurface(s);
    return s;
}

// Draws either the actors (the normal frame) or, for the comparison, the first actor's
// arrays with one glDrawElements call in the state the actor would draw them in.
class BenchRenderer : public KV_OGLRenderer
{
public:
    void RenderScene() override
    {
        if (!mbDrawElements || mkActors.empty())
        {
            KV_OGLRenderer::RenderScene();
            return;
        }
        KV_OGLEnvironmentRenderer::RenderScene();
        auto* actor = static_cast<KV_PolySurfaceActor3D*>(mkActors.begin()->second.Get());
        auto* geometry = static_cast<KV_PolySurfaceGeometry3D*>(actor->GetGeometry());
        if (mbDisplayList && munList != 0)
        {
            glMatrixMode(GL_MODELVIEW);
            glPushMatrix();
            geometry->mkTransform.Apply();
            glCallList(munList);
            glPopMatrix();
            return;
        }
        if (mbDisplayList)
        {
            munList = glGenLists(1);
            glNewList(munList, GL_COMPILE_AND_EXECUTE);
        }
        const bool textured = actor->IsDisplayedTextured() && actor->GetTextureName() != 0;
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        geometry->mkTransform.Apply();
        glShadeModel(actor->IsDisplayedWireframe() || !actor->IsDisplayedSmooth() ? GL_FLAT
                                                                                  : GL_SMOOTH);
        geometry->mkMaterial.Apply();
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, actor->PositionData());
        glNormalPointer(GL_FLOAT, 0, actor->NormalData());
        if (textured)
        {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, actor->GetTextureName());
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(2, GL_FLOAT, 0, actor->TextureCoordinateData());
        }
        else
        {
            glDisable(GL_TEXTURE_2D);
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        if (actor->IsDisplayedWireframe())
            glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        // One call over one list: the triangles in one piece of memory, made once.
        if (mkOneList.size() != actor->Triangles().size())
            mkOneList = actor->Triangles().ToVector();
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mkOneList.size()), GL_UNSIGNED_INT,
                       mkOneList.data());
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glPopMatrix();
        if (mbDisplayList)
            glEndList();
    }
    void DropList()
    {
        if (munList != 0)
            glDeleteLists(munList, 1);
        munList = 0;
    }
    bool mbDrawElements = false;
    bool mbDisplayList = false;  // with mbDrawElements: compiled once, then called
    GLuint munList = 0;
    std::vector<int> mkOneList;
};

// The window, renderer and geometry shared by every benchmark, set up as the view does.
struct Scene
{
    KV_GLXWindow window;
    KV_PolySurfaceGeometry3D geometry;
    std::unique_ptr<BenchRenderer> renderer;
    bool ready = false;

    Scene()
    {
        if (!window.Create(kWidth, kHeight, true))
        {
            std::fprintf(stderr, "bench_render: %s\n", window.ErrorText());
            return;
        }
        renderer.reset(new BenchRenderer);
        KV_PixelFormat chosen;
        if (renderer->Initialise(window.GetDeviceContext(), chosen,
                                 KV_WGLRenderer::WindowPixelFormat(), 0) != 0)
            return;
        KV_AddViewLights(*renderer);
        renderer->SetClippingVolume(KV_ViewClippingVolume());
        renderer->SetWindowSize(kWidth, kHeight);

        const auto start = std::chrono::steady_clock::now();
        geometry.SetSurface(BenchmarkSurface(), false);
        geometry.mkMaterial = KV_DocumentCore::NewSurfaceMaterial();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf(
            "Benchmark surface: %u vertices, %u triangles, %dx%d colour texture "
            "(built and completed in %.1f s); window %dx%d\n",
            geometry.GetSurface().VertexCount(), geometry.GetSurface().PolygonCount(), kTextureSize,
            kTextureSize, seconds, kWidth, kHeight);
        AddSurface();
        ready = true;
    }

    ~Scene()
    {
        if (renderer && renderer->IsInitialised())
            renderer->CleanUp();
    }

    // vertexLayoutFrom ~0u: one element per texture coordinate, the layout the actor draws
    // smaller or untextured surfaces in.
    void AddSurface(unsigned int vertexLayoutFrom = 65536)
    {
        auto* actor = static_cast<KV_PolySurfaceActor3D*>(geometry.CreateActor());
        actor->SetVertexLayoutFrom(vertexLayoutFrom);
        renderer->AddActor(actor);
        renderer->ResetCamera(1);
        renderer->mkWorldCentreOfRotation = geometry.GetCentre();
    }

    KV_Actor3D& Actor() { return *renderer->GetActors().begin()->second; }
};

Scene& TheScene()
{
    static Scene scene;
    return scene;
}

enum Mode
{
    kSmooth,
    kTextured,
    kWireframe
};

enum Way
{
    kActor,         // the actor's own drawing
    kPerTriangle,   // the actor with batching off
    kDrawElements,  // one call over the actor's arrays
    kDisplayList    // the same call compiled into a display list once
};

// state.range(0): the viewport's width (800 or 64; the height follows at 4:3).
void Frames(benchmark::State& state, Mode mode, Way way)
{
    Scene& scene = TheScene();
    if (!scene.ready)
    {
        state.SkipWithError("no X display with OpenGL");
        return;
    }
    const int width = static_cast<int>(state.range(0)), height = width * 3 / 4;
    auto& actor = static_cast<KV_PolySurfaceActor3D&>(scene.Actor());
    actor.SetDisplayedWireframe(mode == kWireframe);
    actor.SetDisplayedSmooth(true);
    actor.SetDisplayedTextured(mode != kSmooth);
    actor.SetBatchedDrawing(way != kPerTriangle);
    scene.renderer->mbDrawElements = way == kDrawElements || way == kDisplayList;
    scene.renderer->mbDisplayList = way == kDisplayList;
    scene.renderer->SetWindowSize(width, height);
    scene.renderer->Render();  // warm: pending updates applied, caches filled, list compiled
    for (auto _ : state) scene.renderer->Render();
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    scene.renderer->mbDrawElements = false;
    scene.renderer->mbDisplayList = false;
    scene.renderer->DropList();
    scene.renderer->SetWindowSize(kWidth, kHeight);
    actor.SetBatchedDrawing(true);
}

#define ORVANE_FRAMES(mode)                             \
    void BM_Actor##mode(benchmark::State& state)        \
    {                                                   \
        Frames(state, k##mode, kActor);                 \
    }                                                   \
    void BM_PerTriangle##mode(benchmark::State& state)  \
    {                                                   \
        Frames(state, k##mode, kPerTriangle);           \
    }                                                   \
    void BM_DrawElements##mode(benchmark::State& state) \
    {                                                   \
        Frames(state, k##mode, kDrawElements);          \
    }                                                   \
    void BM_DisplayList##mode(benchmark::State& state)  \
    {                                                   \
        Frames(state, k##mode, kDisplayList);           \
    }
ORVANE_FRAMES(Smooth)
ORVANE_FRAMES(Textured)
ORVANE_FRAMES(Wireframe)
#undef ORVANE_FRAMES

// The actor's frames with one element per texture coordinate instead of per vertex.
void PerCoordinateFrames(benchmark::State& state, Mode mode)
{
    Scene& scene = TheScene();
    if (!scene.ready)
    {
        state.SkipWithError("no X display with OpenGL");
        return;
    }
    scene.renderer->RemoveActor(scene.geometry.munID);
    scene.AddSurface(~0u);
    Frames(state, mode, kActor);
    scene.renderer->RemoveActor(scene.geometry.munID);
    scene.AddSurface();
}
void BM_ActorSmoothPerCoordinate(benchmark::State& state)
{
    PerCoordinateFrames(state, kSmooth);
}
void BM_ActorTexturedPerCoordinate(benchmark::State& state)
{
    PerCoordinateFrames(state, kTextured);
}

// AddActor (texture upload with mipmaps, array building) through the first finished frame.
void BM_AddActorToFirstFrame(benchmark::State& state)
{
    Scene& scene = TheScene();
    if (!scene.ready)
    {
        state.SkipWithError("no X display with OpenGL");
        return;
    }
    for (auto _ : state)
    {
        state.PauseTiming();
        scene.renderer->RemoveActor(scene.geometry.munID);
        state.ResumeTiming();
        scene.AddSurface();
        scene.renderer->Render();
    }
}

#define ORVANE_FRAMES_RUN(name) \
    BENCHMARK(name)->Arg(800)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime()
ORVANE_FRAMES_RUN(BM_ActorSmooth);
ORVANE_FRAMES_RUN(BM_ActorSmoothPerCoordinate);
ORVANE_FRAMES_RUN(BM_PerTriangleSmooth);
ORVANE_FRAMES_RUN(BM_DrawElementsSmooth);
ORVANE_FRAMES_RUN(BM_DisplayListSmooth);
ORVANE_FRAMES_RUN(BM_ActorTextured);
ORVANE_FRAMES_RUN(BM_ActorTexturedPerCoordinate);
ORVANE_FRAMES_RUN(BM_PerTriangleTextured);
ORVANE_FRAMES_RUN(BM_DrawElementsTextured);
ORVANE_FRAMES_RUN(BM_DisplayListTextured);
ORVANE_FRAMES_RUN(BM_ActorWireframe);
ORVANE_FRAMES_RUN(BM_PerTriangleWireframe);
ORVANE_FRAMES_RUN(BM_DrawElementsWireframe);
ORVANE_FRAMES_RUN(BM_DisplayListWireframe);
BENCHMARK(BM_AddActorToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
}  // namespace

// ---- Interactive frames on the 4M-triangle textured surface
//
// Frames per second while the world turns 5 degrees a frame (as a drag or the continuous
// rotation turns it) on a 4,000,000-triangle grid with the same 4096 x 4096 texture, at
// 800 x 600: the level-of-detail copy that the view draws while moving (sized as the view
// sizes it from the first full frame's time, at most 250k triangles, built with the
// simplifier the view uses), beside the full surface's rate.

struct InteractiveScene
{
    KV_GLXWindow window;
    KV_PolySurfaceGeometry3D geometry;
    std::unique_ptr<KV_OGLRenderer> renderer;
    KV_PolySurfaceActor3D* actor = nullptr;
    bool ready = false;
    // The coarse copy's triangles (element indices into the actor's arrays), for the floor.
    std::vector<unsigned int> coarse;

    InteractiveScene()
    {
        if (!window.Create(kWidth, kHeight, true))
            return;
        renderer.reset(new KV_OGLRenderer);
        KV_PixelFormat chosen;
        if (renderer->Initialise(window.GetDeviceContext(), chosen,
                                 KV_WGLRenderer::WindowPixelFormat(), 0) != 0)
            return;
        KV_AddViewLights(*renderer);
        renderer->SetClippingVolume(KV_ViewClippingVolume());
        renderer->SetWindowSize(kWidth, kHeight);
        geometry.SetSurface(BenchmarkSurface(2000, 1000), false);
        geometry.mkMaterial = KV_DocumentCore::NewSurfaceMaterial();
        actor = static_cast<KV_PolySurfaceActor3D*>(geometry.CreateActor());
        // The floor below copies elements one per coordinate, as this layout has them.
        actor->SetVertexLayoutFrom(~0u);
        renderer->AddActor(actor);
        renderer->ResetCamera(1);
        renderer->mkWorldCentreOfRotation = geometry.GetCentre();
        // As the view does: the first full frame's time sizes the copy.
        auto start = std::chrono::steady_clock::now();
        renderer->Render();
        const double fullFrame =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::size_t target =
            KV_CoarseTriangleTarget(actor->Triangles().size() / 3, fullFrame);
        start = std::chrono::steady_clock::now();
        const std::shared_ptr<const std::vector<float>> elements = actor->SharedPositions();
        coarse = KV_SimplifyTriangleRuns(elements->data(), elements->size() / 3,
                                         actor->Triangles().Runs(), actor->Triangles().RunShift(),
                                         actor->Triangles().size() / 3, target);
        actor->SetCoarseTriangles(coarse, actor->ArrayBuildCount());
        std::printf(
            "Interactive surface: %u triangles, first full frame %.2f s, coarse copy %zu "
            "triangles (made in %.1f s)\n",
            geometry.GetSurface().PolygonCount(), fullFrame, actor->CoarseTriangleCount(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ready = actor->HasCoarseTriangles();
    }

    ~InteractiveScene()
    {
        if (renderer && renderer->IsInitialised())
            renderer->CleanUp();
    }
};

// One scene for the frames and the picks: the surface is made once.
InteractiveScene& TheInteractiveScene()
{
    static InteractiveScene scene;
    return scene;
}

void TurningFrames(benchmark::State& state, bool coarse)
{
    InteractiveScene& scene = TheInteractiveScene();
    if (!scene.ready)
    {
        state.SkipWithError("no X display with OpenGL");
        return;
    }
    scene.actor->SetDisplayedTextured(true);
    scene.actor->SetDrawCoarse(coarse);
    scene.renderer->Render();
    for (auto _ : state)
    {
        scene.renderer->RotateWorld(KV_Vector3D(0.0f, 1.0f, 0.0f), 5.0f);
        scene.renderer->UpdateNearFar();
        scene.renderer->Render();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    scene.actor->SetDrawCoarse(false);
}

void BM_InteractiveTextured4M(benchmark::State& state)
{
    TurningFrames(state, true);
}
void BM_InteractiveTextured4MFull(benchmark::State& state)
{
    TurningFrames(state, false);
}
// The floor for the coarse frame: the same triangles and window drawn the plainest way
// OpenGL 1.1 allows (client arrays of their own elements, one glDrawElements, one light, a
// mipmapped 4096 x 4096 picture), turning 5 degrees a frame. The coarse frame's rate beside
// this one is all the view adds while the world moves.
void BM_FloorTurningCoarseCount(benchmark::State& state)
{
    InteractiveScene& scene = TheInteractiveScene();
    if (!scene.ready || !scene.actor->HasTexturedLayout())
    {
        state.SkipWithError("no X display with OpenGL");
        return;
    }
    // The elements the coarse triangles use, copied into arrays of their own.
    const KV_PolySurfaceActor3D& actor = *scene.actor;
    const std::vector<float> elementPositions = actor.Positions();
    const std::vector<float> elementNormals = actor.Normals();
    const std::vector<float> elementCoordinates = actor.TextureCoordinates();
    std::vector<unsigned int> renumber(elementPositions.size() / 3, UINT32_MAX);
    std::vector<float> positions, normals, uv;
    std::vector<unsigned int> triangles;
    for (unsigned int element : scene.coarse)
    {
        if (renumber[element] == UINT32_MAX)
        {
            renumber[element] = static_cast<unsigned int>(positions.size() / 3);
            for (int k = 0; k < 3; ++k)
            {
                positions.push_back(elementPositions[3 * element + k]);
                normals.push_back(elementNormals[3 * element + k]);
            }
            uv.push_back(elementCoordinates[2 * element]);
            uv.push_back(elementCoordinates[2 * element + 1]);
        }
        triangles.push_back(renumber[element]);
    }
    const int side = 4096;
    std::vector<unsigned char> picture(static_cast<std::size_t>(side) * side * 3);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<unsigned char>((((i / 3) % side / 64) ^ ((i / 3) / side / 64)) & 1 ? 220 : 40);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, side, side, GL_RGB, GL_UNSIGNED_BYTE, picture.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    float low[3] = {1e30f, 1e30f, 1e30f}, high[3] = {-1e30f, -1e30f, -1e30f};
    for (std::size_t i = 0; i < positions.size(); ++i)
    {
        low[i % 3] = std::min(low[i % 3], positions[i]);
        high[i % 3] = std::max(high[i % 3], positions[i]);
    }
    float radius = 0.0f;
    for (int k = 0; k < 3; ++k) radius += (high[k] - low[k]) * (high[k] - low[k]) / 4.0f;
    radius = std::max(std::sqrt(radius), 1e-6f);

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPerspective(30.0, static_cast<double>(kWidth) / kHeight, radius, radius * 5.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    const GLfloat light[4] = {0.0f, 0.0f, 1.0f, 0.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, positions.data());
    glNormalPointer(GL_FLOAT, 0, normals.data());
    glTexCoordPointer(2, GL_FLOAT, 0, uv.data());
    const KV_DeviceContext dc = scene.window.GetDeviceContext();
    float angle = 0.0f;
    for (auto _ : state)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        glTranslatef(0.0f, 0.0f, -3.0f * radius);
        glRotatef(angle += 5.0f, 0.0f, 1.0f, 0.0f);
        glTranslatef(-(low[0] + high[0]) / 2, -(low[1] + high[1]) / 2, -(low[2] + high[2]) / 2);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(triangles.size()), GL_UNSIGNED_INT,
                       triangles.data());
        glFinish();
        glXSwapBuffers(dc.mpDisplay, dc.munWindow);
    }
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
    glDeleteTextures(1, &texture);
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["triangles"] = static_cast<double>(triangles.size() / 3);
}

// One pick on the same surface, through the camera of the frame just drawn, beside the frame
// times above (goal: within 50 ms); the hierarchy is made once, as the view makes it on
// entering Measure mode, and its time is printed.
void BM_PickTextured4M(benchmark::State& state)
{
    InteractiveScene& scene = TheInteractiveScene();
    if (!scene.ready)
    {
        state.SkipWithError("no X display with OpenGL");
        return;
    }
    static KV_SurfacePicker picker;
    static const bool built = []
    {
        const auto start = std::chrono::steady_clock::now();
        KV_Executor executor(2);
        const bool ok = picker.Build(TheInteractiveScene().geometry.GetSurface(), &executor);
        std::printf("Picking hierarchy over %zu triangles made in %.2f s (2 threads)\n",
                    picker.TriangleCount(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                        .count());
        return ok;
    }();
    scene.renderer->Render();
    KV_PickCamera camera;
    glGetDoublev(GL_MODELVIEW_MATRIX, camera.mkModelView.data());
    glGetDoublev(GL_PROJECTION_MATRIX, camera.mkProjection.data());
    glGetIntegerv(GL_VIEWPORT, camera.mkViewport.data());
    camera.mnPictureHeight = kHeight;
    KV_Ray ray;
    if (!built || !camera.RayThroughPixel(kWidth / 2, kHeight / 2, ray))
    {
        state.SkipWithError("no picker or no ray");
        return;
    }
    KV_PickHit hit;
    for (auto _ : state) benchmark::DoNotOptimize(picker.Pick(ray, hit));
    state.counters["hit"] = picker.Pick(ray, hit) ? 1 : 0;
}

BENCHMARK(BM_InteractiveTextured4M)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_FloorTurningCoarseCount)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_PickTextured4M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InteractiveTextured4MFull)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

BENCHMARK_MAIN();
