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

// A texture object uploaded ahead of its actor: the viewer uploads a surface's picture on
// the user-interface thread while the surface is still being completed elsewhere. Whoever
// prepares it (the view) holds it and offers it to the actor it makes for that geometry
// (KV_TexturedActor3D::OfferPreparedTexture); the actor adopts it in CreateTexture when its
// texture is that same image (same pixels in place, same size limit) instead of uploading
// again. One object is held at a time, in the context it was made in, which must be current
// when it is prepared again or discarded.
class KV_PreparedTexture
{
public:
    KV_PreparedTexture() = default;
    KV_PreparedTexture(const KV_PreparedTexture&) = delete;
    KV_PreparedTexture& operator=(const KV_PreparedTexture&) = delete;

    // Deletes an object nobody adopted, then uploads image (all mipmap levels) into a new
    // texture object of the current context for geometry owner; nothing more for an image
    // without pixels. The context's binding is left as it was. Throws KV_RenderException as
    // the actor's upload does, holding nothing then.
    void Prepare(const KV_MultiImage& image, unsigned int owner);
    // Deletes an object nobody adopted (in the current context).
    void Discard();
    bool IsHeld() const { return munName != 0; }
    // How many of the objects prepared here actors have adopted.
    unsigned int AdoptionCount() const { return munAdoptions; }

private:
    friend class KV_TexturedActor3D;

    unsigned int munName = 0;
    unsigned int munOwner = 0;
    const KV_MultiImage* mpkImage = nullptr;
    const unsigned char* mpkData = nullptr;
    int mnWidth = 0, mnHeight = 0;
    unsigned int munLimitPow2 = 0;
    int mnUploadedWidth = 0, mnUploadedHeight = 0;
    unsigned int munAdoptions = 0;
};

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

    // Offers prepared, held by the caller, to the next CreateTexture of this actor, in the
    // context prepared was made in: adopted (and no longer held there) when it was prepared
    // for this actor's geometry and texture image. The offer ends with that CreateTexture,
    // adopted or not; null withdraws it.
    void OfferPreparedTexture(KV_PreparedTexture* prepared) { mpkOffered = prepared; }

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
    // Prepares with the actor's own upload, so that an adopted object holds what the actor
    // would have uploaded.
    friend class KV_PreparedTexture;

    void Upload(const KV_MultiImage& image);
    // Uploads every mipmap level into the bound texture object, the image's longer sides cut
    // to 2^limitPow2 first; gives the size uploaded.
    static void UploadLevels(const KV_MultiImage& image, unsigned int limitPow2, int& width,
                             int& height);

    int mnUploadedWidth = 0;
    int mnUploadedHeight = 0;
    KV_PreparedTexture* mpkOffered = nullptr;
};
