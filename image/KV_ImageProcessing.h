#pragma once
// Small image-processing operations on KV_Image.

#include "image/KV_Image.h"

// Makes colour from three grey channels: colour(r, c) = (red(r, c), green(r, c), blue(r, c)).
// colour is first resized to red's size if it differs. When green or blue differs in size
// from red, the message "ImageProcessing" / "Image Channels are not of the same size" is shown
// and the result is false (colour keeps its new size and black pixels).
bool CombineChannels(const KV_Image<unsigned char>& red, const KV_Image<unsigned char>& green,
                     const KV_Image<unsigned char>& blue, KV_Image<KV_RGB8>& colour);
