#include "model/morph.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "model/model_description.h"
#include "model/vmd_file.h"
#include "support/debug.h"

float SampleMorphKeys(const VmdMorphKey* keys, int n, float frame) {
  if (!keys || n <= 0) return 0.0f;
  // the first key past the frame; the interval starts one before it
  const VmdMorphKey* next = std::upper_bound(keys, keys + n, frame,
                                             [](float f, const VmdMorphKey& k) { return f < float(k.frame); });
  if (next == keys) return keys[0].weight;
  if (next == keys + n) return keys[n - 1].weight;
  const VmdMorphKey& a = next[-1];
  const VmdMorphKey& b = next[0];
  // float(b.frame) > frame >= float(a.frame), so the span is never zero
  const float t = (frame - float(a.frame)) / (float(b.frame) - float(a.frame));
  return a.weight + (b.weight - a.weight) * t;
}

void CMorph::Clear() {
  m_bind.clear();
  m_positions.clear();
  m_morphs.clear();
  m_entries.clear();
  m_keys.clear();
  m_applied.clear();
  m_dirty = false;
  m_members.clear();
  m_uvEntries.clear();
  m_boneEntries.clear();
  m_materialEntries.clear();
  m_impulseEntries.clear();
  for (int c = 0; c < 5; ++c) {
    m_uvBind[c].clear();
    m_uvNow[c].clear();
  }
  m_uvDirty = false;
  m_boneChanges.clear();
  m_boneSlot.clear();
  m_materialChanges.clear();
  m_materialDirty = m_materialActive = false;
  m_materialCount = 0;
  m_impulses.clear();
}

