#pragma once
// Pre-answered modal dialogs for Qt tests. Answers are queued in the order the dialogs are
// expected; while a modal widget is on screen (a QDialog's exec(), a static QMessageBox)
// the next answer runs with it. A dialog still open after its answer, or one that shows
// with no answer left, is rejected and counted as unexpected, so a test fails instead of
// hanging. Header-only: only Qt tests include it.
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace mirte::testing {

class ModalAnswers {
public:
  using Answer = std::function<void(QWidget&)>;

  ModalAnswers() {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
    timer.start();
  }

  void Then(Answer answer) { answers.push_back(std::move(answer)); }
  // Convenience answers.
  void ThenAccept() { Then([](QWidget& w) { Close(w, true); }); }
  void ThenReject() { Then([](QWidget& w) { Close(w, false); }); }

  int Answered() const { return answered; }
  int Unexpected() const { return unexpected; }
  bool AllUsed() const { return answers.empty(); }
  // Texts of the message boxes seen, in order.
  const std::vector<std::string>& MessageTexts() const { return messages; }

  static void Close(QWidget& w, bool accept) {
    if (auto* dialog = qobject_cast<QDialog*>(&w)) {
      if (accept) dialog->accept(); else dialog->reject();
    } else {
      w.close();
    }
  }

private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (current == modal && modal->isVisible()) {
      Close(*modal, false);  // its answer left it open
      ++unexpected;
      return;
    }
    current = modal;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) messages.push_back(box->text().toStdString());
    if (answers.empty()) {
      ++unexpected;
      Close(*modal, false);
      return;
    }
    Answer answer = std::move(answers.front());
    answers.pop_front();
    ++answered;
    answer(*modal);
    if (!modal->isVisible()) current = nullptr;
  }

  QTimer timer;
  std::deque<Answer> answers;
  QPointer<QWidget> current;
  int answered = 0;
  int unexpected = 0;
  std::vector<std::string> messages;
};

}  // namespace mirte::testing
