// Writing the per-piece files of a piece store as Stop writes them, for split and
// capture alike: all of them or none.
#pragma once

#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/FeedFiles.h"
#include "mc303/PieceStore.h"

namespace cli {

// True when at least one user slot holds both its pattern data and its settings.
bool AnyCompleteSlot(const mc303::PieceStore& store);

// The piece files WritePieceFiles writes for the store, in order; with every slot,
// every name a capture may come to write.
std::vector<std::string> PieceFilePaths(const mc303::PieceStore* store, const std::string& base);

// Says, and returns true, when a piece file is the same file as one of `others` (named
// as `othersAre`, "the input ") or as another of the piece files: writing it would
// replace what the run reads or writes besides, so nothing may be written.
bool PieceFilesClash(const std::vector<std::string>& pieces, const std::vector<std::string>& others,
                     const std::string& othersAre, Console& console);

// For every complete slot of the store, BASE_UNNP.SYX then BASE_UNNS.SYX (base already
// passed through the piece extension rule), holding the bytes the tally kept. Every file is written beside its target first; only when
// all are complete do they take their places, so a full disk or a refused name leaves
// every target as it was. The first problem is said through the console and ends the
// save. Returns the paths written, or nothing on failure.
std::optional<std::vector<std::string>> WritePieceFiles(const mc303::PieceStore& store, const PieceTally& pieces,
                                                        const std::string& base, Console& console);

// Asks before a capture whether its piece files could be written under base, so that a
// recording is not made for nothing; says why not through the console.
bool CanWritePieceFiles(const std::string& base, Console& console);

}  // namespace cli
