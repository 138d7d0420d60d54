// CBulletDebugDraw: the physics library's debug drawer on our device: shape
// wireframes and contact points as coloured lines, labels as edge-font text
// in the top-left corner. Lines can be collected over one world's drawing
// and sent in a few draw calls instead of one call each.
#pragma once
#include <LinearMath/btIDebugDraw.h>

#include <vector>

#include "platform/d3d9.h"
#include "render/d3d_line90.h"
#include "render/dd_edge_font_mng.h"

class CBulletDebugDraw : public btIDebugDraw {
 public:
  // wireframe of every shape (1) and the contact points (8)
  static constexpr int kDebugMode = DBG_DrawWireframe | DBG_DrawContactPoints;

  CBulletDebugDraw() = default;
  CBulletDebugDraw(const CBulletDebugDraw&) = delete;
  CBulletDebugDraw& operator=(const CBulletDebugDraw&) = delete;
  ~CBulletDebugDraw() override;

  // Draws on a device from now on and makes the text atlas there; 0 (logged)
  // when the atlas cannot be made: lines still draw then.
  int Attach(IDirect3DDevice9* device);
  // Lets go of the device and the atlas (before the device goes away).
  void Detach();

  // Between Begin and Flush lines are collected, not drawn one by one;
  // Flush draws them as line lists in their order, a label flushes what came
  // before it, so the picture is that of drawing each line at once.
  void Begin();
  // The draw calls made (0 with no lines); collecting ends.
  int Flush();

  void drawLine(const btVector3& from, const btVector3& to, const btVector3& color) override;
  void drawLine(const btVector3& from, const btVector3& to, const btVector3& fromColor,
                const btVector3& toColor) override;
  // Always the same red-green-blue axis cross of size 1 at the point.
  void drawContactPoint(const btVector3& pointOnB, const btVector3& normalOnB, btScalar distance, int lifeTime,
                        const btVector3& color) override;
  void reportErrorWarning(const char* warning) override;
  // The label (code page 932) at the screen's top-left corner; the location is not used.
  void draw3dText(const btVector3& location, const char* text) override;
  void setDebugMode(int mode) override { m_nDebugMode = mode; }
  int getDebugMode() const override { return m_nDebugMode; }

  CD3DLine90 m_line;                   // the line of the moment, when not collecting
  CDDEdgeFontMng m_font;               // the labels' atlas
  IDirect3DDevice9* m_pDevice = nullptr;  // not owned; null until attached
  int m_nDebugMode = kDebugMode;

 private:
  // The lines collected so far, in as few draws as the device takes; their count.
  int DrawCollected();
  // One line, drawn now or collected.
  void Line(const btVector3& from, D3DCOLOR fromColor, const btVector3& to, D3DCOLOR toColor);

  bool m_bCollecting = false;
  std::vector<LineVertex> m_collected;
};

// A library colour (components nominally 0..1) as opaque ARGB: each
// component held to 0..1, times 255, truncated.
D3DCOLOR BulletColor(const btVector3& color);
