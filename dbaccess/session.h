// Sessions: TEngineSession, one connection of the process to the storage engine, and
// TSessionList, the process's list of sessions with the default session "Default".
//
// A session holds the settings its engine session (TDataSession) runs with, the databases
// opened within it (TEngineDatabase, database.h) and the passwords known for encrypted tables.
// Datasets find their session by name through the list (an empty name is the default session)
// and ask it for their database by name; a name that matches no database component makes the
// session create a temporary database on that directory (OpenDatabase).
//
// The default session uses the process-wide engine session; every other session makes its own
// when it is activated and drops it when deactivated. Only local sessions exist.
//
// Critical section. One process-wide section guards session activation and every call into an
// engine session. A session may take it repeatedly: it is entered on the session's first take
// and left when the session's count of takes returns to zero (TSessionLock). The section is
// recursive, so a session that activates the default session while holding it does not wait
// on itself.
//
// Thread-safety: the session list is thread-safe; a session object and its databases are used
// by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "component.h"
#include "datasession.h"
#include "engine/storage/datatable.h"

namespace mt {

class TEngineDatabase;
class TEngineSession;

class TSessionList {
 public:
  // The list of the process, made with the default session on first use.
  static TSessionList& Instance();

  TEngineSession& DefaultSession();
  // The session of that name without regard to letter case (empty: the default session);
  // nullptr when there is none.
  TEngineSession* FindSession(std::string_view name) const;
  // The same; "Session name %s is not valid." when there is none.
  TEngineSession& Session(std::string_view name) const;
  std::vector<TEngineSession*> AllSessions() const;

  // Every database object of the process (components and temporary ones).
  std::vector<TEngineDatabase*> AllDatabases() const;

 private:
  friend class TEngineSession;
  friend class TEngineDatabase;
  TSessionList() = default;
  void AddSession(TEngineSession* session);
  void RemoveSession(TEngineSession* session);
  // The lowest number no automatically named session uses, now taken.
  int TakeAutoNumber();
  void ReleaseAutoNumber(int number);
  void AddDatabase(TEngineDatabase* database);
  void RemoveDatabase(TEngineDatabase* database);

  mutable std::mutex mutex_;
  std::vector<TEngineSession*> sessions_;
  std::vector<bool> autoNumbers_;
  std::vector<TEngineDatabase*> databases_;
  TEngineSession* default_ = nullptr;
};

// The session list and the default session.
TSessionList& Sessions();
TEngineSession& DefaultSession();

class TEngineSession : public TComponent {
 public:
  static constexpr std::string_view kDefaultSessionName = "Default";
  static constexpr std::string_view kEngineVersion = "3.24";
  static constexpr int kMaxProgressSteps = 100;

  // Handlers. OnStartup runs at the start of every activation. OnPassword is asked when a
  // table needs a password the session does not know; it adds passwords (AddPassword) and
  // returns true to have the table tried again.
  std::function<void(TEngineSession&)> OnStartup;
  std::function<bool(TEngineSession&)> OnPassword;

  // A session of the list (registered at once). "This auto-session already exists." when the
  // owner already has an automatically named session.
  explicit TEngineSession(TComponent* owner = nullptr);
  ~TEngineSession() override;

  bool IsDefault() const { return isDefault_; }

