// Putting opened clips into a test project at given times.
#pragma once

#include "model/edit_time.h"
#include "model/project.h"
#include "model/source_item.h"

#include <memory>
#include <string>

namespace zef::test {

// Opens the file as a clip on the track (with its defaults) and places it at [start, end)
// without the neighbour rules, so tests can lay out exact overlaps.
inline ZEFSourceItem* addClip(FProject& project, const std::string& path, int32_t track,
                              int64_t start, int64_t end)
{
    auto c = std::make_unique<ZEFSourceItem>(&project, track);
    c->setPath(path);
    c->open(true, false, false, false);
    ZEFSourceItem* p = c.get();
    project.addItem(std::move(c), false, false);
    p->assignStart(EditTime(start));
    p->assignEnd(EditTime(end));
    return p;
}

} // namespace zef::test
