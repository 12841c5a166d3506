#include "platform/graph/media_type.h"
#include "platform/graph/guid.h"

#include <cstdio>

namespace zef::graph {

std::string Guid::text() const
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1,
                  data2, data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5],
                  data4[6], data4[7]);
    return buf;
}

bool isRgb(SubType sub) { return bitsPerPixel(sub) != 0; }

uint16_t bitsPerPixel(SubType sub)
{
    switch (sub) {
    case SubType::rgb32:
        return 32;
    case SubType::rgb24:
        return 24;
    case SubType::rgb565:
    case SubType::rgb555:
        return 16;
    default:
        return 0;
    }
}

int32_t rgbRowBytes(int32_t width, uint16_t bitCount)
{
    return int32_t(((int64_t(width) * bitCount + 31) / 32) * 4);
}

MediaType rgbVideoType(SubType sub, int32_t width, int32_t height, int64_t avgTimePerFrame)
{
    MediaType t;
    t.major = MajorType::video;
    t.sub = sub;
    t.format = FormatType::videoInfo;
    t.video.avgTimePerFrame = avgTimePerFrame;
    t.video.source = t.video.target = Rect32{0, 0, width, height};
    t.video.bmi.width = width;
    t.video.bmi.height = height;
    t.video.bmi.bitCount = bitsPerPixel(sub);
    t.video.bmi.sizeImage = uint32_t(int64_t(rgbRowBytes(width, t.video.bmi.bitCount)) * height);
    return t;
}

MediaType yuvVideoType(int32_t pixelFormat, int32_t width, int32_t height, int64_t avgTimePerFrame)
{
    MediaType t = rgbVideoType(SubType::yuv, width, height, avgTimePerFrame);
    t.pixelFormat = pixelFormat;
    t.video.bmi.bitCount = 0;
    t.video.bmi.sizeImage = 0;
    return t;
}

MediaType pcmAudioType(uint16_t channels, uint32_t samplesPerSecond)
{
    MediaType t;
    t.major = MajorType::audio;
    t.sub = SubType::pcm;
    t.format = FormatType::waveFormatEx;
    t.audio.channels = channels;
    t.audio.samplesPerSec = samplesPerSecond;
    t.audio.bitsPerSample = 16;
    t.audio.blockAlign = uint16_t(channels * 2);
    t.audio.avgBytesPerSec = samplesPerSecond * t.audio.blockAlign;
    return t;
}

std::string describe(const MediaType& t)
{
    static const char* subs[] = {"none", "RGB32", "RGB24", "RGB565", "RGB555", "YUV", "PCM"};
    char buf[96];
    if (t.major == MajorType::video)
        std::snprintf(buf, sizeof buf, "video %s %dx%d", subs[int(t.sub)], t.video.bmi.width,
                      t.video.bmi.height);
    else if (t.major == MajorType::audio)
        std::snprintf(buf, sizeof buf, "audio %s %u Hz %u ch", subs[int(t.sub)],
                      t.audio.samplesPerSec, t.audio.channels);
    else
        std::snprintf(buf, sizeof buf, "none");
    return buf;
}

} // namespace zef::graph
