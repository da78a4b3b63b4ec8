// The backup and restore commands: the proposed name, the ".mtb" rule and the overwrite
// question; what goes into the archive; the read locks held while copying; restore keeping an
// extra table, a restore followed by sign-in showing the restored balance; archives that are
// not one or are damaged, and tables held by another process, changing nothing; and a restore
// while the program itself holds its tables open; the golden backup restoring the golden tables
// byte for byte.
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "apptests.h"
#include "archive/zipreader.h"
#include "datadir.h"
#include "dbaccess/enginetable.h"
#include "engine/storage/datatable.h"
#include "fixture.h"
#include "gbktext.h"
#include "globals.h"
#include "tests/sharelockholder.h"
#include "tests/storage/probe.h"
#include "ubackup.h"
#include "umain.h"
#include "umainpage.h"

using mt::apptest::OpenTable;
using mt::apptest::RunDeferredDeletes;
using mt::apptest::TMainWindowFixture;
using mt::apptest::TModalAnswerer;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file of a folder with its bytes.
QMap<QString, QByteArray> Snapshot(const QString& dir) {
  QMap<QString, QByteArray> files;
  for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
    files.insert(name, ReadAll(dir + "/" + name));
  return files;
}

// Whether someone holds a lock on the table file's write range that keeps a writer out: 1 when
// one does, 0 when the range is free, -1 when the file cannot be asked.
int WriteRangeTaken(const QString& file) {
  const int fd = open(QFile::encodeName(file).constData(), O_RDWR);
  if (fd < 0) return -1;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(mt::lockofs::kWriteRange);
  lock.l_len = static_cast<off_t>(mt::lockofs::kWriteRangeLength);
  const int result = fcntl(fd, F_OFD_GETLK, &lock);
  close(fd);
  if (result != 0) return -1;
  return lock.l_type == F_UNLCK ? 0 : 1;
}

QStringList EntryNames(const QString& archive) {
  mt::TUnzipArchive zip;
  zip.SetZipName(QFile::encodeName(archive).toStdString());
  zip.ReadDirectory();
  QStringList names;
  for (const auto& e : zip.Entries())
    names << FromGbk(e.fileName);
  names.sort();
  return names;
}

}  // namespace

class TBackupTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMainWindowFixture> fixture_;
  QTemporaryDir scratch_;

  Tfrmmain& Window() { return fixture_->Window(); }
  QString Data() const { return fixture_->data.Directory(); }
  QString Archive(const QString& name = "backup.mtb") const { return scratch_.filePath(name); }
  // A backup of the sample data.
  QString MakeBackup() {
    WriteBackup(Archive(), Data());
    return Archive();
  }
  // Adds an income entry of that amount to the ledger.
  void AddIncome(double amount) {
    static int id = 1000;
    fixture_->data.AddLedgerRow(
        {++id, QDate(2004, 4, 23), 1, "工资", "", "", "admin", amount, true, 0}, "0");
  }
  void ChooseRestore(const QString& archive) {
    fixture_->prompt.openFileAnswer = archive;
    QVERIFY(Window().Choose("N6"));
  }

 private Q_SLOTS:
  void init() { fixture_ = std::make_unique<TMainWindowFixture>(); }
  void cleanup() {
    fixture_.reset();
    for (const QString& name : QDir(scratch_.path()).entryList(QDir::Files))
      QFile::remove(scratch_.filePath(name));
  }

  void proposedNameAndTheMtbRule_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("archive");
    QTest::newRow("plain name") << "/x/backup"
                                << "/x/backup.mtb";
    QTest::newRow("upper case kept") << "/x/backup.MTB"
                                     << "/x/backup.MTB";
    QTest::newRow("other extension") << "/x/backup.zip"
                                     << "/x/backup.zip.mtb";
    QTest::newRow("dot in the folder") << "/x.mtb/backup"
                                       << "/x.mtb/backup.mtb";
  }
  void proposedNameAndTheMtbRule() {
    QFETCH(QString, chosen);
    QFETCH(QString, archive);
    QCOMPARE(BackupArchiveName(chosen), archive);
    QCOMPARE(ProposedBackupName(QDate(2004, 4, 23)), QString("2004-04-23.mtb"));
  }

  void backupAsksBeforeOverwritingAndReportsTheArchive() {
    auto& prompt = fixture_->prompt;
    QFile old(Archive());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old archive");
    old.close();
    prompt.saveFileAnswer = scratch_.filePath("backup");  // ".mtb" is added
    prompt.confirmAnswer = false;
    QVERIFY(Window().Choose("N5"));
    QCOMPARE(prompt.fileDialogs, QStringList{"将数据备份到"});
    QCOMPARE(prompt.confirmations, QStringList{Archive() + " 已经存在了,确定要覆盖它吗?"});
    QCOMPARE(ReadAll(Archive()), QByteArray("old archive"));
    QVERIFY(prompt.messages.isEmpty());

    prompt.confirmAnswer = true;
    QVERIFY(Window().Choose("N5"));
    QCOMPARE(prompt.messages.size(), 1);
    QCOMPARE(prompt.messages[0].text, "数据已经成功的被备份到 " + Archive());
    QCOMPARE(EntryNames(Archive()).size(), Snapshot(Data()).size());
  }

  void backupLeavesOutSubfoldersAndDotFiles() {
    const QStringList tables = QDir(Data()).entryList(QDir::Files, QDir::Name);
    QVERIFY(QDir(Data()).mkdir("sub"));
    QFile inSub(Data() + "/sub/szzb.DAT");
    QVERIFY(inSub.open(QIODevice::WriteOnly));
    inSub.close();
    QFile hidden(Data() + "/.hidden");
    QVERIFY(hidden.open(QIODevice::WriteOnly));
    hidden.close();
    QStringList sorted = tables;
    sorted.sort();
    QCOMPARE(EntryNames(MakeBackup()), sorted);
  }

  void backupHoldsTheTablesReadLocksWhileCopying() {
    // While the archive is written the index file's write range is taken by readers: a writer
    // of another copy would have to wait.
    const QString index = Data() + "/szzb.IDX";
    int conflicts = -1;
    QTimer::singleShot(0, [&] { conflicts = WriteRangeTaken(index); });
    MakeBackup();
    QCOMPARE(conflicts, 1);
    // And none is left behind.
    QCOMPARE(WriteRangeTaken(index), 0);
  }

  void anotherProcessesChangeWaitsUntilTheBackupIsWritten() {
    mt::test::TProbe other;
    // The probe's answers as byte arrays.
    const auto ask = [&other](const std::string& command) {
      return QByteArray::fromStdString(other.Ask(command));
    };
    const auto line = [&other] { return QByteArray::fromStdString(other.Line()); };
    QCOMPARE(ask("open " + QFile::encodeName(Data()).toStdString() + " szzb"), QByteArray("ok"));
    QCOMPARE(ask("tableretry 3000 3"), QByteArray("ok"));  // gives up after ~9 s
    QByteArray duringBackup;
    QTimer::singleShot(0, [&] {
      other.Send("write");
      duringBackup = line();
    });
    MakeBackup();
    QCOMPARE(duringBackup, QByteArray("waiting write"));
    QVERIFY(line().startsWith("ok"));  // the backup let go of its read locks
    QCOMPARE(ask("writeunlock"), QByteArray("ok"));
  }

  void restoreKeepsAnExtraTable() {
    const QString archive = MakeBackup();
    QFile extra(Data() + "/extra.DAT");
    QVERIFY(extra.open(QIODevice::WriteOnly));
    extra.write("mine");
    extra.close();
    const TRestoreResult result = RestoreBackup(archive, Data());
    QCOMPARE(int(result.outcome), int(TRestoreResult::TOutcome::Restored));
    QCOMPARE(ReadAll(Data() + "/extra.DAT"), QByteArray("mine"));
  }

  void restoreThenSignInShowsTheRestoredBalance() {
    const QString balance =
        TfrmMainpage::BalanceText(fixture_->data.TotalIncome(), fixture_->data.TotalExpense());
    const QString archive = MakeBackup();
    AddIncome(1000000);
    Window().OpenHomePage();
    RunDeferredDeletes();
    QVERIFY(qobject_cast<TfrmMainpage*>(Window().CurrentView())->BalanceLabel() != balance);

    TModalAnswerer answerer(TModalAnswerer::Accept);
    ChooseRestore(archive);
    RunDeferredDeletes();
    QCOMPARE(answerer.seen, QStringList{"frmlogin"});
    QCOMPARE(fixture_->prompt.fileDialogs, QStringList{"数据恢复"});
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, QString("数据已经成功恢复.您需要重新登录."));
    auto* home = qobject_cast<TfrmMainpage*>(Window().CurrentView());
    QVERIFY(home);
    QCOMPARE(home->BalanceLabel(), balance);
  }

  void anArchiveThatIsNotOneChangesNothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text file") << QByteArray("just some text, no archive at all\n");
    QTest::newRow("cut after the first entry's header")
        << QByteArray("PK\x03\x04\x14\x00\x00\x00\x08\x00", 10);
  }
  void anArchiveThatIsNotOneChangesNothing() {
    QFETCH(QByteArray, content);
    QFile f(Archive());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    const auto before = Snapshot(Data());
    TModalAnswerer answerer;
    ChooseRestore(Archive());
    QVERIFY(answerer.seen.isEmpty());  // no sign-in
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, QString("对不起，文件无法打开."));
    QCOMPARE(Snapshot(Data()), before);
  }

  void aDamagedArchiveLeavesEveryTableAsItWas() {
    const QString archive = MakeBackup();
    AddIncome(42);  // the tables differ from the archive now
    const auto before = Snapshot(Data());
    // Flip one bit in the middle of the first entry's data (local header: compressed size at
    // 18, name and extra lengths at 26 and 28, data after the 30 bytes, name and extra).
    QByteArray bytes = ReadAll(archive);
    const auto u16 = [&](int at) { return uchar(bytes[at]) | uchar(bytes[at + 1]) << 8; };
    const qsizetype size = u16(18) | qsizetype(u16(20)) << 16;
    QVERIFY(size > 0);
    const qsizetype at = 30 + u16(26) + u16(28) + size / 2;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    QFile f(archive);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    TModalAnswerer answerer;
    ChooseRestore(archive);
    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QVERIFY(fixture_->prompt.messages[0].text.startsWith("数据没有恢复"));
    QCOMPARE(Snapshot(Data()), before);
  }

  void aTableAnotherCopyHoldsIsNamedAndNothingChanges() {
    const QString archive = MakeBackup();
    AddIncome(42);
    const auto before = Snapshot(Data());
    mt::test::TShareLockHolder other(QFile::encodeName(Data() + "/szzb.DAT").toStdString());
    QVERIFY(other.Holding());
    const TRestoreResult result = RestoreBackup(archive, Data());
    QCOMPARE(int(result.outcome), int(TRestoreResult::TOutcome::Refused));
    QCOMPARE(result.problems.size(), 1);
    QVERIFY(result.problems[0].startsWith("szzb.DAT: "));
    QCOMPARE(Snapshot(Data()), before);
  }

  void restoreWhileTheProgramHoldsItsTablesOpenReplacesThem() {
    const QString archive = MakeBackup();
    const auto backedUp = Snapshot(Data());
    AddIncome(42);
    const auto held = OpenTable("szzb");
    const TRestoreResult result = RestoreBackup(archive, Data());
    QCOMPARE(result.problems, QStringList());
    QCOMPARE(int(result.outcome), int(TRestoreResult::TOutcome::Restored));
    QVERIFY(!held->Active());
    QCOMPARE(Snapshot(Data()), backedUp);
  }
};

MINTORA_APP_TEST(Backup, TBackupTest);
#include "backup_test.moc"
