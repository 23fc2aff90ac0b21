#pragma once
// What the windowed program says of a geometry and asks of the formats below it: the load
// summary, Save As, and the Open and Save As dialogs' filters.

#include <wx/string.h>

#include <vector>


class KV_PolySurfaceGeometry3D;
struct KV_SurfaceReadReport;

// "1 vertex", "2 vertices": a count and its noun, singular for one only.
wxString KV_CountOf(unsigned long count, const char* one, const char* many);
// "N vertices, M polygons, W x H texture" (or "no texture") of a loaded geometry, singular
// nouns for counts of one; M counts the polygons as read when report is given, else the
// triangles.
wxString KV_LoadSummary(const KV_PolySurfaceGeometry3D& geometry,
                        const KV_SurfaceReadReport* report);
// Writes the geometry's surface in the format path's extension names (glb, gltf, obj, ply,
// stl, osf); false with the reason in error when it cannot.
bool KV_SaveGeometryAs(const KV_PolySurfaceGeometry3D& geometry, const wxString& path,
                       wxString& error);
// Writes only the polygons selected (increasing indices into the geometry's polygon list)
// as KV_SaveGeometryAs writes the whole surface: the vertices they use, their texture
// coordinates and the texture. What a model file carried beside the surface (materials,
// colours) is left out, being tied to the whole surface's counts.
bool KV_SaveSelectionAs(const KV_PolySurfaceGeometry3D& geometry,
                        const std::vector<unsigned int>& selected, const wxString& path,
                        wxString& error);
// The Open dialog's filters: all readable files first, then surface files (*.osf), then each
// format the importer reads.
wxString KV_OpenWildcard();
// The Save As dialog's filters, one per format written, glTF binary first.
wxString KV_SaveAsWildcard();
