#include "render/KV_TexturedActor3D.h"

#include "foundation/KV_Dump.h"
#include "foundation/KV_Exception.h"
#include "image/KV_MultiImage.h"
#include "math/KV_Scalar.h"
#include "render/KV_Geometry3D.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <vector>

namespace
{
// Pixels of the held image, tightly packed rows from row 0 (the bottom) up.
struct TexturePixels
{
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    GLenum format = GL_RGB;
    GLint components = 3;
};

TexturePixels PixelsOf(const KV_MultiImage& image)
{
    TexturePixels pixels;
    if (const KV_Image<KV_RGB8>* colour = image.ColourImage())
    {
        pixels.data = reinterpret_cast<const unsigned char*>(colour->Data());
        pixels.width = colour->Cols();
        pixels.height = colour->Rows();
    }
    else if (const KV_Image<unsigned char>* grey = image.GreyImage())
    {
        pixels.data = grey->Data();
        pixels.width = grey->Cols();
        pixels.height = grey->Rows();
        pixels.format = GL_LUMINANCE;
        pixels.components = 1;
    }
    if (pixels.data == nullptr || pixels.width <= 0 || pixels.height <= 0)
        pixels = TexturePixels();
    return pixels;
}

void SetTextureParameters()
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

int RoundToInt(float x)
{
    return static_cast<int>(KV_Round(x));
}

}  // namespace

KV_TexturedActor3D::KV_TexturedActor3D(KV_Geometry3D* geometry) : KV_Actor3D(geometry) {}

void KV_TexturedActor3D::SaveTextureName()
{
    munSavedTextureName = munTextureName;
    mkSavedMoreTextureNames.swap(mkMoreTextureNames);
    mkMoreTextureNames.clear();
}

void KV_TexturedActor3D::RestoreTextureName()
{
    munTextureName = munSavedTextureName;
    mkMoreTextureNames.swap(mkSavedMoreTextureNames);
    mkSavedMoreTextureNames.clear();
}

