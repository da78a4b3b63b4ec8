// GBK conversion: Chinese round trips and bytes that are not valid GBK.
#include <QTest>

#include "apptests.h"
#include "gbktext.h"
#include "tests/gbkcases.h"

class TGbkTextTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void roundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pinned");  // whether the case gives the exact bytes
    QTest::addColumn<QByteArray>("gbk");
    for (const mt::test::TGbkRoundTrip& c : mt::test::GbkRoundTrips()) {
      QTest::newRow(c.name) << QString::fromStdString(c.utf8) << c.gbk.has_value()
                            << QByteArray::fromStdString(c.gbk.value_or(std::string()));
    }
  }
  void roundTrip() {
    QFETCH(QString, text);
    QFETCH(bool, pinned);
    QFETCH(QByteArray, gbk);
    const std::string bytes = ToGbk(text);
    if (pinned) QCOMPARE(QByteArray::fromStdString(bytes), gbk);
    QCOMPARE(FromGbk(bytes), text);
  }

  void invalidBytesBecomeReplacementCharacters_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    for (const mt::test::TGbkBadBytes& c : mt::test::GbkBadBytes())
      QTest::newRow(c.name) << QByteArray::fromStdString(c.gbk) << QString::fromStdString(c.utf8);
  }
  void invalidBytesBecomeReplacementCharacters() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(FromGbk(std::string_view(bytes.constData(), bytes.size())), text);
  }

  void codePage936Extras() {
    // Code page 936 maps 0x80 to the euro sign.
    QCOMPARE(FromGbk("\x80"), QString::fromUtf8("\xE2\x82\xAC"));
    QCOMPARE(FromGbk(std::string_view("\0x", 2)), QString(QChar(0)) + "x");
  }

  void unencodableCharacterDoesNotCrash() {
    const std::string bytes =
        ToGbk(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                "b"));  // an emoji
    QVERIFY(bytes.size() >= 2);
    QCOMPARE(bytes.front(), 'a');
    QCOMPARE(bytes.back(), 'b');
  }
};

MINTORA_APP_TEST(GbkText, TGbkTextTest);
#include "gbktext_test.moc"
