// Start-up with real separate processes: the single-instance rule, cancelling sign-in, the
// data directory when started from another working directory, and the program's own sign-in
// dialog on a data directory beside a copy of the program.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "apptests.h"
#include "dbaccess/session.h"
#include "fixture.h"

using mt::apptest::UniqueServerName;

namespace {

// A probe process with its stdout lines collected as they come.
class TProbe {
 public:
  explicit TProbe(const QStringList& args, const QString& workDir = QString(),
                  const QString& program = MINTORA_STARTPROBE) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process_.setProcessEnvironment(env);
    if (!workDir.isEmpty()) process_.setWorkingDirectory(workDir);
    process_.start(program, args);
  }
  ~TProbe() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  // Waits until the probe has printed the line, up to timeoutMs.
  bool WaitFor(const QString& line, int timeoutMs = 15000) {
    QElapsedTimer timer;
    timer.start();
    while (!Said(line)) {
      if (timer.elapsed() > timeoutMs) return false;
      if (!process_.waitForReadyRead(100) && process_.state() == QProcess::NotRunning) {
        Collect();
        return Said(line);
      }
      Collect();
    }
    return true;
  }
  bool Said(const QString& line) {
    Collect();
    return lines_.contains(line);
  }
  QStringList Lines() {
    Collect();
    return lines_;
  }
  QProcess& Process() { return process_; }

 private:
  void Collect() {
    while (process_.canReadLine())
      lines_ << QString::fromUtf8(process_.readLine()).trimmed();
  }
  QProcess process_;
  QStringList lines_;
};

// A copy of the probe in a scratch folder beside a "data" folder holding the sample data,
// as the program is installed beside its tables.
class TInstalledCopy {
 public:
  TInstalledCopy() {
    program_ = folder_.filePath("mintora");
    ready_ = folder_.isValid() && QFile::copy(MINTORA_STARTPROBE, program_) &&
             QDir(folder_.path()).mkdir("data");
    mt::apptest::TSampleData sample;
    mt::DefaultSession().Close();  // everything written out before the files are copied
    const QDir from(sample.Directory());
    for (const QString& file : from.entryList(QDir::Files))
      ready_ = ready_ && QFile::copy(from.filePath(file), folder_.filePath("data/" + file));
  }
  bool Ready() const { return ready_; }
  QString Program() const { return program_; }

 private:
  QTemporaryDir folder_;
  QString program_;
  bool ready_ = false;
};

}  // namespace

class TStartupTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void secondStartActivatesSignedInCopyAndExitsZero() {
    const QString server = UniqueServerName();
    TProbe first({"--server", server, "--signin", "accept"});
    QVERIFY(first.WaitFor("main-window"));

    TProbe second({"--server", server, "--signin", "accept"});
    QVERIFY(second.Process().waitForFinished(15000));
    QCOMPARE(second.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.Process().exitCode(), 0);
    QVERIFY2(!second.Said("signin-shown"), "the second copy must show nothing");
    QVERIFY(first.WaitFor("activated"));
    QCOMPARE(first.Process().state(), QProcess::Running);
  }

  void bothRunWhileTheFirstIsStillSigningIn() {
    const QString server = UniqueServerName();
    TProbe first({"--server", server, "--signin", "hold"});
    QVERIFY(first.WaitFor("signin-shown"));

    TProbe second({"--server", server, "--signin", "accept"});
    QVERIFY(second.WaitFor("signin-shown"));
    QVERIFY(second.WaitFor("main-window"));
    QCOMPARE(first.Process().state(), QProcess::Running);
    QCOMPARE(second.Process().state(), QProcess::Running);
    QVERIFY(!first.Said("activated"));
  }

  void cancelledSignInEndsWithZeroAndNoMainWindow() {
    TProbe probe({"--server", UniqueServerName(), "--signin", "cancel"});
    QVERIFY(probe.Process().waitForFinished(15000));
    QCOMPARE(probe.Process().exitCode(), 0);
    QVERIFY(probe.Said("signin-shown"));
    QVERIFY(!probe.Said("main-window"));
  }

  void aCopyLeftBehindByACrashDoesNotBlockTheNext() {
    const QString server = UniqueServerName();
    {
      TProbe crashed({"--server", server, "--signin", "accept"});
      QVERIFY(crashed.WaitFor("main-window"));
      crashed.Process().kill();  // no clean-up of its socket
      crashed.Process().waitForFinished(5000);
    }
    TProbe next({"--server", server, "--signin", "accept"});
    QVERIFY(next.WaitFor("main-window"));
    TProbe third({"--server", server, "--signin", "accept"});
    QVERIFY(third.Process().waitForFinished(15000));
    QCOMPARE(third.Process().exitCode(), 0);
    QVERIFY(next.WaitFor("activated"));
  }

  // The remembered password of the first account fills the real dialog; Enter signs in.
  void enterInTheRealSignInDialogReachesTheMainWindow() {
    TInstalledCopy copy;
    QVERIFY(copy.Ready());
    QTemporaryDir elsewhere;
    TProbe probe({"--server", UniqueServerName(), "--signin", "enter"}, elsewhere.path(),
                 copy.Program());
    QVERIFY(probe.WaitFor("main-window"));
    QVERIFY(probe.WaitFor("user admin"));
    QCOMPARE(probe.Process().state(), QProcess::Running);
  }

  void escapeInTheRealSignInDialogEndsWithZero() {
    TInstalledCopy copy;
    QVERIFY(copy.Ready());
    TProbe probe({"--server", UniqueServerName(), "--signin", "escape"}, QString(), copy.Program());
    QVERIFY(probe.Process().waitForFinished(15000));
    QCOMPARE(probe.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.Process().exitCode(), 0);
    QVERIFY(probe.Said("signin-shown"));
    QVERIFY(!probe.Said("main-window"));
  }

  void dataDirectoryIsBesideTheProgramNotTheWorkingDirectory() {
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    TProbe probe({"--print-datadir"}, elsewhere.path());
    QVERIFY(probe.Process().waitForFinished(15000));
    const QString expected = QFileInfo(MINTORA_STARTPROBE).absoluteDir().canonicalPath() + "/data";
    QCOMPARE(probe.Lines().value(0), "datadir " + expected);
  }
};

MINTORA_APP_TEST(Startup, TStartupTest);
#include "startup_test.moc"
