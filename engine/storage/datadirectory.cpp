// TDataDirectory: the process-wide registry of shared table objects.
#include "datadirectory.h"

#include <algorithm>
#include <exception>
#include <map>
#include <tuple>

#include "tablenames.h"

namespace mt {
namespace {

struct TRegistry {
  std::mutex mutex;
  // Key: directory, upper-cased table file name, in memory.
  std::map<std::tuple<std::string, std::string, bool>, std::unique_ptr<TDataTable>> tables;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::tuple<std::string, std::string, bool> KeyOf(const std::string& directory,
                                                 const std::string& tableName, bool inMemory) {
  // A name with "/" is a path of its own; its directory part is kept as given and only the
  // file name is compared without regard to letter case, as the file layer finds the files.
  std::string file = TableFileName(directory, tableName, kDataExt);
  const std::size_t slash = file.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return {dir, name, inMemory};
}

}  // namespace

TDataDirectory::TDataDirectory(std::string path) : path_(NormalizeDirectory(path)) {}

TDataDirectory::~TDataDirectory() {
  try {
    transaction_.Rollback();
  } catch (const std::exception&) {
    // A destructor cannot report it; nothing of the transaction was written.
  }
  ReleaseDeferred();
  // Shares still held (a cursor outliving its directory is a caller fault) are given back.
  std::vector<TDataTable*> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left = tables_;
  }
  for (TDataTable* t : left) {
    try {
      CloseTable(*t);
    } catch (const std::exception&) {
      // A destructor cannot report a failed write.
    }
  }
}

TDataTable& TDataDirectory::OpenTable(const std::string& tableName, bool inMemory,
                                      const TTableOpenOptions& options, bool* firstOpener) {
  TRegistry& reg = Registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  const auto key = KeyOf(path_, tableName, inMemory);
  auto it = reg.tables.find(key);
  bool created = false;
  if (it == reg.tables.end()) {
    it = reg.tables.emplace(key, std::make_unique<TDataTable>(path_, tableName, inMemory)).first;
    created = true;
  }
  TDataTable& table = *it->second;
  try {
    table.Open(options);
  } catch (...) {
    if (created) reg.tables.erase(it);
    throw;
  }
  {
    std::lock_guard<std::mutex> own(mutex_);
    tables_.push_back(&table);
  }
  if (firstOpener != nullptr) *firstOpener = table.Openers() == 1;
  if (transaction_.Active()) {
    try {
      transaction_.Join(table);
    } catch (...) {
      CloseTable(table);
      throw;
    }
  }
  return table;
}

void TDataDirectory::CloseTable(TDataTable& table) {
  {
    std::lock_guard<std::mutex> own(mutex_);
    auto it = std::find(tables_.begin(), tables_.end(), &table);
    if (it == tables_.end()) return;
    tables_.erase(it);
    const auto& joined = transaction_.Tables();
    if (transaction_.Active() && table.Openers() == 1 &&
        std::find(joined.begin(), joined.end(), &table) != joined.end()) {
      // The transaction's changes of the table end with the transaction, not with this close.
      deferred_.push_back(&table);
      return;
    }
  }
  ReleaseShare(table);
}

void TDataDirectory::ReleaseShare(TDataTable& table) {
  TRegistry& reg = Registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  // The share is given back even when writing the files fails; the failure is reported.
  struct TDrop {
    TRegistry& reg;
    TDataTable& table;
    ~TDrop() {
      if (table.Openers() > 0) return;
      for (auto it = reg.tables.begin(); it != reg.tables.end(); ++it) {
        if (it->second.get() == &table) {
          reg.tables.erase(it);
          break;
        }
      }
    }
  } drop{reg, table};
  table.Close();
}

std::vector<TDataTable*> TDataDirectory::OpenTables() const {
  std::lock_guard<std::mutex> own(mutex_);
  std::vector<TDataTable*> result;
  for (TDataTable* t : tables_) {
    if (std::find(result.begin(), result.end(), t) == result.end()) result.push_back(t);
  }
  return result;
}

void TDataDirectory::ReleaseDeferred() {
  std::vector<TDataTable*> deferred;
  {
    std::lock_guard<std::mutex> own(mutex_);
    deferred.swap(deferred_);
  }
  std::exception_ptr failure;
  for (TDataTable* t : deferred) {
    try {
      ReleaseShare(*t);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::StartTransaction() {
  transaction_.Start(OpenTables());
}

void TDataDirectory::Commit(bool flushToDisk) {
  if (!transaction_.Active()) return;
  const std::vector<TDataTable*> tables = transaction_.Tables();
  try {
    transaction_.Commit();
  } catch (...) {
    try {
      ReleaseDeferred();
    } catch (...) {
      // The commit's failure is the one to report.
    }
    throw;
  }
  std::exception_ptr failure;
  if (flushToDisk) {
    for (TDataTable* t : tables) {
      try {
        t->FlushToDisk();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
  }
  try {
    ReleaseDeferred();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::Rollback() {
  if (!transaction_.Active()) return;
  std::exception_ptr failure;
  try {
    transaction_.Rollback();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    ReleaseDeferred();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

std::size_t TDataDirectory::ProcessTableCount() {
  TRegistry& reg = Registry();
  std::lock_guard<std::mutex> lock(reg.mutex);
  return reg.tables.size();
}

}  // namespace mt
