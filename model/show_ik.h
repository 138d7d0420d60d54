// CShowIk: the motion's visibility / IK keys made ready to play on a model.
// Each key names IK bones and says whether their lists are solved from its
// frame on; a key's show byte 0 hides the model from its frame on. Before a
// list's first key (and without a motion) every list is solved and the model
// shows.
#pragma once
#include <cstdint>
#include <vector>

class CModelDescription;
class CVmdFile;

class CShowIk {
 public:
  // The motion's keys resolved against the model's IK lists by the IK bone's
  // name (the bytes up to the terminator, at most 20). Names no list has are
  // passed over; a list no key names is always solved.
  void Attach(const CVmdFile& motion, const CModelDescription& model);
  // No keys and no lists: every list solved, the model shown.
  void Clear();
  // The state at a frame (clamped at 0): for the model and for each list,
  // the latest key at or before the frame that speaks of it.
  void Sample(float frame);

  // One flag per IK list of the model, 1 when it is solved; null without lists.
  const uint8_t* IkOn() const { return m_on.empty() ? nullptr : m_on.data(); }
  bool Visible() const { return m_visible; }

 private:
  struct Switch {
    uint32_t frame;
    uint8_t on;
  };
  // Ascending frames; among equal frames the key read first is the one that
  // holds there, as with bone keys.
  static void Order(std::vector<Switch>* switches);
  static uint8_t At(const std::vector<Switch>& switches, float frame);

  std::vector<std::vector<Switch>> m_lists;  // per IK list
  std::vector<Switch> m_show;
  std::vector<uint8_t> m_on;
  bool m_visible = true;
};
