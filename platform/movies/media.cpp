#include "platform/movies/media.h"

#include "platform/movies/movie_file.h"

#include <algorithm>

namespace zef::movies {

Media::Media(OSType type, TimeScale timeScale)
    : m_type(type), m_timeScale(timeScale > 0 && timeScale <= kMaxTimeScale ? timeScale : 600)
{
}

OSErr Media::beginEdits()
{
    ++m_editDepth;
    return noErr;
}

OSErr Media::endEdits()
{
    if (m_editDepth == 0) return invalidMedia;
    --m_editDepth;
    return noErr;
}

Handle Media::sampleDescription(int32_t index) const
{
    if (index < 1 || index > sampleDescriptionCount()) return Handle();
    return m_descriptions[size_t(index - 1)];
}

std::optional<ImageDescription> Media::imageDescription(int32_t index) const
{
    const Handle h = sampleDescription(index);
    if (h.isNull()) return std::nullopt;
    return ImageDescription::fromHandle(h);
}

std::optional<SoundDescription> Media::soundDescription(int32_t index) const
{
    const Handle h = sampleDescription(index);
    if (h.isNull()) return std::nullopt;
    return SoundDescription::fromHandle(h);
}

OSErr Media::addSampleDescription(const Handle& description, int32_t* index)
{
    if (description.isNull()) return invalidSampleDescription;
    for (size_t k = 0; k < m_descriptions.size(); ++k) {
        if (m_descriptions[k] == description) {
            if (index) *index = int32_t(k + 1);
            return noErr;
        }
    }
    m_descriptions.push_back(description);
    if (index) *index = int32_t(m_descriptions.size());
    return noErr;
}

OSErr Media::setSampleDescription(int32_t index, const Handle& description)
{
    if (index < 1 || index > sampleDescriptionCount()) return invalidSampleDescIndex;
    if (description.isNull()) return invalidSampleDescription;
    m_descriptions[size_t(index - 1)] = description;
    return noErr;
}

int32_t Media::appendSampleDescription(const Handle& description)
{
    m_descriptions.push_back(description);
    return sampleDescriptionCount();
}

OSErr Media::resolveDescription(const Handle& description, int32_t* index)
{
    if (description.isNull()) {
        if (m_descriptions.empty()) return invalidSampleDescription;
        *index = sampleDescriptionCount();
        return noErr;
    }
    return addSampleDescription(description, index);
}

OSErr Media::checkAdd(TimeValue durationPerSample, int32_t count) const
{
    if (count < 1) return paramErr;
    if (durationPerSample <= 0) return invalidDuration;
    // Keep the total duration far from overflow (about 2^62).
    if (durationPerSample > (INT64_C(1) << 62) / count ||
        duration() > (INT64_C(1) << 62) - durationPerSample * count)
        return invalidDuration;
    return noErr;
}

void Media::push(Sample s)
{
    const TimeValue end = m_starts.back() + s.duration;
    m_samples.push_back(std::move(s));
    m_starts.push_back(end);
}

OSErr Media::addSample(std::span<const uint8_t> bytes, TimeValue durationPerSample, int32_t count,
                       const Handle& description, bool sync, TimeValue* sampleTime)
{
    if (OSErr err = checkAdd(durationPerSample, count)) return err;
    if (bytes.size() % size_t(count) != 0) return paramErr;
    if (m_storage) {
        int32_t descIndex = 0;
        int64_t offset = 0;
        // Checked before writing, so that a failure leaves nothing behind.
        if (description.isNull() && m_descriptions.empty()) return invalidSampleDescription;
        if (OSErr err = m_storage->append(bytes, &offset)) return err;
        if (OSErr err = resolveDescription(description, &descIndex)) return err;
        const int64_t each = int64_t(bytes.size() / size_t(count));
        if (sampleTime) *sampleTime = duration();
        SampleData data;
        data.kind = SampleData::Kind::Storage;
        data.storage = m_storage;
        data.offset = offset;
        pushEqualSamples(std::move(data), each, count, descIndex, durationPerSample, sync);
        return noErr;
    }
    auto block = std::make_shared<std::vector<uint8_t>>(bytes.begin(), bytes.end());
    return addSampleReference(std::move(block), 0, int64_t(bytes.size()), durationPerSample, count,
                              description, sync, sampleTime);
}

OSErr Media::addSampleReference(std::shared_ptr<const std::vector<uint8_t>> block, int64_t offset,
                                int64_t size, TimeValue durationPerSample, int32_t count,
                                const Handle& description, bool sync, TimeValue* sampleTime)
{
    if (OSErr err = checkAdd(durationPerSample, count)) return err;
    if (!block || offset < 0 || size < 0 || offset > int64_t(block->size()) ||
        size > int64_t(block->size()) - offset || size % count != 0)
        return paramErr;
    int32_t descIndex = 0;
    if (OSErr err = resolveDescription(description, &descIndex)) return err;
    const int64_t each = size / count;
    if (sampleTime) *sampleTime = duration();
    SampleData data;
    data.kind = SampleData::Kind::Memory;
    data.block = std::move(block);
    data.offset = offset;
    pushEqualSamples(std::move(data), each, count, descIndex, durationPerSample, sync);
    return noErr;
}

void Media::pushEqualSamples(SampleData data, int64_t each, int32_t count, int32_t descIndex,
                             TimeValue durationPerSample, bool sync)
{
    const int64_t first = data.offset;
    for (int32_t k = 0; k < count; ++k) {
        Sample s;
        s.data = data;
        s.data.offset = first + each * k;
        s.data.size = each;
        s.descriptionIndex = descIndex;
        s.duration = durationPerSample;
        s.sync = sync;
        push(std::move(s));
    }
}

OSErr Media::addFileSample(std::shared_ptr<MediaFile> file, std::string filePath, int32_t stream,
                           TimeValue fileTime, TimeValue duration, const Handle& description,
                           bool sync, TimeValue* sampleTime)
{
    if (OSErr err = checkAdd(duration, 1)) return err;
    if (stream < 0 || fileTime < 0) return paramErr;
    int32_t descIndex = 0;
    if (OSErr err = resolveDescription(description, &descIndex)) return err;
    Sample s;
    s.data.kind = SampleData::Kind::FileStream;
    s.data.file = std::move(file);
    s.data.filePath = std::move(filePath);
    s.data.stream = stream;
    s.data.fileTime = fileTime;
    s.descriptionIndex = descIndex;
    s.duration = duration;
    s.sync = sync;
    if (sampleTime) *sampleTime = this->duration();
    push(std::move(s));
    return noErr;
}

OSErr Media::appendSample(const Sample& sample)
{
    if (OSErr err = checkAdd(sample.duration, 1)) return err;
    if (sample.descriptionIndex < 1 || sample.descriptionIndex > sampleDescriptionCount())
        return invalidSampleDescIndex;
    push(sample);
    return noErr;
}

const Sample* Media::sample(int64_t index) const
{
    if (index < 0 || index >= sampleCount()) return nullptr;
    return &m_samples[size_t(index)];
}

TimeValue Media::sampleStart(int64_t index) const
{
    if (index < 0 || index >= sampleCount()) return -1;
    return m_starts[size_t(index)];
}

int64_t Media::sampleIndexAtTime(TimeValue mediaTime) const
{
    if (mediaTime < 0 || mediaTime >= duration()) return -1;
    // The last start that is <= mediaTime.
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), mediaTime);
    return int64_t(it - m_starts.begin()) - 1;
}

OSErr Media::getSampleData(int64_t index, std::vector<uint8_t>& out) const
{
    const Sample* s = sample(index);
    if (!s) return invalidSampleNum;
    switch (s->data.kind) {
    case SampleData::Kind::Memory:
        if (!s->data.block) return badDataRefIndex;
        out.assign(s->data.block->begin() + s->data.offset,
                   s->data.block->begin() + s->data.offset + s->data.size);
        return noErr;
    case SampleData::Kind::Storage:
        if (!s->data.storage) return badDataRefIndex;
        return s->data.storage->read(s->data.offset, s->data.size, out);
    case SampleData::Kind::FileStream:
        return featureUnsupported;
    }
    return badDataRefIndex;
}

void Media::setGraphicsMode(int32_t mode, const RGBColor& opColor)
{
    m_graphicsMode = mode;
    m_opColor = opColor;
}

void Media::setTextProperty(OSType property, std::span<const uint8_t> value)
{
    m_textProps[property].assign(value.begin(), value.end());
}

const std::vector<uint8_t>* Media::textProperty(OSType property) const
{
    auto it = m_textProps.find(property);
    return it == m_textProps.end() ? nullptr : &it->second;
}

} // namespace zef::movies
