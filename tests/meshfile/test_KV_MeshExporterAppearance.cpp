// The exporter with the model's table: every material's picture and polygons, vertex colours
// and the file's normals, read back by readers of other projects (tinygltf, tinyobjloader,
// the import library, libpng), and the pictures of several outputs kept apart.
#include "meshfile/KV_MeshExporter.h"
#include "surface/KV_PolySurface.h"
#include "surface/KV_SurfaceAppearance.h"
#include "tests/support/ReportRecorder.h"
#include "tests/support/ScratchPath.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiny_gltf.h>
#include <tiny_obj_loader.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace
{

// A picture as this program counts its rows: row 0 at the bottom (v = 0).
struct Picture
{
    int rows = 0, cols = 0;
    std::vector<unsigned char> rgb;
    bool operator==(const Picture& o) const
    {
        return rows == o.rows && cols == o.cols && rgb == o.rgb;
    }
};

struct Corner
{
    Corner(unsigned int index, float s, float t) : vertex(index), u(s), v(t) {}
    unsigned int vertex;
    float u, v;
    KV_Vector3D normal;
};

struct ExpectedPolygon
{
    std::string material;
    const Picture* picture;  // null: plain
    std::vector<Corner> corners;
};

// Three polygons side by side at z = 0; P0 shows the surface's own picture, P1 its own picture
// with tiled coordinates, P2 none. Vertices 1, 2, 4 and 5 take other coordinates or (with
// corner normals) other normals in each polygon they border: hard edges.
//
//   3 ---- 4 ---- 5
//   |  P0  |  P1  | \  P2
//   0 ---- 1 ---- 2 -- 6
struct Model
{
    KV_PolySurface surface;
    KV_SurfaceAppearance table;
    Picture own, other;
    std::vector<ExpectedPolygon> polygons;

    explicit Model(bool cornerNormals)
    {
        for (float x : {0.0f, 1.0f, 2.0f}) surface.Vertices().Append(KV_Vector3D(x, 0, 0));
        for (float x : {0.0f, 1.0f, 2.0f}) surface.Vertices().Append(KV_Vector3D(x, 1, 0));
        surface.Vertices().Append(KV_Vector3D(3, 0, 0));
        const KV_Vector3D n[3] = {{0, 0, 1}, {0, 0.6f, 0.8f}, {1, 0, 0}};
        polygons = {{"alpha", &own, {{0, 0, 0}, {1, 1, 0}, {4, 1, 1}, {3, 0, 1}}},
                    {"beta", &other, {{1, 0.25f, 0}, {2, 2, 0}, {5, 2, 3}, {4, 0.25f, 3}}},
                    {"plain", nullptr, {{2, 2, 0}, {6, 0.5f, 0.5f}, {5, 2, 3}}}};
        surface.mpTextureCoordinates = new KV_List<KV_Vector2D>(16);
        surface.mpTexturePolygons = new KV_List<KV_Polygon>(16);
        table.normals =
            cornerNormals ? std::vector<KV_Vector3D>(n, n + 3) : std::vector<KV_Vector3D>(7, n[1]);
        std::vector<unsigned int> coordinateVertex;
        for (std::size_t p = 0; p < polygons.size(); ++p)
        {
            KV_Polygon polygon, texture;
            for (Corner& c : polygons[p].corners)
            {
                polygon.Append(c.vertex);
                // A corner like an earlier one at its vertex shares its coordinate: P2's at
                // vertices 2 and 5 differ from P1's by their normals alone.
                unsigned int t = 0;
                while (t < surface.mpTextureCoordinates->Count() &&
                       !(coordinateVertex[t] == c.vertex &&
                         (*surface.mpTextureCoordinates)[t].u == c.u &&
                         (*surface.mpTextureCoordinates)[t].v == c.v))
                    ++t;
                if (t == surface.mpTextureCoordinates->Count())
                {
                    surface.mpTextureCoordinates->Append(KV_Vector2D(c.u, c.v));
                    coordinateVertex.push_back(c.vertex);
                }
                texture.Append(t);
                c.normal = cornerNormals ? n[p] : n[1];
                if (cornerNormals)
                    table.cornerNormals.push_back(static_cast<std::uint32_t>(p));
            }
            surface.Polygons().Append(polygon);
            surface.mpTexturePolygons->Append(texture);
        }
        if (!cornerNormals)  // one normal per vertex, each the same in all its polygons
            for (ExpectedPolygon& p : polygons)
                for (Corner& c : p.corners)
                    c.normal = table.normals[c.vertex] =
                        c.vertex % 2 ? KV_Vector3D(0, 0.6f, 0.8f) : KV_Vector3D(0.8f, 0, 0.6f);
        // Colour 2 x 3, grey 4 x 2: no symmetry that would hide a flipped or turned picture.
        auto colour = std::make_unique<KV_Image<KV_RGB8>>(2, 3);
        auto grey = std::make_unique<KV_Image<unsigned char>>(4, 2);
        own = {2, 3, {}};
        other = {4, 2, {}};
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c)
            {
                (*colour)(r, c) = KV_RGB8(40 + 100 * r, 60 * c, 7);
                own.rgb.insert(own.rgb.end(),
                               {(unsigned char)(40 + 100 * r), (unsigned char)(60 * c), 7});
            }
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 2; ++c)
            {
                const unsigned char g = static_cast<unsigned char>(30 + 60 * r + 20 * c);
                (*grey)(r, c) = g;
                other.rgb.insert(other.rgb.end(), {g, g, g});
            }
        surface.mpTextureMap = new KV_MultiImage;
        surface.mpTextureMap->SetImage(colour.release());
        auto picture = std::make_shared<KV_MultiImage>();
        picture->SetImage(grey.release());
        table.materials = {{"alpha", nullptr, true}, {"beta", picture, true}};
        table.polygonMaterials = {0, 1, KV_SurfaceAppearance::kNoMaterial};
        for (unsigned int v = 0; v < 7; ++v)
            table.vertexColours.insert(table.vertexColours.end(),
                                       {std::uint8_t(10 * v + 5), std::uint8_t(200 - 20 * v),
                                        std::uint8_t(30 * v), std::uint8_t(v == 6 ? 77 : 255)});
    }
};

