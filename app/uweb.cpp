// The forum page; see uweb.h.
#include "uweb.h"

#include <QTextBrowser>
#include <QVBoxLayout>

#include "desktop.h"

TfrmWeb::TfrmWeb(QWidget* parent) : QWidget(parent) {
  setObjectName("frmWeb");
  setWindowTitle(QStringLiteral("Coinhollow"));
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("WebBrowser1");
  browser_->setOpenLinks(false);
  browser_->setFrameStyle(QFrame::NoFrame);
  connect(browser_, &QTextBrowser::anchorClicked, this,
          [](const QUrl& url) { Desktop().OpenUrl(url); });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
}

void TfrmWeb::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  const QString address = ForumAddress().toHtmlEscaped();
  browser_->setHtml(
      QStringLiteral("<p style='margin:24px'><a href=\"%1\">%1</a></p>").arg(address));
}
