#include "qvservice/store/store_database.h"

#include "qvservice/store/postgres/postgres_db.h"
#include "qvservice/store/sqlite_db.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qv::server {

std::string CommaSeparated(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
}

std::string MergeSql(const std::string& table, const std::vector<std::string>& keys,
                     const std::vector<std::string>& sums, const std::string& rows) {
    std::vector<std::string> updates;
    for (const auto& sum : sums) updates.push_back(sum + " = " + table + "." + sum + " + excluded." + sum);
    return "INSERT INTO " + table + "(" + CommaSeparated(keys) + ", " + CommaSeparated(sums) + ") " + rows +
           " ON CONFLICT(" + CommaSeparated(keys) + ") DO UPDATE SET " + CommaSeparated(updates);
}

bool IsPostgresStore(std::string_view store) {
    return store.starts_with("postgresql://") || store.starts_with("postgres://");
}

namespace {

struct OptionsDeleter {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

// libpq's reading of a URI: its canonical keywords with the values set, in
// libpq's order; nullopt when libpq cannot read it.
using UriValues = std::vector<std::pair<std::string, std::string>>;
std::optional<UriValues> ReadUri(std::string_view store) {
    char* error = nullptr;
    const std::unique_ptr<PQconninfoOption, OptionsDeleter> options(
        PQconninfoParse(std::string(store).c_str(), &error));
    PQfreemem(error);
    if (!options) return std::nullopt;
    UriValues values;
    for (const PQconninfoOption* option = options.get(); option->keyword; ++option) {
        if (option->val && *option->val) values.emplace_back(option->keyword, option->val);
    }
    return values;
}

std::string_view ValueOf(const UriValues& values, std::string_view keyword) {
    for (const auto& [key, value] : values) {
        if (key == keyword) return value;
    }
    return {};
}

bool Misreads(const UriValues& values) {
    for (const char* keyword : {"host", "hostaddr", "port", "dbname"}) {
        if (ValueOf(values, keyword).find('@') != std::string_view::npos) return true;
    }
    return false;
}

// Percent-escapes every byte but letters, digits, "-._~" and those in plain,
// so that the name reads back as a URI and holds no control character.
std::string Escaped(std::string_view text, std::string_view plain = {}) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alphanumeric || std::string_view("-._~").find(c) != std::string_view::npos ||
            plain.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::vector<std::string_view> SplitList(std::string_view list) {
    std::vector<std::string_view> items;
    for (std::size_t at = 0;;) {
        const std::size_t comma = list.find(',', at);
        items.push_back(list.substr(at, comma - at));
        if (comma == std::string_view::npos) return items;
        at = comma + 1;
    }
}

}  // namespace

bool MisreadsUserPart(std::string_view store) {
    const auto values = ReadUri(store);
    return values && Misreads(*values);
}

std::string PrintableStoreName(std::string_view store) {
    if (!IsPostgresStore(store)) return std::string(store);
    const std::string scheme(store.substr(0, store.find("://") + 3));
    const auto values = ReadUri(store);
    if (!values) return scheme + "(a URI that libpq cannot read)";
    if (Misreads(*values)) return scheme + "(a URI whose user name or password lacks percent-escapes)";
    const std::string_view user = ValueOf(*values, "user");
    const std::string_view host = ValueOf(*values, "host");
    const std::string_view port = ValueOf(*values, "port");
    const std::vector<std::string_view> hosts = SplitList(host);
    const std::vector<std::string_view> ports = port.empty() ? std::vector<std::string_view>{} : SplitList(port);
    // Socket folders, host addresses and lists of unequal length read best as
    // parameters.
    const bool authority = ValueOf(*values, "hostaddr").empty() && host.find('/') == std::string_view::npos &&
                           (ports.empty() || ports.size() == hosts.size());
    std::string printable = scheme;
    std::string query;
    const auto addParameter = [&](std::string_view key, std::string_view value) {
        if (value.empty()) return;
        query += query.empty() ? '?' : '&';
        query += key;
        query += '=';
        query += Escaped(value, "/:,");
    };
    if (authority) {
        if (!user.empty()) printable += Escaped(user) + "@";
        for (std::size_t k = 0; k < hosts.size(); ++k) {
            if (k > 0) printable += ',';
            const bool ipv6 = hosts[k].find(':') != std::string_view::npos;
            printable += ipv6 ? "[" + Escaped(hosts[k], ":") + "]" : Escaped(hosts[k]);
            if (!ports.empty() && !ports[k].empty()) printable += ":" + Escaped(ports[k]);
        }
    } else {
        for (const char* keyword : {"host", "hostaddr", "port", "user"})
            addParameter(keyword, ValueOf(*values, keyword));
    }
    if (const std::string_view dbname = ValueOf(*values, "dbname"); !dbname.empty()) printable += "/" + Escaped(dbname);
    for (const auto& [key, value] : *values) {
        static constexpr std::string_view kShownOrSecret[] = {"user",   "host",     "hostaddr",   "port",
                                                              "dbname", "password", "sslpassword"};
        if (std::find(std::begin(kShownOrSecret), std::end(kShownOrSecret), key) == std::end(kShownOrSecret)) {
            addParameter(key, value);
        }
    }
    return printable + query;
}

void HideStorePasswords(int argc, char** argv) {
    constexpr std::string_view kOption = "--store=";
    for (int k = 1; k < argc; ++k) {
        char* text = argv[k];
        if (std::string_view(text).starts_with(kOption)) text += kOption.size();
        const std::size_t length = std::strlen(text);
        if (!IsPostgresStore({text, length})) continue;
        const std::string printable = PrintableStoreName({text, length});
        const std::size_t kept = std::min(length, printable.size());
        std::memcpy(text, printable.data(), kept);
        std::memset(text + kept, 0, length - kept);
    }
}

std::unique_ptr<Database> OpenStore(const std::string& store, Database::Mode mode) {
    if (IsPostgresStore(store)) return OpenPostgres(store, PrintableStoreName(store), mode);
    return std::make_unique<SqliteDatabase>(store, mode);
}

bool StoreExists(const std::string& store) {
    if (IsPostgresStore(store)) return OpenStore(store, Database::Mode::ReadWrite)->SchemaVersion() != 0;
    return std::filesystem::exists(store);
}

}  // namespace qv::server
