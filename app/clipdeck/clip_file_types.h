// The kinds of media file a clip is made from, as the file dialogs of "Add Clip", "Replace
// Clip" and "Another File..." offer them: the files the movie toolbox opens itself, then the
// containers the media graph reads.
#pragma once

#include <string>
#include <vector>

namespace zef::app {

struct ClipFileKind {
    std::string name;                    // "MPEG-4", ...
    std::vector<std::string> extensions; // without the dot, lower case
};

const std::vector<ClipFileKind>& clipFileKinds();

// The filter of the file dialogs: a name and the patterns of every kind ("*.mov *.qt ...").
inline constexpr const char* kClipFilterText = "Media Files";
std::string clipFilePatterns();

} // namespace zef::app
