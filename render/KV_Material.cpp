#include "render/KV_Material.h"

#include "foundation/KV_Dump.h"

#include <GL/gl.h>

namespace
{
void SendMaterial(GLenum face, const KV_OGLColour& ambient, const KV_OGLColour& diffuse,
                  const KV_OGLColour& specular, float shininess)
{
    glMaterialfv(face, GL_AMBIENT, ambient.Data());
    glMaterialfv(face, GL_DIFFUSE, diffuse.Data());
    glMaterialfv(face, GL_SPECULAR, specular.Data());
    glMaterialfv(face, GL_SHININESS, &shininess);
}

KV_OGLColour Dimmed(const KV_OGLColour& c)
{
    return KV_OGLColour(c.mrRed * 0.25f, c.mrGreen * 0.25f, c.mrBlue * 0.25f, c.mrAlpha);
}
}  // namespace

KV_Material::KV_Material()
    : meMaterialFaces(FRONT_AND_DIMMED_BACK),
      mkAmbient(0.2f, 0.2f, 0.2f, 1.0f),
      mkDiffuse(0.8f, 0.8f, 0.8f, 1.0f),
      mkSpecular(1.0f, 1.0f, 1.0f, 1.0f),
      mrShininess(25.0f)
{
}

KV_Material::KV_Material(int faces, const KV_OGLColour& ambient, const KV_OGLColour& diffuse,
                         const KV_OGLColour& specular, float shininess)
    : meMaterialFaces(faces),
      mkAmbient(ambient),
      mkDiffuse(diffuse),
      mkSpecular(specular),
      mrShininess(shininess)
{
}

void KV_Material::Apply() const
{
    switch (meMaterialFaces)
    {
        case FRONT:
            SendMaterial(GL_FRONT, mkAmbient, mkDiffuse, mkSpecular, mrShininess);
            break;
        case BACK:
            SendMaterial(GL_BACK, mkAmbient, mkDiffuse, mkSpecular, mrShininess);
            break;
        case FRONT_AND_BACK:
            SendMaterial(GL_FRONT_AND_BACK, mkAmbient, mkDiffuse, mkSpecular, mrShininess);
            break;
        case FRONT_AND_DIMMED_BACK:
            SendMaterial(GL_FRONT, mkAmbient, mkDiffuse, mkSpecular, mrShininess);
            SendMaterial(GL_BACK, Dimmed(mkAmbient), Dimmed(mkDiffuse), Dimmed(mkSpecular),
                         mrShininess * 0.25f);
            break;
        default:
            break;
    }
}

void KV_Material::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_Material");
    KV_DumpMember(os, "meMaterialFaces", meMaterialFaces);
    KV_DumpMemberName(os, "mkAmbient");
    mkAmbient.Dump(os);
    KV_DumpMemberName(os, "mkDiffuse");
    mkDiffuse.Dump(os);
    KV_DumpMemberName(os, "mkSpecular");
    mkSpecular.Dump(os);
    KV_DumpMember(os, "mrShininess", mrShininess);
}
