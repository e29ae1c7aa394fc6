// The operator's side of `vprinter serve`: lines typed on standard input
// become front-panel changes, and the panel line shows the printer's state
// as it changes.
#pragma once

#include <stdint.h>

#include <string>

#include "vprinter/device.h"
#include "vprinter/output.h"

namespace vprinter {

class Console {
public:
    // readInput: take commands from standard input; showPanel: print the
    // panel line on the output.
    Console(Device& device, Output& output, bool readInput, bool showPanel);

    // The descriptor to poll for input, or -1 when there is none to read.
    int inputFd() const { return readInput_ && !quit_ ? 0 : -1; }
    // Reads and carries out what was typed. At the end of standard input
    // the console closes, saying so, and the printer serves on.
    void readInput();
    // "quit" was typed.
    bool quit() const { return quit_; }
    // True once after a typed line (which may have changed the state).
    bool takeStateChange();

    // Shows the panel line if it changed; while only the byte count moves it
    // is shown at most once a second, unless forced.
    void showPanel(uint64_t now, bool force);
    // When showPanel should next run, if the line is waiting to be shown.
    uint64_t nextRefresh(uint64_t now) const;

private:
    Device& device_;
    Output& output_;
    bool readInput_;
    bool showPanel_;
    bool quit_ = false;
    bool stateChanged_ = false;
    std::string typed_;
    std::string panelShown_;
    std::string panelSignature_;
    uint64_t panelShownAt_ = 0;
};

} // namespace vprinter
