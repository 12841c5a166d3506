// The kinds of media file a clip is made from, as the file dialogs of "Add Clip", "Replace
// Clip" and "Another File..." offer them: the files the movie toolbox opens itself. This is the
// one list of them; a reader of further containers adds its kinds here.
#pragma once

#include <string>
#include <vector>

namespace zef::app {

struct ClipFileKind {
    const char* name;                    // "MPEG-4", ...
    std::vector<const char*> extensions; // without the dot, lower case
};

const std::vector<ClipFileKind>& clipFileKinds();

// The filter of the file dialogs: a name and the patterns of every kind ("*.mov *.qt ...").
inline constexpr const char* kClipFilterText = "Media Files";
std::string clipFilePatterns();

} // namespace zef::app
