// What the program's window tests and the screenshot tour share:
//  - TSampleData: a data directory in a scratch folder holding the program's five tables,
//    filled with sample data through the dataset layer (accounts, one with a Chinese name;
//    income and expense categories with one child category; three months of ledger entries
//    with running balances; diary notes), in force as the program's data directory while it
//    lives;
//  - TRecordingPrompt and TRecordingDesktop: message boxes, file dialogs and desktop services
//    answered and recorded instead of shown or started;
//  - TModalAnswerer: answers the modal dialogs windows open, recording which ones appeared;
//  - TAppFixture: all of the above with a signed-in user, the usual start of a window test;
//    TMainWindowFixture adds the main window on its home page.
// All texts are QString here; the sample data crosses to the tables' GBK through gbktext.h.
#pragma once

#include <QDate>
#include <QDialog>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "desktop.h"
#include "prompt.h"

class TLedgerList;
class Tfrmmain;

namespace mt::apptest {

// One ledger entry of the sample data.
struct TSampleEntry {
  int id;
  QDate date;
  int itemId;
  QString item;
  QString description;
  QString memo;
  QString user;
  double amount;
  bool income;
  double balance;  // running balance after this entry, in date order
};

struct TSampleAccount {
  QString name;
  QString fullName;
  QString password;
};

struct TSampleCategory {
  int id;
  QString name;
  QString description;
  int type;  // 0 income, 1 expense
  int parent;
};

struct TSampleNote {
  QDate date;
  QString contents;
  QString user;
};

class TSampleData {
 public:
  // Makes the scratch folder, the five tables and the sample rows. Throws when the dataset
  // layer fails.
  TSampleData();
  // Closes the dataset layer's databases before the folder goes.
  ~TSampleData();
  TSampleData(const TSampleData&) = delete;
  TSampleData& operator=(const TSampleData&) = delete;

  // The data directory (full path).
  QString Directory() const { return directory_; }

  static const std::vector<TSampleAccount>& Accounts();
  static const std::vector<TSampleCategory>& Categories();
  static const std::vector<TSampleNote>& Notes();
  // The ledger entries as written, in date order.
  const std::vector<TSampleEntry>& Entries() const { return entries_; }
  double TotalIncome() const;
  double TotalExpense() const;
  // The day the sample data is seen from (after its last entry): windows shown in tests and
  // the tour use it instead of today.
  static QDate Today() { return QDate(2004, 4, 23); }

  // Appends a ledger row with the type text given (tests of rows the program would not write).
  void AddLedgerRow(const TSampleEntry& entry, const QString& type);

 private:
  QTemporaryDir scratch_;
  QString directory_;
  std::unique_ptr<TDataDirectoryScope> scope_;
  std::vector<TSampleEntry> entries_;
};

// Fills a list in the ledger list's row layout (ledger/ledgerrow.h) with these entries, in
// order, as the ledger list shows them: amounts and balances in the general number format.
void FillLedgerList(TLedgerList& list, const std::vector<TSampleEntry>& entries);

// Answers message boxes and file dialogs and records what was asked.
class TRecordingPrompt : public TPrompt {
 public:
  struct TMessage {
    TIcon icon;
    QString title;
    QString text;
  };
  void Message(QWidget* parent, TIcon icon, const QString& title, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& title, const QString& text) override;
  QString OpenFileName(QWidget* parent, const QString& title, const QString& dir,
                       const QString& filter) override;
  QString SaveFileName(QWidget* parent, const QString& title, const QString& proposed,
                       const QString& filter) override;

  QList<TMessage> messages;
  QStringList confirmations;  // texts asked
  QStringList fileDialogs;    // titles shown
  bool confirmAnswer = true;
  QString openFileAnswer;  // empty: cancelled
  QString saveFileAnswer;  // empty: cancelled
};

// Records the desktop services asked for instead of starting anything.
class TRecordingDesktop : public TDesktop {
 public:
  void OpenUrl(const QUrl& url) override { urls << url; }
  void StartDetached(const QString& program) override { started << program; }
  QList<QUrl> urls;
  QStringList started;
};

// Watches for modal dialogs while it lives and answers each one as it appears (rejects it
// unless told otherwise), recording its object name.
class TModalAnswerer : public QObject {
 public:
  using TAnswer = std::function<void(QDialog&)>;
  explicit TModalAnswerer(TAnswer answer = Reject);
  static void Reject(QDialog& dialog) { dialog.reject(); }
  static void Accept(QDialog& dialog) { dialog.accept(); }
  void SetAnswer(TAnswer answer) { answer_ = std::move(answer); }
  QStringList seen;

 private:
  void Poll();
  TAnswer answer_;
  QTimer timer_;
};

// A single-instance server name of its own: a socket path inside this test process's scratch
// folder, so a copy killed without clean-up leaves nothing in the system's temporary folder.
QString UniqueServerName();

// A main window listening on a socket name of its own (so no running copy of the program
// answers it), shown (so it opened its home page), with its date panel on TSampleData::Today().
std::unique_ptr<Tfrmmain> ShowMainWindow();

// Runs a statement without a result on the data directory (tests setting up their tables).
void ExecSql(const char* sql);
// A query dataset on the data directory with the statement open (tests reading their tables).
std::unique_ptr<TEngineQuery> OpenQuery(const char* sql);
// The named table of the data directory, open.
std::unique_ptr<TEngineTable> OpenTable(const char* name);

// Deletes the windows that closed themselves (a closed view deletes itself later).
void RunDeferredDeletes();

// Sample data, recorded prompts and desktop, and a signed-in user (restored afterwards).
// While it lives, the system's short date format reads as kFixtureDateFormat, so that the
// dates the windows show are the same texts on every machine.
inline constexpr const char* kFixtureDateFormat = "yyyy/M/d";

class TAppFixture {
 public:
  explicit TAppFixture(const QString& user = QStringLiteral("admin"));
  ~TAppFixture();

  TSampleData data;
  TRecordingPrompt prompt;
  TRecordingDesktop desktop;

 private:
  TPromptScope promptScope_{prompt};
  TDesktopScope desktopScope_{desktop};
  QString previousUser_;
  QString previousDateFormat_;
};

// A signed-in user's main window on the sample data, on its home page: where window tests of
// the main window's views and dialogs start. The window and the views it closed are gone
// before the sample data.
class TMainWindowFixture : public TAppFixture {
 public:
  explicit TMainWindowFixture(const QString& user = QStringLiteral("admin"));
  ~TMainWindowFixture();
  Tfrmmain& Window() { return *window_; }

 private:
  std::unique_ptr<Tfrmmain> window_;
};

}  // namespace mt::apptest
