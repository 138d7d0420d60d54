// The shaded drawing of the model: each material's look described once at
// load, its sphere map and toon ramp loaded beside its texture, and every
// frame the materials drawn through the device's shaded draw, lit by the
// scene's light, with outlines and the semi-transparent materials last.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "app/scene.h"
#include "platform/codepage.h"
#include "render/toon_ramp.h"
#include "support/debug.h"

namespace {

// A name from the model file as a native relative path.
std::string FileName(std::string_view cp932) {
  std::string file = qev::Cp932ToUtf8(cp932);
  for (char& c : file)
    if (c == '\\') c = '/';  // a separator of the system the model was made on
  return file;
}

// A path of the model description (UTF-8) with the other system's separators.
std::string NativePath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

}  // namespace

void CScene::DescribeLooks() {
  const CModelDescription& model = m_model;
  m_looks.assign(model.m_materials.size(), MaterialLook());
  for (size_t m = 0; m < model.m_materials.size(); ++m) {
    const ModelMaterial& mat = model.m_materials[m];
    MaterialLook& look = m_looks[m];
    for (int c = 0; c < 4; ++c) look.diffuse[c] = mat.diffuse[c];
    for (int c = 0; c < 3; ++c) {
      look.ambient[c] = mat.ambient[c];
      look.specular[c] = mat.specular[c];
    }
    look.power = mat.specularPower;
    look.edge = (mat.flags & kMaterialEdge) != 0;
    if (model.m_format == kModelPmd) {
      // One field: "texture", "texture*sphere" or a sphere map alone; the
      // sphere map's kind by its extension.
      const std::string names = FileName(mat.texture);
      const size_t star = names.find('*');
      const std::string first = names.substr(0, star);
      const std::string second = star == std::string::npos ? std::string() : names.substr(star + 1);
      if (SphereModeOf(first)) {
        look.sphere = first;
      } else {
        look.texture = first;
        if (SphereModeOf(second)) look.sphere = second;
      }
      look.sphereMode = SphereModeOf(look.sphere);
      // One of the model's ten toon names; any other index: no ramp.
      if (mat.toon >= 0 && mat.toon < 10) {
        look.sharedToon = mat.toon;
        look.toonFile = FileName(model.m_sharedToon[mat.toon]);
      }
      // black, one size; semi-transparent materials are the model's thin,
      // see-through parts: both their faces show
      look.doubleSided = mat.diffuse[3] < 1.0f;
    } else {
      look.texture = NativePath(mat.texturePath);
      // a sub-texture (mode 3) is drawn by no sphere pass
      if (mat.sphereMode == 1 || mat.sphereMode == 2) {
        look.sphere = NativePath(mat.spherePath);
        look.sphereMode = mat.sphereMode;
      }
      if (mat.sharedToon) {
        // the shared ramps go by their conventional names beside the model
        if (mat.toon >= 0 && mat.toon < 10) {
          look.sharedToon = mat.toon;
          char name[16];
          std::snprintf(name, sizeof name, "toon%02d.bmp", mat.toon + 1);
          look.toonFile = name;
        }
      } else {
        look.toonFile = NativePath(mat.toonPath);
      }
      for (int c = 0; c < 4; ++c) look.edgeColour[c] = mat.edgeColour[c];
      look.edgeSize = mat.edgeSize;
      look.doubleSided = (mat.flags & kMaterialDoubleSided) || mat.diffuse[3] < 1.0f;
    }
  }
  // Each vertex's outline width (PMD: its edge flag switches it off).
  m_vertexEdgeScale.resize(model.m_vertices.size());
  for (size_t i = 0; i < model.m_vertices.size(); ++i) m_vertexEdgeScale[i] = model.m_vertices[i].edgeScale;
}

