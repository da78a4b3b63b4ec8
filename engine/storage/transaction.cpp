// TTransaction: start, commit and roll back over the tables of a database directory.
#include "transaction.h"

#include <algorithm>
#include <exception>

#include "datatable.h"
#include "engine/common/engineerror.h"

namespace mt {

TTransaction::~TTransaction() {
  if (!active_) return;
  try {
    Rollback();
  } catch (...) {
    // A destructor cannot report it; nothing of the transaction was written.
  }
}

void TTransaction::Start(const std::vector<TDataTable*>& tables) {
  if (active_) RaiseEngineError(err::kLockFailure);
  tables_.clear();
  active_ = true;
  try {
    for (TDataTable* t : tables)
      Join(*t);
  } catch (...) {
    try {
      Rollback();
    } catch (...) {
      // The start's failure is the one to report.
    }
    throw;
  }
}

void TTransaction::Join(TDataTable& table) {
  if (!active_ || !table.IsOpen() || table.ReadOnly()) return;
  if (std::find(tables_.begin(), tables_.end(), &table) != tables_.end()) return;
  table.Locks().StartTransaction();
  tables_.push_back(&table);
}

void TTransaction::Commit() {
  if (!active_) return;
  try {
    for (TDataTable* t : tables_)
      t->Locks().RequireIntactTransaction();
  } catch (...) {
    try {
      Rollback();
    } catch (...) {
      // The failed change's error is the one to report.
    }
    throw;
  }
  std::exception_ptr failure;
  for (TDataTable* t : tables_) {
    if (failure) {
      try {
        t->Locks().RollbackTransaction();
      } catch (...) {
      }
      continue;
    }
    try {
      t->Locks().CommitTransaction();
    } catch (...) {
      // A table whose writing failed has left the transaction; rolling back does nothing then.
      failure = std::current_exception();
      try {
        t->Locks().RollbackTransaction();
      } catch (...) {
      }
    }
  }
  tables_.clear();
  active_ = false;
  if (failure) std::rethrow_exception(failure);
}

void TTransaction::Rollback() {
  if (!active_) return;
  std::exception_ptr failure;
  for (TDataTable* t : tables_) {
    try {
      t->Locks().RollbackTransaction();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  tables_.clear();
  active_ = false;
  if (failure) std::rethrow_exception(failure);
}

}  // namespace mt
