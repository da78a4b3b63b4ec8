// The engine's password dialog: its buttons' enabled rules and what they do to the session's
// passwords, and an encrypted Items table in the data directory, which the program opens only
// after asking: a wrong password is asked again, the right one opens the table.
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "apptests.h"
#include "datadir.h"
#include "dbaccess/enginetable.h"
#include "dbaccess/mintoraschema.h"
#include "dbaccess/session.h"
#include "engine/storage/datatable.h"
#include "enginepassword.h"
#include "fixture.h"
#include "gbktext.h"

using mt::apptest::TAppFixture;
using mt::apptest::TModalAnswerer;

namespace {

struct TButtons {
  bool add, remove, ok;
  bool operator==(const TButtons&) const = default;
};

TButtons Enabled(const TEnginePasswordDialog& d) {
  return {d.AddButton()->isEnabled(), d.RemoveButton()->isEnabled(), d.OkButton()->isEnabled()};
}

std::vector<std::string> Passwords() {
  return mt::DefaultSession().Passwords();
}

}  // namespace

class TEnginePasswordTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() { mt::DefaultSession().RemoveAllPasswords(); }
  void cleanup() {
    mt::DefaultSession().RemoveAllPasswords();
    mt::SetPasswordDialog({});
  }

  void buttonsFollowTheEditAndTheAddedPasswords() {
    TEnginePasswordDialog d(mt::DefaultSession());
    QCOMPARE(d.windowTitle(), QString("Enter password"));
    QCOMPARE(d.findChild<QGroupBox*>()->title(), QString("Password"));
    QCOMPARE(d.Edit()->echoMode(), QLineEdit::Password);
    QVERIFY(d.OkButton()->isDefault());
    QCOMPARE(d.RemoveAllButton()->text(), QString("Re&move all"));
    QVERIFY((Enabled(d) == TButtons{false, false, false}));

    QTest::keyClicks(d.Edit(), "one");
    QVERIFY((Enabled(d) == TButtons{true, true, true}));
    d.AddButton()->click();
    QCOMPARE(d.Edit()->text(), QString());
    QVERIFY((Enabled(d) == TButtons{false, false, true}));  // OK: a password was added
    QCOMPARE(Passwords(), std::vector<std::string>{"one"});

    QTest::keyClicks(d.Edit(), "two");
    d.AddButton()->click();
    QTest::keyClicks(d.Edit(), "one");
    d.RemoveButton()->click();
    QCOMPARE(Passwords(), std::vector<std::string>{"two"});
    d.RemoveAllButton()->click();
    QVERIFY(Passwords().empty());

    d.Edit()->clear();
    QTest::keyClicks(d.Edit(), "three");
    d.OkButton()->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(Passwords(), std::vector<std::string>{"three"});
  }

  void cancelGivesUpAndAddsNothing() {
    TEnginePasswordDialog d(mt::DefaultSession());
    QTest::keyClicks(d.Edit(), "typed");
    d.CancelButton()->click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(Passwords().empty());
  }

  void anEncryptedItemsTableAsksUntilTheRightPassword() {
    TAppFixture fixture;
    mt::DefaultSession().Close();
    const std::string dir = QFile::encodeName(fixture.data.Directory()).toStdString();
    mt::TTableCreateParams params = mt::MintoraTableParams(*mt::FindMintoraTable("Items"));
    params.encrypted = true;
    params.password = "secret";
    mt::TDataTable(dir, "Items").Create(params);
    InstallEnginePasswordDialog();

    QStringList typed{"wrong", "secret"};
    TModalAnswerer answerer([&](QDialog& d) {
      auto& dialog = static_cast<TEnginePasswordDialog&>(d);
      if (typed.isEmpty()) return dialog.reject();
      QTest::keyClicks(dialog.Edit(), typed.takeFirst());
      dialog.OkButton()->click();
    });
    mt::TEngineTable items;
    items.SetDatabaseName(ToGbk(DataDirectory()));
    items.SetTableName("Items");
    items.Open();
    QVERIFY(items.Active());
    QCOMPARE(answerer.seen, (QStringList{"EnginePasswordDialog", "EnginePasswordDialog"}));
    items.Close();

    // Given up: the open fails and the table stays closed.
    mt::DefaultSession().RemoveAllPasswords();
    typed.clear();
    answerer.seen.clear();
    QVERIFY_THROWS_EXCEPTION(std::exception, items.Open());
    QCOMPARE(answerer.seen, QStringList{"EnginePasswordDialog"});
    QVERIFY(!items.Active());
  }
};

MINTORA_APP_TEST(EnginePassword, TEnginePasswordTest);
#include "enginepassword_test.moc"
