// The library's entries: registration of its two classes and their class factories.
#include "renderfilter/quorrel_filters.h"

namespace zef::quorrel {
namespace {

using namespace graph;

template <class T> class Factory final : public ClassFactory {
public:
    std::shared_ptr<Filter> createInstance() override { return std::make_shared<T>(); }
};

Factory<VideoQuorrel> g_videoFactory;
Factory<AudioQuorrel> g_audioFactory;

FilterClass videoClass()
{
    FilterClass c;
    c.classId = kClassVideoQuorrel;
    c.name = kVideoQuorrelName;
    c.merit = kVideoQuorrelMerit;
    c.category = FilterCategory::renderer;
    // "Input": rendered, connects to any filter's "Output"; video of any subtype.
    c.pins = {{"Input", true, false, MajorType::video, SubType::none}};
    c.create = [] { return g_videoFactory.createInstance(); };
    return c;
}

FilterClass audioClass()
{
    FilterClass c;
    c.classId = kClassAudioQuorrel;
    c.name = kAudioQuorrelName;
    c.merit = kVideoQuorrelMerit;
    c.category = FilterCategory::renderer;
    c.pins = {{"Input", true, false, MajorType::audio, SubType::pcm}};
    c.create = [] { return g_audioFactory.createInstance(); };
    return c;
}

} // namespace
} // namespace zef::quorrel

using namespace zef::quorrel;
using zef::graph::FilterClassRegistry;

extern "C" {

__attribute__((visibility("default"))) HResult DllRegisterServer(FilterClassRegistry* registry)
{
    if (!registry) return zef::graph::kPointer;
    HResult r = registry->registerClass(videoClass());
    if (zef::graph::succeeded(r)) r = registry->registerClass(audioClass());
    return r;
}

__attribute__((visibility("default"))) HResult DllUnregisterServer(FilterClassRegistry* registry)
{
    if (!registry) return zef::graph::kPointer;
    registry->unregisterClass(kClassVideoQuorrel);
    registry->unregisterClass(kClassAudioQuorrel);
    return zef::graph::kOk;
}

__attribute__((visibility("default"))) HResult DllGetClassObject(const Guid* classId,
                                                                 const Guid* iid, void** factory)
{
    if (!classId || !iid || !factory) return zef::graph::kPointer;
    *factory = nullptr;
    if (*iid != kIIDClassFactory) return zef::graph::kNoInterface;
    if (*classId == kClassVideoQuorrel)
        *factory = static_cast<ClassFactory*>(&g_videoFactory);
    else if (*classId == kClassAudioQuorrel)
        *factory = static_cast<ClassFactory*>(&g_audioFactory);
    else
        return int32_t(0x80040111); // the class is not available
    return zef::graph::kOk;
}

__attribute__((visibility("default"))) HResult DllCanUnloadNow()
{
    return g_liveObjects.load() == 0 ? zef::graph::kOk : zef::graph::kFalse;
}
}
