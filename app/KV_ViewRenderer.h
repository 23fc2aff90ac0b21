#pragma once
// KV_ViewRenderer: the 3D view's renderer. It draws the scene exactly as KV_OGLRenderer
// does and, on screen while the scene holds no actor, lays the view's hint picture over
// the empty frame. Pictures in memory (printing, saved images) never carry the hint.

#include "render/KV_OGLRenderer.h"
#include "render/KV_ScreenPicture.h"

class KV_ViewRenderer : public KV_OGLRenderer
{
public:
    void SetHint(KV_ScreenPicture hint) { mkHint = std::move(hint); }
    const KV_ScreenPicture& GetHint() const { return mkHint; }

    void RenderScene() override
    {
        KV_OGLRenderer::RenderScene();
        if (GetActorCount() == 0 && !IsRenderingToMemory())
            KV_DrawScreenPictureCentred(mkHint);
    }

private:
    KV_ScreenPicture mkHint;
};