// What a reader of another project found: each face with its material and corners.
struct ReadCorner
{
    float position[3], uv[2], normal[3];
    int rgba[4];  // -1: not read
};

struct ReadFace
{
    std::string material;
    std::shared_ptr<Picture> picture;
    std::vector<ReadCorner> corners;
};

// Every face lands in the polygon it came from (found by its centre), with that polygon's
// material and picture (where the format holds materials); every corner carries its
// polygon's coordinate and normal at its vertex, and its vertex's colour.
void ExpectModel(const Model& model, const std::vector<ReadFace>& faces, std::size_t triangles,
                 bool materials = true)
{
    ASSERT_EQ(faces.size(), triangles);
    std::vector<int> seen(model.polygons.size(), 0);
    for (const ReadFace& face : faces)
    {
        float x = 0;
        for (const ReadCorner& c : face.corners) x += c.position[0] / face.corners.size();
        const ExpectedPolygon& polygon = model.polygons.at(x < 1 ? 0 : x < 2 ? 1 : 2);
        SCOPED_TRACE(polygon.material);
        ++seen[x < 1 ? 0 : x < 2 ? 1 : 2];
        if (materials)
        {
            EXPECT_EQ(face.material, polygon.material);
            ASSERT_EQ(face.picture != nullptr, polygon.picture != nullptr);
            if (polygon.picture != nullptr)
            {
                EXPECT_TRUE(*face.picture == *polygon.picture);
            }
        }
        for (const ReadCorner& c : face.corners)
        {
            const Corner* expected = nullptr;
            for (const Corner& e : polygon.corners)
                if (std::memcmp(&(*model.surface.mpVertices)[e.vertex], c.position, 12) == 0)
                    expected = &e;
            ASSERT_NE(expected, nullptr);
            EXPECT_EQ(c.uv[0], expected->u);
            EXPECT_EQ(c.uv[1], expected->v);
            EXPECT_NEAR(c.normal[0], expected->normal.x, 1e-6);
            EXPECT_NEAR(c.normal[1], expected->normal.y, 1e-6);
            EXPECT_NEAR(c.normal[2], expected->normal.z, 1e-6);
            for (int k = 0; k < 4; ++k)
            {
                if (c.rgba[k] >= 0)
                {
                    EXPECT_EQ(c.rgba[k], model.table.vertexColours[4 * expected->vertex + k]);
                }
            }
        }
    }
    EXPECT_EQ(seen, std::vector<int>({triangles == 5 ? 2 : 1, triangles == 5 ? 2 : 1, 1}));
}

