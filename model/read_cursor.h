// CReadCursor: the one bounded view through which the file readers take their
// bytes. Every read is checked against the bytes left first, and a count read
// from a file is checked against what the remaining bytes could hold before
// anything is allocated or copied for it.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

// Fields are copied as they lie in the file; the formats are little-endian.
static_assert(std::endian::native == std::endian::little, "the readers copy little-endian fields in place");

class CReadCursor {
 public:
  CReadCursor(const void* data, size_t size) : m_pData(static_cast<const uint8_t*>(data)), m_nSize(data ? size : 0) {}

  size_t Offset() const { return m_nPos; }
  size_t Left() const { return m_nSize - m_nPos; }
  bool AtEnd() const { return m_nPos == m_nSize; }
  // Whether count records of size bytes each are left; never overflows, so a
  // hostile count of 0xFFFFFFFF is simply "no".
  bool Has(uint64_t count, size_t size) const { return size == 0 ? true : count <= Left() / size; }

  // Copies n bytes and advances; false (nothing copied, position kept) when
  // fewer are left.
  bool Read(void* dst, size_t n) {
    if (n > Left()) return false;
    if (n) std::memcpy(dst, m_pData + m_nPos, n);
    m_nPos += n;
    return true;
  }
  template <class T>
  bool Get(T& value) {
    return Read(&value, sizeof value);
  }
  bool Skip(size_t n) {
    if (n > Left()) return false;
    m_nPos += n;
    return true;
  }
  // Hands out count records of size bytes in place and advances past them;
  // false (position kept) when they are not wholly present.
  bool Take(uint64_t count, size_t size, const uint8_t*& span) {
    if (!Has(count, size)) return false;
    span = m_pData + m_nPos;
    m_nPos += size_t(count) * size;
    return true;
  }
  // The next byte without moving; only valid when !AtEnd().
  uint8_t Peek() const { return m_pData[m_nPos]; }
  // Copies up to n of the next bytes without moving; returns how many.
  size_t PeekBytes(void* dst, size_t n) const {
    if (n > Left()) n = Left();
    if (n) std::memcpy(dst, m_pData + m_nPos, n);
    return n;
  }

 private:
  const uint8_t* m_pData;
  size_t m_nSize;
  size_t m_nPos = 0;
};

// An owned array of n zeroed records for what a reader builds from a block;
// none at all for an empty block.
template <class T>
std::unique_ptr<T[]> NewArray(size_t n) {
  return n ? std::make_unique<T[]>(n) : nullptr;
}
