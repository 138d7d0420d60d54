#include "export/png_sequence.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "export/safe_file.h"
#include "platform/codepage.h"
#include "platform/picture_encoder.h"
#include "support/debug.h"

std::string CPngSequence::PictureName(int64_t n) {
  char name[32];
  std::snprintf(name, sizeof name, "%06lld.png", static_cast<long long>(n));
  return name;
}

int CPngSequence::Open(const std::string& path, const VideoOptions& options) {
  m_bOpen = false;
  m_nWritten = 0;
  m_options = options;
  m_reason.clear();
  m_folder = path.empty() ? std::string("./") : path;
  if (m_folder.back() != '/') m_folder += '/';
  if (options.width < 1 || options.height < 1) {
    m_reason = "no picture size";
    return 0;
  }
  struct stat st {};
  if (::stat(m_folder.c_str(), &st) != 0) {
    if (errno != ENOENT || ::mkdir(m_folder.c_str(), 0777) != 0) {
      m_reason = std::string("the folder cannot be made (") + std::strerror(errno) + ")";
      DebugPrintf("pictures %s not written: %s\n", qev::Utf8ToCp932(m_folder).c_str(), m_reason.c_str());
      return 0;
    }
  } else if (!S_ISDIR(st.st_mode)) {
    m_reason = "it is no folder";
    DebugPrintf("pictures %s not written: %s\n", qev::Utf8ToCp932(m_folder).c_str(), m_reason.c_str());
    return 0;
  }
  m_bOpen = true;
  return 1;
}

int CPngSequence::Add(std::vector<uint32_t>& pixels) {
  if (!m_bOpen) return 0;
  const std::string name = m_folder + PictureName(m_nWritten);
  auto fail = [&](const std::string& why) {
    m_reason = name + ": " + why;
    m_bOpen = false;
    return 0;
  };
  if (pixels.size() != size_t(m_options.width) * size_t(m_options.height)) {
    DebugPrintf("picture %s not written: a picture of another size\n", qev::Utf8ToCp932(name).c_str());
    return fail("a picture of another size");
  }
  // The window shows the back buffer opaque whatever its alpha; so does the picture.
  for (uint32_t& p : pixels) p |= 0xFF000000u;
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, m_options.width, m_options.height,
                                             reinterpret_cast<const uint8_t*>(pixels.data()));
  if (png.empty()) {
    DebugPrintf("picture %s not written: it cannot be encoded\n", qev::Utf8ToCp932(name).c_str());
    return fail("it cannot be encoded");
  }
  CSafeFile file("picture");
  if (file.Open(name.c_str())) {
    file.Write(png.data(), png.size());  // a failure is reported by Commit
    if (file.Commit()) {
      ++m_nWritten;
      return 1;
    }
  }
  return fail(file.Reason());
}

int CPngSequence::Finish() {
  if (!m_bOpen) {
    if (m_reason.empty()) m_reason = "not open";
    return 0;
  }
  m_bOpen = false;
  if (m_nWritten != m_options.frames) {
    m_reason = std::to_string(m_nWritten) + " pictures of " + std::to_string(m_options.frames) + " came";
    DebugPrintf("pictures %s not all written: %s\n", qev::Utf8ToCp932(m_folder).c_str(), m_reason.c_str());
    return 0;
  }
  return 1;
}

void CPngSequence::Abandon() { m_bOpen = false; }
