#include "render/KV_ScreenPicture.h"

#include <GL/gl.h>

void KV_DrawScreenPictureCentred(const KV_ScreenPicture& picture)
{
    if (picture.IsEmpty())
        return;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0)
        return;
    const KV_WindowPixelScope pixels(viewport[2], viewport[3],
                                     GL_ENABLE_BIT | GL_CURRENT_BIT | GL_PIXEL_MODE_BIT);
    // A raster position outside the viewport would drop the whole picture: start inside it
    // and skip rows and columns that lie beyond the lower-left corner.
    int x = (viewport[2] - picture.mnWidth) / 2;
    int y = (viewport[3] - picture.mnHeight) / 2;
    int skipX = 0, skipY = 0;
    if (x < 0)
    {
        skipX = -x;
        x = 0;
    }
    if (y < 0)
    {
        skipY = -y;
        y = 0;
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, picture.mnWidth);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipX);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, skipY);
    glRasterPos2i(x, y);
    glDrawPixels(picture.mnWidth - skipX, picture.mnHeight - skipY, GL_RGB, GL_UNSIGNED_BYTE,
                 picture.mkPixels.data());
}

KV_WindowPixelScope::KV_WindowPixelScope(int viewportWidth, int viewportHeight,
                                         unsigned int attributes)
{
    glPushAttrib(attributes | GL_ENABLE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, viewportWidth, 0.0, viewportHeight, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

KV_WindowPixelScope::~KV_WindowPixelScope()
{
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopClientAttrib();
    glPopAttrib();
}
