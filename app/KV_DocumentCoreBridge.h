#pragma once
// What the windowed program says of a geometry and asks of the formats below it: the load
// summary, Save As, and the Open and Save As dialogs' filters.

#include <wx/string.h>


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
// The Open dialog's filters: all readable files first, then surface files (*.osf), then each
// format the importer reads.
wxString KV_OpenWildcard();
// The Save As dialog's filters, one per format written, glTF binary first.
wxString KV_SaveAsWildcard();