// A PNG file decoded by libpng, rows turned to count from the bottom.
std::shared_ptr<Picture> DecodePng(const std::string& path)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return nullptr;
    png.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> top(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, top.data(), 0, nullptr))
        return nullptr;
    auto picture = std::make_shared<Picture>();
    picture->rows = static_cast<int>(png.height);
    picture->cols = static_cast<int>(png.width);
    const std::size_t row = 3 * png.width;
    for (int r = picture->rows - 1; r >= 0; --r)
        picture->rgb.insert(picture->rgb.end(), top.begin() + r * row, top.begin() + (r + 1) * row);
    return picture;
}

// tinygltf's pictures decoded by libpng as RGB: its own decoder, stb_image, is linked into
// this program as well, built without PNG, and that one is found first.
bool DecodeGltfPicture(tinygltf::Image* image, const int, std::string* error, std::string*, int,
                       int, const unsigned char* bytes, int size, void*)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes, static_cast<std::size_t>(size)))
    {
        *error = png.message;
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    image->image.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image->image.data(), 0, nullptr))
    {
        *error = png.message;
        return false;
    }
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->component = 3;
    image->bits = 8;
    image->pixel_type = TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE;
    return true;
}

// glTF through tinygltf: v runs from the top of the picture, so its decoded first row is
// the one this program draws at v = 0.
std::vector<ReadFace> ReadGltf(const std::string& path)
{
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(DecodeGltfPicture, nullptr);
    tinygltf::Model gltf;
    std::string error, warning;
    const bool binary = fs::path(path).extension() == ".glb";
    const bool read = binary ? loader.LoadBinaryFromFile(&gltf, &error, &warning, path)
                             : loader.LoadASCIIFromFile(&gltf, &error, &warning, path);
    EXPECT_TRUE(read) << error;
    std::vector<ReadFace> faces;
    if (!read || gltf.meshes.size() != 1)
        return faces;
    auto element = [&](int accessor, std::size_t i) -> const unsigned char*
    {
        const tinygltf::Accessor& a = gltf.accessors.at(accessor);
        const tinygltf::BufferView& view = gltf.bufferViews.at(a.bufferView);
        const std::size_t stride = a.ByteStride(view);
        EXPECT_LT(i, a.count);
        return gltf.buffers.at(view.buffer).data.data() + view.byteOffset + a.byteOffset +
               i * stride;
    };
    for (const tinygltf::Primitive& primitive : gltf.meshes[0].primitives)
    {
        EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES);
        const tinygltf::Material& material = gltf.materials.at(primitive.material);
        std::shared_ptr<Picture> picture;
        if (material.pbrMetallicRoughness.baseColorTexture.index >= 0)
        {
            const tinygltf::Texture& texture =
                gltf.textures.at(material.pbrMetallicRoughness.baseColorTexture.index);
            EXPECT_EQ(gltf.samplers.at(texture.sampler).wrapS, TINYGLTF_TEXTURE_WRAP_REPEAT);
            const tinygltf::Image& image = gltf.images.at(texture.source);
            picture = std::make_shared<Picture>();
            picture->rows = image.height;
            picture->cols = image.width;
            picture->rgb = image.image;
        }
        const tinygltf::Accessor& indices = gltf.accessors.at(primitive.indices);
        EXPECT_EQ(indices.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
        const tinygltf::Accessor& colours = gltf.accessors.at(primitive.attributes.at("COLOR_0"));
        EXPECT_EQ(colours.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE);
        EXPECT_TRUE(colours.normalized);
        for (std::size_t t = 0; t + 3 <= indices.count; t += 3)
        {
            ReadFace face{material.name, picture, {}};
            for (std::size_t k = t; k < t + 3; ++k)
            {
                std::uint32_t i;
                std::memcpy(&i, element(primitive.indices, k), 4);
                ReadCorner c;
                std::memcpy(c.position, element(primitive.attributes.at("POSITION"), i), 12);
                std::memcpy(c.uv, element(primitive.attributes.at("TEXCOORD_0"), i), 8);
                std::memcpy(c.normal, element(primitive.attributes.at("NORMAL"), i), 12);
                for (int b = 0; b < 4; ++b)
                    c.rgba[b] = element(primitive.attributes.at("COLOR_0"), i)[b];
                face.corners.push_back(c);
            }
            faces.push_back(face);
        }
    }
    return faces;
}

