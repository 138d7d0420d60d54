// The per-vertex cost of each skinning kind: 30,000 vertices over 200 bones
// in a bent pose, skinned linearly by 2 and 4 bones, spherically (2 bones)
// and by dual quaternions (4 bones). The counter is the time a vertex takes;
// the per-bone work a frame does once (rotations, dual quaternions) is
// counted with the vertices it serves. Then the bones of a frame: 200 bones
// in a tree evaluated in deform order, with and without grants.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "model/pmx_deform.h"
#include "tools/bench/allocation_count.h"

namespace {

constexpr int kVertices = 30000;
constexpr int kBones = 200;

struct Mesh {
  std::vector<D3DXMATRIX> skin;
  std::vector<D3DXVECTOR3> pos, normal;
  std::vector<int32_t> bone;  // 4 a vertex
  std::vector<float> weight;  // 4 a vertex
  std::vector<SdefVertex> sdef;
  std::vector<SkinnedPoint> out;

  Mesh() : skin(kBones), pos(kVertices), normal(kVertices), bone(4 * kVertices), weight(4 * kVertices),
           sdef(kVertices), out(kVertices) {
    // every bone turned a different amount about a different axis and moved
    for (int b = 0; b < kBones; ++b) {
      const D3DXVECTOR3 axis(float(b % 7) - 3.0f, 1.0f, float(b % 5) - 2.0f);
      D3DXMATRIX r, t;
      D3DXMatrixRotationAxis(&r, &axis, 0.02f * float(b % 90));
      D3DXMatrixTranslation(&t, 0.1f * float(b % 11), 0.05f * float(b % 13), -0.1f * float(b % 3));
      D3DXMatrixMultiply(&skin[size_t(b)], &r, &t);
    }
    for (int i = 0; i < kVertices; ++i) {
      const size_t k = size_t(i);
      pos[k] = D3DXVECTOR3(float(i % 100) * 0.1f, float(i / 100 % 100) * 0.2f, float(i % 37) * 0.05f);
      D3DXVECTOR3 n(float(i % 3) - 1.0f, 1.0f, float(i % 5) - 2.0f);
      D3DXVec3Normalize(&normal[k], &n);
      for (int j = 0; j < 4; ++j) bone[4 * k + size_t(j)] = (i * 7 + j * 31) % kBones;
      const float w0 = 0.1f + 0.8f * float(i % 17) / 16.0f;
      weight[4 * k] = w0;
      weight[4 * k + 1] = 1.0f - w0;
      sdef[k] = MakeSdefVertex(w0, pos[k] + D3DXVECTOR3(0, 0.1f, 0), pos[k] + D3DXVECTOR3(-0.5f, 0.1f, 0),
                               pos[k] + D3DXVECTOR3(0.5f, 0.1f, 0));
    }
  }
};

Mesh& TheMesh() {
  static Mesh mesh;
  return mesh;
}

void PerVertex(benchmark::State& state) {
  state.counters["per_vertex"] =
      benchmark::Counter(double(kVertices),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <int kBonesAVertex>
void BM_SkinLinear(benchmark::State& state) {
  Mesh& m = TheMesh();
  // four bones: the weight spread over all four
  std::vector<float> weight = m.weight;
  if (kBonesAVertex == 4)
    for (size_t k = 0; k < size_t(kVertices); ++k)
      for (size_t j = 0; j < 4; ++j) weight[4 * k + j] = 0.25f;
  for (auto _ : state) {
    for (size_t k = 0; k < size_t(kVertices); ++k)
      m.out[k] = SkinLinear(m.skin.data(), &m.bone[4 * k], &weight[4 * k], kBonesAVertex, m.pos[k], m.normal[k]);
    benchmark::DoNotOptimize(m.out.data());
    benchmark::ClobberMemory();
  }
  PerVertex(state);
}
BENCHMARK(BM_SkinLinear<2>)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SkinLinear<4>)->Unit(benchmark::kMicrosecond);

void BM_SkinSdef(benchmark::State& state) {
  Mesh& m = TheMesh();
  std::vector<D3DXQUATERNION> rot(kBones);
  for (auto _ : state) {
    for (size_t b = 0; b < size_t(kBones); ++b) rot[b] = SkinRotation(m.skin[b]);
    for (size_t k = 0; k < size_t(kVertices); ++k) {
      const size_t b0 = size_t(m.bone[4 * k]), b1 = size_t(m.bone[4 * k + 1]);
      m.out[k] = SkinSdef(m.skin[b0], m.skin[b1], rot[b0], rot[b1], m.sdef[k], m.pos[k], m.normal[k]);
    }
    benchmark::DoNotOptimize(m.out.data());
    benchmark::ClobberMemory();
  }
  PerVertex(state);
}
BENCHMARK(BM_SkinSdef)->Unit(benchmark::kMicrosecond);

void BM_SkinQdef(benchmark::State& state) {
  Mesh& m = TheMesh();
  std::vector<float> weight(4 * size_t(kVertices), 0.25f);
  std::vector<DualQuat> dq(kBones);
  for (auto _ : state) {
    for (size_t b = 0; b < size_t(kBones); ++b) dq[b] = SkinDualQuat(m.skin[b]);
    for (size_t k = 0; k < size_t(kVertices); ++k)
      m.out[k] = SkinQdef(dq.data(), &m.bone[4 * k], &weight[4 * k], 4, m.pos[k], m.normal[k]);
    benchmark::DoNotOptimize(m.out.data());
    benchmark::ClobberMemory();
  }
  PerVertex(state);
}
BENCHMARK(BM_SkinQdef)->Unit(benchmark::kMicrosecond);

// A binary tree of bones, a unit apart, in three layers; with grants, every
// other bone takes half of the turn and move of the bone three before it
// (every fourth of them from its full pose).
void BM_EvaluateBones(benchmark::State& state) {
  const bool grants = state.range(0) != 0;
  std::vector<DeformBone> bones(kBones);
  std::vector<BoneMotion> key(kBones), motion(kBones);
  std::vector<D3DXMATRIX> world(kBones);
  for (int b = 0; b < kBones; ++b) {
    DeformBone& d = bones[size_t(b)];
    d.parent = b ? (b - 1) / 2 : -1;
    d.head = D3DXVECTOR3(float(b % 3), float(b / 3), 0);
    d.layer = b % 3;
    if (grants && b >= 3 && b % 2) {
      d.grantParent = b - 3;
      d.grantRatio = 0.5f;
      d.grantRotation = d.grantTranslation = true;
      d.grantLocal = b % 8 == 1;
    }
    const D3DXVECTOR3 axis(1, float(b % 4), 0.5f);
    D3DXQuaternionRotationAxis(&key[size_t(b)].rot, &axis, 0.01f * float(b));
    key[size_t(b)].pos = D3DXVECTOR3(0, 0.001f * float(b), 0);
    D3DXMatrixIdentity(&world[size_t(b)]);
  }
  RefuseBadGrants(bones);
  const std::vector<int32_t> order = DeformOrder(bones, nullptr);
  std::vector<uint8_t> scratch;
  EvaluateBones(bones, order, key, motion, world, true, &scratch);
  long long frames = 0;
  const long before = AllocationCount();
  for (auto _ : state) {
    EvaluateBones(bones, order, key, motion, world, true, &scratch);
    benchmark::DoNotOptimize(world.data());
    benchmark::ClobberMemory();
    ++frames;
  }
  const long allocations = AllocationCount() - before;
  state.counters["allocations_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
}
BENCHMARK(BM_EvaluateBones)->ArgName("grants")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
