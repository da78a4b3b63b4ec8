// The link label: its state table under sequences of mouse events, the looks of each state,
// the Active switch, enabling, clicks and the shadow's room.
#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

#include "antLabel.h"
#include "apptests.h"

Q_DECLARE_METATYPE(TAntState)

namespace {

// Events, blank-separated: E enter, Ed enter with the left button held, L leave, Ld leave with
// the left button held, D left button down, U left button up.
void Play(TantLabel& label, const QString& events) {
  for (const QString& e : events.split(' ', Qt::SkipEmptyParts)) {
    if (e == "E") label.MouseEnter(false);
    if (e == "Ed") label.MouseEnter(true);
    if (e == "L") label.MouseLeave(false);
    if (e == "Ld") label.MouseLeave(true);
    if (e == "D") label.LeftButtonDown();
    if (e == "U") label.LeftButtonUp();
  }
}

}  // namespace

class TAntLabelTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void stateTable_data() {
    QTest::addColumn<QString>("events");
    QTest::addColumn<bool>("active");
    QTest::addColumn<TAntState>("expected");
    QTest::newRow("at load") << "" << true << TAntState::Normal;
    QTest::newRow("mouse over") << "E" << true << TAntState::Selected;
    QTest::newRow("pressed") << "E D" << true << TAntState::Active;
    QTest::newRow("released over it") << "E D U" << true << TAntState::Selected;
    QTest::newRow("moved off") << "E L" << true << TAntState::Normal;
    QTest::newRow("entered with the button held") << "Ed" << true << TAntState::Active;
    QTest::newRow("left with the button held") << "E D Ld" << true << TAntState::Selected;
    QTest::newRow("released after leaving") << "E D Ld U" << true << TAntState::Normal;
    QTest::newRow("back in with the button held") << "E D Ld Ed" << true << TAntState::Active;
    QTest::newRow("pressed without hover") << "D" << true << TAntState::Active;
    QTest::newRow("released without hover") << "D U" << true << TAntState::Normal;
    QTest::newRow("not reacting: hover") << "E" << false << TAntState::Normal;
    QTest::newRow("not reacting: press") << "E D" << false << TAntState::Normal;
    QTest::newRow("not reacting: held leave") << "E D Ld" << false << TAntState::Normal;
  }
  void stateTable() {
    QFETCH(QString, events);
    QFETCH(bool, active);
    QFETCH(TAntState, expected);
    TantLabel label("link");
    label.SetActive(active);
    Play(label, events);
    QCOMPARE(label.State(), expected);
  }

  void eachStateHasItsLooks_data() {
    QTest::addColumn<QString>("events");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("shadow");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<bool>("underline");
    const QColor buttonShadow = QApplication::palette().color(QPalette::Active, QPalette::Dark);
    const QColor buttonLight = QApplication::palette().color(QPalette::Active, QPalette::Light);
    QTest::newRow("normal") << "E L" << true << QColor(Qt::black) << buttonShadow
                            << int(Qt::ArrowCursor) << false;
    QTest::newRow("selected") << "E" << true << QColor(0, 0, 255) << QColor(0, 0, 0x80)
                              << int(Qt::PointingHandCursor) << true;
    QTest::newRow("active") << "E D" << true << QColor(255, 0, 0) << QColor(0x80, 0, 0)
                            << int(Qt::PointingHandCursor) << true;
    QTest::newRow("disabled") << "" << false << buttonShadow << buttonLight << int(Qt::ArrowCursor)
                              << false;
  }
  void eachStateHasItsLooks() {
    QFETCH(QString, events);
    QFETCH(bool, enabled);
    QFETCH(QColor, text);
    QFETCH(QColor, shadow);
    QFETCH(int, cursor);
    QFETCH(bool, underline);
    TantLabel label("link");
    Play(label, events);
    label.setEnabled(enabled);
    QCOMPARE(label.TextColor(), text);
    QCOMPARE(label.ColorBack[label.State()], shadow);
    QCOMPARE(int(label.cursor().shape()), cursor);
    QCOMPARE(label.font().underline(), underline);
  }

  void disabledLabelIgnoresTheMouseAndReturnsToNormal() {
    TantLabel label("link");
    QSignalSpy entered(&label, &TantLabel::mouseEntered);
    Play(label, "E");
    QCOMPARE(label.State(), TAntState::Selected);
    label.setEnabled(false);
    QCOMPARE(label.State(), TAntState::Disabled);
    Play(label, "L E D");
    QCOMPARE(label.State(), TAntState::Disabled);
    QCOMPARE(entered.count(), 1);
    label.setEnabled(true);
    QCOMPARE(label.State(), TAntState::Normal);

    // A label made inside a disabled window starts disabled.
    QWidget parent;
    parent.setEnabled(false);
    TantLabel child("link", &parent);
    QCOMPARE(child.State(), TAntState::Disabled);
  }

  void enterAndLeaveEventsComeAfterTheStateChange() {
    TantLabel label("link");
    QList<TAntState> seen;
    connect(&label, &TantLabel::mouseEntered, [&] { seen << label.State(); });
    connect(&label, &TantLabel::mouseLeft, [&] { seen << label.State(); });
    Play(label, "E L");
    QCOMPARE(seen, (QList<TAntState>{TAntState::Selected, TAntState::Normal}));
  }

  void realMouseEventsDriveTheStatesAndClick() {
    TantLabel label("日常收支记账");
    label.resize(120, 20);
    label.show();
    QVERIFY(QTest::qWaitForWindowExposed(&label));
    QSignalSpy clicked(&label, &TantLabel::clicked);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), label.mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(&label, &enter);
    QCOMPARE(label.State(), TAntState::Selected);
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(label.State(), TAntState::Active);
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(label.State(), TAntState::Selected);
    QCOMPARE(clicked.count(), 1);

    // Pressed on the label, released off it: no click, and the label is normal again.
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(500, 5));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(label.State(), TAntState::Normal);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&label, &leave);
    QCOMPARE(label.State(), TAntState::Normal);

    label.setEnabled(false);
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.count(), 1);
  }

  void theShadowNeedsRoomOnlyWhenDrawn() {
    TantLabel label("收支对比图");
    label.SetColor3d(false);
    const QSize flat = label.sizeHint();
    label.SetColor3d(true);
    QCOMPARE(label.sizeHint(), flat + QSize(1, 1));
    label.SetColor3dDepth(3, 2);
    QCOMPARE(label.sizeHint(), flat + QSize(3, 2));
  }
};

MINTORA_APP_TEST(AntLabel, TAntLabelTest);
#include "antlabel_test.moc"
