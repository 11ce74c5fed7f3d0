#include "maker/mesh_import.h"

#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "maker/demo_scene.h"
#include "maker/mesh_precheck.h"
#include "maker/orientation.h"
#include "maker/ply_face_colours.h"
#include "maker/side_files.h"
#include "maker/texture.h"
#include "platform/debug_output.h"

namespace strata::maker {

using geometry::Vector3;

namespace {

Vector3 transformPoint(const aiMatrix4x4& m, const aiVector3D& p) {
    const aiVector3D q = m * p;
    return {q.x, q.y, q.z};
}

Vector3 transformNormal(const aiMatrix3x3& normalMatrix, const aiVector3D& n) {
    const aiVector3D q = normalMatrix * n;
    return geometry::normalized(Vector3{q.x, q.y, q.z});
}

bool finite(const Vector3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

float clamp01(float x) {
    return std::isfinite(x) ? std::min(std::max(x, 0.0f), 1.0f) : 0.0f;
}

TextureWrap wrapOf(const aiMaterial& material, aiTextureType type, bool vAxis) {
    int mode = aiTextureMapMode_Wrap;
    const aiReturn found = vAxis ? material.Get(AI_MATKEY_MAPPINGMODE_V(type, 0), mode)
                                 : material.Get(AI_MATKEY_MAPPINGMODE_U(type, 0), mode);
    if (found != AI_SUCCESS) {
        return TextureWrap::repeat;
    }
    switch (mode) {
        case aiTextureMapMode_Clamp:
        case aiTextureMapMode_Decal:
            return TextureWrap::clamp;
        case aiTextureMapMode_Mirror:
            return TextureWrap::mirror;
        default:
            break;
    }
    return TextureWrap::repeat;
}

// Decodes a texture the mesh file embeds: compressed (a PNG or JPEG file's bytes) or raw texels.
bool decodeEmbedded(const aiTexture& embedded, const std::string& name, Texture& texture,
                    std::string& error) {
    if (embedded.pcData == nullptr) {
        error = name + ": the embedded texture holds no data";
        return false;
    }
    if (embedded.mHeight == 0) {
        return decodeTexture({reinterpret_cast<const std::uint8_t*>(embedded.pcData),
                              static_cast<std::size_t>(embedded.mWidth)},
                             name, texture, error);
    }
    const std::int64_t width = embedded.mWidth;
    const std::int64_t height = embedded.mHeight;
    if (width > kMaxTextureSide || height > kMaxTextureSide || width * height > kMaxTexturePixels) {
        error =
            platform::formatString("%s: picture size %lldx%lld out of range", name.c_str(),
                                   static_cast<long long>(width), static_cast<long long>(height));
        return false;
    }
    texture.width = static_cast<std::int32_t>(width);
    texture.height = static_cast<std::int32_t>(height);
    texture.rgb.resize(static_cast<std::size_t>(width * height) * 3);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width * height); ++i) {
        texture.rgb[3 * i] = embedded.pcData[i].r;
        texture.rgb[3 * i + 1] = embedded.pcData[i].g;
        texture.rgb[3 * i + 2] = embedded.pcData[i].b;
    }
    return true;
}

// Reads the texture a material names, beside the mesh file (or where the name says, or by its
// file name beside the mesh file), or embedded in it. Names leading outside the mesh file's
// folder are refused unless outside paths are allowed.
bool readMaterialTexture(const aiScene& source, const std::string& meshPath,
                         const std::string& name, Texture& texture, std::string& error) {
    if (const aiTexture* embedded = source.GetEmbeddedTexture(name.c_str())) {
        return decodeEmbedded(*embedded, name, texture, error);
    }
    if (!name.empty() && name[0] == '*') {
        error = name + ": no such embedded texture";
        return false;
    }
    std::string refusal;
    const std::string file = findSideFile(meshPath, name, refusal);
    if (!file.empty()) {
        return readTextureFile(file, texture, error);
    }
    error = refusal.empty() ? name + ": the file is not there" : refusal;
    return false;
}

bool finishScene(const std::string& path, Scene result, Scene& scene, std::string& error) {
    if (result.triangleCount() == 0) {
        error = platform::formatString("%s: the file holds no triangles", path.c_str());
        return false;
    }
    if (!result.validate(error)) {
        error = path + ": " + error;
        return false;
    }
    orientScene(result);
    scene = std::move(result);
    return true;
}

}  // namespace

