// Reading and writing the one-stream compound files of projects and templates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zef {

enum class CompoundRead { Ok, CannotOpenFile, StreamMissing };

// Reads the whole named stream of the compound file at path.
CompoundRead readCompoundStream(const std::string& path, const std::string& streamName,
                                std::vector<uint8_t>& out);

// Writes a new compound file holding one stream with the given bytes. The file is written
// beside the target under a temporary name, flushed to disk and then renamed over the
// target, so a failure or a crash never leaves a half-written file in place of the old one.
// Returns 0 or an errno-style code.
int writeCompoundStreamAtomically(const std::string& path, const std::string& streamName,
                                  const std::vector<uint8_t>& bytes);

} // namespace zef
