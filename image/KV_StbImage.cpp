// The one translation unit that holds stb_image's implementation, built without warnings
// (the header is not ours to change). PNG and JPEG have their own decoders.
// Hidden from shared libraries: one of the same program that uses stb itself (tinygltf)
// must not bind to this copy, which is built without PNG and JPEG.
#define STBIDEF extern __attribute__((visibility("hidden")))
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_NO_PNG
#define STBI_NO_JPEG
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#include <stb/stb_image.h>
