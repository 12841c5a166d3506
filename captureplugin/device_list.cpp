#include "captureplugin/device_list.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace zef::captureplugin {

namespace {

// Without a running sound server the PulseAudio client would try to start one; the listing
// asks only a server that is there (named by PULSE_SERVER or at its usual socket).
bool pulseServerPresent()
{
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    struct stat st {};
    return stat((std::string(runtime) + "/pulse/native").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

void addSources(const char* format, Backend backend, std::vector<Device>& out)
{
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });
    const AVInputFormat* input = av_find_input_format(format);
    if (!input) return;
    AVDeviceInfoList* list = nullptr;
    if (avdevice_list_input_sources(input, nullptr, nullptr, &list) >= 0 && list) {
        for (int i = 0; i < list->nb_devices; ++i) {
            const AVDeviceInfo* info = list->devices[i];
            if (!info || !info->device_name || !*info->device_name) continue;
            Device d;
            d.backend = backend;
            d.id = info->device_name;
            d.name = displayName(backend, info->device_description ? info->device_description : "",
                                 d.id);
            d.isDefault = i == list->default_device;
            out.push_back(std::move(d));
        }
    }
    avdevice_free_list_devices(&list);
}

// Lists one backend in a thread of its own and waits at most kListingTimeout for it: a sound
// server that accepts the connection and never answers would otherwise hold the editor for
// the client library's half-minute time-out, a driver that blocks in open for longer. A listing
// that overruns is left to finish alone, and that backend contributes nothing until it has.
std::vector<Device> listBackend(const char* format, Backend backend)
{
    constexpr auto kListingTimeout = std::chrono::seconds(2);
    static std::mutex mutex;
    static std::map<Backend, std::shared_future<std::vector<Device>>> overrunning;

    std::lock_guard lock(mutex);
    if (auto it = overrunning.find(backend); it != overrunning.end()) {
        if (it->second.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return {};
        overrunning.erase(it);
    }
    std::packaged_task<std::vector<Device>()> task([format, backend] {
        std::vector<Device> out;
        addSources(format, backend, out);
        return out;
    });
    std::shared_future<std::vector<Device>> result = task.get_future().share();
    std::thread(std::move(task)).detach();
    if (result.wait_for(kListingTimeout) == std::future_status::ready) return result.get();
    overrunning[backend] = result;
    return {};
}

} // namespace

std::string displayName(Backend backend, const std::string& description, const std::string& id)
{
    std::string text;
    bool pendingBreak = false;
    for (char c : description) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            pendingBreak = !text.empty();
            continue;
        }
        if (pendingBreak) text += ", ";
        pendingBreak = false;
        text += c;
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(text.begin());
    if (text.empty()) return id;
    switch (backend) {
    case Backend::V4L2:
    case Backend::Alsa:
        return text + " (" + (backend == Backend::Alsa ? "ALSA " : "") + id + ")";
    case Backend::Pulse:
        return text + " (PulseAudio)";
    case Backend::Synthetic:
        break;
    }
    return text;
}

std::vector<Device> listDevices(MediaKind kind)
{
    std::vector<Device> real;
    auto add = [&real](std::vector<Device> devices) {
        real.insert(real.end(), devices.begin(), devices.end());
    };
    if (kind == MediaKind::Video) {
        add(listBackend("video4linux2", Backend::V4L2));
    } else {
        if (pulseServerPresent()) add(listBackend("pulse", Backend::Pulse));
        add(listBackend("alsa", Backend::Alsa));
    }

    Device synthetic;
    synthetic.backend = Backend::Synthetic;
    synthetic.id = kind == MediaKind::Video ? kTestPatternId : kTestToneId;
    synthetic.name = kind == MediaKind::Video ? kTestPatternName : kTestToneName;

    // Names are what the editor selects by, so they are made unique; the synthetic device's
    // name is never taken by a real one.
    std::set<std::string> taken{synthetic.name};
    std::vector<Device> devices;
    for (Device& d : real) {
        std::string name = d.name;
        for (int n = 2; taken.count(name); ++n)
            name = d.name + " #" + std::to_string(n);
        taken.insert(name);
        d.name = std::move(name);
        devices.push_back(std::move(d));
    }
    devices.push_back(std::move(synthetic));
    return devices;
}

size_t defaultDeviceIndex(const std::vector<Device>& devices)
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].isDefault) return i;
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].backend == Backend::V4L2) return i;
    return devices.empty() ? 0 : devices.size() - 1;
}

} // namespace zef::captureplugin
