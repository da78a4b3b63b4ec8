// GBK conversion: Chinese round trips and bytes that are not valid GBK.
#include <QTest>

#include "apptests.h"
#include "gbktext.h"

class TGbkTextTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void roundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("gbk");
    QTest::newRow("income") << QString("收入") << QByteArray("\xca\xd5\xc8\xeb");
    QTest::newRow("expense") << QString("支出") << QByteArray("\xd6\xa7\xb3\xf6");
    QTest::newRow("mixed") << QString("abc 收支记账 123") << QByteArray();
    QTest::newRow("ascii") << QString("szzb") << QByteArray("szzb");
    QTest::newRow("empty") << QString() << QByteArray("");
  }
  void roundTrip() {
    QFETCH(QString, text);
    QFETCH(QByteArray, gbk);
    const std::string bytes = ToGbk(text);
    if (!gbk.isNull()) QCOMPARE(QByteArray::fromStdString(bytes), gbk);
    QCOMPARE(FromGbk(bytes), text);
  }

  void invalidBytesBecomeReplacementCharacters_data() {
    // A lead byte without a valid trail byte becomes one U+FFFD; the byte after it, when it
    // stands for a character of its own, is kept.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QString bad(QChar::ReplacementCharacter);
    QTest::newRow("lone lead byte at end") << QByteArray("ab\x81") << "ab" + bad;
    QTest::newRow("bad trail byte") << QByteArray(
                                           "\x81\x7f"
                                           "x")
                                    << bad + QChar(0x7f) + "x";
    QTest::newRow("lead byte before a blank") << QByteArray("\x81 ") << bad + " ";
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
