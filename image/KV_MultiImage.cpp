#include "image/KV_MultiImage.h"

#include "foundation/KV_Dump.h"
#include "foundation/KV_Report.h"
#include "foundation/KV_String.h"
#include "image/KV_ImageProcessing.h"
#include "image/KV_ImageWriters.h"

KV_MultiImage::KV_MultiImage(const KV_MultiImage& other)
{
    *this = other;
}

KV_MultiImage& KV_MultiImage::operator=(const KV_MultiImage& other)
{
    if (&other == this)
        return *this;
    Clear();
    if (other.mpkColourImage != nullptr)
        mpkColourImage = new KV_Image<KV_RGB8>(*other.mpkColourImage);
    if (other.mpkGreyImage != nullptr)
        mpkGreyImage = new KV_Image<unsigned char>(*other.mpkGreyImage);
    mbIsColour = other.mbIsColour;
    return *this;
}

KV_MultiImage::~KV_MultiImage()
{
    Clear();
}

void KV_MultiImage::Clear()
{
    delete mpkColourImage;
    delete mpkGreyImage;
    mpkColourImage = nullptr;
    mpkGreyImage = nullptr;
}

void KV_MultiImage::SetImage(KV_Image<KV_RGB8>* image)
{
    if (image == mpkColourImage && image != nullptr)
        return;
    Clear();
    mpkColourImage = image;
    mbIsColour = true;
}

void KV_MultiImage::SetImage(KV_Image<unsigned char>* image)
{
    if (image == mpkGreyImage && image != nullptr)
        return;
    Clear();
    mpkGreyImage = image;
    mbIsColour = false;
}

KV_Image<KV_RGB8>& KV_MultiImage::GetColourImage()
{
    if (mpkColourImage != nullptr)
        return *mpkColourImage;
    KV_Image<KV_RGB8>* colour = new KV_Image<KV_RGB8>();
    if (mpkGreyImage != nullptr)
    {
        const KV_Image<unsigned char>& grey = *mpkGreyImage;
        if (!CombineChannels(grey, grey, grey, *colour))
            ReportMessage("MultiImage Error", "Unable to produce colour image");
    }
    SetImage(colour);
    return *colour;
}

KV_Image<unsigned char>& KV_MultiImage::GetGreyImage()
{
    if (mpkGreyImage != nullptr)
        return *mpkGreyImage;
    KV_Image<unsigned char>* grey = new KV_Image<unsigned char>();
    if (mpkColourImage != nullptr)
    {
        const KV_Image<KV_RGB8>& colour = *mpkColourImage;
        grey->SetSize(colour.Rows(), colour.Cols());
        for (int j = 0; !colour.IsEmpty() && j < colour.Rows(); ++j)
        {
            const KV_RGB8* in = colour.Row(j);
            unsigned char* out = grey->Row(j);
            for (int i = 0; i < colour.Cols(); ++i)
            {
                // The stored factor is the decimal 0.3333333333333333, not 1/3, and the
                // result is truncated: greys are kept exactly as earlier files produced them.
                const double sum = static_cast<double>(in[i].red) + in[i].green + in[i].blue;
                out[i] = static_cast<unsigned char>(sum * 0.3333333333333333);
            }
        }
    }
    SetImage(grey);
    return *grey;
}

int KV_MultiImage::Rows() const
{
    if (mpkColourImage != nullptr)
        return mpkColourImage->Rows();
    return mpkGreyImage != nullptr ? mpkGreyImage->Rows() : 0;
}

int KV_MultiImage::Cols() const
{
    if (mpkColourImage != nullptr)
        return mpkColourImage->Cols();
    return mpkGreyImage != nullptr ? mpkGreyImage->Cols() : 0;
}

bool KV_MultiImage::Save(const KV_String& fileName) const
{
    // An image with no pixels would give a file that no viewer accepts: refuse it like a
    // missing one.
    if (!HasImage() || Rows() == 0 || Cols() == 0)
    {
        ReportMessage(KV_String("MultiImage Error"), KV_String("File Save Error : ") + fileName +
                                                         " - Cannot save to an empty image");
        return false;
    }
    // The extension follows the last dot after the last path separator (backslash, and "/"
    // on this platform), compared exactly.
    const KV_String extension = fileName.Extension();
    if (extension == "gif")
        return mpkColourImage != nullptr ? KV_WriteGIF(*mpkColourImage, fileName)
                                         : KV_WriteGIF(*mpkGreyImage, fileName);
    KV_String bmpName = fileName;
    if (extension != "bmp")
    {
        ReportMessage("MultiImage Error",
                      "Image Save - unrecoginsed file extension - defaulting to .BMP");
        bmpName += ".bmp";
    }
    return mpkColourImage != nullptr ? KV_WriteBMP(*mpkColourImage, bmpName)
                                     : KV_WriteBMP(*mpkGreyImage, bmpName);
}

void KV_MultiImage::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_MultiImage");
    KV_DumpMember(os, "mbIsColour", mbIsColour ? 1 : 0);
    KV_DumpMember(os, "Rows", Rows());
    KV_DumpMember(os, "Cols", Cols());
}
