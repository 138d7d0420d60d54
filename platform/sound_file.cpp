#include "platform/sound_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>

namespace qev {
namespace {

// The bytes libsndfile reads through its virtual file: a view of memory.
struct MemoryFile {
  const uint8_t* data;
  sf_count_t size;
  sf_count_t at;
};

sf_count_t Length(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  sf_count_t base = 0;
  if (whence == SEEK_CUR) base = f->at;
  else if (whence == SEEK_END) base = f->size;
  else if (whence != SEEK_SET) return -1;
  // out of the file is refused rather than wrapped: offsets come from its header
  if ((offset < 0 && -offset > base) || (offset > 0 && offset > f->size - base)) return -1;
  f->at = base + offset;
  return f->at;
}

sf_count_t Read(void* out, sf_count_t count, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  if (count <= 0) return 0;
  const sf_count_t n = std::min(count, f->size - f->at);
  std::memcpy(out, f->data + f->at, size_t(n));
  f->at += n;
  return n;
}

sf_count_t Write(const void*, sf_count_t, void*) { return 0; }  // read only
sf_count_t Tell(void* user) { return static_cast<MemoryFile*>(user)->at; }

int16_t ToSample(float x) {
  if (!(x == x)) return 0;  // not a number
  const float scaled = x * 32768.0f;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return int16_t(std::lrint(scaled));
}

bool Fail(DecodedSound* out, std::string* why, const std::string& reason) {
  *out = DecodedSound();
  if (why) *why = reason;
  return false;
}

}  // namespace

bool DecodeSound(const void* bytes, size_t size, DecodedSound* out, std::string* why) {
  *out = DecodedSound();
  if (size == 0) return Fail(out, why, "empty file");
  if (size > kMaxSoundFileBytes) return Fail(out, why, "file too large");
  MemoryFile file{static_cast<const uint8_t*>(bytes), sf_count_t(size), 0};
  SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
  SF_INFO info{};
  SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
  if (!sound) return Fail(out, why, std::string("not a sound file the decoder knows (") + sf_strerror(nullptr) + ")");
  struct Closer {
    SNDFILE* s;
    ~Closer() { sf_close(s); }
  } closer{sound};
  if (info.channels < 1 || info.channels > 256) return Fail(out, why, "channel count out of range");
  if (info.samplerate < kMinSoundRate || info.samplerate > kMaxSoundRate)
    return Fail(out, why, "sample rate out of range (" + std::to_string(info.samplerate) + ")");

  // Read in pieces until the decoder stops: the frame count of the header is
  // not trusted, and what is kept never passes kMaxSoundSamples.
  const int channels = info.channels;
  const int kept = std::min(channels, 2);
  constexpr sf_count_t kPiece = 16384;  // frames per read
  std::vector<float> piece(size_t(kPiece) * size_t(channels));
  out->rate = info.samplerate;
  out->channels = kept;
  for (;;) {
    // Read as floats, every format alike from -1 to 1 (16-bit data comes
    // back exactly as it was stored), then held to the 16-bit range.
    const sf_count_t got = sf_readf_float(sound, piece.data(), kPiece);
    if (got <= 0) break;
    if (out->samples.size() + size_t(got) * size_t(kept) > kMaxSoundSamples)
      return Fail(out, why, "sound too long (more than " + std::to_string(kMaxSoundSamples) + " samples)");
    for (sf_count_t f = 0; f < got; ++f)
      for (int c = 0; c < kept; ++c) out->samples.push_back(ToSample(piece[size_t(f * channels + c)]));
  }
  if (sf_error(sound) != SF_ERR_NO_ERROR) return Fail(out, why, std::string("damaged sound data (") + sf_strerror(sound) + ")");
  if (out->samples.empty()) return Fail(out, why, "no sound in the file");
  return true;
}

bool LoadSoundFile(const std::string& path, DecodedSound* out, std::string* why) {
  *out = DecodedSound();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(out, why, std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat st{};
  if (fstat(fd, &st) != 0) return Fail(out, why, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Fail(out, why, "not a regular file");
  if (uint64_t(st.st_size) > kMaxSoundFileBytes) return Fail(out, why, "file too large");
  std::string bytes(size_t(st.st_size), '\0');
  size_t have = 0;
  while (have < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + have, bytes.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(out, why, std::strerror(errno));
    if (n == 0) break;  // the file shrank while read: decode what is there
    have += size_t(n);
  }
  bytes.resize(have);
  return DecodeSound(bytes.data(), bytes.size(), out, why);
}

}  // namespace qev
