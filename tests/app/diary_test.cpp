// The diary window and dialog: the list newest first with its summaries, the dialog that shows
// the picked day's note and changes it instead of adding a second, the text that follows the
// day, a new note at the top, and the questions and warnings of "修改" and "删除".
#include <QDateEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "apptests.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "diary/uadddiary.h"
#include "diary/udiary.h"
#include "fixture.h"
#include "gbktext.h"
#include "globals.h"
#include "umain.h"

using mt::apptest::OpenQuery;
using mt::apptest::TMainWindowFixture;
using mt::apptest::TModalAnswerer;

namespace {

// The diary rows as "day|contents|user", newest first.
QStringList StoredNotes() {
  const auto query = OpenQuery("select * from diary order by date desc");
  QStringList notes;
  for (; !query->Eof(); query->Next())
    notes << QString::fromLatin1(query->FieldByName("date").AsString()) + "|" +
                 FromGbk(query->FieldByName("contents").AsString()) + "|" +
                 FromGbk(query->FieldByName("user").AsString());
  return notes;
}

QStringList Captions(const QTreeWidget& list) {
  QStringList captions;
  for (int i = 0; i < list.topLevelItemCount(); ++i)
    captions << list.topLevelItem(i)->text(Tfrmdiary::kDateColumn);
  return captions;
}

}  // namespace

class TDiaryTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMainWindowFixture> fixture_;

  Tfrmdiary& Diary() {
    auto* diary = qobject_cast<Tfrmdiary*>(fixture_->Window().CurrentView());
    Q_ASSERT(diary);
    return *diary;
  }
  QTreeWidget& List() { return *Diary().ListView1(); }

 private Q_SLOTS:
  void init() {
    fixture_ = std::make_unique<TMainWindowFixture>(QStringLiteral("张三"));
    QVERIFY(fixture_->Window().Choose("btnlcrj"));
  }
  void cleanup() { fixture_.reset(); }

  void listShowsEveryNoteNewestFirst() {
    QCOMPARE(Captions(List()), (QStringList{"2004-04-12", "2004-03-15", "2004-03-01"}));
    const QTreeWidgetItem* top = List().topLevelItem(0);
    QCOMPARE(top->text(Tfrmdiary::kUserColumn), QString("张三"));
    QCOMPARE(top->text(Tfrmdiary::kFormattedDateColumn), QString("2004/4/12"));
    QVERIFY(List().isColumnHidden(Tfrmdiary::kFormattedDateColumn));
    QVERIFY(top->text(Tfrmdiary::kSummaryColumn).startsWith("电饭煲坏了"));
  }

  void summary_data() {
    QTest::addColumn<QString>("contents");
    QTest::addColumn<QString>("expected");
    const QString ascii50 = QString(50, 'a');
    QTest::newRow("10 ASCII characters") << "0123456789"
                                         << "0123456789...";
    QTest::newRow("empty") << ""
                           << "...";
    QTest::newRow("longer than 50 bytes") << ascii50 + "tail" << ascii50 + "...";
    QTest::newRow("two-byte character ending at byte 50")
        << QString(48, 'a') + "账本" << QString(48, 'a') + "账...";
    QTest::newRow("two-byte character cut at byte 50 is left out")
        << QString(49, 'a') + "账本" << QString(49, 'a') + "...";
    QTest::newRow("25 Chinese characters fill 50 bytes")
        << QString(26, QChar(0x4E2D)) << QString(25, QChar(0x4E2D)) + "...";
  }
  void summary() {
    QFETCH(QString, contents);
    QFETCH(QString, expected);
    QCOMPARE(Tfrmdiary::Summary(ToGbk(contents)), expected);
  }

  void aDayWithANoteOpensItAndSavingChangesIt() {
    TfrmAdddiary dialog(&List());
    dialog.SetPickedDay(QDate(2004, 3, 15));
    QVERIFY(!dialog.Adding());
    QCOMPARE(dialog.Memo1()->toPlainText(), QString("拿到季度奖，请家里人吃了顿好的。"));
    GlobalVars.UserName = "admin";
    dialog.Memo1()->setPlainText("0123456789");
    dialog.BitBtn1Click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(StoredNotes().size(), 3);
    QVERIFY(StoredNotes().contains("2004-03-15|0123456789|admin"));
    // The row of that day changed in place.
    QCOMPARE(Captions(List()), (QStringList{"2004-04-12", "2004-03-15", "2004-03-01"}));
    QCOMPARE(List().topLevelItem(1)->text(Tfrmdiary::kSummaryColumn), QString("0123456789..."));
    QCOMPARE(List().topLevelItem(1)->text(Tfrmdiary::kUserColumn), QString("admin"));
  }

  void changingTheDaySwapsTheText() {
    TfrmAdddiary dialog(&List());
    dialog.SetPickedDay(QDate(2004, 3, 1));
    QVERIFY(dialog.Memo1()->toPlainText().startsWith("今天发了工资"));
    dialog.DateTimePicker1()->setDate(QDate(2004, 3, 2));
    QVERIFY(dialog.Adding());
    QCOMPARE(dialog.Memo1()->toPlainText(), QString());
    dialog.DateTimePicker1()->setDate(QDate(2004, 4, 12));
    QVERIFY(!dialog.Adding());
    QVERIFY(dialog.Memo1()->toPlainText().startsWith("电饭煲坏了"));
  }

  void aNewNoteGoesToTheTopEvenWhenItsDayIsOlder() {
    TfrmAdddiary dialog(&List());
    dialog.SetPickedDay(QDate(2004, 2, 1));
    QVERIFY(dialog.Adding());
    dialog.Memo1()->setPlainText("新的一页");
    dialog.BitBtn1Click();
    QCOMPARE(StoredNotes().size(), 4);
    QVERIFY(StoredNotes().contains("2004-02-01|新的一页|张三"));
    QCOMPARE(Captions(List()).first(), QString("2004-02-01"));
  }

  void cancelSavesNothing() {
    TfrmAdddiary dialog(&List());
    dialog.SetPickedDay(QDate(2004, 3, 15));
    dialog.Memo1()->setPlainText("changed");
    dialog.BitBtn2()->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(StoredNotes().contains("2004-03-15|拿到季度奖，请家里人吃了顿好的。|张三"));
  }

  void changeOpensTheSelectedDaysNote() {
    auto& prompt = fixture_->prompt;
    Diary().ChangeClick();
    QCOMPARE(prompt.messages.size(), 1);
    QCOMPARE(prompt.messages[0].text, QString("还没选择要修改哪个哦."));

    List().setCurrentItem(List().topLevelItem(2));
    QString shown;
    QDate day;
    TModalAnswerer answerer([&](QDialog& d) {
      auto& dialog = static_cast<TfrmAdddiary&>(d);
      shown = dialog.Memo1()->toPlainText();
      day = dialog.PickedDay();
      d.reject();
    });
    Diary().ChangeClick();
    QCOMPARE(answerer.seen, QStringList{"frmAdddiary"});
    QCOMPARE(day, QDate(2004, 3, 1));
    QVERIFY(shown.startsWith("今天发了工资"));
  }

  void deleteAsksFirstThenWarnsWhenNothingIsSelected() {
    auto& prompt = fixture_->prompt;
    prompt.confirmAnswer = false;
    Diary().DeleteClick();
    QCOMPARE(prompt.confirmations, QStringList{"确认要删除吗?"});
    QVERIFY(prompt.messages.isEmpty());
    prompt.confirmAnswer = true;
    Diary().DeleteClick();
    QCOMPARE(prompt.confirmations.size(), 2);
    QCOMPARE(prompt.messages.size(), 1);
    QCOMPARE(prompt.messages[0].text, QString("没选中,所以删不掉,哈哈."));
    QCOMPARE(StoredNotes().size(), 3);
  }

  void deleteRemovesTheNoteAndSelectsTheNextRow() {
    List().setCurrentItem(List().topLevelItem(1));
    Diary().DeleteClick();
    QCOMPARE(StoredNotes().size(), 2);
    QCOMPARE(Captions(List()), (QStringList{"2004-04-12", "2004-03-01"}));
    QCOMPARE(List().currentItem(), List().topLevelItem(1));
    // The last row deleted selects the new last row.
    Diary().DeleteClick();
    QCOMPARE(Captions(List()), QStringList{"2004-04-12"});
    QCOMPARE(List().currentItem(), List().topLevelItem(0));
  }
};

MINTORA_APP_TEST(Diary, TDiaryTest);
#include "diary_test.moc"
