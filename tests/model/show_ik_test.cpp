// The visibility / IK keys on a model: which lists are solved and whether the
// model shows at a frame, by the latest key at or before it.
#include "model/show_ik.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/model_description.h"
#include "model/vmd_file.h"
#include "platform/codepage.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;

// The sample model's lists: 0 is the left leg's goal, 1 the right leg's.
struct ShowIkRig {
  CModelDescription pmd;
  CVmdFile vmd;
  CShowIk show;
  explicit ShowIkRig(const std::vector<VmdShowIkKeyDesc>& keys) {
    const std::string model = BuildPmd(SamplePmd());
    EXPECT_EQ(pmd.LoadFromMemory(model.data(), model.size()), 1);
    VmdDesc d;
    d.showIks = keys;
    const std::string motion = BuildVmd(d);
    EXPECT_EQ(vmd.LoadFromMemory(motion.data(), motion.size()), 1);
    show.Attach(vmd, pmd);
  }
};

TEST(ShowIk, TheLatestKeyAtOrBeforeTheFrameHolds) {
  const std::string left = Sjis("左足ＩＫ"), right = Sjis("右足ＩＫ");
  struct Case {
    const char* what;
    std::vector<VmdShowIkKeyDesc> keys;
    float frame;
    int leftOn, rightOn;
    bool visible;
  };
  const std::vector<Case> cases = {
      {"no keys", {}, 5, 1, 1, true},
      {"before the first key", {{10, 0, {{left, 0}, {right, 0}}}}, 9, 1, 1, true},
      {"at the key's frame", {{10, 0, {{left, 0}, {right, 0}}}}, 10, 0, 0, false},
      {"after the last key", {{10, 0, {{left, 0}}}}, 500, 0, 1, false},
      {"between keys, out of file order",
       {{20, 1, {{left, 1}}}, {5, 0, {{left, 0}, {right, 0}}}, {12, 1, {{right, 1}}}},
       15, 0, 1, true},
      {"a list no later key names keeps its switch",
       {{5, 1, {{left, 0}, {right, 0}}}, {12, 1, {{right, 1}}}},
       30, 0, 1, true},
      {"equal frames: the key read first holds", {{8, 0, {{left, 0}}}, {8, 1, {{left, 1}}}}, 8, 0, 1, false},
      {"a name the model lacks switches nothing", {{0, 1, {{Sjis("腕ＩＫ"), 0}}}}, 3, 1, 1, true},
      {"a name is matched whole, not by its start", {{0, 1, {{Sjis("左足"), 0}}}}, 3, 1, 1, true},
      {"a negative frame counts as 0", {{0, 0, {{right, 0}}}}, -4, 1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShowIkRig rig(c.keys);
    rig.show.Sample(c.frame);
    ASSERT_NE(rig.show.IkOn(), nullptr);
    EXPECT_EQ(rig.show.IkOn()[0], c.leftOn);
    EXPECT_EQ(rig.show.IkOn()[1], c.rightOn);
    EXPECT_EQ(rig.show.Visible(), c.visible);
  }
}

TEST(ShowIk, ClearTurnsEverythingBackOn) {
  ShowIkRig rig({{0, 0, {{Sjis("左足ＩＫ"), 0}}}});
  rig.show.Sample(3);
  EXPECT_FALSE(rig.show.Visible());
  rig.show.Clear();
  EXPECT_TRUE(rig.show.Visible());
  EXPECT_EQ(rig.show.IkOn(), nullptr);  // no list is switched off
  rig.show.Sample(3);
  EXPECT_TRUE(rig.show.Visible());
}

}  // namespace
