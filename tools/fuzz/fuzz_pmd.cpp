// Fuzz target for the PMD reader: any bytes load or fail cleanly, and a
// loaded model holds only indices the later stages may follow.
#include <cstdint>
#include <cstdlib>

#include "model/pmd_file.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  PmdDesc body = SamplePmd();
  body.extent = PmdExtent::kBody;
  PmdDesc flag0 = SamplePmd();
  flag0.englishFlag = 0;
  PmdDesc toon = SamplePmd();
  toon.extent = PmdExtent::kToon;
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.pmd", BuildPmd(SamplePmd())},
                         {"body.pmd", BuildPmd(body)},
                         {"flag0.pmd", BuildPmd(flag0)},
                         {"toon.pmd", BuildPmd(toon)}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CPmdFile pmd;
  if (!pmd.LoadFromMemory(data, size)) return 0;
  // what the reader promises to the stages that follow the indices
  for (int32_t i = 0; i < pmd.m_nIndex; ++i)
    if (pmd.m_pIndex[i] >= uint32_t(pmd.m_nVertex)) std::abort();
  for (int32_t i = 0; i < pmd.m_nMaterial; ++i)
    if (uint64_t(pmd.m_pMaterial[i].firstIndex) + pmd.m_pMaterial[i].indexCount > uint64_t(pmd.m_nIndex)) std::abort();
  for (int32_t i = 0; i < pmd.m_nIk; ++i) {
    const PmdIkRec& ik = pmd.m_pIk[i];
    if (ik.head.ikBone >= pmd.m_nBone || ik.head.target >= pmd.m_nBone) std::abort();
    for (int j = 0; j < ik.head.chainLength; ++j)
      if (ik.chain[j] >= pmd.m_nBone) std::abort();
  }
  return 0;
}
