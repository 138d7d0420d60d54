#include "export/x_shared.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <unordered_map>

#include "export/x_text.h"
#include "model/model_description.h"
#include "support/parse_string.h"

namespace qev::xfile {

namespace {

struct NormalKey {
  uint32_t bits[3];
  bool operator==(const NormalKey& o) const {
    return bits[0] == o.bits[0] && bits[1] == o.bits[1] && bits[2] == o.bits[2];
  }
};

struct NormalKeyHash {
  size_t operator()(const NormalKey& k) const {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (uint32_t b : k.bits) h = (h ^ b) * 0xFF51AFD7ED558CCDull;
    return size_t(h ^ (h >> 29));
  }
};

// The bits of a component as the == comparison sees it: -0.0 is 0.0.
uint32_t ComparedBits(float f) {
  if (f == 0.0f) f = 0.0f;
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof(bits));
  return bits;
}

// "," or ";" and a line feed after element i of n.
const char* Separator(int64_t i, int64_t n) { return i + 1 < n ? ",\n" : ";\n"; }

// A face as written: where its three indices start in the index list, and
// the material that draws it.
struct Face {
  uint32_t first;
  int32_t material;
};

// The faces as the materials draw them: material k the index-count/3
// triangles from its first index on, in material order. Triangles no
// material draws are left out, so the face count and the material list
// agree. Without materials every whole triangle is a face of material 0
// (the default material the list then holds).
std::vector<Face> DrawnFaces(const CModelDescription& model) {
  std::vector<Face> faces;
  const int32_t nm = int32_t(model.m_materials.size());
  if (nm <= 0) {
    const int32_t nf = int32_t(model.m_indices.size() / 3);
    faces.reserve(size_t(nf > 0 ? nf : 0));
    for (int32_t f = 0; f < nf; ++f) faces.push_back({uint32_t(3 * f), 0});
    return faces;
  }
  for (int32_t m = 0; m < nm; ++m) {
    const ModelMaterial& mat = model.m_materials[size_t(m)];
    const uint32_t first = mat.firstIndex, triangles = mat.indexCount / 3;
    for (uint32_t t = 0; t < triangles; ++t) faces.push_back({first + 3 * t, m});
  }
  return faces;
}

}  // namespace

void CollectNormals(const ModelVertex* vertices, int32_t count, NormalList* out) {
  out->xyz.clear();
  out->index.clear();
  if (count <= 0) return;
  out->index.reserve(size_t(count));
  std::unordered_map<NormalKey, int32_t, NormalKeyHash> seen;
  seen.reserve(size_t(count));
  for (int32_t v = 0; v < count; ++v) {
    const float* n = vertices[v].normal;
    const int32_t next = out->Count();
    if (std::isnan(n[0]) || std::isnan(n[1]) || std::isnan(n[2])) {
      // equal to nothing, not even itself: always a normal of its own
      out->index.push_back(next);
      out->xyz.insert(out->xyz.end(), n, n + 3);
      continue;
    }
    const NormalKey key{{ComparedBits(n[0]), ComparedBits(n[1]), ComparedBits(n[2])}};
    const auto [it, added] = seen.try_emplace(key, next);
    out->index.push_back(it->second);
    if (added) out->xyz.insert(out->xyz.end(), n, n + 3);
  }
}

std::string TextureName(const char* field, size_t width) {
  const std::string text(field, strnlen(field, width));
  if (text.empty()) return text;
  CParseStringA parts;
  if (!parts.Split(text.c_str(), "*") || parts.m_nCount == 0) return std::string();
  return parts.m_ppToken[0];
}

