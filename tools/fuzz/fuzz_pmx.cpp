// Fuzz target for the PMX reader: any bytes load or fail cleanly, and a
// loaded model holds only indices the later stages may follow.
#include <cstdint>
#include <cstdlib>

#include "model/pmx_file.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  PmxDesc utf8 = SamplePmx();
  utf8.encoding = 1;
  utf8.vertexIndex = utf8.boneIndex = 2;
  PmxDesc wide = SamplePmx();
  wide.vertexIndex = wide.textureIndex = wide.materialIndex = wide.boneIndex = wide.morphIndex = wide.bodyIndex = 4;
  PmxDesc v20 = SamplePmx();
  v20.version = 2.0f;
  v20.additionalUv = 4;
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.pmx", BuildPmx(SamplePmx())},
                         {"utf8.pmx", BuildPmx(utf8)},
                         {"wide.pmx", BuildPmx(wide)},
                         {"v20.pmx", BuildPmx(v20)}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CPmxFile pmx;
  if (!pmx.LoadFromMemory(data, size)) return 0;
  // what the reader promises to the stages that follow the indices
  const size_t vertices = pmx.m_Vertices.size();
  const int64_t bones = int64_t(pmx.m_Bones.size());
  if (pmx.m_Indices.size() % 3) std::abort();
  for (uint32_t i : pmx.m_Indices)
    if (i >= vertices) std::abort();
  for (const PmxMaterial& m : pmx.m_Materials)
    if (uint64_t(m.firstIndex) + m.indexCount > pmx.m_Indices.size()) std::abort();
  for (const PmxBone& b : pmx.m_Bones) {
    if (!(b.flags & kPmxBoneIk)) continue;
    if (b.ikTarget < 0 || b.ikTarget >= bones) std::abort();
    if (uint64_t(b.ikFirstLink) + b.ikLinkCount > pmx.m_IkLinks.size()) std::abort();
    for (uint32_t j = 0; j < b.ikLinkCount; ++j) {
      const int32_t link = pmx.m_IkLinks[b.ikFirstLink + j].bone;
      if (link < 0 || link >= bones) std::abort();
    }
  }
  auto inside = [](const PmxMorph& m, size_t size) { return uint64_t(m.first) + m.count <= size; };
  for (const PmxMorph& m : pmx.m_Morphs) {
    bool ok = true;
    switch (m.kind) {
      case kPmxMorphGroup:
      case kPmxMorphFlip: ok = inside(m, pmx.m_GroupOffsets.size()); break;
      case kPmxMorphVertex: ok = inside(m, pmx.m_VertexOffsets.size()); break;
      case kPmxMorphBone: ok = inside(m, pmx.m_BoneOffsets.size()); break;
      case kPmxMorphMaterial: ok = inside(m, pmx.m_MaterialOffsets.size()); break;
      case kPmxMorphImpulse: ok = inside(m, pmx.m_ImpulseOffsets.size()); break;
      default: ok = m.kind <= kPmxMorphAddUv1 + 3 && inside(m, pmx.m_UvOffsets.size()); break;
    }
    if (!ok) std::abort();
  }
  return 0;
}
