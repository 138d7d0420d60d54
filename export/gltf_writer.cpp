#include "export/gltf_writer.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tiny_gltf.h>

#include "export/safe_file.h"
#include "platform/codepage.h"
#include "platform/picture_encoder.h"
#include "support/debug.h"

namespace qev::gltf {

namespace {

constexpr int kFloat = TINYGLTF_COMPONENT_TYPE_FLOAT;

// glTF forbids infinities and NaN in its float data: such a value (only a
// hostile file gives one) is written as 0.
float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }

// Text that is not UTF-8 would make the JSON writer give up; a bad byte
// becomes U+FFFD.
std::string CleanUtf8(const std::string& text) { return qev::Utf16ToUtf8(qev::Utf8ToUtf16(text)); }

// The file name of a path, and its folder with a trailing "/" ("" for none).
std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A file name as a relative URI: every byte outside the unreserved set
// percent-encoded, so blanks and UTF-8 names stay one path segment.
std::string UriOf(const std::string& name) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string uri;
  for (const unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += char(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// Unit length x y z w, the identity for a quaternion of no length.
void NormalizeQuaternion(float q[4]) {
  for (int i = 0; i < 4; ++i) q[i] = Finite(q[i]);
  const double n = std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] + double(q[3]) * q[3]);
  if (!(n > 1e-12)) {
    q[0] = q[1] = q[2] = 0.0f;
    q[3] = 1.0f;
    return;
  }
  for (int i = 0; i < 4; ++i) q[i] = float(q[i] / n);
}

// The model and its one buffer as they are put together.
class Builder {
 public:
  tinygltf::Model model;
  std::vector<uint8_t> bin;

