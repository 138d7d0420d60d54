#include "export/music_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "export/ffmpeg_log.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

// Sample rates a music file may have: past these bounds no real music lies,
// and a rate of a few samples a second would turn each decoded sample into
// thousands of ours.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// The most channels the converter mixes down (its own limit).
constexpr int kMaxChannels = 64;

}  // namespace

struct CMusicReader::Impl {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwrContext* converter = nullptr;
  AVAudioFifo* fifo = nullptr;  // converted samples not yet read
  AVPacket* packet = nullptr;
  AVFrame* decoded = nullptr;
  int stream = -1;
  std::string path;
  // The converter's input as it was set up; a frame that differs (a stream
  // that changes its format midway) sets it up again.
  int inRate = 0;
  AVSampleFormat inFormat = AV_SAMPLE_FMT_NONE;
  AVChannelLayout inLayout{};
  int outRate = 0;
  int outChannels = 0;
  std::vector<float> converted[2];
  int64_t skip = 0;        // converted samples still to drop before the start
  int64_t lead = 0;        // silence still to give before the music, for a start before it
  bool inputEnded = false;  // the decoder was told there is no more
  bool finished = false;    // nothing more will come
  bool complained = false;  // the end of what could be read was logged
  bool passedOver = false;  // a broken packet was logged
  int64_t given = 0;

  ~Impl() {
    av_channel_layout_uninit(&inLayout);
    av_audio_fifo_free(fifo);
    swr_free(&converter);
    av_frame_free(&decoded);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }

  void Complain(const char* what, int code) {
    if (complained) return;
    complained = true;
    DebugPrintf("music %s: %s (%s), silence from there on\n", qev::Utf8ToCp932(path).c_str(), what,
                qev::av::ErrorText(code).c_str());
  }

  int SetUpConverter(const AVChannelLayout& layout, AVSampleFormat sampleFormat, int rate) {
    swr_free(&converter);
    av_channel_layout_uninit(&inLayout);
    if (av_channel_layout_copy(&inLayout, &layout) < 0) return AVERROR(ENOMEM);
    inFormat = sampleFormat;
    inRate = rate;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, outChannels);
    int r = swr_alloc_set_opts2(&converter, &outLayout, AV_SAMPLE_FMT_FLTP, outRate, &inLayout, sampleFormat, rate,
                                0, nullptr);
    av_channel_layout_uninit(&outLayout);
    // Channels mixed down are scaled so that no sum passes full scale: float
    // samples would otherwise carry it into the encoder unclipped.
    if (r >= 0) r = av_opt_set_double(converter, "rematrix_maxval", 1.0, 0);
    if (r >= 0) r = swr_init(converter);
    return r;
  }

  // Converted samples into the queue, the first `skip` of them dropped.
  void Queue(int count) {
    if (count <= 0) return;
    void* planes[2] = {converted[0].data(), converted[1].data()};
    if (av_audio_fifo_write(fifo, planes, count) < count) {
      Complain("out of memory", AVERROR(ENOMEM));
      finished = true;
      return;
    }
    const int64_t drop = std::min<int64_t>(skip, av_audio_fifo_size(fifo));
    if (drop > 0) {
      av_audio_fifo_drain(fifo, int(drop));
      skip -= drop;
    }
  }

  int Room(int count) {
    if (count <= 0) return 0;
    for (int c = 0; c < outChannels; ++c) converted[c].resize(size_t(count));
    return count;
  }

  void Convert(AVFrame* frame) {
    // A layout the file leaves unnamed is taken as the usual one of its count.
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      const int n = frame->ch_layout.nb_channels;
      av_channel_layout_uninit(&frame->ch_layout);
      av_channel_layout_default(&frame->ch_layout, n);
    }
    const int channels = frame->ch_layout.nb_channels;
    if (channels < 1 || channels > kMaxChannels || frame->sample_rate < kMinRate || frame->sample_rate > kMaxRate) {
      Complain("part of it has a sample rate or channel count out of reach", AVERROR_INVALIDDATA);
      finished = true;
      return;
    }
    if (frame->sample_rate != inRate || frame->format != inFormat ||
        av_channel_layout_compare(&frame->ch_layout, &inLayout) != 0) {
      const int r = SetUpConverter(frame->ch_layout, AVSampleFormat(frame->format), frame->sample_rate);
      if (r < 0) {
        Complain("its sound cannot be converted", r);
        finished = true;
        return;
      }
    }
    const int room = Room(swr_get_out_samples(converter, frame->nb_samples));
    uint8_t* out[2] = {reinterpret_cast<uint8_t*>(converted[0].data()), reinterpret_cast<uint8_t*>(converted[1].data())};
    const int n = swr_convert(converter, out, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n < 0) {
      Complain("its sound cannot be converted", n);
      finished = true;
      return;
    }
    Queue(n);
  }

  // What the converter still holds once the music has ended.
  void FlushConverter() {
    if (!converter) return;
    const int room = Room(swr_get_out_samples(converter, 0));
    if (room <= 0) return;
    uint8_t* out[2] = {reinterpret_cast<uint8_t*>(converted[0].data()), reinterpret_cast<uint8_t*>(converted[1].data())};
    const int n = swr_convert(converter, out, room, nullptr, 0);
    if (n > 0) Queue(n);
  }

  // Decodes until `want` samples wait or the music has ended.
  void Fill(int want) {
    while (!finished && av_audio_fifo_size(fifo) < want) {
      int r = avcodec_receive_frame(decoder, decoded);
      if (r == 0) {
        Convert(decoded);
        av_frame_unref(decoded);
        continue;
      }
      if (r == AVERROR_EOF) {
        FlushConverter();
        finished = true;
        break;
      }
      if (r != AVERROR(EAGAIN)) {
        Complain("it cannot be decoded further", r);
        FlushConverter();
        finished = true;
        break;
      }
      if (inputEnded) {  // the decoder wants more, yet it was told the end: it has no more
        FlushConverter();
        finished = true;
        break;
      }
      r = av_read_frame(format, packet);
      if (r < 0) {
        if (r != AVERROR_EOF) Complain("it cannot be read further", r);
        inputEnded = true;
        avcodec_send_packet(decoder, nullptr);
        continue;
      }
      if (packet->stream_index == stream) {
        // A broken packet is passed over, as players do; the rest still plays.
        r = avcodec_send_packet(decoder, packet);
        if (r < 0 && !passedOver) {
          passedOver = true;
          DebugPrintf("music %s: a part that cannot be decoded is passed over (%s)\n",
                      qev::Utf8ToCp932(path).c_str(), qev::av::ErrorText(r).c_str());
        }
      }
      av_packet_unref(packet);
    }
  }
};

