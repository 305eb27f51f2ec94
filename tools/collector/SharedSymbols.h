// The collector's symbol files kept in its database, so that every collector process on it
// resolves frames with what any of them received.
#pragma once

#include "Store.h"
#include "SymbolStore.h"

#include <memory>
#include <string>

namespace collector {

std::shared_ptr<symbols::SymbolSource> storeSymbolSource(Store& store);

// Copies the symbol files an earlier collector kept in a directory beside its SQLite database
// into the store (those it does not hold yet); returns how many were copied.
int importSymbolDirectory(const std::string& dir, symbols::SymbolStore& into);

}  // namespace collector
