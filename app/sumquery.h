// Totals read from the data directory by SQL: a statement that returns one row, and the column
// of that row that holds the total. Windows that show totals (the home page's balance) read
// them through this interface, so tests can answer with known sums and the real runner is
// one small class over the query dataset.
#pragma once

#include <memory>
#include <string_view>

class TSumQuery {
 public:
  virtual ~TSumQuery() = default;
  // Runs the statement on the data directory and reads the column of its first row as a
  // number; no row, or a null value, reads as 0. Engine failures arrive as exceptions.
  virtual double Sum(std::string_view sql, std::string_view column) = 0;
};

// The runner over the program's data directory (a query dataset on DataDirectory()).
std::unique_ptr<TSumQuery> DataDirectorySumQuery();
