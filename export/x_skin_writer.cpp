#include "export/x_skin_writer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "export/safe_file.h"
#include "export/x_shared.h"
#include "export/x_text.h"
#include "model/model_description.h"
#include "model/pmd_bone.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace qev::xfile {

namespace {

// One SkinWeights block and one animation: a node of the tree.
struct SkinRecord {
  const CPmdBone* node;
  std::vector<std::pair<int32_t, float>> weights;  // vertex, weight; vertex order
};

std::string_view NodeName(const CPmdBone& node) {
  return node.m_pRecord ? std::string_view(node.m_pRecord->name) : std::string_view();
}

// The records in file order: a node's list is its children, then each
// child's list in turn; the root's list is the file's. Without recursion,
// so a chain of every bone a model may have cannot exhaust the stack.
std::vector<SkinRecord> CollectRecords(const CPmdBone& root) {
  std::vector<SkinRecord> records;
  std::vector<const CPmdBone*> pending{&root};
  while (!pending.empty()) {
    const CPmdBone* node = pending.back();
    pending.pop_back();
    for (const auto& child : node->m_children) records.push_back({child.get(), {}});
    for (auto it = node->m_children.rbegin(); it != node->m_children.rend(); ++it) pending.push_back(it->get());
  }
  return records;
}

// Each vertex under the records of its bones. One- and two-bone vertices:
// the first weight for bone 0, the rest (1 minus it) for bone 1, summed when
// both are one bone. Four-bone vertices: each bone's weight, summed over
// slots of one bone. A vertex whose share of a bone is 0 is not listed under it.
void CollectWeights(const CModelDescription& model, std::vector<SkinRecord>& records) {
  const int32_t bones = model.BoneCount();
  std::vector<int32_t> recordOfBone(size_t(bones), -1);
  for (size_t r = 0; r < records.size(); ++r) {
    const int32_t bone = records[r].node->m_nIndex;
    if (bone >= 0 && bone < bones) recordOfBone[size_t(bone)] = int32_t(r);
  }
  auto recordOf = [&](int32_t bone) { return bone >= 0 && bone < bones ? recordOfBone[size_t(bone)] : -1; };
  const int32_t count = int32_t(model.m_vertices.size());
  for (int32_t v = 0; v < count; ++v) {
    const ModelVertex& vertex = model.m_vertices[size_t(v)];
    if (SkinningBones(vertex.skinning) == 4) {
      for (int s = 0; s < 4; ++s) {
        float share = 0.0f;
        bool first = true;
        for (int e = 0; e < s; ++e) first = first && vertex.bone[e] != vertex.bone[s];
        if (!first) continue;  // listed with the slot it first appears in
        for (int e = s; e < 4; ++e)
          if (vertex.bone[e] == vertex.bone[s]) share += vertex.weight[e];
        const int32_t r = recordOf(vertex.bone[s]);
        if (r >= 0 && share != 0.0f) records[size_t(r)].weights.emplace_back(v, share);
      }
      continue;
    }
    const float share0 = vertex.weight[0];
    const int32_t r0 = recordOf(vertex.bone[0]), r1 = recordOf(vertex.bone[1]);
    if (vertex.bone[0] == vertex.bone[1]) {
      const float sum = share0 + (1.0f - share0);
      if (r0 >= 0 && sum != 0.0f) records[size_t(r0)].weights.emplace_back(v, sum);
      continue;
    }
    if (r0 >= 0 && share0 != 0.0f) records[size_t(r0)].weights.emplace_back(v, share0);
    const float share1 = 1.0f - share0;
    if (r1 >= 0 && share1 != 0.0f) records[size_t(r1)].weights.emplace_back(v, share1);
  }
}

// Sixteen numbers in row order, rows separated by "," and the last ending
// in `end`.
void PutMatrix(CXText& out, const D3DXMATRIX& m, std::string_view end) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      out.Float(m.m[r][c]);
      if (r < 3 || c < 3) out.Put(",");
    }
  out.Put(end);
}