void WriteMeshBody(CXText& out, const CModelDescription& model, const NormalList& normals, int depth,
                   const char* emissive) {
  const int32_t nv = int32_t(model.m_vertices.size());
  const std::vector<Face> faces = DrawnFaces(model);
  const int64_t nf = int64_t(faces.size());
  const ModelVertex* vertex = model.m_vertices.data();
  const uint32_t* index = model.m_indices.data();
  const int d0 = depth, d1 = depth + 1, d2 = depth + 2, d3 = depth + 3;

  out.Blanks(d0).Int(nv).Put(";\n");
  for (int32_t v = 0; v < nv; ++v) {
    const float* p = vertex[v].pos;
    out.Blanks(d0).Float(p[0]).Put(";").Float(p[1]).Put(";").Float(p[2]).Put(";").Put(Separator(v, nv));
  }
  out.Blanks(d0).Int(nf).Put(";\n");
  for (int64_t f = 0; f < nf; ++f) {
    const uint32_t* t = index + faces[size_t(f)].first;
    out.Blanks(d0).Put("3;").Int(t[0]).Put(",").Int(t[1]).Put(",").Int(t[2]).Put(";").Put(Separator(f, nf));
  }
  out.Put("\n");

  const int32_t nn = normals.Count();
  out.Blanks(d0).Put("MeshNormals {\n");
  out.Blanks(d1).Int(nn).Put(";\n");
  for (int32_t i = 0; i < nn; ++i) {
    const float* n = &normals.xyz[3 * size_t(i)];
    out.Blanks(d1).Float(n[0]).Put(",").Float(n[1]).Put(",").Float(n[2]).Put(";").Put(Separator(i, nn));
  }
  out.Blanks(d1).Int(nf).Put(";\n");
  for (int64_t f = 0; f < nf; ++f) {
    const uint32_t* t = index + faces[size_t(f)].first;
    out.Blanks(d1).Put("3;").Int(normals.index[t[0]]).Put(",").Int(normals.index[t[1]]).Put(",");
    out.Int(normals.index[t[2]]).Put(";").Put(Separator(f, nf));
  }
  out.Blanks(d0).Put("}\n").Put("\n");

  out.Blanks(d0).Put("MeshTextureCoords {\n");
  out.Blanks(d1).Int(nv).Put(";\n");
  for (int32_t v = 0; v < nv; ++v) {
    const float* uv = vertex[v].uv;
    out.Blanks(d1).Float(uv[0]).Put(";").Float(uv[1]).Put(";").Put(Separator(v, nv));
  }
  out.Blanks(d0).Put("}\n").Put("\n");

  // Each face's material, in the order of the faces. A model without
  // materials that has faces gets one plain white material for them all:
  // a material list that names no material for its faces is no list a
  // reader takes.
  const int32_t nm = int32_t(model.m_materials.size());
  const bool plain = nm <= 0 && nf > 0;
  out.Blanks(d0).Put("MeshMaterialList {\n");
  out.Blanks(d1).Int(plain ? 1 : nm).Put(";\n");
  out.Blanks(d1).Int(nf).Put(";\n");
  for (int64_t f = 0; f < nf; ++f) out.Blanks(d1).Int(faces[size_t(f)].material).Put(Separator(f, nf));
  if (plain) {
    out.Blanks(d1).Put("Material {\n");
    out.Blanks(d2).Put("1.000000;1.000000;1.000000;1.000000;;\n");
    out.Blanks(d2).Put("0.000000;\n");
    out.Blanks(d2).Put("0.000000;0.000000;0.000000;;\n");
    out.Blanks(d2).Put(emissive);
    out.Blanks(d1).Put("}\n");
  }
  for (int32_t m = 0; m < nm; ++m) {
    const ModelMaterial& mat = model.m_materials[size_t(m)];
    out.Blanks(d1).Put("Material {\n");
    out.Blanks(d2).Float(mat.diffuse[0]).Put(";").Float(mat.diffuse[1]).Put(";").Float(mat.diffuse[2]);
    out.Put(";").Float(mat.diffuse[3]).Put(";;\n");
    // the X format's power is the model's divided by 100 (float arithmetic)
    out.Blanks(d2).Float(mat.specularPower / 100.0f).Put(";\n");
    out.Blanks(d2).Float(mat.specular[0]).Put(";").Float(mat.specular[1]).Put(";").Float(mat.specular[2]);
    out.Put(";;\n");
    out.Blanks(d2).Put(emissive);
    if (!mat.texture.empty()) {
      out.Blanks(d2).Put("TextureFilename {\n");
      out.Blanks(d3).Put("\"").Put(TextureName(mat.texture.c_str(), mat.texture.size())).Put("\";\n");
      out.Blanks(d2).Put("}\n");
    }
    out.Blanks(d1).Put("}\n");
  }
  out.Blanks(d0).Put("}\n");
}

}  // namespace qev::xfile

