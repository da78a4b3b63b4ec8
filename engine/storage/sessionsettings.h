// TSessionSettings: the settings of an engine session that govern how its tables lock, detect
// each other's changes and write their headers, and the cache limits it hands to them.
//
// The session (dbaccess layer) fills one of these and gives it to the tables it opens
// (TDataTable::SetSettings); a table reads it at every lock and change operation, so a change
// of a setting takes effect at the next operation.
#pragma once

#include <cstdint>

namespace mt {

enum class TLockProtocol {
  // A record is locked when the user starts changing it.
  Pessimistic,
  // A record is locked only while its change is written.
  Optimistic,
};

struct TSessionSettings {
  // True: every cursor operation takes the table's read lock and checks the files for changes.
  // False: only lock-taking operations and cache misses check the files.
  bool strictChangeDetection = false;
  // True: the operating system's file buffers are flushed after every header write.
  bool forceBufferFlush = false;
  // Record locks: retries after the first attempt, and milliseconds between attempts.
  int lockRetryCount = 15;
  int lockWaitTime = 100;
  TLockProtocol lockProtocol = TLockProtocol::Pessimistic;

  // Cache limits: bytes and records of a table's record cache (also the default commit
  // interval of changing statements), a third value kept for completeness, and bytes and
  // blocks of a table's blob block cache.
  int32_t recordCacheBytes = 16384;
  int32_t recordCacheRecords = 8192;
  int32_t reservedCacheLimit = 16384;
  int32_t blobCacheBytes = 32768;
  int32_t blobCacheBlocks = 8192;
};

}  // namespace mt
