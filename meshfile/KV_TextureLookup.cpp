#include "meshfile/KV_TextureLookup.h"

#include "image/KV_ImageReader.h"
#include "image/KV_MultiImage.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

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

}  // namespace

bool KV_ReadModelTexture(const std::string& modelPath, const std::string& name,
                         KV_MultiImage& image, std::string& message, std::string& caption,
                         const std::atomic<bool>* stop)
{
    std::string written = name;
    std::replace(written.begin(), written.end(), '\\', '/');
    const fs::path folder = fs::path(modelPath).parent_path();
    const fs::path asWritten =
        fs::path(written).is_absolute() ? fs::path(written) : folder / written;
    std::vector<std::string> tried;
    std::string error, decodeError;
    auto attempt = [&](const std::string& candidate)
    {
        tried.push_back(candidate);
        std::error_code code;
        if (!fs::is_regular_file(candidate, code))
            return false;
        if (KV_ImageReader::ReadFile(candidate, image, error, stop))
            return true;
        decodeError = candidate + ": " + error;
        return false;
    };
    bool loaded = attempt(asWritten.string());
    if (!loaded)
    {
        const std::string found =
            FindCaseInsensitive(folder, fs::path(written).filename().string());
        if (!found.empty() && found != asWritten.string())
            loaded = attempt(found);
        else if (found.empty())
            tried.push_back((folder / fs::path(written).filename()).string() +
                            " (any letter case)");
    }
    if (loaded)
        return true;
    if (stop != nullptr && stop->load(std::memory_order_relaxed))
    {
        message.clear();
        caption.clear();
        return false;
    }
    std::string places;
    for (const std::string& place : tried) places += (places.empty() ? "" : ", ") + place;
    if (!decodeError.empty())
    {
        message = "The texture " + name + " of " + modelPath + " cannot be decoded (" +
                  decodeError + "). The surface is shown without it.";
        caption = "Texture not loaded";
    }
    else
    {
        message = "The texture " + name + " of " + modelPath +
                  " was not found. Looked for: " + places + ". The surface is shown without it.";
        caption = "Texture not found";
    }
    return false;
}
