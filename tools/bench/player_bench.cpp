// The player's costs: a seek on the sample character (its walk looped, its
// ponytail swinging), which replays the motion and physics from frame 0 up
// to the frame within the first 900 frames and puts the bodies back past
// them; the timeline of one playing frame (a new counter rasterised, the bar
// and text handed to the recording device); and decoding a minute of CD
// stereo from memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/scene.h"
#include "app/timeline.h"
#include "platform/recording_device.h"
#include "platform/sound_file.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

// The sample character and its walk repeated to frame 2040, in a folder
// removed at exit.
class PlayerFiles {
 public:
  PlayerFiles() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qevbench-XXXXXX").string();
    if (mkdtemp(tmpl.data())) m_folder = tmpl;
    const qev::fixture::VmdDesc once = qev::fixture::SampleWalk();
    qev::fixture::VmdDesc walk = once;
    walk.bones.clear();
    for (uint32_t loop = 0; loop < 34; ++loop)
      for (qev::fixture::VmdBoneKeyDesc key : once.bones) {
        key.frame += 60 * loop;
        walk.bones.push_back(key);
      }
    Write(Model(), qev::fixture::BuildPmd(qev::fixture::SampleCharacter()));
    Write(Motion(), qev::fixture::BuildVmd(walk));
  }
  ~PlayerFiles() {
    std::error_code ec;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ec);
  }
  std::string Model() const { return m_folder + "/sample.pmd"; }
  std::string Motion() const { return m_folder + "/walk.vmd"; }

 private:
  static void Write(const std::string& path, const std::string& bytes) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  std::string m_folder;
};

const PlayerFiles& Files() {
  static const PlayerFiles files;
  return files;
}

// range(0): the frame sought, from frame 0 (30 and 900 replay, 1500 resets).
void BM_SeekOnTheSample(benchmark::State& state) {
  CScene scene;
  std::string failure;
  if (!scene.LoadModel(Files().Model().c_str(), nullptr, &failure) ||
      !scene.LoadMotion(Files().Motion().c_str(), &failure)) {
    state.SkipWithError("the sample did not load");
    return;
  }
  const int32_t frame = int32_t(state.range(0));
  for (auto _ : state) {
    scene.SeekMotion(frame);
    benchmark::DoNotOptimize(scene.W());
  }
  state.SetLabel(frame <= CScene::kReplayFrames ? "replayed" : "bodies put back");
}
BENCHMARK(BM_SeekOnTheSample)->Arg(30)->Arg(900)->Arg(1500)->Unit(benchmark::kMillisecond);

// One playing frame's timeline at 1280 x 800: the counter changes every frame.
void BM_TimelineFrame(benchmark::State& state) {
  qev::RecordingDevice device;
  CTimeline timeline;
  TimelineState s{true, 0, 5999, true, 1.0, true};
  for (auto _ : state) {
    s.frame = (s.frame + 1) % 6000;
    timeline.Draw(&device, 1280, 800, s);
    device.ClearCalls();
  }
}
BENCHMARK(BM_TimelineFrame)->Unit(benchmark::kMicrosecond);

// A minute of 44.1 kHz stereo WAV decoded whole from memory.
void BM_DecodeMinuteOfWav(benchmark::State& state) {
  const std::string wav = qev::fixture::BuildWav(44100, 2, qev::fixture::Tone(44100, 2, 60.0, 440, 10000));
  for (auto _ : state) {
    qev::DecodedSound sound;
    std::string why;
    if (!qev::DecodeSound(wav.data(), wav.size(), &sound, &why)) state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(sound.samples.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(wav.size()));
}
BENCHMARK(BM_DecodeMinuteOfWav)->Unit(benchmark::kMillisecond);

}  // namespace
