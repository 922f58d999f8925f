#include "library/sqlite.h"

#include <sqlite3.h>

#include <utility>

namespace orvik::library::sql {

SqlError::SqlError(int code, const std::string& message)
    : std::runtime_error(message), code_(code) {}

bool SqlError::damaged() const {
    const int primary = code_ & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

namespace {

// "file:" URI of a path, with the characters a URI gives a meaning escaped.
std::string immutableUri(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static const char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            uri += kHex[static_cast<unsigned char>(c) & 0xF];
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

}  // namespace

Database::Database(const std::string& path, Mode mode) : path_(path) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (mode == Mode::ReadOnly)
        flags = SQLITE_OPEN_READONLY;
    if (mode == Mode::Immutable)
        flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    const std::string name = mode == Mode::Immutable ? immutableUri(path) : path;
    const int rc = sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqlError(rc, path + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

Database::Database(Database&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), path_(std::move(other.path_)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        sqlite3_close_v2(db_);
        db_ = std::exchange(other.db_, nullptr);
        path_ = std::move(other.path_);
    }
    return *this;
}

void Database::fail(int code) const {
    throw SqlError(code, path_ + ": " + sqlite3_errmsg(db_));
}

void Database::exec(std::string_view sql) {
    const std::string text(sql);
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string why = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw SqlError(sqlite3_extended_errcode(db_), path_ + ": " + why);
    }
}

Statement Database::prepare(std::string_view sql) {
    return Statement(*this, sql);
}

std::int64_t Database::queryInteger(std::string_view sql) {
    Statement s(*this, sql);
    return s.step() ? s.integer(0) : 0;
}

std::int64_t Database::lastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

void Database::defineFunction(const char* name, int arguments, ScalarFunction function) {
    const int rc =
        sqlite3_create_function_v2(db_, name, arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, function, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

Statement::Statement(Database& db, std::string_view sql) : db_(db.handle()) {
    const int rc =
        sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

void Statement::fail(int code) const {
    const char* file = sqlite3_db_filename(db_, "main");
    throw SqlError(code, std::string(file ? file : "") + ": " + sqlite3_errmsg(db_));
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(stmt_, index, value); rc != SQLITE_OK)
        fail(rc);
    return *this;
}

Statement& Statement::bind(int index, double value) {
    if (const int rc = sqlite3_bind_double(stmt_, index, value); rc != SQLITE_OK)
        fail(rc);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    if (const int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                           SQLITE_UTF8);
        rc != SQLITE_OK)
        fail(rc);
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (const int rc = sqlite3_bind_null(stmt_, index); rc != SQLITE_OK)
        fail(rc);
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const int code = sqlite3_extended_errcode(db_);
    sqlite3_reset(stmt_);
    fail(code);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::textOf(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    if (!p)
        return {};
    return std::string(reinterpret_cast<const char*>(p),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) {
        try {
            db_.exec("ROLLBACK");
        } catch (const SqlError&) {
            // A failed statement may have rolled back already; nothing is left to undo.
        }
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

}  // namespace orvik::library::sql