void WriteSkinWeights(CXText& out, const std::vector<SkinRecord>& records) {
  out.Put("  XSkinMeshHeader {\n").Put("   2;\n").Put("   0;\n");
  out.Put("   ").Int(int64_t(records.size())).Put(";\n").Put("  }\n").Put("\n");
  for (const SkinRecord& record : records) {
    const int64_t n = int64_t(record.weights.size());
    out.Put("  SkinWeights {\n");
    out.Put("   \"").FrameName(NodeName(*record.node)).Put("\";\n");
    out.Put("   ").Int(n).Put(";\n");
    for (int64_t i = 0; i < n; ++i) out.Put("   ").Int(record.weights[size_t(i)].first).Put(i + 1 < n ? ",\n" : ";\n");
    for (int64_t i = 0; i < n; ++i) out.Put("   ").Float(record.weights[size_t(i)].second).Put(i + 1 < n ? ",\n" : ";\n");
    out.Put("   ");
    PutMatrix(out, record.node->m_mInvBind, ";;\n");
    out.Put("  }\n").Put("\n");
  }
}

// Frames deeper than this are indented no further. The braces carry the
// nesting; blanks that kept growing with the depth would make the file of a
// deep chain grow with the square of its bones (25 GB for 100,000 bones).
constexpr int kDeepestIndent = 256;

// The bones as nested frames, each indented by its depth, without recursion.
void WriteFrames(CXText& out, const CPmdBone& root) {
  struct Open {
    const CPmdBone* node;
    size_t next;  // the child to write next
  };
  std::vector<Open> stack{{&root, 0}};
  while (!stack.empty()) {
    Open& top = stack.back();
    const int depth = int(stack.size()) - 1;  // of the children of top
    const int indent = std::min(depth, kDeepestIndent);
    if (top.next == top.node->m_children.size()) {
      stack.pop_back();
      if (!stack.empty()) out.Blanks(std::min(depth - 1, kDeepestIndent)).Put("}\n");
      continue;
    }
    const CPmdBone& node = *top.node->m_children[top.next++];
    out.Blanks(indent).Put("Frame ").FrameName(NodeName(node)).Put(" {\n").Put("\n");
    out.Blanks(indent).Put(" FrameTransformMatrix {\n");
    out.Blanks(indent).Put("  ");
    PutMatrix(out, node.m_mLocal, ";;\n");
    out.Blanks(indent).Put(" }\n");
    stack.push_back({&node, 0});
  }
}

// The least text of one matrix key: "   " and its time (a digit at least),
// ";16;", sixteen numbers of 8 characters at least ("0.000000") with the 15
// commas between them, ";;," or ";;;" and CR LF.
constexpr uint64_t kLeastKeyBytes = 3 + 1 + 4 + 16 * 8 + 15 + 3 + 2;

// Keys of every record, record after record, frames in order.
class KeyStore {
 public:
  // 0 when the memory is not there (the reason in *why).
  int Reserve(size_t records, int32_t frames, std::string* why) {
    m_nFrames = size_t(frames);
    if (records == 0 || frames == 0) return 1;
    m_keys.reset(new (std::nothrow) D3DXMATRIX[records * m_nFrames]);
    if (!m_keys) {
      *why = "out of memory for the baked keys";
      return 0;
    }
    return 1;
  }
  D3DXMATRIX& At(size_t record, size_t frame) { return m_keys[record * m_nFrames + frame]; }

 private:
  std::unique_ptr<D3DXMATRIX[]> m_keys;
  size_t m_nFrames = 0;
};

