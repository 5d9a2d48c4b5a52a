#pragma once
// A one-line label for the status bar: however long its text and however narrow the window, it
// stays one line and cut at its end with "…"; the whole text is its tool tip. It never widens the
// window. Also the status bar's temporary messages, kept to one line the same way.
//
// Threads: [main] for every member.

#include <QLabel>

class QStatusBar;

class ElidedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  // The whole text; the tool tip says `toolTip` (the whole text when empty).
  void setFullText(const QString& text, const QString& toolTip = {});
  QString fullText() const { return full_; }

  // Shows `text` as the status bar's message for `ms` (0: until replaced) on one line, elided,
  // with the whole text in the status bar's tool tip.
  static void showStatusLine(QStatusBar* bar, const QString& text, int ms);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void elide();

  QString full_;
};