  // A buffer view over bytes appended at a 4-byte boundary; target 0 for none.
  int View(const void* data, size_t size, int target) {
    bin.resize((bin.size() + 3) & ~size_t(3), 0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = bin.size();
    view.byteLength = size;
    view.target = target;
    const auto* bytes = static_cast<const uint8_t*>(data);
    bin.insert(bin.end(), bytes, bytes + size);
    model.bufferViews.push_back(view);
    return int(model.bufferViews.size()) - 1;
  }
  int Accessor(int view, size_t offset, int componentType, size_t count, int type) {
    tinygltf::Accessor a;
    a.bufferView = view;
    a.byteOffset = offset;
    a.componentType = componentType;
    a.count = count;
    a.type = type;
    model.accessors.push_back(a);
    return int(model.accessors.size()) - 1;
  }
  // Float data of `width` components per element, with its bounds.
  int Floats(const std::vector<float>& data, int width, int type, int target) {
    const int view = View(data.data(), data.size() * sizeof(float), target);
    const int a = Accessor(view, 0, kFloat, data.size() / size_t(width), type);
    SetBounds(a, data.data(), data.size(), width);
    return a;
  }
  void SetBounds(int accessor, const float* data, size_t n, int width) {
    std::vector<double> lo(size_t(width), 0.0), hi(size_t(width), 0.0);
    for (size_t i = 0; i < n; ++i) {
      const size_t c = i % size_t(width);
      if (i < size_t(width) || data[i] < lo[c]) lo[c] = data[i];
      if (i < size_t(width) || data[i] > hi[c]) hi[c] = data[i];
    }
    model.accessors[size_t(accessor)].minValues = lo;
    model.accessors[size_t(accessor)].maxValues = hi;
  }
};

// Why a scene cannot be written as it is; empty when it can.
std::string CheckScene(const Scene& s) {
  const size_t vertices = s.vertices.size();
  if (vertices > size_t(UINT32_MAX)) return "too many vertices";
  if (s.joints.size() > 65536) return "more than 65536 joints";
  const auto badIndices = [vertices](const std::vector<uint32_t>& list) {
    return list.size() % 3 != 0 ||
           std::any_of(list.begin(), list.end(), [vertices](uint32_t i) { return i >= vertices; });
  };
  if (badIndices(s.unlit)) return "a triangle index past the vertices";
  for (const Material& m : s.materials) {
    if (badIndices(m.indices)) return "a triangle index past the vertices";
    if (m.picture >= int32_t(s.pictures.size())) return "a material's picture past the pictures";
  }
  for (const Picture& p : s.pictures)
    if (p.width <= 0 || p.height <= 0 || p.bgra.size() != size_t(p.width) * size_t(p.height) * 4)
      return "a picture whose pixels do not match its size";
  for (size_t j = 0; j < s.joints.size(); ++j)
    if (s.joints[j].parent >= int32_t(j)) return "a joint whose parent does not come before it";
  if (!s.joints.empty())
    for (const Vertex& v : s.vertices)
      for (int k = 0; k < 4; ++k)
        if (v.joints[k] >= s.joints.size()) return "a vertex on a joint past the joints";
  for (const Morph& m : s.morphs)
    if (m.offsets.size() != m.vertices.size() * 3 ||
        std::any_of(m.vertices.begin(), m.vertices.end(), [vertices](uint32_t i) { return i >= vertices; }))
      return "a morph offset past the vertices";
  if (s.animated) {
    const Animation& a = s.animation;
    const size_t frames = size_t(std::max(a.frames, 0));
    if (frames == 0) return "an animation without frames";
    if (a.translations.size() != frames * s.joints.size() * 3 || a.rotations.size() != frames * s.joints.size() * 4 ||
        a.weights.size() != frames * s.morphs.size())
      return "animation samples that do not match the frames";
  }
  return {};
}

// The pictures as PNG file images, in scene order.
int EncodePictures(const Scene& s, std::vector<std::string>* png, std::string* why) {
  for (const Picture& p : s.pictures) {
    png->push_back(qev::EncodePicture(qev::PictureFileType::kPng, p.width, p.height, p.bgra.data()));
    if (png->back().empty()) {
      *why = "a picture could not be encoded as PNG";
      return 0;
    }
  }
  return 1;
}

// Mesh, materials, textures and skin. Node 0 is the mesh's (when there is
// one), the joints follow in their order.
void BuildModel(const Scene& s, const std::vector<std::string>& png, bool embedPictures, const std::string& stem,
                Builder& b) {
  tinygltf::Model& m = b.model;
  m.asset.version = "2.0";
  m.asset.generator = "QEV Test glTF writer";
  m.scenes.emplace_back();
  m.scenes[0].name = CleanUtf8(s.name);
  m.defaultScene = 0;

  // Pictures and one texture each, sampled by nearest pixel as the viewer draws them.
  if (!png.empty()) {
    tinygltf::Sampler sampler;
    sampler.magFilter = TINYGLTF_TEXTURE_FILTER_NEAREST;
    sampler.minFilter = TINYGLTF_TEXTURE_FILTER_NEAREST;
    sampler.wrapS = sampler.wrapT = TINYGLTF_TEXTURE_WRAP_REPEAT;
    m.samplers.push_back(sampler);
  }
  for (size_t i = 0; i < png.size(); ++i) {
    tinygltf::Image image;
    if (embedPictures) {
      image.mimeType = "image/png";
      image.bufferView = b.View(png[i].data(), png[i].size(), 0);
    } else {
      image.uri = UriOf(stem + "_" + std::to_string(i) + ".png");
    }
    m.images.push_back(image);
    tinygltf::Texture texture;
    texture.sampler = 0;
    texture.source = int(i);
    m.textures.push_back(texture);
  }
  for (const Material& mat : s.materials) {
    tinygltf::Material out;
    out.name = CleanUtf8(mat.name);
    auto& pbr = out.pbrMetallicRoughness;
    pbr.baseColorFactor.assign(4, 1.0);
    for (int c = 0; c < 4; ++c) pbr.baseColorFactor[size_t(c)] = std::clamp(double(Finite(mat.diffuse[c])), 0.0, 1.0);
    pbr.metallicFactor = 0.0;
    pbr.roughnessFactor = 1.0;
    if (mat.picture >= 0) pbr.baseColorTexture.index = mat.picture;
    if (pbr.baseColorFactor[3] < 1.0) out.alphaMode = "BLEND";
    out.doubleSided = mat.doubleSided;
    m.materials.push_back(out);
  }

  // The mesh: shared attributes, one primitive per material that draws.
  const size_t n = s.vertices.size();
  const bool skinned = !s.joints.empty();
  bool drawn = !s.unlit.empty() && s.materials.empty();
  for (const Material& mat : s.materials) drawn = drawn || !mat.indices.empty();
  if (n > 0 && drawn) {
    std::vector<float> pos(n * 3), normal(n * 3), uv(n * 2), weights(n * 4);
    std::vector<uint16_t> joints(n * 4);
    for (size_t i = 0; i < n; ++i) {
      const Vertex& v = s.vertices[i];
      double len = 0;
      for (int c = 0; c < 3; ++c) {
        pos[i * 3 + size_t(c)] = Finite(v.pos[c]);
        len += double(Finite(v.normal[c])) * Finite(v.normal[c]);
      }
      len = std::sqrt(len);
      for (int c = 0; c < 3; ++c)
        normal[i * 3 + size_t(c)] = len > 1e-12 ? float(Finite(v.normal[c]) / len) : (c == 1 ? 1.0f : 0.0f);
      uv[i * 2] = Finite(v.uv[0]);
      uv[i * 2 + 1] = Finite(v.uv[1]);
      for (int k = 0; k < 4; ++k) {
        joints[i * 4 + size_t(k)] = v.joints[k];
        weights[i * 4 + size_t(k)] = Finite(v.weights[k]);
      }
    }
    tinygltf::Primitive shared;
    shared.mode = TINYGLTF_MODE_TRIANGLES;
    shared.attributes["POSITION"] = b.Floats(pos, 3, TINYGLTF_TYPE_VEC3, TINYGLTF_TARGET_ARRAY_BUFFER);
    shared.attributes["NORMAL"] = b.Floats(normal, 3, TINYGLTF_TYPE_VEC3, TINYGLTF_TARGET_ARRAY_BUFFER);
    const int uvView = b.View(uv.data(), uv.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
    shared.attributes["TEXCOORD_0"] = b.Accessor(uvView, 0, kFloat, n, TINYGLTF_TYPE_VEC2);
    if (skinned) {
      const int jointView = b.View(joints.data(), joints.size() * sizeof(uint16_t), TINYGLTF_TARGET_ARRAY_BUFFER);
      shared.attributes["JOINTS_0"] =
          b.Accessor(jointView, 0, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, n, TINYGLTF_TYPE_VEC4);
      const int weightView = b.View(weights.data(), weights.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
      shared.attributes["WEIGHTS_0"] = b.Accessor(weightView, 0, kFloat, n, TINYGLTF_TYPE_VEC4);
    }
    // Morph targets: every vertex's offset (0 where the morph does not
    // move it), one accessor per morph. Offsets of one vertex listed twice add up.
    std::vector<std::map<std::string, int>> targets;
    tinygltf::Value::Array targetNames;
    for (const Morph& morph : s.morphs) {
      std::vector<float> offsets(n * 3, 0.0f);
      for (size_t e = 0; e < morph.vertices.size(); ++e)
        for (int c = 0; c < 3; ++c) offsets[size_t(morph.vertices[e]) * 3 + size_t(c)] += Finite(morph.offsets[e * 3 + size_t(c)]);
      targets.push_back({{"POSITION", b.Floats(offsets, 3, TINYGLTF_TYPE_VEC3, TINYGLTF_TARGET_ARRAY_BUFFER)}});
      targetNames.emplace_back(CleanUtf8(morph.name));
    }
    // Indices: 16 bits while every vertex can be named below 65535 (the
    // largest value of a type stands for a strip restart, which glTF forbids).
    const bool wide = n > 65535;
    std::vector<uint8_t> indexBytes;
    const auto addPrimitive = [&](const std::vector<uint32_t>& list, int material) {
      if (list.empty()) return;
      tinygltf::Primitive p = shared;
      p.material = material;
      p.targets = targets;
      const size_t offset = indexBytes.size();
      for (size_t t = 0; t < list.size(); ++t) {
        if (wide) {
          const uint32_t i = list[t];
          indexBytes.insert(indexBytes.end(), reinterpret_cast<const uint8_t*>(&i), reinterpret_cast<const uint8_t*>(&i) + 4);
        } else {
          const uint16_t i = uint16_t(list[t]);
          indexBytes.insert(indexBytes.end(), reinterpret_cast<const uint8_t*>(&i), reinterpret_cast<const uint8_t*>(&i) + 2);
        }
      }
      // the view is made once every list is known: the offset is kept for now
      p.indices = b.Accessor(-1, offset,
                             wide ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                             list.size(), TINYGLTF_TYPE_SCALAR);
      m.meshes.back().primitives.push_back(p);
    };
    m.meshes.emplace_back();
    m.meshes[0].name = CleanUtf8(s.name);
    if (s.materials.empty()) addPrimitive(s.unlit, -1);
    for (size_t i = 0; i < s.materials.size(); ++i) addPrimitive(s.materials[i].indices, int(i));
    const int indexView = b.View(indexBytes.data(), indexBytes.size(), TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    for (const tinygltf::Primitive& p : m.meshes[0].primitives) m.accessors[size_t(p.indices)].bufferView = indexView;
    if (!targets.empty()) {
      m.meshes[0].weights.assign(targets.size(), 0.0);
      m.meshes[0].extras = tinygltf::Value(tinygltf::Value::Object{{"targetNames", tinygltf::Value(targetNames)}});
    }
    tinygltf::Node node;
    node.name = CleanUtf8(s.name);
    node.mesh = 0;
    if (skinned) node.skin = 0;
    m.nodes.push_back(node);
    m.scenes[0].nodes.push_back(0);
  }

  // The joints as nodes below their parents, the top ones in the scene.
  const int firstJoint = int(m.nodes.size());
  for (size_t j = 0; j < s.joints.size(); ++j) {
    const Joint& joint = s.joints[j];
    tinygltf::Node node;
    node.name = CleanUtf8(joint.name);
    node.translation = {Finite(joint.translation[0]), Finite(joint.translation[1]), Finite(joint.translation[2])};
    float q[4] = {joint.rotation[0], joint.rotation[1], joint.rotation[2], joint.rotation[3]};
    NormalizeQuaternion(q);
    if (q[3] != 1.0f) node.rotation = {q[0], q[1], q[2], q[3]};
    m.nodes.push_back(node);
    if (joint.parent >= 0)
      m.nodes[size_t(firstJoint + joint.parent)].children.push_back(firstJoint + int(j));
    else
      m.scenes[0].nodes.push_back(firstJoint + int(j));
  }
  if (skinned) {
    tinygltf::Skin skin;
    skin.name = CleanUtf8(s.name);
    std::vector<float> inverse;
    inverse.reserve(s.joints.size() * 16);
    for (size_t j = 0; j < s.joints.size(); ++j) {
      skin.joints.push_back(firstJoint + int(j));
      for (float f : s.joints[j].inverseBind) inverse.push_back(Finite(f));
    }
    const int view = b.View(inverse.data(), inverse.size() * sizeof(float), 0);
    skin.inverseBindMatrices = b.Accessor(view, 0, kFloat, s.joints.size(), TINYGLTF_TYPE_MAT4);
    m.skins.push_back(skin);
  }
}

// One animation: per joint a translation and a rotation channel, and the
// mesh's weights channel when a morph moves. A channel whose values are
// the same in every frame gets one key at time 0.
void BuildAnimation(const Scene& s, Builder& b) {
  const Animation& a = s.animation;
  const size_t frames = size_t(a.frames), joints = s.joints.size(), morphs = s.morphs.size();
  tinygltf::Model& m = b.model;
  const bool hasMesh = !m.meshes.empty();
  const int firstJoint = hasMesh ? 1 : 0;
  tinygltf::Animation anim;
  anim.name = CleanUtf8(s.name);
  int allTimes = -1, firstTime = -1;
  const auto times = [&](bool constant) {
    int& slot = constant ? firstTime : allTimes;
    if (slot < 0) {
      std::vector<float> t(constant ? 1 : frames);
      for (size_t f = 0; f < t.size(); ++f) t[f] = float(double(f) / kFramesPerSecond);
      slot = b.Floats(t, 1, TINYGLTF_TYPE_SCALAR, 0);
    }
    return slot;
  };
  const auto channel = [&](int node, const char* path, std::vector<float>& values, int width, int type) {
    const size_t perKey = values.size() / frames;
    bool constant = true;
    for (size_t f = 1; f < frames && constant; ++f)
      constant = std::equal(values.begin(), values.begin() + std::ptrdiff_t(perKey),
                            values.begin() + std::ptrdiff_t(f * perKey));
    if (constant) values.resize(perKey);
    tinygltf::AnimationSampler sampler;
    sampler.input = times(constant);
    sampler.interpolation = "LINEAR";
    const int view = b.View(values.data(), values.size() * sizeof(float), 0);
    sampler.output = b.Accessor(view, 0, kFloat, values.size() / size_t(width), type);
    anim.samplers.push_back(sampler);
    tinygltf::AnimationChannel c;
    c.sampler = int(anim.samplers.size()) - 1;
    c.target_node = node;
    c.target_path = path;
    anim.channels.push_back(c);
  };
  for (size_t j = 0; j < joints; ++j) {
    std::vector<float> t(frames * 3), r(frames * 4);
    for (size_t f = 0; f < frames; ++f) {
      for (int c = 0; c < 3; ++c) t[f * 3 + size_t(c)] = Finite(a.translations[(f * joints + j) * 3 + size_t(c)]);
      float* q = &r[f * 4];
      for (int c = 0; c < 4; ++c) q[c] = a.rotations[(f * joints + j) * 4 + size_t(c)];
      NormalizeQuaternion(q);
      // Keys on one side of the sphere: the shorter way between two frames
      // is then what every reader interpolates.
      if (f > 0 && q[0] * q[-4] + q[1] * q[-3] + q[2] * q[-2] + q[3] * q[-1] < 0)
        for (int c = 0; c < 4; ++c) q[c] = -q[c];
    }
    channel(firstJoint + int(j), "translation", t, 3, TINYGLTF_TYPE_VEC3);
    channel(firstJoint + int(j), "rotation", r, 4, TINYGLTF_TYPE_VEC4);
  }
  if (hasMesh && morphs > 0) {
    std::vector<float> w(frames * morphs);
    for (size_t i = 0; i < w.size(); ++i) w[i] = Finite(a.weights[i]);
    if (std::any_of(w.begin(), w.end(), [](float v) { return v != 0.0f; }))
      channel(0, "weights", w, 1, TINYGLTF_TYPE_SCALAR);
  }
  if (!anim.channels.empty()) m.animations.push_back(anim);
}

// The model as JSON text or a .glb file image; false when the library refused.
bool Serialize(tinygltf::Model& model, bool binary, std::string* out) {
  try {
    tinygltf::TinyGLTF writer;
    // Pictures named by a URI are written by us, beside the file.
    writer.SetImageWriter(
        [](const std::string*, const std::string*, const tinygltf::Image* image, bool, std::string* uri, void*) {
          *uri = image->uri;
          return true;
        },
        nullptr);
    std::ostringstream stream;
    if (!writer.WriteGltfSceneToStream(&model, stream, false, binary)) return false;
    *out = std::move(stream).str();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

int Fail(const char* path, const std::string& why, std::string* failure) {
  DebugPrintf("glTF file %s not written: %s\n", qev::Utf8ToCp932(path ? path : "").c_str(), why.c_str());
  if (failure) *failure = why;
  return 0;
}

}  // namespace

Container ContainerOf(const std::string& path) {
  const std::string name = FileName(path);
  const auto ends = [&name](const char* ext) {
    const size_t n = std::strlen(ext);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, ext) == 0;
  };
  return ends(".glb") ? Container::kBinary : ends(".gltf") ? Container::kText : Container::kNone;
}

int CheckBake(int32_t highest, size_t joints, size_t morphs, const char* path, int64_t maxFrames,
              std::string* why) {
  qev::bake::BakeSize size;
  size.frames = int64_t(std::max(highest, 0)) + 1;
  // A frame costs its time key at least (every other channel may be
  // constant); the samples are held, then copied into the buffer and the
  // file image, before anything is written.
  size.fileBytesPerFrame = sizeof(float);
  size.memoryPerFrame = 3 * (uint64_t(joints) * 7 * sizeof(float) + uint64_t(morphs) * sizeof(float));
  return qev::bake::CheckBake(size, path, maxFrames, why);
}

int WriteGltf(const Scene& scene, const char* path, std::string* failure) {
  const std::string target = path ? path : "";
  const Container container = ContainerOf(target);
  if (container == Container::kNone) return Fail(path, "the file name ends neither in .glb nor in .gltf", failure);
  std::string why = CheckScene(scene);
  if (!why.empty()) return Fail(path, why, failure);
  std::vector<std::string> png;
  if (!EncodePictures(scene, &png, &why)) return Fail(path, why, failure);

  const std::string name = FileName(target);
  const std::string stem = name.substr(0, name.rfind('.'));
  const std::string folder = Folder(target);
  Builder b;
  const bool binary = container == Container::kBinary;
  BuildModel(scene, png, binary, stem, b);
  if (scene.animated) BuildAnimation(scene, b);
  const size_t binBytes = b.bin.size();
  if (binary && binBytes > 0) {
    b.model.buffers.emplace_back();
    b.model.buffers[0].data = std::move(b.bin);
  }
  std::string text;
  if (!Serialize(b.model, binary, &text)) return Fail(path, "the glTF library could not write the model", failure);
  if (!binary && binBytes > 0) {
    // The buffer goes beside the file under its own name: the library
    // would embed it in the text.
    try {
      nlohmann::json json = nlohmann::json::parse(text);
      json["buffers"] = nlohmann::json::array({{{"byteLength", binBytes}, {"uri", UriOf(stem + ".bin")}}});
      text = json.dump();
    } catch (const std::exception&) {
      return Fail(path, "the glTF text could not be completed", failure);
    }
  }

  // Every file to a temporary beside its target; committed together at the
  // end, the main file last, or none left.
  struct Output {
    std::string path;
    const void* data;
    size_t size;
  };
  std::vector<Output> outputs;
  if (!binary) {
    if (binBytes > 0) outputs.push_back({folder + stem + ".bin", b.bin.data(), binBytes});
    for (size_t i = 0; i < png.size(); ++i)
      outputs.push_back({folder + stem + "_" + std::to_string(i) + ".png", png[i].data(), png[i].size()});
  }
  outputs.push_back({target, text.data(), text.size()});
  // Every byte is written before any file replaces the one under its name:
  // a full disk or device fails them all with nothing replaced.
  std::vector<std::unique_ptr<CSafeFile>> files;
  std::vector<bool> made;  // nothing was under the name before this run
  const auto reason = [&](size_t i) {
    // a file beside the main one names itself
    const std::string& r = files[i]->Reason();
    return outputs[i].path == target ? r : FileName(outputs[i].path) + ": " + r;
  };
  for (const Output& o : outputs) {
    struct stat st {};
    made.push_back(::lstat(o.path.c_str(), &st) != 0 && errno == ENOENT);
    files.push_back(std::make_unique<CSafeFile>("glTF file"));
    if (!files.back()->Open(o.path.c_str()) || !files.back()->Write(o.data, o.size))
      return Fail(path, reason(files.size() - 1), failure);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i]->Commit()) continue;
    why = reason(i);
    // What already replaced an older file, or went in place to a device or
    // through a link, cannot be taken back; the files this run made go.
    for (size_t k = 0; k < i; ++k)
      if (made[k]) ::unlink(outputs[k].path.c_str());
    return Fail(path, why, failure);
  }
  return 1;
}

}  // namespace qev::gltf
