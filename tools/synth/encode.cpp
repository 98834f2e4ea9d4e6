// Vorbis quality 0.5 (about 160 kbit/s) keeps the square-wave edges clean
// enough that the decoded peaks stay close to the rendered ones.
#include "encode.hpp"

#include "render.hpp"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr float VORBIS_QUALITY = 0.5f;
constexpr int OGG_SERIAL = 0x4f524221;  // fixed, so that two runs write the same bytes
constexpr long OGG_FEED_FRAMES = 4096;

void put_u32(unsigned char *p, uint32_t v)
{
  for (int i = 0; i < 4; i++)
    p[i] = (unsigned char)(v >> (8 * i));
}

void put_u16(unsigned char *p, uint16_t v)
{
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
}

void write_all(FILE *f, const void *data, size_t size, const char *path)
{
  if (size && fwrite(data, 1, size, f) != size)
    synth_fatal("Unable to write %s\n", path);
}

FILE *open_out(const char *path)
{
  FILE *f = fopen(path, "wb");
  if (!f)
    synth_fatal("Unable to create %s\n", path);
  return f;
}

void close_out(FILE *f, const char *path)
{
  if (fclose(f) != 0)
    synth_fatal("Unable to write %s\n", path);
}

void write_pages(ogg_stream_state *os, FILE *f, const char *path, bool flush)
{
  ogg_page page;
  while (flush ? ogg_stream_flush(os, &page) : ogg_stream_pageout(os, &page)) {
    write_all(f, page.header, size_t(page.header_len), path);
    write_all(f, page.body, size_t(page.body_len), path);
  }
}

// libvorbis's encoder state; the parts point at each other, so a record
// is set up in place and never copied.
struct ogg_encoder_t {
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  ogg_stream_state os;
};

void encoder_init(ogg_encoder_t *enc, const char *path, const char *title)
{
  vorbis_info_init(&enc->vi);
  if (vorbis_encode_init_vbr(&enc->vi, SYNTH_CHANNELS, SYNTH_RATE, VORBIS_QUALITY) != 0)
    synth_fatal("Unable to set up the Vorbis encoder for %s\n", path);
  vorbis_comment_init(&enc->vc);
  vorbis_comment_add_tag(&enc->vc, "TITLE", title);
  vorbis_comment_add_tag(&enc->vc, "ARTIST", "Orb");
  vorbis_analysis_init(&enc->vd, &enc->vi);
  vorbis_block_init(&enc->vd, &enc->vb);
  ogg_stream_init(&enc->os, OGG_SERIAL);
}

void encoder_clear(ogg_encoder_t *enc)
{
  ogg_stream_clear(&enc->os);
  vorbis_block_clear(&enc->vb);
  vorbis_dsp_clear(&enc->vd);
  vorbis_comment_clear(&enc->vc);
  vorbis_info_clear(&enc->vi);
}

void write_headers(ogg_encoder_t *enc, FILE *f, const char *path)
{
  ogg_packet header, header_comment, header_code;
  vorbis_analysis_headerout(&enc->vd, &enc->vc, &header, &header_comment, &header_code);
  ogg_stream_packetin(&enc->os, &header);
  ogg_stream_packetin(&enc->os, &header_comment);
  ogg_stream_packetin(&enc->os, &header_code);
  // The headers go on pages of their own, so audio starts on a fresh page.
  write_pages(&enc->os, f, path, true);
}

// Hands n frames from frame at on to the encoder, split into its two
// channels; n = 0 tells it the stream is over.
void feed_frames(ogg_encoder_t *enc, const std::vector<float> &pcm, long at, long n)
{
  if (n > 0) {
    float **buffer = vorbis_analysis_buffer(&enc->vd, int(n));
    for (long i = 0; i < n; i++) {
      buffer[0][i] = pcm[size_t(2 * (at + i))];
      buffer[1][i] = pcm[size_t(2 * (at + i) + 1)];
    }
  }
  vorbis_analysis_wrote(&enc->vd, int(n > 0 ? n : 0));
}

// Encodes what the encoder holds and writes the pages that are full.
void write_blocks(ogg_encoder_t *enc, FILE *f, const char *path)
{
  ogg_packet packet;
  while (vorbis_analysis_blockout(&enc->vd, &enc->vb) == 1) {
    vorbis_analysis(&enc->vb, nullptr);
    vorbis_bitrate_addblock(&enc->vb);
    while (vorbis_bitrate_flushpacket(&enc->vd, &packet)) {
      ogg_stream_packetin(&enc->os, &packet);
      write_pages(&enc->os, f, path, false);
    }
  }
}

}  // namespace

void synth_write_wav(const char *path, const std::vector<float> &pcm)
{
  uint32_t data_bytes = uint32_t(pcm.size() * 2);
  unsigned char header[44];
  memcpy(header, "RIFF", 4);
  put_u32(header + 4, 36 + data_bytes);
  memcpy(header + 8, "WAVEfmt ", 8);
  put_u32(header + 16, 16);
  put_u16(header + 20, 1);  // PCM
  put_u16(header + 22, SYNTH_CHANNELS);
  put_u32(header + 24, SYNTH_RATE);
  put_u32(header + 28, SYNTH_RATE * SYNTH_CHANNELS * 2);
  put_u16(header + 32, SYNTH_CHANNELS * 2);
  put_u16(header + 34, 16);
  memcpy(header + 36, "data", 4);
  put_u32(header + 40, data_bytes);

  std::vector<unsigned char> body(data_bytes);
  for (size_t i = 0; i < pcm.size(); i++) {
    long v = std::lround(double(pcm[i]) * 32767.0);
    v = v > 32767 ? 32767 : v < -32768 ? -32768 : v;
    put_u16(&body[2 * i], uint16_t(int16_t(v)));
  }
  FILE *f = open_out(path);
  write_all(f, header, sizeof header, path);
  write_all(f, body.data(), body.size(), path);
  close_out(f, path);
}

void synth_write_ogg(const char *path, const std::vector<float> &pcm, const char *title)
{
  ogg_encoder_t enc;
  encoder_init(&enc, path, title);
  FILE *f = open_out(path);
  write_headers(&enc, f, path);

  long frames = long(pcm.size() / SYNTH_CHANNELS);
  for (long at = 0;; at += OGG_FEED_FRAMES) {
    long n = frames - at < OGG_FEED_FRAMES ? frames - at : OGG_FEED_FRAMES;
    feed_frames(&enc, pcm, at, n);
    write_blocks(&enc, f, path);
    if (n <= 0)
      break;
  }
  write_pages(&enc.os, f, path, true);
  close_out(f, path);
  encoder_clear(&enc);
}
