// Pieces shared by the layer's sources and its engines; not for callers.
#pragma once

#include "plat_ado.h"

#include <string>

namespace ado {

// The SQL rewrites of the embedded engine, in order: ODBC and Jet date literals, TOP n to
// LIMIT n, table-qualified index names, the primary-key ALTER as a unique index.
std::string RewriteForSqlite(const std::string &sql);
// TOP n to LIMIT n alone.
std::string RewriteTop(const std::string &sql);
// The positions of the '?' marks outside quotes.
std::vector<size_t> ParameterMarks(const std::string &sql);
// Lower-case ASCII copy.
std::string Lower(const std::string &text);
// Built-in backends.
Backend &SqliteBackend();
Backend &MariaDbBackend();

} // namespace ado
