// CScene: a loaded model turned into what the viewer animates and draws (the
// skeleton and IK goal tree, the matrix arrays W, B and G, the drawing buffer,
// one texture per material, the model's physics) and the playback that poses
// it every frame from a pose or a motion. Nothing here needs a window: the
// viewer adds the dialogs and message boxes, qevtool and the tests call it
// directly.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/model_physics.h"
#include "app/shade_light.h"
#include "model/ik_tree.h"
#include "model/model_description.h"
#include "model/morph.h"
#include "model/pmd_bone.h"
#include "model/pmx_deform.h"
#include "model/show_ik.h"
#include "model/vmd_file.h"
#include "model/vpd_file.h"
#include "platform/d3d9.h"
#include "render/dd_tex_pro90.h"
#include "render/material_look.h"
#include "support/buffer.h"

// One skinned vertex as the device draws it (format 0x152).
struct SkinnedVertex {
  float pos[3];
  float normal[3];
  D3DCOLOR diffuse;
  float uv[2];
};
static_assert(sizeof(SkinnedVertex) == 36, "skinned vertices are 36 bytes");
constexpr DWORD kSkinnedVertexFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

enum PlaybackMode : int32_t { kPosePlayback = 0, kMotionPlayback = 1 };

class CScene {
 public:
  CScene();
  CScene(const CScene&) = delete;
  CScene& operator=(const CScene&) = delete;
  virtual ~CScene();

  // ---- Model scene assembly ----
  // Discards the old scene, reads the model at a native path (a PMX file by
  // its ".pmx" extension or its mark, else a PMD file) and assembles it;
  // textures are made on the device (none without one). 1 when loaded; 0
  // with the message box text (code page 932) in *failure.
  int LoadModel(const char* path, IDirect3DDevice9* device, std::string* failure);
  // The old model's scene goes (skeleton, goal tree, arrays, physics, textures).
  void DiscardModel();
  // The model skinned on the processor from B x W and drawn material by material.
  void DrawModel(IDirect3DDevice9* device);
  // What both model draws do first: false when there is nothing to draw (no
  // model, or a motion's visibility key of 0); else the world transform and
  // vertex format set and the vertices skinned.
  bool BeginModelDraw(IDirect3DDevice9* device);
  // The skinning matrix B x W of every bone and from them every vertex's
  // posed position, once per frame, starting from the morphed bind positions.
  void UpdateSkin();
  // Fills the drawing buffer with material m's vertices as last posed; their count.
  int SkinMaterial(int m);

  // ---- Pose and motion playback ----
  // Reads a pose or a motion; on success it replaces the held one and plays.
  // 0 with the message box text in *failure; what was playing goes on.
  int LoadPose(const char* path, std::string* failure);
  int LoadMotion(const char* path, std::string* failure);
  // Plays a motion already read; a camera motion is refused (0, the model's
  // motion goes on).
  int PlayMotion(std::unique_ptr<CVmdFile> motion, std::string* failure);
  // The held pose onto both trees, finished, the simulated bodies reset.
  int RefreshPose();
  // The held motion attached again and played from frame 0.
  void StartMotion();
  // Frame + step, sampled and finished; 0 when it wrapped to frame 0.
  int AdvanceMotion(float step);
  // One frame's update: playback (SPACE restarts or re-applies), then the
  // physics step when CalcBullet is on.
  void UpdateFrame(bool spacePressed);
  // One frame of playback without SPACE: the next motion frame (none in pose
  // playback), then the physics step when CalcBullet is on. 0 when the
  // motion wrapped to frame 0.
  int PlayFrame();
  // Motion playback moved to a frame (from 0 to the highest frame - 1):
  // with physics on and the frame at most kReplayFrames, the motion is
  // restarted and played up to it, physics and all (as F9 plays it);
  // otherwise the frame is sampled and the simulated bodies are put back on
  // their bones there. Nothing in pose playback.
  void SeekMotion(int32_t frame);
  static constexpr int32_t kReplayFrames = 900;
  // The playing bone morphs onto the bones' animation just sampled (before
  // the matrices and IK): each bone turned and moved by its change.
  void ApplyBoneMorphs();
  // Matrices, IK when on, follow-bone bodies onto their bones.
  void FinishPose();
  // The bone tree node of a bone index; null when the bone is not in it.
  CPmdBone* BoneNode(int index) const;

  // ---- Shaded drawing (draw_shaded.cpp) ----
  // One look per material (and each vertex's edge scale) from the model's
  // material records: the one place shading reads the file's materials.
  void DescribeLooks();
  // The looks' sphere maps and toon files from the model's folder (each file
  // once); a missing toon file gives the built-in ramp of its index.
  void LoadLookTextures(const std::string& folder, IDirect3DDevice9* device);
  void DiscardLooks();
  // The model lit and toon-shaded material by material through the device's
  // shaded draw: opaque materials, each followed by its outline, then the
  // semi-transparent ones in model order without depth writes.
  void DrawShadedModel(IDirect3DDevice9* device);
  // The posed normals from the skinning matrices of the last UpdateSkin.
  void UpdateSkinNormals();
  // Material m's vertices for the shaded draw (posed normals) and their edge scales; their count.
  int SkinShadedMaterial(int m);
  // The looks drawn this frame: the model's own, or while a material morph
  // plays, copies with its changes (edge, sphere and toon files as they are;
  // the tints are worked out by the morphs but no draw takes them yet).
  const std::vector<MaterialLook>& FrameLooks();
  // The playing motion's light at its frame, else the default light.
  ShadeLight Light() const;

