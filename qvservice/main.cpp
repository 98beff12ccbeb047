// qvservice: the Quorvis Service (serve), and the tools that fill its store
// (import, demo) or trim it (prune).
#include "proto/qv_contract.h"
#include "qvservice/command_line.h"
#include "qvservice/demo/demo_data.h"
#include "qvservice/import/csv_import.h"
#include "qvservice/model/store_pruner.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/rpc/service_host.h"
#include "qvservice/store/store_database.h"
#include "qvservice/support/progress_line.h"

#include <unistd.h>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

namespace {

using namespace qv::server;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::string Usage() {
    return "usage:\n"
           "  qvservice serve --store STORE [--listen HOST:PORT] [--allow NAME[,NAME...]]\n"
           "                  [--tls-cert FILE --tls-key FILE [--client-ca FILE] [--recorder-ca FILE]]\n"
           "                  [--trust-claimed-names] [--insecure] [--call-timeout SECONDS]\n"
           "                  [--max-calls-per-caller N] [--max-calls-per-address N] [--db-connections N]\n"
           "                  [--keep-days N]\n"
           "      listens on 127.0.0.1:" +
           std::to_string(qv::contract::kDefaultPort) +
           " unless told otherwise; any other address needs\n"
           "      --tls-cert, --tls-key and --client-ca, or --insecure; --allow without --client-ca\n"
           "      needs --trust-claimed-names; a call ends after " +
           std::to_string(kDefaultCallTimeout.count()) + " s and a caller has\n      at most " +
           std::to_string(kDefaultMaxCallsPerCaller) + " calls at once (" + std::to_string(kDefaultMaxCallsPerAddress) +
           " from one address, for claimed names)\n      unless told otherwise; it opens at most " +
           std::to_string(kWorkerThreads) +
           " store connections unless told otherwise;\n"
           "      --recorder-ca takes live records from recorders with certificates of that CA;\n"
           "      --keep-days N prunes records that ended more than N days before today (UTC)\n"
           "      at start and then daily; SIGINT or SIGTERM stop it\n"
           "  qvservice import --store STORE [--icons DIR] RECORDS.csv\n"
           "  qvservice demo --store STORE [--records N]\n"
           "  qvservice prune --store STORE --before YYYY-MM-DD\n"
           "      removes the records that ended by 00:00 UTC of that day, and the names\n"
           "      no record uses any more\n"
           "  qvservice init --store STORE\n"
           "      creates an empty store unless STORE holds one\n"
           "  qvservice --help | --version\n"
           "STORE is a SQLite file, or a PostgreSQL database named by a libpq URI\n"
           "(postgresql://[USER@]HOST[:PORT]/DATABASE[?...]); keep its password in ~/.pgpass\n"
           "(mode 600), where libpq finds it, never in the URI. Without --store, the store is\n"
           "taken from the environment variable QVSERVICE_STORE, which other users cannot see.\n";
}

// The store named on the command line, or in the environment: a command
// line is visible to every local user, and a store URI may hold a password.
std::string StoreOf(const CommandLine& line) {
    if (line.options.contains("store")) return line.Get("store");
    const char* store = std::getenv("QVSERVICE_STORE");
    if (store == nullptr || *store == '\0')
        throw UsageError("--store is required (or QVSERVICE_STORE in the environment)");
    return store;
}

constexpr std::chrono::seconds kMaxCallTimeout{7 * 24 * 3600};
constexpr int kMaxCallsPerCaller = 100'000;
constexpr int kMaxDbConnections = 10'000;
constexpr int kMaxKeepDays = 100'000;

// A whole number from 1 to max, or the fallback when the option is absent.
long long PositiveNumber(const CommandLine& line, std::string_view name, long long fallback, long long max) {
    const auto found = line.options.find(name);
    if (found == line.options.end()) return fallback;
    const std::string& text = found->second;
    const bool digits = !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
    const long long value = digits ? std::stoll(text) : 0;
    if (value < 1 || value > max)
        throw UsageError("--" + std::string(name) + " takes a whole number from 1 to " + std::to_string(max));
    return value;
}

int Serve(const std::vector<std::string>& args) {
    const CommandLine line =
        ParseCommandLine(args,
                         {"store", "listen", "allow", "tls-cert", "tls-key", "client-ca", "recorder-ca", "call-timeout",
                          "max-calls-per-caller", "max-calls-per-address", "db-connections", "keep-days"},
                         {"trust-claimed-names", "insecure"});
    if (!line.positional.empty()) throw UsageError("unexpected argument " + line.positional.front());
    ServeOptions options;
    options.storePath = StoreOf(line);
    options.listen = line.Get("listen", "");
    options.allowed = SplitNames(line.Get("allow", ""));
    if (line.options.contains("allow") && options.allowed.empty()) throw UsageError("--allow names nobody");
    options.tlsCertFile = line.Get("tls-cert", "");
    options.tlsKeyFile = line.Get("tls-key", "");
    options.clientCaFile = line.Get("client-ca", "");
    options.recorderCaFile = line.Get("recorder-ca", "");
    options.trustClaimedNames = line.flags.contains("trust-claimed-names");
    options.insecure = line.flags.contains("insecure");
    options.limits.callTimeout = std::chrono::seconds(
        PositiveNumber(line, "call-timeout", kDefaultCallTimeout.count(), kMaxCallTimeout.count()));
    options.limits.maxCallsPerCaller =
        static_cast<int>(PositiveNumber(line, "max-calls-per-caller", kDefaultMaxCallsPerCaller, kMaxCallsPerCaller));
    options.limits.maxCallsPerAddress =
        static_cast<int>(PositiveNumber(line, "max-calls-per-address", kDefaultMaxCallsPerAddress, kMaxCallsPerCaller));
    options.dbConnections =
        static_cast<std::size_t>(PositiveNumber(line, "db-connections", kWorkerThreads, kMaxDbConnections));
    options.keepDays = static_cast<int>(PositiveNumber(line, "keep-days", 0, kMaxKeepDays));
    return RunServe(options);
}

int Import(const std::vector<std::string>& args) {
    const CommandLine line = ParseCommandLine(args, {"store", "icons"});
    if (line.positional.size() != 1) throw UsageError("import takes one RECORDS.csv");
    ProgressLine progress(STDERR_FILENO);
    const ImportSummary summary =
        ImportCsv({StoreOf(line), line.positional.front(), line.Get("icons", "")}, progress.Callback());
    progress.Finish(summary.records);
    std::cout << "imported " << summary.records << " records (" << summary.newEntities
              << " new users, computers, programs and window titles, " << summary.icons << " icons)\n";
    return 0;
}

int Demo(const std::vector<std::string>& args) {
    const CommandLine line = ParseCommandLine(args, {"store", "records"});
    if (!line.positional.empty()) throw UsageError("unexpected argument " + line.positional.front());
    DemoOptions options;
    const std::string records = line.Get("records", "1200000");
    const auto [end, error] = std::from_chars(records.data(), records.data() + records.size(), options.records);
    if (error != std::errc() || end != records.data() + records.size() || options.records < 0) {
        throw UsageError("--records takes a whole number");
    }
    ProgressLine progress(STDERR_FILENO);
    const DemoSummary summary = WriteDemoStore(StoreOf(line), options, progress.Callback());
    progress.Finish(summary.records);
    std::cout << "wrote " << summary.records << " records of " << options.users << " users on " << options.computers
              << " computers with " << summary.programs << " programs and " << summary.windowTitles
              << " window titles\n";
    return 0;
}

int Prune(const std::vector<std::string>& args) {
    const CommandLine line = ParseCommandLine(args, {"store", "before"});
    if (!line.positional.empty()) throw UsageError("unexpected argument " + line.positional.front());
    const std::string before = line.Get("before");
    const std::optional<std::int64_t> cut = ParseUtcDate(before);
    if (!cut) throw UsageError("--before takes a date as YYYY-MM-DD (00:00 UTC of that day), not " + before);
    const auto store = OpenStore(StoreOf(line), Database::Mode::ReadWrite);
    ProgressLine progress(STDERR_FILENO);
    const PruneSummary summary = PruneStore(*store, {*cut, 10'000, progress.Callback(), {}});
    progress.Finish(summary.records);
    std::cout << "removed " << DescribePrune(summary) << " (records that ended by " << before << " 00:00 UTC)\n";
    return 0;
}

// The package's unit runs it before every start of serve, so that a fresh
// install starts with an empty store.
int Init(const std::vector<std::string>& args) {
    const CommandLine line = ParseCommandLine(args, {"store"});
    if (!line.positional.empty()) throw UsageError("unexpected argument " + line.positional.front());
    InitSchema(*OpenStore(StoreOf(line), Database::Mode::Create));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : argc), argv + argc);
    HideStorePasswords(argc, argv);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "serve") return Serve(args);
        if (command == "import") return Import(args);
        if (command == "demo") return Demo(args);
        if (command == "init") return Init(args);
        if (command == "prune") return Prune(args);
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << Usage();
            return 0;
        }
        if (command == "--version") {
            std::cout << "qvservice " << QVVIEWER_VERSION << "\n";
            return 0;
        }
        throw UsageError(command.empty() ? "no command" : "unknown command " + command);
    } catch (const UsageError& error) {
        std::cerr << "qvservice: " << error.what() << "\n" << Usage();
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "qvservice: " << error.what() << "\n";
        return kExitFailure;
    }
}
