#include "maker/mesh_import.h"

#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <functional>

#include "maker/demo_scene.h"
#include "maker/mesh_precheck.h"
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

}  // namespace

bool loadMeshScene(const std::string& path, Scene& scene, std::string& error,
                   std::size_t maxTriangles) {
    if (!precheckMeshFile(path, error)) {
        return false;
    }
    Assimp::Importer importer;
    const aiScene* source =
        importer.ReadFile(path, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                    aiProcess_SortByPType | aiProcess_ValidateDataStructure);
    if (source == nullptr || source->mRootNode == nullptr) {
        error = platform::formatString("%s: cannot read the mesh file (%s)", path.c_str(),
                                       importer.GetErrorString());
        return false;
    }
    Scene result;
    result.name = path;
    result.litByDefault = false;
    // One material per source material: its diffuse colour, when it has one.
    std::vector<int> materialOf(source->mNumMaterials, -1);
    for (unsigned i = 0; i < source->mNumMaterials; ++i) {
        aiColor4D diffuse;
        if (source->mMaterials[i] != nullptr &&
            aiGetMaterialColor(source->mMaterials[i], AI_MATKEY_COLOR_DIFFUSE, &diffuse) ==
                AI_SUCCESS) {
            Material material;
            material.diffuse = {clamp01(diffuse.r), clamp01(diffuse.g), clamp01(diffuse.b)};
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
                mesh.material =
                    in->mMaterialIndex < materialOf.size() ? materialOf[in->mMaterialIndex] : -1;
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
    if (result.triangleCount() == 0) {
        error = platform::formatString("%s: the file holds no triangles", path.c_str());
        return false;
    }
    if (!result.validate(error)) {
        error = path + ": " + error;
        return false;
    }
    scene = std::move(result);
    return true;
}

bool loadNamedScene(const std::string& name, Scene& scene, std::string& error) {
    if (name == "demo") {
        scene = buildDemoScene();
        return true;
    }
    return loadMeshScene(name, scene, error);
}

}  // namespace strata::maker
