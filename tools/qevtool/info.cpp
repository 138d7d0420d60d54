#include "tools/qevtool/info.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "model/pmd_file.h"
#include "model/pmx_file.h"
#include "model/vmd_file.h"
#include "model/vpd_file.h"
#include "platform/codepage.h"
#include "tools/qevtool/info_picture.h"
#include "tools/qevtool/standard_output.h"
#include "tools/qevtool/summary_capture.h"

namespace {

void Count(const char* what, long long n) { std::printf("  %-22s %lld\n", what, n); }

std::string Utf8Name(const char* cp932) { return qev::Cp932ToUtf8(cp932); }

// Each reader's part: 1 when loaded; on failure the reason goes to *why.
int InfoPmd(const char* path, std::string* why) {
  CPmdFile pmd;
  SummaryCapture log;
  const int loaded = pmd.Load(path);
  log.Print();
  if (!loaded) {
    *why = log.Reason(path, "not a PMD model");
    return 0;
  }
  std::printf("counts:\n");
  Count("vertices", pmd.m_nVertex);
  Count("indices", pmd.m_nIndex);
  Count("materials", pmd.m_nMaterial);
  Count("bones", pmd.m_nBone);
  Count("IK lists", pmd.m_nIk);
  Count("morphs", pmd.m_nMorph);
  Count("morph display entries", pmd.m_nMorphDisp);
  Count("display frames", pmd.m_nFrameName);
  Count("bone display entries", pmd.m_nBoneDisp);
  Count("rigid bodies", pmd.m_nRigidBody);
  Count("joints", pmd.m_nJoint);
  return 1;
}

// The same rows as for a PMD model (IK lists are the IK bones, the display
// entries are summed over the frames), then the blocks PMD does not have.
int InfoPmx(const char* path, std::string* why) {
  CPmxFile pmx;
  SummaryCapture log;
  const int loaded = pmx.Load(path);
  log.Print();
  if (!loaded) {
    *why = log.Reason(path, "not a PMX model");
    return 0;
  }
  long long morphEntries = 0, boneEntries = 0;
  for (const PmxDisplayFrame& f : pmx.m_DisplayFrames) {
    morphEntries += f.morphs;
    boneEntries += f.bones;
  }
  std::printf("counts:\n");
  Count("vertices", (long long)pmx.m_Vertices.size());
  Count("indices", (long long)pmx.m_Indices.size());
  Count("materials", (long long)pmx.m_Materials.size());
  Count("bones", (long long)pmx.m_Bones.size());
  Count("IK lists", pmx.m_nIk);
  Count("morphs", (long long)pmx.m_Morphs.size());
  Count("morph display entries", morphEntries);
  Count("display frames", (long long)pmx.m_DisplayFrames.size());
  Count("bone display entries", boneEntries);
  Count("rigid bodies", (long long)pmx.m_RigidBodies.size());
  Count("joints", (long long)pmx.m_Joints.size());
  Count("textures", (long long)pmx.m_Textures.size());
  Count("soft bodies", pmx.m_nSoftBody);
  return 1;
}

int InfoVmd(const char* path, std::string* why) {
  CVmdFile vmd;
  SummaryCapture log;
  const int loaded = vmd.Load(path);
  log.Print();
  if (!loaded) {
    *why = log.Reason(path, "cannot read the motion");
    return 0;
  }
  long long boneKeys = 0, morphKeys = 0, showIkEntries = 0;
  for (int i = 0; i < vmd.m_nBoneTrack; ++i) boneKeys += vmd.m_pBoneTrack[i].nKey;
  for (int i = 0; i < vmd.m_nMorphTrack; ++i) morphKeys += vmd.m_pMorphTrack[i].nKey;
  for (int i = 0; i < vmd.m_nShowIkKey; ++i) showIkEntries += vmd.m_pShowIkKey[i].nIk;
  std::printf("counts:\n");
  Count("bone tracks", vmd.m_nBoneTrack);
  Count("bone keys", boneKeys);
  Count("morph tracks", vmd.m_nMorphTrack);
  Count("morph keys", morphKeys);
  Count("camera keys", vmd.m_nCameraKey);
  Count("light keys", vmd.m_nLightKey);
  Count("self-shadow keys", vmd.m_nShadowKey);
  Count("visibility / IK keys", vmd.m_nShowIkKey);
  Count("IK switch entries", showIkEntries);
  Count("highest frame", vmd.m_nMaxFrame);
  std::printf("bone tracks:\n");
  for (int i = 0; i < vmd.m_nBoneTrack; ++i) {
    const VmdBoneTrack& t = vmd.m_pBoneTrack[i];
    std::printf("  %s: %d keys, frames %u..%u\n", Utf8Name(t.name).c_str(), t.nKey, t.pKey[0].frame,
                t.pKey[t.nKey - 1].frame);
  }
  std::printf("morph tracks:\n");
  for (int i = 0; i < vmd.m_nMorphTrack; ++i)
    std::printf("  %s: %d keys\n", Utf8Name(vmd.m_pMorphTrack[i].name).c_str(), vmd.m_pMorphTrack[i].nKey);
  return 1;
}

int InfoVpd(const char* path, std::string* why) {
  CVpdFile vpd;
  SummaryCapture log;
  const int loaded = vpd.Load(path);
  log.Print();
  if (!loaded) {
    *why = log.Reason(path, "cannot read the pose");
    return 0;
  }
  std::printf("counts:\n");
  Count("pose bones", vpd.m_nPoseBone);
  std::printf("pose bones:\n");
  for (int i = 0; i < vpd.m_nPoseBone; ++i) {
    const VpdPoseBone& b = vpd.m_pPoseBone[i];
    std::printf("  %s: (%g, %g, %g) (%g, %g, %g, %g)\n", Utf8Name(b.name).c_str(), double(b.pos.x),
                double(b.pos.y), double(b.pos.z), double(b.rot.x), double(b.rot.y), double(b.rot.z),
                double(b.rot.w));
  }
  return 1;
}

// The extension after the last dot of the file name, in lower case.
std::string Extension(const char* path) {
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  const char* dot = std::strrchr(name, '.');
  std::string ext = dot ? dot + 1 : "";
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return ext;
}

}  // namespace