namespace {

bool Finite(const float* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// The record's changed fields in MaterialMorphField order.
void MaterialFields(const ModelMaterialOffset& o, float (&out)[kMaterialMorphFields]) {
  std::memcpy(out + kMatDiffuse, o.diffuse, sizeof o.diffuse);
  std::memcpy(out + kMatSpecular, o.specular, sizeof o.specular);
  out[kMatPower] = o.specularPower;
  std::memcpy(out + kMatAmbient, o.ambient, sizeof o.ambient);
  std::memcpy(out + kMatEdgeColour, o.edgeColour, sizeof o.edgeColour);
  out[kMatEdgeSize] = o.edgeSize;
  std::memcpy(out + kMatTextureTint, o.textureTint, sizeof o.textureTint);
  std::memcpy(out + kMatSphereTint, o.sphereTint, sizeof o.sphereTint);
  std::memcpy(out + kMatToonTint, o.toonTint, sizeof o.toonTint);
}

// The entries [first, first + count) of an array of n, or false.
bool InArray(uint32_t first, uint32_t count, size_t n) { return first <= n && count <= n - first; }

}  // namespace

void CMorph::Build(const CModelDescription& model) {
  Clear();
  const int32_t vertexCount = int32_t(model.m_vertices.size());
  m_bind.resize(size_t(vertexCount));
  for (int32_t i = 0; i < vertexCount; ++i) {
    const ModelVertex& v = model.m_vertices[size_t(i)];
    m_bind[size_t(i)] = D3DXVECTOR3(v.pos[0], v.pos[1], v.pos[2]);
  }
  m_positions = m_bind;
  const int32_t count = int32_t(model.m_morphs.size());
  m_morphs.resize(size_t(count));
  m_applied.reserve(size_t(count));
  m_materialCount = model.m_materials.size();
  m_boneSlot.assign(model.m_bones.size(), -1);
  if (count == 0) return;
  for (int32_t i = 0; i < count; ++i) {
    m_morphs[size_t(i)].name = model.m_morphs[size_t(i)].name;
    m_morphs[size_t(i)].kind = model.m_morphs[size_t(i)].kind;
  }

  // A PMD model's base: its entries name mesh vertices; its positions repeat
  // the mesh's and are not used (the mesh is where every morph starts from).
  // Without one (PMX) the entries name mesh vertices themselves.
  const bool hasBase = model.m_morphs[0].kind == kMorphPmdBase;
  const ModelVertexOffset* offsets = model.m_vertexOffsets.data();
  const ModelVertexOffset* base = hasBase ? offsets + model.m_morphs[0].first : nullptr;
  const uint32_t baseCount = hasBase ? model.m_morphs[0].count : uint32_t(vertexCount);
  if (hasBase && !InArray(model.m_morphs[0].first, baseCount, model.m_vertexOffsets.size())) {
    DebugPrintf("PMD morph error : the base morph's entries lie outside the offsets; no morph plays\n");
    return;
  }
  for (uint32_t j = 0; hasBase && j < baseCount; ++j) {
    if (base[j].vertex >= uint32_t(vertexCount)) {
      DebugPrintf(
          "PMD morph error : base morph entry [%u] vertex %u is not below the vertex count %d; no morph plays\n", j,
          unsigned(base[j].vertex), vertexCount);
      return;
    }
  }

  size_t total = 0;
  for (int32_t i = 0; i < count; ++i)
    if (model.m_morphs[size_t(i)].kind == kMorphVertex) total += model.m_morphs[size_t(i)].count;
  m_entries.reserve(std::min(total, model.m_vertexOffsets.size()));  // every entry was 16 bytes or more of the file
  for (int32_t i = hasBase ? 1 : 0; i < count; ++i) {
    Morph& m = m_morphs[size_t(i)];
    m.first = m.end = 0;
    if (m.kind == kMorphVertex)
      BuildVertexMorph(model, i, hasBase, baseCount);
    else if (!hasBase)
      m.plays = BuildOtherMorph(model, i);
  }
  // Only the uv channels some playing morph changes are kept.
  for (int32_t i = 0; i < count; ++i) {
    const Morph& m = m_morphs[size_t(i)];
    if (!m.plays || m.kind < kMorphUv || m.kind > kMorphAddUv1 + 3) continue;
    const int c = m.kind - kMorphUv;
    if (!m_uvBind[c].empty() || vertexCount == 0) continue;
    std::vector<float>& bind = m_uvBind[c];
    bind.assign(size_t(vertexCount) * 4, 0.0f);
    for (int32_t v = 0; v < vertexCount; ++v) {
      if (c == 0) {
        bind[size_t(v) * 4] = model.m_vertices[size_t(v)].uv[0];
        bind[size_t(v) * 4 + 1] = model.m_vertices[size_t(v)].uv[1];
      } else if (c <= model.m_nAddUv && model.m_addUvs.size() >= size_t(vertexCount) * size_t(model.m_nAddUv) * 4) {
        std::memcpy(&bind[size_t(v) * 4], &model.m_addUvs[(size_t(v) * size_t(model.m_nAddUv) + size_t(c - 1)) * 4],
                    4 * sizeof(float));
      }
    }
    m_uvNow[c] = bind;
  }
}

void CMorph::BuildVertexMorph(const CModelDescription& model, int32_t i, bool hasBase, uint32_t baseCount) {
  const ModelMorph& rec = model.m_morphs[size_t(i)];
  Morph& m = m_morphs[size_t(i)];
  const std::string_view name = rec.name;
  m.first = m.end = m_entries.size();
  if (!InArray(rec.first, rec.count, model.m_vertexOffsets.size())) {
    DebugPrintf("%s morph error : morph [%d] %.*s entries lie outside the offsets; morph left out\n",
                hasBase ? "PMD" : "PMX", int(i), int(name.size()), name.data());
    return;
  }
  const ModelVertexOffset* offsets = model.m_vertexOffsets.data();
  const ModelVertexOffset* base = hasBase ? offsets + model.m_morphs[0].first : nullptr;
  for (uint32_t j = 0; j < rec.count; ++j) {
    const ModelVertexOffset& e = offsets[rec.first + j];
    const D3DXVECTOR3 offset(e.pos[0], e.pos[1], e.pos[2]);
    if (e.vertex >= baseCount) {
      if (hasBase)
        DebugPrintf(
            "PMD morph error : morph [%d] %.*s entry [%u] base index %u is not below the base count %u; "
            "morph left out\n",
            int(i), int(name.size()), name.data(), j, unsigned(e.vertex), baseCount);
      else
        DebugPrintf(
            "PMX morph error : morph [%d] %.*s entry [%u] vertex %u is not below the vertex count %u; "
            "morph left out\n",
            int(i), int(name.size()), name.data(), j, unsigned(e.vertex), baseCount);
      m_entries.resize(m.first);
      return;
    }
    if (!std::isfinite(offset.x) || !std::isfinite(offset.y) || !std::isfinite(offset.z)) {
      DebugPrintf("%s morph error : morph [%d] %.*s entry [%u] offset is not a finite number; morph left out\n",
                  hasBase ? "PMD" : "PMX", int(i), int(name.size()), name.data(), j);
      m_entries.resize(m.first);
      return;
    }
    m_entries.push_back({hasBase ? base[e.vertex].vertex : e.vertex, offset});
  }
  m.end = m_entries.size();
  m.plays = true;
}

bool CMorph::BuildOtherMorph(const CModelDescription& model, int32_t i) {
  const ModelMorph& rec = model.m_morphs[size_t(i)];
  Morph& m = m_morphs[size_t(i)];
  const std::string_view name = rec.name;
  auto refuse = [&](uint32_t j, const char* why) {
    DebugPrintf("PMX morph error : morph [%d] %.*s entry [%u] %s; morph left out\n", int(i), int(name.size()),
                name.data(), j, why);
    return false;
  };
  auto outside = [&]() {
    DebugPrintf("PMX morph error : morph [%d] %.*s entries lie outside the offsets; morph left out\n", int(i),
                int(name.size()), name.data());
    return false;
  };
  switch (rec.kind) {
    case kMorphGroup:
    case kMorphFlip: {
      if (!InArray(rec.first, rec.count, model.m_groupOffsets.size())) return outside();
      m.first = m_members.size();
      for (uint32_t j = 0; j < rec.count; ++j) {
        const ModelGroupOffset& o = model.m_groupOffsets[rec.first + j];
        if (o.morph < 0 || size_t(o.morph) >= model.m_morphs.size()) {
          m_members.resize(m.first);
          return refuse(j, "names no morph of the model");
        }
        if (!std::isfinite(o.ratio)) {
          m_members.resize(m.first);
          return refuse(j, "ratio is not a finite number");
        }
        const uint8_t kind = model.m_morphs[size_t(o.morph)].kind;
        if (kind == kMorphGroup || kind == kMorphFlip || kind == kMorphPmdBase) {
          // followed, a group naming itself or another group could loop
          DebugPrintf("PMX morph : morph [%d] %.*s entry [%u] names group or flip [%d]; nesting is not followed, "
                      "entry skipped\n",
                      int(i), int(name.size()), name.data(), j, int(o.morph));
          continue;
        }
        m_members.push_back({uint32_t(o.morph), o.ratio});
      }
      m.end = m_members.size();
      return true;
    }
    case kMorphBone: {
      if (!InArray(rec.first, rec.count, model.m_boneOffsets.size())) return outside();
      m.first = m_boneEntries.size();
      for (uint32_t j = 0; j < rec.count; ++j) {
        const ModelBoneOffset& o = model.m_boneOffsets[rec.first + j];
        D3DXQUATERNION turn(o.rot[0], o.rot[1], o.rot[2], o.rot[3]);
        const float length = std::sqrt(turn.x * turn.x + turn.y * turn.y + turn.z * turn.z + turn.w * turn.w);
        const char* why = o.bone < 0 || o.bone >= model.BoneCount() ? "names no bone of the model"
                          : !Finite(o.pos, 3) || !Finite(o.rot, 4) || !std::isfinite(length)
                              ? "holds a number that is not finite"
                          : length < 1e-6f ? "turns by a quaternion of no length"
                                           : nullptr;
        if (why) {
          m_boneEntries.resize(m.first);
          return refuse(j, why);
        }
        D3DXQuaternionNormalize(&turn, &turn);
        m_boneEntries.push_back({o.bone, D3DXVECTOR3(o.pos[0], o.pos[1], o.pos[2]), turn});
      }
      m.end = m_boneEntries.size();
      return true;
    }
    case kMorphUv:
    case kMorphAddUv1:
    case kMorphAddUv1 + 1:
    case kMorphAddUv1 + 2:
    case kMorphAddUv1 + 3: {
      if (!InArray(rec.first, rec.count, model.m_uvOffsets.size())) return outside();
      m.first = m_uvEntries.size();
      for (uint32_t j = 0; j < rec.count; ++j) {
        const ModelUvOffset& o = model.m_uvOffsets[rec.first + j];
        const char* why = o.vertex >= model.m_vertices.size() ? "names no vertex of the mesh"
                          : !Finite(o.uv, 4)                   ? "holds a number that is not finite"
                                                               : nullptr;
        if (why) {
          m_uvEntries.resize(m.first);
          return refuse(j, why);
        }
        UvEntry e{o.vertex, {o.uv[0], o.uv[1], o.uv[2], o.uv[3]}};
        // the drawn uv has two components; the others of its offset mean nothing
        if (rec.kind == kMorphUv) e.offset[2] = e.offset[3] = 0.0f;
        m_uvEntries.push_back(e);
      }
      m.end = m_uvEntries.size();
      return true;
    }
    case kMorphMaterial: {
      if (!InArray(rec.first, rec.count, model.m_materialOffsets.size())) return outside();
      m.first = m_materialEntries.size();
      for (uint32_t j = 0; j < rec.count; ++j) {
        const ModelMaterialOffset& o = model.m_materialOffsets[rec.first + j];
        MaterialEntry e{o.material, o.op, {}};
        MaterialFields(o, e.value);
        const char* why = o.material < -1 || (o.material >= 0 && size_t(o.material) >= m_materialCount)
                              ? "names no material of the model"
                          : o.op > 1                          ? "has an operation other than multiply (0) or add (1)"
                          : !Finite(e.value, kMaterialMorphFields) ? "holds a number that is not finite"
                                                                    : nullptr;
        if (why) {
          m_materialEntries.resize(m.first);
          return refuse(j, why);
        }
        m_materialEntries.push_back(e);
      }
      m.end = m_materialEntries.size();
      return true;
    }
    case kMorphImpulse: {
      if (!InArray(rec.first, rec.count, model.m_impulseOffsets.size())) return outside();
      m.first = m_impulseEntries.size();
      for (uint32_t j = 0; j < rec.count; ++j) {
        const ModelImpulseOffset& o = model.m_impulseOffsets[rec.first + j];
        const char* why = o.body < 0 || size_t(o.body) >= model.m_bodies.size() ? "names no rigid body of the model"
                          : !Finite(o.velocity, 3) || !Finite(o.torque, 3)       ? "holds a number that is not finite"
                                                                                 : nullptr;
        if (why) {
          m_impulseEntries.resize(m.first);
          return refuse(j, why);
        }
        m_impulseEntries.push_back(o);
      }
      m.end = m_impulseEntries.size();
      return true;
    }
    default:
      DebugPrintf("PMX morph error : morph [%d] %.*s is of unknown kind %u; morph left out\n", int(i),
                  int(name.size()), name.data(), unsigned(rec.kind));
      return false;
  }
}

void CMorph::AttachMotion(const CVmdFile& motion) {
  ResetWeights();
  // The tracks by name once, so a model of many morphs does not search the
  // motion once per morph; each track's keys are copied once, however many
  // morphs share its name.
  std::unordered_map<std::string_view, int32_t> byName;
  for (int32_t t = 0; t < motion.m_nMorphTrack; ++t)
    byName.try_emplace(std::string_view(motion.m_pMorphTrack[t].name), t);
  std::unordered_map<int32_t, std::pair<size_t, size_t>> copied;
  size_t nonNumbers = 0;
  for (Morph& m : m_morphs) {
    if (!m.plays) continue;
    const auto found = byName.find(m.name);
    if (found == byName.end()) continue;
    auto [slot, added] = copied.try_emplace(found->second);
    if (added) {
      const VmdMorphTrack& track = motion.m_pMorphTrack[found->second];
      const size_t first = m_keys.size();
      // Keys read later come first among equal frames, as in bone tracks.
      for (int32_t k = track.nKey; k-- > 0;) {
        VmdMorphKey key = track.pKey[k];
        if (!std::isfinite(key.weight)) {
          key.weight = 0.0f;
          ++nonNumbers;
        }
        m_keys.push_back(key);
      }
      std::stable_sort(m_keys.begin() + std::ptrdiff_t(first), m_keys.end(),
                       [](const VmdMorphKey& a, const VmdMorphKey& b) { return a.frame < b.frame; });
      slot->second = {first, m_keys.size()};
    }
    m.firstKey = slot->second.first;
    m.endKey = slot->second.second;
  }
  if (nonNumbers) DebugPrintf("VMD morph keys : %zu weights that are no finite number taken as 0\n", nonNumbers);
}

void CMorph::ResetWeights() {
  m_keys.clear();
  for (Morph& m : m_morphs) {
    m.firstKey = m.endKey = 0;
    m.weight = 0.0f;
  }
  Resolve();
}

void CMorph::SampleMotion(float frame) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  for (Morph& m : m_morphs) {
    if (!m.plays || m.firstKey == m.endKey) continue;
    m.weight = SampleMorphKeys(m_keys.data() + m.firstKey, int(m.endKey - m.firstKey), frame);
  }
  Resolve();
}

