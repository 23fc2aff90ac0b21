#include "image/KV_MultiImage.h"

#include "foundation/KV_Dump.h"
#include "foundation/KV_Report.h"
#include "foundation/KV_String.h"
#include "image/KV_ImageProcessing.h"
#include "image/KV_ImageWriters.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

// Pixels deflated, with what is needed to make the image again and to tell whether it is
// still the holder's.
class KV_PackedImage
{
public:
    int rows = 0;
    int cols = 0;
    bool colour = false;
    std::size_t size = 0;  // bytes of pixels
    unsigned long version = 0;
    const void* source = nullptr;
    std::vector<unsigned char> bytes;
};

namespace
{
// Deflated a slice at a time, so that a stop is seen soon and the output grows with what
// was written rather than with the bound of the whole input.
constexpr std::size_t kPackSlice = std::size_t(1) << 20;
// zlib's fastest level: the pixels are packed on a worker, but inflated on whichever thread
// reads them next, and level 1 inflates as fast as any.
constexpr int kPackLevel = 1;

bool Deflate(const unsigned char* pixels, std::size_t size, std::size_t limit,
             std::vector<unsigned char>& out, const std::atomic<bool>* stop)
{
    z_stream stream{};
    if (deflateInit(&stream, kPackLevel) != Z_OK)
        return false;
    bool ok = true;
    std::size_t done = 0;
    int result = Z_OK;
    while (ok && result != Z_STREAM_END)
    {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
        {
            ok = false;
            break;
        }
        const std::size_t slice = std::min(kPackSlice, size - done);
        stream.next_in = const_cast<unsigned char*>(pixels + done);
        stream.avail_in = static_cast<uInt>(slice);
        done += slice;
        const int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
        do
        {
            const std::size_t at = out.size();
            const std::size_t room = std::min(kPackSlice / 4, limit - at);
            if (room == 0)
            {
                ok = false;
                break;
            }
            out.resize(at + room);
            stream.next_out = out.data() + at;
            stream.avail_out = static_cast<uInt>(room);
            result = deflate(&stream, flush);
            out.resize(out.size() - stream.avail_out);
            if (result == Z_STREAM_ERROR)
                ok = false;
        } while (ok && stream.avail_out == 0 && result != Z_STREAM_END);
    }
    deflateEnd(&stream);
    return ok;
}

bool Inflate(const std::vector<unsigned char>& in, unsigned char* pixels, std::size_t size)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = const_cast<unsigned char*>(in.data());
    std::size_t given = 0, written = 0;
    int result = Z_OK;
    while (result == Z_OK)
    {
        // zlib counts in 32 bits: the buffers go in slices.
        const std::size_t input = std::min(in.size() - given, kPackSlice);
        stream.avail_in = static_cast<uInt>(input);
        stream.next_in = const_cast<unsigned char*>(in.data() + given);
        const std::size_t output = std::min(size - written, kPackSlice);
        stream.avail_out = static_cast<uInt>(output);
        stream.next_out = pixels + written;
        result = inflate(&stream, Z_NO_FLUSH);
        const bool progress = stream.avail_in != input || stream.avail_out != output;
        given += input - stream.avail_in;
        written += output - stream.avail_out;
        // Out of room in a slice is no error while the slices move on.
        if (result == Z_BUF_ERROR && progress)
            result = Z_OK;
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END && written == size;
}
}  // namespace

KV_MultiImage::KV_MultiImage(const KV_MultiImage& other)
{
    *this = other;
}

