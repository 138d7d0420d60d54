// The recording's encoding thread: what a target name asks for, pictures
// arriving in order through a queue that never holds more than its depth,
// and a sink that fails or a run that is given up.
#include "export/video_encoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/common/temp_dir.h"

namespace {

TEST(VideoEncoder, TargetNames) {
  qev::test::TempDir dir;
  ASSERT_EQ(std::system(("mkdir '" + dir.Path("existing") + "'").c_str()), 0);
  const std::pair<std::string, VideoTarget> cases[] = {
      {"out.mp4", VideoTarget::kMp4},
      {"OUT.MP4", VideoTarget::kMp4},
      {"a.b/out.Mkv", VideoTarget::kMatroska},
      {"frames/", VideoTarget::kPictures},
      {dir.Path("existing"), VideoTarget::kPictures},
      {dir.Path("missing"), VideoTarget::kUnknown},
      {"out.avi", VideoTarget::kUnknown},
      {"out.mp4.part", VideoTarget::kUnknown},
      {".mp4", VideoTarget::kUnknown},
      {"dir/.mkv", VideoTarget::kUnknown},
      {"", VideoTarget::kUnknown},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(ClassifyVideoTarget(name), kind) << name;
  CVideoEncoder encoder;
  EXPECT_EQ(encoder.Open("out.avi", VideoOptions{}), 0);
  EXPECT_EQ(encoder.Reason(), "a video is written to a .mp4 or .mkv file or to a folder");
}

// A sink that remembers every picture's first pixel, can be held before a
// picture is taken, and fails at a chosen picture.
struct Script {
  std::mutex lock;
  std::condition_variable changed;
  bool held = false;
  int entered = 0;  // Add calls begun
  std::vector<uint32_t> seen;
  int failAt = -1;
  bool finished = false, abandoned = false;
};

class ScriptedSink : public CVideoSink {
 public:
  explicit ScriptedSink(Script* s) : m_s(s) {}
  int Open(const std::string&, const VideoOptions&) override { return 1; }
  int Add(std::vector<uint32_t>& pixels) override {
    std::unique_lock<std::mutex> hold(m_s->lock);
    ++m_s->entered;
    m_s->changed.notify_all();
    m_s->changed.wait(hold, [this] { return !m_s->held; });
    if (int(m_s->seen.size()) == m_s->failAt) {
      m_reason = "scripted failure";
      return 0;
    }
    m_s->seen.push_back(pixels.at(0));
    return 1;
  }
  int Finish() override {
    m_s->finished = true;
    return 1;
  }
  void Abandon() override { m_s->abandoned = true; }

 private:
  Script* m_s;
};

TEST(VideoEncoder, PicturesArriveInOrderThroughABoundedQueue) {
  struct Case {
    int width, height;  // of the pictures announced
    size_t depth;       // pictures that may wait
  };
  const Case cases[] = {
      {64, 64, CVideoEncoder::kQueueDepth},
      {2048, 2048, 4},  // 16 MB each
      {4096, 2048, 2},
      {4096, 4096, 1},  // 64 MB: one waits, one is encoded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    Script script;
    script.held = true;
    VideoOptions options;
    options.width = c.width;
    options.height = c.height;
    CVideoEncoder encoder;
    ASSERT_EQ(encoder.Open(std::make_unique<ScriptedSink>(&script), "x", options), 1);
    EXPECT_EQ(encoder.QueueDepth(), c.depth);
    constexpr int kPictures = 40;
    std::atomic<int> pushed{0};
    std::thread producer([&] {
      for (int n = 0; n < kPictures; ++n) {
        std::vector<uint32_t> pixels(16, uint32_t(n));  // the sink looks at the first pixel only
        if (!encoder.Push(&pixels)) return;
        ++pushed;
      }
    });
    {
      // The thread holds picture 0; the queue fills behind it and the
      // producer waits: one held, `depth` waiting, nothing more taken.
      std::unique_lock<std::mutex> hold(script.lock);
      script.changed.wait(hold, [&] { return script.entered == 1; });
    }
    for (int spins = 0; spins < 200 && pushed < int(c.depth) + 1; ++spins)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // room for a queue without bound to run on
    EXPECT_EQ(pushed, int(c.depth) + 1);
    {
      std::lock_guard<std::mutex> hold(script.lock);
      script.held = false;
    }
    script.changed.notify_all();
    producer.join();
    ASSERT_EQ(encoder.Finish(), 1) << encoder.Reason();
    EXPECT_TRUE(script.finished);
    EXPECT_FALSE(script.abandoned);
    ASSERT_EQ(script.seen.size(), size_t(kPictures));
    for (int n = 0; n < kPictures; ++n) EXPECT_EQ(script.seen[size_t(n)], uint32_t(n));
    EXPECT_EQ(encoder.Encoded(), kPictures);
    EXPECT_LE(encoder.MostWaiting(), c.depth);
  }
}

TEST(VideoEncoder, FailingSinkStopsTheRunWithItsReason) {
  Script script;
  script.failAt = 3;
  CVideoEncoder encoder;
  ASSERT_EQ(encoder.Open(std::make_unique<ScriptedSink>(&script), "x", VideoOptions{}), 1);
  int accepted = 0;
  for (int n = 0; n < 100; ++n) {
    std::vector<uint32_t> pixels(16, uint32_t(n));
    if (!encoder.Push(&pixels)) break;
    ++accepted;
  }
  // Pictures after the failure are refused once the thread has seen it; at
  // most a queue's worth slipped in before.
  EXPECT_LT(accepted, 100);
  EXPECT_LE(accepted, 4 + int(CVideoEncoder::kQueueDepth));
  EXPECT_EQ(encoder.Finish(), 0);
  EXPECT_EQ(encoder.Reason(), "scripted failure");
  EXPECT_FALSE(script.finished) << "a failed sink is not finished";
  EXPECT_EQ(script.seen.size(), 3u);
}

TEST(VideoEncoder, AbandonedOrDroppedRunIsGivenUp) {
  for (bool destroyed : {false, true}) {
    SCOPED_TRACE(destroyed ? "destroyed unfinished" : "abandoned");
    Script script;
    script.held = true;
    std::thread release;
    {
      CVideoEncoder encoder;
      ASSERT_EQ(encoder.Open(std::make_unique<ScriptedSink>(&script), "x", VideoOptions{}), 1);
      for (int n = 0; n < 3; ++n) {
        std::vector<uint32_t> pixels(16, uint32_t(n));
        EXPECT_EQ(encoder.Push(&pixels), 1);
      }
      // The sink lets go only after the run was given up.
      release = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> hold(script.lock);
        script.held = false;
        script.changed.notify_all();
      });
      if (!destroyed) {
        encoder.Abandon();
        EXPECT_EQ(encoder.Finish(), 0) << "nothing left to finish";
      }
    }
    release.join();
    EXPECT_TRUE(script.abandoned);
    EXPECT_FALSE(script.finished);
    EXPECT_LE(script.seen.size(), 1u) << "the waiting pictures were dropped";
  }
}

}  // namespace
