// F9 and F10 in the viewer: the save dialog and its proposed name, the file
// replaced without asking, no model, a failed write, and the frames a bake
// shows. Scripted dialogs and the recording device; no window.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "app/x_export.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "platform/sdl_window.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"
#include "tests/export/gltf_check.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;

struct ExportRig {
  qev::test::TempDir dir;
  qev::test::FakeClock clock{false};
  qev::test::ScriptedKeyboard keyboard;
  qev::test::ScriptedDialogs dialogs;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs}};

  ExportRig() {
    EXPECT_EQ(viewer.StartDevice(DeviceBackend::kRecording), 1);
    viewer.m_timer.Start(30);
    dir.WriteFile("model.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
    dir.WriteFile("walk.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  }
  qev::RecordingDevice& Device() { return *static_cast<qev::RecordingDevice*>(viewer.m_frame.m_pDevice); }
  void Open(const char* name) { EXPECT_EQ(viewer.OpenFile(dir.Path(name)), 1); }
  // One frame with the key pressed.
  void Press(int vk) {
    keyboard.Then({vk});
    clock.AdvanceMs(33);
    viewer.RunPass();
    keyboard.Then({});
    clock.AdvanceMs(33);
    viewer.RunPass();
  }
};

TEST(ViewerExport, F10AsksOnTheModelsNameAndReplacesWithoutAsking) {
  ExportRig rig;
  rig.Open("model.pmd");
  rig.dir.WriteFile("model.x", "an older export");
  rig.dialogs.Answer(rig.dir.Path("model.x"));
  rig.Press(VK_F10);
  ASSERT_EQ(rig.dialogs.m_asked.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_asked[0].description, u"Xファイル(*.x) / glTF(*.glb *.gltf)");
  EXPECT_EQ(rig.dialogs.m_asked[0].startPath, rig.dir.Path("model.x"));
  EXPECT_TRUE(rig.dialogs.m_asked[0].save);
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  ASSERT_EQ(ExportXMesh(rig.viewer.m_scene, rig.dir.Path("direct.x").c_str(), nullptr), 1);
  EXPECT_EQ(rig.dir.ReadFile("model.x"), rig.dir.ReadFile("direct.x"));
}

TEST(ViewerExport, CancelWritesNothing) {
  ExportRig rig;
  rig.Open("model.pmd");
  qev::test::LogCapture log;
  rig.dialogs.Answer(std::nullopt);
  rig.dialogs.Answer(std::nullopt);
  rig.Press(VK_F9);
  rig.Press(VK_F10);
  EXPECT_EQ(rig.dialogs.m_asked.size(), 2u);
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  EXPECT_EQ(log.Lines().front(), "[ROOT]\n") << "the bone tree is dumped before the dialog";
  EXPECT_EQ(rig.dir.List(), (std::vector<std::string>{"model.pmd", "walk.vmd"}));
}

TEST(ViewerExport, NoModelAsksNothingAndSaysSo) {
  ExportRig rig;
  qev::test::LogCapture log;
  rig.Press(VK_F9);
  rig.Press(VK_F10);
  EXPECT_EQ(log.Text(), "[ROOT]\n[ROOT]\n") << "the empty tree dumped, nothing written";
  EXPECT_TRUE(rig.dialogs.m_asked.empty());
  const std::pair<std::string, std::string> box{Sjis("モデルが読み込まれていません"), Sjis("エラー")};
  EXPECT_EQ(rig.dialogs.m_boxes, (std::vector<std::pair<std::string, std::string>>{box, box}));
}

TEST(ViewerExport, FailedWriteShowsWhyAndKeepsTheOldFile) {
  struct Case {
    const char* name;
    const char* setUp;  // shell commands run in the folder
    const char* why;
    const char* kept;  // the file's text afterwards, when it is a file
  };
  const Case cases[] = {
      {"folder.x", "mkdir folder.x", "a folder has that name (Is a directory)", nullptr},
      {"kept.x", "echo old > kept.x && chmod 0444 kept.x", "not writable (Permission denied)", "old\n"},
      {"loop.x", "ln -s loop.x loop.x", "cannot follow the name (Too many levels of symbolic links)", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExportRig rig;
    rig.Open("model.pmd");
    ASSERT_EQ(::system(("cd '" + rig.dir.Path() + "' && " + c.setUp).c_str()), 0);
    const auto before = rig.dir.List();
    rig.dialogs.Answer(rig.dir.Path(c.name));
    rig.Press(VK_F10);
    ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
    EXPECT_EQ(rig.dialogs.m_boxes[0].first, Sjis("Xファイルを書き込めませんでした\n") + c.why);
    EXPECT_EQ(rig.dialogs.m_boxes[0].second, Sjis("エラー"));
    EXPECT_EQ(rig.dir.List(), before);
    if (c.kept) {
      EXPECT_EQ(rig.dir.ReadFile(c.name), c.kept);
    }
  }
}

TEST(ViewerExport, F9RefusesAMotionTooLongBeforeItsFirstFrame) {
  ExportRig rig;
  qev::fixture::VmdDesc motion;
  qev::fixture::VmdBoneKeyDesc key;
  key.name = qev::fixture::SamplePmd().bones[0].name;
  key.frame = 1000000;
  motion.bones = {key};
  rig.dir.WriteFile("long.vmd", qev::fixture::BuildVmd(motion));
  rig.Open("model.pmd");
  rig.Open("long.vmd");
  rig.dialogs.Answer(rig.dir.Path("baked.x"));
  const int presentsBefore = rig.Device().presentCount;
  rig.Press(VK_F9);
  EXPECT_EQ(rig.Device().presentCount - presentsBefore, 2) << "the two frames of the key press, no bake frame";
  ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_boxes[0].first, Sjis("Xファイルを書き込めませんでした\n") +
                                              "the motion is 1000001 frames long, more than the limit of 1000000 frames");
  EXPECT_EQ(rig.dialogs.m_boxes[0].second, Sjis("エラー"));
  EXPECT_EQ(rig.dir.List(), (std::vector<std::string>{"long.vmd", "model.pmd", "walk.vmd"}));
}

TEST(ViewerExport, F9InMotionPlaybackShowsOneFramePerBakedFrame) {
  ExportRig rig;
  rig.Open("model.pmd");
  rig.Open("walk.vmd");
  rig.dialogs.Answer(rig.dir.Path("baked.x"));
  rig.Device().ClearCalls();
  const int presentsBefore = rig.Device().presentCount;
  rig.keyboard.Then({VK_F9});
  rig.clock.AdvanceMs(33);
  rig.viewer.RunPass();  // the frame of the key: the bake, then that frame's own drawing
  EXPECT_EQ(rig.Device().presentCount - presentsBefore, 40 + 1);
  // a bake frame: the camera, depth on, an identity world and the physics
  // view (the sample's bodies), nothing else
  const std::vector<std::string> texts = rig.Device().Texts();
  const auto view = std::find(texts.begin(), texts.end(), "SetTransform(D3DTS_VIEW)");
  const auto present = std::find(view, texts.end(), "Present()");
  ASSERT_NE(present, texts.end());
  const std::vector<std::string> frame(view, present + 1);
  ASSERT_EQ(frame.size(), 10u) << testing::PrintToString(frame);
  EXPECT_EQ(std::vector<std::string>(frame.begin(), frame.begin() + 5),
            (std::vector<std::string>{"SetTransform(D3DTS_VIEW)", "SetTransform(D3DTS_PROJECTION)",
                                      "SetRenderState(D3DRS_ZENABLE, 1)", "SetRenderState(D3DRS_ZWRITEENABLE, 1)",
                                      "SetTransform(D3DTS_WORLD)"}));
  EXPECT_EQ(frame[7].rfind("DrawPrimitiveUP(D3DPT_LINELIST, ", 0), 0u) << frame[7];
  EXPECT_EQ(frame[8], "EndScene()");
  const std::string text = rig.dir.ReadFile("baked.x");
  EXPECT_NE(text.find("AnimationSet default {\r\n"), std::string::npos);
  EXPECT_NE(text.find("   1280;16;"), std::string::npos);
  // each bake frame: camera, depth on, identity world; no model, grid or markers
  EXPECT_EQ(rig.Device().Find("SetTransform(D3DTS_VIEW").size(), 41u);
  // playback goes on from where the bake left it: frame 0 after the wrap
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kMotionPlayback);
}

// The same keys write glTF when the name chosen ends in .glb or .gltf:
// F9 bakes the motion frame by frame, F10 writes the model alone.
TEST(ViewerExport, AGltfNameWritesGltf) {
  ExportRig rig;
  rig.Open("model.pmd");
  rig.Open("walk.vmd");
  rig.dialogs.Answer(rig.dir.Path("baked.glb"));
  const int presentsBefore = rig.Device().presentCount;
  rig.keyboard.Then({VK_F9});
  rig.clock.AdvanceMs(33);
  rig.viewer.RunPass();
  EXPECT_EQ(rig.Device().presentCount - presentsBefore, 40 + 1);
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  EXPECT_GLTF_VALID(rig.dir.Path("baked.glb"));
  rig.dialogs.Answer(rig.dir.Path("model.gltf"));
  rig.Press(VK_F10);
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  EXPECT_GLTF_VALID(rig.dir.Path("model.gltf"));
  tinygltf::Model baked, model;
  std::string err;
  ASSERT_TRUE(qev::test::ReadGltf(rig.dir.Path("baked.glb"), &baked, &err)) << err;
  ASSERT_TRUE(qev::test::ReadGltf(rig.dir.Path("model.gltf"), &model, &err)) << err;
  EXPECT_EQ(baked.animations.size(), 1u);
  EXPECT_EQ(model.animations.size(), 0u);
  EXPECT_EQ(model.skins.size(), 1u);

  // a failure says it was the glTF file
  ASSERT_EQ(::system(("mkdir '" + rig.dir.Path("folder.glb") + "'").c_str()), 0);
  rig.dialogs.Answer(rig.dir.Path("folder.glb"));
  rig.Press(VK_F10);
  ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_boxes[0].first, Sjis("glTFファイルを書き込めませんでした\n") + "a folder has that name (Is a directory)");
}

}  // namespace