void InfoUsage(FILE* out) {
  std::fputs(
      "usage: qevtool info FILE...\n"
      "Loads each file with the reader its extension names (.pmd or .pmx model,\n"
      ".vmd motion, .vpd pose; any letter case) and prints the reader's summary, the\n"
      "lines the log gets, followed by the counts of every block. Any other file is\n"
      "loaded as a picture, as a material's texture would be (plug-ins from FILES\n"
      "beside the program), and the route that decoded it, its image and texture\n"
      "sizes, bits per pixel and plug-in information are printed. Text is printed\n"
      "in UTF-8; bytes that are not valid text (names cut inside a character)\n"
      "print as U+FFFD.\n"
      "exit status: 0 every file loaded, 1 some file failed (its error on stderr),\n"
      "2 bad usage.\n",
      out);
}

int RunInfo(int argc, char** argv) {
  std::vector<const char*> files;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      InfoUsage(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--")) {
      files.insert(files.end(), argv + i + 1, argv + argc);
      break;
    }
    if (argv[i][0] == '-' && argv[i][1]) {
      std::fprintf(stderr, "qevtool info: unknown option '%s'\n", argv[i]);
      InfoUsage(stderr);
      return 2;
    }
    files.push_back(argv[i]);
  }
  if (files.empty()) {
    InfoUsage(stderr);
    return 2;
  }
  int status = 0;
  for (const char* path : files) {
    std::printf("file: %s\n", path);
    FlushStandardOutput();
    const std::string ext = Extension(path);
    std::string why;
    const int loaded = ext == "pmd"   ? InfoPmd(path, &why)
                       : ext == "pmx" ? InfoPmx(path, &why)
                       : ext == "vmd" ? InfoVmd(path, &why)
                       : ext == "vpd" ? InfoVpd(path, &why)
                                      : InfoPicture(path, &why);
    FlushStandardOutput();
    if (!loaded) {
      std::fprintf(stderr, "qevtool info: %s: %s\n", path, why.c_str());
      status = 1;
    }
  }
  return status;
}