// OBJ through tinyobjloader, polygons kept; pictures by libpng. Colours without opacity.
std::vector<ReadFace> ReadObj(const std::string& path)
{
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    const std::string folder = fs::path(path).parent_path().string() + "/";
    EXPECT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error, path.c_str(),
                                 folder.c_str(), false))
        << error;
    std::vector<ReadFace> faces;
    for (const tinyobj::shape_t& shape : shapes)
    {
        std::size_t next = 0;
        for (std::size_t f = 0; f < shape.mesh.num_face_vertices.size(); ++f)
        {
            const tinyobj::material_t& material = materials.at(shape.mesh.material_ids[f]);
            ReadFace face{material.name,
                          material.diffuse_texname.empty()
                              ? nullptr
                              : DecodePng(folder + material.diffuse_texname),
                          {}};
            for (unsigned int k = 0; k < shape.mesh.num_face_vertices[f]; ++k, ++next)
            {
                const tinyobj::index_t& index = shape.mesh.indices[next];
                ReadCorner c;
                for (int a = 0; a < 3; ++a)
                {
                    c.position[a] = attrib.vertices.at(3 * index.vertex_index + a);
                    c.normal[a] = attrib.normals.at(3 * index.normal_index + a);
                    c.rgba[a] = static_cast<int>(
                        std::lround(255 * attrib.colors.at(3 * index.vertex_index + a)));
                }
                c.rgba[3] = -1;
                c.uv[0] = attrib.texcoords.at(2 * index.texcoord_index);
                c.uv[1] = attrib.texcoords.at(2 * index.texcoord_index + 1);
                face.corners.push_back(c);
            }
            faces.push_back(face);
        }
    }
    return faces;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Trip
{
    const char* format;
    bool cornerNormals;
};

class AppearanceRoundTrip : public ::testing::TestWithParam<Trip>
{
};

}  // namespace

