#pragma once
// KV_ReadModelTexture: finds and decodes the picture file a model names for its texture. The
// places tried, in order: the name as written (backslashes read as slashes; relative to the
// model's folder unless absolute), then its file name in the model's folder in any letter
// case. Every model reader looks for textures this way, so that one file is found (or
// missed) alike whichever reader opens the model.
//
// Returns true with the picture in image. Otherwise false with the message to show and its
// caption: "Texture not loaded" when a file was found but does not decode (with the
// decoder's reason), "Texture not found" naming every place tried. It shows nothing itself,
// so it may run on any thread. A decode stopped by the flag is false with no message.

#include <atomic>
#include <string>

class KV_MultiImage;

bool KV_ReadModelTexture(const std::string& modelPath, const std::string& name,
                         KV_MultiImage& image, std::string& message, std::string& caption,
                         const std::atomic<bool>* stop = nullptr);
