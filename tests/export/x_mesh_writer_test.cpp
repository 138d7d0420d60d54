// The plain mesh X file, byte for byte, and what a failed write leaves.
#include "export/x_mesh_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>
#include <string>

#include "tests/common/temp_dir.h"
#include "tests/export/x_test_util.h"

namespace {

using qev::fixture::PmdDesc;
using qev::test::Crlf;
using qev::test::LoadModel;
using qev::test::OneTriangle;
using qev::xfile::WriteXMesh;

std::string Written(const PmdDesc& desc) {
  CModelDescription model;
  if (!LoadModel(model, desc)) return "model refused";
  qev::test::TempDir dir;
  std::string failure;
  if (!WriteXMesh(model, dir.Path("out.x").c_str(), &failure)) return "not written: " + failure;
  return dir.ReadFile("out.x");
}

TEST(XMeshWriter, OneTexturedTriangle) {
  // z mirrored on load (0 becomes -0), the first two indices swapped, the
  // two vertices with one normal share it, the texture name cut at "*".
  EXPECT_EQ(Written(OneTriangle()), Crlf("xof 0303txt 0032\n"
                                         "\n"
                                         "Mesh {\n"
                                         " 3;\n"
                                         " 0.000000;0.000000;-0.000000;,\n"
                                         " 1.000000;0.000000;-0.000000;,\n"
                                         " 0.000000;1.000000;-0.500000;;\n"
                                         " 1;\n"
                                         " 3;1,0,2;;\n"
                                         "\n"
                                         " MeshNormals {\n"
                                         "  2;\n"
                                         "  0.000000,0.000000,1.000000;,\n"
                                         "  0.000000,1.000000,-0.000000;;\n"
                                         "  1;\n"
                                         "  3;0,0,1;;\n"
                                         " }\n"
                                         "\n"
                                         " MeshTextureCoords {\n"
                                         "  3;\n"
                                         "  0.000000;0.000000;,\n"
                                         "  1.000000;0.000000;,\n"
                                         "  0.000000;1.000000;;\n"
                                         " }\n"
                                         "\n"
                                         " MeshMaterialList {\n"
                                         "  1;\n"
                                         "  1;\n"
                                         "  0;\n"
                                         "  Material {\n"
                                         "   0.800000;0.800000;0.800000;1.000000;;\n"
                                         "   0.050000;\n"
                                         "   0.250000;0.500000;0.750000;;\n"
                                         "   0.0;0.0;0.0;;\n"
                                         "   TextureFilename {\n"
                                         "    \"a.bmp\";\n"
                                         "   }\n"
                                         "  }\n"
                                         " }\n"
                                         "}\n"
                                         "\n"));
}

// Two triangles over four vertices that all share one normal, under one
// material.
PmdDesc Quad() {
  PmdDesc d = OneTriangle();
  d.vertices.push_back({{1, 1, 0}, {0, 0, -1}, {1, 1}, {0, 0}, 100, 0});
  for (auto& v : d.vertices) v.normal[0] = 0, v.normal[1] = 0, v.normal[2] = -1;
  d.indices = {0, 1, 2, 2, 1, 3};
  d.materials[0].indexCount = 6;
  return d;
}

// The text from "MeshMaterialList {" to the end.
std::string MaterialPart(const std::string& text) {
  const size_t at = text.find("MeshMaterialList {");
  return at == std::string::npos ? text : text.substr(at);
}

TEST(XMeshWriter, MaterialListWalksTheMaterialsInOrder) {
  qev::fixture::PmdMaterialDesc plain;  // no texture
  plain.diffuse[0] = 1, plain.diffuse[1] = 0, plain.diffuse[2] = 0, plain.diffuse[3] = 0.5f;
  plain.specularPower = 100.0f;
  struct Case {
    const char* what;
    std::vector<uint32_t> indexCounts;  // per material
    std::string expected;
  };
  const std::string red = "  Material {\n"
                          "   1.000000;0.000000;0.000000;0.500000;;\n"
                          "   1.000000;\n"
                          "   0.000000;0.000000;0.000000;;\n"
                          "   0.0;0.0;0.0;;\n"
                          "  }\n";
  const Case cases[] = {
      {"no materials: one plain white material for every face", {},
       "MeshMaterialList {\n  1;\n  2;\n  0,\n  0;\n  Material {\n   1.000000;1.000000;1.000000;1.000000;;\n"
       "   0.000000;\n   0.000000;0.000000;0.000000;;\n   0.0;0.0;0.0;;\n  }\n }\n}\n\n"},
      {"one material over both", {6}, "MeshMaterialList {\n  1;\n  2;\n  0,\n  0;\n" + red + " }\n}\n\n"},
      {"one triangle each", {3, 3},
       "MeshMaterialList {\n  2;\n  2;\n  0,\n  1;\n" + red + red + " }\n}\n\n"},
      {"a material that draws nothing in between", {3, 0, 3},
       "MeshMaterialList {\n  3;\n  2;\n  0,\n  2;\n" + red + red + red + " }\n}\n\n"},
      // the list is closed after the last entry written, not left open
      {"a last material that draws nothing", {6, 0},
       "MeshMaterialList {\n  2;\n  2;\n  0,\n  0;\n" + red + red + " }\n}\n\n"},
      // only the faces drawn are listed, so both counts are the same
      {"a material over the first triangle only", {3}, "MeshMaterialList {\n  1;\n  1;\n  0;\n" + red + " }\n}\n\n"},
      {"materials that draw nothing", {0, 2}, "MeshMaterialList {\n  2;\n  0;\n" + red + red + " }\n}\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = Quad();
    d.materials.clear();
    for (uint32_t n : c.indexCounts) {
      d.materials.push_back(plain);
      d.materials.back().indexCount = n;
    }
    EXPECT_EQ(MaterialPart(Written(d)), Crlf(c.expected));
  }
}

// The face lines of the mesh (" 3;a,b,c;"), "|", and those of its normal
// list ("  3;a,b,c;"): the lines between two markers that start so.
std::string FaceLines(const std::string& text) {
  auto lines = [&](const char* from, const char* to, const std::string& head) {
    std::string out;
    const size_t end = text.find(to);
    for (size_t at = text.find(from); at < end; at = text.find('\n', at) + 1)
      if (text.compare(at, head.size(), head) == 0 && text.find(',', at) < text.find('\n', at))
        out += text.substr(at, text.find('\n', at) + 1 - at);
    return out;
  };
  return lines("Mesh {", " MeshNormals {", " 3;") + "|" + lines(" MeshNormals {", " MeshTextureCoords {", "  3;");
}

TEST(XMeshWriter, FacesAreTheTrianglesTheMaterialsDraw) {
  // Quad's indices as loaded: 1,0,2 and 1,2,3 (the first two of each
  // triangle swapped back); its vertices share one normal. A material draws
  // index-count/3 triangles from where the one before it ended, whole
  // triangles of the list or not, as the viewer draws them.
  struct Case {
    const char* what;
    std::vector<uint32_t> indexCounts;  // per material
    const char* faces;                  // the face lines, "|", the normal list's
  };
  const Case cases[] = {
      {"every triangle drawn", {3, 3}, " 3;1,0,2;,\r\n 3;1,2,3;;\r\n|  3;0,0,0;,\r\n  3;0,0,0;;\r\n"},
      {"no materials: every triangle", {}, " 3;1,0,2;,\r\n 3;1,2,3;;\r\n|  3;0,0,0;,\r\n  3;0,0,0;;\r\n"},
      {"the first triangle only", {3}, " 3;1,0,2;;\r\n|  3;0,0,0;;\r\n"},
      {"the second only, after materials of none", {1, 2, 3}, " 3;1,2,3;;\r\n|  3;0,0,0;;\r\n"},
      {"a triangle across the two", {1, 3}, " 3;0,2,1;;\r\n|  3;0,0,0;;\r\n"},
      {"nothing drawn", {2}, "|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = Quad();
    d.materials.clear();
    for (uint32_t n : c.indexCounts) {
      d.materials.push_back(OneTriangle().materials[0]);
      d.materials.back().indexCount = n;
    }
    const std::string text = Written(d);
    EXPECT_EQ(FaceLines(text), c.faces) << text;
  }
}

TEST(XMeshWriter, SharedNormalIsListedOnce) {
  const std::string text = Written(Quad());
  EXPECT_NE(text.find(Crlf(" MeshNormals {\n"
                           "  1;\n"
                           "  0.000000,0.000000,1.000000;;\n"
                           "  2;\n"
                           "  3;0,0,0;,\n"
                           "  3;0,0,0;;\n"
                           " }\n")),
            std::string::npos)
      << text;
}

TEST(XMeshWriter, TextureNames) {
  struct Case {
    const char* field;
    const char* block;  // empty: no texture block
  };
  const Case cases[] = {
      {"face.bmp*sphere.sph", "    \"face.bmp\";\n"},
      {"face.bmp", "    \"face.bmp\";\n"},
      {"*sphere.sph", "    \"\";\n"},
      {"", ""},
      {"12345678901234567890", "    \"12345678901234567890\";\n"},  // the whole field, no terminator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    PmdDesc d = OneTriangle();
    d.materials[0].texture = c.field;
    const std::string text = Written(d);
    if (c.block[0])
      EXPECT_NE(text.find(Crlf(std::string("   TextureFilename {\n") + c.block + "   }\n")), std::string::npos)
          << text;
    else
      EXPECT_EQ(text.find("TextureFilename"), std::string::npos) << text;
  }
}

TEST(XMeshWriter, ValuesNoModelShouldHoldAreWrittenAsPrintfWritesThem) {
  PmdDesc d = OneTriangle();
  const float inf = std::numeric_limits<float>::infinity();
  d.vertices[0].pos[0] = std::numeric_limits<float>::quiet_NaN();
  d.vertices[0].pos[1] = -std::numeric_limits<float>::quiet_NaN();
  d.vertices[0].pos[2] = inf;  // mirrored on load
  d.vertices[1].uv[0] = 3.0e38f;
  d.materials[0].specularPower = -inf;
  const std::string text = Written(d);
  EXPECT_NE(text.find(Crlf(" nan;-nan;-inf;,\n")), std::string::npos) << text;
  EXPECT_NE(text.find(Crlf("  300000000549775575777803994281145270272.000000;0.000000;,\n")), std::string::npos)
      << text;
  EXPECT_NE(text.find(Crlf("   -inf;\n")), std::string::npos) << text;
}

TEST(XMeshWriter, EmptyModelStillGivesAWellFormedFile) {
  PmdDesc d;
  d.bones = {{"center", -1, 0, 0, 0, {0, 0, 0}, ""}};
  EXPECT_EQ(Written(d), Crlf("xof 0303txt 0032\n\nMesh {\n 0;\n 0;\n\n MeshNormals {\n  0;\n  0;\n }\n\n"
                             " MeshTextureCoords {\n  0;\n }\n\n MeshMaterialList {\n  0;\n  0;\n }\n}\n\n"));
}

TEST(XMeshWriter, FailedWriteKeepsTheOldFile) {
  CModelDescription model;
  ASSERT_TRUE(LoadModel(model, OneTriangle()));
  qev::test::TempDir dir;
  dir.WriteFile("old.x", "old contents");
  ASSERT_EQ(::mkdir(dir.Path("folder.x").c_str(), 0755), 0);
  struct Case {
    const char* what;
    std::string path;
    const char* reason;
  };
  const Case cases[] = {
      {"a folder in place of the file", dir.Path("folder.x"), "a folder has that name"},
      {"a folder that is gone", dir.Path("gone/out.x"), "cannot create the file (No such file or directory)"},
      {"no name", "", "no file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qev::test::LogCapture log;
    std::string failure;
    EXPECT_EQ(WriteXMesh(model, c.path.c_str(), &failure), 0);
    EXPECT_EQ(failure.rfind(c.reason, 0), 0u) << failure;
    EXPECT_TRUE(log.Contains("not written: ")) << log.Text();
  }
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"folder.x", "old.x"}));
  EXPECT_EQ(dir.ReadFile("old.x"), "old contents");
}

}  // namespace