bool loadMeshScene(const std::string& path, Scene& scene, std::string& error,
                   std::size_t maxTriangles, std::vector<std::string>* warnings) {
    if (!precheckMeshFile(path, error)) {
        return false;
    }
    // Faces that carry their own colour are read here; the importer would drop the colours.
    TriangleMesh faceColoured;
    switch (readPlyFaceColours(path, faceColoured, maxTriangles, error)) {
        case PlyFaceColours::failed:
            return false;
        case PlyFaceColours::read: {
            Scene result;
            result.name = path;
            result.meshes.push_back(std::move(faceColoured));
            return finishScene(path, std::move(result), scene, error);
        }
        case PlyFaceColours::absent:
            break;
    }
    Assimp::Importer importer;
    // Every file the importer opens goes through the side-file rules; the importer owns it.
    auto* files = new SideFileSystem(path);
    importer.SetIOHandler(files);
    // No joining of identical vertices: the importer's joining merges vertices at one position
    // even when their colours differ, and a colour must stay on the face corner it was given to.
    const aiScene* source = importer.ReadFile(
        path, aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_ValidateDataStructure);
    if (source == nullptr || source->mRootNode == nullptr) {
        error = platform::formatString("%s: cannot read the mesh file (%s)", path.c_str(),
                                       importer.GetErrorString());
        if (!files->notes().empty()) {
            error += "; " + files->notes().front();
        }
        return false;
    }
    Scene result;
    result.name = path;
    result.litByDefault = false;
    const auto warn = [&](const std::string& line) {
        if (warnings != nullptr) {
            warnings->push_back(line);
        } else {
            std::fprintf(stderr, "strata: warning: %s\n", line.c_str());
        }
    };
    for (const std::string& line : files->notes()) {
        warn(path + ": " + line);
    }
    // One material per source material: its base colour (which tints its texture) or diffuse
    // colour, and its base-colour or diffuse texture, when it has them.
    std::vector<int> materialOf(source->mNumMaterials, -1);
    std::vector<unsigned> uvChannelOf(source->mNumMaterials, 0);
    std::map<std::tuple<std::string, TextureWrap, TextureWrap>, int> textureOf;
    for (unsigned i = 0; i < source->mNumMaterials; ++i) {
        const aiMaterial* in = source->mMaterials[i];
        if (in == nullptr) {
            continue;
        }
        Material material;
        aiColor4D colour;
        bool coloured = false;
        if (aiGetMaterialColor(in, AI_MATKEY_BASE_COLOR, &colour) == AI_SUCCESS) {
            material.tints = true;
            coloured = true;
        } else {
            coloured = aiGetMaterialColor(in, AI_MATKEY_COLOR_DIFFUSE, &colour) == AI_SUCCESS;
        }
        if (coloured) {
            material.diffuse = {clamp01(colour.r), clamp01(colour.g), clamp01(colour.b)};
        }
        for (const aiTextureType type : {aiTextureType_BASE_COLOR, aiTextureType_DIFFUSE}) {
            aiString file;
            if (in->GetTextureCount(type) == 0 || in->GetTexture(type, 0, &file) != AI_SUCCESS) {
                continue;
            }
            int channel = 0;
            if (in->Get(AI_MATKEY_UVWSRC(type, 0), channel) == AI_SUCCESS && channel >= 0 &&
                channel < AI_MAX_NUMBER_OF_TEXTURECOORDS) {
                uvChannelOf[i] = static_cast<unsigned>(channel);
            }
            const std::string name = file.C_Str();
            const auto key =
                std::make_tuple(name, wrapOf(*in, type, false), wrapOf(*in, type, true));
            const auto known = textureOf.find(key);
            if (known != textureOf.end()) {
                material.texture = known->second;
                break;
            }
            Texture texture;
            texture.name = name;
            texture.wrapU = std::get<1>(key);
            texture.wrapV = std::get<2>(key);
            std::string problem;
            if (!readMaterialTexture(*source, path, name, texture, problem)) {
                warn(platform::formatString(
                    "%s: texture \"%s\" cannot be read (%s); using the material colour "
                    "(%.3f, %.3f, %.3f)",
                    path.c_str(), name.c_str(), problem.c_str(),
                    static_cast<double>(material.diffuse.r),
                    static_cast<double>(material.diffuse.g),
                    static_cast<double>(material.diffuse.b)));
                break;
            }
            result.textures.push_back(std::move(texture));
            material.texture = static_cast<int>(result.textures.size()) - 1;
            textureOf.emplace(key, material.texture);
            break;
        }
        if (coloured || material.texture >= 0) {
            result.materials.push_back(material);
            materialOf[i] = static_cast<int>(result.materials.size()) - 1;
        }
    }
    std::size_t triangles = 0;
    bool tooMany = false;
    bool badData = false;
    const std::function<void(const aiNode*, const aiMatrix4x4&, int)> visit =
        [&](const aiNode* node, const aiMatrix4x4& parent, int depth) {
            if (node == nullptr || depth > 256 || tooMany || badData) {
                return;
            }
            const aiMatrix4x4 world = parent * node->mTransformation;
            aiMatrix3x3 normalMatrix(world);
            normalMatrix.Inverse().Transpose();
            for (unsigned k = 0; k < node->mNumMeshes; ++k) {
                if (node->mMeshes[k] >= source->mNumMeshes) {
                    badData = true;
                    return;
                }
                const aiMesh* in = source->mMeshes[node->mMeshes[k]];
                if (in == nullptr || (in->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) == 0) {
                    continue;
                }
                TriangleMesh mesh;
                mesh.material =
                    in->mMaterialIndex < materialOf.size() ? materialOf[in->mMaterialIndex] : -1;
                const unsigned uvChannel =
                    in->mMaterialIndex < uvChannelOf.size() ? uvChannelOf[in->mMaterialIndex] : 0;
                const bool textured =
                    mesh.material >= 0 &&
                    result.materials[static_cast<std::size_t>(mesh.material)].texture >= 0 &&
                    in->HasTextureCoords(uvChannel);
                for (unsigned v = 0; v < in->mNumVertices; ++v) {
                    const Vector3 p = transformPoint(world, in->mVertices[v]);
                    if (!finite(p)) {
                        badData = true;
                        return;
                    }
                    mesh.positions.push_back(p);
                    if (in->HasNormals()) {
                        const Vector3 n = transformNormal(normalMatrix, in->mNormals[v]);
                        mesh.normals.push_back(finite(n) ? n : Vector3{});
                    }
                    if (in->HasVertexColors(0)) {
                        const aiColor4D& c = in->mColors[0][v];
                        mesh.colours.push_back({clamp01(c.r), clamp01(c.g), clamp01(c.b)});
                    }
                    if (textured) {
                        const aiVector3D& t = in->mTextureCoords[uvChannel][v];
                        mesh.texcoords.push_back(
                            {std::isfinite(t.x) ? t.x : 0.0f, std::isfinite(t.y) ? t.y : 0.0f});
                    }
                }
                for (unsigned f = 0; f < in->mNumFaces; ++f) {
                    const aiFace& face = in->mFaces[f];
                    if (face.mNumIndices != 3) {
                        continue;
                    }
                    for (unsigned i = 0; i < 3; ++i) {
                        if (face.mIndices[i] >= in->mNumVertices) {
                            badData = true;
                            return;
                        }
                        mesh.indices.push_back(face.mIndices[i]);
                    }
                }
                triangles += mesh.triangleCount();
                if (triangles > maxTriangles) {
                    tooMany = true;
                    return;
                }
                if (mesh.triangleCount() == 0) {
                    continue;
                }
                result.meshes.push_back(std::move(mesh));
            }
            for (unsigned c = 0; c < node->mNumChildren; ++c) {
                visit(node->mChildren[c], world, depth + 1);
            }
        };
    visit(source->mRootNode, aiMatrix4x4(), 0);
    if (badData) {
        error = platform::formatString("%s: the mesh data is malformed", path.c_str());
        return false;
    }
    if (tooMany) {
        error = platform::formatString("%s: more than %zu triangles", path.c_str(), maxTriangles);
        return false;
    }
    return finishScene(path, std::move(result), scene, error);
}

bool loadNamedScene(const std::string& name, Scene& scene, std::string& error) {
    if (name == "demo") {
        scene = buildDemoScene();
        orientScene(scene);
        return true;
    }
    return loadMeshScene(name, scene, error);
}

}  // namespace strata::maker
