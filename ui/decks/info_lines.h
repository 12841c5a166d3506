// The lines the Info Deck shows, without windows. Each line starts with two style letters and
// then its text, which may hold tab characters: the first letter is the colour (B blue, C
// cyan, F grey, G green, R red, Y amber), the second 'B' for the bold font and anything else
// for the normal one.
#pragma once

#include "capture/capture_plugin.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zef {
class FProject;
class ZEFEffectItem;
class ZEFSourceItem;
namespace movies {
class ComponentManager;
}
} // namespace zef

namespace zef::ui {

// A file size as the clip info shows it: kilobytes with two decimals, or megabytes above
// 1024 KB ("1.50 MB", "1024.00 KB").
std::string fileSizeText(uint64_t bytes);

// What the selected clip is made of: its file, times, picture and sound.
std::vector<std::string> clipInfoLines(const ZEFSourceItem& clip);
// What an effect or a title is, and where it lies.
std::vector<std::string> effectInfoLines(const ZEFEffectItem& effect);
// The project, its render range and its output. components: where the export component's name
// is looked up (the "Export module" line is left out without it, or when the component cannot
// be opened).
std::vector<std::string> projectInfoLines(const FProject& project,
                                          movies::ComponentManager* components);
// A capture's figures; the captured time is shown in frames of rateNum / rateDen.
std::vector<std::string> captureInfoLines(const CaptureStatistics& stats, int32_t rateNum,
                                          int32_t rateDen, bool capturing);

} // namespace zef::ui
