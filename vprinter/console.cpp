#include "vprinter/console.h"

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>

#include "vprinter/panel.h"

namespace vprinter {

namespace {

// While data streams in, the panel line is refreshed at most this often.
const uint64_t PANEL_REFRESH_MS = 1000;
const size_t READ_SIZE = 4096;

} // namespace

Console::Console(Device& device, Output& output, bool readInput, bool showPanel)
    : device_(device)
    , output_(output)
    , readInput_(readInput)
    , showPanel_(showPanel)
{
}

bool Console::takeStateChange()
{
    bool changed = stateChanged_;
    stateChanged_ = false;
    return changed;
}

void Console::readInput()
{
    char buffer[READ_SIZE];
    ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) return;
    if (got <= 0) {
        // A script's `vprinter serve ... &` reads /dev/null: the printer
        // should serve it all the same.
        fprintf(stderr, "vprinter: the console's standard input has ended; serving on until SIGINT or SIGTERM\n");
        readInput_ = false;
        return;
    }
    typed_.append(buffer, static_cast<size_t>(got));
    size_t end;
    while (!quit_ && (end = typed_.find('\n')) != std::string::npos) {
        std::string line = typed_.substr(0, end);
        typed_.erase(0, end + 1);
        std::string text = consoleLine(device_, line, &quit_);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (!text.empty()) output_.line(text);
        stateChanged_ = true;
    }
    // A line without end that no longer fits is not a command anyone typed.
    if (typed_.size() > READ_SIZE) typed_.clear();
}

void Console::showPanel(uint64_t now, bool force)
{
    if (!showPanel_) return;
    std::string signature;
    for (const auto& [key, value] : describeState(device_)) {
        if (key != "bytes") signature += key + "=" + value + " ";
    }
    std::string line = stateLine(device_);
    if (line == panelShown_) return;
    if (!force && signature == panelSignature_ && now < panelShownAt_ + PANEL_REFRESH_MS) return;
    output_.line(line);
    panelShown_ = line;
    panelSignature_ = signature;
    panelShownAt_ = now;
}

uint64_t Console::nextRefresh(uint64_t now) const
{
    if (!showPanel_ || stateLine(device_) == panelShown_) return UINT64_MAX;
    return std::max(now, panelShownAt_ + PANEL_REFRESH_MS);
}

} // namespace vprinter
