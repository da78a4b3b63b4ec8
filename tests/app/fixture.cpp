// The shared window-test fixture and recorders; see fixture.h.
#include "fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QUuid>

#include <stdexcept>

#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "dbaccess/mintoraschema.h"
#include "dbaccess/session.h"
#include "gbktext.h"
#include "globals.h"
#include "ledger/ledgerlist.h"
#include "umain.h"

namespace mt::apptest {
namespace {

// The ledger as people typed it: day, category id, description, remark, bookkeeper, amount.
struct TTypedEntry {
  const char* date;
  int itemId;
  const char* description;
  const char* memo;
  const char* user;
  double amount;
};

const TTypedEntry kTypedEntries[] = {
    {"2004-02-01", 1, "二月工资", "", "admin", 3500},
    {"2004-02-03", 4, "超市买菜", "", "张三", 86.5},
    {"2004-02-07", 5, "公交月票", "", "admin", 40},
    {"2004-02-14", 7, "情人节礼物", "玫瑰和巧克力", "admin", 199},
    {"2004-02-20", 6, "一月电费", "", "张三", 72.3},
    {"2004-02-28", 3, "活期利息", "", "admin", 12.68},
    {"2004-03-01", 1, "三月工资", "", "admin", 3500},
    {"2004-03-05", 4, "同事聚餐", "AA制", "admin", 120},
    {"2004-03-08", 7, "春装", "", "张三", 368},
    {"2004-03-15", 2, "季度奖", "", "admin", 800},
    {"2004-03-18", 5, "打车去机场", "", "admin", 65},
    {"2004-03-22", 6, "二月水费", "", "张三", 28.4},
    {"2004-04-01", 1, "四月工资", "", "admin", 3600},
    {"2004-04-05", 4, "清明节买青团", "", "张三", 32},
    {"2004-04-09", 5, "加油", "", "admin", 150},
    {"2004-04-12", 7, "电饭煲", "旧的坏了", "张三", 259},
    {"2004-04-18", 8, "豆浆油条", "", "admin", 6.5},
    {"2004-04-20", 3, "定期利息", "一年期", "admin", 45.2},
};

std::string Text(const QString& text) {
  return ToGbk(text);
}

// A closed table dataset on a table of the data directory.
std::unique_ptr<TEngineTable> OpenTable(const QString& directory, const char* name) {
  auto table = std::make_unique<TEngineTable>();
  table->SetDatabaseName(QFile::encodeName(directory).toStdString());
  table->SetTableName(name);
  table->Open();
  return table;
}

const TSampleCategory& CategoryById(int id) {
  for (const TSampleCategory& c : TSampleData::Categories())
    if (c.id == id) return c;
  throw std::logic_error("sample ledger names an unknown category");
}

void WriteEntry(TEngineTable& szzb, const TSampleEntry& e, const QString& type) {
  szzb.Append();
  szzb.FieldByName("id").SetAsInteger(e.id);
  szzb.FieldByName("date").SetAsString(e.date.toString("yyyy-MM-dd").toStdString());
  szzb.FieldByName("itemid").SetAsInteger(e.itemId);
  szzb.FieldByName("item").SetAsString(Text(e.item));
  szzb.FieldByName("description").SetAsString(Text(e.description));
  szzb.FieldByName("memo").SetAsString(Text(e.memo));
  szzb.FieldByName("user").SetAsString(Text(e.user));
  // The other amount column stays null, as the program writes entries.
  szzb.FieldByName(e.income ? "input" : "output").SetAsFloat(e.amount);
  szzb.FieldByName("type").SetAsString(Text(type));
  szzb.FieldByName("balance").SetAsFloat(e.balance);
  szzb.Post();
}

}  // namespace

const std::vector<TSampleAccount>& TSampleData::Accounts() {
  static const std::vector<TSampleAccount> accounts{
      {"admin", "admin", "admin"},
      {"张三", "家庭主账户", "zs2004"},
      {"tom", "Tom's book", "tom"},
  };
  return accounts;
}

const std::vector<TSampleCategory>& TSampleData::Categories() {
  static const std::vector<TSampleCategory> categories{
      {1, "工资", "每月工资收入", 0, -1},
      {2, "奖金", "季度奖和年终奖", 0, -1},
      {3, "利息", "银行存款利息", 0, -1},
      {4, "餐饮", "一日三餐、外出就餐", 1, -1},
      {5, "交通", "公交、地铁、打车、加油", 1, -1},
      {6, "水电煤", "水费、电费、燃气费", 1, -1},
      {7, "购物", "日用品、衣物和家电", 1, -1},
      // A category under another: the program writes none, the category picker leaves them
      // out, and entries may still name one.
      {8, "早餐", "餐饮下的早餐", 1, 4},
  };
  return categories;
}

const std::vector<TSampleNote>& TSampleData::Notes() {
  static const std::vector<TSampleNote> notes{
      {QDate(2004, 3, 1), "今天发了工资，计划这个月少在外面吃饭。\r\n目标：存下一千块。", "admin"},
      {QDate(2004, 3, 15), "拿到季度奖，请家里人吃了顿好的。", "张三"},
      {QDate(2004, 4, 12), "电饭煲坏了，买了个新的，花了259元。\r\n保修一年，发票放在抽屉里。",
       "张三"},
  };
  return notes;
}

TSampleData::TSampleData() {
  if (!scratch_.isValid()) throw std::runtime_error("cannot make a scratch folder");
  directory_ = scratch_.filePath("data");
  QDir().mkpath(directory_);
  const std::string dir = QFile::encodeName(directory_).toStdString();
  // The first account comes with the tables; the others are appended like the program does.
  CreateMintoraTables(dir, Text(Accounts()[0].name), Text(Accounts()[0].password));
  {
    auto users = OpenTable(directory_, "User");
    for (std::size_t i = 1; i < Accounts().size(); ++i) {
      const TSampleAccount& a = Accounts()[i];
      users->Append();
      users->FieldByName("name").SetAsString(Text(a.name));
      users->FieldByName("fullname").SetAsString(Text(a.fullName));
      users->FieldByName("password").SetAsString(Text(a.password));
      users->Post();
    }
  }
  {
    auto system = OpenTable(directory_, "system");
    system->Append();
    system->FieldByName("name").SetAsString("pass_admin");
    system->FieldByName("value").SetAsString("admin");
    system->Post();
  }
  {
    auto items = OpenTable(directory_, "Items");
    for (const TSampleCategory& c : Categories()) {
      items->Append();
      items->FieldByName("id").SetAsInteger(c.id);
      items->FieldByName("name").SetAsString(Text(c.name));
      items->FieldByName("description").SetAsString(Text(c.description));
      items->FieldByName("type").SetAsInteger(c.type);
      items->FieldByName("parent").SetAsInteger(c.parent);
      items->Post();
    }
  }
  {
    auto szzb = OpenTable(directory_, "szzb");
    double balance = 0;
    int id = 0;
    for (const TTypedEntry& t : kTypedEntries) {
      const TSampleCategory& category = CategoryById(t.itemId);
      const bool income = category.type == 0;
      balance += income ? t.amount : -t.amount;
      const TSampleEntry e{++id,          QDate::fromString(t.date, "yyyy-MM-dd"),
                           t.itemId,      category.name,
                           t.description, t.memo,
                           t.user,        t.amount,
                           income,        balance};
      WriteEntry(*szzb, e, income ? "0" : "1");
      entries_.push_back(e);
    }
  }
  {
    auto diary = OpenTable(directory_, "diary");
    for (const TSampleNote& n : Notes()) {
      diary->Append();
      diary->FieldByName("date").SetAsString(n.date.toString("yyyy-MM-dd").toStdString());
      diary->FieldByName("contents").SetAsString(Text(n.contents));
      diary->FieldByName("user").SetAsString(Text(n.user));
      diary->Post();
    }
  }
  scope_ = std::make_unique<TDataDirectoryScope>(directory_);
}

TSampleData::~TSampleData() {
  DefaultSession().Close();
}

double TSampleData::TotalIncome() const {
  double sum = 0;
  for (const TSampleEntry& e : entries_)
    if (e.income) sum += e.amount;
  return sum;
}

double TSampleData::TotalExpense() const {
  double sum = 0;
  for (const TSampleEntry& e : entries_)
    if (!e.income) sum += e.amount;
  return sum;
}

void TSampleData::AddLedgerRow(const TSampleEntry& entry, const QString& type) {
  auto szzb = OpenTable(directory_, "szzb");
  WriteEntry(*szzb, entry, type);
}

void FillLedgerList(TLedgerList& list, const std::vector<TSampleEntry>& entries) {
  std::vector<TLedgerRow> rows;
  for (const TSampleEntry& e : entries) {
    TLedgerRow& row = rows.emplace_back();
    row[LedgerColumn::Date] = e.date.toString("yyyy-MM-dd");
    row[LedgerColumn::Item] = e.item;
    row[LedgerColumn::Description] = e.description;
    row[e.income ? LedgerColumn::Income : LedgerColumn::Expense] = GeneralNumber(e.amount);
    row[LedgerColumn::Balance] = e.balance == 0 ? QString() : GeneralNumber(e.balance);
    row[LedgerColumn::User] = e.user;
    row[LedgerColumn::Id] = QString::number(e.id);
    row[LedgerColumn::Type] = e.income ? "0" : "1";
    row[LedgerColumn::ItemId] = QString::number(e.itemId);
    row[LedgerColumn::Memo] = e.memo;
    row[LedgerColumn::DisplayDate] = e.date.toString(GlobalVars.DateFormat);
  }
  list.Model().SetRows(std::move(rows));
}

// ---- recorders ----

void TRecordingPrompt::Message(QWidget*, TIcon icon, const QString& title, const QString& text) {
  messages << TMessage{icon, title, text};
}

bool TRecordingPrompt::Confirm(QWidget*, const QString&, const QString& text) {
  confirmations << text;
  return confirmAnswer;
}

QString TRecordingPrompt::OpenFileName(QWidget*, const QString& title, const QString&,
                                       const QString&) {
  fileDialogs << title;
  return openFileAnswer;
}

QString TRecordingPrompt::SaveFileName(QWidget*, const QString& title, const QString&,
                                       const QString&) {
  fileDialogs << title;
  return saveFileAnswer;
}

TModalAnswerer::TModalAnswerer(TAnswer answer) : answer_(std::move(answer)) {
  connect(&timer_, &QTimer::timeout, this, &TModalAnswerer::Poll);
  timer_.start(10);
}

void TModalAnswerer::Poll() {
  auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  if (!dialog || !dialog->isVisible()) return;
  seen << dialog->objectName();
  answer_(*dialog);
}

QString UniqueServerName() {
  static QTemporaryDir sockets;
  if (!sockets.isValid()) throw std::runtime_error("cannot make a scratch folder for sockets");
  return sockets.filePath(QUuid::createUuid().toString(QUuid::Id128));
}

std::unique_ptr<Tfrmmain> ShowMainWindow() {
  auto window = std::make_unique<Tfrmmain>(UniqueServerName());
  window->show();
  window->ShowDate(TSampleData::Today());
  return window;
}

void ExecSql(const char* sql) {
  TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL(sql);
  query.ExecSQL();
}

std::unique_ptr<TEngineQuery> OpenQuery(const char* sql) {
  auto query = std::make_unique<TEngineQuery>();
  query->SetDatabaseName(ToGbk(DataDirectory()));
  query->SetSQL(sql);
  query->Open();
  return query;
}

std::unique_ptr<TEngineTable> OpenTable(const char* name) {
  auto table = std::make_unique<TEngineTable>();
  table->SetDatabaseName(ToGbk(DataDirectory()));
  table->SetTableName(name);
  table->Open();
  return table;
}

void RunDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TAppFixture::TAppFixture(const QString& user)
    : previousUser_(GlobalVars.UserName), previousDateFormat_(GlobalVars.DateFormat) {
  GlobalVars.UserName = user;
  GlobalVars.DateFormat = QString::fromLatin1(kFixtureDateFormat);
}

TAppFixture::~TAppFixture() {
  GlobalVars.UserName = previousUser_;
  GlobalVars.DateFormat = previousDateFormat_;
}

TMainWindowFixture::TMainWindowFixture(const QString& user)
    : TAppFixture(user), window_(ShowMainWindow()) {}

TMainWindowFixture::~TMainWindowFixture() {
  window_.reset();
  RunDeferredDeletes();
}

}  // namespace mt::apptest
