// TantLabel: a hyperlink-style text label with four visual states: normal, selected (mouse
// over it), active (left button held down on it) and disabled. Each state has its own text
// colour, shadow colour, mouse cursor and underline switch. The label takes no focus and no
// keyboard input; a left click on it is reported by clicked().
//
// State rules (only while the label is enabled; with Active() false it stays normal):
//   mouse enters      -> active when the left button is held down, else selected; mouseEntered()
//   mouse leaves      -> selected when the left button is held down, else normal; mouseLeft()
//   left button down  -> active
//   left button up    -> selected when the mouse is over the label, else normal
//   enabled changes   -> normal when enabled, disabled when not
// Entering a state sets the cursor, the text colour and the underline of that state and
// repaints; entering the state the label is already in does nothing.
//
// Drawing: an enabled label draws its caption in the state's text colour; a disabled one draws
// it in the button-highlight colour one pixel right and down and then in the button-shadow
// colour in place. With Color3d the caption is first drawn in the state's shadow colour,
// offset by the depths, and the label grows by the depths.
#pragma once

#include <QColor>
#include <QLabel>

enum class TAntState { Normal, Selected, Active, Disabled };

// One value per state.
template <class T>
struct TAntStateValues {
  T Normal;
  T Selected;
  T Active;
  T Disabled;

  const T& operator[](TAntState state) const {
    switch (state) {
      case TAntState::Selected:
        return Selected;
      case TAntState::Active:
        return Active;
      case TAntState::Disabled:
        return Disabled;
      case TAntState::Normal:
        break;
    }
    return Normal;
  }
};

class TantLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TantLabel(QWidget* parent = nullptr);
  TantLabel(const QString& caption, QWidget* parent = nullptr);

  // Per-state looks; changes take effect at the next change of state.
  TAntStateValues<QColor> ColorFront;
  TAntStateValues<QColor> ColorBack;
  TAntStateValues<Qt::CursorShape> Cursors;
  TAntStateValues<bool> UnderLine;

  // Whether the label reacts to the mouse (default true).
  bool Active() const { return active_; }
  void SetActive(bool active);
  // Whether a shadow copy of the caption is drawn (default true), and its offset (default 1).
  bool Color3d() const { return color3d_; }
  void SetColor3d(bool on);
  int Color3dXDepth() const { return xDepth_; }
  int Color3dYDepth() const { return yDepth_; }
  void SetColor3dDepth(int x, int y);

  TAntState State() const { return state_; }
  // The text colour of the current state.
  QColor TextColor() const { return textColor_; }

  // The mouse as the label sees it. The widget's own mouse events call these; tests drive the
  // state table through them with the button state they want.
  void MouseEnter(bool leftButtonDown);
  void MouseLeave(bool leftButtonDown);
  void LeftButtonDown();
  void LeftButtonUp();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 Q_SIGNALS:
  void clicked();
  void mouseEntered();
  void mouseLeft();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetState(TAntState state);
  // Selected or active as the button says, normal when the label does not react.
  TAntState HoverState(bool leftButtonDown) const;
  QSize Depth() const;

  TAntState state_ = TAntState::Normal;
  QColor textColor_;
  bool active_ = true;
  bool color3d_ = true;
  int xDepth_ = 1;
  int yDepth_ = 1;
  bool mouseOver_ = false;
  bool buttonDown_ = false;
};
