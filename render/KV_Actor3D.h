#pragma once
// KV_Actor3D: the drawable face of a geometry. It observes the geometry, holds the display
// switches the view toggles, and keeps the changes it is told about pending until the next
// draw, when an OpenGL context is current. It never owns its geometry; the geometry must
// outlive it or tell it that it goes (the subject does so on destruction).

#include "foundation/KV_SmartPtr.h"
#include "render/KV_SubjectObserver.h"

#include <ostream>
#include <vector>

class KV_Geometry3D;

class KV_Actor3D : public KV_Observer
{
public:
    // Hint indices 0..6 have a pending flag each.
    static constexpr int kPendingFlagCount = 7;

    // Does not attach itself; the geometry's CreateActor does.
    explicit KV_Actor3D(KV_Geometry3D* geometry);
    // Detaches from the geometry (when it still exists).
    ~KV_Actor3D() override;
    KV_Actor3D(const KV_Actor3D&) = delete;
    KV_Actor3D& operator=(const KV_Actor3D&) = delete;

    // Marks hint 0..6 pending (7 and unknown indices mark nothing) and keeps a copy of the
    // hint object; nothing is drawn or uploaded until the next draw.
    void Update(KV_Subject* subject, int hintIndex,
                const KV_SubjectObserverObjectHint* hintObject) override;
    void SubjectDestroyed(KV_Subject* subject) override;

    virtual void SetDisplayedWireframe(bool flag) { mbIsDisplayedWireframe = flag; }
    virtual void SetDisplayedSmooth(bool flag) { mbIsDisplayedSmooth = flag; }
    virtual void SetVisible(bool flag) { mbIsVisible = flag; }
    virtual void SetPickable(bool flag) { mbIsPickable = flag; }
    virtual void SetDisplayedTextured(bool flag) { mbIsDisplayedTextured = flag; }
    virtual void SetBoundingBoxDisplayed(bool flag) { mbIsBoundingBoxDisplayed = flag; }
    virtual void SetDrawnLast(bool flag) { mbIsDrawnLast = flag; }
    // Draws into the current context; needs one.
    virtual void Draw() = 0;
    // Draws for OpenGL selection with polygon names (pass 0 or 1).
    virtual void DrawForSelection(int pass) = 0;
    // Draws every polygon in a colour that encodes firstId + its index; returns the next
    // free id. The base draws nothing.
    virtual unsigned int DrawForColourPicking(unsigned int firstId);
    // Creates what the actor needs in the current context (arrays bound, texture uploaded).
    // May throw KV_RenderException from the texture upload.
    virtual void CreateGLResources();
    virtual void ReleaseGLResources();
    virtual void SaveTextureName();
    virtual void RestoreTextureName();
    virtual unsigned int GetTextureName() const;
    virtual void Dump(std::ostream& os) const;

    // Around a render to memory: a new texture object and array pointers in the memory
    // context, and the window context's texture name back afterwards.
    void BeginRenderToMemory();
    void EndRenderToMemory();

    KV_Geometry3D* GetGeometry() const { return mkGeometry; }
    bool IsDisplayedWireframe() const { return mbIsDisplayedWireframe; }
    bool IsDisplayedSmooth() const { return mbIsDisplayedSmooth; }
    bool IsVisible() const { return mbIsVisible; }
    bool IsPickable() const { return mbIsPickable; }
    bool IsDisplayedTextured() const { return mbIsDisplayedTextured; }
    bool IsBoundingBoxDisplayed() const { return mbIsBoundingBoxDisplayed; }
    bool IsRenderingToMemory() const { return mbRenderToMemory; }
    bool IsDrawnLast() const { return mbIsDrawnLast; }
    bool IsUpdatePending(int hintIndex) const;
    unsigned int PendingHintCount() const
    {
        return static_cast<unsigned int>(mkPendingHints.size());
    }

protected:
    bool mbPendingUpdates[kPendingFlagCount] = {};
    std::vector<KV_SmartPtr<KV_SubjectObserverObjectHint>> mkPendingHints;
    KV_Geometry3D* mkGeometry;
    bool mbIsDisplayedWireframe = false;
    bool mbIsDisplayedSmooth = true;
    bool mbIsVisible = true;
    bool mbIsPickable = true;
    bool mbIsDisplayedTextured = true;
    bool mbIsBoundingBoxDisplayed = false;
    bool mbRenderToMemory = false;
    bool mbIsDrawnLast = false;
};
