#pragma once
// KV_Geometry3D: something the scene draws, owned by the document: its data, its model
// transform and its material. Actors observe a geometry (attached as observers) and do the
// drawing. Every geometry gets the next number of a program-wide counter, starting at 0 and
// never reused; the renderer keys its actors by it.

#include "render/KV_BoundingBox3D.h"
#include "render/KV_Material.h"
#include "render/KV_OGLTransform.h"
#include "render/KV_SubjectObserver.h"

#include <atomic>

class KV_Actor3D;

class KV_Geometry3D : public KV_Subject
{
public:
    KV_Geometry3D();
    ~KV_Geometry3D() override = default;
    // A geometry is one numbered thing; copies would share its number.
    KV_Geometry3D(const KV_Geometry3D&) = delete;
    KV_Geometry3D& operator=(const KV_Geometry3D&) = delete;

    virtual bool IsSelected() const { return mbIsSelected; }
    virtual void SetSelected(bool selected) { mbIsSelected = selected; }
    virtual KV_OGLTransform& GetTransform() { return mkTransform; }
    // Copies the matrix only.
    virtual void SetTransform(const KV_OGLTransform& transform);
    // The box of the geometry as transformed by mkTransform.
    virtual KV_BoundingBox3D GetBoundingBox() const = 0;
    // The centre about which the view turns the geometry (untransformed).
    virtual KV_Vector3D GetCentre() const = 0;
    // A new actor for this geometry, attached to it as an observer; the caller owns it.
    virtual KV_Actor3D* CreateActor() = 0;
    virtual void Dump(std::ostream& os) const;

    bool mbIsSelected;
    const unsigned int munID;
    KV_OGLTransform mkTransform;
    KV_Material mkMaterial;

    // The next geometry's number (geometries are made on load workers too).
    static std::atomic<unsigned int> munIDCounter;
    // The material of selected polygons, shared by every geometry; its ambient colour is
    // also the colour of every outline the actors draw.
    static KV_Material mkSelectedMaterial;
};