// Bakes the frames and writes the animation set. 0 when the bake was given
// up or the keys do not fit (the file is marked failed).
int WriteAnimation(CXText& out, CSafeFile& file, const std::vector<SkinRecord>& records, const XBake& bake,
                   bool evaluatedPose) {
  const int32_t highest = bake.frames > 0 ? bake.frames : 0;
  const int32_t frames = BakedFrames(highest);
  out.Put("AnimationSet default {\n");
  DebugPrintf(qev::Sjis("最大フレーム数 : %d\n").c_str(), highest);
  KeyStore keys;
  std::string why;
  if (!keys.Reserve(records.size(), frames, &why)) {
    file.Fail(why);
    return 0;
  }
  if (bake.start && !bake.start()) {
    file.Fail("the bake was given up before its first frame");
    return 0;
  }
  for (int32_t n = 0; n < frames; ++n) {
    if (bake.ready && !bake.ready(n)) {
      file.Fail("the bake was given up at frame " + std::to_string(n));
      return 0;
    }
    for (size_t r = 0; r < records.size(); ++r) {
      const CPmdBone& node = *records[r].node;
      // A PMX bone's pose is its evaluation's (grants included), not its animation alone.
      keys.At(r, size_t(n)) = evaluatedPose ? node.m_mPose : node.m_mAnim * node.m_mLocal;
    }
  }
  for (size_t r = 0; r < records.size(); ++r) {
    out.Put(" Animation {\n");
    out.Put("  { ").FrameName(NodeName(*records[r].node)).Put(" }\n");
    out.Put("  AnimationKey {\n").Put("   4;\n");
    out.Put("   ").Int(frames).Put(";\n");
    for (int32_t k = 0; k < frames; ++k) {
      // 64-bit: a long motion's ticks pass 2^31 (at 3.3 million frames)
      out.Put("   ").Int(kTicksPerFrame * k).Put(";16;");
      PutMatrix(out, keys.At(r, size_t(k)), k + 1 < frames ? ";;,\n" : ";;;\n");
    }
    out.Put("  }\n").Put(" }\n");
    if (!out.Flush()) return 0;
  }
  out.Put("}\n");
  return 1;
}

// Whether a bake may start, from the counts alone: the motion's length,
// the file's size at least and the keys held in memory.
int BakeAllowed(const XBake& bake, size_t records, const char* path, std::string* why) {
  qev::bake::BakeSize size;
  size.frames = int64_t(bake.frames > 0 ? bake.frames : 0) + 1;
  size.fileBytesPerFrame = uint64_t(records) * kLeastKeyBytes;
  size.memoryPerFrame = uint64_t(records) * sizeof(D3DXMATRIX);
  return qev::bake::CheckBake(size, path, bake.maxFrames, why);
}

}  // namespace

int WriteXSkin(const CModelDescription& model, const CPmdBone& root, const XBake* bake, const char* path,
               std::string* failure) {
  std::vector<SkinRecord> records = CollectRecords(root);
  std::string refused;
  if (bake && !BakeAllowed(*bake, records.size(), path, &refused)) {
    DebugPrintf("X file %s not written: %s\n", qev::Utf8ToCp932(path ? path : "").c_str(), refused.c_str());
    if (failure) *failure = refused;
    return 0;
  }
  CSafeFile file;
  if (!file.Open(path)) {
    if (failure) *failure = file.Reason();
    return 0;
  }
  CollectWeights(model, records);
  NormalList normals;
  CollectNormals(model.m_vertices.data(), int32_t(model.m_vertices.size()), &normals);
  {
    CXText out(file);
    out.Put("xof 0303txt 0032\n").Put("\n");
    out.Put("AnimTicksPerSecond {\n").Put(" 4800;\n").Put("}\n").Put("\n");
    out.Put("Frame ").FrameName(model.m_name).Put(" {\n");
    out.Put(" FrameTransformMatrix {\n");
    out.Put("  1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
            "0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,0.000000,1.000000;;\n");
    out.Put(" }\n").Put("\n");
    out.Put(" Mesh {\n");
    WriteMeshBody(out, model, normals, 2, "0;0;0;;\n");
    out.Put("\n");
    WriteSkinWeights(out, records);
    out.Put(" }\n").Put("}\n").Put("\n");
    WriteFrames(out, root);
    if (bake) WriteAnimation(out, file, records, *bake, model.m_format == kModelPmx);
    out.Flush();
  }
  if (!file.Commit()) {
    if (failure) *failure = file.Reason();
    return 0;
  }
  return 1;
}

}  // namespace qev::xfile
