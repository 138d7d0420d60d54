// DrawModel: the mesh skinned on the processor from the bone matrices and
// drawn material by material, three buffer vertices per triangle.
#include <cmath>
#include <cstdint>
#include <vector>

#include "app/scene.h"

namespace {

// A colour component times 255, truncated toward zero; values no int holds
// (NaN, huge) give 0 instead of undefined behaviour.
uint32_t Channel(float c) {
  const float v = c * 255.0f;
  if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
  return uint32_t(int32_t(v));
}

// Opaque ARGB from a diffuse red, green and blue; alpha unused.
D3DCOLOR MaterialColour(const float* diffuse) {
  return ((0xffffff00u | Channel(diffuse[0])) << 8 | Channel(diffuse[1])) << 8 | Channel(diffuse[2]);
}

}  // namespace

void CScene::UpdateSkin() {
  const D3DXMATRIX* w = W();
  const D3DXMATRIX* b = B();
  for (size_t i = 0; i < m_skin.size(); ++i) D3DXMatrixMultiply(&m_skin[i], &b[i], &w[i]);
  // The turns that spherical and dual-quaternion vertices blend, once a bone.
  for (size_t i = 0; i < m_skinRot.size(); ++i) m_skinRot[i] = SkinRotation(m_skin[i]);
  for (size_t i = 0; i < m_skinDualQuat.size(); ++i) m_skinDualQuat[i] = SkinDualQuat(m_skin[i]);

  // Every vertex is posed once; the materials then copy it for each use. A
  // vertex gives the same bits however often it is used, so this is the
  // picture of skinning every face index on its own, at a third of the work.
  // Skinning starts from the bind positions with the expressions applied.
  const D3DXVECTOR3* from = m_morph.Positions();
  const D3DXMATRIX* skin = m_skin.data();
  const int count = int(m_model.m_vertices.size());
  const ModelVertex* vertices = m_model.m_vertices.data();
  for (int i = 0; i < count; ++i) {
    const ModelVertex& v = vertices[i];
    // The first bone, and every other with weight, were checked against the
    // skeleton at load, so they index inside the arrays.
    if (v.skinning == kSkinSdef) {
      // a second slot without weight was not checked: the first bone stands in
      const int32_t b0 = v.bone[0], b1 = v.weight[1] != 0.0f ? v.bone[1] : b0;
      m_posed[size_t(i)] = SkinSdefPosition(skin[b0], skin[b1], m_skinRot[size_t(b0)], m_skinRot[size_t(b1)],
                                            m_sdef[size_t(i)], from[i]);
      continue;
    }
    if (v.skinning == kSkinQdef) {
      m_posed[size_t(i)] = SkinCurved(size_t(i), from[i]).pos;
      continue;
    }
    float M[4][3];
    const D3DXMATRIX& s0 = skin[v.bone[0]];
    if (v.skinning == kSkinBdef1) {
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) M[r][c] = s0.m[r][c];
    } else {
      const float w0 = v.weight[0];
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) M[r][c] = w0 * s0.m[r][c];
      const int bones = SkinningBones(v.skinning);
      for (int s = 1; s < bones; ++s) {
        const float w = v.weight[s];
        if (w == 0.0f) continue;
        const D3DXMATRIX& sk = skin[v.bone[s]];
        for (int r = 0; r < 4; ++r)
          for (int c = 0; c < 3; ++c) M[r][c] += w * sk.m[r][c];
      }
    }
    const float x = from[i].x, y = from[i].y, z = from[i].z;
    D3DXVECTOR3& o = m_posed[size_t(i)];
    o.x = x * M[0][0] + y * M[1][0] + z * M[2][0] + M[3][0];
    o.y = x * M[0][1] + y * M[1][1] + z * M[2][1] + M[3][1];
    o.z = x * M[0][2] + y * M[1][2] + z * M[2][2] + M[3][2];
  }
}

SkinnedPoint CScene::SkinCurved(size_t vertex, const D3DXVECTOR3& from) const {
  const ModelVertex& v = m_model.m_vertices[vertex];
  const D3DXVECTOR3 normal(v.normal[0], v.normal[1], v.normal[2]);
  // A slot without weight was not checked at load: the first bone stands
  // in for it, where its weight of 0 changes nothing.
  int32_t bone[4];
  for (int s = 0; s < 4; ++s) bone[s] = v.weight[s] != 0.0f ? v.bone[s] : v.bone[0];
  if (v.skinning == kSkinSdef)
    return SkinSdef(m_skin[size_t(bone[0])], m_skin[size_t(bone[1])], m_skinRot[size_t(bone[0])],
                    m_skinRot[size_t(bone[1])], m_sdef[vertex], from, normal);
  return SkinQdef(m_skinDualQuat.data(), bone, v.weight, 4, from, normal);
}

int CScene::SkinMaterial(int m) {
  const ModelMaterial& mat = m_model.m_materials[size_t(m)];
  // the diffuse colour as the playing material morphs leave it
  float diffuse[3] = {mat.diffuse[0], mat.diffuse[1], mat.diffuse[2]};
  if (const std::vector<MaterialChange>* changes = m_morph.MaterialChanges())
    for (int c = 0; c < 3; ++c) diffuse[c] = (*changes)[size_t(m)].Apply(kMatDiffuse + c, diffuse[c]);
  const D3DCOLOR colour = MaterialColour(diffuse);
  const float* uvs = m_morph.Uvs(0);  // null: no uv morph, the model's own
  auto* out = reinterpret_cast<SkinnedVertex*>(m_drawBuffer.m_pData);
  const uint32_t* index = m_model.m_indices.data() + mat.firstIndex;
  const int n = int(mat.indexCount);
  for (int k = 0; k < n; ++k) {
    const ModelVertex& v = m_model.m_vertices[index[k]];
    const D3DXVECTOR3& p = m_posed[index[k]];
    SkinnedVertex& o = out[k];
    o.pos[0] = p.x;
    o.pos[1] = p.y;
    o.pos[2] = p.z;
    // Drawn unlit, so the normal takes no part in the picture: the model's own.
    o.normal[0] = v.normal[0];
    o.normal[1] = v.normal[1];
    o.normal[2] = v.normal[2];
    o.diffuse = colour;
    o.uv[0] = uvs ? uvs[size_t(index[k]) * 4] : v.uv[0];
    o.uv[1] = uvs ? uvs[size_t(index[k]) * 4 + 1] : v.uv[1];
  }
  return n;
}

bool CScene::BeginModelDraw(IDirect3DDevice9* device) {
  // a motion's visibility key of 0 hides the model alone: grid and markers stay
  if (!m_bLoaded || !m_showIk.Visible()) return false;
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  device->SetTransform(D3DTS_WORLD, &identity);
  device->SetFVF(kSkinnedVertexFvf);
  UpdateSkin();
  return true;
}

void CScene::DrawModel(IDirect3DDevice9* device) {
  if (!BeginModelDraw(device)) return;
  const int materials = int(m_model.m_materials.size());
  for (int m = 0; m < materials; ++m) {
    device->SetTexture(0, m_pTextures[m].m_pTexture);
    const int n = SkinMaterial(m);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, unsigned(n / 3), m_drawBuffer.m_pData, sizeof(SkinnedVertex));
  }
}
