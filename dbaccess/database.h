// TEngineDatabase: one directory of table files opened within a session.
//
// A database component is made by its user and named by DatabaseName (no "/" in it; the
// Directory property says where its tables are). A temporary database is made by its session
// when a dataset names a database no component has: its name and directory are the dataset's
// text, normally the data directory's path, or the name "Memory", which means the in-memory
// database (tables held in memory, no directory).
//
// While connected a database holds the engine's directory object (TDataDirectory), its own or,
// with HandleShared, the one of another connected database of the same name in the session;
// it counts the datasets using it and lists them. Disconnecting closes those datasets (the last
// opened first) and gives the directory object back.
//
// Every name and directory is stored normalized (session.h: NormalizeDatabaseName).
//
// Thread-safety: used by one thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "component.h"
#include "engine/storage/datadirectory.h"

namespace mt {

class TDataSession;
class TEngineDBDataSet;
class TEngineSession;

class TEngineDatabase : public TComponent {
 public:
  static constexpr std::string_view kMemoryDatabaseName = "Memory";
  static constexpr std::string_view kEngineVersion = "3.24";

  // Runs at the start of every connection.
  std::function<void(TEngineDatabase&)> BeforeConnect;

  explicit TEngineDatabase(TComponent* owner = nullptr);
  ~TEngineDatabase() override;

  // ---- properties (names, directory and session only while disconnected) ----
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string_view name);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string_view directory);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(std::string_view name);
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool keep) { keepConnection_ = keep; }
  bool HandleShared() const { return handleShared_; }
  void SetHandleShared(bool shared);

  bool Temporary() const { return temporary_; }
  // The database named "Memory": its tables are in memory.
  bool IsMemory() const;

  // ---- connection ----
  bool Connected() const { return connected_; }
  void SetConnected(bool connected);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // The session the database belongs to ("Session name %s is not valid." when none has its
  // session name).
  TEngineSession& Session() const;
  // The engine's directory object; "Cannot perform this operation on a closed database." while
  // disconnected.
  const std::shared_ptr<TDataDirectory>& Handle() const;
  bool HandleIsShared() const { return sharedHandle_; }

  // The datasets using the database now, in the order they opened, and how many use it.
  const std::vector<TEngineDBDataSet*>& DataSets() const { return dataSets_; }
  int UserCount() const { return users_; }

 private:
  friend class TEngineSession;
  friend class TEngineDBDataSet;
  struct TTemporaryTag {};
  TEngineDatabase(TTemporaryTag, TEngineSession& session, std::string_view name);

  void Connect();
  void Disconnect();
  void RequireDisconnected() const;
  void AddDataSet(TEngineDBDataSet* dataSet);
  void RemoveDataSet(TEngineDBDataSet* dataSet);

  std::string databaseName_;
  std::string directory_;
  std::string sessionName_;
  bool keepConnection_ = true;
  bool handleShared_ = false;
  bool temporary_ = false;
  bool connected_ = false;
  bool disconnecting_ = false;
  std::shared_ptr<TDataDirectory> handle_;
  bool sharedHandle_ = false;
  TDataSession* openedBy_ = nullptr;            // the engine session that opened handle_
  TEngineSession* connectedSession_ = nullptr;  // the session while connected
  TEngineSession* temporarySession_ = nullptr;  // the session a temporary database belongs to
  std::vector<TEngineDBDataSet*> dataSets_;
  int users_ = 0;
};

}  // namespace mt
