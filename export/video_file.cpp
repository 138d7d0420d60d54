#include "export/video_file.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "export/ffmpeg_log.h"
#include "export/music_reader.h"
#include "export/safe_file.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

// The muxer's write callback lost its non-const buffer in FFmpeg 7.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using PacketBytes = const uint8_t*;
#else
using PacketBytes = uint8_t*;
#endif

constexpr int kIoBufferSize = 1 << 16;
// The rates the AAC encoder takes; music at another rate is resampled to 48 kHz.
constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
constexpr int kAacBitsPerChannel = 96000;  // bits a second
// A speed that keeps the encoder ahead of the software drawing even for
// light models (about twice "veryfast" at 1280 x 720, for files about twice
// as large), at a quality that shows no loss on flat-shaded models.
constexpr const char* kPreset = "superfast";
constexpr const char* kQuality = "18";  // x264's constant rate factor

}  // namespace

struct CVideoFile::Impl {
  CSafeFile file{"video file"};
  AVFormatContext* muxer = nullptr;
  AVIOContext* io = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  CMusicReader music;
  VideoOptions options;
  int64_t pictures = 0;      // pictures encoded
  int64_t samples = 0;       // sound samples encoded
  int64_t totalSamples = 0;  // the sound's length: the pictures' span
  int soundFrame = 0;        // samples of one AAC frame

  ~Impl() {
    av_packet_free(&packet);
    av_frame_free(&sound);
    av_frame_free(&picture);
    sws_freeContext(scaler);
    avcodec_free_context(&audio);
    avcodec_free_context(&video);
    avformat_free_context(muxer);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
  }

  static int WritePacket(void* opaque, PacketBytes data, int size) {
    return static_cast<Impl*>(opaque)->file.Write(data, size_t(size)) ? size : AVERROR(EIO);
  }
  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    if (whence & AVSEEK_SIZE) return AVERROR(ENOSYS);  // the muxers do without
    const int64_t at = static_cast<Impl*>(opaque)->file.Seek(offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(EIO) : at;
  }

