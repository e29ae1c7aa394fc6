// devbench's prompts, each with the printer state it asks for: the automated
// operator sets that state to answer a prompt, and the printer's front page
// and the README show a person which controls it is. One table for both, so
// what a person is told and what the operator does cannot drift apart.
// Header only: the operator builds it on Windows too, where it links nothing
// else of the printer's.
#pragma once

#include <string_view>
#include <vector>

#include "runner/extended_texts.h"

namespace wire {

struct PromptRule {
    // Exactly as devbench prints it, without its newline.
    std::string_view text;
    // Printer control words (key=value), applied in this order.
    std::vector<std::string_view> settings;
    // False for the line that wants the printer changed while the test goes
    // on without reading any input.
    bool answerWithEnter;
    // What follows the change that a person needs to know; may be empty.
    std::string_view after = {};
};

// A printer ready to print: nothing in the slip or validation stations, any
// latched error cleared by the online button once its cause is gone.
inline const std::vector<std::string_view>& readySettings()
{
    static const std::vector<std::string_view> ready = { "power=on", "connected=yes", "cover=closed", "paper=in",
        "tof=out", "bof=out", "cof=out", "validation=out", "online=yes" };
    return ready;
}

inline const std::vector<PromptRule>& promptTable()
{
    auto ready = [](std::vector<std::string_view> more = {}) {
        std::vector<std::string_view> settings = readySettings();
        settings.insert(settings.end(), more.begin(), more.end());
        return settings;
    };
    static const std::vector<PromptRule> table = {
        { "Make the printer online, then hit enter", ready(), true },
        { "Make the printer online and hit enter", ready(), true },
        { "Make the printer online, then press enter", ready(), true },
        { "Make the printer online, then make it offline, then hit enter", ready({ "online=no" }), true },
        { "Make the printer offline, then hit enter", { "online=no" }, true },
        { "Make the printer offline (cover open + no paper), then hit enter", { "cover=open", "paper=out" }, true },
        { "Disconnect the printer and hit enter", { "connected=no" }, true },
        { "Connect the printer and hit enter", { "connected=yes" }, true },
        { "Connect the printer and make it offline (cover open + no paper), then hit enter",
            { "connected=yes", "cover=open", "paper=out" }, true },
        { "Turn the printer off, then press enter", { "power=off" }, true },
        { "Put paper in the BOF, then hit enter", { "bof=in" }, true },
        { "Take the paper out of the BOF, then hit enter", { "bof=out" }, true },
        { "Put paper in the TOF, then hit enter", { "tof=in" }, true },
        { "Take the paper out of the TOF, then hit enter", { "tof=out" }, true },
        { "Put the paper in the BOF and wait for it to be validated, then hit enter", { "bof=in" }, true,
            "devbench then sends the validation command, which moves the slip on to the COF sensor" },
        { "Take the paper out the slip, then hit enter", { "tof=out", "bof=out", "cof=out" }, true },
        { "Put paper in the COF and wait for the paper to be validated, then hit enter", { "validation=in" }, true },
        { "Take the paper out of the COF, then hit enter", { "validation=out" }, true },
        { "Make the printer offline (cover open), NOW", { "cover=open" }, false,
            "the test is already finishing its block and waits for no Enter" },
        // devbench-extended's own.
        { EXT_PROMPT_COVER_ONLY, ready({ "cover=open" }), true },
        { EXT_PROMPT_PAPER_ONLY, { "cover=closed", "paper=out" }, true },
        { EXT_PROMPT_COVER_BLINK, { "cover=open", "cover=closed" }, true,
            "a printer that latches the error stays offline until told otherwise" },
    };
    return table;
}

} // namespace wire
