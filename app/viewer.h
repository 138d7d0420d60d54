// CViewer: the program's spine. It owns the single instances of the running
// viewer, brings them up in start-up order, runs the frame loop (messages,
// frame clock, key commands, update, draw) and takes them down at shutdown.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/get_key.h"
#include "app/player.h"
#include "app/scene.h"
#include "app/timeline.h"
#include "app/timer.h"
#include "model/camera_track.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/keyboard.h"
#include "platform/music.h"
#include "platform/sdl_window.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"
#include "support/window_ex.h"

class CBulletDebugDraw;
class CIniEditX;

// The key of the "QEVTest" section that remembers the shading switch: "1" or "0".
inline constexpr char16_t kShadingKey[] = u"SHADING";

// The outside world as the viewer sees it; tests hand in scripted ones.
struct ViewerServices {
  qev::PlatformClock* clock = &qev::SystemClock();
  qev::PlatformKeyboard* keyboard = &qev::SystemKeyboard();
  qev::PlatformDialogs* dialogs = &qev::SystemDialogs();
  qev::PlatformMusic* music = nullptr;  // null: the viewer opens the system's sound device
};

class CViewer {
 public:
  CViewer(CIniEditX& settings, const ViewerServices& services = {});
  CViewer(const CViewer&) = delete;
  CViewer& operator=(const CViewer&) = delete;
  virtual ~CViewer();

  // Start-up, frame loop, shutdown. 0, or -1 when the window or the device
  // could not be made.
  int WinMain();

  // Start-up steps after the window: remembered paths, mouse handlers, frame
  // clock. Split out so tests can run them without a window.
  void ReadRememberedPaths();
  void AddMouseHandlers();
  // Shutdown step 2: the remembered paths (model, pose, motion, camera) go
  // back into the settings.
  void StoreRememberedPaths();
  // Start-up steps 4 to 7: the device for the window, the camera's
  // projection and viewpoint, the IK goal locator, the physics debug drawer
  // attached to the device. 0 when there is no device.
  int StartDevice(DeviceBackend backend);
  // Step 4 of a frame: clear colour, BeginDraw, DrawFrame, EndDraw.
  void DrawScene();

  // One pass of the frame loop; false once the quit message has arrived (the
  // pass is completed first).
  bool RunPass();
  void RunFrame();
  // While the camera plays: the view of its track at the motion's frame.
  void FollowCamera();
  // The key commands of this frame, in table order.
  void RunCommands();

  // Commands of the title
  void LoadModel();
  void LoadPose();
  void LoadMotion();
  void ToggleCalcIK();
  void CycleDrawType();
  void ToggleDrawBone();
  void ToggleDrawRigid();
  void ToggleCalcBullet();
  // F9 and F10: the save dialog, then the skinned (motion baked in motion
  // playback) or the plain X file; a failure gets a message box.
  void SaveXSkin();
  void SaveXMesh();
  // V: the save dialog, then the motion from the frame shown to its last
  // recorded as a video in the window's size, with the player's music; a
  // failure gets a message box. Escape or closing the window stops it (the
  // file is given up, the title shows how far it is).
  void SaveVideo();
  // Between two recorded pictures: the window's messages are taken and kept
  // in *held (the loop gets them back afterwards, so nothing else runs in
  // the middle of a recording); false once Escape is pressed or the window
  // is asked to close.
  bool RecordingGoesOn(std::vector<MSG>* held);
  // F11: without a camera track, the open dialog for a camera file; with
  // one, its playback switched off (the view stays, the mouse moves it) or
  // on again.
  void ToggleCamera();
  // S: solid drawing shaded (lit, toon ramps, sphere maps, outlines,
  // multisampled) or unlit as the Part draws it; wireframe and hidden stay.
  void ToggleShading();
  // At start-up and shutdown: the switch from and to the settings. A bad
  // value leaves shading on with one log line; the key is written back only
  // when the file had it or S was pressed.
  void ReadShadingSetting();
  void StoreShadingSetting();

  // Shows the open dialog on the remembered file; the chosen file replaces it.
  int ChooseFile(std::string* path, const qev::FileFilter& filter);
  // Shows the save dialog for an X file on the name proposed for the model;
  // 1 with the chosen file in *path.
  int ChooseXFile(std::string* path);
  // The frame a bake shows after each baked frame: the physics view alone.
  void DrawBakeFrame();

