// Test support: what a query finds in an SQLite file the library or a tool wrote.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace vexlor::test {

using SqlRows = std::vector<std::vector<std::string>>;

// The rows of `sql` on a read-only connection to `file`, each column as text ("NULL" for a
// null); none when the file cannot be opened.
inline SqlRows sql_rows(const std::string& file, const std::string& sql) {
  SqlRows rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);  // beside a writer in another process
    const auto take = [](void* out, int n, char** values, char**) {
      auto& row = static_cast<SqlRows*>(out)->emplace_back();
      for (int i = 0; i < n; ++i) row.push_back(values[i] != nullptr ? values[i] : "NULL");
      return 0;
    };
    sqlite3_exec(db, sql.c_str(), take, &rows, nullptr);
  }
  sqlite3_close(db);
  return rows;
}

}  // namespace vexlor::test
