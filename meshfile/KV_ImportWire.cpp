#include "meshfile/KV_ImportWire.h"

#include "meshfile/KV_ReadStop.h"

#include "foundation/KV_Report.h"
#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"
#include "surface/KV_SurfaceAppearance.h"
#include "surface/KV_TexturedPolySurface.h"
#include "surfacefile/KV_ByteCursor.h"

#include <cstring>
#include <memory>
#include <vector>
#include <new>

namespace
{

using Bytes = std::vector<unsigned char>;

// Writes little-endian values into a block sized beforehand: the first pass (no block)
// only counts.
class Packer
{
public:
    explicit Packer(unsigned char* out) : mpOut(out) {}
    std::size_t Size() const { return munSize; }

    void U8(unsigned char value)
    {
        if (mpOut != nullptr)
            mpOut[munSize] = value;
        ++munSize;
    }
    void U32(std::uint32_t value)
    {
        if (mpOut != nullptr)
            for (int i = 0; i < 4; ++i)
                mpOut[munSize + i] = static_cast<unsigned char>(value >> (8 * i));
        munSize += 4;
    }
    void Float(float value)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        U32(bits);
    }
    void Raw(const unsigned char* data, std::size_t count)
    {
        if (mpOut != nullptr && count > 0)
            std::memcpy(mpOut + munSize, data, count);
        munSize += count;
    }
    void Text(const std::string& text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        Raw(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    void Image(const KV_MultiImage& image)
    {
        const bool colour = image.ColourImage() != nullptr;
        U8(colour ? 3 : 1);
        U32(static_cast<std::uint32_t>(image.Rows()));
        U32(static_cast<std::uint32_t>(image.Cols()));
        const unsigned char* pixels =
            colour ? reinterpret_cast<const unsigned char*>(image.ColourImage()->Data())
                   : image.GreyImage() != nullptr ? image.GreyImage()->Data() : nullptr;
        Raw(pixels, std::size_t(image.Rows()) * image.Cols() * (colour ? 3 : 1));
    }
    void Words(const std::vector<std::uint32_t>& words)
    {
        U32(static_cast<std::uint32_t>(words.size()));
        if (mpOut == nullptr)
            munSize += 4 * words.size();
        else
            for (std::uint32_t word : words) U32(word);
    }
    void Polygons(const KV_List<KV_Polygon>& polygons)
    {
        U32(polygons.Count());
        for (unsigned int p = 0; p < polygons.Count(); ++p)
        {
            const KV_PolygonView& polygon = polygons[p];
            U32(polygon.Count());
            if (mpOut == nullptr)
            {
                munSize += 4 * std::size_t(polygon.Count());
                continue;
            }
            for (unsigned int j = 0; j < polygon.Count(); ++j) U32(polygon[j]);
        }
    }

private:
    unsigned char* mpOut;
    std::size_t munSize = 0;
};

std::string TakeText(KV_ByteCursor& in)
{
    const std::uint32_t length = in.U32();
    const unsigned char* text = in.Take(length);
    return std::string(reinterpret_cast<const char*>(text), length);
}

void TakePolygons(KV_ByteCursor& in, KV_List<KV_Polygon>& polygons,
                  const std::atomic<bool>* stop)
{
    const std::uint32_t count = in.U32();
    in.Require(count, 4);
    // Appended whole, so that polygons of one size stay one flat run.
    polygons.Clear();
    std::vector<unsigned int> polygon;
    for (std::uint32_t p = 0; p < count; ++p)
    {
        if (p % kStopCheckEvery == 0)
            KV_CheckStop(stop);
        const std::uint32_t corners = in.U32();
        in.Require(corners, 4);
        polygon.resize(corners);
        for (std::uint32_t j = 0; j < corners; ++j) polygon[j] = in.U32();
        polygons.AppendCorners(polygon.data(), corners);
    }
}

void Pack(Packer& out, bool read, const std::string& reason, const std::string& format,
          const KV_ImportMessages& messages,
          const KV_TexturedPolySurface& surface)
{
    out.U8(read ? 1 : 0);
    out.Text(reason);
    out.Text(format);
    out.U32(static_cast<std::uint32_t>(messages.size()));
    for (const auto& message : messages)
    {
        out.Text(message.first);
        out.Text(message.second);
    }
    if (!read)
        return;
    out.U32(surface.VertexCount());
    for (unsigned int i = 0; i < surface.VertexCount(); ++i)
    {
        const KV_Vector3D& p = (*surface.mpVertices)[i];
        out.Float(p.x);
        out.Float(p.y);
        out.Float(p.z);
    }
    out.Polygons(*surface.mpPolygons);
    const bool textured = surface.HasTextureMap();
    out.U8(textured ? 1 : 0);
    if (!textured)
        return;
    out.U32(surface.mpTextureCoordinates->Count());
    for (unsigned int i = 0; i < surface.mpTextureCoordinates->Count(); ++i)
    {
        out.Float((*surface.mpTextureCoordinates)[i].u);
        out.Float((*surface.mpTextureCoordinates)[i].v);
    }
    out.Polygons(*surface.mpTexturePolygons);
    out.Image(*surface.mpTextureMap);
}

// The table after the surface: its materials (name, whether textured, the picture when it
// holds one), then its four lists, each as a count and the values.
void PackAppearance(Packer& out, const KV_SurfaceAppearance* appearance)
{
    out.U8(appearance != nullptr ? 1 : 0);
    if (appearance == nullptr)
        return;
    out.U32(static_cast<std::uint32_t>(appearance->materials.size()));
    for (const KV_SurfaceMaterial& material : appearance->materials)
    {
        out.Text(material.name);
        out.U8(material.textured ? 1 : 0);
        const bool image = material.image != nullptr && material.image->HasImage();
        out.U8(image ? 1 : 0);
        if (image)
            out.Image(*material.image);
    }
    out.Words(appearance->polygonMaterials);
    out.U32(static_cast<std::uint32_t>(appearance->vertexColours.size()));
    out.Raw(appearance->vertexColours.data(), appearance->vertexColours.size());
    out.U32(static_cast<std::uint32_t>(appearance->normals.size()));
    for (const KV_Vector3D& n : appearance->normals)
    {
        out.Float(n.x);
        out.Float(n.y);
        out.Float(n.z);
    }
    out.Words(appearance->cornerNormals);
}

// A picture as Packer::Image wrote it.
std::unique_ptr<KV_MultiImage> TakeImage(KV_ByteCursor& in)
{
    const unsigned int kind = in.U8();
    const std::uint32_t rows = in.U32();
    const std::uint32_t cols = in.U32();
    if ((kind != 1 && kind != 3) || rows > KV_ImageReader::kMaxSide ||
        cols > KV_ImageReader::kMaxSide)
        throw KV_BadFile();
    const unsigned char* p = in.Take(std::uint64_t(rows) * cols * kind);
    auto picture = std::make_unique<KV_MultiImage>();
    if (kind == 3)
    {
        auto image =
            std::make_unique<KV_Image<KV_RGB8>>(static_cast<int>(rows), static_cast<int>(cols));
        std::memcpy(image->Data(), p, std::size_t(rows) * cols * 3);
        picture->SetImage(image.release());
    }
    else
    {
        auto image = std::make_unique<KV_Image<unsigned char>>(static_cast<int>(rows),
                                                               static_cast<int>(cols));
        std::memcpy(image->Data(), p, std::size_t(rows) * cols);
        picture->SetImage(image.release());
    }
    return picture;
}

std::vector<std::uint32_t> TakeWords(KV_ByteCursor& in)
{
    const std::uint32_t count = in.U32();
    const unsigned char* p = in.Take(std::uint64_t(count) * 4);
    std::vector<std::uint32_t> words(count);
    for (std::uint32_t i = 0; i < count; ++i) words[i] = KV_LoadU32(p + 4 * std::size_t(i));
    return words;
}

// The table PackAppearance wrote, checked against the surface it came with: counts that are
// not the surface's, an index past its list, a picture without a textured material, or a
// table nobody asked for throw KV_BadFile.
void TakeAppearance(KV_ByteCursor& in, const KV_TexturedPolySurface& surface,
                    KV_SurfaceAppearance* appearance)
{
    if (in.U8() == 0)
        return;
    if (appearance == nullptr)
        throw KV_BadFile();
    KV_SurfaceAppearance& table = *appearance;
    const std::uint32_t materials = in.U32();
    in.Require(materials, 6);  // a name's length and two flags at least
    table.materials.resize(materials);
    for (KV_SurfaceMaterial& material : table.materials)
    {
        material.name = TakeText(in);
        material.textured = in.U8() != 0;
        if (in.U8() != 0)
        {
            if (!material.textured)
                throw KV_BadFile();
            material.image = TakeImage(in);
        }
    }
    table.polygonMaterials = TakeWords(in);
    if (!table.polygonMaterials.empty() && table.polygonMaterials.size() != surface.PolygonCount())
        throw KV_BadFile();
    for (std::uint32_t m : table.polygonMaterials)
        if (m != KV_SurfaceAppearance::kNoMaterial && m >= materials)
            throw KV_BadFile();
    const std::uint32_t colours = in.U32();
    if (colours != 0 && colours != 4 * std::uint64_t(surface.VertexCount()))
        throw KV_BadFile();
    const unsigned char* p = in.Take(colours);
    table.vertexColours.assign(p, p + colours);
    const std::uint32_t normals = in.U32();
    p = in.Take(std::uint64_t(normals) * 12);
    table.normals.resize(normals);
    for (std::uint32_t i = 0; i < normals; ++i, p += 12)
        table.normals[i] = KV_Vector3D(KV_LoadF32(p), KV_LoadF32(p + 4), KV_LoadF32(p + 8));
    table.cornerNormals = TakeWords(in);
    std::uint64_t corners = 0;
    for (unsigned int k = 0; k < surface.PolygonCount(); ++k)
        corners += (*surface.mpPolygons)[k].Count();
    if (!table.cornerNormals.empty() && table.cornerNormals.size() != corners)
        throw KV_BadFile();
    for (std::uint32_t n : table.cornerNormals)
        if (n >= normals)
            throw KV_BadFile();
    if (table.cornerNormals.empty() && normals != 0 && normals != surface.VertexCount())
        throw KV_BadFile();
    if (!in.AtEnd())
        throw KV_BadFile();
}

// Fills the surface (and the table, when one is asked for) from what the child sent; throws
// KV_ShortRead on anything incomplete, KV_BadFile on anything inconsistent.
bool Decode(KV_ByteCursor& in, std::string& reason, std::string& format,
            KV_TexturedPolySurface& surface, KV_SurfaceAppearance* appearance,
            const std::atomic<bool>* stop)
{
    const bool read = in.U8() != 0;
    reason = TakeText(in);
    format = TakeText(in);
    const std::uint32_t messages = in.U32();
    for (std::uint32_t i = 0; i < messages; ++i)
    {
        const std::string text = TakeText(in);
        const std::string caption = TakeText(in);
        ReportMessage(text.c_str(), caption.c_str());
    }
    if (!read)
        return false;
    const std::uint32_t vertices = in.U32();
    const unsigned char* p = in.Take(std::uint64_t(vertices) * 12);
    KV_List<KV_Vector3D>& list = surface.Vertices();
    list.SetCount(vertices);
    for (std::uint32_t i = 0; i < vertices; ++i, p += 12)
        list[i] = KV_Vector3D(KV_LoadF32(p), KV_LoadF32(p + 4), KV_LoadF32(p + 8));
    TakePolygons(in, surface.Polygons(), stop);
    if (in.U8() != 0)
    {
        const std::uint32_t coordinates = in.U32();
        p = in.Take(std::uint64_t(coordinates) * 8);
        KV_List<KV_Vector2D>& uv = KV_Ensure(surface.mpTextureCoordinates, 1024);
        uv.SetCount(coordinates);
        for (std::uint32_t i = 0; i < coordinates; ++i, p += 8)
            uv[i] = KV_Vector2D(KV_LoadF32(p), KV_LoadF32(p + 4));
        TakePolygons(in, KV_Ensure(surface.mpTexturePolygons, 1024), stop);
        surface.mpTextureMap = TakeImage(in).release();
    }
    TakeAppearance(in, surface, appearance);
    return true;
}

}  // namespace

// The hand-back: its size, then the packed result, then (when read) the table.
std::vector<unsigned char> KV_EncodeImport(bool read, const std::string& reason,
                                           const std::string& format,
                                           const KV_ImportMessages& messages,
                                           const KV_TexturedPolySurface& surface,
                                           const KV_SurfaceAppearance* appearance)
{
    auto pack = [&](Packer& out)
    {
        Pack(out, read, reason, format, messages, surface);
        if (read)
            PackAppearance(out, appearance);
    };
    Packer count(nullptr);
    pack(count);
    Bytes out(kImportSizeBytes + count.Size());
    for (std::size_t i = 0; i < kImportSizeBytes; ++i)
        out[i] = static_cast<unsigned char>(std::uint64_t(count.Size()) >> (8 * i));
    Packer fill(out.data() + kImportSizeBytes);
    pack(fill);
    return out;
}

std::uint64_t KV_ImportBlockSize(const unsigned char* head)
{
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < kImportSizeBytes; ++i) size |= std::uint64_t(head[i]) << (8 * i);
    return size;
}

bool KV_DecodeImport(const unsigned char* data, std::size_t size, std::string& reason,
                     std::string& format, KV_TexturedPolySurface& surface,
                     KV_SurfaceAppearance* appearance, const std::atomic<bool>* stop)
{
    KV_ByteCursor in(data, size);
    try
    {
        return Decode(in, reason, format, surface, appearance, stop);
    }
    catch (const KV_StopSeen&)
    {
        reason = "stopped";
    }
    catch (const KV_ShortRead&)
    {
        reason = "the import ended before it handed the whole surface back";
    }
    catch (const KV_BadFile&)
    {
        reason = "the import handed back a surface whose parts do not fit together";
    }
    catch (const std::bad_alloc&)
    {
        reason = "not enough memory for the surface the import handed back";
    }
    return false;
}