void KV_TexturedActor3D::UploadTextureObject(const KV_MultiImage& image, unsigned int& name) const
{
    if (PixelsOf(image).data == nullptr)
        return;
    if (name == 0)
    {
        GLuint object = 0;
        glGenTextures(1, &object);
        name = object;
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    int width = 0, height = 0;
    UploadLevels(image, munMaxTextureImageSizePow2, width, height);
}

bool KV_TexturedActor3D::HasTexturePixels() const
{
    return PixelsOf(GetTextureImage()).data != nullptr;
}

void KV_PreparedTexture::Prepare(const KV_MultiImage& image, unsigned int owner)
{
    Discard();
    const TexturePixels source = PixelsOf(image);
    if (source.data == nullptr)
        return;
    // The actor's binding is left as it was: the shown surface still draws with its own.
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    const unsigned int limitPow2 = KV_TexturedActor3D::kMaxTextureImageSizePow2;
    int uploadedWidth = 0, uploadedHeight = 0;
    try
    {
        KV_TexturedActor3D::UploadLevels(image, limitPow2, uploadedWidth, uploadedHeight);
    }
    catch (...)
    {
        glDeleteTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
        throw;
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    munName = name;
    munOwner = owner;
    mpkImage = &image;
    mpkData = source.data;
    mnWidth = source.width;
    mnHeight = source.height;
    munLimitPow2 = limitPow2;
    mnUploadedWidth = uploadedWidth;
    mnUploadedHeight = uploadedHeight;
}

void KV_PreparedTexture::Discard()
{
    if (munName != 0)
    {
        const GLuint name = munName;
        glDeleteTextures(1, &name);
    }
    munName = 0;
    mpkImage = nullptr;
    mpkData = nullptr;
}

void KV_TexturedActor3D::CreateTexture()
{
    // An offer holds for this call only: later calls (a memory context's) make their own.
    KV_PreparedTexture* const offered = mpkOffered;
    mpkOffered = nullptr;
    const KV_MultiImage& image = GetTextureImage();
    const TexturePixels source = PixelsOf(image);
    if (source.data == nullptr)
        return;
    if (offered != nullptr && offered->munName != 0 && GetGeometry() != nullptr &&
        offered->munOwner == GetGeometry()->munID && offered->mpkImage == &image &&
        offered->mpkData == source.data && offered->mnWidth == source.width &&
        offered->mnHeight == source.height && offered->munLimitPow2 == munMaxTextureImageSizePow2)
    {
        munTextureName = offered->munName;
        mnUploadedWidth = offered->mnUploadedWidth;
        mnUploadedHeight = offered->mnUploadedHeight;
        offered->munName = 0;
        offered->mpkImage = nullptr;
        offered->mpkData = nullptr;
        ++offered->munAdoptions;
        glBindTexture(GL_TEXTURE_2D, munTextureName);
        return;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    munTextureName = name;
    glBindTexture(GL_TEXTURE_2D, munTextureName);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    Upload(image);
}

void KV_TexturedActor3D::UpdateTexture()
{
    if (munTextureName == 0)
    {
        CreateGLResources();
        return;
    }
    const KV_MultiImage& image = GetTextureImage();
    if (PixelsOf(image).data == nullptr)
        return;
    glBindTexture(GL_TEXTURE_2D, munTextureName);
    Upload(image);
}

void KV_TexturedActor3D::Upload(const KV_MultiImage& image)
{
    int width = 0, height = 0;
    UploadLevels(image, munMaxTextureImageSizePow2, width, height);
    if (width > 0)
    {
        mnUploadedWidth = width;
        mnUploadedHeight = height;
    }
}

void KV_TexturedActor3D::UploadLevels(const KV_MultiImage& image, unsigned int limitPow2,
                                      int& uploadedWidth, int& uploadedHeight)
{
    uploadedWidth = uploadedHeight = 0;
    const TexturePixels source = PixelsOf(image);
    if (source.data == nullptr)
        return;
    const int limit = 1 << limitPow2;
    const unsigned char* pixels = source.data;
    int width = source.width;
    int height = source.height;
    std::vector<unsigned char> scaled;
    if (width > limit || height > limit)
    {
        // Only the side that is too long shrinks; the aspect ratio is not kept.
        width = std::min(width, limit);
        height = std::min(height, limit);
        scaled.resize(static_cast<size_t>(width) * height * source.components);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        const GLint result =
            gluScaleImage(source.format, source.width, source.height, GL_UNSIGNED_BYTE, source.data,
                          width, height, GL_UNSIGNED_BYTE, scaled.data());
        if (result != 0)
            throw KV_RenderException(static_cast<unsigned int>(result));
        pixels = scaled.data();
    }

    glEnable(GL_TEXTURE_2D);
    SetTextureParameters();
    // A mipmapping filter while the levels go in: the driver then makes room for all of them
    // with the first. Under the drawing filter it makes room for level 0 alone and, once the
    // others arrive, a second full set beside it (60 MB more for a moment at 4096 x 4096).
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    const GLint result = gluBuild2DMipmaps(GL_TEXTURE_2D, source.components, width, height,
                                           source.format, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glDisable(GL_TEXTURE_2D);
    if (result != 0)
        throw KV_RenderException(static_cast<unsigned int>(result));
    uploadedWidth = width;
    uploadedHeight = height;
}

void KV_TexturedActor3D::UpdateTextureSubImage(int firstColumn, int firstRow, int lastColumn,
                                               int lastRow)
{
    const KV_MultiImage& image = GetTextureImage();
    const TexturePixels source = PixelsOf(image);
    if (source.data == nullptr || source.format != GL_RGB || munTextureName == 0)
        return;
    firstColumn = std::max(firstColumn, 0);
    firstRow = std::max(firstRow, 0);
    lastColumn = std::min(lastColumn, source.width - 1);
    lastRow = std::min(lastRow, source.height - 1);
    if (firstColumn > lastColumn || firstRow > lastRow)
        return;

    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, munTextureName);
    SetTextureParameters();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    const int ws = lastColumn - firstColumn + 1;
    const int hs = lastRow - firstRow + 1;
    std::vector<unsigned char> sub(static_cast<size_t>(ws) * hs * 3);
    for (int r = 0; r < hs; ++r)
        std::copy_n(
            source.data + (static_cast<size_t>(firstRow + r) * source.width + firstColumn) * 3,
            static_cast<size_t>(ws) * 3, sub.data() + static_cast<size_t>(r) * ws * 3);

    // Each level gets the rectangle scaled by that level's size against the whole image.
    std::vector<unsigned char> scaled;
    for (GLint level = 0;; ++level)
    {
        GLint levelWidth = 0, levelHeight = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &levelWidth);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &levelHeight);
        if (levelWidth <= 0 || levelHeight <= 0)
            break;
        const float sx = static_cast<float>(levelWidth) / source.width;
        const float sy = static_cast<float>(levelHeight) / source.height;
        const int targetWidth = RoundToInt(ws * sx);
        const int targetHeight = RoundToInt(hs * sy);
        if (targetWidth < 1 || targetHeight < 1)
            break;
        // Rounding may push the rectangle one texel past the level's edge.
        const int x = std::min(RoundToInt(firstColumn * sx), levelWidth - targetWidth);
        const int y = std::min(RoundToInt(firstRow * sy), levelHeight - targetHeight);
        scaled.resize(static_cast<size_t>(targetWidth) * targetHeight * 3);
        const GLint result =
            gluScaleImage(GL_RGB, ws, hs, GL_UNSIGNED_BYTE, sub.data(), targetWidth, targetHeight,
                          GL_UNSIGNED_BYTE, scaled.data());
        if (result != 0)
        {
            glDisable(GL_TEXTURE_2D);
            throw KV_RenderException(static_cast<unsigned int>(result));
        }
        glTexSubImage2D(GL_TEXTURE_2D, level, std::max(x, 0), std::max(y, 0), targetWidth,
                        targetHeight, GL_RGB, GL_UNSIGNED_BYTE, scaled.data());
        if (levelWidth == 1 || levelHeight == 1)
            break;
    }
    glDisable(GL_TEXTURE_2D);
}

void KV_TexturedActor3D::Dump(std::ostream& os) const
{
    KV_Actor3D::Dump(os);
    KV_DumpClass(os, "KV_TexturedActor3D");
    KV_DumpMember(os, "munTextureName", munTextureName);
    KV_DumpMember(os, "munSavedTextureName", munSavedTextureName);
    KV_DumpMember(os, "munMaxTextureImageSizePow2", munMaxTextureImageSizePow2);
}
