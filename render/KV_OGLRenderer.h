#pragma once
// KV_OGLRenderer: the renderer the view owns and talks to. It keeps the actors (owned
// through shared pointers, keyed and drawn in ascending geometry id), the bounding box of the
// whole scene, draws a frame (the environment, then the actors in two passes), frames the
// scene with the camera on demand, keeps the near and far planes fitted to the scene, and
// carries the actors through render to memory.
//
// Every operation that touches OpenGL makes the context current first; that failure is
// thrown as KV_WindowsException. Texture and array creation may throw KV_RenderException.
// State changed before a throw stays changed.

#include "foundation/KV_SmartPtr.h"
#include "render/KV_Actor3D.h"
#include "render/KV_BoundingBox3D.h"
#include "render/KV_OGLEnvironmentRenderer.h"

#include <map>

class KV_OGLRenderer : public KV_OGLEnvironmentRenderer
{
public:
    using ActorMap = std::map<unsigned int, KV_SmartPtr<KV_Actor3D>>;

    // ResetCamera modes.
    enum
    {
        CAMERA_ORTHOGRAPHIC = 0,
        CAMERA_PERSPECTIVE = 1
    };

    KV_OGLRenderer();
    ~KV_OGLRenderer() override;

    // The environment, then every actor not drawn last, then (over a cleared depth buffer)
    // those drawn last.
    void RenderScene() override;
    // Releases every actor's GL resources, then the window-system clean-up.
    void CleanUp() override;
    // The memory context with the lights, then every actor's render-to-memory set-up
    // (whatever the result, which is returned).
    int BeginMemoryContext(int width, int height, const KV_DeviceContext* dc,
                           unsigned int flags) override;
    void EndMemoryContext() override;
    void Dump(std::ostream& os) const override;

    // Takes ownership of actor, creates its GL resources and adds it under its geometry's id,
    // widening the scene box (the first actor replaces it). An id already present keeps its
    // actor and the new one is destroyed. A null actor, or one whose geometry is gone, is
    // ignored (and destroyed).
    void AddActor(KV_Actor3D* actor);
    // Releases the actor's GL resources and drops it; the scene box is recomputed over the
    // actors left (it keeps its value when none is left). An unknown id changes nothing.
    void RemoveActor(unsigned int id);
    // The box over all actors, or over the visible ones only; left as it was when there is
    // no such actor.
    void RecomputeSceneBox(bool allActors);
    unsigned int GetActorCount() const { return static_cast<unsigned int>(mkActors.size()); }
    const ActorMap& GetActors() const { return mkActors; }
    const KV_BoundingBox3D& GetSceneBoundingBox() const { return mkSceneBoundingBox; }

    // Distances along the viewing axis that enclose the scene box with a box diagonal to
    // spare on either side; a negative result is reported as -1.
    void ComputeNearFar(float& nearPlane, float& farPlane) const;
    // Refits the near and far planes of the current clipping volume to the scene (near at
    // least 0.5; far 100 when the fit gives 1 or less). Nothing without a clipping volume.
    void UpdateNearFar();
    // Frames the whole scene from the +z side: camera and world transforms reset, the scene
    // centred six box diagonals in front of the eye, light 0 turned to shine from the box's
    // front along the viewing axis (direction +z wherever the box lies), and a new
    // orthographic (mode 0) or perspective (mode 1) volume; any other mode keeps the
    // projection.
    void ResetCamera(int mode);

protected:
    ActorMap mkActors;
    KV_BoundingBox3D mkSceneBoundingBox;
};
