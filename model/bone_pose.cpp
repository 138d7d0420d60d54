#include "model/bone_pose.h"

#include <algorithm>

#include "model/model_description.h"
#include "model/vmd_file.h"

const std::string& BoneName(const ModelBone& rec) { return rec.name; }

D3DXVECTOR3 BoneHead(const ModelBone& rec) { return D3DXVECTOR3(rec.head[0], rec.head[1], rec.head[2]); }

D3DXMATRIX LocalMatrix(const ModelBone& rec, const ModelBone* parent) {
  D3DXVECTOR3 offset = BoneHead(rec);
  if (parent) offset -= BoneHead(*parent);
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, offset.x, offset.y, offset.z);
  return m;
}

D3DXMATRIX PoseMatrix(const D3DXQUATERNION& q, const D3DXVECTOR3& t) {
  D3DXMATRIX r, tr, out;
  D3DXMatrixRotationQuaternion(&r, &q);
  D3DXMatrixTranslation(&tr, t.x, t.y, t.z);
  D3DXMatrixMultiply(&out, &r, &tr);
  return out;
}

void CopyTrack(const CVmdFile& motion, const ModelBone& rec, std::unique_ptr<VmdBoneKey[]>* keys, int32_t* count) {
  keys->reset();
  *count = 0;
  const VmdBoneTrack* track = motion.FindBoneTrack(BoneName(rec).c_str());
  if (!track || track->nKey <= 0) return;
  *keys = std::make_unique<VmdBoneKey[]>(size_t(track->nKey));
  std::copy(track->pKey.get(), track->pKey.get() + track->nKey, keys->get());
  *count = track->nKey;
}

D3DXMATRIX SampleTrack(const VmdBoneKey* keys, int32_t n, float frame, int32_t* last) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  D3DXVECTOR3 pos;
  D3DXQUATERNION rot;
  if (SampleBoneKeys(keys, n, frame, &pos, &rot, last)) return PoseMatrix(rot, pos);
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  return identity;
}
