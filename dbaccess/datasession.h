// TDataSession: the engine side of a session. It keeps the settings the session's tables lock,
// detect changes and cache by (TSessionSettings), the private directory and progress steps, the
// passwords known for encrypted tables, and the database directories opened through it.
//
// A TEngineSession hands its properties to one of these when it is activated and forwards each
// later change at once; a changed setting also reaches the tables open through the session's
// directories, which read it at their next operation. (A table object is shared by every
// cursor of the process, so the last session to set its settings wins; the program uses one
// session.)
//
// Thread-safety: the session's own state is guarded by one mutex, so the getters may be called
// from any thread. A setter that reaches open tables changes them on the calling thread, which
// must be the thread that owns those tables (datatable.h); debug builds check it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/datadirectory.h"
#include "engine/storage/sessionsettings.h"

namespace mt {

class TDataSession {
 public:
  TDataSession() = default;
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  // The process-wide engine session the default session uses; it lives as long as the process.
  static TDataSession& Process();

  TSessionSettings Settings() const;
  std::string PrivateDir() const;
  int ProgressSteps() const;

  void SetPrivateDir(std::string directory);
  void SetStrictChangeDetection(bool on);
  void SetForceBufferFlush(bool on);
  void SetLockRetryCount(int count);
  void SetLockWaitTime(int milliseconds);
  void SetLockProtocol(TLockProtocol protocol);
  void SetProgressSteps(int steps);
  // The record cache (bytes, records), the reserved value, the blob cache (bytes, blocks).
  void SetCacheLimits(int32_t recordBytes, int32_t records, int32_t reserved, int32_t blobBytes,
                      int32_t blobBlocks);

  // Passwords for encrypted tables. Empty passwords and repeats are not added.
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  std::vector<std::string> Passwords() const;

  // A directory object for a database. The name is the database's (empty for a path-named
  // one); the path is the directory of its tables (empty for the in-memory database).
  std::shared_ptr<TDataDirectory> OpenDirectory(std::string_view databaseName,
                                                std::string_view path);
  // Gives a directory back; the object lives on while a dataset still holds it.
  void CloseDirectory(const std::shared_ptr<TDataDirectory>& directory);
  std::size_t DirectoryCount() const;

 private:
  template <class F>
  void Change(F change);

  mutable std::mutex mutex_;
  TSessionSettings settings_;
  std::string privateDir_;
  int progressSteps_ = 20;
  std::vector<std::string> passwords_;
  std::vector<std::shared_ptr<TDataDirectory>> directories_;
};

}  // namespace mt
