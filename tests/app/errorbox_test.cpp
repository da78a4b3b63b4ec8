// The default error box: an exception escaping an event handler is shown with its message and
// the program keeps running.
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "application.h"
#include "apptests.h"
#include "engine/common/engineerror.h"
#include "prompt.h"

namespace {

class TRecordingPrompt : public TPrompt {
 public:
  void Message(QWidget*, TIcon icon, const QString& title, const QString& text) override {
    icons << icon;
    titles << title;
    texts << text;
  }
  QList<TIcon> icons;
  QStringList titles;
  QStringList texts;
};

class TThrowingButton : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) mt::RaiseEngineError(11010, {.table = "/x/data/szzb"});
    if (e->type() == QEvent::User + 1) throw std::runtime_error("plain failure");
    return QObject::event(e);
  }
};

}  // namespace

class TErrorBoxTest : public QObject {
  Q_OBJECT
 private slots:
  void exceptionsFromEventHandlersAreShownAndTheLoopGoesOn() {
    TRecordingPrompt prompt;
    TPromptScope scope(prompt);
    TThrowingButton target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
    bool laterEventRan = false;
    QTimer::singleShot(0, [&] { laterEventRan = true; });
    QTRY_VERIFY(laterEventRan && prompt.texts.size() == 2);
    QCOMPARE(prompt.texts[0], QString("Engine Error # 11010 Table '/x/data/szzb' does not exist"));
    QCOMPARE(prompt.texts[1], QString("plain failure"));
    QCOMPARE(prompt.icons[0], TPrompt::TIcon::Critical);
    QCOMPARE(prompt.titles[0], QString("Mintora"));
  }
};

MINTORA_APP_TEST(ErrorBox, TErrorBoxTest);
#include "errorbox_test.moc"
