#include "app/ini_edit_x.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "export/safe_file.h"
#include "platform/codepage.h"
#include "support/buffer.h"
#include "support/parse_string.h"

namespace {

const char kFileName[] = "QEVTest.ini";
const char16_t kSectionName[] = u"QEVTest";
constexpr size_t kSettingUnits = 128;  // buffer units GetSetting fills, terminator included

// Only A-Z fold: full-width and accented letters must match exactly.
std::u16string Fold(const char16_t* name) {
  std::u16string folded(name);
  for (char16_t& c : folded)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return folded;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// The file's text: UTF-16 little-endian after a byte order mark, else code
// page 932 (a UTF-16 file without the mark is read as such and yields nothing).
std::u16string Decode(const CBuffer& content) {
  const uint8_t* bytes = content.m_pData;
  const size_t size = content.m_nUsed;
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    std::u16string text((size - 2) / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = char16_t(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
    return text;
  }
  return qev::Cp932ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes), size));
}

}  // namespace

CIniEditX::CIniEditX() : CIniEditX(CurrentDirectory()) {}

CIniEditX::CIniEditX(const std::string& folder) : m_folder(folder) {
  if (!m_folder.empty()) {
    // a root folder "/" becomes "" and the file lies directly in the root
    if (m_folder.back() == '/') m_folder.pop_back();
    m_path = m_folder + "/" + kFileName;
  }
  Load();
}

CIniEditX::~CIniEditX() {
  Save();
  Clear();
}

void CIniEditX::Clear() {
  m_sections.clear();
  m_index.clear();
  m_bModified = 1;
}

CIniEditX::Section* CIniEditX::FindSection(const char16_t* name) {
  if (!name) return nullptr;
  const auto found = m_index.find(Fold(name));
  return found == m_index.end() ? nullptr : &m_sections[found->second];
}

CIniEditX::Section* CIniEditX::AddSection(const char16_t* name) {
  if (!name) return nullptr;
  if (Section* section = FindSection(name)) return section;
  m_index.emplace(Fold(name), m_sections.size());
  m_sections.push_back(Section{name, {}, {}});
  m_bModified = 1;
  return &m_sections.back();
}

CIniEditX::Key* CIniEditX::FindKey(Section* section, const char16_t* name) {
  if (!section || !name) return nullptr;
  const auto found = section->index.find(Fold(name));
  return found == section->index.end() ? nullptr : &section->keys[found->second];
}

int CIniEditX::SetValue(Section* section, const char16_t* name, const char16_t* value) {
  if (!section || !name) return 0;
  if (!value) value = u"";
  if (Key* key = FindKey(section, name)) {
    key->value = value;
  } else {
    section->index.emplace(Fold(name), section->keys.size());
    section->keys.push_back(Key{name, value});
  }
  m_bModified = 1;
  return 1;
}

int CIniEditX::GetSetting(const char16_t* keyName, char16_t* buffer) {
  if (!buffer) return 0;
  const Key* key = FindKey(FindSection(kSectionName), keyName);
  if (!key) return 0;
  std::memset(buffer, 0, kSettingUnits * sizeof(char16_t));
  const size_t units = std::min(key->value.size(), kSettingUnits - 1);
  std::memcpy(buffer, key->value.data(), units * sizeof(char16_t));
  return 1;
}

int CIniEditX::SetSetting(const char16_t* key, const char16_t* value) {
  return SetValue(AddSection(kSectionName), key, value);
}

int CIniEditX::Load() {
  Clear();
  if (m_path.empty()) return 0;
  CBuffer content;
  if (!content.LoadFile(m_path.c_str())) return 0;
  const std::u16string text = Decode(content);

  CParseStringW lines;
  lines.Split(text.c_str(), u"\r\n");
  Section* section = nullptr;
  CParseStringW pair;
  for (int i = 0; i < lines.m_nCount; ++i) {
    const std::u16string line = lines.m_ppToken[i];
    if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
      section = AddSection(line.substr(1, line.size() - 2).c_str());
      continue;
    }
    // lines before the first section have nowhere to go
    if (!section) continue;
    // only the second piece is the value: a second "=" ends it
    pair.Split(line.c_str(), u"=");
    const char16_t* key = pair.m_nCount > 0 ? pair.m_ppToken[0] : u"";
    const char16_t* value = pair.m_nCount > 1 ? pair.m_ppToken[1] : u"";
    if (key[0]) SetValue(section, key, value);
  }
  m_bModified = 0;
  return 1;
}

int CIniEditX::Save() {
  if (!m_bModified || m_path.empty()) return 0;
  std::u16string text;
  for (const Section& section : m_sections) {
    text += u"[" + section.name + u"]\r\n";
    for (const Key& key : section.keys) text += key.name + u"=" + key.value + u"\r\n";
    text += u"\r\n";
  }

  // The file is replaced only once all of it is written; a link is
  // rewritten where it ends and a file keeps its permissions.
  CSafeFile file("settings file");
  if (!file.Open(m_path.c_str())) return 0;
  const uint8_t bom[2] = {0xFF, 0xFE};
  file.Write(bom, sizeof(bom));
  file.WriteTextW(text.c_str());  // a failure is reported by Commit
  if (!file.Commit()) return 0;
  m_bModified = 0;
  return 1;
}
