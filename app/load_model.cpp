// LoadModel: the old scene goes, the model file (PMD or PMX) is read into the
// model description, and its skeleton, IK goal tree, vertex influences,
// matrix arrays, drawing buffer, material textures and physics are built;
// the current pose then applies to it.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/scene.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

const std::string& Text(const char* utf8, std::string* slot) {
  if (slot->empty()) *slot = qev::Sjis(utf8);
  return *slot;
}

bool IsLeftOutEye(std::string_view name) {
  static std::string both, tip;
  return name == Text("両目", &both) || name == Text("両目先", &tip);
}

// Grows a buffer to count zeroed elements of the given size.
bool SizeBuffer(CBuffer* buffer, uint32_t elementSize, int64_t count) {
  buffer->Free();
  buffer->m_nElementSize = elementSize;
  return count == 0 || buffer->Append(count * elementSize);
}

// The folder of a native path, without its last separator ("" when none).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

void CScene::DiscardModel() {
  m_bLoaded = false;
  m_skeleton.Clear();
  m_ikRoot.Clear();
  m_nodes.clear();
  m_W.Free();
  m_B.Free();
  m_G.Free();
  m_drawBuffer.Free();
  m_nMaxDrawVertex = 0;
  m_skin.clear();
  m_posed.clear();
  m_morph.Clear();
  m_showIk.Clear();
  m_physics.Clear();
  m_deformBones.clear();
  m_deformOrder.clear();
  m_sdef.clear();
  m_skinRot.clear();
  m_skinDualQuat.clear();
  DiscardLooks();
  m_pTextures.reset();
}

int CScene::LoadModel(const char* path, IDirect3DDevice9* device, std::string* failure) {
  DiscardModel();
  if (AssembleModel(path, device, failure)) return 1;
  // Nothing of a refused model stays: the trees would point into the
  // records just freed.
  DiscardModel();
  m_model.Clear();
  return 0;
}

void CScene::BuildTrees() {
  const CModelDescription& model = m_model;
  const int count = model.BoneCount();
  m_nodes.assign(size_t(count), nullptr);

  // IK goals, in file order, under the goal of their parent bone. The first
  // IK list reaching for each bone, and the goal node of each bone placed so
  // far, are looked up by bone index.
  std::vector<int> firstIk(size_t(count), -1);
  for (int k = model.IkCount() - 1; k >= 0; --k)
    if (model.m_iks[size_t(k)].goal < count) firstIk[size_t(model.m_iks[size_t(k)].goal)] = k;
  std::vector<CIKTree*> goals(size_t(count), nullptr);
  for (int j = 0; j < count; ++j) {
    const ModelBone& rec = model.m_bones[size_t(j)];
    if (IsLeftOutEye(rec.name) || !(rec.flags & kBoneIk)) continue;
    const int ik = firstIk[size_t(j)];
    if (ik < 0) continue;  // an IK bone no list reaches for
    CIKTree* parent = &m_ikRoot;
    if (rec.parent >= 0 && rec.parent < count && goals[size_t(rec.parent)]) parent = goals[size_t(rec.parent)];
    goals[size_t(j)] = parent->AddChild(ik, j, model);
  }

  // The skeleton. A bone hangs below its parent whatever their order in the
  // file (real files list some children before their parents); under each
  // parent the children keep file order. The eye bones, IK bones and all
  // below them stay out, as does a bone whose parent chain never reaches a
  // bone without a parent.
  std::vector<std::vector<int>> children(size_t(count) + 1);  // last entry: the root's
  for (int j = 0; j < count; ++j) {
    const ModelBone& rec = model.m_bones[size_t(j)];
    if (IsLeftOutEye(rec.name) || (rec.flags & kBoneIk)) continue;
    if (rec.parent == -1)
      children[size_t(count)].push_back(j);
    else if (rec.parent >= 0 && rec.parent < count)
      children[size_t(rec.parent)].push_back(j);
  }
  std::vector<std::pair<CPmdBone*, int>> todo;  // node, the bone whose children it takes
  todo.emplace_back(&m_skeleton, count);
  while (!todo.empty()) {
    auto [node, slot] = todo.back();
    todo.pop_back();
    for (int j : children[size_t(slot)]) {
      CPmdBone* child = node->AddChild(j, model);
      m_nodes[size_t(j)] = child;
      todo.emplace_back(child, j);
    }
  }

  // Bones that would be in the tree but for a parent chain that loops. Each
  // bone's chain is followed only until it meets a bone already decided, so
  // every bone is stepped over once.
  constexpr uint8_t kUnknown = 0, kOnPath = 1, kEnds = 2, kLoops = 3;
  std::vector<uint8_t> chain(size_t(count), kUnknown);
  std::vector<int> path;
  for (int j = 0; j < count; ++j) {
    int p = j;
    while (p >= 0 && p < count && chain[size_t(p)] == kUnknown) {
      chain[size_t(p)] = kOnPath;
      path.push_back(p);
      p = model.m_bones[size_t(p)].parent;
    }
    // the walk left the bones (an end), met a decided bone (its fate), or
    // came back onto its own path (a loop)
    const uint8_t fate = p < 0 || p >= count ? kEnds : chain[size_t(p)] == kOnPath ? kLoops : chain[size_t(p)];
    for (int b : path) chain[size_t(b)] = fate;
    path.clear();
  }
  int looped = 0;
  for (int j = 0; j < count; ++j)
    if (!m_nodes[size_t(j)] && chain[size_t(j)] == kLoops) ++looped;
  if (looped) DebugPrintf("PMD bones : %d bones left out, their parent chain loops\n", looped);
}

