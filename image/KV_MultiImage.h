#pragma once
// KV_MultiImage: holds at most one image, either colour or grey, and converts it to the
// other kind on demand (the conversion replaces the held image). It is the texture map of a
// textured surface, and it saves itself to a BMP or GIF file chosen by the file extension.
//
// Nothing here throws; failures are shown as (non-fatal) messages and, where a result is
// returned, reported by false.

#include "image/KV_Image.h"

#include <ostream>

class KV_String;

class KV_MultiImage
{
public:
    KV_MultiImage() = default;
    // Deep copy: same bounds, same pixels, same kind.
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

    bool HasImage() const { return mpkColourImage != nullptr || mpkGreyImage != nullptr; }
    // The kind: true for colour, false for grey (also false when nothing has been held yet).
    bool IsColour() const { return mbIsColour; }
    // Size of the held image; 0 with none.
    int Rows() const;
    int Cols() const;
    // The held image of that kind without converting; null when the other kind (or nothing)
    // is held.
    const KV_Image<KV_RGB8>* ColourImage() const { return mpkColourImage; }
    const KV_Image<unsigned char>* GreyImage() const { return mpkGreyImage; }

    // Writes the image to fileName; the exact, case-sensitive extension picks the format:
    // "bmp" a BMP file, "gif" a GIF file; any other extension (none, "BMP", "png", ...) shows
    // a message and writes a BMP to fileName with ".bmp" appended. Returns false, with a
    // message, when no (or an empty) image is held, when the file cannot be opened or
    // written, or when the image is too large for the format. The held image is unchanged.
    bool Save(const KV_String& fileName) const;

    void Dump(std::ostream& os) const;

private:
    KV_Image<KV_RGB8>* mpkColourImage = nullptr;      // held when mbIsColour
    KV_Image<unsigned char>* mpkGreyImage = nullptr;  // held when !mbIsColour
    bool mbIsColour = false;
};
