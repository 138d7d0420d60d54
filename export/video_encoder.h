// CVideoEncoder: the recording's second thread. The caller draws each
// picture and hands it over; a bounded queue carries it to this thread,
// which converts, encodes and writes it, so drawing and encoding run side
// by side and no more than a few pictures ever wait in memory.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/video_sink.h"

// What a target name asks for: a name ending in "/" or naming a folder is
// a picture sequence, ".mp4" and ".mkv" (any case) are video files.
enum class VideoTarget { kUnknown, kPictures, kMp4, kMatroska };
VideoTarget ClassifyVideoTarget(const std::string& path);

class CVideoEncoder {
 public:
  // Pictures waiting at most: at 1280 x 720 about 15 MB. Larger pictures
  // wait fewer at a time, so that no more than kQueueBytes wait (one always can).
  static constexpr size_t kQueueDepth = 4;
  static constexpr size_t kQueueBytes = size_t(64) << 20;

  CVideoEncoder() = default;
  CVideoEncoder(const CVideoEncoder&) = delete;
  CVideoEncoder& operator=(const CVideoEncoder&) = delete;
  // An encoder neither finished nor abandoned is abandoned.
  virtual ~CVideoEncoder();

  // Opens the target (ClassifyVideoTarget says how) and starts the thread.
  // 1, or 0 with Reason().
  int Open(const std::string& path, const VideoOptions& options);
  // The same onto a sink of the caller's (tests hand in failing ones).
  int Open(std::unique_ptr<CVideoSink> sink, const std::string& path, const VideoOptions& options);
  // Hands the next picture over, taking its pixels and leaving a spent
  // buffer of the same size (when one is free) for the next. Waits while
  // QueueDepth() pictures wait. 0 once the encoding has failed.
  int Push(std::vector<uint32_t>* pixels);
  // Waits until every picture is encoded, then completes the file. 1, or 0
  // with Reason() and nothing left behind.
  int Finish();
  // Stops the thread and gives the file up.
  void Abandon();

  const std::string& Reason() const { return m_reason; }
  // Pictures encoded so far, and the thread's time spent on them (not
  // counting its waits for pictures), for the figures of a run.
  int64_t Encoded() const { return m_nEncoded.load(); }
  double EncodingSeconds() const { return double(m_nEncodingNanos.load()) * 1e-9; }
  // The most pictures that were ever waiting at once, and the most that may
  // for the pictures of the last Open.
  size_t MostWaiting() const { return m_nMostWaiting; }
  size_t QueueDepth() const { return m_nDepth; }

 private:
  void Run();
  void Stop();  // the thread told to end and joined

  std::unique_ptr<CVideoSink> m_sink;
  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_changed;  // a picture came or went, or the run ends
  std::deque<std::vector<uint32_t>> m_waiting;
  std::vector<std::vector<uint32_t>> m_spent;  // buffers handed back to Push
  bool m_bClosing = false;  // no more pictures come
  bool m_bDropping = false;  // the waiting pictures go unencoded
  bool m_bFailed = false;   // the sink failed; its Reason() says why
  size_t m_nMostWaiting = 0;
  size_t m_nDepth = kQueueDepth;
  std::string m_reason;
  std::atomic<int64_t> m_nEncoded{0};
  std::atomic<int64_t> m_nEncodingNanos{0};
};
