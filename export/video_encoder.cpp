#include "export/video_encoder.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "export/png_sequence.h"
#include "export/video_file.h"

VideoTarget ClassifyVideoTarget(const std::string& path) {
  if (path.empty()) return VideoTarget::kUnknown;
  if (path.back() == '/') return VideoTarget::kPictures;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return VideoTarget::kPictures;
  auto endsWith = [&](const char* extension) {
    const size_t n = std::char_traits<char>::length(extension);
    const size_t slash = path.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    // ".mp4" alone is a hidden file's name, not an extension
    return path.size() > name + n && strcasecmp(path.c_str() + path.size() - n, extension) == 0;
  };
  if (endsWith(".mp4")) return VideoTarget::kMp4;
  if (endsWith(".mkv")) return VideoTarget::kMatroska;
  return VideoTarget::kUnknown;
}

CVideoEncoder::~CVideoEncoder() { Abandon(); }

int CVideoEncoder::Open(const std::string& path, const VideoOptions& options) {
  switch (ClassifyVideoTarget(path)) {
    case VideoTarget::kPictures:
      return Open(std::make_unique<CPngSequence>(), path, options);
    case VideoTarget::kMp4:
      return Open(std::make_unique<CVideoFile>(VideoContainer::kMp4), path, options);
    case VideoTarget::kMatroska:
      return Open(std::make_unique<CVideoFile>(VideoContainer::kMatroska), path, options);
    case VideoTarget::kUnknown:
      break;
  }
  Abandon();
  m_reason = "a video is written to a .mp4 or .mkv file or to a folder";
  return 0;
}

int CVideoEncoder::Open(std::unique_ptr<CVideoSink> sink, const std::string& path, const VideoOptions& options) {
  Abandon();
  m_reason.clear();
  m_bClosing = m_bDropping = m_bFailed = false;
  m_nMostWaiting = 0;
  const size_t pictureBytes = size_t(std::max(options.width, 1)) * size_t(std::max(options.height, 1)) * 4;
  m_nDepth = std::clamp<size_t>(kQueueBytes / pictureBytes, 1, kQueueDepth);
  m_nEncoded = 0;
  m_nEncodingNanos = 0;
  if (!sink->Open(path, options)) {
    m_reason = sink->Reason();
    return 0;
  }
  m_sink = std::move(sink);
  m_thread = std::thread(&CVideoEncoder::Run, this);
  return 1;
}

void CVideoEncoder::Run() {
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    m_changed.wait(hold, [this] { return !m_waiting.empty() || m_bClosing || m_bDropping; });
    if (m_bDropping || m_waiting.empty()) return;  // closing with nothing left
    std::vector<uint32_t> pixels = std::move(m_waiting.front());
    m_waiting.pop_front();
    hold.unlock();
    m_changed.notify_all();  // room for the next picture
    const auto start = std::chrono::steady_clock::now();
    const int added = m_sink->Add(pixels);
    m_nEncodingNanos +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    hold.lock();
    if (!added) {
      m_bFailed = true;
      m_waiting.clear();
      m_changed.notify_all();
      return;
    }
    ++m_nEncoded;
    if (m_spent.size() < m_nDepth) m_spent.push_back(std::move(pixels));
    m_changed.notify_all();
  }
}

int CVideoEncoder::Push(std::vector<uint32_t>* pixels) {
  std::unique_lock<std::mutex> hold(m_lock);
  if (!m_sink || m_bClosing) return 0;
  m_changed.wait(hold, [this] { return m_waiting.size() < m_nDepth || m_bFailed; });
  if (m_bFailed) return 0;
  m_waiting.push_back(std::move(*pixels));
  m_nMostWaiting = std::max(m_nMostWaiting, m_waiting.size());
  pixels->clear();
  if (!m_spent.empty()) {
    pixels->swap(m_spent.back());
    m_spent.pop_back();
  }
  hold.unlock();
  m_changed.notify_all();
  return 1;
}

void CVideoEncoder::Stop() {
  if (m_thread.joinable()) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_bClosing = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }
}

int CVideoEncoder::Finish() {
  if (!m_sink) {
    if (m_reason.empty()) m_reason = "not open";
    return 0;
  }
  Stop();
  std::unique_ptr<CVideoSink> sink = std::move(m_sink);
  const int done = m_bFailed ? 0 : sink->Finish();
  if (!done) m_reason = sink->Reason();
  m_spent.clear();
  return done;
}

void CVideoEncoder::Abandon() {
  if (m_thread.joinable()) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_bDropping = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }
  if (m_sink) m_sink->Abandon();
  m_sink.reset();
  m_waiting.clear();
  m_spent.clear();
}