void CScene::LoadLookTextures(const std::string& folder, IDirect3DDevice9* device) {
  m_lookTextures.clear();
  m_builtInToons.reset();
  m_materialMaps.assign(m_looks.size(), MaterialMaps());
  if (!device) return;
  // Each file once, however many materials name it; null when it failed.
  std::map<std::string, IDirect3DTexture9*> loaded;
  auto load = [&](const std::string& name) -> IDirect3DTexture9* {
    const std::string path = folder.empty() ? name : folder + "/" + name;
    auto found = loaded.find(path);
    if (found != loaded.end()) return found->second;
    auto texture = std::make_unique<CDDTexPro90>();
    IDirect3DTexture9* made = texture->LoadFile(path.c_str(), device) ? texture->m_pTexture : nullptr;
    if (made) m_lookTextures.push_back(std::move(texture));
    loaded[path] = made;
    return made;
  };
  auto builtIn = [&](int index) -> IDirect3DTexture9* {
    if (!m_builtInToons) {
      m_builtInToons = std::make_unique<CDDTexPro90[]>(kToonRampCount);
      for (int i = 0; i < kToonRampCount; ++i)
        if (!MakeToonRamp(&m_builtInToons[i], device, i)) m_builtInToons[i].Release();
    }
    return m_builtInToons[index].m_pTexture;
  };
  std::set<std::string> told;  // each missing toon file is logged once
  for (size_t m = 0; m < m_looks.size(); ++m) {
    const MaterialLook& look = m_looks[m];
    MaterialMaps& maps = m_materialMaps[m];
    if (!look.sphere.empty()) {
      maps.sphere = load(look.sphere);
      if (!maps.sphere)
        DebugPrintf("sphere map not loaded : %s\n", qev::Utf8ToCp932(folder + "/" + look.sphere).c_str());
    }
    if (!look.toonFile.empty()) maps.toon = load(look.toonFile);
    if (!maps.toon && look.sharedToon >= 0 && look.sharedToon < kToonRampCount) {
      maps.toon = builtIn(look.sharedToon);
      if (!look.toonFile.empty() && told.insert(look.toonFile).second)
        DebugPrintf("toon file not found : %s, built-in ramp %d used\n",
                    qev::Utf8ToCp932(folder + "/" + look.toonFile).c_str(), look.sharedToon + 1);
    }
  }
}

const std::vector<MaterialLook>& CScene::FrameLooks() {
  const std::vector<MaterialChange>* changes = m_morph.MaterialChanges();
  if (!changes || changes->size() != m_looks.size()) return m_looks;
  // The texts are copied once; each frame with a material morph playing
  // only the numbers are worked out again from the model's own looks.
  if (m_morphedLooks.size() != m_looks.size()) m_morphedLooks = m_looks;
  for (size_t m = 0; m < m_looks.size(); ++m) {
    const MaterialLook& base = m_looks[m];
    MaterialLook& look = m_morphedLooks[m];
    const MaterialChange& c = (*changes)[m];
    for (int k = 0; k < 4; ++k) {
      look.diffuse[k] = c.Apply(kMatDiffuse + k, base.diffuse[k]);
      look.edgeColour[k] = c.Apply(kMatEdgeColour + k, base.edgeColour[k]);
    }
    for (int k = 0; k < 3; ++k) {
      look.specular[k] = c.Apply(kMatSpecular + k, base.specular[k]);
      look.ambient[k] = c.Apply(kMatAmbient + k, base.ambient[k]);
    }
    look.power = c.Apply(kMatPower, base.power);
    look.edgeSize = c.Apply(kMatEdgeSize, base.edgeSize);
  }
  return m_morphedLooks;
}

void CScene::DiscardLooks() {
  m_looks.clear();
  m_morphedLooks.clear();
  m_vertexEdgeScale.clear();
  m_materialMaps.clear();
  m_lookTextures.clear();
  m_builtInToons.reset();
  m_posedNormals.clear();
  m_edgeScales.clear();
}

ShadeLight CScene::Light() const {
  if (m_nMode == kMotionPlayback && m_motion) return LightAt(*m_motion, m_fFrame);
  return DefaultLight();
}

void CScene::UpdateSkinNormals() {
  // The normals turn with the same blended matrices as the positions (their
  // upper 3 x 3; the shader normalises what blending shortened).
  const size_t count = m_model.m_vertices.size();
  m_posedNormals.resize(count);
  const D3DXMATRIX* skin = m_skin.data();
  const D3DXVECTOR3* from = m_morph.Positions();
  for (size_t i = 0; i < count; ++i) {
    const ModelVertex& v = m_model.m_vertices[i];
    if (v.skinning == kSkinSdef || v.skinning == kSkinQdef) {
      // turned as their positions are, not by blended matrices
      m_posedNormals[i] = SkinCurved(i, from[i]).normal;
      continue;
    }
    const D3DXMATRIX& s0 = skin[v.bone[0]];
    float M[3][3];
    if (v.skinning == kSkinBdef1) {
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) M[r][c] = s0.m[r][c];
    } else {
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) M[r][c] = v.weight[0] * s0.m[r][c];
      const int bones = SkinningBones(v.skinning);
      for (int b = 1; b < bones; ++b) {
        if (v.weight[b] == 0.0f) continue;
        const D3DXMATRIX& sk = skin[v.bone[b]];
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c) M[r][c] += v.weight[b] * sk.m[r][c];
      }
    }
    const float x = v.normal[0], y = v.normal[1], z = v.normal[2];
    D3DXVECTOR3& o = m_posedNormals[i];
    o.x = x * M[0][0] + y * M[1][0] + z * M[2][0];
    o.y = x * M[0][1] + y * M[1][1] + z * M[2][1];
    o.z = x * M[0][2] + y * M[1][2] + z * M[2][2];
  }
}

