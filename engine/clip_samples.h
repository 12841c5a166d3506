// The two private sample formats that carry clips read through the media graph into a movie:
// clip frames ('ZEFx') and clip audio packets ('DxSn'). Their samples hold no media, only the
// timeline time that is wanted and a reference to the clip; the decoders of these formats
// call back into the editor with both, and the editor fetches the material from the clip's
// media-graph readers.
//
// Clip frame description, kClipFrameDescriptionSize bytes: an image description of the
// toolbox (its 86 bytes in the stored big-endian layout, so that the toolbox finds the
// decoder by its compression type: 'ZEFx', vendor 'krvI', qualities 512, width and height of
// the clip, 72 dpi, data size 8 × frames, frame count, empty name, depth 32, colour table -1;
// its size field says 86), followed at offset 86 by the item reference: the address of the
// clip's ZEFSourceItem as a 64-bit value in processor byte order (a 32-bit field would cut
// the address).
//
// Clip frame sample, 8 bytes: the frame's timeline time in ticks, signed 64-bit, processor
// byte order (as the audio packets below).
//
// Clip audio description: a version-1 sound description of the toolbox (descriptions.h, the
// layout the sound mixer hands to decompressors): 'DxSn', data reference index 1, 2 channels,
// 16 bits, 44100 Hz, 1 sample per packet, 36 bytes per packet and per frame, 2 per sample.
//
// Clip audio packet, 36 bytes, one per 20 ticks: magic 0xBADE (32-bit), time in ticks (32-bit:
// span start + 600 × (packet index / 30), so the 30 packets of a second carry one time),
// sample rate 44100, packets per second 30, the item reference (64-bit), 12 unused bytes.
//
// The references are meaningful only inside the running editor; movies that carry these
// samples are never written out as they are.
#pragma once

#include "platform/movies/descriptions.h"
#include "platform/movies/handle.h"
#include "platform/movies/movie.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zef {

class ZEFSourceItem;

constexpr movies::OSType kClipFrameCodec = movies::fourcc("ZEFx");
constexpr movies::OSType kClipAudioCodec = movies::fourcc("DxSn");
constexpr movies::OSType kClipCodecVendor = movies::fourcc("krvI");

constexpr size_t kClipItemReferenceOffset = 86;
constexpr size_t kClipFrameDescriptionSize = kClipItemReferenceOffset + 8;
constexpr size_t kClipFrameSampleSize = 8;

constexpr size_t kClipAudioPacketSize = 36;
constexpr size_t kClipAudioReferenceOffset = 16;
constexpr uint32_t kClipAudioMagic = 0xBADE;
constexpr uint32_t kClipAudioRate = 44100;
constexpr uint32_t kClipAudioPacketsPerSecond = 30;
constexpr movies::TimeValue kClipAudioPacketTicks = 20;

// The most samples of either kind one clip is given (bounds the memory a span can take).
constexpr int64_t kMaxClipSamples = int64_t(1) << 24;

// The length of one clip frame in ticks: 600 / the clip's whole frame rate, at least 1. The
// whole rate is the clip's rate rounded as edit rates are ((16.16 rate + 0x1111) >> 16, so
// 29.97 gives 30); a clip without a rate of its own follows the edit rate (16.16).
movies::TimeValue clipFrameTicks(int32_t rateNum, int32_t rateDen, movies::Fixed editRate);

// The clip frame description for frameCount frames of a width × height clip. The 16-bit
// frame count field is held at 32,767 when there are more frames.
movies::Handle clipFrameDescription(int16_t width, int16_t height, int64_t frameCount,
                                    const ZEFSourceItem& item);
// The timeline ticks at which the pictures beginning at the given source times (units of
// 100 ns, the one shown at the span's start first) are first shown, inside [spanStart,
// spanEnd): the first is spanStart, each later one the first tick at or after its picture's
// start; pictures that fall on a tick already taken are left out.
std::vector<movies::TimeValue> clipFrameTicksOf(const ZEFSourceItem& item,
                                                const std::vector<int64_t>& sourceStarts,
                                                movies::TimeValue spanStart,
                                                movies::TimeValue spanEnd);
// The frame samples of count frames of frameTicks each from spanStart.
std::vector<uint8_t> clipFrameSamples(movies::TimeValue spanStart, movies::TimeValue frameTicks,
                                      int64_t count);

movies::SoundDescription clipAudioDescription();
// The packets of count × 20 ticks from spanStart; empty when a packet time would not fit
// its 32-bit field (spanStart negative or too late).
std::vector<uint8_t> clipAudioPackets(movies::TimeValue spanStart, int64_t count,
                                      const ZEFSourceItem& item);

// Appends the frame samples of the clip for [spanStart, spanStart + span) to the video
// track's media and places them so that each plays at the time it carries. When the clip's
// media tells where its pictures begin (ClipMedia::frameStarts), there is one sample per
// picture shown in the span, starting at the first timeline tick that shows it (the first
// sample at spanStart), so that the picture at any time is the one the file shows then, also
// in files of variable frame rate. Otherwise the frames follow the clip's whole frame rate:
// span / frame length samples of one frame length. Nothing is added when there is no frame.
// Throws movies::OutOfMemory for more than kMaxClipSamples frames; other failures are
// returned.
movies::OSErr addClipFrames(movies::Track& video, const ZEFSourceItem& item,
                            movies::TimeValue spanStart, movies::TimeValue span,
                            movies::Fixed editRate);
// Appends one audio packet per 20 ticks of the span to the sound track's media (samples of
// 20 ticks, not sync) and places them at the span's start. paramErr when the packet times do
// not fit their field; throws movies::OutOfMemory for more than kMaxClipSamples packets.
movies::OSErr addClipAudio(movies::Track& sound, const ZEFSourceItem& item,
                           movies::TimeValue spanStart, movies::TimeValue span);

} // namespace zef
