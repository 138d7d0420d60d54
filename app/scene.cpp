#include "app/scene.h"

CScene::CScene() : m_pose(std::make_unique<CVpdFile>()), m_motion(std::make_unique<CVmdFile>()) {}

CScene::~CScene() {
  // the bodies and the trees point into the model's records
  DiscardModel();
}

CPmdBone* CScene::BoneNode(int index) const {
  return index >= 0 && size_t(index) < m_nodes.size() ? m_nodes[size_t(index)] : nullptr;
}

void CScene::DrawBones(IDirect3DDevice9* device) { m_skeleton.Draw(device, nullptr); }
