// Fuzz target for morph records: the input is the morph block of a model
// (count, heads, entries) set between a fixed mesh and empty display lists,
// followed by the morph keys of a motion. A model that loads gets its
// morphs built (entries pointing outside are left out, never read), plays
// the keys at a few frames, and with every weight back at 0 must give its
// bind positions bit for bit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/model_description.h"
#include "model/morph.h"
#include "model/vmd_file.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fuzz/seed_corpus.h"

namespace {

using namespace qev::fixture;

// The model without morphs and display lists: its header, twelve vertices,
// faces, a material and two bones. The morph block goes after it.
PmdDesc Mesh() {
  PmdDesc d = SamplePmd();
  d.vertices.resize(12, d.vertices.back());
  d.morphs.clear();
  d.morphDisp.clear();
  d.frameNames.clear();
  d.englishFrameNames.clear();
  d.boneDisp.clear();
  d.extent = PmdExtent::kBody;
  return d;
}

const std::string& Prefix() {
  // the body's last 8 bytes are the empty morph block (2) and the three
  // empty display lists (1 + 1 + 4)
  static const std::string bytes = [] {
    const std::string whole = BuildPmd(Mesh());
    return whole.substr(0, whole.size() - 8);
  }();
  return bytes;
}

// Bytes that end the model after the morph block: no display entries.
constexpr char kDisplayLists[6] = {};

// Where the motion's bytes start: after the model's, marked by a separator
// the fuzzer can move or drop.
constexpr char kSeparator[] = "@MOTION@";

// A seed: the morph block of the sample model, then a motion of morph keys.
std::string Seed(const PmdDesc& morphs, const VmdDesc& motion) {
  PmdDesc d = Mesh();
  d.morphs = morphs.morphs;
  const std::string whole = BuildPmd(d);
  const std::string block = whole.substr(Prefix().size(), whole.size() - 6 - Prefix().size());
  return block + kSeparator + BuildVmd(motion);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  VmdDesc motion;
  motion.extent = VmdExtent::kMorphs;
  motion.morphs = SampleVmd().morphs;
  PmdDesc bad = SamplePmd();
  bad.morphs[2].vertices[0].vertex = 7;
  qev::fuzz::SeedCorpus(*argc, *argv, {{"sample", Seed(SamplePmd(), motion)}, {"bad", Seed(bad, motion)}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find(kSeparator);
  const std::string block = input.substr(0, cut);
  const std::string model = Prefix() + block + std::string(kDisplayLists, sizeof kDisplayLists);
  CModelDescription pmd;
  if (!pmd.LoadFromMemory(model.data(), model.size())) return 0;
  CMorph morph;
  morph.Build(pmd);
  if (morph.Count() != int(pmd.m_morphs.size())) std::abort();
  const D3DXVECTOR3* bind = morph.Positions();
  std::string before(reinterpret_cast<const char*>(bind), sizeof(D3DXVECTOR3) * pmd.m_vertices.size());

  CVmdFile vmd;
  if (cut != std::string::npos) {
    const std::string motion = input.substr(cut + sizeof kSeparator - 1);
    if (!vmd.LoadFromMemory(motion.data(), motion.size())) return 0;
  }
  morph.AttachMotion(vmd);
  for (float frame : {0.0f, 3.0f, 7.5f, 1e9f}) {
    morph.SampleMotion(frame);
    morph.Positions();
  }
  for (int i = 0; i < morph.Count(); ++i)
    if (!morph.Plays(i) && morph.Weight(i) != 0.0f) std::abort();
  morph.ResetWeights();
  if (std::memcmp(morph.Positions(), before.data(), before.size()) != 0) std::abort();
  return 0;
}
