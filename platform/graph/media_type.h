// Media types of the media graph: what flows over a connection between two pins.
//
// Video is either one of the RGB types that renderers take (RGB32, RGB24, RGB565, RGB555) or
// a YUV type as decoders give it, which needs a converter in front of an RGB renderer. RGB
// pictures follow the bitmap convention: rows are rounded up to a multiple of 4 bytes, and a
// positive height means the rows are stored bottom-up (the first row in memory is the
// picture's lowest). RGB32 pixels are 4 bytes blue, green, red, alpha; RGB24 3 bytes blue,
// green, red; RGB565 and RGB555 are 16-bit little-endian words (blue in the low bits).
//
// Audio is PCM: interleaved signed 16-bit samples in native byte order.
//
// Times are media time: units of 100 nanoseconds from the start of the file.
#pragma once

#include <cstdint>
#include <string>

namespace zef::graph {

constexpr int64_t kUnitsPerSecond = 10'000'000;

// timecode: the output of a device-control filter (a tape deck's timecode track).
enum class MajorType { none, video, audio, timecode };
enum class SubType { none, rgb32, rgb24, rgb565, rgb555, yuv, pcm };
enum class FormatType { none, videoInfo, waveFormatEx };

struct Rect32 {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const Rect32&, const Rect32&) = default;
};

struct BitmapInfoHeader {
    int32_t width = 0;
    int32_t height = 0; // > 0: bottom-up rows
    uint16_t bitCount = 0;
    uint32_t sizeImage = 0;
    friend bool operator==(const BitmapInfoHeader&, const BitmapInfoHeader&) = default;
};

struct VideoInfoHeader {
    Rect32 source;
    Rect32 target;
    int64_t avgTimePerFrame = 0; // media time units; 0 when unknown
    BitmapInfoHeader bmi;
    friend bool operator==(const VideoInfoHeader&, const VideoInfoHeader&) = default;
};

struct WaveFormatEx {
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t bitsPerSample = 0;
    uint16_t blockAlign = 0;
    uint32_t avgBytesPerSec = 0;
    friend bool operator==(const WaveFormatEx&, const WaveFormatEx&) = default;
};

struct MediaType {
    MajorType major = MajorType::none;
    SubType sub = SubType::none;
    FormatType format = FormatType::none;
    int32_t pixelFormat = -1; // the decoder's pixel format of a YUV type (FFmpeg's number)
    VideoInfoHeader video;    // with FormatType::videoInfo
    WaveFormatEx audio;       // with FormatType::waveFormatEx
    friend bool operator==(const MediaType&, const MediaType&) = default;
};

bool isRgb(SubType sub);
uint16_t bitsPerPixel(SubType sub); // 0 for types that are not RGB
// Bytes of one stored row: width × bits rounded up to 4 bytes.
int32_t rgbRowBytes(int32_t width, uint16_t bitCount);

// An RGB video type of width × height stored bottom-up.
MediaType rgbVideoType(SubType sub, int32_t width, int32_t height, int64_t avgTimePerFrame);
// A YUV video type of a decoder's pixel format.
MediaType yuvVideoType(int32_t pixelFormat, int32_t width, int32_t height, int64_t avgTimePerFrame);
// 16-bit PCM of the given channels and rate.
MediaType pcmAudioType(uint16_t channels, uint32_t samplesPerSecond);

std::string describe(const MediaType& type);

} // namespace zef::graph