int CScene::AssembleModel(const char* path, IDirect3DDevice9* device, std::string* failure) {
  static std::string parseFailed, badBone, badBone2, badBoneLog, badBone2Log, maxDraw, texFolder, texError;
  if (!m_model.Load(path)) {
    *failure = Text("モデルデータ解析失敗", &parseFailed);
    return 0;
  }
  const CModelDescription& model = m_model;

  BuildTrees();
  DebugPrintf("----------- BONE TREE ----------\n");
  m_skeleton.Dump(0);
  DebugPrintf("----------- IK TREE ----------\n");

  // Every vertex on the bones that move it: the first bone always, every
  // other bone of its kind where it has weight.
  const int vertexCount = int(model.m_vertices.size());
  for (int i = 0; i < vertexCount; ++i) {
    const ModelVertex& v = model.m_vertices[size_t(i)];
    CPmdBone* first = BoneNode(v.bone[0]);
    if (!first) {
      DebugPrintf(Text("ボーンIDが不正 : %d\n", &badBoneLog).c_str(), int(v.bone[0]));
      *failure = Text("ボーンIDが不正", &badBone);
      return 0;
    }
    first->m_influences.push_back({i, v.weight[0]});
    const int slots = SkinningBones(v.skinning);
    for (int s = 1; s < slots; ++s) {
      if (v.weight[s] == 0.0f) continue;
      CPmdBone* other = BoneNode(v.bone[s]);
      if (!other) {
        DebugPrintf(Text("2つめのボーンIDが不正 : %d\n", &badBone2Log).c_str(), int(v.bone[s]));
        *failure = Text("2つめのボーンIDが不正", &badBone2);
        return 0;
      }
      other->m_influences.push_back({i, v.weight[s]});
    }
  }

  // W and B zeroed (bones outside the skeleton keep zero), G the identity.
  const int bones = model.BoneCount();
  if (!SizeBuffer(&m_W, sizeof(D3DXMATRIX), bones) || !SizeBuffer(&m_B, sizeof(D3DXMATRIX), bones) ||
      !SizeBuffer(&m_G, sizeof(D3DXMATRIX), model.IkCount())) {
    DebugPrintf("PMD error : no memory for the matrices of %u bones\n", unsigned(bones));
    *failure = Text("モデルデータ解析失敗", &parseFailed);
    return 0;
  }
  for (int k = 0; k < model.IkCount(); ++k) D3DXMatrixIdentity(&G()[k]);
  m_skin.assign(size_t(bones), D3DXMATRIX());
  m_posed.assign(size_t(vertexCount), D3DXVECTOR3());
  m_morph.Build(model);
  BuildDeform();

  // The drawing buffer holds the largest material.
  m_nMaxDrawVertex = 0;
  const int materials = int(model.m_materials.size());
  for (int m = 0; m < materials; ++m)
    m_nMaxDrawVertex = std::max<int>(m_nMaxDrawVertex, int(model.m_materials[size_t(m)].indexCount));
  DebugPrintf(Text("最大描画頂点数 : %d\n", &maxDraw).c_str(), m_nMaxDrawVertex);
  if (!SizeBuffer(&m_drawBuffer, sizeof(SkinnedVertex), m_nMaxDrawVertex)) {
    DebugPrintf("PMD error : no memory for %d drawn vertices\n", m_nMaxDrawVertex);
    *failure = Text("モデルデータ解析失敗", &parseFailed);
    return 0;
  }

  // One texture per material, from the model's folder; a sphere map (PMD's
  // name after a "*") is not loaded here. A texture that fails leaves its
  // material untextured.
  const std::string folder = FolderOf(path);
  DebugPrintfW(qev::Cp932ToUtf16(Text("テクスチャパス : %s\n", &texFolder)).c_str(), qev::Utf8ToUtf16(folder).c_str());
  m_pTextures = std::make_unique<CDDTexPro90[]>(size_t(materials));
  for (int m = 0; m < materials && device; ++m) {
    const ModelMaterial& mat = model.m_materials[size_t(m)];
    if (mat.texture.empty()) continue;
    std::string file = mat.texturePath;
    for (char& c : file)
      if (c == '\\') c = '/';  // a separator of the system the model was made on
    const std::string joined = folder.empty() ? file : folder + "/" + file;
    if (!m_pTextures[m].LoadFile(joined.c_str(), device))
      DebugPrintf(Text("テクスチャロードエラー : %s\n", &texError).c_str(), qev::Utf8ToCp932(joined).c_str());
  }

  DescribeLooks();
  LoadLookTextures(folder, device);

  // The bind pose, then the bodies placed on it.
  m_skeleton.UpdateMatrices(W(), B());
  m_physics.Build(*this);
  m_bLoaded = true;
  RefreshPose();
  return 1;
}