void CMorph::Resolve() {
  const size_t count = m_morphs.size();
  std::vector<float>& played = m_resolved;
  played.assign(count, 0.0f);
  for (size_t i = 0; i < count; ++i)
    if (m_morphs[i].plays) played[i] = m_morphs[i].weight;
  for (size_t i = 0; i < count; ++i) {
    const Morph& m = m_morphs[i];
    if (!m.plays || m.weight == 0.0f) continue;
    if (m.kind == kMorphGroup) {
      // every member by the group's weight times its ratio, on top of its own
      for (size_t e = m.first; e < m.end; ++e) played[m_members[e].morph] += m.weight * m_members[e].ratio;
    } else if (m.kind == kMorphFlip && m.end > m.first && m.weight > 0.0f) {
      // The weight chooses one member and does not scale it: a weight in
      // (0, 1] is cut into as many equal spans as there are members, span k
      // (from k / n up to, not including, (k + 1) / n) choosing member k; 1
      // and above choose the last. The chosen member plays at its ratio.
      const size_t n = m.end - m.first;
      const float at = std::floor(m.weight * float(n));
      const size_t k = at >= float(n) ? n - 1 : size_t(at);
      played[m_members[m.first + k].morph] += m_members[m.first + k].ratio;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    Morph& m = m_morphs[i];
    if (m.played == played[i]) continue;
    m.played = played[i];
    switch (m.kind) {
      case kMorphVertex:
        m_dirty = true;
        break;
      case kMorphMaterial:
        m_materialDirty = true;
        break;
      default:
        if (m.kind >= kMorphUv && m.kind <= kMorphAddUv1 + 3) m_uvDirty = true;
        break;
    }
  }
}

const D3DXVECTOR3* CMorph::Positions() {
  if (m_positions.empty()) return nullptr;
  if (!m_dirty) return m_positions.data();
  // Back to the bind positions where the last offsets went, then every
  // active morph's offsets in model order.
  for (uint32_t i : m_applied) {
    const Morph& m = m_morphs[i];
    for (size_t e = m.first; e < m.end; ++e) m_positions[m_entries[e].vertex] = m_bind[m_entries[e].vertex];
  }
  m_applied.clear();
  for (uint32_t i = 0; i < uint32_t(m_morphs.size()); ++i) {
    const Morph& m = m_morphs[i];
    if (m.kind != kMorphVertex || !Active(m)) continue;
    m_applied.push_back(i);
    for (size_t e = m.first; e < m.end; ++e) {
      const Entry& entry = m_entries[e];
      D3DXVECTOR3& p = m_positions[entry.vertex];
      p.x += m.played * entry.offset.x;
      p.y += m.played * entry.offset.y;
      p.z += m.played * entry.offset.z;
    }
  }
  m_dirty = false;
  return m_positions.data();
}

const float* CMorph::Uvs(int channel) {
  if (channel < 0 || channel > 4 || m_uvBind[channel].empty()) return nullptr;
  if (m_uvDirty) {
    // every kept channel afresh: uv morphs are few and their channels small
    for (int c = 0; c < 5; ++c)
      if (!m_uvBind[c].empty()) std::copy(m_uvBind[c].begin(), m_uvBind[c].end(), m_uvNow[c].begin());
    for (const Morph& m : m_morphs) {
      if (m.kind < kMorphUv || m.kind > kMorphAddUv1 + 3 || !Active(m)) continue;
      float* now = m_uvNow[m.kind - kMorphUv].data();
      for (size_t e = m.first; e < m.end; ++e) {
        const UvEntry& entry = m_uvEntries[e];
        for (int k = 0; k < 4; ++k) now[size_t(entry.vertex) * 4 + size_t(k)] += m.played * entry.offset[k];
      }
    }
    m_uvDirty = false;
  }
  return m_uvNow[channel].data();
}

std::span<const BoneChange> CMorph::BoneChanges() {
  for (const BoneChange& c : m_boneChanges) m_boneSlot[size_t(c.bone)] = -1;
  m_boneChanges.clear();
  for (const Morph& m : m_morphs) {
    if (m.kind != kMorphBone || !Active(m)) continue;
    for (size_t e = m.first; e < m.end; ++e) {
      const BoneEntry& entry = m_boneEntries[e];
      int32_t& slot = m_boneSlot[size_t(entry.bone)];
      if (slot < 0) {
        slot = int32_t(m_boneChanges.size());
        BoneChange c{entry.bone, D3DXVECTOR3(0, 0, 0), D3DXQUATERNION()};
        D3DXQuaternionIdentity(&c.turn);
        m_boneChanges.push_back(c);
      }
      BoneChange& c = m_boneChanges[size_t(slot)];
      c.move += entry.move * m.played;
      D3DXQUATERNION identity, part;
      D3DXQuaternionIdentity(&identity);
      D3DXQuaternionSlerp(&part, &identity, &entry.turn, m.played);
      D3DXQuaternionMultiply(&c.turn, &c.turn, &part);
    }
  }
  return m_boneChanges;
}

const std::vector<MaterialChange>* CMorph::MaterialChanges() {
  if (!m_materialDirty) return m_materialActive ? &m_materialChanges : nullptr;
  m_materialDirty = false;
  m_materialActive = false;
  MaterialChange none;
  std::fill(std::begin(none.mul), std::end(none.mul), 1.0f);
  std::fill(std::begin(none.add), std::end(none.add), 0.0f);
  m_materialChanges.assign(m_materialCount, none);
  for (const Morph& m : m_morphs) {
    if (m.kind != kMorphMaterial || !Active(m)) continue;
    m_materialActive = true;
    for (size_t e = m.first; e < m.end; ++e) {
      const MaterialEntry& entry = m_materialEntries[e];
      const size_t from = entry.material < 0 ? 0 : size_t(entry.material);
      const size_t to = entry.material < 0 ? m_materialCount : from + 1;
      for (size_t t = from; t < to; ++t) {
        MaterialChange& c = m_materialChanges[t];
        for (int f = 0; f < kMaterialMorphFields; ++f) {
          if (entry.op == 0)
            c.mul[f] *= 1.0f + m.played * (entry.value[f] - 1.0f);
          else
            c.add[f] += m.played * entry.value[f];
        }
      }
    }
  }
  return m_materialActive ? &m_materialChanges : nullptr;
}

std::span<const CMorph::Impulse> CMorph::Impulses() {
  m_impulses.clear();
  for (const Morph& m : m_morphs) {
    if (m.kind != kMorphImpulse || !Active(m)) continue;
    for (size_t e = m.first; e < m.end; ++e) m_impulses.push_back({&m_impulseEntries[e], m.played});
  }
  return m_impulses;
}

float CMorph::Weight(int morph) const {
  return Plays(morph) ? m_morphs[size_t(morph)].played : 0.0f;
}

std::span<const CMorph::Entry> CMorph::Offsets(int morph) const {
  if (!Plays(morph) || m_morphs[size_t(morph)].kind != kMorphVertex) return {};
  const Morph& m = m_morphs[size_t(morph)];
  return std::span<const Entry>(m_entries.data() + m.first, m.end - m.first);
}

std::string_view CMorph::Name(int morph) const {
  return morph >= 0 && size_t(morph) < m_morphs.size() ? std::string_view(m_morphs[size_t(morph)].name) : std::string_view();
}

bool CMorph::Plays(int morph) const {
  return morph >= 0 && size_t(morph) < m_morphs.size() && m_morphs[size_t(morph)].plays;
}
