// The plug-in's settings as one block of bytes (SaveSettings / RestoreSettings). The editor
// keeps the block between runs, so the layout of a version never changes:
//
//   offset  size
//        0     4  "ZCPS"
//        4     2  version, 1
//        6     2  flags, 0
//        8     4  size of the whole block in bytes
//       12        video device, then audio device: one byte 0 (none selected) or 1, followed
//                 by the backend (one byte, Backend), the id and the name (strings)
//                 frame rate: 8 bytes, an IEEE double (0 = unset)
//                 capture file path (string, may be empty)
//                 8 bytes: the disk space reserved for the capture file (0 = none)
//   size - 4     4  CRC-32 (the one of zip and PNG) of every byte before it
//
// Numbers are little-endian. A string is a 16-bit byte count (at most kMaxSettingsText)
// followed by that many bytes of UTF-8, without terminator and without zero bytes.
#pragma once

#include "captureplugin/device_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zef::captureplugin {

constexpr uint16_t kSettingsVersion = 1;
constexpr size_t kMaxSettingsText = 4096;
constexpr double kMaxFrameRate = 1000.0;

struct PluginSettings {
    std::optional<Device> video;
    std::optional<Device> audio;
    double frameRate = 0.0;
    std::string captureFile;
    uint64_t captureFileSize = 0;
};

// The block of settings whose texts are at most kMaxSettingsText bytes long.
std::vector<uint8_t> encodeSettings(const PluginSettings& settings);

// Reads a block. False, leaving out untouched, when the block is not exactly one valid block
// of this version: wrong size, signature, version or checksum, a value out of range.
bool decodeSettings(const uint8_t* block, size_t size, PluginSettings& out);

} // namespace zef::captureplugin
