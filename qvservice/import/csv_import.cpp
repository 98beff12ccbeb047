#include "qvservice/import/csv_import.h"

#include "qvservice/model/ole_time.h"
#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/store/new_store_file.h"
#include "qvservice/support/sha256.h"
#include "records/csv_parser.h"
#include "records/icon_file.h"
#include "records/log.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

namespace qv::server {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::size_t kRecordsPerLookup = 10'000;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// A file name is shown whole up to this.
constexpr std::size_t kMaxShownPathBytes = 4096;

// Names and fields from the file, the folder or the store reach a terminal:
// escaped, as the service's log has them.
std::string Shown(std::string_view path) { return Printable(path, kMaxShownPathBytes); }

// Reads the file in chunks, hashing every byte, and hands each chunk on.
template <typename Consume>
Sha256::Digest ReadFile(const std::string& path, Consume consume) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ImportError("cannot open " + Shown(path));
    Sha256 hash;
    std::string chunk(kChunkBytes, '\0');
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        const std::string_view piece(chunk.data(), got);
        hash.Update(piece);
        consume(piece);
    }
    if (in.bad()) throw ImportError("cannot read " + Shown(path));
    return hash.Final();
}

// DIR/<process>.ico, else DIR/<process without extension>.ico; empty when
// there is none. Names that could leave the folder are never looked up.
std::string FindIcon(const std::string& dir, const std::string& process) {
    if (process.find('/') != std::string::npos || process.find('\0') != std::string::npos || process == "." ||
        process == "..") {
        return {};
    }
    std::vector<std::string> candidates{dir + "/" + process + ".ico"};
    if (const std::size_t dot = process.rfind('.'); dot != std::string::npos && dot > 0) {
        candidates.push_back(dir + "/" + process.substr(0, dot) + ".ico");
    }
    for (const auto& path : candidates) {
        if (std::ifstream(path, std::ios::binary)) return path;
    }
    return {};
}

std::size_t StoreIcons(const std::string& dir, const std::set<std::string>& processes, RecordWriter& writer) {
    std::size_t stored = 0;
    for (const auto& process : processes) {
        const std::string path = FindIcon(dir, process);
        if (path.empty()) continue;
        std::ifstream in(path, std::ios::binary);
        std::vector<unsigned char> bytes(kMaxIconBytes + 1);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (in.bad()) throw ImportError("cannot read " + Shown(path));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (const auto problem = IconFileProblem(bytes)) throw ImportError(Shown(path) + ": " + *problem);
        writer.Entities().SetIcon(writer.Entities().ProgramId(process, {}), bytes);
        ++stored;
    }
    return stored;
}

void RefuseRepeat(Database& db, const Sha256::Digest& digest, const std::string& path) {
    Statement seen(db, "SELECT file_name, records FROM imports WHERE content_sha256 = ?1");
    seen.BindBlob(1, digest);
    if (seen.Step()) {
        throw ImportError(Shown(path) + " holds the same content as " + Shown(seen.Bytes(0)) + ", imported before (" +
                          std::to_string(seen.Int64(1)) + " records); nothing imported");
    }
}

ImportSummary ImportInto(const std::string& storePath, const ImportOptions& options, const Sha256::Digest& digest,
                         const ProgressCallback& progress) {
    const auto store = OpenStore(storePath, Database::Mode::Create);
    Database& db = *store;
    Transaction transaction(db, Transaction::Kind::Write);
    PrepareSchema(db);
    RefuseRepeat(db, digest, options.csvPath);

    RecordWriter writer(db);
    std::set<std::string> processes;
    // Their names are looked up a few statements for many records: one at a
    // time, a database server's round trips cost more than the records.
    std::vector<ActivityRecord> waiting;
    const auto writeWaiting = [&] {
        writer.Entities().Prefetch({waiting});
        for (const ActivityRecord& record : waiting) writer.Add(record);
        waiting.clear();
    };
    bool headerSeen = false;
    CsvParser parser(kCsvFields.size(), [&](std::vector<std::string>& fields, std::size_t line) {
        if (!headerSeen) {
            if (!fields.empty() && fields[0].starts_with(kUtf8Bom)) fields[0].erase(0, kUtf8Bom.size());
            if (!std::equal(fields.begin(), fields.end(), kCsvFields.begin(), kCsvFields.end())) {
                throw ImportError("line 1: the header must be exactly " + std::string(kCsvHeader));
            }
            headerSeen = true;
            return;
        }
        if (fields.size() == 1 && fields[0].empty()) return;  // a blank line
        try {
            ActivityRecord record = ToRecord(fields);
            ValidateRecord(record);
            processes.insert(record.process);
            waiting.push_back(std::move(record));
        } catch (const InvalidRecord& error) {
            throw ImportError("line " + std::to_string(line) + ": " + error.what());
        }
        if (waiting.size() >= kRecordsPerLookup) writeWaiting();
    });
    std::error_code sizeUnknown;
    const auto fileBytes = static_cast<double>(std::filesystem::file_size(options.csvPath, sizeUnknown));
    double bytesParsed = 0;
    const Sha256::Digest parsed = ReadFile(options.csvPath, [&](std::string_view chunk) {
        try {
            parser.Feed(chunk);
        } catch (const CsvError& error) {
            throw ImportError("line " + std::to_string(error.Line()) + ": " + error.what());
        }
        bytesParsed += static_cast<double>(chunk.size());
        if (progress) progress(writer.RecordCount(), sizeUnknown ? 0.0 : bytesParsed / fileBytes);
    });
    try {
        parser.Finish();
    } catch (const CsvError& error) {
        throw ImportError("line " + std::to_string(error.Line()) + ": " + error.what());
    }
    if (!headerSeen) throw ImportError(Shown(options.csvPath) + " is empty: it needs the header line " + kCsvHeader);
    if (parsed != digest) throw ImportError(Shown(options.csvPath) + " changed while it was read; nothing imported");
    writeWaiting();

    ImportSummary summary;
    if (!options.iconsDir.empty()) summary.icons = StoreIcons(options.iconsDir, processes, writer);
    writer.Finish();
    Statement remember(
        db, "INSERT INTO imports(content_sha256, file_name, imported_at_ms, records) VALUES(?1, ?2, ?3, ?4)");
    remember.BindBlob(1, digest);
    remember.BindText(2, options.csvPath);
    remember.Bind(3, static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::system_clock::now().time_since_epoch())
                                                   .count()));
    remember.Bind(4, writer.RecordCount());
    remember.Step();
    transaction.Commit();
    db.RefreshPlannerStatistics();
    summary.records = writer.RecordCount();
    summary.newEntities = writer.Entities().CreatedCount();
    return summary;
}

}  // namespace

ImportSummary ImportCsv(const ImportOptions& options, const ProgressCallback& progress) {
    const Sha256::Digest digest = ReadFile(options.csvPath, [](std::string_view) {});
    std::error_code error;
    // A database server's transaction alone leaves nothing behind.
    if (IsPostgresStore(options.storePath) || std::filesystem::exists(options.storePath, error) || error) {
        return ImportInto(options.storePath, options, digest, progress);
    }
    NewStoreFile store(options.storePath);
    const ImportSummary summary = ImportInto(store.BuildPath(), options, digest, progress);
    store.Publish();
    return summary;
}

}  // namespace qv::server
