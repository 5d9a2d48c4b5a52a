#include "app/ElidedLabel.h"

#include <algorithm>

#include <QEvent>
#include <QStatusBar>
#include <QVariant>

#include "support/MainQueue.h"

namespace {
// Room the status bar keeps around its message (its size grip and margins).
constexpr int kStatusMessageMargin = 24;
}  // namespace

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
  Q_ASSERT(pm::isMainQueue());
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  // The layout gives it whatever room is left; its text never asks for more.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setMinimumWidth(1);
}

void ElidedLabel::setFullText(const QString& text, const QString& toolTip) {
  full_ = text;
  setToolTip(toolTip.isEmpty() ? text : toolTip);
  elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) elide();
}

void ElidedLabel::elide() {
  QString oneLine = full_;
  oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
  const QString shown =
      fontMetrics().elidedText(oneLine, Qt::ElideRight, std::max(1, contentsRect().width()));
  if (shown != text()) setText(shown);
}

void ElidedLabel::showStatusLine(QStatusBar* bar, const QString& text, int ms) {
  QString oneLine = text;
  oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
  const int room = std::max(1, bar->width() - kStatusMessageMargin);
  if (!bar->property("pmClearsToolTip").toBool()) {
    bar->setProperty("pmClearsToolTip", true);
    QObject::connect(bar, &QStatusBar::messageChanged, bar, [bar](const QString& message) {
      if (message.isEmpty()) bar->setToolTip(QString());
    });
  }
  // A hidden bar has no width yet to fit the line to.
  bar->showMessage(bar->isVisible() ? bar->fontMetrics().elidedText(oneLine, Qt::ElideRight, room) : oneLine,
                   ms);
  bar->setToolTip(text);
}
