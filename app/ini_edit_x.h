// CIniEditX: the settings file QEVTest.ini, held in memory as sections of
// keys. It is read whole when constructed and, if anything changed, written
// whole (UTF-16 with a byte order mark) when destroyed.
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

class CIniEditX {
 public:
  struct Key {
    std::u16string name;  // as first written
    std::u16string value;
  };
  struct Section {
    std::u16string name;  // as first written
    std::vector<Key> keys;
    std::unordered_map<std::u16string, size_t> index;  // folded name -> first key
  };

  // Settings of the file in the current directory at construction.
  CIniEditX();
  // Settings of the file in the given folder (a native path); an empty folder
  // names no file: nothing is read and nothing will be written.
  explicit CIniEditX(const std::string& folder);
  CIniEditX(const CIniEditX&) = delete;
  CIniEditX& operator=(const CIniEditX&) = delete;
  // Saves when modified, then clears.
  virtual ~CIniEditX();

  // Clears, then reads the file; 1 when it was read (modified is then 0).
  int Load();
  // Writes the file when modified; 1 when it was written. The new text goes
  // to a temporary file beside it that replaces the old one only once it is
  // complete on disk, so a failed write leaves the old file as it was.
  int Save();
  // Drops every section; the settings count as modified.
  void Clear();

  // Names compare equal when they differ only in the case of A-Z.
  Section* FindSection(const char16_t* name);
  Section* AddSection(const char16_t* name);
  // The key is valid until the next key is added to its section.
  Key* FindKey(Section* section, const char16_t* name);
  int SetValue(Section* section, const char16_t* name, const char16_t* value);

  // A value of the "QEVTest" section into a buffer of at least 128 units: at
  // most 127 units of it, zero-terminated. 0, leaving the buffer untouched,
  // when the buffer is null or there is no such value.
  int GetSetting(const char16_t* key, char16_t* buffer);
  int SetSetting(const char16_t* key, const char16_t* value);

  int Modified() const { return m_bModified; }
  size_t SectionCount() const { return m_sections.size(); }
  const std::string& Folder() const { return m_folder; }
  const std::string& FilePath() const { return m_path; }

 private:
  // Sections are never moved once added: callers hold pointers to them.
  std::deque<Section> m_sections;
  std::unordered_map<std::u16string, size_t> m_index;  // folded name -> first section
  int m_bModified = 1;
  std::string m_path;    // native; empty when there is no file
  std::string m_folder;  // without a trailing "/"
};
