// Pose and motion playback: what pose the skeleton has in every frame, and
// the fixed order in which it is evaluated: sample or apply, matrices, IK,
// follow-bone bodies, and last the physics step that writes bones back.
#include <string>

#include "app/scene.h"
#include "model/camera_track.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

constexpr float kFrameStep = 1.0f / 30.0f;  // seconds of physics per displayed frame

}  // namespace

void CScene::ApplyBoneMorphs() {
  for (const BoneChange& c : m_morph.BoneChanges()) {
    // Turned before the key's own rotation, moved after it: R(turn) x R(q) x
    // T(t + move), the key's animation being R(q) x T(t).
    D3DXMATRIX turn, move;
    D3DXMatrixRotationQuaternion(&turn, &c.turn);
    D3DXMatrixTranslation(&move, c.move.x, c.move.y, c.move.z);
    D3DXMATRIX* anim = nullptr;
    if (CPmdBone* node = BoneNode(c.bone))
      anim = &node->m_mAnim;
    else if (CIKTree* goal = m_ikRoot.FindByIndex(c.bone); goal && goal != &m_ikRoot)
      anim = &goal->m_mAnim;
    if (anim) *anim = turn * *anim * move;
  }
}

void CScene::FinishPose() {
  if (UsesDeformOrder())
    EvaluateDeform();
  else
    m_skeleton.UpdateMatrices(W(), B());
  // F4 switches every list off; the motion's switch keys turn single lists off
  if (CalcIK) {
    Solve({&m_ikRoot, &m_skeleton, &m_model, W(), B(), G(), m_nodes.empty() ? nullptr : m_nodes.data(),
           m_showIk.IkOn()});
    // The solver turns the links down the bone tree alone; evaluated again,
    // the bones granted from a link and those of later layers see its turn.
    if (UsesDeformOrder() && IkCount()) EvaluateDeform();
  }
  m_physics.SyncKinematicBodies(*this);
}

int CScene::LoadPose(const char* path, std::string* failure) {
  // Read beside the held pose: a file that fails leaves the model posed as it was.
  auto pose = std::make_unique<CVpdFile>();
  if (!pose->Load(path)) {
    *failure = qev::Sjis("ポーズデータ解析失敗");
    return 0;
  }
  m_pose = std::move(pose);
  m_nMode = kPosePlayback;
  RefreshPose();
  return 1;
}

int CScene::RefreshPose() {
  // Applying a pose clears every node's motion keys as well.
  m_skeleton.ApplyPose(*m_pose);
  m_ikRoot.ApplyPose(*m_pose);
  m_morph.ResetWeights();
  m_showIk.Clear();
  FinishPose();
  m_physics.ResetDynamicBodies(*this);
  return 1;
}

int CScene::LoadMotion(const char* path, std::string* failure) {
  // Read beside the held motion: a file that fails leaves the motion playing.
  auto motion = std::make_unique<CVmdFile>();
  if (!motion->Load(path)) {
    *failure = qev::Sjis("モーションデータ解析失敗");
    return 0;
  }
  return PlayMotion(std::move(motion), failure);
}

int CScene::PlayMotion(std::unique_ptr<CVmdFile> motion, std::string* failure) {
  // A camera motion moves no bone: played, it would only wipe the model's motion.
  if (IsCameraMotion(*motion)) {
    DebugPrintf("VMD : a camera motion (%d camera keys, no bone keys) does not play on a model\n",
                int(motion->m_nCameraKey));
    *failure = qev::Sjis("モーションデータ解析失敗");
    return 0;
  }
  m_motion = std::move(motion);
  StartMotion();
  return 1;
}

void CScene::StartMotion() {
  ++m_nStarts;
  m_skeleton.AttachMotion(*m_motion);
  m_ikRoot.AttachMotion(*m_motion);
  m_morph.AttachMotion(*m_motion);
  m_showIk.Attach(*m_motion, m_model);
  m_fFrame = 0.0f;
  m_nMode = kMotionPlayback;
  m_skeleton.SampleMotion(m_fFrame);
  m_ikRoot.SampleMotion(m_fFrame);
  m_morph.SampleMotion(m_fFrame);
  ApplyBoneMorphs();
  m_showIk.Sample(m_fFrame);
  FinishPose();
  m_physics.ResetDynamicBodies(*this);
  m_physics.SyncKinematicBodies(*this);
}

int CScene::AdvanceMotion(float step) {
  m_fFrame += step;
  // Frame N of a motion whose highest frame is N is never shown: it wraps to 0.
  const bool wrapped = m_fFrame >= float(m_motion->m_nMaxFrame);
  if (wrapped) m_fFrame = 0.0f;
  m_skeleton.SampleMotion(m_fFrame);
  m_ikRoot.SampleMotion(m_fFrame);
  m_morph.SampleMotion(m_fFrame);
  ApplyBoneMorphs();
  m_showIk.Sample(m_fFrame);
  FinishPose();
  if (!wrapped) return 1;
  m_physics.ResetDynamicBodies(*this);
  m_physics.SyncKinematicBodies(*this);
  return 0;
}

void CScene::UpdateFrame(bool spacePressed) {
  if (m_nMode == kMotionPlayback) {
    if (spacePressed)
      StartMotion();
    else
      AdvanceMotion(1.0f);
  } else if (spacePressed) {
    RefreshPose();
  }
  // Between poses only the physics moves bones.
  if (CalcBullet && m_physics.HasWorld()) m_physics.Step(kFrameStep);
}

int CScene::PlayFrame() {
  const int result = m_nMode == kMotionPlayback ? AdvanceMotion(1.0f) : 1;
  if (CalcBullet && m_physics.HasWorld()) m_physics.Step(kFrameStep);
  return result;
}

void CScene::SeekMotion(int32_t frame) {
  if (m_nMode != kMotionPlayback || !m_motion) return;
  const int32_t last = m_motion->m_nMaxFrame > 0 ? m_motion->m_nMaxFrame - 1 : 0;
  frame = frame < 0 ? 0 : frame > last ? last : frame;
  if (CalcBullet && m_physics.HasWorld() && frame <= kReplayFrames) {
    // the bodies as playback from frame 0 leaves them at this frame
    StartMotion();
    for (int32_t f = 0; f < frame; ++f) PlayFrame();
    return;
  }
  // sampled and finished exactly as playback arriving at the frame does
  m_fFrame = float(frame) - 1.0f;
  AdvanceMotion(1.0f);
  m_physics.ResetDynamicBodies(*this);
  m_physics.SyncKinematicBodies(*this);
}
