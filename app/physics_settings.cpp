#include "app/physics_settings.h"

#include <string>

#include "app/ini_edit_x.h"
#include "app/model_physics.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

constexpr int kSettingUnits = 128;  // what GetSetting fills, terminator included

}  // namespace

void ReadPhysicsSettings(CIniEditX& settings, CModelPhysics& physics) {
  char16_t value[kSettingUnits] = {};
  if (!settings.GetSetting(kPhysicsSubstepsKey, value)) return;
  int substeps = 0;
  // Digits and blanks are the same in every code page: anything else fails.
  const std::string text = qev::Utf16ToCp932(value);
  if (ParsePhysicsSubsteps(text.c_str(), &substeps)) {
    physics.SetSubsteps(substeps);
    return;
  }
  DebugPrintf("QEVTest.ini: PHYSICSSUBSTEPS=%s is not a whole number from 1 to %d; %d sub-steps are used\n",
              text.c_str(), kMaxPhysicsSubsteps, physics.Substeps());
}

void StorePhysicsSettings(CIniEditX& settings, const CModelPhysics& physics) {
  char16_t value[kSettingUnits] = {};
  if (!settings.GetSetting(kPhysicsSubstepsKey, value)) return;
  settings.SetSetting(kPhysicsSubstepsKey, qev::Utf8ToUtf16(std::to_string(physics.Substeps())).c_str());
}
