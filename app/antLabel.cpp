// The link label's states and drawing; see antLabel.h.
#include "antLabel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The desktop's button shadow and highlight colours.
QColor ButtonShadow() {
  return QApplication::palette().color(QPalette::Active, QPalette::Dark);
}
QColor ButtonHighlight() {
  return QApplication::palette().color(QPalette::Active, QPalette::Light);
}

}  // namespace

TantLabel::TantLabel(QWidget* parent) : TantLabel(QString(), parent) {}

TantLabel::TantLabel(const QString& caption, QWidget* parent)
    : QLabel(caption, parent),
      ColorFront{Qt::black, Qt::blue, Qt::red, ButtonShadow()},
      ColorBack{ButtonShadow(), QColor(0, 0, 0x80), QColor(0x80, 0, 0), ButtonHighlight()},
      Cursors{Qt::ArrowCursor, Qt::PointingHandCursor, Qt::PointingHandCursor, Qt::ArrowCursor},
      UnderLine{false, true, true, false} {
  setFocusPolicy(Qt::NoFocus);
  // The state the label starts in is taken in full, not through SetState, which skips a
  // state it is already in.
  state_ = isEnabled() ? TAntState::Normal : TAntState::Disabled;
  textColor_ = ColorFront[state_];
  setCursor(Cursors[state_]);
  QFont f = font();
  f.setUnderline(UnderLine[state_]);
  setFont(f);
}

void TantLabel::SetActive(bool active) {
  active_ = active;
}

void TantLabel::SetColor3d(bool on) {
  color3d_ = on;
  updateGeometry();
  update();
}

void TantLabel::SetColor3dDepth(int x, int y) {
  xDepth_ = x;
  yDepth_ = y;
  updateGeometry();
  update();
}

void TantLabel::SetState(TAntState state) {
  if (state == state_) return;
  state_ = state;
  textColor_ = ColorFront[state];
  setCursor(Cursors[state]);
  QFont f = font();
  f.setUnderline(UnderLine[state]);
  setFont(f);
  update();
}

TAntState TantLabel::HoverState(bool leftButtonDown) const {
  return leftButtonDown ? TAntState::Active : TAntState::Selected;
}

void TantLabel::MouseEnter(bool leftButtonDown) {
  if (!isEnabled()) return;
  mouseOver_ = true;
  if (active_) SetState(HoverState(leftButtonDown));
  Q_EMIT mouseEntered();
}

void TantLabel::MouseLeave(bool leftButtonDown) {
  if (!isEnabled()) return;
  mouseOver_ = false;
  SetState(active_ && leftButtonDown ? TAntState::Selected : TAntState::Normal);
  Q_EMIT mouseLeft();
}

void TantLabel::LeftButtonDown() {
  if (!isEnabled()) return;
  buttonDown_ = true;
  if (active_) SetState(TAntState::Active);
}

void TantLabel::LeftButtonUp() {
  if (!isEnabled()) return;
  buttonDown_ = false;
  if (active_) SetState(mouseOver_ ? TAntState::Selected : TAntState::Normal);
}

void TantLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  MouseEnter(QGuiApplication::mouseButtons() & Qt::LeftButton);
}

void TantLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  MouseLeave(QGuiApplication::mouseButtons() & Qt::LeftButton);
}

void TantLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
  event->accept();
  LeftButtonDown();
}

void TantLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QLabel::mouseReleaseEvent(event);
  event->accept();
  // Qt keeps sending the mouse to the label that took the press, so whether the mouse is over
  // the label is read from the release's position.
  mouseOver_ = rect().contains(event->position().toPoint());
  LeftButtonUp();
  if (isEnabled() && mouseOver_) Q_EMIT clicked();
}

void TantLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::EnabledChange)
    SetState(isEnabled() ? TAntState::Normal : TAntState::Disabled);
}

QSize TantLabel::Depth() const {
  return color3d_ ? QSize(xDepth_, yDepth_) : QSize(0, 0);
}

QSize TantLabel::sizeHint() const {
  return QLabel::sizeHint() + Depth();
}

QSize TantLabel::minimumSizeHint() const {
  return QLabel::minimumSizeHint() + Depth();
}

void TantLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QSize depth = Depth();
  const QRect area = contentsRect().adjusted(0, 0, -depth.width(), -depth.height());
  const int flags = int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
  const auto draw = [&](const QColor& colour, int dx, int dy) {
    p.setPen(colour);
    p.drawText(area.translated(dx, dy), flags, text());
  };
  if (!isEnabled()) {
    draw(ButtonHighlight(), 1, 1);
    draw(ButtonShadow(), 0, 0);
    return;
  }
  if (color3d_) draw(ColorBack[state_], depth.width(), depth.height());
  draw(textColor_, 0, 0);
}
