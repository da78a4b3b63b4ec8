// Sessions: the session list, activation, settings, names, passwords and the session's
// databases.
#include "session.h"

#include <algorithm>

#include "database.h"
#include "dataset.h"
#include "dberrors.h"
#include "engine/common/literals.h"
#include "passworddialog.h"

namespace mt {
namespace {

// The process-wide critical section of the sessions. Recursive: a session holding it may
// activate the default session, which takes it on its own count.
std::recursive_mutex& SessionSection() {
  static std::recursive_mutex* section = new std::recursive_mutex();  // used until exit
  return *section;
}

bool IsPath(std::string_view name) {
  return name.find('/') != std::string_view::npos;
}

bool SameSessionName(std::string_view a, std::string_view b) {
  return EqualsKeyword(a, b);
}

}  // namespace

// ---- names -----------------------------------------------------------------------------

bool SameDatabaseName(std::string_view a, std::string_view b) {
  if (IsPath(a) || IsPath(b)) return a == b;
  return EqualsKeyword(a, b);
}

std::string NormalizeDatabaseName(std::string_view name) {
  const std::size_t first = name.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  name = name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
  if (!IsPath(name)) return std::string(name);
  std::string out;
  for (char c : name) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// ---- the session list --------------------------------------------------------------------

TSessionList& TSessionList::Instance() {
  // Made once and kept until exit: datasets and databases may outlive any static object.
  static TSessionList* list = [] {
    auto* l = new TSessionList();
    l->default_ = new TEngineSession(TEngineSession::TDefaultTag{});
    l->sessions_.push_back(l->default_);
    return l;
  }();
  return *list;
}

TSessionList& Sessions() {
  return TSessionList::Instance();
}

TEngineSession& DefaultSession() {
  return Sessions().DefaultSession();
}

TEngineSession& TSessionList::DefaultSession() {
  return *default_;
}

TEngineSession* TSessionList::FindSession(std::string_view name) const {
  if (name.empty()) return default_;
  std::lock_guard<std::mutex> lock(mutex_);
  for (TEngineSession* s : sessions_) {
    if (SameSessionName(s->SessionName(), name)) return s;
  }
  return nullptr;
}

TEngineSession& TSessionList::Session(std::string_view name) const {
  TEngineSession* s = FindSession(name);
  if (s == nullptr) RaiseDatabaseError(dbmsg::kSessionNameInvalid, {name});
  return *s;
}

std::vector<TEngineSession*> TSessionList::AllSessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_;
}

std::vector<TEngineDatabase*> TSessionList::AllDatabases() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return databases_;
}

void TSessionList::AddSession(TEngineSession* session) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.push_back(session);
}

void TSessionList::RemoveSession(TEngineSession* session) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

int TSessionList::TakeAutoNumber() {
  std::lock_guard<std::recursive_mutex> section(SessionSection());
  std::lock_guard<std::mutex> lock(mutex_);
  const auto free = std::find(autoNumbers_.begin(), autoNumbers_.end(), false);
  const int n = static_cast<int>(free - autoNumbers_.begin());
  if (free == autoNumbers_.end()) {
    autoNumbers_.push_back(true);
  } else {
    *free = true;
  }
  return n;
}

void TSessionList::ReleaseAutoNumber(int number) {
  std::lock_guard<std::recursive_mutex> section(SessionSection());
  std::lock_guard<std::mutex> lock(mutex_);
  if (number >= 0 && number < static_cast<int>(autoNumbers_.size())) autoNumbers_[number] = false;
}

void TSessionList::AddDatabase(TEngineDatabase* database) {
  std::lock_guard<std::mutex> lock(mutex_);
  databases_.push_back(database);
}

void TSessionList::RemoveDatabase(TEngineDatabase* database) {
  std::lock_guard<std::mutex> lock(mutex_);
  databases_.erase(std::remove(databases_.begin(), databases_.end(), database), databases_.end());
}

// ---- sessions ----------------------------------------------------------------------------

TEngineSession::TEngineSession(TDefaultTag) : isDefault_(true), sessionName_(kDefaultSessionName) {}

TEngineSession::TEngineSession(TComponent* owner) : TComponent(owner) {
  if (owner != nullptr) {
    for (TComponent* c : owner->Components()) {
      auto* other = c != this ? dynamic_cast<TEngineSession*>(c) : nullptr;
      if (other != nullptr && other->autoSessionName_) {
        RaiseDatabaseError(dbmsg::kAutoSessionExists);
      }
    }
  }
  Sessions().AddSession(this);
}

TEngineSession::~TEngineSession() {
  try {
    Deactivate();
  } catch (const std::exception&) {
    // A destructor cannot report a failed close; the tables' own close wrote what it could.
  }
  if (autoNumber_ >= 0) Sessions().ReleaseAutoNumber(autoNumber_);
  Sessions().RemoveSession(this);
}

void TEngineSession::RequireInactive() const {
  if (active_) RaiseDatabaseError(dbmsg::kSessionActive);
}

