// CMorph: a model's expressions (morphs) made ready to play. In a PMD model
// morph 0 is the base, whatever its kind byte says (the kind only groups
// morphs for display): the mesh vertices the face may move; every other
// morph lists entries into the base with an offset each, resolved to mesh
// vertices once at load. A PMX model's morphs come in every kind: vertex,
// uv and additional uv, bone, material, group, flip and impulse. A motion's
// morph tracks give each morph its own weight at a frame; groups and flips
// hand theirs on to their members, and each kind's result (positions, uvs,
// bone changes, material changes, impulses) is made from the weights every
// morph plays with, added in model order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/model_description.h"
#include "platform/d3dx9_math.h"

class CModelDescription;
class CVmdFile;
struct VmdMorphKey;

// The fields a material morph changes, as floats in the order of the
// record: diffuse rgba, specular rgb, specular power, ambient rgb, edge
// colour rgba, edge size, texture, sphere and toon tints rgba.
constexpr int kMaterialMorphFields = 28;
enum MaterialMorphField : int {
  kMatDiffuse = 0,
  kMatSpecular = 4,
  kMatPower = 7,
  kMatAmbient = 8,
  kMatEdgeColour = 11,
  kMatEdgeSize = 15,
  kMatTextureTint = 16,
  kMatSphereTint = 20,
  kMatToonTint = 24,
};

// What the playing material morphs make of one material's field: value =
// base x mul + add. Multiplying morphs (op 0) give mul the product of
// (1 + w x (factor - 1)); adding ones (op 1) give add the sum of w x offset;
// so the order of the morphs does not matter. A tint's base is 1 (white).
struct MaterialChange {
  float mul[kMaterialMorphFields];
  float add[kMaterialMorphFields];
  float Apply(int field, float base) const { return base * mul[field] + add[field]; }
};

// A bone's change from the playing bone morphs: a move (model units, the
// bone's parent space, z mirrored) and a turn (applied before the
// animation's own rotation).
struct BoneChange {
  int32_t bone;
  D3DXVECTOR3 move;
  D3DXQUATERNION turn;
};

// The weight of n keys (ascending frames) at a frame: linear between the two
// keys around it; before the first key the first key's weight, from the last
// key on the last key's weight. 0 without keys.
float SampleMorphKeys(const VmdMorphKey* keys, int n, float frame);

class CMorph {
 public:
  // Takes the model's bind positions and uvs and its morphs of every kind.
  // A morph with an entry that points outside what it changes (a vertex past
  // the mesh or the base, a bone, material or rigid body not in the model,
  // a group member not among the morphs) or holds no finite number is left
  // out with a log line and never read; without a usable base (PMD) no morph
  // plays. A group or flip member that is a group or flip itself (or the
  // morph itself) is skipped with a log line: nesting is not followed. All
  // weights start at 0.
  void Build(const CModelDescription& model);
  // No model: no vertices, no morphs.
  void Clear();

  // Every morph's own copy of the motion's track of its name (matched as
  // bone names are: the name's bytes against the track's, at most 15 bytes
  // in the file), sorted by frame; a morph without a track keeps weight 0.
  void AttachMotion(const CVmdFile& motion);
  // No tracks and every weight 0: what a pose gives (poses carry no morphs).
  void ResetWeights();
  // Every morph's weight from its track at the frame (clamped at 0).
  void SampleMotion(float frame);

  // The positions skinning starts from (model space, z mirrored), one per
  // vertex, brought up to date with the current weights. Only the vertices
  // of morphs that were or are active are touched, and only when a weight
  // changed since the last call. Null without vertices.
  const D3DXVECTOR3* Positions();

  // A morph's uvs (4 floats per vertex) brought up to date: channel 0 the
  // drawn uv (x, y; z and w 0), 1-4 the additional uvs. Null when no morph
  // of the model changes that channel (the model's own uvs hold).
  const float* Uvs(int channel);

  // Each bone moved by a bone morph playing now, once, in the order the
  // bones were first met: the sum of weight x move and the product of
  // slerp(identity, turn, weight) of its morphs in model order.
  std::span<const BoneChange> BoneChanges();

