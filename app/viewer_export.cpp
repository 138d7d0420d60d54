// F9 and F10: the save dialog over the scene's X exports (or its glTF
// exports, when the name chosen ends in .glb or .gltf), and the frames a
// bake shows while it runs (the viewer's loop does not run meanwhile).
#include <unistd.h>

#include "app/gltf_export.h"
#include "app/viewer.h"
#include "app/x_export.h"
#include "platform/codepage.h"

namespace {

const qev::FileFilter kXFilter{u"Xファイル(*.x) / glTF(*.glb *.gltf)", u"*.x *.glb *.gltf"};

bool IsGltf(const std::string& path) { return qev::gltf::ContainerOf(path) != qev::gltf::Container::kNone; }

}  // namespace

int CViewer::ChooseXFile(std::string* path) {
  *path = ProposedXPath(m_szModelPath);
  // No question before an existing file is replaced: the export replaces it.
  const bool chosen = m_services.dialogs->GetSaveFileName(m_window.GetHandle(), path, kXFilter);
  if (!m_szProgramFolder.empty() && chdir(m_szProgramFolder.c_str()) != 0) {
  }
  return chosen ? 1 : 0;
}

void CViewer::DrawBakeFrame() {
  m_frame.BeginDraw();
  if (IDirect3DDevice9* device = m_frame.m_pDevice) {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device->SetTransform(D3DTS_VIEW, &m_camera.m_mView);
    device->SetTransform(D3DTS_PROJECTION, &m_camera.m_mProjection);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetTransform(D3DTS_WORLD, &identity);
    if (m_scene.m_physics.HasWorld()) m_scene.m_physics.DebugDraw();
  }
  m_frame.EndDraw();
}

namespace {

// The export's outcome as the user sees it: nothing when written, else a
// message box saying why.
void ReportExport(qev::PlatformDialogs* dialogs, HWND owner, int written, const std::string& failure,
                  bool gltf = false) {
  if (written) return;
  static const std::string caption = qev::Sjis("エラー");
  const char* what = gltf ? "glTFファイルを書き込めませんでした\n" : "Xファイルを書き込めませんでした\n";
  dialogs->MessageBox(owner, qev::Sjis(what) + failure, caption, qev::MB_OK);
}

void ReportNoModel(qev::PlatformDialogs* dialogs, HWND owner) {
  static const std::string caption = qev::Sjis("エラー");
  dialogs->MessageBox(owner, qev::Sjis("モデルが読み込まれていません"), caption, qev::MB_OK);
}

}  // namespace

void CViewer::SaveXSkin() {
  m_scene.m_skeleton.Dump(0);  // the tree the file's bones come from, before anything is asked
  if (!m_scene.Loaded()) return ReportNoModel(m_services.dialogs, m_window.GetHandle());
  std::string path, failure;
  if (!ChooseXFile(&path)) return;
  const BakeProgress progress = [this](int32_t, int32_t) { DrawBakeFrame(); };
  const bool gltf = IsGltf(path);
  const int written = gltf ? ExportGltf(m_scene, m_szModelPath, path.c_str(), true, progress, &failure)
                           : ExportXSkin(m_scene, path.c_str(), progress, &failure);
  ReportExport(m_services.dialogs, m_window.GetHandle(), written, failure, gltf);
}

void CViewer::SaveXMesh() {
  m_scene.m_skeleton.Dump(0);
  if (!m_scene.Loaded()) return ReportNoModel(m_services.dialogs, m_window.GetHandle());
  std::string path, failure;
  if (!ChooseXFile(&path)) return;
  // glTF: the model with its skin (the file has no plain-mesh form)
  const bool gltf = IsGltf(path);
  const int written = gltf ? ExportGltf(m_scene, m_szModelPath, path.c_str(), false, nullptr, &failure)
                           : ExportXMesh(m_scene, path.c_str(), &failure);
  ReportExport(m_services.dialogs, m_window.GetHandle(), written, failure, gltf);
}
