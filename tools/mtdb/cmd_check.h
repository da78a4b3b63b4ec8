// mtdb verify and repair: checking tables for consistency, and rebuilding a table's counters,
// deleted chain and indexes from its records.
#pragma once

#include <string>
#include <vector>

namespace mt::mtdb {

int RunVerify(const std::vector<std::string>& args);
int RunRepair(const std::vector<std::string>& args);

// The faults of one table, one line each (empty when it is consistent).
std::vector<std::string> VerifyTable(const std::string& dir, const std::string& table,
                                     const std::vector<std::string>& passwords);

}  // namespace mt::mtdb
