#include "export/x_mesh_writer.h"

#include "export/safe_file.h"
#include "export/x_shared.h"
#include "export/x_text.h"
#include "model/model_description.h"

namespace qev::xfile {

int WriteXMesh(const CModelDescription& model, const char* path, std::string* failure) {
  CSafeFile file;
  if (!file.Open(path)) {
    if (failure) *failure = file.Reason();
    return 0;
  }
  NormalList normals;
  CollectNormals(model.m_vertices.data(), int32_t(model.m_vertices.size()), &normals);
  {
    CXText out(file);
    out.Put("xof 0303txt 0032\n").Put("\n");
    out.Put("Mesh {\n");
    WriteMeshBody(out, model, normals, 1, "0.0;0.0;0.0;;\n");
    out.Put("}\n").Put("\n");
    out.Flush();
  }
  if (!file.Commit()) {
    if (failure) *failure = file.Reason();
    return 0;
  }
  return 1;
}

}  // namespace qev::xfile
