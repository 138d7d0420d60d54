#include "tests/common/media.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/picture_decoder.h"
#include "tools/fixtures/sound_fixture.h"

namespace qev::test {

namespace {

std::string Quoted(const std::string& path) {
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// What a command line prints on stdout; empty when it fails.
std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out.clear();
  return out;
}

}  // namespace

std::vector<int16_t> QuietThenTone(int rate, int channels, double seconds, double silence) {
  std::vector<int16_t> samples(size_t(std::lround(silence * rate)) * size_t(channels), 0);
  const std::vector<int16_t> tone = qev::fixture::Tone(rate, channels, seconds - silence, 440.0, 16384);
  samples.insert(samples.end(), tone.begin(), tone.end());
  return samples;
}

const ProbedStream* ProbedMedia::Find(const std::string& type) const {
  for (const ProbedStream& s : streams)
    if (s.type == type) return &s;
  return nullptr;
}

ProbedMedia ProbeMedia(const std::string& path) {
  ProbedMedia media;
  const std::string text = Output(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,sample_rate,channels,duration:"
      "format=duration "
      "-of compact=p=0 " +
      Quoted(path));
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    ProbedStream s;
    const bool isStream = line.find("codec_type=") != std::string::npos;  // else the container's line
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      const size_t eq = field.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      const bool number = !value.empty() && value != "N/A";
      if (key == "codec_type") {
        s.type = value;
      } else if (key == "codec_name") {
        s.codec = value;
      } else if (key == "width" && number) {
        s.width = std::atoi(value.c_str());
      } else if (key == "height" && number) {
        s.height = std::atoi(value.c_str());
      } else if (key == "r_frame_rate") {
        s.frameRate = value;
      } else if (key == "nb_read_frames" && number) {
        s.frames = std::atoll(value.c_str());
      } else if (key == "sample_rate" && number) {
        s.sampleRate = std::atoi(value.c_str());
      } else if (key == "channels" && number) {
        s.channels = std::atoi(value.c_str());
      } else if (key == "duration" && number) {
        (isStream ? s.duration : media.duration) = std::atof(value.c_str());
      }
    }
    if (isStream) media.streams.push_back(s);
    media.read = true;
  }
  return media;
}

std::vector<int16_t> DecodeSound(const std::string& path) {
  const std::string raw = Output("ffmpeg -v error -i " + Quoted(path) + " -map 0:a:0 -ac 1 -f s16le -");
  std::vector<int16_t> samples(raw.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = int16_t(uint16_t(uint8_t(raw[2 * i])) | uint16_t(uint8_t(raw[2 * i + 1])) << 8);
  return samples;
}

bool ExtractPicture(const std::string& video, long long n, const std::string& png) {
  const std::string command = "ffmpeg -v error -y -i " + Quoted(video) + " -vf 'select=eq(n\\," +
                              std::to_string(n) + ")' -frames:v 1 " + Quoted(png);
  const int status = std::system(command.c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ComparePictures(const std::string& a, const std::string& b, PictureDistance* distance) {
  DecodedPicture pictures[2];
  const std::string* paths[2] = {&a, &b};
  for (int k = 0; k < 2; ++k) {
    std::ifstream in(*paths[k], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!DecodePicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), PictureFormats::kTextureFiles,
                       pictures[k]))
      return false;
  }
  if (pictures[0].width != pictures[1].width || pictures[0].height != pictures[1].height) return false;
  const std::vector<uint8_t>& p = pictures[0].pixels;
  const std::vector<uint8_t>& q = pictures[1].pixels;
  double total = 0;
  size_t far = 0, values = 0;
  for (size_t i = 0; i + 3 < p.size(); i += 4)
    for (size_t c = 0; c < 3; ++c, ++values) {
      const int d = std::abs(int(p[i + c]) - int(q[i + c]));
      total += d;
      far += d > 24;
    }
  distance->mean = values ? total / double(values) : 0.0;
  distance->farShare = values ? double(far) / double(values) : 0.0;
  return true;
}

double Loudness(const std::vector<int16_t>& samples, size_t from, size_t to) {
  if (to > samples.size()) to = samples.size();
  if (from >= to) return 0.0;
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
  return std::sqrt(sum / double(to - from)) / 32768.0;
}

}  // namespace qev::test
