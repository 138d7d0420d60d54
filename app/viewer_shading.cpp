// The viewer's shading switch: S turns the lighting, toon ramps, sphere maps
// and outlines of solid drawing on and off, remembered in QEVTest.ini.
#include <string>

#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "platform/codepage.h"
#include "support/debug.h"

void CViewer::ToggleShading() {
  Shaded = !Shaded;
  m_bShadingChosen = true;
  DebugPrintf(Shaded ? "shading : on\n" : "shading : off, solid drawing is unlit\n");
}

void CViewer::ReadShadingSetting() {
  char16_t value[260] = {};
  if (!m_settings.GetSetting(kShadingKey, value)) return;
  m_bShadingChosen = true;  // the file names it: it is written back
  const std::string text = qev::Utf16ToUtf8(value);
  if (text == "0" || text == "1")
    Shaded = text == "1";
  else
    DebugPrintf("QEVTest.ini : SHADING is neither 0 nor 1 (%s), shading stays on\n", qev::Utf8ToCp932(text).c_str());
}

void CViewer::StoreShadingSetting() {
  // A settings file that never named it, from a run that never switched it,
  // is written as it always was.
  if (!m_bShadingChosen) return;
  m_settings.SetSetting(kShadingKey, Shaded ? u"1" : u"0");
}
