// CMorph: a model's expressions (morphs) made ready to play. Morph 0 is the
// base, whatever its kind byte says (the kind only groups morphs for
// display): the mesh vertices the face may move. Every other morph lists entries
// into the base with an offset each; they are resolved to mesh vertices once
// at load. A motion's morph tracks give the weights at a frame, and the
// positions skinning starts from are the bind positions plus weight x offset
// of every morph whose weight is not zero, added in model order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3dx9_math.h"

class CModelDescription;
class CVmdFile;
struct VmdMorphKey;

// The weight of n keys (ascending frames) at a frame: linear between the two
// keys around it; before the first key the first key's weight, from the last
// key on the last key's weight. 0 without keys.
float SampleMorphKeys(const VmdMorphKey* keys, int n, float frame);

class CMorph {
 public:
  // Takes the model's bind positions and vertex morphs. A morph whose entry
  // points past the mesh (the base, or a model without one) or past the base
  // (any other) is left out with a log line and never read; without a usable
  // base no morph plays. Morphs of other kinds take no part yet: they never
  // play. All weights start at 0.
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

  int Count() const { return int(m_morphs.size()); }
  // A morph's weight now; 0 for the base, a morph left out and an index out of range.
  float Weight(int morph) const;
  // Whether a morph plays: an offset morph that was not left out.
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
    size_t first = 0, end = 0;        // its entries in m_entries
    size_t firstKey = 0, endKey = 0;  // its track's keys in m_keys (shared by morphs of one name)
    bool plays = false;
    float weight = 0.0f;
    std::string name;  // code page 932, up to the terminator of its 20 bytes
  };
  bool Active(const Morph& m) const { return m.plays && m.weight != 0.0f; }

  std::vector<D3DXVECTOR3> m_bind;       // the mesh's positions
  std::vector<D3DXVECTOR3> m_positions;  // bind plus the active offsets
  std::vector<Morph> m_morphs;           // model order; index 0 the base
  std::vector<Entry> m_entries;
  std::vector<VmdMorphKey> m_keys;
  std::vector<uint32_t> m_applied;  // morphs whose offsets m_positions holds, reserved at load
  bool m_dirty = false;             // a weight changed since m_positions was made
};
