// What the tests of our glTF files share: the Khronos validator (installed
// into the build tree on first use, run by node), the file read back by the
// glTF library, and a joint's world transform evaluated by an independent
// reader (the Open Asset Import Library) from what it read.
#pragma once
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "tests/common/temp_dir.h"

namespace qev::test {

struct ValidatorReport {
  int errors = -1;  // -1: the validator did not run
  std::string text;  // its counts and messages
};

// The validator's verdict on a .glb, or a .gltf with the files beside it.
inline ValidatorReport ValidateGltf(const std::string& file) {
  static std::once_flag installed;
  static int installStatus = -1;
  static const std::string folder = QEV_BINARY_DIR "/gltf-validator";
  std::call_once(installed, [] {
    installStatus =
        std::system(("bash '" QEV_SOURCE_DIR "/tools/gltf/install_validator.sh' '" + folder + "' >/dev/null").c_str());
  });
  ValidatorReport report;
  if (installStatus != 0) {
    ADD_FAILURE() << "the glTF validator could not be installed (npm)";
    return report;
  }
  TempDir scratch;
  const auto run = RunIn(scratch, "node '" QEV_SOURCE_DIR "/tools/gltf/validate.js' '" + folder + "' '" + file + "'");
  report.text = run.out + run.err;
  if (run.status == 0 || run.status == 1) {
    const size_t at = run.out.find("errors ");
    if (at != std::string::npos) report.errors = std::atoi(run.out.c_str() + at + 7);
  }
  return report;
}

#define EXPECT_GLTF_VALID(file)                                               \
  do {                                                                        \
    const qev::test::ValidatorReport report_ = qev::test::ValidateGltf(file); \
    EXPECT_EQ(report_.errors, 0) << (file) << "\n" << report_.text;           \
  } while (0)

// The file as the glTF library reads it back (pictures left undecoded).
inline bool ReadGltf(const std::string& file, tinygltf::Model* model, std::string* err) {
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(
      [](tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int, void*) {
        return true;
      },
      nullptr);
  std::string warn;
  const bool glb = file.size() > 4 && file.compare(file.size() - 4, 4, ".glb") == 0;
  return glb ? loader.LoadBinaryFromFile(model, err, &warn, file) : loader.LoadASCIIFromFile(model, err, &warn, file);
}

// The floats of an accessor (no sparse ones, tightly packed).
inline std::vector<float> Floats(const tinygltf::Model& m, int accessor) {
  const tinygltf::Accessor& a = m.accessors.at(size_t(accessor));
  const tinygltf::BufferView& v = m.bufferViews.at(size_t(a.bufferView));
  const size_t n = a.count * size_t(tinygltf::GetNumComponentsInType(uint32_t(a.type)));
  std::vector<float> out(n);
  std::memcpy(out.data(), m.buffers.at(size_t(v.buffer)).data.data() + v.byteOffset + a.byteOffset, n * sizeof(float));
  return out;
}

inline const aiNode* FindAiNode(const aiNode* node, const std::string& name) {
  if (name == node->mName.C_Str()) return node;
  for (unsigned i = 0; i < node->mNumChildren; ++i)
    if (const aiNode* found = FindAiNode(node->mChildren[i], name)) return found;
  return nullptr;
}

// A node's transform at key k of the reader's first animation (a channel
// of one key holds that key throughout), its rest transform when no
// channel moves it.
inline aiMatrix4x4 AnimatedLocal(const aiScene* scene, const aiNode* node, unsigned k) {
  if (scene->mNumAnimations > 0) {
    const aiAnimation* anim = scene->mAnimations[0];
    for (unsigned c = 0; c < anim->mNumChannels; ++c) {
      const aiNodeAnim* ch = anim->mChannels[c];
      if (ch->mNodeName != node->mName) continue;
      const aiVector3D t = ch->mPositionKeys[std::min(k, ch->mNumPositionKeys - 1)].mValue;
      const aiQuaternion r = ch->mRotationKeys[std::min(k, ch->mNumRotationKeys - 1)].mValue;
      return aiMatrix4x4(aiVector3D(1, 1, 1), r, t);
    }
  }
  return node->mTransformation;
}

// Where a node's origin stands in the scene at key k.
inline aiVector3D WorldOrigin(const aiScene* scene, const aiNode* node, unsigned k) {
  aiMatrix4x4 m;
  for (const aiNode* n = node; n; n = n->mParent) m = AnimatedLocal(scene, n, k) * m;
  return aiVector3D(m.a4, m.b4, m.c4);
}

}  // namespace qev::test
