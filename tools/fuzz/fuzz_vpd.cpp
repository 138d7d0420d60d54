// Fuzz target for the VPD reader: any bytes load or fail cleanly.
#include <cstdint>
#include <cstring>

#include "model/vpd_file.h"
#include "tools/fixtures/vpd_fixture.h"
#include "tools/fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  VpdDesc lf = SampleVpd();
  lf.newline = "\n";
  VpdDesc lower = SampleVpd();
  lower.blockWord = "bone";
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.vpd", BuildVpd(SampleVpd())}, {"lf.vpd", BuildVpd(lf)}, {"lower.vpd", BuildVpd(lower)}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVpdFile vpd;
  if (!vpd.LoadFromMemory(data, size, "fuzz.vpd")) return 0;
  for (int32_t i = 0; i < vpd.m_nPoseBone; ++i)
    if (vpd.FindPoseBone(vpd.m_pPoseBone[i].name) == nullptr || std::strlen(vpd.m_pPoseBone[i].name) > 255) __builtin_trap();
  return 0;
}
