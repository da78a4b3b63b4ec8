// The backup and restore commands; see ubackup.h.
#include "ubackup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <stdexcept>
#include <vector>

#include "archive/zipwriter.h"
#include "datadir.h"
#include "dbaccess/enginetable.h"
#include "dbaccess/session.h"
#include "engine/storage/datacursor.h"
#include "gbktext.h"
#include "prompt.h"

namespace {

const QString kFilter = QStringLiteral("数据备份文件(*.mtb)");
const QString kUnreadable = QStringLiteral("对不起，文件无法打开.");

std::string FileName(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// The read locks of the data directory's tables, held while the object lives. A table the
// engine cannot open (damaged, or its password not given) is copied without a lock.
class TTableReadLocks {
 public:
  explicit TTableReadLocks(const QString& dataDirectory) {
    const QStringList dataFiles =
        QDir(dataDirectory).entryList({QStringLiteral("*.DAT")}, QDir::Files, QDir::Name);
    for (const QString& file : dataFiles) {
      if (file.startsWith('.')) continue;
      auto table = std::make_unique<mt::TEngineTable>();
      try {
        table->SetDatabaseName(ToGbk(dataDirectory));
        table->SetTableName(FileName(QFileInfo(file).completeBaseName()));
        table->Open();
        table->Cursor().Table().Locks().ReadLock();
      } catch (const std::exception&) {
        continue;
      }
      tables_.push_back(std::move(table));
    }
  }
  ~TTableReadLocks() {
    for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) {
      try {
        (*it)->Cursor().Table().Locks().ReadUnlock();
        (*it)->Close();
      } catch (const std::exception&) {
        // The lock goes with the table's close at the latest.
      }
    }
  }
  TTableReadLocks(const TTableReadLocks&) = delete;
  TTableReadLocks& operator=(const TTableReadLocks&) = delete;

 private:
  std::vector<std::unique_ptr<mt::TEngineTable>> tables_;
};

// Keeps windows painted while the archive is written or read; input waits, so nothing the
// user does can open a table in the middle of a restore.
void PaintPendingWindows() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QStringList Problems(const mt::TUnzipArchive& zip) {
  QStringList problems;
  for (const auto& failure : zip.ExtractFailures())
    problems << FromGbk(failure.fileName) + QStringLiteral(": ") +
                    QString::fromStdString(failure.reason);
  return problems;
}

}  // namespace

QString ProposedBackupName(const QDate& day) {
  return day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".mtb");
}

QString BackupArchiveName(const QString& chosen) {
  if (chosen.endsWith(QStringLiteral(".mtb"), Qt::CaseInsensitive)) return chosen;
  return chosen + QStringLiteral(".mtb");
}

QStringList BackupFileList(const QString& dataDirectory) {
  const QDir dir(dataDirectory);
  QStringList files;
  const QStringList names = dir.entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
  for (const QString& name : names)
    if (!name.startsWith('.')) files << dir.absolutePath() + '/' + name;
  return files;
}

void WriteBackup(const QString& archiveName, const QString& dataDirectory) {
  mt::TZipArchive zip;
  zip.SetZipName(FileName(archiveName));
  zip.SetOnProcessMessages(PaintPendingWindows);
  for (const QString& file : BackupFileList(dataDirectory))
    zip.FilesList().push_back(FileName(file));
  TTableReadLocks locks(dataDirectory);
  zip.WriteArchive();
}

void ReleaseTables() {
  mt::DefaultSession().Close();
}

TRestoreResult RestoreBackup(const QString& archiveName, const QString& dataDirectory) {
  using TOutcome = TRestoreResult::TOutcome;
  ReleaseTables();
  mt::TUnzipArchive zip;
  zip.SetZipName(FileName(archiveName));
  zip.SetOverwriteMode(mt::TUnzipArchive::TOverwriteMode::Always);
  zip.SetOnProcessMessages(PaintPendingWindows);
  QString dest = QDir::cleanPath(dataDirectory);
  zip.SetDestDir(FileName(dest));
  try {
    zip.ReadDirectory();
    // A file without an end record is no archive either (this raises EIncompleteZip).
    zip.CheckAll();
  } catch (const mt::EZipError&) {
    return {TOutcome::Unreadable, {}};
  }
  if (!zip.ExtractFailures().empty()) return {TOutcome::Refused, Problems(zip)};
  zip.ExtractAll();
  if (!zip.ExtractFailures().empty()) return {TOutcome::Incomplete, Problems(zip)};
  return {};
}

void RunBackup(QWidget* parent) {
  const QString chosen = Prompt().SaveFileName(parent, QStringLiteral("将数据备份到"),
                                               ProposedBackupName(QDate::currentDate()), kFilter);
  if (chosen.isEmpty()) return;
  const QString archive = BackupArchiveName(chosen);
  if (QFileInfo::exists(archive) || QFileInfo(archive).isSymLink()) {
    if (!Prompt().Confirm(parent, QStringLiteral("数据备份"),
                          archive + QStringLiteral(" 已经存在了,确定要覆盖它吗?")))
      return;
    QFile existing(archive);
    if (!existing.remove())
      throw std::runtime_error(
          ToGbk(QStringLiteral("无法删除文件 %1: %2").arg(archive, existing.errorString())));
  }
  WriteBackup(archive, DataDirectory());
  Prompt().Message(
      parent, TPrompt::TIcon::Information, QStringLiteral("数据备份"),
      QStringLiteral("数据已经成功的被备份到 ") + QFileInfo(archive).absoluteFilePath());
}

bool RunRestore(QWidget* parent) {
  using TOutcome = TRestoreResult::TOutcome;
  const QString title = QStringLiteral("数据恢复");
  const QString chosen = Prompt().OpenFileName(parent, title, QString(), kFilter);
  if (chosen.isEmpty()) return false;
  const TRestoreResult result = RestoreBackup(chosen, DataDirectory());
  const QString list = result.problems.join('\n');
  switch (result.outcome) {
    case TOutcome::Unreadable:
      Prompt().Message(parent, TPrompt::TIcon::Warning, title, kUnreadable);
      return false;
    case TOutcome::Refused:
      Prompt().Message(parent, TPrompt::TIcon::Warning, title,
                       QStringLiteral("数据没有恢复，原来的数据都保持不变:\n") + list);
      return false;
    case TOutcome::Incomplete:
      Prompt().Message(parent, TPrompt::TIcon::Warning, title,
                       QStringLiteral("下列文件没有恢复:\n") + list +
                           QStringLiteral("\n其余数据已经恢复.您需要重新登录."));
      return true;
    case TOutcome::Restored:
      break;
  }
  Prompt().Message(parent, TPrompt::TIcon::Information, title,
                   QStringLiteral("数据已经成功恢复.您需要重新登录."));
  return true;
}
