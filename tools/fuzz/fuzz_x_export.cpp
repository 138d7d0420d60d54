// Fuzz target for the X writers: any model the reader takes is written as a
// plain mesh and as a skinned model with a few baked frames, and both files
// are whole.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "export/x_mesh_writer.h"
#include "export/x_skin_writer.h"
#include "model/model_description.h"
#include "model/pmd_bone.h"
#include "support/debug.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fuzz/seed_corpus.h"

namespace {

// One file for every run (removed after it), in memory when the machine has
// such a folder.
const std::string& OutPath() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fuzz_x_export." + std::to_string(getpid()) + ".x";
  }();
  return path;
}

// Whether the file starts as every X file does.
bool WholeFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char head[18] = {};
  const bool ok = std::fread(head, 1, 18, f) == 18 && std::string(head, 18) == "xof 0303txt 0032\r\n";
  std::fclose(f);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  CDebug::Global().Disable();
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd())},
                         {"character.pmd", qev::fixture::BuildPmd(qev::fixture::SampleCharacter())}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CModelDescription model;
  if (!model.LoadFromMemory(data, size)) return 0;
  if (!qev::xfile::WriteXMesh(model, OutPath().c_str(), nullptr) || !WholeFile(OutPath())) std::abort();

  // the tree as scene assembly builds it: bones whose parent is there
  CPmdBone root;
  for (uint32_t i = 0; i < uint32_t(model.BoneCount()); ++i) {
    const int parent = model.m_bones[i].parent;
    CPmdBone* node = parent < 0 ? &root : root.FindByIndex(parent);
    if (node) node->AddChild(int(i), model);
  }
  qev::xfile::XBake bake;
  bake.frames = 3;
  bake.ready = [&root](int32_t n) {
    if (CPmdBone* first = root.FindByIndex(0)) D3DXMatrixTranslation(&first->m_mAnim, float(n), 0, 0);
    return 1;
  };
  if (!qev::xfile::WriteXSkin(model, root, &bake, OutPath().c_str(), nullptr) || !WholeFile(OutPath()))
    std::abort();
  std::remove(OutPath().c_str());
  return 0;
}
