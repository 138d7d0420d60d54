#include "tools/qevtool/convert.h"

#include <cstring>
#include <string>

#include "app/gltf_export.h"
#include "app/scene.h"
#include "export/gltf_writer.h"
#include "export/x_mesh_writer.h"
#include "model/model_description.h"
#include "tools/qevtool/summary_capture.h"

void ConvertUsage(FILE* out) {
  std::fputs(
      "usage: qevtool convert MODEL -o OUT.x|OUT.glb|OUT.gltf\n"
      "Writes the model's mesh in its bind pose (positions, normals, texture\n"
      "coordinates, materials; no bones) as a DirectX text file, exactly as the\n"
      "viewer's F10 does. An existing OUT.x is replaced, but only once the new\n"
      "file is completely written: on any failure the old one stays as it was.\n"
      "OUT.glb or OUT.gltf: the model as glTF 2.0 instead, skinned (the\n"
      "skeleton as joints, the morphs that move vertices as morph targets, the\n"
      "textures as PNG pictures); a .glb holds everything, a .gltf gets OUT.bin\n"
      "and OUT_N.png beside it, all written or none.\n"
      "exit status: 0 written, 1 the model could not be read or the file not\n"
      "written (the reason on stderr), 2 bad usage.\n",
      out);
}

int RunConvert(int argc, char** argv) {
  const char* model = nullptr;
  const char* output = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      ConvertUsage(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "-o") && i + 1 < argc && !output) {
      output = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1]) {
      std::fprintf(stderr, "qevtool convert: unknown option '%s'\n", argv[i]);
      ConvertUsage(stderr);
      return 2;
    } else if (!model) {
      model = argv[i];
    } else {
      std::fprintf(stderr, "qevtool convert: more than one model given\n");
      ConvertUsage(stderr);
      return 2;
    }
  }
  if (!model || !output || !output[0]) {
    ConvertUsage(stderr);
    return 2;
  }

  std::string failure;
  if (qev::gltf::ContainerOf(output) != qev::gltf::Container::kNone) {
    CScene scene;
    {
      SummaryCapture log;
      if (!scene.LoadModel(model, nullptr, &failure)) {
        std::fprintf(stderr, "qevtool convert: %s: %s\n", model,
                     log.Reason(model, CModelDescription::IsPmx(model, nullptr, 0) ? "not a PMX model"
                                                                                   : "not a PMD model")
                         .c_str());
        return 1;
      }
    }
    if (!ExportGltf(scene, model, output, false, nullptr, &failure)) {
      std::fprintf(stderr, "qevtool convert: %s: %s\n", output, failure.c_str());
      return 1;
    }
    return 0;
  }
  CModelDescription description;
  {
    SummaryCapture log;
    if (!description.Load(model)) {
      std::fprintf(stderr, "qevtool convert: %s: %s\n", model,
                   log.Reason(model, CModelDescription::IsPmx(model, nullptr, 0) ? "not a PMX model"
                                                                                 : "not a PMD model")
                       .c_str());
      return 1;
    }
  }
  if (!qev::xfile::WriteXMesh(description, output, &failure)) {
    std::fprintf(stderr, "qevtool convert: %s: %s\n", output, failure.c_str());
    return 1;
  }
  return 0;
}
