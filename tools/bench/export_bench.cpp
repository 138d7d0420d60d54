// X export speed: the plain mesh writer against a straightforward fprintf
// writer of the very same text (checked byte for byte before timing), the
// normal de-duplication of a large mesh, and the bake of the sample walk in
// frames per second, with and without physics.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/scene.h"
#include "app/x_export.h"
#include "export/x_mesh_writer.h"
#include "export/x_shared.h"
#include "export/x_skin_writer.h"
#include "model/model_description.h"
#include "model/pmd_bone.h"
#include "support/debug.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"

namespace {

// A folder for the written files, in memory when the machine has one, so
// the figures are the writer's and not the disk's; removed at exit.
class ExportDir {
 public:
  ExportDir() {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "qevexport-XXXXXX").string();
    if (mkdtemp(tmpl.data())) m_path = tmpl;
  }
  ~ExportDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  std::string Path(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

const ExportDir& Dir() {
  static const ExportDir dir;
  return dir;
}

// 200,000 vertices with fractional positions and texture coordinates and
// about 100,000 distinct normals, 200,000 triangles, 8 materials.
const CModelDescription& LargeModel() {
  static CModelDescription* model = [] {
    CDebug::Global().Disable();
    qev::fixture::PmdDesc desc = qev::fixture::LargePmd(200000, 600000, 100, 0, 0);
    desc.materials.resize(8, desc.materials[0]);
    for (auto& m : desc.materials) m.indexCount = 600000 / 8 / 3 * 3;
    desc.materials.back().indexCount += 600000 - 8 * (600000 / 8 / 3 * 3);
    const std::string bytes = qev::fixture::BuildPmd(desc);
    auto* m = new CModelDescription;
    if (!m->LoadFromMemory(bytes.data(), bytes.size())) std::abort();
    for (size_t i = 0; i < m->m_vertices.size(); ++i) {
      ModelVertex& v = m->m_vertices[i];
      v.pos[0] = std::sin(float(i)) * 12.5f;
      v.pos[1] = float(i % 977) * 0.0173f;
      v.pos[2] = -std::cos(float(i) * 0.37f) * 3.25f;
      const int n = i / 2;  // pairs of vertices share a normal
      v.normal[0] = std::sin(float(n));
      v.normal[1] = std::cos(float(n));
      v.normal[2] = 0.0f;
      v.uv[0] = float(i % 1024) / 1024.0f;
      v.uv[1] = float(i % 333) / 333.0f;
    }
    return m;
  }();
  return *model;
}

// The same text the plain mesh writer makes, one fprintf per item, as a
// first version of the writer would: the measure of the formatting work.
int FprintfMesh(const CModelDescription& model, const char* path) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return 0;
  qev::xfile::NormalList normals;
  qev::xfile::CollectNormals(model.m_vertices.data(), int32_t(model.m_vertices.size()), &normals);
  const int nv = int(model.m_vertices.size()), nf = int(model.m_indices.size() / 3), nn = normals.Count();
  const int nm = int(model.m_materials.size());
  auto sep = [](int i, int n) { return i + 1 < n ? ",\r\n" : ";\r\n"; };
  std::fprintf(f, "xof 0303txt 0032\r\n\r\nMesh {\r\n %d;\r\n", nv);
  for (int i = 0; i < nv; ++i) {
    const float* p = model.m_vertices[size_t(i)].pos;
    std::fprintf(f, " %f;%f;%f;%s", p[0], p[1], p[2], sep(i, nv));
  }
  std::fprintf(f, " %d;\r\n", nf);
  for (int i = 0; i < nf; ++i) {
    const uint32_t* t = &model.m_indices[3 * size_t(i)];
    std::fprintf(f, " 3;%u,%u,%u;%s", t[0], t[1], t[2], sep(i, nf));
  }
  std::fprintf(f, "\r\n MeshNormals {\r\n  %d;\r\n", nn);
  for (int i = 0; i < nn; ++i) {
    const float* n = &normals.xyz[3 * size_t(i)];
    std::fprintf(f, "  %f,%f,%f;%s", n[0], n[1], n[2], sep(i, nn));
  }
  std::fprintf(f, "  %d;\r\n", nf);
  for (int i = 0; i < nf; ++i) {
    const uint32_t* t = &model.m_indices[3 * size_t(i)];
    std::fprintf(f, "  3;%d,%d,%d;%s", normals.index[t[0]], normals.index[t[1]], normals.index[t[2]], sep(i, nf));
  }
  std::fprintf(f, " }\r\n\r\n MeshTextureCoords {\r\n  %d;\r\n", nv);
  for (int i = 0; i < nv; ++i) {
    const float* uv = model.m_vertices[size_t(i)].uv;
    std::fprintf(f, "  %f;%f;%s", uv[0], uv[1], sep(i, nv));
  }
  std::fprintf(f, " }\r\n\r\n MeshMaterialList {\r\n  %d;\r\n  %d;\r\n", nm, nf);
  for (int m = 0; m < nm; ++m) {
    const int triangles = int(model.m_materials[size_t(m)].indexCount / 3);
    for (int t = 0; t < triangles; ++t)
      std::fprintf(f, "  %d%s", m, m + 1 == nm && t + 1 == triangles ? ";\r\n" : ",\r\n");
  }
  for (int m = 0; m < nm; ++m) {
    const ModelMaterial& mat = model.m_materials[size_t(m)];
    std::fprintf(f, "  Material {\r\n   %f;%f;%f;%f;;\r\n   %f;\r\n   %f;%f;%f;;\r\n   0.0;0.0;0.0;;\r\n",
                 mat.diffuse[0], mat.diffuse[1], mat.diffuse[2], mat.diffuse[3], mat.specularPower / 100.0f,
                 mat.specular[0], mat.specular[1], mat.specular[2]);
    if (!mat.texture.empty())
      std::fprintf(f, "   TextureFilename {\r\n    \"%s\";\r\n   }\r\n",
                   qev::xfile::TextureName(mat.texture.c_str(), mat.texture.size()).c_str());
    std::fprintf(f, "  }\r\n");
  }
  std::fprintf(f, " }\r\n}\r\n\r\n");
  std::fflush(f);
  const int synced = fsync(fileno(f)) == 0;
  return std::fclose(f) == 0 && synced;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Both writers must give the same bytes, or the comparison means nothing.
void CheckSameText(benchmark::State& state) {
  static const bool same = [] {
    const std::string a = Dir().Path("check_ours.x"), b = Dir().Path("check_fprintf.x");
    return qev::xfile::WriteXMesh(LargeModel(), a.c_str(), nullptr) && FprintfMesh(LargeModel(), b.c_str()) &&
           Slurp(a) == Slurp(b);
  }();
  if (!same) state.SkipWithError("the two writers differ");
}

void BM_WriteXMesh(benchmark::State& state) {
  const CModelDescription& model = LargeModel();
  CheckSameText(state);
  const std::string path = Dir().Path("ours.x");
  int64_t bytes = 0;
  for (auto _ : state) {
    if (!qev::xfile::WriteXMesh(model, path.c_str(), nullptr)) state.SkipWithError("write failed");
    bytes += int64_t(std::filesystem::file_size(path));
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteXMesh)->Unit(benchmark::kMillisecond);

void BM_WriteXMeshFprintf(benchmark::State& state) {
  const CModelDescription& model = LargeModel();
  CheckSameText(state);
  const std::string path = Dir().Path("fprintf.x");
  int64_t bytes = 0;
  for (auto _ : state) {
    if (!FprintfMesh(model, path.c_str())) state.SkipWithError("write failed");
    bytes += int64_t(std::filesystem::file_size(path));
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteXMeshFprintf)->Unit(benchmark::kMillisecond);

void BM_CollectNormals(benchmark::State& state) {
  const CModelDescription& model = LargeModel();
  qev::xfile::NormalList normals;
  for (auto _ : state) {
    qev::xfile::CollectNormals(model.m_vertices.data(), int32_t(model.m_vertices.size()), &normals);
    benchmark::DoNotOptimize(normals.index.data());
  }
  state.counters["distinct"] = double(normals.Count());
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(model.m_vertices.size()));
}
BENCHMARK(BM_CollectNormals)->Unit(benchmark::kMillisecond);

// The skinned writer on 30,000 vertices and 200 bones with 1,000 frames of
// keys (the evaluation is a cheap stand-in: every bone moved along x), so
// the figure is the writer's: about 50 MB of text.
void BM_WriteXSkinKeys(benchmark::State& state) {
  CDebug::Global().Disable();
  static CModelDescription* model = [] {
    const std::string bytes = qev::fixture::BuildPmd(qev::fixture::LargePmd(30000, 90000, 200, 0, 0));
    auto* m = new CModelDescription;
    if (!m->LoadFromMemory(bytes.data(), bytes.size())) std::abort();
    return m;
  }();
  CPmdBone root;
  std::vector<CPmdBone*> nodes;
  CPmdBone* parent = &root;
  for (uint32_t i = 0; i < uint32_t(model->BoneCount()); ++i) nodes.push_back(parent = parent->AddChild(int(i), *model));
  qev::xfile::XBake bake;
  bake.frames = int32_t(state.range(0));
  bake.ready = [&nodes](int32_t n) {
    for (size_t i = 0; i < nodes.size(); ++i) D3DXMatrixTranslation(&nodes[i]->m_mAnim, float(n) * 0.01f, float(i), 0.5f);
    return 1;
  };
  const std::string path = Dir().Path("skin.x");
  int64_t bytes = 0;
  for (auto _ : state) {
    if (!qev::xfile::WriteXSkin(*model, root, &bake, path.c_str(), nullptr)) state.SkipWithError("write failed");
    bytes += int64_t(std::filesystem::file_size(path));
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteXSkinKeys)->Arg(1000)->Unit(benchmark::kMillisecond);

// The sample character walking, baked as F9 does; arg 1: with its rigid
// bodies. Frames per second of the whole export (evaluation and text).
void BM_BakeSampleWalk(benchmark::State& state) {
  CDebug::Global().Disable();
  std::string error;
  static const bool written = qev::fixture::WriteSampleCharacter(Dir().Path(""), &error) == 1;
  if (!written) return state.SkipWithError("sample not written");
  CScene scene;
  if (!scene.LoadModel(Dir().Path("sample.pmd").c_str(), nullptr, &error) ||
      !scene.LoadMotion(Dir().Path("walk.vmd").c_str(), &error))
    return state.SkipWithError("sample not loaded");
  if (!state.range(0)) scene.m_physics.Clear();
  const std::string path = Dir().Path("baked.x");
  int64_t frames = 0;
  for (auto _ : state) {
    if (!ExportXSkin(scene, path.c_str(), nullptr, &error)) state.SkipWithError("bake failed");
    frames += scene.m_motion->m_nMaxFrame;
  }
  state.counters["frames_per_second"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
  state.counters["world"] = scene.m_physics.HasWorld();
}
BENCHMARK(BM_BakeSampleWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