  // One change per material while a material morph plays (a morph naming
  // material -1 changes every material); null when none plays, so the
  // model's own looks hold unchanged.
  const std::vector<MaterialChange>* MaterialChanges();

  struct Impulse {
    const ModelImpulseOffset* offset;  // the model's record: body checked at load
    float weight;
  };
  // Every impulse offset of the impulse morphs playing now, in model order.
  std::span<const Impulse> Impulses();

  int Count() const { return int(m_morphs.size()); }
  // The weight a morph plays with now: its own plus what the groups (and
  // flips) it belongs to hand on; a group's or flip's own weight. 0 for the
  // base, a morph left out and an index out of range.
  float Weight(int morph) const;
  // Whether a morph plays: any morph but a PMD base that was not left out.
  bool Plays(int morph) const;

  struct Entry {
    uint32_t vertex;     // mesh vertex, checked at load
    D3DXVECTOR3 offset;  // z mirrored
  };
  // What a playing morph adds to its vertices at weight 1, in model order
  // (a vertex listed twice gets both); empty for the others.
  std::span<const Entry> Offsets(int morph) const;
  // A morph's name (code page 932); empty for an index out of range.
  std::string_view Name(int morph) const;

 private:
  struct Morph {
    size_t first = 0, end = 0;        // its entries in the array of its kind
    size_t firstKey = 0, endKey = 0;  // its track's keys in m_keys (shared by morphs of one name)
    bool plays = false;
    uint8_t kind = 0;     // ModelMorphKind
    float weight = 0.0f;  // its own, from its track
    float played = 0.0f;  // its own plus its groups' shares
    std::string name;  // code page 932, up to the terminator of its 20 bytes
  };
  struct Member {
    uint32_t morph;  // a morph that is no group or flip
    float ratio;
  };
  struct UvEntry {
    uint32_t vertex;
    float offset[4];
  };
  struct BoneEntry {
    int32_t bone;
    D3DXVECTOR3 move;
    D3DXQUATERNION turn;  // unit length
  };
  struct MaterialEntry {
    int32_t material;  // -1: every material
    uint8_t op;        // 0 multiply, 1 add
    float value[kMaterialMorphFields];
  };
  bool Active(const Morph& m) const { return m.plays && m.played != 0.0f; }
  // Each morph's played weight from the own weights; marks what changed.
  void Resolve();
  void BuildVertexMorph(const CModelDescription& model, int32_t i, bool hasBase, uint32_t baseCount);
  bool BuildOtherMorph(const CModelDescription& model, int32_t i);

  std::vector<D3DXVECTOR3> m_bind;       // the mesh's positions
  std::vector<D3DXVECTOR3> m_positions;  // bind plus the active offsets
  std::vector<Morph> m_morphs;           // model order; index 0 the base
  std::vector<Entry> m_entries;
  std::vector<VmdMorphKey> m_keys;
  std::vector<uint32_t> m_applied;  // morphs whose offsets m_positions holds, reserved at load
  bool m_dirty = false;             // a weight changed since m_positions was made

  std::vector<Member> m_members;  // of groups and flips
  std::vector<UvEntry> m_uvEntries;
  std::vector<BoneEntry> m_boneEntries;
  std::vector<MaterialEntry> m_materialEntries;
  std::vector<ModelImpulseOffset> m_impulseEntries;
  std::vector<float> m_uvBind[5];  // 4 floats a vertex; only channels some morph changes
  std::vector<float> m_uvNow[5];
  bool m_uvDirty = false;
  std::vector<BoneChange> m_boneChanges;
  std::vector<int32_t> m_boneSlot;  // bone -> its place in m_boneChanges this call, or -1
  std::vector<MaterialChange> m_materialChanges;
  bool m_materialDirty = false;
  bool m_materialActive = false;
  size_t m_materialCount = 0;
  std::vector<Impulse> m_impulses;
  std::vector<float> m_resolved;  // Resolve's scratch: the played weights
};
