#include "meshfile/KV_MaterialTextures.h"

#include "image/KV_ImageReader.h"
#include "foundation/KV_Report.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace
{

// The file name of a texture in the model's folder in any letter case; empty when none.
std::string FindCaseInsensitive(const fs::path& folder, const std::string& name)
{
    std::string lowerName = name;
    for (char& c : lowerName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::error_code code;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, code), end;
         !code && it != end; it.increment(code))
    {
        std::string candidate = it->path().filename().string();
        std::string lower = candidate;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == lowerName)
            return it->path().string();
    }
    return std::string();
}

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

bool KV_LoadTextureFile(const std::string& modelPath, KV_MaterialTexture& texture,
                        KV_TextureMessage& failure)
{
    std::string error;
    std::string written = texture.name;
    std::replace(written.begin(), written.end(), '\\', '/');
    const fs::path folder = fs::path(modelPath).parent_path();
    const fs::path asWritten =
        fs::path(written).is_absolute() ? fs::path(written) : folder / written;
    std::vector<std::string> tried;
    std::string decodeError;
    auto attempt = [&](const std::string& candidate)
    {
        tried.push_back(candidate);
        std::error_code code;
        if (!fs::is_regular_file(candidate, code))
            return false;
        if (KV_ImageReader::ReadFile(candidate, *texture.image, error))
            return true;
        decodeError = candidate + ": " + error;
        return false;
    };
    texture.loaded = attempt(asWritten.string());
    if (!texture.loaded)
    {
        const std::string found =
            FindCaseInsensitive(folder, fs::path(written).filename().string());
        if (!found.empty() && found != asWritten.string())
            texture.loaded = attempt(found);
        else if (found.empty())
            tried.push_back((folder / fs::path(written).filename()).string() +
                            " (any letter case)");
    }
    if (texture.loaded)
        return true;
    std::string places;
    for (const std::string& place : tried) places += (places.empty() ? "" : ", ") + place;
    if (!decodeError.empty())
        failure = {"The texture " + texture.name + " of " + modelPath + " cannot be decoded (" +
                       decodeError + "). The surface is shown without it.",
                   "Texture not loaded"};
    else
        failure = {"The texture " + texture.name + " of " + modelPath +
                       " was not found. Looked for: " + places +
                       ". The surface is shown without it.",
                   "Texture not found"};
    return false;
}

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
