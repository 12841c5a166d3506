// The colour converter: takes a decoder's YUV pictures and gives RGB32, RGB24, RGB565 or
// RGB555 (the first that the downstream input takes), stored bottom-up, at the same size.
// The graph inserts it where a renderer does not take the decoder's type.
#pragma once

#include "platform/graph/filter.h"

#include <memory>

namespace zef::graph {

class ColourConverterFilter : public Filter {
public:
    ColourConverterFilter();
    ~ColourConverterFilter() override;

    Guid classId() const override;
    std::vector<Pin*> pins() override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace zef::graph
