// CCsv: a grid of typed cells (integer, date, float, text) that renders any
// cell as narrow text. The grid grows to take whatever cell is set or read.
#pragma once
#include <cstdint>

#include "support/buffer.h"

class CStr;

class CCsv {
 public:
  enum CellType { kNull = -1, kEmpty = 0, kInteger = 1, kDateTime = 2, kFloat = 3, kText = 4 };

  CCsv();
  CCsv(const CCsv&) = delete;
  CCsv& operator=(const CCsv&) = delete;
  virtual ~CCsv();

  // Stores a cell: types 1 and 2 keep the integer (2: a file time), 3 the
  // float, 4 the text with CR LF and lone CR turned into LF. 0 for a negative
  // position or when the grid cannot grow to hold it.
  int SetCell(int x, int y, int type, int64_t integer = 0, float real = 0.0f,
              const char* text = nullptr);
  // The cell rendered as narrow text, owned by the cell and valid until the
  // cell changes. A cell outside the used area is first set empty.
  const char* GetText(int x, int y);
  int Clear();

  int m_nColumnCapacity = 0;
  int m_nRowCapacity = 0;
  int m_nColumns = 0;  // used
  int m_nRows = 0;     // used

 private:
  // Field order chosen so a cell packs into 24 bytes with a 64-bit pointer.
  struct Cell {
    int32_t type;
    float real;
    int64_t integer;
    CStr* text;  // owned: the text of a type 4 cell, else the last rendering
  };
  static_assert(sizeof(Cell) == 24, "cells are stored 24 bytes apart");

  Cell* CellAt(int x, int y) { return reinterpret_cast<Cell*>(m_store.m_pData) + x + int64_t(y) * m_nColumnCapacity; }
  int Grow(int x, int y);

  CBuffer m_store;
};
