// The forum page: a child view of the main window filled by one browser view that goes to the
// forum's address when shown. Built without a web engine, the view shows the address as a
// link that opens it in the user's default browser.
#pragma once

#include <QWidget>

class QTextBrowser;

class TfrmWeb : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmWeb(QWidget* parent = nullptr);
  QTextBrowser* WebBrowser1() const { return browser_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QTextBrowser* browser_;
};
