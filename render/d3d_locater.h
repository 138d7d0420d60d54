// CD3DLocater: a fixed marker shape drawn at a world matrix: an arrow with
// axes (bones), axes with three squares (IK goals) or plain axes.
#pragma once
#include "platform/d3d9.h"

class CD3DLocater {
 public:
  virtual ~CD3DLocater() = default;

  // Marker at the world matrix; modes 1 and 2 scaled by the size first.
  // 0 when the mode is unknown (nothing drawn) or the draw fails.
  int Draw(IDirect3DDevice9* device, const D3DXMATRIX& world);
  // The same with everything past the three axes in magenta.
  int DrawHighlighted(IDirect3DDevice9* device, const D3DXMATRIX& world);

  int m_nMode = 0;  // 0 arrow, 1 axes with squares, 2 axes
  float m_fSize = 0.0f;

 private:
  int DrawShape(IDirect3DDevice9* device, const D3DXMATRIX& world, bool highlighted);
};
