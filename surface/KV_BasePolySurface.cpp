#include "surface/KV_BasePolySurface.h"

#include "surface/KV_SurfaceTopology.h"

#include <iomanip>
#include <vector>

namespace topology = KV_SurfaceTopology;

namespace
{
// Marks of the polygon indices in a removal list; indices beyond count are ignored.
std::vector<char> PolygonMarks(const KV_List<unsigned int>& indices, unsigned int count)
{
    std::vector<char> marked(count, 0);
    for (unsigned int k = 0; k < indices.Count(); ++k)
        if (indices[k] < count)
            marked[indices[k]] = 1;
    return marked;
}
}  // namespace

KV_BasePolySurface::KV_BasePolySurface(const KV_BasePolySurface& other)
{
    *this = other;
}

KV_BasePolySurface& KV_BasePolySurface::operator=(const KV_BasePolySurface& other)
{
    if (&other == this)
        return *this;
    Clear();
    mpVertices = KV_CopyOf(other.mpVertices);
    mpPolygons = KV_CopyOf(other.mpPolygons);
    mpVertexVertices = KV_CopyOf(other.mpVertexVertices);
    mpVertexPolygons = KV_CopyOf(other.mpVertexPolygons);
    mpPolygonPolygons = KV_CopyOf(other.mpPolygonPolygons);
    return *this;
}

KV_BasePolySurface::~KV_BasePolySurface()
{
    KV_BasePolySurface::Clear();
}

KV_List<KV_Vector3D>& KV_BasePolySurface::Vertices()
{
    return KV_Ensure(mpVertices, 1024);
}

KV_List<KV_Polygon>& KV_BasePolySurface::Polygons()
{
    return KV_Ensure(mpPolygons, 1024);
}

void KV_BasePolySurface::Clear()
{
    KV_Release(mpVertices);
    KV_Release(mpPolygons);
    ClearDerived();
}

void KV_BasePolySurface::ClearDerived()
{
    KV_Release(mpVertexVertices);
    KV_Release(mpVertexPolygons);
    KV_Release(mpPolygonPolygons);
}

void KV_BasePolySurface::Dump(std::ostream& os)
{
    KV_List<KV_Vector3D>& vertices = Vertices();
    KV_List<KV_Polygon>& polygons = Polygons();
    os << "BasePolySurface: " << vertices.Count() << " vertices " << polygons.Count() << " faces "
       << std::endl;
    os << "Vertices:" << std::endl;
    for (unsigned int i = 0; i < vertices.Count(); ++i)
    {
        const KV_Vector3D& v = vertices[i];
        os << std::setw(5) << i << ": (" << v.x << "," << v.y << "," << v.z << ")" << std::endl;
    }
    os << "Faces: " << std::endl;
    for (unsigned int i = 0; i < polygons.Count(); ++i)
    {
        const KV_PolygonView& polygon = polygons[i];
        os << std::setw(5) << i << ": (";
        for (unsigned int k = 0; k < polygon.Count(); ++k) os << (k ? "," : "") << polygon[k];
        os << ")" << std::endl;
    }
    os << std::endl;
}

bool KV_BasePolySurface::IsValid(unsigned int maximumPolygonSize)
{
    const unsigned int vertexCount = VertexCount();
    for (unsigned int i = 0; i < PolygonCount(); ++i)
    {
        const KV_PolygonView& polygon = (*mpPolygons)[i];
        if (polygon.Count() > maximumPolygonSize)
            return false;
        for (unsigned int k = 0; k < polygon.Count(); ++k)
            if (polygon[k] >= vertexCount)
                return false;
    }
    return true;
}

void KV_BasePolySurface::ComputeVertexPolygons()
{
    topology::VertexPolygons(VertexCount(), mpPolygons, KV_Ensure(mpVertexPolygons, 1024));
}

void KV_BasePolySurface::EnsureVertexPolygons()
{
    if (mpVertexPolygons == nullptr || mpVertexPolygons->Count() != VertexCount())
        ComputeVertexPolygons();
}

