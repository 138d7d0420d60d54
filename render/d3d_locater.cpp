#include "render/d3d_locater.h"

#include <algorithm>
#include <iterator>

#include "render/d3d_line90.h"

namespace {

constexpr D3DCOLOR kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;
constexpr D3DCOLOR kMagenta = 0xFFFF00FF;

// Each line a pair of consecutive vertices; model space before scaling.
constexpr LineVertex kArrow[] = {
    {0, 0, 0, kRed},       {1, 0, 0, kRed},         {0, 0, 0, kGreen},       {0, 0.3f, 0, kGreen},
    {0, 0, 0, kBlue},      {0, 0, 0.3f, kBlue},     {0, 0, 0, kWhite},       {0.3f, -0.2f, 0, kWhite},
    {0.3f, -0.2f, 0, kWhite}, {1, 0, 0, kWhite},    {1, 0, 0, kWhite},       {0.3f, 0.2f, 0, kWhite},
    {0.3f, 0.2f, 0, kWhite}, {0, 0, 0, kWhite},     {0, 0, 0, kWhite},       {0.3f, 0, -0.2f, kWhite},
    {0.3f, 0, -0.2f, kWhite}, {1, 0, 0, kWhite},    {1, 0, 0, kWhite},       {0.3f, 0, 0.2f, kWhite},
    {0.3f, 0, 0.2f, kWhite}, {0, 0, 0, kWhite},
};

constexpr float s = 0.1f;
constexpr LineVertex kAxesWithSquares[] = {
    {0, 0, 0, kRed}, {0.3f, 0, 0, kRed}, {0, 0, 0, kGreen}, {0, 0.3f, 0, kGreen},
    {0, 0, 0, kBlue}, {0, 0, 0.3f, kBlue},
    // XY square, red
    {-s, s, 0, kRed}, {-s, -s, 0, kRed}, {-s, -s, 0, kRed}, {s, -s, 0, kRed},
    {s, -s, 0, kRed}, {s, s, 0, kRed}, {s, s, 0, kRed}, {-s, s, 0, kRed},
    // XZ square, blue, corners walked in (x, z)
    {-s, 0, s, kBlue}, {-s, 0, -s, kBlue}, {-s, 0, -s, kBlue}, {s, 0, -s, kBlue},
    {s, 0, -s, kBlue}, {s, 0, s, kBlue}, {s, 0, s, kBlue}, {-s, 0, s, kBlue},
    // YZ square, green, corners walked in (y, z)
    {0, -s, s, kGreen}, {0, -s, -s, kGreen}, {0, -s, -s, kGreen}, {0, s, -s, kGreen},
    {0, s, -s, kGreen}, {0, s, s, kGreen}, {0, s, s, kGreen}, {0, -s, s, kGreen},
};

constexpr LineVertex kAxes[] = {
    {0, 0, 0, kRed}, {1, 0, 0, kRed}, {0, 0, 0, kGreen}, {0, 1, 0, kGreen}, {0, 0, 0, kBlue}, {0, 0, 1, kBlue},
};

constexpr int kAxisVertices = 6;

}  // namespace

int CD3DLocater::Draw(IDirect3DDevice9* device, const D3DXMATRIX& world) {
  return DrawShape(device, world, false);
}

int CD3DLocater::DrawHighlighted(IDirect3DDevice9* device, const D3DXMATRIX& world) {
  return DrawShape(device, world, true);
}

int CD3DLocater::DrawShape(IDirect3DDevice9* device, const D3DXMATRIX& world, bool highlighted) {
  device->SetTexture(0, nullptr);
  device->SetFVF(kLineVertexFvf);
  const LineVertex* table = nullptr;
  int vertices = 0;
  switch (m_nMode) {
    case 0:
      table = kArrow;
      vertices = int(std::size(kArrow));
      break;
    case 1:
      table = kAxesWithSquares;
      vertices = int(std::size(kAxesWithSquares));
      break;
    case 2:
      table = kAxes;
      vertices = int(std::size(kAxes));
      break;
    default: return 0;
  }
  if (m_nMode == 0) {
    device->SetTransform(D3DTS_WORLD, &world);
  } else {
    D3DXMATRIX scaled;
    D3DXMatrixScaling(&scaled, m_fSize, m_fSize, m_fSize);
    D3DXMatrixMultiply(&scaled, &scaled, &world);
    device->SetTransform(D3DTS_WORLD, &scaled);
  }
  LineVertex copy[std::size(kAxesWithSquares)];
  if (highlighted) {
    std::copy_n(table, vertices, copy);
    for (int i = kAxisVertices; i < vertices; ++i) copy[i].color = kMagenta;
    table = copy;
  }
  return SUCCEEDED(device->DrawPrimitiveUP(D3DPT_LINELIST, unsigned(vertices / 2), table, sizeof(LineVertex)))
             ? 1
             : 0;
}