KV_MultiImage& KV_MultiImage::operator=(const KV_MultiImage& other)
{
    if (&other == this)
        return *this;
    Clear();
    if (other.IsPacked())
    {
        std::lock_guard<std::mutex> lock(other.mkUnpacking);
        mpkPacked = other.mpkPacked;
    }
    if (mpkPacked)
    {
        mbIsColour = other.mbIsColour;
        mnPackedRows = other.mnPackedRows;
        mnPackedCols = other.mnPackedCols;
        mbPacked.store(true, std::memory_order_release);
        return *this;
    }
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

void KV_MultiImage::Changing()
{
    Unpack();
    ++munVersion;
}

void KV_MultiImage::Clear()
{
    ++munVersion;
    mpkPacked.reset();
    mbPacked.store(false, std::memory_order_release);
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
    Changing();
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
    Changing();
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
    if (IsPacked())
        return mnPackedRows;
    if (mpkColourImage != nullptr)
        return mpkColourImage->Rows();
    return mpkGreyImage != nullptr ? mpkGreyImage->Rows() : 0;
}

int KV_MultiImage::Cols() const
{
    if (IsPacked())
        return mnPackedCols;
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
    Unpack();
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

std::shared_ptr<const KV_PackedImage> KV_MultiImage::PackedCopy(const std::atomic<bool>* stop) const
{
    if (IsPacked() || Rows() <= 0 || Cols() <= 0)
        return nullptr;
    auto packed = std::make_shared<KV_PackedImage>();
    packed->rows = Rows();
    packed->cols = Cols();
    packed->colour = mpkColourImage != nullptr;
    const unsigned char* pixels =
        packed->colour ? reinterpret_cast<const unsigned char*>(mpkColourImage->Data())
                       : mpkGreyImage->Data();
    packed->size = static_cast<std::size_t>(packed->rows) * static_cast<std::size_t>(packed->cols) *
                   (packed->colour ? sizeof(KV_RGB8) : 1);
    packed->version = munVersion;
    packed->source = pixels;
    // Inflating costs a reader time; a picture that hardly shrinks is kept as it is.
    if (!Deflate(pixels, packed->size, packed->size / 4 * 3, packed->bytes, stop))
        return nullptr;
    packed->bytes.shrink_to_fit();
    return packed;
}

bool KV_MultiImage::Pack(const std::shared_ptr<const KV_PackedImage>& packed)
{
    if (!packed || IsPacked() || packed->version != munVersion || packed->rows != Rows() ||
        packed->cols != Cols() || packed->colour != (mpkColourImage != nullptr))
        return false;
    const void* pixels = packed->colour ? static_cast<const void*>(mpkColourImage->Data())
                                        : static_cast<const void*>(mpkGreyImage->Data());
    if (pixels != packed->source)
        return false;
    // Packed before the pixels go, so that the size and kind never read as absent, and under
    // the lock, so that a reader who finds it packed inflates only once it is.
    std::lock_guard<std::mutex> lock(mkUnpacking);
    mpkPacked = packed;
    mnPackedRows = packed->rows;
    mnPackedCols = packed->cols;
    mbPacked.store(true, std::memory_order_release);
    delete mpkColourImage;
    delete mpkGreyImage;
    mpkColourImage = nullptr;
    mpkGreyImage = nullptr;
    return true;
}

void KV_MultiImage::UnpackNow() const
{
    std::lock_guard<std::mutex> lock(mkUnpacking);
    if (!mbPacked.load(std::memory_order_relaxed))
        return;
    const KV_PackedImage& packed = *mpkPacked;
    bool ok = false;
    if (packed.colour)
    {
        auto* image = new KV_Image<KV_RGB8>(packed.rows, packed.cols);
        ok = Inflate(packed.bytes, reinterpret_cast<unsigned char*>(image->Data()), packed.size);
        mpkColourImage = image;
    }
    else
    {
        auto* image = new KV_Image<unsigned char>(packed.rows, packed.cols);
        ok = Inflate(packed.bytes, image->Data(), packed.size);
        mpkGreyImage = image;
    }
    // Only a fault of this process's own memory could spoil the packed bytes.
    if (!ok)
        ReportMessage("MultiImage Error", "Unable to unpack the image");
    mpkPacked.reset();
    mbPacked.store(false, std::memory_order_release);
}