CMusicReader::CMusicReader() : m(std::make_unique<Impl>()) {}
CMusicReader::~CMusicReader() = default;

int CMusicReader::Open(const char* path, std::string* failure) {
  qev::av::RouteLog();
  m = std::make_unique<Impl>();
  m->path = path ? path : "";
  auto fail = [&](const std::string& why) {
    *failure = why;
    DebugPrintf("music %s not read: %s\n", qev::Utf8ToCp932(m->path).c_str(), why.c_str());
    m = std::make_unique<Impl>();
    return 0;
  };
  int r = avformat_open_input(&m->format, m->path.c_str(), nullptr, nullptr);
  if (r < 0) return fail(qev::av::ErrorText(r));
  r = avformat_find_stream_info(m->format, nullptr);
  if (r < 0) return fail(qev::av::ErrorText(r));
  const AVCodec* codec = nullptr;
  r = av_find_best_stream(m->format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (r < 0 || !codec) return fail("no sound in the file");
  m->stream = r;
  const AVCodecParameters* par = m->format->streams[r]->codecpar;
  if (par->sample_rate < kMinRate || par->sample_rate > kMaxRate)
    return fail("a sample rate of " + std::to_string(par->sample_rate) + " Hz is out of reach");
  if (par->ch_layout.nb_channels < 1 || par->ch_layout.nb_channels > kMaxChannels)
    return fail(std::to_string(par->ch_layout.nb_channels) + " channels are out of reach");
  m->decoder = avcodec_alloc_context3(codec);
  if (!m->decoder) return fail("out of memory");
  r = avcodec_parameters_to_context(m->decoder, par);
  m->decoder->thread_count = 1;
  if (r >= 0) r = avcodec_open2(m->decoder, codec, nullptr);
  if (r < 0) return fail("its sound cannot be decoded (" + qev::av::ErrorText(r) + ")");
  m->packet = av_packet_alloc();
  m->decoded = av_frame_alloc();
  if (!m->packet || !m->decoded) return fail("out of memory");
  // Only the sound's packets are wanted from the file.
  for (unsigned i = 0; i < m->format->nb_streams; ++i)
    m->format->streams[i]->discard = int(i) == m->stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  return 1;
}

int CMusicReader::SourceRate() const { return m->decoder ? m->decoder->sample_rate : 0; }
int CMusicReader::SourceChannels() const { return m->decoder ? m->decoder->ch_layout.nb_channels : 0; }

int CMusicReader::Start(int rate, int channels, double startSeconds, std::string* failure) {
  if (!m->decoder) {
    *failure = "no music is open";
    return 0;
  }
  m->outRate = rate;
  m->outChannels = std::clamp(channels, 1, 2);
  m->skip = startSeconds > 0 ? std::llround(startSeconds * double(rate)) : 0;
  m->lead = startSeconds < 0 ? std::llround(-startSeconds * double(rate)) : 0;
  m->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, m->outChannels, 4096);
  AVChannelLayout layout{};
  if (m->decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&layout, m->decoder->ch_layout.nb_channels);
  else
    av_channel_layout_copy(&layout, &m->decoder->ch_layout);
  const int r = m->fifo ? m->SetUpConverter(layout, m->decoder->sample_fmt, m->decoder->sample_rate) : AVERROR(ENOMEM);
  av_channel_layout_uninit(&layout);
  if (r < 0) {
    *failure = "its sound cannot be converted (" + qev::av::ErrorText(r) + ")";
    DebugPrintf("music %s not read: %s\n", qev::Utf8ToCp932(m->path).c_str(), failure->c_str());
    return 0;
  }
  return 1;
}

void CMusicReader::Read(float* const* planes, int count) {
  if (count <= 0) return;
  const int channels = std::max(m->outChannels, 1);
  // the silence before a music that starts later
  const int quiet = int(std::min<int64_t>(m->lead, count));
  m->lead -= quiet;
  for (int c = 0; c < channels; ++c) std::fill(planes[c], planes[c] + quiet, 0.0f);
  int got = 0;
  if (m->fifo && quiet < count) {
    float* rest[2] = {planes[0] + quiet, channels > 1 ? planes[1] + quiet : nullptr};
    m->Fill(count - quiet);
    got = std::max(0, av_audio_fifo_read(m->fifo, reinterpret_cast<void**>(rest), count - quiet));
  }
  m->given += got;
  for (int c = 0; c < channels; ++c) {
    // Float music may hold anything: what is no number is silence, and no
    // sample passes full scale (the encoder takes nothing else).
    for (int i = quiet; i < quiet + got; ++i) {
      float& v = planes[c][i];
      v = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    }
    std::fill(planes[c] + quiet + got, planes[c] + count, 0.0f);
  }
}

int64_t CMusicReader::MusicSamples() const { return m->given; }
