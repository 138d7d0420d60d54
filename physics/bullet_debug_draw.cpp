#include "physics/bullet_debug_draw.h"

#include <algorithm>
#include <string>

#include "platform/codepage.h"
#include "support/debug.h"

namespace {

// The face labels are written in; the home platform's fixed-pitch Gothic.
constexpr const char* kLabelFace = "ＭＳ ゴシック";
// UTF-16 units a label or face name keeps, its terminator included.
constexpr size_t kLabelUnits = 2048;

std::u16string LabelText(const std::string& cp932) {
  std::u16string text = qev::Cp932ToUtf16(cp932);
  if (text.size() >= kLabelUnits) text.resize(kLabelUnits - 1);
  return text;
}

uint32_t Channel(btScalar value) {
  // a component that is not a number counts as 0
  const btScalar held = value >= btScalar(0) ? std::min(value, btScalar(1)) : btScalar(0);
  return uint32_t(double(held) * 255.0);
}

}  // namespace

D3DCOLOR BulletColor(const btVector3& color) {
  return 0xFF000000u | (Channel(color.x()) << 16) | (Channel(color.y()) << 8) | Channel(color.z());
}

CBulletDebugDraw::~CBulletDebugDraw() { Detach(); }

int CBulletDebugDraw::Attach(IDirect3DDevice9* device) {
  m_line.Clear();
  m_font.Reset();
  m_nDebugMode = kDebugMode;
  m_pDevice = device;
  if (!m_font.Init(device)) {
    DebugPrintf("%s", qev::Sjis("フォントテクスチャエラー\n").c_str());
    return 0;
  }
  m_font.m_dwEdgeColor = 0xFF000000;
  m_font.m_nEdgeWidth = 0;
  return 1;
}

void CBulletDebugDraw::Detach() {
  m_line.Clear();
  m_font.Reset();
  m_pDevice = nullptr;
  m_nDebugMode = kDebugMode;
  m_bCollecting = false;
  m_collected.clear();
}

void CBulletDebugDraw::Begin() {
  m_collected.clear();
  m_bCollecting = true;
}

int CBulletDebugDraw::Flush() {
  const int calls = DrawCollected();
  m_bCollecting = false;
  return calls;
}

int CBulletDebugDraw::DrawCollected() {
  int calls = 0;
  if (m_pDevice && m_collected.size() >= 2) {
    m_pDevice->SetTexture(0, nullptr);
    m_pDevice->SetFVF(kLineVertexFvf);
    const size_t lines = m_collected.size() / 2;
    for (size_t first = 0; first < lines; first += qev::kMaxPrimitiveCount) {
      const size_t count = std::min<size_t>(lines - first, qev::kMaxPrimitiveCount);
      m_pDevice->DrawPrimitiveUP(D3DPT_LINELIST, unsigned(count), m_collected.data() + first * 2,
                                 sizeof(LineVertex));
      ++calls;
    }
  }
  m_collected.clear();
  return calls;
}

void CBulletDebugDraw::Line(const btVector3& from, D3DCOLOR fromColor, const btVector3& to, D3DCOLOR toColor) {
  if (m_bCollecting) {
    m_collected.push_back({float(from.x()), float(from.y()), float(from.z()), fromColor});
    m_collected.push_back({float(to.x()), float(to.y()), float(to.z()), toColor});
    return;
  }
  if (!m_pDevice) return;
  m_line.Clear();
  m_line.Push(float(from.x()), float(from.y()), float(from.z()), fromColor);
  m_line.Push(float(to.x()), float(to.y()), float(to.z()), toColor);
  m_line.Draw(m_pDevice);
}

void CBulletDebugDraw::drawLine(const btVector3& from, const btVector3& to, const btVector3& color) {
  const D3DCOLOR c = BulletColor(color);
  Line(from, c, to, c);
}

void CBulletDebugDraw::drawLine(const btVector3& from, const btVector3& to, const btVector3& fromColor,
                                const btVector3& toColor) {
  Line(from, BulletColor(fromColor), to, BulletColor(toColor));
}

void CBulletDebugDraw::drawContactPoint(const btVector3& point, const btVector3&, btScalar, int, const btVector3&) {
  const btScalar h = btScalar(0.5);
  const auto segment = [&](const btVector3& axis, D3DCOLOR color) { Line(point - axis, color, point + axis, color); };
  if (m_bCollecting) {
    segment(btVector3(h, 0, 0), 0xFFFF0000);
    segment(btVector3(0, h, 0), 0xFF00FF00);
    segment(btVector3(0, 0, h), 0xFF0000FF);
    return;
  }
  // one batch of three segments, as the cross was always drawn
  if (!m_pDevice) return;
  m_line.Clear();
  const struct {
    btVector3 axis;
    D3DCOLOR color;
  } arms[] = {{btVector3(h, 0, 0), 0xFFFF0000}, {btVector3(0, h, 0), 0xFF00FF00}, {btVector3(0, 0, h), 0xFF0000FF}};
  for (const auto& arm : arms) {
    const btVector3 a = point - arm.axis, b = point + arm.axis;
    m_line.Push(float(a.x()), float(a.y()), float(a.z()), arm.color);
    m_line.Push(float(b.x()), float(b.y()), float(b.z()), arm.color);
  }
  m_line.Draw(m_pDevice);
}

void CBulletDebugDraw::reportErrorWarning(const char* warning) { DebugOutputf("%s\n", warning ? warning : ""); }

void CBulletDebugDraw::draw3dText(const btVector3&, const char* text) {
  if (!m_pDevice) return;
  // Lines collected so far are drawn first: the label covers them as it would have.
  DrawCollected();
  const std::u16string face = LabelText(qev::Sjis(kLabelFace));
  const std::u16string label = LabelText(text ? text : "");
  m_font.MakeText(face.c_str(), label.c_str());
  m_font.DrawSlot(0, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f);  // nothing when the text could not be made
}
