// Writing the per-piece files of a piece store as Stop writes them, for split and
// capture alike.
#pragma once

#include <iostream>
#include <string>

#include "mc303/PieceStore.h"

namespace cli {

// True when at least one user slot holds both its pattern data and its settings.
bool AnyCompleteSlot(const mc303::PieceStore& store);

// For every complete slot, BASE_UNNP.SYX then BASE_UNNS.SYX (base already passed through
// the piece extension rule). Prints each written path to out, problems to err. Returns
// the exit status: 0, or 2 when a file could not be written.
int WritePieceFiles(const mc303::PieceStore& store, const std::string& base, std::ostream& out, std::ostream& err);

}  // namespace cli
