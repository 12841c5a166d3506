#include "model/user_interface.h"

#include <cstdio>

namespace zef {

Answer HeadlessUserInterface::ask(const std::string& text, const std::string& title,
                                  Buttons buttons, Icon)
{
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    if (buttons == Buttons::Ok) return Answer::Ok;
    return m_default;
}

} // namespace zef
