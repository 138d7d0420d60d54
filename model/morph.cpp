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
}

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
  if (count == 0) return;
  const ModelVertexOffset* offsets = model.m_vertexOffsets.data();

  // A PMD model's base: its entries name mesh vertices; its positions repeat
  // the mesh's and are not used (the mesh is where every morph starts from).
  // Without one (PMX) the entries name mesh vertices themselves.
  const bool hasBase = model.m_morphs[0].kind == kMorphPmdBase;
  const ModelVertexOffset* base = hasBase ? offsets + model.m_morphs[0].first : nullptr;
  const uint32_t baseCount = hasBase ? model.m_morphs[0].count : uint32_t(vertexCount);
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
  m_entries.reserve(total);  // every entry was 16 bytes or more of the file
  for (int32_t i = hasBase ? 1 : 0; i < count; ++i) {
    const ModelMorph& rec = model.m_morphs[size_t(i)];
    Morph& m = m_morphs[size_t(i)];
    m.first = m.end = m_entries.size();
    m.name = rec.name;
    if (rec.kind != kMorphVertex) continue;
    const std::string_view name = rec.name;
    bool refused = false;
    for (uint32_t j = 0; j < rec.count && !refused; ++j) {
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
        refused = true;
      } else if (!std::isfinite(offset.x) || !std::isfinite(offset.y) || !std::isfinite(offset.z)) {
        DebugPrintf("%s morph error : morph [%d] %.*s entry [%u] offset is not a finite number; morph left out\n",
                    hasBase ? "PMD" : "PMX", int(i), int(name.size()), name.data(), j);
        refused = true;
      } else {
        m_entries.push_back({hasBase ? base[e.vertex].vertex : e.vertex, offset});
      }
    }
    if (refused) {
      m_entries.resize(m.first);
      m.end = m.first;
      continue;
    }
    m.end = m_entries.size();
    m.plays = true;
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
    if (m.weight != 0.0f) m_dirty = true;
    m.weight = 0.0f;
  }
}

void CMorph::SampleMotion(float frame) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  for (Morph& m : m_morphs) {
    if (!m.plays || m.firstKey == m.endKey) continue;
    const float w = SampleMorphKeys(m_keys.data() + m.firstKey, int(m.endKey - m.firstKey), frame);
    if (w != m.weight) m_dirty = true;
    m.weight = w;
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
    if (!Active(m)) continue;
    m_applied.push_back(i);
    for (size_t e = m.first; e < m.end; ++e) {
      const Entry& entry = m_entries[e];
      D3DXVECTOR3& p = m_positions[entry.vertex];
      p.x += m.weight * entry.offset.x;
      p.y += m.weight * entry.offset.y;
      p.z += m.weight * entry.offset.z;
    }
  }
  m_dirty = false;
  return m_positions.data();
}

float CMorph::Weight(int morph) const {
  return Plays(morph) ? m_morphs[size_t(morph)].weight : 0.0f;
}

std::span<const CMorph::Entry> CMorph::Offsets(int morph) const {
  if (!Plays(morph)) return {};
  const Morph& m = m_morphs[size_t(morph)];
  return std::span<const Entry>(m_entries.data() + m.first, m.end - m.first);
}

std::string_view CMorph::Name(int morph) const {
  return morph >= 0 && size_t(morph) < m_morphs.size() ? std::string_view(m_morphs[size_t(morph)].name) : std::string_view();
}

bool CMorph::Plays(int morph) const {
  return morph >= 0 && size_t(morph) < m_morphs.size() && m_morphs[size_t(morph)].plays;
}
