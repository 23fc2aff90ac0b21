#include "vrml/KV_VRMLWriter.h"

#include "surface/KV_SurfaceExtents.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace
{

// Text output of the world. Lines are gathered in a buffer and written in large pieces: a
// million-triangle surface gives millions of short lines, and a write per line would cost
// more than the formatting. Close reports whether every byte reached the file.
class VrmlText
{
public:
    ~VrmlText()
    {
        if (mpFile != nullptr)
            std::fclose(mpFile);
    }

    bool Open(const KV_String& fileName)
    {
        mpFile = std::fopen(fileName.c_str(), "w");
        return mpFile != nullptr;
    }

    void Indent(int level)
    {
        for (int i = 0; i < level; ++i) Text("        ");
    }

    void Text(const char* text) { Put(text, std::strlen(text)); }
    void Text(const KV_String& text) { Put(text.c_str(), text.Count()); }

    // A real number as printf's %g of the float widened to double (six significant digits).
    void Real(float value)
    {
        char digits[32];
        const auto result =
            std::to_chars(digits, digits + sizeof digits, static_cast<double>(value),
                          std::chars_format::general, 6);
        Put(digits, static_cast<std::size_t>(result.ptr - digits));
    }

    void Index(unsigned int value)
    {
        char digits[16];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        Put(digits, static_cast<std::size_t>(result.ptr - digits));
    }

    void EndLine() { Put("\n", 1); }

    // Writes what is buffered and closes the file; false when any write failed.
    bool Close()
    {
        bool ok = Drain();
        if (std::fclose(mpFile) != 0)
            ok = false;
        mpFile = nullptr;
        return ok && mbOk;
    }

private:
    void Put(const char* text, std::size_t count)
    {
        if (munUsed + count > sizeof mkBuffer)
            Drain();
        if (count > sizeof mkBuffer)
        {
            if (std::fwrite(text, 1, count, mpFile) != count)
                mbOk = false;
            return;
        }
        std::memcpy(mkBuffer + munUsed, text, count);
        munUsed += count;
    }

    bool Drain()
    {
        if (munUsed != 0 && std::fwrite(mkBuffer, 1, munUsed, mpFile) != munUsed)
            mbOk = false;
        munUsed = 0;
        return mbOk;
    }

    std::FILE* mpFile = nullptr;
    char mkBuffer[1 << 16];
    std::size_t munUsed = 0;
    bool mbOk = true;
};

// One indexed list per line: "i j k -1", with a comma after every line but the last.
void WriteIndexLines(VrmlText& out, int level, const KV_List<KV_Polygon>* list)
{
    if (list == nullptr)
        return;
    const KV_List<KV_Polygon>& polygons = *list;
    const unsigned int count = polygons.Count();
    for (unsigned int i = 0; i < count; ++i)
    {
        const KV_PolygonView& polygon = polygons[i];
        out.Indent(level);
        for (unsigned int j = 0; j < polygon.Count(); ++j)
        {
            out.Index(polygon[j]);
            out.Text(" ");
        }
        out.Text(i + 1 < count ? "-1," : "-1");
        out.EndLine();
    }
}

// A node holding a point list, one point per line with a comma after every line but the
// last: "<header>", "point [", the points one level further in, "]", "}".
template <typename T, typename WritePoint>
void WritePointNode(VrmlText& out, int level, const char* header, const KV_List<T>* list,
                    WritePoint writePoint)
{
    static const KV_List<T> empty(16);
    const KV_List<T>& points = list != nullptr ? *list : empty;
    out.Indent(level);
    out.Text(header);
    out.EndLine();
    out.Indent(level + 1);
    out.Text("point [");
    out.EndLine();
    const unsigned int count = points.Count();
    for (unsigned int i = 0; i < count; ++i)
    {
        out.Indent(level + 2);
        writePoint(points[i]);
        if (i + 1 < count)
            out.Text(",");
        out.EndLine();
    }
    out.Indent(level + 1);
    out.Text("]");
    out.EndLine();
    out.Indent(level);
    out.Text("}");
    out.EndLine();
}

struct Viewpoint
{
    const char* name;
    KV_Vector3D position;
    float axisX, axisY, axisZ, angle;
};

const float kPi = 3.1415927f;
const float kHalfPi = 1.5707964f;
const float kFieldOfView = 0.5f;

}  // namespace

KV_VRMLWriter::KV_VRMLWriter(KV_List<KV_ManifoldPolySurface>* surfaces) : mpkSurfaces(surfaces) {}

bool KV_VRMLWriter::Export(const KV_String& fileName, int index)
{
    if (mpkSurfaces == nullptr || index < 0 ||
        static_cast<unsigned int>(index) >= mpkSurfaces->Count())
        return false;
    // Written from the list's own surface: a copy of a surface of millions of triangles
    // would double the memory the export needs.
    return ExportSurface(fileName, (*mpkSurfaces)[static_cast<unsigned int>(index)]);
}

