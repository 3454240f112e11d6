// Dialogs for tests: every message box is recorded; answers to questions and file
// dialogs come from queues the test fills (an empty queue answers Cancel / cancels).
// A question that does not block (Ask) is recorded too and stays open until the test
// answers it with Answer, at the moment it chooses, or its asker withdraws it.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "roles/Dialogs.h"

struct ShownMessage {
  std::string text;
  roles::Buttons buttons;
  std::string title;
  roles::Icon icon;
};

struct ShownFileDialog {
  bool save;
  std::string title;
  std::string filter;
};

class ScriptedDialogs final : public roles::Dialogs {
 public:
  roles::Answer MessageBox(std::string_view text, roles::Buttons buttons, std::string_view title, roles::Icon icon) override {
    messages.push_back({std::string(text), buttons, std::string(title), icon});
    if (onMessage) onMessage(messages.back());
    if (buttons == roles::Buttons::Ok) return roles::Answer::Ok;
    if (answers.empty()) return roles::Answer::Cancel;
    const roles::Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<std::string> SaveFileDialog(std::string_view title, std::string_view filter) override {
    return NextPath(true, title, filter);
  }
  std::optional<std::string> OpenFileDialog(std::string_view title, std::string_view filter) override {
    return NextPath(false, title, filter);
  }

  std::unique_ptr<roles::OpenQuestion> Ask(std::string_view text, roles::Buttons buttons, std::string_view title,
                                           roles::Icon icon, std::function<void(roles::Answer)> onAnswer,
                                           void*) override {
    messages.push_back({std::string(text), buttons, std::string(title), icon});
    auto asked = std::make_unique<Asked>();
    asked->onAnswer = std::make_shared<std::function<void(roles::Answer)>>(std::move(onAnswer));
    open_.push_back(asked->onAnswer);
    if (onMessage) onMessage(messages.back());
    return asked;
  }
  // Answers the oldest question still open; false when none is.
  bool Answer(roles::Answer answer) {
    for (; !open_.empty(); open_.pop_front()) {
      if (const auto onAnswer = open_.front().lock()) {
        open_.pop_front();
        (*onAnswer)(answer);
        return true;
      }
    }
    return false;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : messages) t.push_back(m.text);
    return t;
  }

  std::vector<ShownMessage> messages;
  std::vector<ShownFileDialog> fileDialogs;
  std::deque<roles::Answer> answers;                  // for Yes/No/Cancel questions
  std::deque<std::optional<std::string>> paths;    // nullopt = the user cancels
  std::function<void(const ShownMessage&)> onMessage;

 private:
  // Withdrawn by its asker, a question goes with its call back.
  struct Asked final : roles::OpenQuestion {
    std::shared_ptr<std::function<void(roles::Answer)>> onAnswer;
  };
  std::deque<std::weak_ptr<std::function<void(roles::Answer)>>> open_;

  std::optional<std::string> NextPath(bool save, std::string_view title, std::string_view filter) {
    fileDialogs.push_back({save, std::string(title), std::string(filter)});
    if (paths.empty()) return std::nullopt;
    auto p = paths.front();
    paths.pop_front();
    return p;
  }
};
