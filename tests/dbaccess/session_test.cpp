// Sessions and databases: the default session and finding sessions by name, settings handed to
// the engine session, session names and automatic names, the critical section's count,
// temporary databases from directory paths with their keep-connection rule, database
// components, shared handles, the in-memory database and table passwords.
#include <gtest/gtest.h>

#include <thread>

#include "dbaccess/database.h"
#include "dbaccess/passworddialog.h"
#include "dbtest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::MessageOf;

class SessionTest : public test::TMintoraFixture {};

TEST_F(SessionTest, DefaultSessionAndLookupByName) {
  TEngineSession& def = DefaultSession();
  EXPECT_TRUE(def.IsDefault());
  EXPECT_EQ(def.SessionName(), "Default");
  EXPECT_EQ(Sessions().FindSession(""), &def);
  EXPECT_EQ(Sessions().FindSession("DEFAULT"), &def);
  EXPECT_EQ(MessageOf([] { Sessions().Session("nope"); }), "Session name nope is not valid.");

  TEngineSession other;
  other.SetSessionName("Books");
  EXPECT_EQ(&Sessions().Session("books"), &other);
  TEngineSession third;
  EXPECT_EQ(MessageOf([&] { third.SetSessionName("BOOKS"); }),
            "Session name BOOKS already exists.");
  EXPECT_EQ(MessageOf([&] { third.Open(); }), "Session name is missing.");
  EXPECT_FALSE(third.Active());

  // A dataset naming an unknown session cannot open.
  auto t = Table("User");
  t->SetSessionName("nowhere");
  EXPECT_EQ(MessageOf([&] { t->Open(); }), "Session name nowhere is not valid.");
  EXPECT_FALSE(t->Active());
}

TEST_F(SessionTest, SettingsReachTheEngineSessionAndItsTables) {
  TEngineSession s;
  s.SetSessionName("tuned");
  s.SetStrictChangeDetection(true);
  s.SetLockRetryCount(3);
  s.SetCacheLimits({1000, 200, 300, 4000, 500});
  s.SetPrivateDir("/tmp/private");
  s.Open();
  // Activating a named session activates the default session first.
  EXPECT_TRUE(DefaultSession().Active());
  TSessionSettings e = s.EngineSession().Settings();
  EXPECT_TRUE(e.strictChangeDetection);
  EXPECT_EQ(e.lockRetryCount, 3);
  EXPECT_EQ(e.lockWaitTime, 100);
  EXPECT_EQ(e.lockProtocol, TLockProtocol::Pessimistic);
  EXPECT_EQ(e.recordCacheBytes, 1000);
  EXPECT_EQ(e.blobCacheBlocks, 500);
  EXPECT_EQ(s.EngineSession().PrivateDir(), "/tmp/private");
  EXPECT_NE(&s.EngineSession(), &DefaultSession().EngineSession());

  auto t = Table("User");
  t->SetSessionName("tuned");
  t->Open();
  // Changes of an active session reach the open tables at once.
  s.SetLockWaitTime(7);
  s.SetLockProtocol(TLockProtocol::Optimistic);
  s.SetForceBufferFlush(true);
  const TSessionSettings& table = t->Cursor().Table().Settings();
  EXPECT_EQ(table.lockWaitTime, 7);
  EXPECT_EQ(table.lockProtocol, TLockProtocol::Optimistic);
  EXPECT_TRUE(table.forceBufferFlush);

  // Progress steps above 100 are ignored.
  s.SetProgressSteps(40);
  s.SetProgressSteps(101);
  EXPECT_EQ(s.ProgressSteps(), 40);
  EXPECT_EQ(s.EngineSession().ProgressSteps(), 40);

  EXPECT_EQ(MessageOf([&] { s.SetSessionName("other"); }),
            "Cannot perform this operation on an active session.");
  // Deactivating closes the session's datasets.
  s.Close();
  EXPECT_FALSE(t->Active());
}

