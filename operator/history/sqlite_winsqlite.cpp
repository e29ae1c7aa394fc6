// SQLite on Windows, from the system itself: winsqlite3.dll, which Windows
// ships from Windows 10 on (Debian has no SQLite for MinGW, and the history
// needs nothing newer than that copy has). It is loaded when a history is
// first used, so vpoperator.exe still starts and runs where it is missing
// (older Windows, Wine), and says so when asked for a history.
//
// These definitions give sqlite_store.cpp the library's own functions; each
// calls the DLL's, which is built with __stdcall (the same as cdecl on x64).
#include <sqlite3.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

const char MISSING[] = "this Windows has no winsqlite3.dll, the SQLite that Windows 10 and later ship; "
                       "keep the history on a newer Windows or on Linux";

HMODULE library()
{
    static HMODULE module = LoadLibraryExW(L"winsqlite3.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

template <typename Function> Function* function(const char* name)
{
    HMODULE module = library();
    return module == nullptr ? nullptr
                             : reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

// Each function of the library by its name and type, found once.
#define WINSQLITE(result, name, parameters, arguments, unavailable)                                                    \
    result name parameters                                                                                             \
    {                                                                                                                  \
        using Type = result WINAPI parameters;                                                                         \
        static Type* found = function<Type>(#name);                                                                    \
        if (found == nullptr) return unavailable;                                                                      \
        return found arguments;                                                                                        \
    }

extern "C" {

WINSQLITE(int, sqlite3_open_v2, (const char* file, sqlite3** db, int flags, const char* vfs), (file, db, flags, vfs),
    (*db = nullptr, SQLITE_CANTOPEN))
WINSQLITE(int, sqlite3_close, (sqlite3 * db), (db), SQLITE_OK)
WINSQLITE(int, sqlite3_busy_timeout, (sqlite3 * db, int ms), (db, ms), SQLITE_MISUSE)
WINSQLITE(const char*, sqlite3_errmsg, (sqlite3 * db), (db), MISSING)
WINSQLITE(int, sqlite3_prepare_v2,
    (sqlite3 * db, const char* sql, int bytes, sqlite3_stmt** statement, const char** tail),
    (db, sql, bytes, statement, tail), SQLITE_MISUSE)
WINSQLITE(int, sqlite3_bind_null, (sqlite3_stmt * statement, int at), (statement, at), SQLITE_MISUSE)
WINSQLITE(int, sqlite3_bind_int64, (sqlite3_stmt * statement, int at, sqlite3_int64 value), (statement, at, value),
    SQLITE_MISUSE)
WINSQLITE(int, sqlite3_bind_text,
    (sqlite3_stmt * statement, int at, const char* text, int bytes, void (*destructor)(void*)),
    (statement, at, text, bytes, destructor), SQLITE_MISUSE)
WINSQLITE(int, sqlite3_step, (sqlite3_stmt * statement), (statement), SQLITE_MISUSE)
WINSQLITE(int, sqlite3_column_count, (sqlite3_stmt * statement), (statement), 0)
WINSQLITE(
    const unsigned char*, sqlite3_column_text, (sqlite3_stmt * statement, int column), (statement, column), nullptr)
WINSQLITE(int, sqlite3_column_bytes, (sqlite3_stmt * statement, int column), (statement, column), 0)
WINSQLITE(int, sqlite3_reset, (sqlite3_stmt * statement), (statement), SQLITE_MISUSE)
WINSQLITE(int, sqlite3_clear_bindings, (sqlite3_stmt * statement), (statement), SQLITE_MISUSE)
WINSQLITE(int, sqlite3_finalize, (sqlite3_stmt * statement), (statement), SQLITE_OK)
WINSQLITE(const char*, sqlite3_errstr, (int status), (status), MISSING)
}
