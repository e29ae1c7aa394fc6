// How a fault with a number is written, for the stand-in library's settings
// (fault=NAME:N) and the printer's options (--fault NAME:N) alike. NAME=N,
// which the printer once took, is read the same way.
#pragma once

#include <string>

namespace wire {

struct FaultOption {
    std::string name;
    bool hasNumber = false;
    std::string number;
};

inline FaultOption splitFaultOption(const std::string& text)
{
    FaultOption option;
    size_t mark = text.find_first_of(":=");
    option.name = text.substr(0, mark);
    option.hasNumber = mark != std::string::npos;
    if (option.hasNumber) option.number = text.substr(mark + 1);
    return option;
}

} // namespace wire
