#pragma once
// KV_BasePolySurface: the root of the polygon surface classes. It holds vertex positions,
// polygons indexing them, and the adjacency derived from them (vertex vertices, vertex
// polygons, polygon polygons).
//
// Every member is an owned pointer; null means absent, which differs from empty (the
// consistency checks and the recomputation rules test for presence). Members are public:
// the surface file reader fills a surface by appending to them (creating a list when it is
// absent), and the renderer and the VRML writer read them directly. Derived members are
// created by their compute operations and released by ClearDerived().
//
// Nothing here throws except a block list that cannot grow (KV_ListAllocError). Vertex
// indices at or beyond the vertex count are tolerated by every operation (IsValid and the
// consistency check report them); they never index outside a list.

#include "foundation/KV_List.h"
#include "math/KV_Vector3D.h"
#include "surface/KV_Polygon.h"

#include <ostream>

class KV_BasePolySurface
{
public:
    KV_BasePolySurface() = default;
    KV_BasePolySurface(const KV_BasePolySurface& other);
    // Clears this surface, then deep-copies every member present in other, keeping each
    // list's block size; absent members stay absent.
    KV_BasePolySurface& operator=(const KV_BasePolySurface& other);
    virtual ~KV_BasePolySurface();

    // Checks the stored data against freshly derived data, writing one line per step to
    // stderr; false at the first step that fails.
    virtual bool CheckConsistency();
    // Writes the vertex and polygon lists as text; creates them (empty) when absent.
    virtual void Dump(std::ostream& os);
    // Removes every polygon that uses a vertex of vertices, then the vertices left unused.
    virtual void RemoveVertices(const KV_List<unsigned int>& vertices);
    // Removes the polygons with the given indices, drops the vertices no polygon uses any
    // more and renumbers the rest. Out-of-range and repeated indices are ignored.
    virtual void RemovePolygons(const KV_List<unsigned int>& polygons);
    // Releases every member.
    virtual void Clear();
    // Removes the polygons with the given indices from the polygon list only.
    virtual void RemovePolygonEntries(const KV_List<unsigned int>& polygons);
    // False when a polygon has more than maximumPolygonSize vertices or names a vertex
    // beyond the vertex list; true without polygons.
    virtual bool IsValid(unsigned int maximumPolygonSize);
    // For each vertex its neighbours: all other vertices of its polygons when vertex
    // polygons are present, else the ends of its edges.
    virtual void ComputeVertexVertices();
    // Releases the derived members.
    virtual void ClearDerived();

    unsigned int VertexCount() const { return mpVertices ? mpVertices->Count() : 0; }
    unsigned int PolygonCount() const { return mpPolygons ? mpPolygons->Count() : 0; }
    // The vertex and polygon lists, created empty (block size 1024) when absent.
    KV_List<KV_Vector3D>& Vertices();
    KV_List<KV_Polygon>& Polygons();

    // For each vertex the polygons that use it (once per use), in polygon order.
    void ComputeVertexPolygons();
    // For each polygon the polygons sharing its edges, edge by edge.
    void ComputePolygonPolygons();

    KV_List<KV_Vector3D>* mpVertices = nullptr;
    KV_List<KV_Polygon>* mpPolygons = nullptr;
    KV_List<KV_List<unsigned int>>* mpVertexVertices = nullptr;
    KV_List<KV_List<unsigned int>>* mpVertexPolygons = nullptr;
    KV_List<KV_List<unsigned int>>* mpPolygonPolygons = nullptr;

protected:
    // Recomputes the stored vertex polygons when absent or not one per vertex.
    void EnsureVertexPolygons();
    // The polygon list with the entries of polygons removed (new block size blockSize).
    void KeepPolygonsExcept(const KV_List<unsigned int>& polygons, unsigned int blockSize);
    // Keeps only vertices that a polygon uses, in their order, and renumbers the polygons.
    // Requires current vertex polygons. When normals is present with one normal per old
    // vertex it is compacted in step; a normal list of any other length is released.
    void CompactVertices(KV_List<KV_Vector3D>** normals);
};

// Owned-pointer helpers shared by the surface classes.
template <typename T>
void KV_Release(T*& member)
{
    delete member;
    member = nullptr;
}

// A deep copy of source (null stays null), keeping the source's block size.
template <typename T>
T* KV_CopyOf(const T* source)
{
    return source ? new T(*source) : nullptr;
}

// member, created with the given block size when absent.
template <typename T>
T& KV_Ensure(T*& member, unsigned int blockSize)
{
    if (member == nullptr)
        member = new T(blockSize);
    return *member;
}