  // ---- activation ----
  bool Active() const { return active_; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // ---- names ----
  const std::string& SessionName() const { return sessionName_; }
  // Only while inactive; "Cannot perform this operation on the active auto-session." for an
  // automatically named session; "Session name %s already exists." for another's name.
  void SetSessionName(std::string name);
  bool AutoSessionName() const { return autoSessionName_; }
  // On: takes the lowest free number n and names the session "<component name>_<n + 1>",
  // giving that name to every dataset and database of its owner. Only one session may be on
  // the owner for this ("The active auto-session can be the only active session.").
  void SetAutoSessionName(bool on);

  // ---- settings (forwarded to the engine session at once while active) ----
  bool KeepConnections() const { return keepConnections_; }
  void SetKeepConnections(bool keep) { keepConnections_ = keep; }
  bool ForceBufferFlush() const { return forceBufferFlush_; }
  void SetForceBufferFlush(bool on);
  bool StrictChangeDetection() const { return strictChangeDetection_; }
  void SetStrictChangeDetection(bool on);
  uint8_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(uint8_t count);
  uint16_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(uint16_t milliseconds);
  TLockProtocol LockProtocol() const { return lockProtocol_; }
  void SetLockProtocol(TLockProtocol protocol);
  const std::string& PrivateDir() const { return privateDir_; }
  void SetPrivateDir(std::string directory);
  uint16_t ProgressSteps() const { return progressSteps_; }
  // Values above 100 are ignored.
  void SetProgressSteps(uint16_t steps);
  // The five cache limits handed to the engine session at activation.
  struct TCacheLimits {
    int32_t recordBytes = 16384;
    int32_t records = 8192;
    int32_t reserved = 16384;
    int32_t blobBytes = 32768;
    int32_t blobBlocks = 8192;
  };
  const TCacheLimits& CacheLimits() const { return cacheLimits_; }
  void SetCacheLimits(const TCacheLimits& limits);

  // ---- the engine session (activates the session) ----
  TDataSession& EngineSession();
  TSessionSettings EngineSettings();

  // ---- passwords ----
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  std::vector<std::string> Passwords();
  // What every cursor and statement of the session's datasets gets: the passwords known now
  // and the way to ask for more (OnPassword, else the password dialog of passworddialog.h).
  TPasswordSource PasswordSource();
  // Asks for passwords as the engine does when a table needs one; true to try again.
  bool AskPassword();

  // ---- databases ----
  // The databases of this session: components whose session name names it, and its
  // temporary databases.
  std::vector<TEngineDatabase*> Databases() const;
  // The database of that name (letter case ignored; names holding "/" are paths and compare
  // exactly), preferring one owned by `owner`; nullptr when there is none.
  TEngineDatabase* FindDatabase(std::string_view name, const TComponent* owner = nullptr) const;
  // For a dataset: the database of that name, or a new temporary one on that directory (the
  // name "Memory": the in-memory database), connected and counted one more user.
  TEngineDatabase& OpenDatabase(std::string_view name, const TComponent* owner = nullptr);
  // One user less; at none, a database that does not keep its connection is disconnected
  // (a temporary one destroyed).
  void CloseDatabase(TEngineDatabase& database);

  // ---- the critical section ----
  class TSessionLock {
   public:
    explicit TSessionLock(TEngineSession& session) : session_(session) { session_.LockSession(); }
    ~TSessionLock() { session_.UnlockSession(); }
    TSessionLock(const TSessionLock&) = delete;
    TSessionLock& operator=(const TSessionLock&) = delete;

   private:
    TEngineSession& session_;
  };
  void LockSession();
  void UnlockSession();
  int LockCount() const { return lockCount_; }
  // Enters the section only when no other thread holds it; true when this session now holds
  // it (then UnlockSession gives it back).
  bool TryLockSession();

 private:
  friend class TSessionList;
  friend class TEngineDatabase;
  struct TDefaultTag {};
  TEngineSession(TDefaultTag);

  void Activate();
  void Deactivate();
  void RequireInactive() const;
  // Runs a call into the engine session under the section when the session is active.
  template <class F>
  void Forward(F call);
  void DestroyTemporary(TEngineDatabase& database);
  void CheckNameFree(std::string_view name) const;
  void RenameOwned(const std::string& name);

  bool isDefault_ = false;
  bool active_ = false;
  bool autoSessionName_ = false;
  int autoNumber_ = -1;
  std::string sessionName_;
  bool keepConnections_ = true;
  bool forceBufferFlush_ = false;
  bool strictChangeDetection_ = false;
  uint8_t lockRetryCount_ = 15;
  uint16_t lockWaitTime_ = 100;
  TLockProtocol lockProtocol_ = TLockProtocol::Pessimistic;
  std::string privateDir_;
  uint16_t progressSteps_ = 20;
  TCacheLimits cacheLimits_;

  TDataSession* engine_ = nullptr;
  std::unique_ptr<TDataSession> ownEngine_;
  std::vector<std::unique_ptr<TEngineDatabase>> temporaries_;
  int lockCount_ = 0;
};

// Names compare as the session compares database names: a name holding "/" is a directory
// path and compares exactly; other names compare without regard to ASCII letter case.
bool SameDatabaseName(std::string_view a, std::string_view b);
// A database name or directory as stored: surrounding blanks removed and, for a path, runs of
// "/" made one and a trailing "/" dropped, so that two spellings of one directory find one
// database.
std::string NormalizeDatabaseName(std::string_view name);

}  // namespace mt
