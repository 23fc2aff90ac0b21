#pragma once
// The textures of a model's materials, shared by the model readers: a texture file found
// beside the model (the path as written, then its file name in the model's folder in any
// letter case) and decoded, and the choice between packing several textures into one image
// and keeping the one that covers most polygons.

#include "image/KV_MultiImage.h"

#include <memory>
#include <string>
#include <vector>

// One textured material's picture and the polygons that use it.
struct KV_MaterialTexture
{
    std::string name;  // as the material names it
    std::unique_ptr<KV_MultiImage> image = std::make_unique<KV_MultiImage>();
    bool loaded = false;
    unsigned long polygons = 0;
    bool inUnitSquare = true;
    // Where its coordinates go in the packed image: u' = u * scale + offset.
    float uScale = 1.0f, uOffset = 0.0f, vScale = 1.0f, vOffset = 0.0f;
};

// A message for the user: its text and its caption.
struct KV_TextureMessage
{
    std::string text;
    std::string caption;
};

// Finds and decodes the texture file the material names for the model at modelPath. Reports
// nothing itself (it may run on another thread): on failure, failure holds the message that
// names the file and the places tried.
bool KV_LoadTextureFile(const std::string& modelPath, KV_MaterialTexture& texture,
                        KV_TextureMessage& failure);

// The textures the surface keeps, of the loaded ones (in material order): all of them packed
// side by side into one image when all their coordinates lie in the unit square and the row
// fits; otherwise the one covering most polygons, with a message naming those left out.
// map receives the surface's picture (none when nothing was loaded); each kept texture's
// scale and offset say where its coordinates go when there are several.
std::vector<KV_MaterialTexture*> KV_KeepTextures(const std::string& modelPath,
                                                 const std::vector<KV_MaterialTexture*>& loaded,
                                                 KV_MultiImage*& map);
