#include "meshfile/KV_MaterialTextures.h"

#include "foundation/KV_Report.h"

#include <algorithm>
#include <cstring>

namespace
{

// Packs the loaded textures side by side along one row (bottoms aligned) and sets each one's
// coordinate mapping.
KV_MultiImage* PackTextures(const std::vector<KV_MaterialTexture*>& textures)
{
    int width = 0, height = 0;
    for (KV_MaterialTexture* t : textures)
    {
        width += t->image->Cols();
        height = std::max(height, t->image->Rows());
    }
    auto packed = std::make_unique<KV_Image<KV_RGB8>>(height, width);
    int left = 0;
    for (KV_MaterialTexture* t : textures)
    {
        const KV_Image<KV_RGB8>& image = t->image->GetColourImage();
        for (int r = 0; r < image.Rows(); ++r)
            std::memcpy(packed->Row(r) + left, image.Row(r), sizeof(KV_RGB8) * image.Cols());
        t->uScale = static_cast<float>(image.Cols()) / static_cast<float>(width);
        t->uOffset = static_cast<float>(left) / static_cast<float>(width);
        t->vScale = static_cast<float>(image.Rows()) / static_cast<float>(height);
        t->vOffset = 0.0f;
        left += image.Cols();
    }
    auto* map = new KV_MultiImage();
    map->SetImage(packed.release());
    return map;
}

}  // namespace

std::vector<KV_MaterialTexture*> KV_KeepTextures(const std::string& modelPath,
                                                 const std::vector<KV_MaterialTexture*>& loaded,
                                                 KV_MultiImage*& map)
{
    map = nullptr;
    std::vector<KV_MaterialTexture*> kept = loaded;
    bool pack = std::all_of(loaded.begin(), loaded.end(),
                            [](const KV_MaterialTexture* t) { return t->inUnitSquare; });
    // The packed row must stay within what a texture may be wide.
    int packedWidth = 0;
    for (const KV_MaterialTexture* t : loaded) packedWidth += t->image->Cols();
    pack = pack && packedWidth <= 16384;
    if (kept.size() > 1 && !pack)
    {
        KV_MaterialTexture* most =
            *std::max_element(kept.begin(), kept.end(),
                              [](const KV_MaterialTexture* a, const KV_MaterialTexture* b)
                              { return a->polygons < b->polygons; });
        std::string dropped;
        for (KV_MaterialTexture* t : kept)
            if (t != most)
                dropped += (dropped.empty() ? "" : ", ") + t->name;
        ReportMessage(("The materials of " + modelPath + " use " + std::to_string(kept.size()) +
                       " textures that cannot share one image (coordinates outside the unit "
                       "square, or too wide side by side). Kept " +
                       most->name + " (" + std::to_string(most->polygons) +
                       " polygons); left out: " + dropped + ".")
                          .c_str(),
                      "Textures left out");
        kept.assign(1, most);
    }
    if (kept.size() == 1)
        map = kept[0]->image.release();  // a picture of millions of pixels moves
    else if (kept.size() > 1)
        map = PackTextures(kept);
    return kept;
}