TEST_F(SessionTest, AutomaticSessionNames) {
  TComponent form;
  TEngineTable table(&form);
  TEngineDatabase database(&form);
  auto session = std::make_unique<TEngineSession>(&form);
  session->SetName("Session1");
  session->SetAutoSessionName(true);
  const std::string first = session->SessionName();
  EXPECT_EQ(first.rfind("Session1_", 0), 0u) << first;
  EXPECT_EQ(table.SessionName(), first);
  EXPECT_EQ(database.SessionName(), first);
  EXPECT_EQ(MessageOf([&] { session->SetSessionName("x"); }),
            "Cannot perform this operation on the active auto-session.");
  EXPECT_EQ(MessageOf([&] { TEngineSession second(&form); }), "This auto-session already exists.");

  // Another owner takes the next free number; a freed number is taken again.
  TComponent other;
  TEngineSession next(&other);
  next.SetName("Session1");
  next.SetAutoSessionName(true);
  EXPECT_NE(next.SessionName(), first);
  session.reset();
  TComponent third;
  TEngineSession again(&third);
  again.SetName("Session1");
  again.SetAutoSessionName(true);
  EXPECT_EQ(again.SessionName(), first);

  // Only a session alone on its owner may name itself.
  TComponent crowded;
  TEngineSession a(&crowded);
  TEngineSession b(&crowded);
  EXPECT_EQ(MessageOf([&] { a.SetAutoSessionName(true); }),
            "The active auto-session can be the only active session.");
}