// Both pictures pixel for pixel, each polygon's material, coordinates (tiled ones as they
// are), normals (hard edges too) and colours, as the other project's reader finds them.
TEST_P(AppearanceRoundTrip, EveryMaterialColourAndNormalReadsBack)
{
    const Model model(GetParam().cornerNormals);
    const std::string format = GetParam().format;
    const std::string path = TestScratchPath("model." + format);
    std::string error;
    ReportRecorder reports;
    ASSERT_TRUE(KV_MeshExporter::Write(model.surface, path, KV_MeshExporter::FormatOfPath(path),
                                       error, &model.table))
        << error;
    if (format == "obj")
    {
        ExpectModel(model, ReadObj(path), 3);
        const std::string mtl = ReadText(TestScratchPath("model.mtl"));
        EXPECT_EQ(mtl.find("Ka 1 1 1"), std::string::npos) << mtl;
        EXPECT_NE(mtl.find("Ka 0 0 0\nKd 1 1 1\nKs 0 0 0\n"), std::string::npos) << mtl;
        ASSERT_EQ(reports.Count(), 1u);  // vertex 6 is not opaque
        EXPECT_NE(reports.Reports()[0].text.find("opacity"), std::string::npos);
    }
    else
    {
        ExpectModel(model, ReadGltf(path), 5);
        EXPECT_EQ(reports.Count(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AppearanceRoundTrip,
                         ::testing::Values(Trip{"glb", true}, Trip{"gltf", true}, Trip{"obj", true},
                                           Trip{"glb", false}, Trip{"obj", false}),
                         [](const ::testing::TestParamInfo<Trip>& info)
                         {
                             return std::string(info.param.format) +
                                    (info.param.cornerNormals ? "CornerNormals" : "VertexNormals");
                         });

// PLY: one picture, but every colour with its opacity and every corner's normal, read by the
// import library; the other material's picture is named as left out.
TEST(AppearanceExport, PlyKeepsColoursAndNormalsAndSaysWhichPictureItLeftOut)
{
    const Model model(true);
    const std::string path = TestScratchPath("model.ply");
    std::string error;
    ReportRecorder reports;
    ASSERT_TRUE(
        KV_MeshExporter::Write(model.surface, path, KV_MeshFormat::Ply, error, &model.table))
        << error;
    ASSERT_EQ(reports.Count(), 1u);
    EXPECT_NE(reports.Reports()[0].text.find("beta"), std::string::npos)
        << reports.Reports()[0].text;
    EXPECT_NE(ReadText(path).find("comment TextureFile model_ply.png\n"), std::string::npos);
    const std::shared_ptr<Picture> picture = DecodePng(TestScratchPath("model_ply.png"));
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(*picture == model.own);

    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 1u);
    const aiMesh& mesh = *scene->mMeshes[0];
    ASSERT_TRUE(mesh.HasVertexColors(0) && mesh.HasNormals() && mesh.HasTextureCoords(0));
    std::vector<ReadFace> faces;
    for (unsigned int f = 0; f < mesh.mNumFaces; ++f)
    {
        ReadFace face;
        for (unsigned int k = 0; k < mesh.mFaces[f].mNumIndices; ++k)
        {
            const unsigned int i = mesh.mFaces[f].mIndices[k];
            ReadCorner c{{mesh.mVertices[i].x, mesh.mVertices[i].y, mesh.mVertices[i].z},
                         {mesh.mTextureCoords[0][i].x, mesh.mTextureCoords[0][i].y},
                         {mesh.mNormals[i].x, mesh.mNormals[i].y, mesh.mNormals[i].z},
                         {}};
            const aiColor4D& rgba = mesh.mColors[0][i];
            for (int b = 0; b < 4; ++b) c.rgba[b] = static_cast<int>(std::lround(255 * rgba[b]));
            face.corners.push_back(c);
        }
        faces.push_back(face);
    }
    ExpectModel(model, faces, 3, false);
}

// What each format cannot hold is named once the file is written; without a table nothing
// is said.
TEST(AppearanceExport, LossesAreNamed)
{
    const Model model(true);
    struct Case
    {
        const char* file;
        bool table;
        std::vector<const char*> named;  // empty: no message
    };
    const Case cases[] = {
        {"a.glb", true, {}},
        {"a.ply", false, {}},
        {"a.osf", false, {}},
        {"a.osf", true, {"beta", "vertex colours", "normals"}},
        {"a.stl", true, {"the 2 pictures", "vertex colours", "normals"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.file) + (c.table ? " with the table" : ""));
        ReportRecorder reports;
        std::string error;
        const std::string path = TestScratchPath(c.file);
        ASSERT_TRUE(KV_MeshExporter::Write(model.surface, path, KV_MeshExporter::FormatOfPath(path),
                                           error, c.table ? &model.table : nullptr))
            << error;
        EXPECT_TRUE(fs::exists(path));
        ASSERT_EQ(reports.Count(), c.named.empty() ? 0u : 1u);
        for (const char* part : c.named)
            EXPECT_NE(reports.Reports()[0].text.find(part), std::string::npos)
                << reports.Reports()[0].text;
    }
}

// One model written as glTF, then as OBJ and PLY into the same folder: each output names
// its pictures after itself, so the glTF's upside-down pictures survive the OBJ's.
TEST(AppearanceExport, OutputsInOneFolderKeepTheirOwnPictures)
{
    const Model model(true);
    std::string error;
    ReportRecorder quiet;
    for (const char* file : {"x.gltf", "x.obj", "x.ply"})
    {
        const std::string path = TestScratchPath(file);
        ASSERT_TRUE(KV_MeshExporter::Write(model.surface, path, KV_MeshExporter::FormatOfPath(path),
                                           error, &model.table))
            << error;
    }
    for (const char* picture :
         {"x_gltf.png", "x_gltf_1.png", "x_obj.png", "x_obj_1.png", "x_ply.png"})
        EXPECT_TRUE(fs::exists(TestScratchPath(picture))) << picture;
    EXPECT_FALSE(fs::exists(TestScratchPath("x.png")));
    ExpectModel(model, ReadGltf(TestScratchPath("x.gltf")), 5);
    ExpectModel(model, ReadObj(TestScratchPath("x.obj")), 3);
}

// A file that cannot be created last takes the pictures and side files written before it.
TEST(AppearanceExport, AFailedWriteLeavesNothingBehind)
{
    const Model model(true);
    for (const char* file : {"y.gltf", "y.obj"})
    {
        SCOPED_TRACE(file);
        const std::string path = TestScratchPath(file);
        fs::create_directories(path);  // in the way of the file itself
        std::string error;
        EXPECT_FALSE(KV_MeshExporter::Write(
            model.surface, path, KV_MeshExporter::FormatOfPath(path), error, &model.table));
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(TestScratchDir()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, std::vector<std::string>({"y.gltf", "y.obj"}));
}
