// The bounds of a record file, checked as its bytes stream in and before any
// of it is built into values: a record from anywhere (a mail, a share, an
// edit) costs the report a few megabytes to refuse, however it was made to
// hurt. nlohmann-json's SAX interface sees every value as the parser meets
// it, so a list too long is refused at its first item too many.
#pragma once

#include <stddef.h>

#include <functional>
#include <string>

namespace vpop {

// Fills `buffer` with up to `size` of the record's next bytes; 0 at the end.
using ReadBytes = std::function<size_t(char* buffer, size_t size)>;

// The record's text, with every byte that starts no valid UTF-8 sequence as
// U+FFFD, once all of it is known to be JSON within a record's bounds: no
// list or object of more than 4,096 items, nothing nested more than 32
// deep, no field named twice in one object, at most 64 MiB of text and a
// parsed size within a budget far above any run's. False, with `error`
// saying what is wrong in words a technician can act on (not naming the
// file), at the first byte that breaks a bound.
bool boundedRecordText(const ReadBytes& read, std::string* text, std::string* error);

} // namespace vpop
