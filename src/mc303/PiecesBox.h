// PiecesBox: the upkeep of the Pieces box, one line per user slot seen, the newest line
// of a slot replacing its older one. SysexIntake adds a line for each new piece.
#pragma once

#include <string>

#include "mc303/PieceStore.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"

namespace mc303 {

class PiecesBox {
 public:
  PiecesBox(roles::TextBox& piecesBox, roles::EventPump& pump) : piecesBox_(piecesBox), pump_(pump) {}
  void Clear() { piecesBox_.SetText(""); }
  // "U07", then " Missing Settings" or " Settings Only" while the slot's other piece is
  // missing.
  void Add(const PieceStore::Filing& filing);
  // Appends the line (with its line break) and removes any older line of its slot. It
  // pumps events at every character it reads, so that handlers may run in between and
  // change the box or reset the store under the caller.
  void AddLine(const std::string& line);

 private:
  // Removes the older line of the first slot found with two; false when none has.
  bool RemoveOlderLine();

  roles::TextBox& piecesBox_;
  roles::EventPump& pump_;
};

}  // namespace mc303
