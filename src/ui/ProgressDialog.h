// ProgressDialog: the progress window of a file-list reload ("Loading...") or a transmit
// ("Sending..."): a label that blinks every 500 ms, and a close box that asks whether
// to abort. The question does not block: the bytes of a Send keep going while it is
// open. A Send adds a bar of the bytes handed over and the time left, and says when it
// finishes a part before it stops; the close box then asks whether to stop at once.
// QtProgressWindow is the ProgressWindow role the core drives it through. The window
// belongs to the main window, so the window manager keeps it above it.
#pragma once

#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mc303/SharedFlags.h"
#include "roles/Dialogs.h"
#include "roles/ProgressWindow.h"

class QLabel;
class QProgressBar;

namespace ui {

inline constexpr const char* kSplashCaption = "             Operation in Progress";
inline constexpr const char* kSplashFirstLabel = "Please Wait...";
inline constexpr const char* kAbortQuestion = "Do you want to abort?";
inline constexpr const char* kQuestionTitle = "Question";
// Asked once a Send finishes its part; "U10 pattern" goes in between.
inline constexpr const char* kStopAtOnceQuestion[2] = {"Stop at once? ",
                                                       " would be left incomplete on the MC-303."};

class ProgressDialog final : public QWidget {
 public:
  ProgressDialog(roles::Dialogs& dialogs, mc303::SharedFlags& flags, QWidget* parent = nullptr);

  void Timer1Tick();
  void SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft);
  void SetFinishing(const std::string& part);
  // Back to a window with nothing to show and nothing asked, as it is hidden.
  void ClearProgress();

  QLabel* captionLabel;
  QProgressBar* progressBar;
  QLabel* timeLeftLabel;
  QTimer Timer1;
  std::string SavedCaption;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  roles::Dialogs& dialogs_;
  mc303::SharedFlags& flags_;
  std::string finishing_;  // the part a Send finishes before it stops
  std::unique_ptr<roles::OpenQuestion> question_;
};

// Creates the window on first use and hides it between uses.
class QtProgressWindow final : public roles::ProgressWindow {
 public:
  QtProgressWindow(roles::Dialogs& dialogs, mc303::SharedFlags& flags) : dialogs_(dialogs), flags_(flags) {}
  ~QtProgressWindow() override;

  // The window belongs to owner and opens where clearOfControls() says, on the screen:
  // a place in the owner where it hides none of the controls that stay usable.
  void SetOwner(QWidget* owner, std::function<QRect()> clearOfControls = {}) {
    owner_ = owner;
    clearOfControls_ = std::move(clearOfControls);
  }

  void SetCaption(const std::string& caption) override;
  void Show() override;
  void Hide() override;
  void SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft) override;
  void SetFinishing(const std::string& part) override;

  // The window as it stands, or null before first use.
  ProgressDialog* Window() { return window_.data(); }

 private:
  ProgressDialog& Use();

  roles::Dialogs& dialogs_;
  mc303::SharedFlags& flags_;
  QWidget* owner_ = nullptr;
  std::function<QRect()> clearOfControls_;
  // The owner takes its windows with it when it goes first.
  QPointer<ProgressDialog> window_;
};

}  // namespace ui
