#include "model/vpd_file.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "support/buffer.h"
#include "support/debug.h"
#include "support/str.h"

namespace {

// Walks a text's items at a separator the way the system's splitter does: a
// double quote suspends the separator until the next one, an item wrapped in
// a pair of quotes loses them, and a separator at the very end adds no empty
// item. Items are handed out one at a time, so no line or item of a hostile
// file costs an allocation; a missing item is an empty one.
class ItemWalker {
 public:
  ItemWalker(std::u16string_view text, std::u16string_view separator) : m_text(text), m_sep(separator) {}

  bool Next(std::u16string_view& item) {
    if (m_pos >= m_text.size()) {
      item = {};
      return false;
    }
    size_t i = m_pos;
    bool quoted = false;
    for (; i < m_text.size(); ++i) {
      if (!quoted && m_text.compare(i, m_sep.size(), m_sep) == 0) break;
      if (m_text[i] == u'"') quoted = !quoted;
    }
    item = m_text.substr(m_pos, i - m_pos);
    if (item.size() >= 2 && item.front() == u'"' && item.back() == u'"') item = item.substr(1, item.size() - 2);
    m_pos = i + m_sep.size();
    return true;
  }
  std::u16string_view Next() {
    std::u16string_view item;
    Next(item);
    return item;
  }

 private:
  std::u16string_view m_text;
  std::u16string_view m_sep;
  size_t m_pos = 0;
};

// The ASCII run at the start of an item after blanks: a number ends at the
// first character that cannot belong to one anyway. Any number a pose file
// writes fits the length kept; a hostile run of digits costs no more.
std::string NumberText(std::u16string_view item) {
  size_t i = 0;
  while (i < item.size() && (item[i] == u' ' || item[i] == u'\t' || item[i] == u'\x3000')) ++i;
  std::string out;
  for (; i < item.size() && item[i] > 0 && item[i] < 0x80 && out.size() < 256; ++i) out += char(item[i]);
  return out;
}

// A floating-point number from the start of the item; 0 when there is none.
float ReadFloat(std::u16string_view item) { return std::strtof(NumberText(item).c_str(), nullptr); }

// A decimal integer from the start of the item, held to the int range.
int ReadInt(std::u16string_view item) {
  const long long v = std::strtoll(NumberText(item).c_str(), nullptr, 10);
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int(v);
}

// The first four characters spell "Bone" in any letter case.
bool StartsBlock(std::u16string_view line) {
  static constexpr char16_t kWord[] = u"bone";
  if (line.size() < 4) return false;
  for (int i = 0; i < 4; ++i) {
    char16_t c = line[size_t(i)];
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    if (c != kWord[i]) return false;
  }
  return true;
}

// Cuts a code page 932 name to at most n bytes without splitting a
// double-byte character.
std::string CutName(const std::string& name, size_t n) {
  size_t end = 0;
  while (end < name.size()) {
    const unsigned char c = static_cast<unsigned char>(name[end]);
    const size_t width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
    if (end + width > n) break;
    end += width;
  }
  return name.substr(0, std::min(end, name.size()));
}

}  // namespace

CVpdFile::~CVpdFile() { Clear(); }

void CVpdFile::Clear() {
  m_pPoseBone.reset();
  m_nPoseBone = 0;
}

const VpdPoseBone* CVpdFile::FindPoseBone(const char* name) const {
  if (!name) return nullptr;
  for (int32_t i = 0; i < m_nPoseBone; ++i)
    if (!std::strcmp(m_pPoseBone[i].name, name)) return &m_pPoseBone[i];
  return nullptr;
}

int CVpdFile::Load(const char* path) {
  Clear();
  CBuffer file;
  if (!file.LoadFile(path)) {
    DebugPrintf("File not found : %s\n", qev::Utf8ToCp932(path ? path : "").c_str());
    return 0;
  }
  return LoadFromMemory(file.m_pData, file.m_nUsed, qev::Utf8ToCp932(path).c_str());
}

int CVpdFile::LoadFromMemory(const void* data, size_t size, const char* name) {
  Clear();
  if (!name) name = "";
  if (size > kMaxFileSize) {
    DebugPrintf("VPD error : %zu bytes is more than a pose file holds : %s\n", size, name);
    return 0;
  }
  // the text ends at the first zero byte, as a C string does
  const std::string bytes(static_cast<const char*>(data), data ? size : 0);
  CStr text(bytes.c_str());
  const std::u16string_view all(text.m_pszW ? text.m_pszW : u"", size_t(text.m_nLengthW));

  // Pose files often lose their carriage returns on the way between systems:
  // lines end in CR LF when the file has any, else in a bare LF.
  ItemWalker lines(all, all.find(u"\r\n") != std::u16string_view::npos ? u"\r\n" : u"\n");
  if (lines.Next() != u"Vocaloid Pose Data file") {
    DebugPrintf("Header error : %s\n", name);
    return 0;
  }
  lines.Next();
  ItemWalker parent(lines.Next(), u";");
  const std::u16string parentName(parent.Next());
  DebugPrintfW(u"親ファイル名     : %s\n", parentName.c_str());
  ItemWalker declared(lines.Next(), u";");
  DebugPrintfW(u"総ポーズボーン数 : %d\n", ReadInt(declared.Next()));  // the blocks below decide the count
  lines.Next();

  // The blocks are counted first so the list is allocated once at its size;
  // grown and then copied, a file of nothing but blocks would be held up to
  // twice over.
  std::u16string_view line;
  size_t blocks = 0;
  for (ItemWalker scan = lines; scan.Next(line);) {
    if (!StartsBlock(line)) continue;
    ++blocks;
    for (int k = 0; k < 3; ++k) scan.Next();
  }
  if (blocks) m_pPoseBone = std::make_unique<VpdPoseBone[]>(blocks);

  static const std::string kIkLine = qev::Sjis("■%s : (%f,%f,%f)\n");
  // the same walk again, now keeping each block
  while (size_t(m_nPoseBone) < blocks && lines.Next(line)) {
    if (!StartsBlock(line)) continue;
    VpdPoseBone& bone = m_pPoseBone[m_nPoseBone++];
    ItemWalker head(line, u"{");
    head.Next();  // "Bone" and its number, not used
    const std::u16string_view boneName = head.Next();
    const std::string narrow = CutName(qev::Utf16ToCp932(boneName), sizeof bone.name - 1);
    std::memcpy(bone.name, narrow.data(), narrow.size());
    ItemWalker move(lines.Next(), u",");
    const float x = ReadFloat(move.Next()), y = ReadFloat(move.Next()), z = ReadFloat(move.Next());
    bone.pos = D3DXVECTOR3(x, y, -z);
    ItemWalker turn(lines.Next(), u",");
    const float rx = ReadFloat(turn.Next()), ry = ReadFloat(turn.Next()), rz = ReadFloat(turn.Next()),
                rw = ReadFloat(turn.Next());
    bone.rot = D3DXQUATERNION(-rx, -ry, rz, rw);
    lines.Next();  // the closing brace
    if (boneName.find(u"ＩＫ") != std::u16string_view::npos)
      DebugPrintf(kIkLine.c_str(), bone.name, double(bone.pos.x), double(bone.pos.y), double(bone.pos.z));
  }
  return 1;
}
