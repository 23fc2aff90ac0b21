#pragma once
// The image file writers behind KV_MultiImage::Save. Each writes one file, replacing any
// existing one, and returns true on success. Failures are shown as non-fatal messages with
// the text "MultiImage Error" and a title naming the file:
// - the file cannot be opened: nothing is written, the result is false;
// - the image is too large for the format's size fields: nothing is written, false;
// - the stream reports an error after writing (disk full and the like): false.

#include "image/KV_Image.h"

class KV_String;

// BMP: colour images as 24 bits per pixel, grey images as 8 bits per pixel with a grey
// palette; rows bottom-up, each padded to a multiple of 4 bytes.
bool KV_WriteBMP(const KV_Image<KV_RGB8>& image, const KV_String& fileName);
bool KV_WriteBMP(const KV_Image<unsigned char>& image, const KV_String& fileName);

// GIF89a, single frame, 256-entry global colour table; top row first. A colour image is
// reduced to at most 256 colours by the octree quantiser (KV_ColourMap); a grey image uses
// the grey ramp (i, i, i) and its values as indices. Image data is uncompressed: every pixel
// is a literal 9-bit code, with a clear code after every 100 pixels. Width and height must
// not pass 65535.
bool KV_WriteGIF(const KV_Image<KV_RGB8>& image, const KV_String& fileName);
bool KV_WriteGIF(const KV_Image<unsigned char>& image, const KV_String& fileName);
