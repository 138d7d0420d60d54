// Key state machine: pressed, held, released, and the quick re-press.
#include "app/get_key.h"

#include <gtest/gtest.h>

#include "platform/win_types.h"
#include "tests/common/fake_platform.h"

namespace {

TEST(GetKey, StateMachine) {
  struct Case {
    const char* name;
    std::vector<bool> down;       // the key at each poll
    std::vector<int> expected;    // its state after each poll
  };
  const Case cases[] = {
      {"press, hold, release", {true, true, false, false}, {1, 2, 3, 0}},
      {"down for one poll never goes through 3", {true, false, false}, {1, 0, 0}},
      {"re-press at the next poll is held, not pressed", {true, true, false, true, false}, {1, 2, 3, 2, 3}},
      {"long hold", {true, true, true, true}, {1, 2, 2, 2}},
      {"never down", {false, false}, {0, 0}},
  };
  for (const Case& c : cases) {
    qev::test::ScriptedKeyboard keyboard;
    for (bool d : c.down) keyboard.Then(d ? std::set<int>{VK_F1} : std::set<int>{});
    CGetKey keys(keyboard);
    for (size_t i = 0; i < c.down.size(); ++i) {
      keys.Update();
      EXPECT_EQ(keys.State(VK_F1), c.expected[i]) << c.name << ", poll " << i;
      EXPECT_EQ(keys.State(VK_F2), 0) << c.name;
    }
  }
}

}  // namespace
