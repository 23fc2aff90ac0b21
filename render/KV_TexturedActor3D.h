#pragma once
// KV_TexturedActor3D: an actor with one OpenGL texture object for its texture image
// (colour or grey), at most 2^13 = 8192 texels on a side before mipmapping, and as many more
// as a derived actor asks for (one per further picture of a model). Texture objects are
// never deleted explicitly; each dies with its rendering context, and the window context's
// names are kept aside while a memory context has its own.
//
// Uploads throw KV_RenderException with the GLU error code when scaling or mipmapping
// fails; the texture object keeps what was uploaded before.

#include "render/KV_Actor3D.h"

#include <vector>

class KV_MultiImage;

class KV_TexturedActor3D : public KV_Actor3D
{
public:
    explicit KV_TexturedActor3D(KV_Geometry3D* geometry);

    // The further names go aside too and are cleared, so that the memory context makes its own.
    void SaveTextureName() override;
    void RestoreTextureName() override;
    unsigned int GetTextureName() const override { return munTextureName; }
    void Dump(std::ostream& os) const override;

    // The image to texture with; an empty holder when there is none.
    virtual const KV_MultiImage& GetTextureImage() const = 0;

    // Generates a texture object in the current context and uploads the image; nothing
    // without an image.
    void CreateTexture();
    // Uploads the image again (all levels); creates every GL resource when there is no
    // texture object yet.
    void UpdateTexture();
    // Uploads the rectangle (firstColumn, firstRow)..(lastColumn, lastRow), inclusive, of a
    // colour image into every mipmap level; grey images are left alone. The rectangle is
    // clipped to the image; an empty one does nothing.
    void UpdateTextureSubImage(int firstColumn, int firstRow, int lastColumn, int lastRow);

    // A texture object uploaded ahead of its actor, in the current context: the viewer
    // uploads a surface's picture on the user-interface thread while the loading thread is
    // still completing the surface. The next actor of the geometry `owner` whose texture is
    // that same image (same pixels in place) adopts the object in CreateTexture instead of
    // uploading again. One is held at a time: preparing another, or Discard, deletes an
    // object nobody adopted (in the current context, which must be the one it was made in).
    static void PrepareTexture(const KV_MultiImage& image, unsigned int owner);
    static void DiscardPreparedTexture();
    // How many actors have adopted a prepared texture so far.
    static unsigned int AdoptedTextureCount();

    // Size of the image last handed to gluBuild2DMipmaps (after the size limit).
    int UploadedWidth() const { return mnUploadedWidth; }
    int UploadedHeight() const { return mnUploadedHeight; }

protected:
    // True when the texture image holds pixels to upload.
    bool HasTexturePixels() const;

    // Uploads image into the texture object name of the current context, mipmapped and
    // size-limited as the main texture; a name of 0 is first set to a new object. An image
    // without pixels leaves name as it was and uploads nothing. Throws as the main upload
    // does, the new name already set.
    void UploadTextureObject(const KV_MultiImage& image, unsigned int& name) const;

    unsigned int munTextureName = 0;
    unsigned int munSavedTextureName = 0;
    // Further texture objects of the current context, as a derived actor numbers them (0: none).
    std::vector<unsigned int> mkMoreTextureNames;
    std::vector<unsigned int> mkSavedMoreTextureNames;
    static constexpr unsigned int kMaxTextureImageSizePow2 = 13;
    unsigned int munMaxTextureImageSizePow2 = kMaxTextureImageSizePow2;

private:
    void Upload(const KV_MultiImage& image);
    // Uploads every mipmap level into the bound texture object, the image's longer sides cut
    // to 2^limitPow2 first; gives the size uploaded.
    static void UploadLevels(const KV_MultiImage& image, unsigned int limitPow2, int& width,
                             int& height);

    int mnUploadedWidth = 0;
    int mnUploadedHeight = 0;
};
