// Start-up, the frame loop and shutdown of the viewer.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/grid.h"
#include "app/ini_edit_x.h"
#include "app/physics_settings.h"
#include "app/viewer.h"
#include "physics/bullet_debug_draw.h"
#include "platform/codepage.h"
#include "platform/sdl_window.h"
#include "support/debug.h"

namespace {

// Folder of the running executable, without the trailing separator.
std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : exe.parent_path().string();
}

}  // namespace

std::u16string CViewer::Title() {
  // stored as the system's narrow text, shown as UTF-16
  return qev::Cp932ToUtf16(qev::Sjis(
      "QEVテスト v0.92 ([F1]LoadPMD [F2]LoadVPD [F3]LoadVMD [F4]CalcIK   [F5]DrawType [S]Shading [F6]DrawBone "
      "[F7]DrawRigid [F8]CalcBullet   [F9]SaveXSkin [F10]SaveXMesh [V]SaveVideo   [F11]Camera   [SPC]ResetBullet)"));
}

int CViewer::WinMain() {
  // 1. the program folder becomes the working directory
  m_szProgramFolder = ProgramFolder();
  if (chdir(m_szProgramFolder.c_str()) != 0) DebugOutputf("cannot enter the program folder\n");
  // 2. the log holds this run only
  std::string logPath = m_szProgramFolder;
  logPath += "/DEBUG.TXT";
  CDebug::Global().Open(logPath.c_str());
  CDebug::Global().Clear();
  // 3. the window
  m_window.m_bDoubleClick = 0;
  if (!m_window.Create(nullptr, Title())) return -1;
  // 4. device, 5. camera, 6. IK goal locator, 7. physics debug drawer; no
  // device ends the program
  m_frame.m_multiSampleType = D3DMULTISAMPLE_4_SAMPLES;  // used while solid drawing is shaded
  if (!StartDevice(DeviceBackend::kWindowGl)) return -1;
  // 8. remembered paths (and the physics sub-step count); 9. mouse
  // handlers; 10. floor grid; 11. frame clock
  ReadRememberedPaths();
  ReadPhysicsSettings(m_settings, m_scene.m_physics);
  ReadShadingSetting();
  AddMouseHandlers();
  m_window.AddHandler(WM_DROPFILES, &CViewer::OnDropFiles);
  BuildGrid(&m_grid);
  // files named on the command line, as if chosen in the dialogs
  for (const std::string& path : m_startupFiles) OpenFile(path);
  m_timer.Start(30);

  // 12. frame loop
  while (RunPass()) {
  }

  // shutdown: the material textures go with the scene
  m_scene.DiscardModel();
  StoreRememberedPaths();
  StorePhysicsSettings(m_settings, m_scene.m_physics);
  StoreShadingSetting();
  m_frame.ReleaseTextures();
  m_timeline.Release();
  m_pDebugDraw->Detach();  // its atlas goes with the device, not after the window
  m_frame.Term();
  m_window.Destroy();
  return 0;
}

void CViewer::ReadRememberedPaths() {
  // A missing key leaves its path empty; a value comes back cut to 127 units.
  auto read = [this](const char16_t* key, std::string* path) {
    char16_t value[260] = {};
    if (m_settings.GetSetting(key, value)) *path = qev::Utf16ToUtf8(value);
  };
  read(u"PMDFILE", &m_szModelPath);
  read(u"VPDFILE", &m_szPosePath);
  read(u"VMDFILE", &m_szMotionPath);
  read(u"CAMERAFILE", &m_szCameraPath);
}

void CViewer::StoreRememberedPaths() {
  m_settings.SetSetting(u"PMDFILE", qev::Utf8ToUtf16(m_szModelPath).c_str());
  m_settings.SetSetting(u"VPDFILE", qev::Utf8ToUtf16(m_szPosePath).c_str());
  m_settings.SetSetting(u"VMDFILE", qev::Utf8ToUtf16(m_szMotionPath).c_str());
  m_settings.SetSetting(u"CAMERAFILE", qev::Utf8ToUtf16(m_szCameraPath).c_str());
}

bool CViewer::RunPass() {
  bool running = true;
  MSG msg;
  while (qev::PeekMessage(&msg)) {
    if (msg.message == WM_QUIT) {
      DebugPrintf("WM_QUIT\n");
      running = false;
      break;
    }
    qev::DispatchMessage(msg);
  }
  // one frame however many periods passed: frames are never caught up
  if (m_timer.Tick() != 0) RunFrame();
  m_services.clock->Sleep(1);
  return running;
}

void CViewer::RunFrame() {
  m_keys.Update();
  RunCommands();
  m_player.Update(m_scene, m_keys.State(VK_SPACE) == CGetKey::kPressed);
  FollowCamera();
  DrawScene();
}
