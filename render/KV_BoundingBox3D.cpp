#include "render/KV_BoundingBox3D.h"

#include "foundation/KV_Dump.h"

#include <algorithm>
#include <cmath>

void KV_BoundingBox3D::Set(float xLo, float xHi, float yLo, float yHi, float zLo, float zHi)
{
    mrXLo = xLo;
    mrXHi = xHi;
    mrYLo = yLo;
    mrYHi = yHi;
    mrZLo = zLo;
    mrZHi = zHi;
}

KV_Vector3D KV_BoundingBox3D::GetCentre() const
{
    return KV_Vector3D((mrXLo + mrXHi) / 2.0f, (mrYLo + mrYHi) / 2.0f, (mrZLo + mrZHi) / 2.0f);
}

void KV_BoundingBox3D::Union(const KV_BoundingBox3D& other)
{
    mrXLo = std::min(mrXLo, other.mrXLo);
    mrXHi = std::max(mrXHi, other.mrXHi);
    mrYLo = std::min(mrYLo, other.mrYLo);
    mrYHi = std::max(mrYHi, other.mrYHi);
    mrZLo = std::min(mrZLo, other.mrZLo);
    mrZHi = std::max(mrZHi, other.mrZHi);
}

float KV_BoundingBox3D::DiagonalLength() const
{
    const double dx = static_cast<double>(mrXHi) - mrXLo;
    const double dy = static_cast<double>(mrYHi) - mrYLo;
    const double dz = static_cast<double>(mrZHi) - mrZLo;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
}

KV_Vector3D KV_BoundingBox3D::Corner(int k) const
{
    return KV_Vector3D((k & 1) ? mrXHi : mrXLo, (k & 2) ? mrYHi : mrYLo, (k & 4) ? mrZHi : mrZLo);
}

void KV_BoundingBox3D::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_BoundingBox3D");
    KV_DumpMember(os, "mrXLo", mrXLo);
    KV_DumpMember(os, "mrXHi", mrXHi);
    KV_DumpMember(os, "mrYLo", mrYLo);
    KV_DumpMember(os, "mrYHi", mrYHi);
    KV_DumpMember(os, "mrZLo", mrZLo);
    KV_DumpMember(os, "mrZHi", mrZHi);
}
