// A device drop-down list (inputList, outputList) on a QComboBox, as the device selection sees
// it. Only the user's choice of an entry runs the selection handler; positions set by
// code do not, since the selection logic runs itself after setting one.
#pragma once

#include <QComboBox>
#include <functional>
#include <string>

#include "midi/DeviceSession.h"

namespace ui {

class QtDeviceList final : public midi::DeviceList {
 public:
  explicit QtDeviceList(QComboBox& combo);

  void Clear() override;
  void AddItem(const std::string& name) override;
  int ListCount() const override { return combo_.count(); }
  std::string Item(int position) const override;
  int ListIndex() const override { return index_; }
  void SetListIndex(int position) override;

  // The user chose an entry (the same one again counts too).
  std::function<void()> OnChosen;

 private:
  QComboBox& combo_;
  int index_ = -1;  // as last set, even when it names no entry
};

}  // namespace ui
