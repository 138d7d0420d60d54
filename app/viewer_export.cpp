// F9 and F10: the save dialog over the scene's X exports, and the frames a
// bake shows while it runs (the viewer's loop does not run meanwhile).
#include <unistd.h>

#include "app/viewer.h"
#include "app/x_export.h"
#include "platform/codepage.h"

namespace {

const qev::FileFilter kXFilter{u"Xファイル(*.x)", u"*.x"};

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
void ReportExport(qev::PlatformDialogs* dialogs, HWND owner, int written, const std::string& failure) {
  if (written) return;
  static const std::string caption = qev::Sjis("エラー");
  dialogs->MessageBox(owner, qev::Sjis("Xファイルを書き込めませんでした\n") + failure, caption, qev::MB_OK);
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
  const int written = ExportXSkin(m_scene, path.c_str(), [this](int32_t, int32_t) { DrawBakeFrame(); }, &failure);
  ReportExport(m_services.dialogs, m_window.GetHandle(), written, failure);
}

void CViewer::SaveXMesh() {
  m_scene.m_skeleton.Dump(0);
  if (!m_scene.Loaded()) return ReportNoModel(m_services.dialogs, m_window.GetHandle());
  std::string path, failure;
  if (!ChooseXFile(&path)) return;
  ReportExport(m_services.dialogs, m_window.GetHandle(), ExportXMesh(m_scene, path.c_str(), &failure), failure);
}
