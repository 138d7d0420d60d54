#include "app/grid.h"

#include "render/d3d_line90.h"

void BuildGrid(CD3DLine90* grid) {
  constexpr D3DCOLOR kGrey = 0xff808080, kRed = 0xffff0000, kBlue = 0xff0000ff, kGreen = 0xff00ff00;
  // Lines along X, one per z from -10 to 10; z = 0 is the X axis.
  for (int i = 0; i <= 20; ++i) {
    const D3DCOLOR c = i == 10 ? kRed : kGrey;
    grid->Push(-10.0f, 0.0f, float(i - 10), c);
    grid->Push(10.0f, 0.0f, float(i - 10), c);
  }
  // Lines along Z, one per x; x = 0 is the Z axis.
  for (int j = 0; j <= 20; ++j) {
    const D3DCOLOR c = j == 10 ? kBlue : kGrey;
    grid->Push(float(j - 10), 0.0f, -10.0f, c);
    grid->Push(float(j - 10), 0.0f, 10.0f, c);
  }
  grid->Push(0.0f, 0.0f, 0.0f, kGreen);
  grid->Push(0.0f, 1.0f, 0.0f, kGreen);
}
