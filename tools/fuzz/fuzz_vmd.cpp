// Fuzz target for the VMD reader, bone track sampling and the camera track:
// any bytes load or fail cleanly, tracks come out in frame order, sampling
// never reads outside a track, and only a camera motion becomes a camera.
#include <cstdint>
#include <cstdlib>

#include "model/camera_track.h"
#include "model/vmd_file.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  VmdDesc morphs = SampleVmd();
  morphs.extent = VmdExtent::kMorphs;
  VmdDesc shadow = SampleVmd();
  shadow.extent = VmdExtent::kShadow;
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.vmd", BuildVmd(SampleVmd())},
                         {"morphs.vmd", BuildVmd(morphs)},
                         {"shadow.vmd", BuildVmd(shadow)},
                         {"camera.vmd", BuildVmd(SampleCamera())}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVmdFile vmd;
  if (!vmd.LoadFromMemory(data, size)) return 0;
  for (int32_t t = 0; t < vmd.m_nBoneTrack; ++t) {
    const VmdBoneTrack& track = vmd.m_pBoneTrack[t];
    for (int32_t i = 1; i < track.nKey; ++i)
      if (track.pKey[i - 1].frame > track.pKey[i].frame) std::abort();
    D3DXVECTOR3 pos;
    D3DXQUATERNION rot;
    for (float f : {0.0f, 0.5f, 7.5f, 100.0f, 1e10f})
      if (!SampleBoneKeys(track.pKey.get(), track.nKey, f, &pos, &rot)) std::abort();
  }
  CCameraTrack camera;
  if (camera.Attach(vmd) != (IsCameraMotion(vmd) ? 1 : 0)) std::abort();
  for (float f : {0.0f, 0.5f, 7.5f, 100.0f, 1e10f}) camera.View(f);
  return 0;
}