bool KV_VRMLWriter::ExportSurface(const KV_String& fileName, const KV_PolySurface& surface)
{
    // Absent lists are read as empty ones.
    const bool textured = surface.HasTextureMap();
    int indent = 0;

    VrmlText out;
    if (!out.Open(fileName))
        return false;

    auto line = [&out, &indent](int offset, const char* text)
    {
        out.Indent(indent + offset);
        out.Text(text);
        out.EndLine();
    };

    indent = 0;
    line(0, "#VRML V2.0 utf8");
    line(0, "");
    line(0, "DEF Halcyne_object Transform {");
    line(1, "children [");
    line(2, "Shape {");
    indent = 3;

    if (textured)
    {
        line(0, "appearance Appearance {");
        line(1, "texture ImageTexture {");
        out.Indent(indent + 2);
        out.Text("url \"");
        out.Text(fileName.FileTitle());
        out.Text(".gif\"");
        out.EndLine();
        line(2, "repeatS FALSE");
        line(2, "repeatT FALSE");
        line(1, "}");
        line(0, "}");
    }

    line(0, "geometry IndexedFaceSet {");
    line(1, "ccw TRUE");
    line(1, "solid FALSE");
    line(1, "convex TRUE");
    line(1, "creaseAngle 1.57");
    indent = 4;

    WritePointNode(out, indent, "coord Coordinate {", surface.mpVertices,
                   [&out](const KV_Vector3D& v)
                   {
                       out.Real(v.x);
                       out.Text(" ");
                       out.Real(v.y);
                       out.Text(" ");
                       out.Real(v.z);
                   });

    line(0, "coordIndex [");
    WriteIndexLines(out, indent + 1, surface.mpPolygons);
    line(0, "]");

    if (textured)
    {
        WritePointNode(out, indent, "texCoord TextureCoordinate {", surface.mpTextureCoordinates,
                       [&out](const KV_Vector2D& t)
                       {
                           out.Real(t.u);
                           out.Text(" ");
                           out.Real(t.v);
                       });
        line(0, "texCoordIndex [");
        WriteIndexLines(out, indent + 1, surface.mpTexturePolygons);
        line(0, "]");

        // The url names the .gif whichever file the image ends up in.
        if (!surface.mpTextureMap->Save(fileName.ReplaceExtension("gif")))
            surface.mpTextureMap->Save(fileName.ReplaceExtension("bmp"));
    }

    indent = 0;
    line(3, "}");
    line(2, "}");
    line(1, "]");
    line(0, "}");

    if (surface.PolygonCount() > 0)
    {
        // Extents computed afresh, whatever the surface holds.
        KV_SurfaceExtents extents;
        extents.Compute(surface.mpVertices, surface.mpPolygons);
        const KV_Vector3D& lo = extents.Minimum();
        const KV_Vector3D& hi = extents.Maximum();
        const KV_Vector3D ctr((lo.x + hi.x) / 2.0f, (lo.y + hi.y) / 2.0f, (lo.z + hi.z) / 2.0f);
        // Each camera stands on an axis through the box centre, four times the centre's
        // distance to the box face beyond that face.
        const Viewpoint viewpoints[] = {
            {"Front", KV_Vector3D(ctr.x, ctr.y, hi.z + 4.0f * (hi.z - ctr.z)), 0, 0, 0, kPi},
            {"Back", KV_Vector3D(ctr.x, ctr.y, lo.z + 4.0f * (lo.z - ctr.z)), 0, 1, 0, kPi},
            {"Left", KV_Vector3D(lo.x + 4.0f * (lo.x - ctr.x), ctr.y, ctr.z), 0, 1, 0, -kHalfPi},
            {"Right", KV_Vector3D(hi.x + 4.0f * (hi.x - ctr.x), ctr.y, ctr.z), 0, 1, 0, kHalfPi},
            {"Top", KV_Vector3D(ctr.x, hi.y + 4.0f * (hi.y - ctr.y), ctr.z), 1, 0, 0, -kHalfPi},
            {"Bottom", KV_Vector3D(ctr.x, lo.y + 4.0f * (lo.y - ctr.y), ctr.z), 1, 0, 0, kHalfPi},
        };
        for (const Viewpoint& view : viewpoints)
        {
            out.Text("DEF Halcyne_Camera_");
            out.Text(view.name);
            out.Text(" Viewpoint {");
            out.EndLine();
            out.Indent(1);
            out.Text("position ");
            out.Real(view.position.x);
            out.Text(" ");
            out.Real(view.position.y);
            out.Text(" ");
            out.Real(view.position.z);
            out.EndLine();
            out.Indent(1);
            out.Text("orientation ");
            out.Real(view.axisX);
            out.Text(" ");
            out.Real(view.axisY);
            out.Text(" ");
            out.Real(view.axisZ);
            out.Text(" ");
            out.Real(view.angle);
            out.EndLine();
            out.Indent(1);
            out.Text("fieldOfView ");
            out.Real(kFieldOfView);
            out.EndLine();
            out.Indent(1);
            out.Text("description \"Halcyne ");
            out.Text(view.name);
            out.Text("\"");
            out.EndLine();
            out.Text("}");
            out.EndLine();
        }
    }

    return out.Close();
}
