// Picture decoding speed: a 2048 x 2048 picture as PNG, as DXT1/DXT5 blocks
// and as uncompressed 32-bit DDS, decoded to 32-bit pixels, and the texture
// manager's whole memory route onto the recording device. Reported in
// megapixels per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/picture_decoder.h"
#include "platform/picture_encoder.h"
#include "platform/recording_device.h"
#include "render/dd_tex_pro90.h"
#include "tools/fixtures/picture_fixtures.h"

namespace {

constexpr int kSide = 2048;

const std::vector<uint8_t>& Pixels() {
  static const std::vector<uint8_t> pixels = qev::fixtures::RampPicture(kSide, kSide);
  return pixels;
}

std::string Png() { return qev::EncodePicture(qev::PictureFileType::kPng, kSide, kSide, Pixels().data()); }

std::string Dds(const char* fourCc, size_t blockBytes) {
  std::string file = qev::fixtures::DdsHeader(kSide, kSide, fourCc);
  uint32_t noise = 1;
  for (size_t i = 0; i < size_t(kSide / 4) * (kSide / 4) * blockBytes; ++i) {
    noise = noise * 1103515245u + 12345u;
    file += char(noise >> 16);
  }
  return file;
}

std::string Dds32() {
  const std::vector<uint8_t>& p = Pixels();
  return qev::fixtures::DdsHeader(kSide, kSide, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u) +
         std::string(p.begin(), p.end());
}

void Decode(benchmark::State& state, const std::string& file) {
  qev::DecodedPicture picture;
  for (auto _ : state) {
    if (!qev::DecodePicture(reinterpret_cast<const uint8_t*>(file.data()), file.size(), qev::PictureFormats::kAll,
                            picture)) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(picture.pixels.data());
  }
  state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DecodePng(benchmark::State& state) { Decode(state, Png()); }
void BM_DecodeDdsDxt1(benchmark::State& state) { Decode(state, Dds("DXT1", 8)); }
void BM_DecodeDdsDxt5(benchmark::State& state) { Decode(state, Dds("DXT5", 16)); }
void BM_DecodeDds32(benchmark::State& state) { Decode(state, Dds32()); }

void BM_TextureFromPng(benchmark::State& state) {
  const std::string file = Png();
  qev::RecordingDevice device;
  CDDTexPro90 texture;
  for (auto _ : state) {
    device.ClearCalls();
    if (!texture.LoadMemory(&device, file.data(), int64_t(file.size()))) {
      state.SkipWithError("load failed");
      break;
    }
  }
  state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDdsDxt1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDdsDxt5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDds32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextureFromPng)->Unit(benchmark::kMillisecond);

}  // namespace
