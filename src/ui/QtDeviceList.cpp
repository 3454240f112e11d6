#include "ui/QtDeviceList.h"

namespace ui {

QtDeviceList::QtDeviceList(QComboBox& combo) : combo_(combo) {
  QObject::connect(&combo_, &QComboBox::activated, &combo_, [this](int position) {
    index_ = position;
    if (OnChosen) OnChosen();
  });
}

void QtDeviceList::Clear() {
  combo_.clear();
  index_ = -1;
}

void QtDeviceList::AddItem(const std::string& name) {
  combo_.addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

std::string QtDeviceList::Item(int position) const {
  if (position < 0 || position >= combo_.count()) return {};
  const QByteArray utf8 = combo_.itemText(position).toUtf8();
  return {utf8.constData(), static_cast<std::size_t>(utf8.size())};
}

void QtDeviceList::SetListIndex(int position) {
  index_ = position;
  combo_.setCurrentIndex(position >= 0 && position < combo_.count() ? position : -1);
}

}  // namespace ui
