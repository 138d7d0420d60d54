// The plain mesh X file: the model's bind-pose mesh with normals, texture
// coordinates and materials, without frames, skin or animation.
#pragma once
#include <string>

class CModelDescription;

namespace qev::xfile {

// Writes the model's mesh to a native path, replacing any file there only
// once the whole text is written. 1 when written; 0 with the reason in
// *failure (when given) and one log line, the old file kept.
int WriteXMesh(const CModelDescription& model, const char* path, std::string* failure);

}  // namespace qev::xfile