  // Every packet an encoder has ready, into the muxer. 0 with *why on failure.
  int Drain(AVCodecContext* codec, AVStream* stream, std::string* why) {
    for (;;) {
      int r = avcodec_receive_packet(codec, packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 1;
      if (r < 0) {
        *why = "encoding failed (" + qev::av::ErrorText(r) + ")";
        return 0;
      }
      av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      r = av_interleaved_write_frame(muxer, packet);
      if (r < 0) {
        *why = "muxing failed (" + qev::av::ErrorText(r) + ")";
        return 0;
      }
    }
  }

  int EncodeSound(int count, std::string* why) {
    int r = av_frame_make_writable(sound);
    if (r < 0) {
      *why = "out of memory";
      return 0;
    }
    sound->nb_samples = count;
    music.Read(reinterpret_cast<float* const*>(sound->extended_data), count);
    sound->pts = samples;
    samples += count;
    r = avcodec_send_frame(audio, sound);
    if (r < 0) {
      *why = "sound encoding failed (" + qev::av::ErrorText(r) + ")";
      return 0;
    }
    return Drain(audio, audioStream, why);
  }

  // Whole AAC frames of sound up to a sample of the span.
  int EncodeSoundUpTo(int64_t sample, std::string* why) {
    while (samples + soundFrame <= sample)
      if (!EncodeSound(soundFrame, why)) return 0;
    return 1;
  }

  int OpenVideo(std::string* why) {
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!h264) {
      *why = "this FFmpeg has no H.264 encoder";
      return 0;
    }
    video = avcodec_alloc_context3(h264);
    videoStream = avformat_new_stream(muxer, nullptr);
    picture = av_frame_alloc();
    if (!video || !videoStream || !picture) {
      *why = "out of memory";
      return 0;
    }
    video->width = options.width;
    video->height = options.height;
    video->time_base = AVRational{1, options.fps};
    video->framerate = AVRational{options.fps, 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    // The pictures are converted with the HD matrix into studio range; the
    // tags say so, so that players turn them back the same way.
    video->color_range = AVCOL_RANGE_MPEG;
    video->color_primaries = AVCOL_PRI_BT709;
    video->color_trc = AVCOL_TRC_BT709;
    video->colorspace = AVCOL_SPC_BT709;
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "preset", kPreset, 0);
    av_dict_set(&settings, "crf", kQuality, 0);
    int r = avcodec_open2(video, h264, &settings);
    av_dict_free(&settings);
    if (r >= 0) r = avcodec_parameters_from_context(videoStream->codecpar, video);
    if (r < 0) {
      *why = "the H.264 encoder cannot be opened (" + qev::av::ErrorText(r) + ")";
      return 0;
    }
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = video->framerate;
    scaler = sws_getContext(options.width, options.height, AV_PIX_FMT_BGR0, options.width, options.height,
                            AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler) {
      *why = "no colour converter for the pictures";
      return 0;
    }
    const int* hd = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler, hd, 1, hd, 0, 0, 1 << 16, 1 << 16);
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = options.width;
    picture->height = options.height;
    if (av_frame_get_buffer(picture, 0) < 0) {
      *why = "out of memory";
      return 0;
    }
    return 1;
  }

  int OpenAudio(std::string* why) {
    std::string failure;
    if (!music.Open(options.music.c_str(), &failure)) {
      *why = options.music + ": " + failure;
      return 0;
    }
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac) {
      *why = "this FFmpeg has no AAC encoder";
      return 0;
    }
    const int* rate = std::find(std::begin(kAacRates), std::end(kAacRates), music.SourceRate());
    const int sampleRate = rate != std::end(kAacRates) ? *rate : 48000;
    const int channels = std::min(music.SourceChannels(), 2);
    audio = avcodec_alloc_context3(aac);
    audioStream = avformat_new_stream(muxer, nullptr);
    sound = av_frame_alloc();
    if (!audio || !audioStream || !sound) {
      *why = "out of memory";
      return 0;
    }
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = sampleRate;
    av_channel_layout_default(&audio->ch_layout, channels);
    audio->bit_rate = int64_t(kAacBitsPerChannel) * channels;
    audio->time_base = AVRational{1, sampleRate};
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER) audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(audio, aac, nullptr);
    if (r >= 0) r = avcodec_parameters_from_context(audioStream->codecpar, audio);
    if (r < 0) {
      *why = "the AAC encoder cannot be opened (" + qev::av::ErrorText(r) + ")";
      return 0;
    }
    audioStream->time_base = audio->time_base;
    if (!music.Start(sampleRate, channels, options.musicStart, &failure)) {
      *why = options.music + ": " + failure;
      return 0;
    }
    soundFrame = audio->frame_size > 0 ? audio->frame_size : 1024;
    sound->format = AV_SAMPLE_FMT_FLTP;
    sound->sample_rate = sampleRate;
    sound->nb_samples = soundFrame;
    av_channel_layout_default(&sound->ch_layout, channels);
    if (av_frame_get_buffer(sound, 0) < 0) {
      *why = "out of memory";
      return 0;
    }
    totalSamples = options.frames * sampleRate / options.fps;
    return 1;
  }
};

CVideoFile::CVideoFile(VideoContainer container) : m_container(container) {}

CVideoFile::~CVideoFile() { Abandon(); }

int CVideoFile::Fail(const std::string& why) {
  m->file.Fail(why);  // a failed write has said why first, and stays the reason
  m->file.Commit();   // logs the reason, removes the temporary file
  m_reason = m->file.Reason();
  m.reset();
  return 0;
}

namespace {

bool EvenSides(const VideoOptions& o) {
  return o.width >= 2 && o.height >= 2 && o.width % 2 == 0 && o.height % 2 == 0;
}

}  // namespace

