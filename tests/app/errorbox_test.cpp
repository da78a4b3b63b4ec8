// The default error box: an exception escaping an event handler is shown with its message and
// the program keeps running.
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "application.h"
#include "apptests.h"
#include "engine/common/engineerror.h"
#include "fixture.h"
#include "prompt.h"

namespace {

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
 private Q_SLOTS:
  void exceptionsFromEventHandlersAreShownAndTheLoopGoesOn() {
    mt::apptest::TRecordingPrompt prompt;
    TPromptScope scope(prompt);
    TThrowingButton target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
    bool laterEventRan = false;
    QTimer::singleShot(0, [&] { laterEventRan = true; });
    QTRY_VERIFY(laterEventRan && prompt.messages.size() == 2);
    QCOMPARE(prompt.messages[0].text,
             QString("Engine Error # 11010 Table '/x/data/szzb' does not exist"));
    QCOMPARE(prompt.messages[1].text, QString("plain failure"));
    QCOMPARE(prompt.messages[0].icon, TPrompt::TIcon::Critical);
    QCOMPARE(prompt.messages[0].title, QString("Mintora"));
  }
};

MINTORA_APP_TEST(ErrorBox, TErrorBoxTest);
#include "errorbox_test.moc"
