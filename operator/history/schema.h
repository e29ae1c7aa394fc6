// The store's tables and indexes: one schema, the same in both engines.
#pragma once

#include <string>

#include "operator/history/connection.h"

namespace vpop::history {

// The store's layout; a store of a newer one is refused by name.
inline constexpr int storeSchema = 1;

// Makes the tables a new store lacks, once, however many benches open it
// at once; false with `error` for a store of another layout or one that
// cannot be written.
bool prepareStore(Connection& store, std::string* error);

} // namespace vpop::history
