// What the two X writers share: the distinct normals of a mesh, a material's
// texture name, and the mesh itself (positions, faces, normals, texture
// coordinates and the material list), which both write alike apart from
// their indentation and the emissive line of a material.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CModelDescription;
class CXText;
struct ModelVertex;

namespace qev::xfile {

// The distinct normals in the order first seen, and for each vertex the
// index of its normal among them.
struct NormalList {
  std::vector<float> xyz;       // 3 floats per distinct normal
  std::vector<int32_t> index;   // one per vertex
  int32_t Count() const { return int32_t(xyz.size() / 3); }
};

// Two normals are the same when x, y and z compare equal as floats (so 0.0
// and -0.0 are one normal, and a normal with a NaN matches none). Linear in
// the vertex count.
void CollectNormals(const ModelVertex* vertices, int32_t count, NormalList* out);

// The part of a material's texture field before the first "*" (double quotes
// suspend the cut, as everywhere names are split); empty for an empty field.
std::string TextureName(const char* field, size_t width);

// The mesh from its vertex count to the closing brace of the material list.
// Every vertex is written; the faces are the triangles the materials draw,
// in material order (all of them, under one plain white material, when the
// model has none), so the face count and the material list always agree.
// depth: blanks before the vertex count (1 in the plain mesh, 2 inside the
// skinned file's model frame); every deeper level gets one blank more.
// emissive: the material's emissive line without its indentation.
void WriteMeshBody(CXText& out, const CModelDescription& model, const NormalList& normals, int depth,
                   const char* emissive);

}  // namespace qev::xfile