int CScene::SkinShadedMaterial(int m) {
  const ModelMaterial& mat = m_model.m_materials[size_t(m)];
  auto* out = reinterpret_cast<SkinnedVertex*>(m_drawBuffer.m_pData);
  const uint32_t* index = m_model.m_indices.data() + mat.firstIndex;
  const int n = int(mat.indexCount);
  m_edgeScales.resize(size_t(std::max(m_nMaxDrawVertex, 0)));
  const float* uvs = m_morph.Uvs(0);  // null: no uv morph, the model's own
  for (int k = 0; k < n; ++k) {
    const uint32_t i = index[k];
    const ModelVertex& v = m_model.m_vertices[i];
    const D3DXVECTOR3& p = m_posed[i];
    const D3DXVECTOR3& q = m_posedNormals[i];
    SkinnedVertex& o = out[k];
    o.pos[0] = p.x;
    o.pos[1] = p.y;
    o.pos[2] = p.z;
    o.normal[0] = q.x;
    o.normal[1] = q.y;
    o.normal[2] = q.z;
    o.diffuse = 0xFFFFFFFFu;  // the shaded draw takes its colours from the material
    o.uv[0] = uvs ? uvs[size_t(i) * 4] : v.uv[0];
    o.uv[1] = uvs ? uvs[size_t(i) * 4 + 1] : v.uv[1];
    m_edgeScales[size_t(k)] = m_vertexEdgeScale[i];
  }
  return n;
}

void CScene::DrawShadedModel(IDirect3DDevice9* device) {
  if (!BeginModelDraw(device)) return;
  UpdateSkinNormals();
  const ShadeLight light = Light();
  const std::vector<MaterialLook>& looks = FrameLooks();

  auto draw = [&](int m) {
    const MaterialLook& look = looks[size_t(m)];
    const MaterialMaps& maps = m_materialMaps[size_t(m)];
    ShadedMaterialDraw d;
    for (int c = 0; c < 4; ++c) d.diffuse[c] = look.diffuse[c];
    for (int c = 0; c < 3; ++c) {
      d.ambient[c] = look.ambient[c];
      d.specular[c] = look.specular[c];
    }
    d.power = look.power;
    d.texture = look.texture.empty() ? nullptr : m_pTextures[m].m_pTexture;
    d.sphere = maps.sphere;
    d.sphereMode = maps.sphere ? uint32_t(look.sphereMode) : 0;
    d.toon = maps.toon;
    d.lightDirection[0] = light.direction.x;
    d.lightDirection[1] = light.direction.y;
    d.lightDirection[2] = light.direction.z;
    d.lightColour[0] = light.colour.x;
    d.lightColour[1] = light.colour.y;
    d.lightColour[2] = light.colour.z;
    const int n = SkinShadedMaterial(m);
    if (n < 3) return;
    // Front faces run counter-clockwise on screen here (the mirror swapped
    // every triangle's winding), so clockwise culling drops the back faces.
    device->SetRenderState(D3DRS_CULLMODE, look.doubleSided ? D3DCULL_NONE : D3DCULL_CW);
    device->DrawShadedUP(d, unsigned(n / 3), m_drawBuffer.m_pData, sizeof(SkinnedVertex));
    if (!look.edge) return;
    // The outline: the back faces alone, pushed out, in the edge colour.
    d.pass = ShadedMaterialDraw::kOutline;
    for (int c = 0; c < 4; ++c) d.edgeColour[c] = look.edgeColour[c];
    d.edgeSize = look.edgeSize * kEdgePixelsPerSize;
    d.edgeScale = m_edgeScales.data();
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->DrawShadedUP(d, unsigned(n / 3), m_drawBuffer.m_pData, sizeof(SkinnedVertex));
  };
  // Opaque materials first, then the semi-transparent ones over them in
  // model order, leaving the depth buffer as the opaque ones made it.
  const int materials = int(m_model.m_materials.size());
  for (int m = 0; m < materials; ++m)
    if (looks[size_t(m)].diffuse[3] >= 1.0f) draw(m);
  bool depthOff = false;
  for (int m = 0; m < materials; ++m) {
    if (looks[size_t(m)].diffuse[3] >= 1.0f) continue;
    if (!depthOff) device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    depthOff = true;
    draw(m);
  }
  if (depthOff) device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}
