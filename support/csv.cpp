#include "support/csv.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "support/date_time.h"
#include "support/str.h"

namespace {

const char kNullText[] = "<NULL>";

// Line breaks inside a text cell are kept as bare LF.
std::string ToLineFeeds(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p != '\r') {
      out += *p;
      continue;
    }
    out += '\n';
    if (p[1] == '\n') ++p;
  }
  return out;
}

}  // namespace

CCsv::CCsv() { m_store.m_nElementSize = sizeof(Cell); }

CCsv::~CCsv() { Clear(); }

int CCsv::Clear() {
  for (int y = 0; y < m_nRows; ++y)
    for (int x = 0; x < m_nColumns; ++x) delete CellAt(x, y)->text;
  m_store.Free();
  m_nColumnCapacity = m_nRowCapacity = m_nColumns = m_nRows = 0;
  return 1;
}

// Columns grow in blocks of 64 and rows in blocks of 2048; the used part of
// the old grid is copied to the new stride.
int CCsv::Grow(int x, int y) {
  const int64_t columns = x >= m_nColumnCapacity ? (int64_t(x) + 64) / 64 * 64 : m_nColumnCapacity;
  const int64_t rows = y >= m_nRowCapacity ? (int64_t(y) + 2048) / 2048 * 2048 : m_nRowCapacity;
  if (columns == m_nColumnCapacity && rows == m_nRowCapacity) return 1;
  // the store's size is a 32-bit byte count
  if (columns > INT32_MAX || rows > INT32_MAX || columns * rows > int64_t(UINT32_MAX / sizeof(Cell)))
    return 0;
  CBuffer grown;
  if (!grown.Append(columns * rows * int64_t(sizeof(Cell)), nullptr)) return 0;
  for (int row = 0; row < m_nRows; ++row)
    std::memcpy(grown.m_pData + row * columns * int64_t(sizeof(Cell)), CellAt(0, row),
                size_t(m_nColumns) * sizeof(Cell));
  std::swap(m_store.m_pData, grown.m_pData);
  std::swap(m_store.m_nUsed, grown.m_nUsed);
  std::swap(m_store.m_nAllocated, grown.m_nAllocated);
  m_nColumnCapacity = int(columns);
  m_nRowCapacity = int(rows);
  return 1;
}

int CCsv::SetCell(int x, int y, int type, int64_t integer, float real, const char* text) {
  if (x < 0 || y < 0) return 0;
  if (!Grow(x, y)) return 0;
  if (x >= m_nColumns) m_nColumns = x + 1;
  if (y >= m_nRows) m_nRows = y + 1;
  Cell* cell = CellAt(x, y);
  delete cell->text;
  *cell = Cell{};
  cell->type = type;
  switch (type) {
    case kInteger:
    case kDateTime:
      cell->integer = integer;
      break;
    case kFloat:
      cell->real = real;
      break;
    case kText:
      cell->text = new (std::nothrow) CStr;
      if (!cell->text || !cell->text->SetA(text ? ToLineFeeds(text).c_str() : "")) return 0;
      break;
    default:
      break;
  }
  return 1;
}

const char* CCsv::GetText(int x, int y) {
  if (x < 0 || y < 0) return kNullText;
  if ((x >= m_nColumns || y >= m_nRows) && !SetCell(x, y, kEmpty)) return kNullText;
  Cell* cell = CellAt(x, y);
  if (cell->type == kText) return cell->text && cell->text->m_pszA ? cell->text->m_pszA : kNullText;
  std::string rendering;
  switch (cell->type) {
    case kInteger: {
      char text[32];
      std::snprintf(text, sizeof(text), "%" PRId64, cell->integer);
      rendering = text;
      break;
    }
    case kDateTime: {
      CDateTime date;
      date.SetFileTime(cell->integer);
      std::snprintf(date.m_szText, sizeof(date.m_szText), "%04d/%02d/%02d %02d:%02d:%02d", date.m_wYear,
                    date.m_wMonth, date.m_wDay, date.m_wHour, date.m_wMinute, date.m_wSecond);
      rendering = date.m_szText;
      break;
    }
    case kFloat: {
      char text[64];
      std::snprintf(text, sizeof(text), "%f", double(cell->real));
      rendering = text;
      break;
    }
    default:  // empty, null and any type this grid does not know
      return kNullText;
  }
  if (!cell->text) cell->text = new (std::nothrow) CStr;
  return cell->text && cell->text->SetA(rendering.c_str()) ? cell->text->m_pszA : kNullText;
}