  // What a chosen file does: it is read into the scene, or its message box
  // is shown. 1 when it was loaded.
  int OpenModel(const std::string& path);
  int OpenPose(const std::string& path);
  // A motion file whose keys are a camera's goes to the view instead: it
  // never replaces the model's motion.
  int OpenMotion(const std::string& path);
  // A camera motion takes over the view from the next frame on; anything
  // else gets its message box and the track held stays.
  int OpenCamera(const std::string& path);
  // A file given on the command line or dropped on the window, by its
  // extension (any case), as if chosen in F1, F2 or F3's dialog (a camera
  // motion as in F11's), or M's for music (.wav .flac .ogg .mp3). 0 for
  // other files.
  int OpenFile(const std::string& path);
  // Files to open once the viewer is up: models first, then poses, motions and cameras.
  void SetStartupFiles(std::vector<std::string> paths);
  static LRESULT OnDropFiles(HWND window, WPARAM wParam, LPARAM lParam);

  // Mouse handlers of the window's table
  static LRESULT OnLButtonDown(HWND window, WPARAM wParam, LPARAM lParam);
  static LRESULT OnLButtonUp(HWND window, WPARAM wParam, LPARAM lParam);
  static LRESULT OnRButtonDown(HWND window, WPARAM wParam, LPARAM lParam);
  static LRESULT OnRButtonUp(HWND window, WPARAM wParam, LPARAM lParam);
  static LRESULT OnMButtonDown(HWND window, WPARAM wParam, LPARAM lParam);
  static LRESULT OnMButtonUp(HWND window, WPARAM wParam, LPARAM lParam);
  static LRESULT OnMouseMove(HWND window, WPARAM wParam, LPARAM lParam);

  // The window title, the program's only menu (UTF-16).
  static std::u16string Title();

  // Application state
  std::string m_szProgramFolder;  // folder of the executable, no trailing "/"
  std::string m_szModelPath;      // remembered files (native paths)
  std::string m_szPosePath;
  std::string m_szMotionPath;
  std::string m_szCameraPath;
  int DrawType = 1;  // 0 not drawn, 1 wireframe, 2 solid
  int Shaded = 1;    // solid drawing shaded (S)
  bool m_bShadingChosen = false;  // SHADING was in the settings or S was pressed
  int DrawBone = 0;
  int DrawRigid = 0;
  uint32_t m_nMouseButtons = 0;  // bit 0 left, bit 1 right, bit 2 middle
  int m_nLastX = 0;
  int m_nLastY = 0;
  int m_bHandlersAdded = 0;

  CIniEditX& m_settings;
  ViewerServices m_services;
  CWindowEx m_window;
  CTimer m_timer;
  CGetKey m_keys;
  CDDPro90 m_frame;
  CD3DCamera m_camera;
  CD3DLine90 m_grid;
  CD3DLocater m_ikGoalLocator;
  // Draws the physics world when DrawRigid is on; outlives every world.
  std::unique_ptr<CBulletDebugDraw> m_pDebugDraw;
  CScene m_scene;  // the model, its playback and physics; also holds CalcIK and CalcBullet
  CCameraTrack m_cameraTrack;  // the camera motion last loaded; frames follow the scene's motion frame
  int m_bCameraPlaying = 0;    // the track drives the view; a mouse drag or F11 hands it back
  std::vector<std::string> m_startupFiles;

  // ---- The player: playback controls, timeline, music (viewer_player.cpp) ----
  // The player's keys of this frame (after the title's commands).
  void RunPlayerCommands();
  void TogglePlay();       // Return
  void FrameBack();        // Left, while paused; repeats while held
  void FrameForward();     // Right, while paused; repeats while held
  void PageBack();         // Page Up: 30 frames back
  void PageForward();      // Page Down: 30 frames on
  void ToFrameZero();      // Home
  void HalfSpeed();        // 1
  void NormalSpeed();      // 2
  void DoubleSpeed();      // 3
  void LoadMusic();        // M: the open dialog for a sound file
  void ToggleTimeline();   // F12
  // A chosen sound file plays with the motion, or its message box is shown.
  int OpenMusic(const std::string& path);
  // What the timeline shows now.
  TimelineState TimelineNow() const;
  // The left button on the timeline's bar seeks and drags; true when the
  // message was the timeline's (the camera then leaves it alone).
  bool TimelineButtonDown(HWND window, LPARAM lParam);
  bool TimelineMouseMove(LPARAM lParam);
  bool TimelineButtonUp();

  std::unique_ptr<qev::PlatformMusic> m_pOwnMusic;  // when the services bring none
  CPlayer m_player;
  CTimeline m_timeline;
  int DrawTimeline = 1;          // F12
  std::string m_szMusicPath;     // the last sound file chosen (this run only)
  bool m_bTimelineDrag = false;  // the left button went down on the bar
  uint16_t m_nHeldFrames[256] = {};  // frames a repeating key has been held

 private:
  void ButtonDown(HWND window, uint32_t bit, LPARAM lParam);
  void ButtonUp(uint32_t bit);
  void MouseMove(LPARAM lParam);

  // the window's mouse handlers reach the viewer through this
  static CViewer* s_pViewer;
};