int CVideoFile::Open(const std::string& path, const VideoOptions& options) {
  qev::av::RouteLog();
  m = std::make_unique<Impl>();
  m->options = options;
  m_reason.clear();
  if (options.fps <= 0 || options.frames < 0 || !EvenSides(options)) {
    m_reason = options.fps <= 0 || options.frames < 0
                   ? "no frame rate"
                   : "an H.264 picture needs even sides, not " + std::to_string(options.width) + "x" +
                         std::to_string(options.height);
    DebugPrintf("video file %s not written: %s\n", qev::Utf8ToCp932(path).c_str(), m_reason.c_str());
    m.reset();
    return 0;
  }
  if (!m->file.Open(path.c_str())) {
    m_reason = m->file.Reason();
    m.reset();
    return 0;
  }
  std::string why;
  avformat_alloc_output_context2(&m->muxer, nullptr, m_container == VideoContainer::kMp4 ? "mp4" : "matroska",
                                 nullptr);
  if (uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize))) {
    m->io = avio_alloc_context(buffer, kIoBufferSize, 1, m.get(), nullptr, &Impl::WritePacket,
                               m->file.Seekable() ? &Impl::Seek : nullptr);
    if (!m->io) av_free(buffer);
  }
  if (!m->muxer || !m->io) {
    why = "out of memory";
    return Fail(why);
  }
  m->muxer->pb = m->io;
  m->muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
  m->packet = av_packet_alloc();
  if (!m->packet) {
    why = "out of memory";
    return Fail(why);
  }
  if (!m->OpenVideo(&why)) return Fail(why);
  if (!options.music.empty() && !m->OpenAudio(&why)) return Fail(why);
  // A stream that cannot go back to write its index first gets one in
  // every fragment instead.
  AVDictionary* settings = nullptr;
  if (!m->file.Seekable() && m_container == VideoContainer::kMp4)
    av_dict_set(&settings, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
  const int r = avformat_write_header(m->muxer, &settings);
  av_dict_free(&settings);
  if (r < 0) {
    why = "the file cannot be started (" + qev::av::ErrorText(r) + ")";
    return Fail(why);
  }
  return 1;
}

int CVideoFile::Add(std::vector<uint32_t>& pixels) {
  if (!m) return 0;
  std::string why;
  const VideoOptions& o = m->options;
  if (pixels.size() != size_t(o.width) * size_t(o.height)) {
    why = "a picture of another size";
    return Fail(why);
  }
  if (av_frame_make_writable(m->picture) < 0) {
    why = "out of memory";
    return Fail(why);
  }
  const uint8_t* rows[1] = {reinterpret_cast<const uint8_t*>(pixels.data())};
  const int stride[1] = {o.width * 4};
  sws_scale(m->scaler, rows, stride, 0, o.height, m->picture->data, m->picture->linesize);
  m->picture->pts = m->pictures++;
  const int r = avcodec_send_frame(m->video, m->picture);
  if (r < 0) {
    why = "encoding failed (" + qev::av::ErrorText(r) + ")";
    return Fail(why);
  }
  if (!m->Drain(m->video, m->videoStream, &why)) return Fail(why);
  if (m->audio && !m->EncodeSoundUpTo(std::min(m->totalSamples, m->pictures * m->audio->sample_rate / o.fps), &why))
    return Fail(why);
  return 1;
}

int CVideoFile::Finish() {
  if (!m) {
    if (m_reason.empty()) m_reason = "not open";
    return 0;
  }
  std::string why;
  if (m->pictures != m->options.frames) {
    why = std::to_string(m->pictures) + " pictures of " + std::to_string(m->options.frames) + " came";
    return Fail(why);
  }
  int r = avcodec_send_frame(m->video, nullptr);
  if (r < 0 || !m->Drain(m->video, m->videoStream, &why)) {
    if (why.empty()) why = "encoding failed (" + qev::av::ErrorText(r) + ")";
    return Fail(why);
  }
  if (m->audio) {
    // The last frame of sound is as short as the span leaves it.
    if (!m->EncodeSoundUpTo(m->totalSamples, &why)) return Fail(why);
    if (m->samples < m->totalSamples && !m->EncodeSound(int(m->totalSamples - m->samples), &why)) return Fail(why);
    r = avcodec_send_frame(m->audio, nullptr);
    if (r < 0 || !m->Drain(m->audio, m->audioStream, &why)) {
      if (why.empty()) why = "sound encoding failed (" + qev::av::ErrorText(r) + ")";
      return Fail(why);
    }
  }
  r = av_write_trailer(m->muxer);
  if (r >= 0) {
    avio_flush(m->io);
    r = m->io->error;
  }
  if (r < 0) {
    why = "the file cannot be completed (" + qev::av::ErrorText(r) + ")";
    return Fail(why);
  }
  const int written = m->file.Commit();
  m_reason = written ? std::string() : m->file.Reason();
  m.reset();
  return written;
}

void CVideoFile::Abandon() {
  if (!m) return;
  m->file.Abandon();
  m.reset();
}
