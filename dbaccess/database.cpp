// TEngineDatabase: properties, connection and the datasets using a database.
#include "database.h"

#include <algorithm>

#include "dataset.h"
#include "dberrors.h"
#include "engine/common/literals.h"
#include "session.h"

namespace mt {

TEngineDatabase::TEngineDatabase(TComponent* owner) : TComponent(owner) {
  Sessions().AddDatabase(this);
}

TEngineDatabase::TEngineDatabase(TTemporaryTag, TEngineSession& session, std::string_view name)
    : databaseName_(NormalizeDatabaseName(name)),
      sessionName_(session.SessionName()),
      temporary_(true),
      temporarySession_(&session) {
  if (!IsMemory()) directory_ = databaseName_;
  Sessions().AddDatabase(this);
}

TEngineDatabase::~TEngineDatabase() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report a failed close.
  }
  Sessions().RemoveDatabase(this);
}

void TEngineDatabase::RequireDisconnected() const {
  if (connected_) RaiseDatabaseError(dbmsg::kDatabaseOpen);
}

void TEngineDatabase::SetDatabaseName(std::string_view name) {
  RequireDisconnected();
  databaseName_ = NormalizeDatabaseName(name);
}

void TEngineDatabase::SetDirectory(std::string_view directory) {
  RequireDisconnected();
  directory_ = NormalizeDatabaseName(directory);
}

void TEngineDatabase::SetSessionName(std::string_view name) {
  RequireDisconnected();
  sessionName_ = std::string(name);
}

void TEngineDatabase::SetHandleShared(bool shared) {
  RequireDisconnected();
  handleShared_ = shared;
}

bool TEngineDatabase::IsMemory() const {
  return EqualsKeyword(databaseName_, kMemoryDatabaseName);
}

TEngineSession& TEngineDatabase::Session() const {
  if (temporarySession_ != nullptr) return *temporarySession_;
  return Sessions().Session(sessionName_);
}

const std::shared_ptr<TDataDirectory>& TEngineDatabase::Handle() const {
  if (!connected_) RaiseDatabaseError(dbmsg::kDatabaseClosed);
  return handle_;
}

void TEngineDatabase::SetConnected(bool connected) {
  if (connected == connected_) return;
  if (connected) {
    Connect();
  } else {
    Disconnect();
  }
}

void TEngineDatabase::Connect() {
  if (BeforeConnect) BeforeConnect(*this);
  if (!temporary_) {
    if (databaseName_.empty()) RaiseDatabaseError(dbmsg::kDatabaseNameMissing);
    // A component's name is a name; paths belong in Directory.
    if (databaseName_.find('/') != std::string::npos) {
      RaiseDatabaseError(dbmsg::kDatabaseNameInvalid, {databaseName_});
    }
  }
  TEngineSession& session = Session();
  session.Open();
  if (handleShared_) {
    for (TEngineDatabase* other : session.Databases()) {
      if (other != this && other->connected_ && other->handle_ &&
          SameDatabaseName(other->databaseName_, databaseName_)) {
        handle_ = other->handle_;
        sharedHandle_ = true;
        break;
      }
    }
  }
  if (!handle_) {
    TEngineSession::TSessionLock lock(session);
    TDataSession& engine = session.EngineSession();
    const bool pathName = databaseName_.find('/') != std::string::npos;
    handle_ = engine.OpenDirectory(pathName ? std::string_view() : std::string_view(databaseName_),
                                   IsMemory() ? std::string_view() : std::string_view(directory_));
    openedBy_ = &engine;
    sharedHandle_ = false;
  }
  connectedSession_ = &session;
  connected_ = true;
}

void TEngineDatabase::Disconnect() {
  disconnecting_ = true;
  try {
    // The datasets close last opened first; each leaves the list as it closes.
    while (!dataSets_.empty()) {
      TEngineDBDataSet* ds = dataSets_.back();
      ds->Close();
      if (!dataSets_.empty() && dataSets_.back() == ds) dataSets_.pop_back();
    }
  } catch (...) {
    disconnecting_ = false;
    throw;
  }
  if (!sharedHandle_ && handle_ && openedBy_ != nullptr) {
    TEngineSession::TSessionLock lock(*connectedSession_);
    openedBy_->CloseDirectory(handle_);
  }
  connectedSession_ = nullptr;
  handle_.reset();
  openedBy_ = nullptr;
  sharedHandle_ = false;
  connected_ = false;
  users_ = 0;
  disconnecting_ = false;
}

void TEngineDatabase::AddDataSet(TEngineDBDataSet* dataSet) {
  dataSets_.push_back(dataSet);
}

void TEngineDatabase::RemoveDataSet(TEngineDBDataSet* dataSet) {
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), dataSet), dataSets_.end());
}

}  // namespace mt
