#pragma once
// KV_ObjReader: reads Wavefront OBJ files (and the MTL files they name) through tinyobjloader,
// in the calling process, into the surface the import library's path makes of them (see
// KV_MeshImporter): the same vertices, polygons, texture coordinates, texture polygons and
// picture, in the same order, with the same texture messages. Numbers are read correctly
// rounded, where the import library's own number reader can be one unit in the last place
// off. The texture files are decoded on a second thread while the geometry is read.
//
// Whatever it cannot make exactly the same, and every file the import library would refuse,
// it leaves to the importer: Read then returns false with the surface empty and nothing
// reported, and Deferral() says what it met. The importer then reads the file itself.

#include <string>

class KV_TexturedPolySurface;

class KV_ObjReader
{
public:
    explicit KV_ObjReader(KV_TexturedPolySurface& surface);
    KV_ObjReader(const KV_ObjReader&) = delete;
    KV_ObjReader& operator=(const KV_ObjReader&) = delete;

    // True when the file was read; its texture messages have then been reported.
    bool Read(const std::string& path);

    // Why the last Read left the file to the importer, in a few words.
    const std::string& Deferral() const { return mkDeferral; }

private:
    KV_TexturedPolySurface& mkSurface;
    std::string mkDeferral;
};
