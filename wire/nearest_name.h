// What the rig's programs say of a word they do not know: an option or a
// command mistyped is called unknown, and the known one it is closest to is
// offered when it is close enough to be what was meant.
#pragma once

#include <string>
#include <vector>

namespace wire {

// The known name closest to `word` by edits (a letter added, dropped,
// changed, or two neighbours swapped), when few enough for a slip; empty
// when none is.
std::string nearestName(const std::string& word, const std::vector<std::string>& known);

// "unknown option --verbos (did you mean --verbose?)"; `kind` is "option",
// "command" or the like.
std::string unknownName(const std::string& kind, const std::string& word, const std::vector<std::string>& known);

} // namespace wire
