#pragma once
// A thin owner of SQLite's C handles: a connection and its prepared statements close with their
// destructors, and every failed call throws SqlError with SQLite's code and message, so the index
// code reads as the statements it runs. Nothing here knows the library's schema.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

namespace orvik::library::sql {

class SqlError : public std::runtime_error {
  public:
    SqlError(int code, const std::string& message);
    int code() const { return code_; }
    // The file is not a database or its pages do not hold together: worth rebuilding, not
    // retrying.
    bool damaged() const;

  private:
    int code_;
};

class Statement;

class Database {
  public:
    // Immutable: read-only, and the file is taken not to change while it is open, so nothing
    // is written beside it (no lock, no shared-memory file): a library on a read-only medium.
    enum class Mode { ReadWrite, ReadOnly, Immutable };
    // Opens (ReadWrite: creates) the database file; waits up to five seconds for another
    // connection's write lock instead of failing at once.
    explicit Database(const std::string& path, Mode mode = Mode::ReadWrite);
    ~Database();
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs statements that take no parameters (several, separated by ';').
    void exec(std::string_view sql);
    Statement prepare(std::string_view sql);
    // The first column of the first row of a query without parameters as an integer (0 when
    // there is no row).
    std::int64_t queryInteger(std::string_view sql);
    std::int64_t lastInsertId() const;

    using ScalarFunction = void (*)(sqlite3_context*, int, sqlite3_value**);
    // A deterministic SQL function of `arguments` arguments.
    void defineFunction(const char* name, int arguments, ScalarFunction function);

    sqlite3* handle() const { return db_; }
    const std::string& path() const { return path_; }

  private:
    [[noreturn]] void fail(int code) const;
    sqlite3* db_ = nullptr;
    std::string path_;
};

class Statement {
  public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters are numbered from 1, as in SQL text ("?1" or the n-th "?").
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view text);
    Statement& bindNull(int index);
    // Binds the values to parameters 1, 2, … in order.
    template <typename... Values>
    Statement& bindAll(const Values&... values) {
        int i = 0;
        (bindOne(++i, values), ...);
        return *this;
    }

    // True while there is a row to read; false once the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run() {
        while (step()) {
        }
    }
    // Ready to run again with new parameters.
    void reset();

    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string textOf(int column) const;

  private:
    void bindOne(int i, std::int64_t v) { bind(i, v); }
    void bindOne(int i, int v) { bind(i, static_cast<std::int64_t>(v)); }
    void bindOne(int i, std::uint64_t v) { bind(i, static_cast<std::int64_t>(v)); }
    void bindOne(int i, double v) { bind(i, v); }
    void bindOne(int i, std::string_view v) { bind(i, v); }
    void bindOne(int i, const std::string& v) { bind(i, std::string_view(v)); }
    void bindOne(int i, const char* v) { bind(i, std::string_view(v)); }
    [[noreturn]] void fail(int code) const;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction; rolled back by the destructor unless commit() ran, so an
// exception between the two leaves the database as it was.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Database& db_;
    bool open_ = true;
};

}  // namespace orvik::library::sql
