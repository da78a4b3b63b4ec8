// TDataSession: settings, passwords and directories of an engine session.
#include "datasession.h"

#include <algorithm>

namespace mt {

TDataSession::~TDataSession() = default;

TDataSession& TDataSession::Process() {
  static TDataSession* process = new TDataSession();  // never destroyed: used until exit
  return *process;
}

TSessionSettings TDataSession::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::string TDataSession::PrivateDir() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return privateDir_;
}

int TDataSession::ProgressSteps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progressSteps_;
}

template <class F>
void TDataSession::Change(F change) {
  std::vector<TDataTable*> tables;
  TSessionSettings settings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change(settings_);
    settings = settings_;
    for (const auto& d : directories_) {
      for (TDataTable* t : d->OpenTables()) {
        if (std::find(tables.begin(), tables.end(), t) == tables.end()) tables.push_back(t);
      }
    }
  }
  for (TDataTable* t : tables)
    t->SetSettings(settings);
}

void TDataSession::SetPrivateDir(std::string directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  privateDir_ = std::move(directory);
}

void TDataSession::SetStrictChangeDetection(bool on) {
  Change([&](TSessionSettings& s) { s.strictChangeDetection = on; });
}

void TDataSession::SetForceBufferFlush(bool on) {
  Change([&](TSessionSettings& s) { s.forceBufferFlush = on; });
}

void TDataSession::SetLockRetryCount(int count) {
  Change([&](TSessionSettings& s) { s.lockRetryCount = count; });
}

void TDataSession::SetLockWaitTime(int milliseconds) {
  Change([&](TSessionSettings& s) { s.lockWaitTime = milliseconds; });
}

void TDataSession::SetLockProtocol(TLockProtocol protocol) {
  Change([&](TSessionSettings& s) { s.lockProtocol = protocol; });
}

void TDataSession::SetProgressSteps(int steps) {
  std::lock_guard<std::mutex> lock(mutex_);
  progressSteps_ = steps;
}

void TDataSession::SetCacheLimits(int32_t recordBytes, int32_t records, int32_t reserved,
                                  int32_t blobBytes, int32_t blobBlocks) {
  Change([&](TSessionSettings& s) {
    s.recordCacheBytes = recordBytes;
    s.recordCacheRecords = records;
    s.reservedCacheLimit = reserved;
    s.blobCacheBytes = blobBytes;
    s.blobCacheBlocks = blobBlocks;
  });
}

void TDataSession::AddPassword(std::string_view password) {
  if (password.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(passwords_.begin(), passwords_.end(), password) == passwords_.end())
    passwords_.emplace_back(password);
}

void TDataSession::RemovePassword(std::string_view password) {
  std::lock_guard<std::mutex> lock(mutex_);
  passwords_.erase(std::remove(passwords_.begin(), passwords_.end(), password), passwords_.end());
}

void TDataSession::RemoveAllPasswords() {
  std::lock_guard<std::mutex> lock(mutex_);
  passwords_.clear();
}

std::vector<std::string> TDataSession::Passwords() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return passwords_;
}

std::shared_ptr<TDataDirectory> TDataSession::OpenDirectory(std::string_view /*databaseName*/,
                                                            std::string_view path) {
  // Local sessions find their tables by path alone; the name would matter to a server.
  auto directory = std::make_shared<TDataDirectory>(std::string(path));
  std::lock_guard<std::mutex> lock(mutex_);
  directories_.push_back(directory);
  return directory;
}

void TDataSession::CloseDirectory(const std::shared_ptr<TDataDirectory>& directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  directories_.erase(std::remove(directories_.begin(), directories_.end(), directory),
                     directories_.end());
}

std::size_t TDataSession::DirectoryCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return directories_.size();
}

}  // namespace mt