void KV_BasePolySurface::ComputeVertexVertices()
{
    KV_List<KV_List<unsigned int>>& result = KV_Ensure(mpVertexVertices, 1024);
    if (mpVertexPolygons)
    {
        topology::VertexVerticesFromPolygons(VertexCount(), mpPolygons, *mpVertexPolygons, result);
        return;
    }
    KV_List<KV_Edge> edges(16);
    KV_List<KV_List<unsigned int>> vertexEdges(16);
    topology::Edges(VertexCount(), mpPolygons, &edges, nullptr);
    topology::VertexEdges(VertexCount(), edges, vertexEdges);
    topology::VertexVerticesFromEdges(VertexCount(), edges, vertexEdges, result);
}

void KV_BasePolySurface::ComputePolygonPolygons()
{
    KV_List<KV_List<unsigned int>>& result = KV_Ensure(mpPolygonPolygons, 1024);
    if (mpVertexPolygons)
    {
        EnsureVertexPolygons();
        topology::PolygonPolygons(mpPolygons, *mpVertexPolygons, result);
    }
    else
    {
        topology::PolygonPolygons(
            mpPolygons, topology::CompactVertexPolygons(VertexCount(), mpPolygons), result);
    }
}

void KV_BasePolySurface::KeepPolygonsExcept(const KV_List<unsigned int>& polygons,
                                            unsigned int blockSize)
{
    if (mpPolygons == nullptr)
        return;
    const std::vector<char> removed = PolygonMarks(polygons, mpPolygons->Count());
    KV_List<KV_Polygon>* kept = new KV_List<KV_Polygon>(topology::BlockFor(blockSize));
    for (unsigned int i = 0; i < mpPolygons->Count(); ++i)
        if (!removed[i])
            kept->Append((*mpPolygons)[i]);
    delete mpPolygons;
    mpPolygons = kept;
}

void KV_BasePolySurface::RemovePolygonEntries(const KV_List<unsigned int>& polygons)
{
    KeepPolygonsExcept(polygons, 1024);
}

void KV_BasePolySurface::CompactVertices(KV_List<KV_Vector3D>** normals)
{
    const unsigned int vertexCount = VertexCount();
    const unsigned int kMissing = ~0u;
    std::vector<unsigned int> newIndex(vertexCount, kMissing);
    const bool normalsInStep = normals && *normals && (*normals)->Count() == vertexCount;
    if (normals && *normals && !normalsInStep)
        KV_Release(*normals);

    KV_List<KV_Vector3D>* vertices = new KV_List<KV_Vector3D>(1024);
    KV_List<KV_Vector3D>* keptNormals = normalsInStep ? new KV_List<KV_Vector3D>(1024) : nullptr;
    for (unsigned int v = 0; v < vertexCount; ++v)
    {
        if (v >= mpVertexPolygons->Count() || (*mpVertexPolygons)[v].Count() == 0)
            continue;
        newIndex[v] = vertices->Count();
        vertices->Append((*mpVertices)[v]);
        if (keptNormals)
            keptNormals->Append((**normals)[v]);
    }
    delete mpVertices;
    mpVertices = vertices;
    if (keptNormals)
    {
        delete *normals;
        *normals = keptNormals;
    }

    for (unsigned int i = 0; i < PolygonCount(); ++i)
    {
        KV_PolygonRef polygon = (*mpPolygons)[i];
        for (unsigned int k = 0; k < polygon.Count(); ++k)
            polygon[k] = polygon[k] < vertexCount ? newIndex[polygon[k]] : kMissing;
    }
}

void KV_BasePolySurface::RemovePolygons(const KV_List<unsigned int>& polygons)
{
    RemovePolygonEntries(polygons);
    ComputeVertexPolygons();
    CompactVertices(nullptr);
    // The vertex polygons were indexed by the old vertex numbers.
    ComputeVertexPolygons();
    KV_Release(mpVertexVertices);
    KV_Release(mpPolygonPolygons);
}

void KV_BasePolySurface::RemoveVertices(const KV_List<unsigned int>& vertices)
{
    EnsureVertexPolygons();
    std::vector<char> listed(PolygonCount(), 0);
    KV_List<unsigned int> polygons(1024);
    for (unsigned int k = 0; k < vertices.Count(); ++k)
    {
        if (vertices[k] >= mpVertexPolygons->Count())
            continue;
        const KV_IndexView around = (*mpVertexPolygons)[vertices[k]];
        for (unsigned int m = 0; m < around.Count(); ++m)
        {
            const unsigned int p = around[m];
            if (p < listed.size() && !listed[p])
            {
                listed[p] = 1;
                polygons.Append(p);
            }
        }
    }
    RemovePolygons(polygons);
}
