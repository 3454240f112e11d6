// fSplash: the progress window of a file-list reload ("Loading...") or a transmit
// ("Sending..."): a label that blinks every 500 ms, and a close box that asks whether
// to abort. A Send adds a bar of the bytes handed over and the time left.
// QtProgressWindow is the ProgressWindow role the core drives it through.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
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

class fSplash final : public QWidget {
 public:
  fSplash(roles::Dialogs& dialogs, mc303::SharedFlags& flags, QWidget* parent = nullptr);

  void Timer1Tick();
  // True once the user's Yes to the abort question has closed the window.
  bool Closed() const { return closed_; }
  void SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft);
  void ClearProgress();

  QLabel* lSplash;
  QProgressBar* pbProgress;
  QLabel* lTimeLeft;
  QTimer Timer1;
  std::string SavedCaption;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  roles::Dialogs& dialogs_;
  mc303::SharedFlags& flags_;
  bool closed_ = false;
};

// Creates the window on first use, hides rather than closes it between uses, and
// creates it anew after the user closed it, with its first label and nothing saved.
class QtProgressWindow final : public roles::ProgressWindow {
 public:
  QtProgressWindow(roles::Dialogs& dialogs, mc303::SharedFlags& flags) : dialogs_(dialogs), flags_(flags) {}
  ~QtProgressWindow() override;

  // The window opens centred over this one.
  void SetOwner(const QWidget* owner) { owner_ = owner; }

  void SetCaption(const std::string& caption) override;
  void Show() override;
  void Hide() override;
  void SetProgress(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t secondsLeft) override;

  // The window as it stands, or null before first use.
  fSplash* Window() { return window_.get(); }

 private:
  fSplash& Use();

  roles::Dialogs& dialogs_;
  mc303::SharedFlags& flags_;
  const QWidget* owner_ = nullptr;
  std::unique_ptr<fSplash> window_;
};

}  // namespace ui
