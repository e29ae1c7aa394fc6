// How the settings string names a behaviour of this library: a fault
// (fault=NAME[:N]) or a healthy variation (variation=NAME[:N]), each one
// entry of its own table, both read by applyNamed.
#pragma once

#include <stdint.h>

#include <string>

#include "wire/fault_option.h"

namespace standin {

template <typename Target> struct NamedEntry {
    const char* name;
    bool takesNumber;
    void (*apply)(Target&, uint32_t);
};

inline bool parseNumber(const std::string& text, uint32_t* value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = static_cast<uint32_t>(std::stoul(text));
    return true;
}

// Every entry of a table, as a person would write it.
template <typename Target, size_t N> std::string knownNames(const NamedEntry<Target> (&table)[N])
{
    std::string known;
    for (const NamedEntry<Target>& entry : table)
        known += std::string(known.empty() ? "" : ", ") + entry.name + (entry.takesNumber ? ":N" : "");
    return known;
}

// `kind` is "fault" or "variation", as the settings string names it.
template <typename Target, size_t N>
bool applyNamed(const NamedEntry<Target> (&table)[N], const std::string& kind, Target& target, const std::string& value,
    std::string* error)
{
    wire::FaultOption option = wire::splitFaultOption(value);
    for (const NamedEntry<Target>& entry : table) {
        if (option.name != entry.name) continue;
        uint32_t number = 0;
        // Every numbered entry counts or measures something: 0 would mean none.
        if (entry.takesNumber != option.hasNumber
            || (entry.takesNumber && (!parseNumber(option.number, &number) || number == 0))) {
            *error = entry.takesNumber
                ? kind + " " + option.name + " needs a number above 0: " + kind + "=" + option.name + ":N"
                : kind + " " + option.name + " takes no number";
            return false;
        }
        entry.apply(target, number);
        return true;
    }
    *error = "unknown " + kind + " '" + value + "' (known: " + knownNames(table) + ")";
    return false;
}

} // namespace standin
