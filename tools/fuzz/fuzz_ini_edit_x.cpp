// Fuzz target: any bytes as the settings file are read, queried, edited and
// written back, and the written file is read again.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ini_edit_x.h"

namespace {

std::string g_folder;

void WriteFile(const std::string& path, const void* data, size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

bool EmptyFolder(const char* path) {
  DIR* dir = opendir(path);
  if (!dir) return false;
  bool empty = true;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') empty = false;
  closedir(dir);
  return empty;
}

// Seeds an empty corpus folder with files in both encodings.
void Seed(const char* corpus) {
  const std::string utf16("\xFF\xFE[\0Q\0E\0V\0T\0e\0s\0t\0]\0\r\0\n\0P\0M\0D\0F\0I\0L\0E\0=\0a\0\r\0\n\0", 46);
  const std::string ansi = "[QEVTest]\r\nPMDFILE=/a/b.pmd\r\nVPDFILE=\"x=y\"\r\n;note\r\n[other]\r\nk=v=w\r\n";
  WriteFile(std::string(corpus) + "/utf16", utf16.data(), utf16.size());
  WriteFile(std::string(corpus) + "/ansi", ansi.data(), ansi.size());
}

void RemoveFolder() {
  if (g_folder.empty()) return;
  std::remove((g_folder + "/QEVTest.ini").c_str());
  rmdir(g_folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if ((*argv)[i][0] != '-' && EmptyFolder((*argv)[i])) Seed((*argv)[i]);
  // memory-backed when possible: every run writes and flushes the file
  char shm[] = "/dev/shm/fuzz_ini_XXXXXX";
  char tmp[] = "/tmp/fuzz_ini_XXXXXX";
  if (mkdtemp(shm))
    g_folder = shm;
  else if (mkdtemp(tmp))
    g_folder = tmp;
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_folder.empty()) return 0;
  WriteFile(g_folder + "/QEVTest.ini", data, size);
  {
    CIniEditX ini(g_folder);
    char16_t buffer[260];
    for (const char16_t* key : {u"PMDFILE", u"VPDFILE", u"VMDFILE"}) ini.GetSetting(key, buffer);
    ini.SetSetting(u"PMDFILE", u"/fuzz/model.pmd");
  }
  CIniEditX again(g_folder);
  char16_t buffer[260];
  again.GetSetting(u"PMDFILE", buffer);
  again.Clear();
  again.Load();  // unmodified after a read: nothing is written at the end
  return 0;
}
