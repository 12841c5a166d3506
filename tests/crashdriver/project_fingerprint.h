// A short text that tells project states apart: a hash of the five track records (items,
// keyframes, enabled flags), which survive a save and an open unchanged.
#pragma once

#include "model/device.h"
#include "model/project.h"
#include "platform/storage/stream.h"

#include <cstdio>
#include <string>

namespace zef::test {

inline std::string projectFingerprint(const FProject& project)
{
    storage::MemoryStream s;
    storage::StreamWriter w(s);
    for (int32_t track = 0; track < 5; ++track)
        project.device(track).save(w);
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : s.bytes()) {
        h ^= b;
        h *= 1099511628211ull;
    }
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", (unsigned long long)h);
    return text;
}

} // namespace zef::test