  // ---- Deformation of PMX models (bone_deform.cpp) ----
  // The bones' grant, layer and after-physics records and their evaluation
  // order, and the spherical vertices' constants, worked out once at load.
  // A grant that leads nowhere, round to itself or to a bone outside the
  // skeleton is refused with a log line. PMD models keep none of it, nor
  // does a PMX model with no grant, no bone after physics and one layer.
  void BuildDeform();
  // Every skeleton bone from its animation in deform order (layer, then
  // index), grants on top, into W and the nodes' kept matrices.
  void EvaluateDeform();
  // The bones after physics again, on the pose the physics step left.
  void EvaluateAfterPhysics();
  bool UsesDeformOrder() const { return !m_deformBones.empty(); }
  // A spherical or dual-quaternion vertex skinned from the last UpdateSkin's
  // matrices, starting from the given position.
  SkinnedPoint SkinCurved(size_t vertex, const D3DXVECTOR3& from) const;

  // The skeleton's bone markers and the IK goal markers' matrices.
  void DrawBones(IDirect3DDevice9* device);

  D3DXMATRIX* W() { return reinterpret_cast<D3DXMATRIX*>(m_W.m_pData); }
  D3DXMATRIX* B() { return reinterpret_cast<D3DXMATRIX*>(m_B.m_pData); }
  D3DXMATRIX* G() { return reinterpret_cast<D3DXMATRIX*>(m_G.m_pData); }
  int IkCount() const { return m_bLoaded ? m_model.IkCount() : 0; }
  bool Loaded() const { return m_bLoaded; }

  // Switches of the window title that the evaluation heeds.
  int CalcIK = 1;
  int CalcBullet = 1;

  // Playback state
  int32_t m_nMode = kPosePlayback;
  float m_fFrame = 0.0f;  // whole frames in the viewer; a 60-a-second recording takes halves too
  uint32_t m_nStarts = 0;  // StartMotion calls so far: playback restarted from frame 0
  std::unique_ptr<CVpdFile> m_pose;    // the last pose loaded
  std::unique_ptr<CVmdFile> m_motion;  // the last motion loaded

  // The model, whichever file it came from, and what is built from it
  CModelDescription m_model;
  CPmdBone m_skeleton;  // root: stands for no bone
  CIKTree m_ikRoot;     // root: stands for no IK list
  CBuffer m_W, m_B, m_G;  // bone world, inverse-bind (by bone index), IK goals (by IK list)
  CBuffer m_drawBuffer;   // SkinnedVertex, sized for the largest material
  int m_nMaxDrawVertex = 0;
  std::unique_ptr<CDDTexPro90[]> m_pTextures;  // one per material
  std::vector<CPmdBone*> m_nodes;              // bone index -> skeleton node, or null
  std::vector<D3DXMATRIX> m_skin;              // B x W per bone, refreshed per draw
  std::vector<D3DXVECTOR3> m_posed;            // each vertex skinned, refreshed per draw
  CMorph m_morph;                              // the expressions: what skinning starts from
  CShowIk m_showIk;                            // the motion's model visibility and IK list switches
  CModelPhysics m_physics;

  // Shading
  struct MaterialMaps {
    IDirect3DTexture9* sphere = nullptr;  // not owned: in m_lookTextures or m_builtInToons
    IDirect3DTexture9* toon = nullptr;
  };
  std::vector<MaterialLook> m_looks;                         // one per material
  std::vector<MaterialLook> m_morphedLooks;                  // m_looks with the material morphs, per frame
  std::vector<float> m_vertexEdgeScale;                      // one per vertex
  std::vector<MaterialMaps> m_materialMaps;                  // one per material
  std::vector<std::unique_ptr<CDDTexPro90>> m_lookTextures;  // sphere maps and toon files loaded
  std::unique_ptr<CDDTexPro90[]> m_builtInToons;             // made when a material needs one
  std::vector<D3DXVECTOR3> m_posedNormals;                   // each vertex's normal, posed
  std::vector<float> m_edgeScales;                           // per drawn vertex of one material

  // PMX deformation: by bone index (m_deformOrder holds skeleton bones only,
  // the ones after physics from m_firstAfterPhysics on), empty for PMD.
  std::vector<DeformBone> m_deformBones;
  std::vector<int32_t> m_deformOrder;
  size_t m_firstAfterPhysics = 0;
  std::vector<BoneMotion> m_boneKey;     // each bone's animation, as sampled or posed
  std::vector<BoneMotion> m_boneMotion;  // with its grant
  std::vector<uint8_t> m_deformScratch;
  std::vector<SdefVertex> m_sdef;          // one per vertex when any is spherical
  std::vector<D3DXQUATERNION> m_skinRot;   // per bone, when any vertex is spherical
  std::vector<DualQuat> m_skinDualQuat;    // per bone, when any vertex is dual-quaternion

 private:
  int AssembleModel(const char* path, IDirect3DDevice9* device, std::string* failure);
  void BuildTrees();
  bool m_bLoaded = false;
};
