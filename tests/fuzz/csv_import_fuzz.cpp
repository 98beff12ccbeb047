// libFuzzer target of the import's CSV reading: records and failures do not depend on how the text is chunked; behind
// the header it imports into a fresh store, counting the parser's records, or is refused with an import error.
#include "qvservice/import/csv_import.h"
#include "qvservice/store/sqlite_db.h"
#include "records/csv_parser.h"
#include "tests/support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxImportBytes = 4096;
constexpr std::size_t kMaxChunkBytes = 13;

struct Outcome {
    std::vector<std::pair<std::vector<std::string>, std::size_t>> records;
    std::optional<std::pair<std::size_t, std::string>> error;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome Parse(std::string_view text, std::size_t chunk) {
    Outcome outcome;
    qv::CsvParser parser(qv::kCsvFields.size(), [&](std::vector<std::string>& fields, std::size_t line) {
        outcome.records.emplace_back(fields, line);
    });
    try {
        for (std::size_t at = 0; at < text.size(); at += chunk) parser.Feed(text.substr(at, chunk));
        parser.Finish();
    } catch (const qv::CsvError& error) {
        outcome.error.emplace(error.Line(), error.what());
    }
    return outcome;
}

void Import(std::string_view text, const Outcome& parsed) {
    static const TempDir scratch;  // one for the whole run, removed at exit
    qv::server::ImportOptions options;
    options.csvPath = scratch.File("in.csv");
    options.storePath = scratch.File("store.db");
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((options.storePath + suffix).c_str());
    std::ofstream(options.csvPath, std::ios::binary | std::ios::trunc) << qv::kCsvHeader << '\n' << text;
    try {
        const qv::server::ImportSummary summary = qv::server::ImportCsv(options);
        std::int64_t records = 0;
        for (const auto& [fields, line] : parsed.records) records += fields.size() == 1 && fields[0].empty() ? 0 : 1;
        if (parsed.error || summary.records != records) std::abort();
    } catch (const qv::server::ImportError&) {
    } catch (const qv::server::StoreError&) {}
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Outcome whole = Parse(text, text.size() + 1);
    if (Parse(text, 1 + size % kMaxChunkBytes) != whole) std::abort();
    if (size <= kMaxImportBytes) Import(text, whole);
    return 0;
}
