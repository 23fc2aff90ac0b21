#pragma once
// KV_MultiImage: holds at most one image, either colour or grey, and converts it to the
// other kind on demand (the conversion replaces the held image). It is the texture map of a
// textured surface, and it saves itself to a BMP or GIF file chosen by the file extension.
//
// A held image that nothing reads for a while (a texture once the drawing has its own copy)
// can be kept packed: deflated, at a fraction of its size for most textures. Packing is not
// seen from outside: whatever reads or changes the pixels inflates them again first.
//
// Nothing here throws; failures are shown as (non-fatal) messages and, where a result is
// returned, reported by false.

#include "image/KV_Image.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>

class KV_String;
class KV_PackedImage;

class KV_MultiImage
{
public:
    KV_MultiImage() = default;
    // Deep copy: same bounds, same pixels, same kind (a packed image's copy shares the
    // packed pixels, which never change).
    KV_MultiImage(const KV_MultiImage& other);
    KV_MultiImage& operator=(const KV_MultiImage& other);
    virtual ~KV_MultiImage();

    // The colour image. With no image held an empty colour image is made; a grey image is
    // replaced by a colour image whose three channels all carry the grey value.
    KV_Image<KV_RGB8>& GetColourImage();
    // The grey image. With no image held an empty grey image is made; a colour image is
    // replaced by a grey image of (red + green + blue) / 3, rounded down.
    KV_Image<unsigned char>& GetGreyImage();

    // Take ownership of image (which must come from new), replacing whatever was held.
    // A null pointer leaves the holder empty.
    void SetImage(KV_Image<KV_RGB8>* image);
    void SetImage(KV_Image<unsigned char>* image);
    // Destroys the held image, if any.
    void Clear();

    // (Packed first: a reader inflating meanwhile sets the images before it says unpacked.)
    bool HasImage() const
    {
        return IsPacked() || mpkColourImage != nullptr || mpkGreyImage != nullptr;
    }
    // The kind: true for colour, false for grey (also false when nothing has been held yet).
    bool IsColour() const { return mbIsColour; }
    // Size of the held image; 0 with none.
    int Rows() const;
    int Cols() const;
    // The held image of that kind without converting; null when the other kind (or nothing)
    // is held.
    const KV_Image<KV_RGB8>* ColourImage() const
    {
        Unpack();
        return mpkColourImage;
    }
    const KV_Image<unsigned char>* GreyImage() const
    {
        Unpack();
        return mpkGreyImage;
    }

    // The held pixels deflated, the holder unchanged: null when there is nothing to pack
    // (no image, an empty one, one packed already), when the packed copy would save less
    // than a quarter of the pixels' size, or when stop was set meanwhile. It only reads the
    // pixels, so it may run on another thread beside readers, never beside a change.
    std::shared_ptr<const KV_PackedImage> PackedCopy(const std::atomic<bool>* stop = nullptr) const;
    // Lets the pixels go in favour of packed, when packed was made from the pixels held now
    // (nothing has been set, converted or asked for to change since); says whether it did.
    // Not beside any reader: it frees the pixels a reader may hold.
    bool Pack(const std::shared_ptr<const KV_PackedImage>& packed);
    bool IsPacked() const { return mbPacked.load(std::memory_order_acquire); }

    // Writes the image to fileName; the exact, case-sensitive extension picks the format:
    // "bmp" a BMP file, "gif" a GIF file; any other extension (none, "BMP", "png", ...) shows
    // a message and writes a BMP to fileName with ".bmp" appended. Returns false, with a
    // message, when no (or an empty) image is held, when the file cannot be opened or
    // written, or when the image is too large for the format. The held image is unchanged.
    bool Save(const KV_String& fileName) const;

    void Dump(std::ostream& os) const;

private:
    // Inflates packed pixels, once, for whichever reader comes first.
    void Unpack() const
    {
        if (IsPacked())
            UnpackNow();
    }
    void UnpackNow() const;
    // Every change (or a reference handed out to make one) makes the pixels another version.
    void Changing();

    // When packed, both images are null and mpkPacked holds the pixels.
    mutable KV_Image<KV_RGB8>* mpkColourImage = nullptr;      // held when mbIsColour
    mutable KV_Image<unsigned char>* mpkGreyImage = nullptr;  // held when !mbIsColour
    bool mbIsColour = false;
    // Read only under mkUnpacking once handed out: a reader may be inflating it. The size
    // stays readable without the lock.
    mutable std::shared_ptr<const KV_PackedImage> mpkPacked;
    int mnPackedRows = 0;
    int mnPackedCols = 0;
    mutable std::atomic<bool> mbPacked{false};
    mutable std::mutex mkUnpacking;
    unsigned long munVersion = 0;
};
