// The key commands of the window title, fired on the frame a key goes down.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "app/start_up_view.h"
#include "app/viewer.h"
#include "platform/codepage.h"
#include "platform/sdl_window.h"
#include "support/debug.h"

namespace {

struct Command {
  int vk;
  void (CViewer::*run)();
};

// Tested in this order every frame; several may fire in one frame.
const Command kCommands[] = {
    {VK_F1, &CViewer::LoadModel},
    {VK_F2, &CViewer::LoadPose},
    {VK_F3, &CViewer::LoadMotion},
    {VK_F4, &CViewer::ToggleCalcIK},
    {VK_F5, &CViewer::CycleDrawType},
    {'S', &CViewer::ToggleShading},
    {VK_F6, &CViewer::ToggleDrawBone},
    {VK_F7, &CViewer::ToggleDrawRigid},
    {VK_F8, &CViewer::ToggleCalcBullet},
    {VK_F9, &CViewer::SaveXSkin},
    {VK_F10, &CViewer::SaveXMesh},
    {VK_F11, &CViewer::ToggleCamera},
    {'V', &CViewer::SaveVideo},
};

const qev::FileFilter kModelFilter{u"QEV用モデルファイル(*.pmd)", u"*.pmd"};
const qev::FileFilter kPoseFilter{u"QEV用ポーズファイル(*.vpd)", u"*.vpd"};
const qev::FileFilter kMotionFilter{u"QEV用モーションファイル(*.vmd)", u"*.vmd"};
const qev::FileFilter kCameraFilter{u"QEV用カメラファイル(*.vmd)", u"*.vmd"};

}  // namespace

void CViewer::RunCommands() {
  for (const Command& c : kCommands)
    if (m_keys.State(c.vk) == CGetKey::kPressed) (this->*c.run)();
  RunPlayerCommands();
}

int CViewer::ChooseFile(std::string* path, const qev::FileFilter& filter) {
  const bool chosen = m_services.dialogs->GetOpenFileName(m_window.GetHandle(), path, filter);
  // whatever the dialog did, the program folder stays the working directory
  if (!m_szProgramFolder.empty() && chdir(m_szProgramFolder.c_str()) != 0) {
  }
  return chosen ? 1 : 0;
}

void CViewer::LoadModel() {
  if (ChooseFile(&m_szModelPath, kModelFilter)) OpenModel(m_szModelPath);
}
void CViewer::LoadPose() {
  if (ChooseFile(&m_szPosePath, kPoseFilter)) OpenPose(m_szPosePath);
}
void CViewer::LoadMotion() {
  std::string path = m_szMotionPath;
  if (ChooseFile(&path, kMotionFilter)) OpenMotion(path);
}

namespace {

int ShowFailure(qev::PlatformDialogs* dialogs, HWND owner, const std::string& text) {
  static const std::string caption = qev::Sjis("エラー");
  dialogs->MessageBox(owner, text, caption, qev::MB_OK);
  return 0;
}

bool HasExtension(const std::string& path, const char* extension) {
  const size_t n = std::char_traits<char>::length(extension);
  return path.size() > n && strcasecmp(path.c_str() + path.size() - n, extension) == 0;
}

}  // namespace

int CViewer::OpenModel(const std::string& path) {
  std::string failure;
  if (m_scene.LoadModel(path.c_str(), m_frame.m_pDevice, &failure)) return 1;
  return ShowFailure(m_services.dialogs, m_window.GetHandle(), failure);
}

int CViewer::OpenPose(const std::string& path) {
  std::string failure;
  if (m_scene.LoadPose(path.c_str(), &failure)) return 1;
  return ShowFailure(m_services.dialogs, m_window.GetHandle(), failure);
}

int CViewer::OpenMotion(const std::string& path) {
  // Read beside the held motion: a file that fails leaves the motion playing.
  auto motion = std::make_unique<CVmdFile>();
  const bool read = motion->Load(path.c_str());
  if (read && IsCameraMotion(*motion)) {
    // a camera's keys drive the view, remembered as the camera; the model's motion plays on
    m_szCameraPath = path;
    m_cameraTrack.Attach(*motion);
    m_bCameraPlaying = 1;
    return 1;
  }
  m_szMotionPath = path;
  if (!read) return ShowFailure(m_services.dialogs, m_window.GetHandle(), qev::Sjis("モーションデータ解析失敗"));
  std::string failure;
  if (m_scene.PlayMotion(std::move(motion), &failure)) return 1;
  return ShowFailure(m_services.dialogs, m_window.GetHandle(), failure);
}

int CViewer::OpenCamera(const std::string& path) {
  CVmdFile motion;
  // a model's motion is never taken as a camera: Attach refuses it
  if (!motion.Load(path.c_str()) || !m_cameraTrack.Attach(motion))
    return ShowFailure(m_services.dialogs, m_window.GetHandle(), qev::Sjis("カメラデータ解析失敗"));
  m_bCameraPlaying = 1;
  return 1;
}

void CViewer::ToggleCamera() {
  if (m_cameraTrack.Empty()) {
    if (ChooseFile(&m_szCameraPath, kCameraFilter)) OpenCamera(m_szCameraPath);
    return;
  }
  m_bCameraPlaying = !m_bCameraPlaying;
  DebugPrintf(m_bCameraPlaying ? "camera : plays\n" : "camera : off, the view is the mouse's\n");
}

void CViewer::FollowCamera() {
  if (m_bCameraPlaying && !m_cameraTrack.Empty()) ViewThroughCamera(&m_camera, m_cameraTrack.View(m_scene.m_fFrame));
}

int CViewer::OpenFile(const std::string& path) {
  // remembered as if chosen in the dialog
  if (HasExtension(path, ".pmd")) return OpenModel(m_szModelPath = path);
  if (HasExtension(path, ".vpd")) return OpenPose(m_szPosePath = path);
  if (HasExtension(path, ".vmd")) return OpenMotion(path);  // remembered as a motion or a camera
  for (const char* music : {".wav", ".flac", ".ogg", ".mp3"})
    if (HasExtension(path, music)) return OpenMusic(m_szMusicPath = path);
  DebugPrintf("file not opened, its extension is not .pmd, .vpd, .vmd, .wav, .flac, .ogg or .mp3: %s\n",
              qev::Utf8ToCp932(path).c_str());
  return 0;
}

void CViewer::SetStartupFiles(std::vector<std::string> paths) {
  // the model first, so a pose or motion given with it applies to it
  std::stable_partition(paths.begin(), paths.end(), [](const std::string& p) { return HasExtension(p, ".pmd"); });
  m_startupFiles = std::move(paths);
}

LRESULT CViewer::OnDropFiles(HWND, WPARAM, LPARAM) {
  std::string path;
  while (qev::TakeDroppedFile(&path))
    if (s_pViewer) s_pViewer->OpenFile(path);
  return 0;
}

void CViewer::ToggleCalcIK() {
  m_scene.CalcIK = !m_scene.CalcIK;
  if (m_scene.m_nMode == kPosePlayback) m_scene.RefreshPose();
}

// From the start value 1 the cycle is wireframe, solid, not drawn, wireframe.
void CViewer::CycleDrawType() { DrawType = (DrawType + 1) % 3; }

void CViewer::ToggleDrawBone() { DrawBone = !DrawBone; }
void CViewer::ToggleDrawRigid() { DrawRigid = !DrawRigid; }
void CViewer::ToggleCalcBullet() {
  m_scene.CalcBullet = !m_scene.CalcBullet;
  if (m_scene.m_nMode == kPosePlayback) m_scene.RefreshPose();
}