void TEngineSession::SetActive(bool active) {
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void TEngineSession::Activate() {
  if (active_) return;
  if (OnStartup) OnStartup(*this);
  if (sessionName_.empty()) RaiseDatabaseError(dbmsg::kSessionNameMissing);
  if (!isDefault_) DefaultSession().Open();
  TSessionLock lock(*this);
  TDataSession* engine = &TDataSession::Process();
  if (!isDefault_) {
    ownEngine_ = std::make_unique<TDataSession>();
    engine = ownEngine_.get();
  }
  engine->SetPrivateDir(privateDir_);
  engine->SetStrictChangeDetection(strictChangeDetection_);
  engine->SetForceBufferFlush(forceBufferFlush_);
  engine->SetLockRetryCount(lockRetryCount_);
  engine->SetLockWaitTime(lockWaitTime_);
  engine->SetLockProtocol(lockProtocol_);
  engine->SetProgressSteps(progressSteps_);
  engine->SetCacheLimits(cacheLimits_.recordBytes, cacheLimits_.records, cacheLimits_.reserved,
                         cacheLimits_.blobBytes, cacheLimits_.blobBlocks);
  engine_ = engine;
  active_ = true;
}

void TEngineSession::Deactivate() {
  if (!active_) return;
  while (!temporaries_.empty())
    DestroyTemporary(*temporaries_.back());
  for (TEngineDatabase* db : Databases()) {
    if (db->Connected()) db->Close();
  }
  TSessionLock lock(*this);
  engine_ = nullptr;
  ownEngine_.reset();
  active_ = false;
}

template <class F>
void TEngineSession::Forward(F call) {
  if (!active_) return;
  TSessionLock lock(*this);
  call(*engine_);
}

TDataSession& TEngineSession::EngineSession() {
  Activate();
  return *engine_;
}

TSessionSettings TEngineSession::EngineSettings() {
  TSessionLock lock(*this);
  return EngineSession().Settings();
}

// ---- names -------------------------------------------------------------------------------

void TEngineSession::CheckNameFree(std::string_view name) const {
  if (name.empty()) return;
  for (TEngineSession* s : Sessions().AllSessions()) {
    if (s != this && SameSessionName(s->sessionName_, name)) {
      RaiseDatabaseError(dbmsg::kSessionNameExists, {name});
    }
  }
}

void TEngineSession::SetSessionName(std::string name) {
  if (autoSessionName_) RaiseDatabaseError(dbmsg::kAutoSessionActive);
  RequireInactive();
  if (!SameSessionName(name, sessionName_)) CheckNameFree(name);
  sessionName_ = std::move(name);
}

void TEngineSession::RenameOwned(const std::string& name) {
  if (Owner() == nullptr) return;
  for (TComponent* c : Owner()->Components()) {
    if (auto* ds = dynamic_cast<TEngineDBDataSet*>(c)) {
      ds->SetSessionName(name);
    } else if (auto* db = dynamic_cast<TEngineDatabase*>(c)) {
      db->SetSessionName(name);
    }
  }
}

void TEngineSession::SetAutoSessionName(bool on) {
  if (on == autoSessionName_) return;
  RequireInactive();
  if (!on) {
    Sessions().ReleaseAutoNumber(autoNumber_);
    autoNumber_ = -1;
    autoSessionName_ = false;
    return;
  }
  if (Owner() != nullptr) {
    for (TComponent* c : Owner()->Components()) {
      if (c != this && dynamic_cast<TEngineSession*>(c) != nullptr) {
        RaiseDatabaseError(dbmsg::kAutoSessionExclusive);
      }
    }
  }
  const int n = Sessions().TakeAutoNumber();
  const std::string name = Name() + "_" + std::to_string(n + 1);
  try {
    CheckNameFree(name);
  } catch (...) {
    Sessions().ReleaseAutoNumber(n);
    throw;
  }
  autoNumber_ = n;
  autoSessionName_ = true;
  sessionName_ = name;
  RenameOwned(name);
}

// ---- settings ----------------------------------------------------------------------------

void TEngineSession::SetForceBufferFlush(bool on) {
  forceBufferFlush_ = on;
  Forward([&](TDataSession& e) { e.SetForceBufferFlush(on); });
}

void TEngineSession::SetStrictChangeDetection(bool on) {
  strictChangeDetection_ = on;
  Forward([&](TDataSession& e) { e.SetStrictChangeDetection(on); });
}

void TEngineSession::SetLockRetryCount(uint8_t count) {
  lockRetryCount_ = count;
  Forward([&](TDataSession& e) { e.SetLockRetryCount(count); });
}

void TEngineSession::SetLockWaitTime(uint16_t milliseconds) {
  lockWaitTime_ = milliseconds;
  Forward([&](TDataSession& e) { e.SetLockWaitTime(milliseconds); });
}

void TEngineSession::SetLockProtocol(TLockProtocol protocol) {
  lockProtocol_ = protocol;
  Forward([&](TDataSession& e) { e.SetLockProtocol(protocol); });
}

void TEngineSession::SetPrivateDir(std::string directory) {
  privateDir_ = std::move(directory);
  Forward([&](TDataSession& e) { e.SetPrivateDir(privateDir_); });
}

void TEngineSession::SetProgressSteps(uint16_t steps) {
  if (steps > kMaxProgressSteps) return;
  progressSteps_ = steps;
  Forward([&](TDataSession& e) { e.SetProgressSteps(steps); });
}

void TEngineSession::SetCacheLimits(const TCacheLimits& limits) {
  cacheLimits_ = limits;
  Forward([&](TDataSession& e) {
    e.SetCacheLimits(limits.recordBytes, limits.records, limits.reserved, limits.blobBytes,
                     limits.blobBlocks);
  });
}

// ---- passwords ---------------------------------------------------------------------------

void TEngineSession::AddPassword(std::string_view password) {
  TSessionLock lock(*this);
  EngineSession().AddPassword(password);
}

void TEngineSession::RemovePassword(std::string_view password) {
  TSessionLock lock(*this);
  EngineSession().RemovePassword(password);
}

void TEngineSession::RemoveAllPasswords() {
  TSessionLock lock(*this);
  EngineSession().RemoveAllPasswords();
}

std::vector<std::string> TEngineSession::Passwords() {
  TSessionLock lock(*this);
  return EngineSession().Passwords();
}

bool TEngineSession::AskPassword() {
  if (OnPassword) return OnPassword(*this);
  if (const TPasswordDialog dialog = PasswordDialog()) return dialog(*this);
  return false;
}

TPasswordSource TEngineSession::PasswordSource() {
  TPasswordSource source;
  source.known = Passwords();
  source.askMore = [this](std::vector<std::string>& known) {
    const bool again = AskPassword();
    known = Passwords();
    return again;
  };
  return source;
}

// ---- databases ---------------------------------------------------------------------------

std::vector<TEngineDatabase*> TEngineSession::Databases() const {
  std::vector<TEngineDatabase*> result;
  for (TEngineDatabase* db : Sessions().AllDatabases()) {
    if (db->Temporary()) continue;
    if (Sessions().FindSession(db->SessionName()) == this) result.push_back(db);
  }
  for (const auto& t : temporaries_)
    result.push_back(t.get());
  return result;
}

TEngineDatabase* TEngineSession::FindDatabase(std::string_view name,
                                              const TComponent* owner) const {
  const std::string wanted = NormalizeDatabaseName(name);
  TEngineDatabase* found = nullptr;
  for (TEngineDatabase* db : Databases()) {
    if (!db->Temporary() && db->DatabaseName().empty()) continue;
    if (!SameDatabaseName(db->DatabaseName(), wanted)) continue;
    if (owner != nullptr && db->Owner() == owner) return db;
    if (found == nullptr) found = db;
  }
  return found;
}

TEngineDatabase& TEngineSession::OpenDatabase(std::string_view name, const TComponent* owner) {
  TEngineDatabase* db = FindDatabase(name, owner);
  if (db == nullptr) {
    auto made = std::unique_ptr<TEngineDatabase>(
        new TEngineDatabase(TEngineDatabase::TTemporaryTag{}, *this, name));
    made->SetKeepConnection(keepConnections_);
    db = made.get();
    temporaries_.push_back(std::move(made));
  }
  try {
    db->Open();
  } catch (...) {
    // A temporary database that cannot connect is not kept.
    if (db->Temporary() && db->UserCount() == 0) DestroyTemporary(*db);
    throw;
  }
  ++db->users_;
  return *db;
}

void TEngineSession::CloseDatabase(TEngineDatabase& database) {
  if (database.users_ > 0) --database.users_;
  if (database.users_ > 0 || database.disconnecting_ || database.KeepConnection()) return;
  if (database.Temporary()) {
    DestroyTemporary(database);
  } else {
    database.Close();
  }
}

void TEngineSession::DestroyTemporary(TEngineDatabase& database) {
  auto it = std::find_if(temporaries_.begin(), temporaries_.end(),
                         [&](const auto& t) { return t.get() == &database; });
  if (it == temporaries_.end()) return;
  // Out of the list first, so that closing its datasets cannot reach it again.
  std::unique_ptr<TEngineDatabase> doomed = std::move(*it);
  temporaries_.erase(it);
  doomed->Close();
}

// ---- the critical section ------------------------------------------------------------------

void TEngineSession::LockSession() {
  if (lockCount_ == 0) SessionSection().lock();
  ++lockCount_;
}

void TEngineSession::UnlockSession() {
  if (lockCount_ == 0) return;
  if (--lockCount_ == 0) SessionSection().unlock();
}

bool TEngineSession::TryLockSession() {
  if (lockCount_ == 0 && !SessionSection().try_lock()) return false;
  ++lockCount_;
  return true;
}

}  // namespace mt
