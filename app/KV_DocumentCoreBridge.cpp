#include "app/KV_DocumentCoreBridge.h"

#include "document/KV_DocumentCore.h"
#include "meshfile/KV_MeshExporter.h"
#include "meshfile/KV_MeshImporter.h"
#include "render/KV_PolySurfaceGeometry3D.h"

#include <new>

namespace
{
// The format a Save As path names by its extension; None, with the message, for any other.
KV_MeshFormat SaveFormat(const std::string& file, wxString& error)
{
    const KV_MeshFormat format = KV_MeshExporter::FormatOfPath(file);
    if (format == KV_MeshFormat::None)
        error = "Give the file one of the extensions glb, gltf, obj, ply, stl or osf.";
    return format;
}
}  // namespace

bool KV_SaveGeometryAs(const KV_PolySurfaceGeometry3D& geometry, const wxString& path,
                       wxString& error)
{
    const std::string file(path.fn_str());
    const KV_MeshFormat format = SaveFormat(file, error);
    if (format == KV_MeshFormat::None)
        return false;
    std::string reason;
    if (KV_MeshExporter::Write(geometry.GetSurface(), file, format, reason, &geometry.Appearance()))
        return true;
    error = wxString::FromUTF8(reason.c_str());
    return false;
}

bool KV_SaveSelectionAs(const KV_PolySurfaceGeometry3D& geometry,
                        const std::vector<unsigned int>& selected, const wxString& path,
                        wxString& error)
{
    const std::string file(path.fn_str());
    const KV_MeshFormat format = SaveFormat(file, error);
    if (format == KV_MeshFormat::None)
        return false;
    std::string reason;
    try
    {
        KV_PolySurface part(geometry.GetSurface());
        // Every polygon not selected goes, and the vertices only they used.
        KV_List<unsigned int> others(1024);
        std::size_t next = 0;
        for (unsigned int i = 0; i < part.PolygonCount(); ++i)
        {
            while (next < selected.size() && selected[next] < i)
                ++next;
            if (next == selected.size() || selected[next] != i)
                others.Append(i);
        }
        part.RemovePolygons(others);
        if (KV_MeshExporter::Write(part, file, format, reason))
            return true;
    }
    catch (const std::bad_alloc&)
    {
        reason = "Not enough memory to copy the selected polygons.";
    }
    error = wxString::FromUTF8(reason.c_str());
    return false;
}

wxString KV_OpenWildcard()
{
    const std::vector<KV_MeshImporter::FormatInfo> formats = KV_MeshImporter::ReadableFormats();
    wxString all = "*.osf";
    wxString each;
    for (const KV_MeshImporter::FormatInfo& format : formats)
    {
        wxString patterns;
        for (const std::string& extension : format.extensions)
        {
            patterns += (patterns.empty() ? "*." : ";*.") + wxString::FromUTF8(extension.c_str());
            all += ";*." + wxString::FromUTF8(extension.c_str());
        }
        each += "|" + wxString::FromUTF8(format.name.c_str()) + " (" + patterns + ")|" + patterns;
    }
    return "All supported surfaces|" + all + "|Orvane Surface Files (*.osf)|*.osf" + each;
}

wxString KV_SaveAsWildcard()
{
    return "glTF 2.0 binary (*.glb)|*.glb|glTF 2.0 (*.gltf)|*.gltf|Wavefront OBJ (*.obj)|*.obj|"
           "PLY, binary (*.ply)|*.ply|STL, binary (*.stl)|*.stl|Orvane Surface Files (*.osf)|*.osf";
}

wxString KV_CountOf(unsigned long count, const char* one, const char* many)
{
    return wxString::Format("%lu %s", count, count == 1 ? one : many);
}

wxString KV_LoadSummary(const KV_PolySurfaceGeometry3D& geometry,
                        const KV_SurfaceReadReport* report)
{
    // Counts and texture only: no need to wait for the lists finished after the first frame.
    const KV_PolySurface& surface = geometry.DrawingSurface();
    const unsigned int polygons = report ? report->munPolygonsAsRead : surface.PolygonCount();
    wxString text = KV_CountOf(surface.VertexCount(), "vertex", "vertices") + ", " +
                    KV_CountOf(polygons, "polygon", "polygons") + ", ";
    if (surface.HasTextureMap())
        text += wxString::Format("%d x %d texture", surface.mpTextureMap->Cols(),
                                 surface.mpTextureMap->Rows());
    else
        text += "no texture";
    return text;
}

