// The floor grid: 20 x 20 unit squares on y = 0 around the origin, the X axis
// line red, the Z axis line blue, and a short green mark up the Y axis.
#pragma once

class CD3DLine90;

// Appends the grid's 43 segments to the batch, in drawing order.
void BuildGrid(CD3DLine90* grid);