TEST_F(SessionTest, CriticalSectionCountsTakesPerSession) {
  TEngineSession a;
  TEngineSession b;
  a.LockSession();
  a.LockSession();
  EXPECT_EQ(a.LockCount(), 2);
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = b.TryLockSession(); }).join();
  EXPECT_FALSE(otherGotIt);
  a.UnlockSession();
  std::thread([&] { otherGotIt = b.TryLockSession(); }).join();
  EXPECT_FALSE(otherGotIt);  // still held once
  a.UnlockSession();
  EXPECT_EQ(a.LockCount(), 0);
  std::thread([&] {
    otherGotIt = b.TryLockSession();
    if (otherGotIt) b.UnlockSession();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST_F(SessionTest, TemporaryDatabasesFromDirectoryPaths) {
  auto users = Table("User");
  auto items = Table("Items");
  users->Open();
  items->Open();
  TEngineDatabase* db = users->Database();
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(db->Temporary());
  EXPECT_EQ(db->DatabaseName(), Dir());
  EXPECT_EQ(db->Directory(), Dir());
  EXPECT_EQ(items->Database(), db);
  EXPECT_EQ(db->UserCount(), 2);

  // Other spellings of the same directory find the same database; a name differing in letter
  // case names another directory.
  EXPECT_EQ(DefaultSession().FindDatabase(Dir() + "/"), db);
  EXPECT_EQ(DefaultSession().FindDatabase("//" + Dir().substr(1) + "//"), db);
  std::string upper = Dir();
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(DefaultSession().FindDatabase(upper), nullptr);
  auto third = Table("diary");
  third->SetDatabaseName(Dir() + "/");
  third->Open();
  EXPECT_EQ(third->Database(), db);
  third->Close();

  // Closing one dataset leaves the database to the other; with KeepConnections on it stays
  // connected after the last.
  users->Close();
  EXPECT_TRUE(db->Connected());
  items->Close();
  EXPECT_EQ(DefaultSession().FindDatabase(Dir()), db);
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(db->UserCount(), 0);
}

TEST_F(SessionTest, WithoutKeepConnectionsTheLastCloseDropsTheTemporaryDatabase) {
  TEngineSession s;
  s.SetSessionName("brief");
  s.SetKeepConnections(false);
  auto t = Table("User");
  t->SetSessionName("brief");
  t->Open();
  EXPECT_EQ(s.Databases().size(), 1u);
  EXPECT_EQ(s.EngineSession().DirectoryCount(), 1u);
  t->Close();
  EXPECT_TRUE(s.Databases().empty());
  EXPECT_EQ(s.EngineSession().DirectoryCount(), 0u);
  // A database that cannot be used is not kept either.
  t->SetTableName("missing");
  EXPECT_EQ(ErrorCodeOf([&] { t->Open(); }), err::kTableNotFound);
  EXPECT_TRUE(s.Databases().empty());
}

TEST_F(SessionTest, DatabaseComponents) {
  TComponent form;
  TEngineDatabase db(&form);
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Database name is missing.");
  db.SetDatabaseName("data/x");
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Database name data/x is not valid.");
  EXPECT_EQ(MessageOf([&] { db.Handle(); }), "Cannot perform this operation on a closed database.");
  db.SetDatabaseName("Books");
  db.SetDirectory(Dir());
  std::vector<std::string> connects;
  db.BeforeConnect = [&](TEngineDatabase& d) { connects.push_back(d.DatabaseName()); };

  // Datasets naming the component use its directory.
  TEngineTable users(&form);
  users.SetDatabaseName("books");
  users.SetTableName("User");
  TEngineTable items(&form);
  items.SetDatabaseName("Books");
  items.SetTableName("Items");
  users.Open();
  items.Open();
  EXPECT_EQ(users.Database(), &db);
  EXPECT_EQ(connects, std::vector<std::string>{"Books"});
  EXPECT_EQ(users.FieldByName("name").AsString(), "admin");
  EXPECT_EQ(MessageOf([&] { db.SetDirectory("/elsewhere"); }),
            "Cannot perform this operation on an open database.");

  // A second component of the same name shares the first one's directory object.
  TComponent other;
  TEngineDatabase shared(&other);
  shared.SetDatabaseName("Books");
  shared.SetHandleShared(true);
  shared.Open();
  EXPECT_TRUE(shared.HandleIsShared());
  EXPECT_EQ(shared.Handle(), db.Handle());
  const std::size_t directories = DefaultSession().EngineSession().DirectoryCount();
  shared.Close();
  EXPECT_EQ(DefaultSession().EngineSession().DirectoryCount(), directories);

  // Disconnecting closes the datasets, the last opened first; the database component stays
  // disconnected after its last dataset closes only when it does not keep its connection.
  std::vector<std::string> closed;
  users.AfterClose = [&](TEngineDataSet&) { closed.push_back("User"); };
  items.AfterClose = [&](TEngineDataSet&) { closed.push_back("Items"); };
  db.Close();
  EXPECT_EQ(closed, (std::vector<std::string>{"Items", "User"}));
  EXPECT_FALSE(users.Active());
  db.SetKeepConnection(false);
  users.Open();
  EXPECT_TRUE(db.Connected());
  users.Close();
  EXPECT_FALSE(db.Connected());
}

TEST_F(SessionTest, MemoryDatabaseHoldsTablesInMemory) {
  TDataTable("", "scratchpad", true).Create([] {
    TTableCreateParams p;
    TFieldDescriptor f;
    f.name = "note";
    ApplyTypeName(f, "CHAR(10)");
    p.fields.push_back(f);
    return p;
  }());
  TEngineTable t;
  t.SetDatabaseName("memory");
  t.SetTableName("scratchpad");
  t.Open();
  EXPECT_TRUE(t.Database()->IsMemory());
  EXPECT_EQ(t.Database()->Directory(), "");
  t.Append();
  t.FieldByName("note").SetAsString("kept");
  t.Post();
  t.Close();
  t.Open();
  EXPECT_EQ(t.FieldByName("note").AsString(), "kept");
  t.Close();
  // A disk table of the name is another table.
  t.SetDatabaseName(Dir());
  EXPECT_EQ(ErrorCodeOf([&] { t.Open(); }), err::kTableNotFound);
}

TEST_F(SessionTest, PasswordsForEncryptedTables) {
  {
    TTableCreateParams p;
    TFieldDescriptor f;
    f.name = "secret";
    ApplyTypeName(f, "CHAR(10)");
    p.fields.push_back(f);
    p.encrypted = true;
    p.password = "open sesame";
    TDataTable(Dir(), "vault").Create(p);
  }
  TEngineSession s;
  s.SetSessionName("locked");
  auto t = Table("vault");
  t->SetSessionName("locked");

  // Neither a handler nor a dialog: the table stays closed.
  SetPasswordDialog({});
  EXPECT_EQ(ErrorCodeOf([&] { t->Open(); }), err::kPasswordRequired);
  EXPECT_FALSE(t->Active());

  // The dialog is asked when there is no handler; it adds the password and answers OK.
  int asked = 0;
  SetPasswordDialog([&](TEngineSession& session) {
    ++asked;
    TPasswordDialogState dialog(session);
    EXPECT_FALSE(dialog.OkEnabled());
    dialog.SetText("wrong");
    EXPECT_TRUE(dialog.AddEnabled());
    dialog.Add();
    EXPECT_EQ(dialog.Text(), "");
    EXPECT_FALSE(dialog.AddEnabled());
    EXPECT_TRUE(dialog.OkEnabled());
    dialog.SetText("open sesame");
    dialog.Ok();
    return true;
  });
  t->Open();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(s.Passwords(), (std::vector<std::string>{"wrong", "open sesame"}));
  t->Close();

  // A handler is asked before the dialog; the known passwords open the table at once.
  s.RemovePassword("open sesame");
  s.OnPassword = [&](TEngineSession& session) {
    session.AddPassword("open sesame");
    return true;
  };
  t->Open();
  EXPECT_EQ(asked, 1);
  t->Close();
  s.RemoveAllPasswords();
  s.OnPassword = [](TEngineSession&) { return false; };
  EXPECT_EQ(ErrorCodeOf([&] { t->Open(); }), err::kPasswordRequired);
  SetPasswordDialog({});
}

}  // namespace
}  // namespace mt
