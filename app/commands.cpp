// The key commands of the window title, fired on the frame a key goes down.
#include <unistd.h>

#include "app/viewer.h"
#include "platform/sdl_window.h"

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
    {VK_F6, &CViewer::ToggleDrawBone},
    {VK_F7, &CViewer::ToggleDrawRigid},
    {VK_F8, &CViewer::ToggleCalcBullet},
};

const qev::FileFilter kModelFilter{u"QEV用モデルファイル(*.pmd)", u"*.pmd"};
const qev::FileFilter kPoseFilter{u"QEV用ポーズファイル(*.vpd)", u"*.vpd"};
const qev::FileFilter kMotionFilter{u"QEV用モーションファイル(*.vmd)", u"*.vmd"};

}  // namespace

void CViewer::RunCommands() {
  for (const Command& c : kCommands)
    if (m_keys.State(c.vk) == CGetKey::kPressed) (this->*c.run)();
}

int CViewer::ChooseFile(std::string* path, const qev::FileFilter& filter) {
  const bool chosen = m_services.dialogs->GetOpenFileName(m_window.GetHandle(), path, filter);
  // whatever the dialog did, the program folder stays the working directory
  if (!m_szProgramFolder.empty() && chdir(m_szProgramFolder.c_str()) != 0) {
  }
  return chosen ? 1 : 0;
}

void CViewer::LoadModel() { ChooseFile(&m_szModelPath, kModelFilter); }
void CViewer::LoadPose() { ChooseFile(&m_szPosePath, kPoseFilter); }
void CViewer::LoadMotion() { ChooseFile(&m_szMotionPath, kMotionFilter); }

void CViewer::ToggleCalcIK() { CalcIK = !CalcIK; }

// From the start value 1 the cycle is wireframe, solid, not drawn, wireframe.
void CViewer::CycleDrawType() { DrawType = (DrawType + 1) % 3; }

void CViewer::ToggleDrawBone() { DrawBone = !DrawBone; }
void CViewer::ToggleDrawRigid() { DrawRigid = !DrawRigid; }
void CViewer::ToggleCalcBullet() { CalcBullet = !CalcBullet; }
