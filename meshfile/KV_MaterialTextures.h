#pragma once
// The textures of a model's materials, shared by the model readers that take several
// materials: each material's picture (found by KV_ReadModelTexture) and the polygons that use
// it, and the choice between packing several textures into one image and keeping the one
// that covers most polygons.

#include "image/KV_MultiImage.h"

#include <memory>
#include <string>
#include <vector>

// One textured material's picture and the polygons that use it.
struct KV_MaterialTexture
{
    std::string name;      // the picture's file, as the material names it
    std::string material;  // the name of the (first) material that uses it
    std::unique_ptr<KV_MultiImage> image = std::make_unique<KV_MultiImage>();
    bool loaded = false;
    unsigned long polygons = 0;
    bool inUnitSquare = true;
    // Where its coordinates go in the packed image: u' = u * scale + offset.
    float uScale = 1.0f, uOffset = 0.0f, vScale = 1.0f, vOffset = 0.0f;
};

// The textures the surface keeps, of the loaded ones (in material order): all of them packed
// side by side into one image when all their coordinates lie in the unit square and the row
// fits; otherwise the one covering most polygons, with a message naming those left out.
// map receives the surface's picture (none when nothing was loaded); each kept texture's
// scale and offset say where its coordinates go when there are several.
std::vector<KV_MaterialTexture*> KV_KeepTextures(const std::string& modelPath,
                                                 const std::vector<KV_MaterialTexture*>& loaded,
                                                 KV_MultiImage*& map);
