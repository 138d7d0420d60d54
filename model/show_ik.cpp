#include "model/show_ik.h"

#include <algorithm>
#include <string_view>

#include "model/model_description.h"
#include "model/pmd_file.h"
#include "model/vmd_file.h"

void CShowIk::Clear() {
  m_lists.clear();
  m_show.clear();
  m_on.clear();
  m_visible = true;
}

void CShowIk::Order(std::vector<Switch>* switches) {
  // Gathered in read order: reversed, then stably sorted, the key read first
  // is the last of its frame, the one a search for "at or before" finds.
  std::reverse(switches->begin(), switches->end());
  std::stable_sort(switches->begin(), switches->end(),
                   [](const Switch& a, const Switch& b) { return a.frame < b.frame; });
}

uint8_t CShowIk::At(const std::vector<Switch>& switches, float frame) {
  const auto next = std::upper_bound(switches.begin(), switches.end(), frame,
                                     [](float f, const Switch& s) { return f < float(s.frame); });
  return next == switches.begin() ? 1 : next[-1].on;
}

void CShowIk::Attach(const CVmdFile& motion, const CModelDescription& model) {
  const int lists = model.IkCount();
  m_lists.assign(size_t(lists), {});
  m_on.assign(size_t(lists), 1);
  m_show.clear();
  m_visible = true;
  // IK bone names once, not once per key and entry
  std::vector<std::string_view> names(static_cast<size_t>(lists));
  for (int k = 0; k < lists; ++k) names[size_t(k)] = model.m_bones[size_t(model.m_iks[size_t(k)].goal)].name;
  for (int32_t i = 0; i < motion.m_nShowIkKey; ++i) {
    const VmdShowIkKey& key = motion.m_pShowIkKey[i];
    m_show.push_back({key.frame, uint8_t(key.show != 0)});
    for (int32_t e = 0; e < key.nIk; ++e) {
      const std::string_view name = PmdName(key.pIk[e].name);
      // every list of that IK bone: a model may solve one goal by two lists
      for (int k = 0; k < lists; ++k)
        if (names[size_t(k)] == name) m_lists[size_t(k)].push_back({key.frame, uint8_t(key.pIk[e].enabled != 0)});
    }
  }
  Order(&m_show);
  for (std::vector<Switch>& list : m_lists) Order(&list);
}

void CShowIk::Sample(float frame) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  m_visible = At(m_show, frame) != 0;
  for (size_t k = 0; k < m_lists.size(); ++k) m_on[k] = At(m_lists[k], frame);
}
