#pragma once
// The document's calls into the toolkit-free document core: loading and completing a
// surface file into a new geometry, deleting it, and exporting it as a VRML world.

#include <wx/string.h>

#include <memory>

class KV_PolySurfaceGeometry3D;
struct KV_SurfaceReadReport;

// A new geometry holding the completed surface of the file with its material, or null when
// the file does not load; then reason (when not null) says why in a few words. The caller
// owns the result. With report, what reading found is handed back there (also on failure).
KV_PolySurfaceGeometry3D* KV_LoadSurfaceGeometry(
    const wxString& path, wxString* reason = nullptr,
    std::shared_ptr<const KV_SurfaceReadReport>* report = nullptr);
// Why a load that read report failed, in a few words (empty when it did not fail).
wxString KV_LoadFailureReason(const KV_SurfaceReadReport& report);
// Deletes a geometry made by KV_LoadSurfaceGeometry; null is allowed.
void KV_DeleteGeometry(KV_PolySurfaceGeometry3D* geometry);
// Writes the geometry's surface as a VRML world with its texture beside it; false when the
// writer could not write the world.
bool KV_ExportGeometryVRML(const KV_PolySurfaceGeometry3D& geometry, const wxString& path);

// "N vertices, M polygons, W x H texture" (or "no texture") of a loaded geometry; M counts
// the polygons as read when report is given, else the triangles.
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
