#pragma once
// The first texture coordinate set of every mesh primitive of a glTF 2.0 file (.gltf or .glb),
// exactly as the file stores it. The import library hands coordinates back with v already
// turned into 1 - v in single precision, which loses the low bits of every v below 0.5; the
// importer takes v from here instead, so that what a writer stored comes back bit for bit.
//
// Only what the file itself holds is read: a .glb's binary chunk, or a .gltf's buffers in
// files beside it. Everything read is checked against the file's size; nothing here throws.

#include <string>
#include <vector>

struct KV_GltfCoordinates
{
    // False when the file is not glTF 2.0 JSON (or a .glb around it) that can be parsed.
    bool mbParsed = false;
    // One entry per primitive, meshes in file order and each mesh's primitives in order:
    // u, v pairs as stored (v = 0 at the top of the picture), or empty where the primitive
    // has no TEXCOORD_0, its accessor is not plain floats, or its data cannot be reached.
    std::vector<std::vector<float>> mkPrimitives;
};

// Reads path as described above; at most maxValues floats in all are read.
KV_GltfCoordinates KV_ReadGltfCoordinates(const std::string& path, std::size_t maxValues);
