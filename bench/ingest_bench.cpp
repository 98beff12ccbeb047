// Ingest benchmark: recorders as threads, each with its own id and its own
// computer certificate's name, send records in batches through the real
// recording method of a qvservice child process, on a new store of each
// engine. Prints records per second, batch latency percentiles and the
// service's peak memory.
//   ingest_bench [--records N] [--recorders N] [--batch N] [--engine sqlite|postgres|both]
//                [--mix office|scattered]
#include "tests/support/postgres_cluster.h"
#include "tests/support/recording_client.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qv;
using namespace qv::test;
using Clock = std::chrono::steady_clock;

struct Options {
    std::size_t records = 1'000'000;
    std::size_t recorders = 8;
    std::size_t batch = 1000;
    std::string engine = "both";
    std::string mix = "office";
};

long PeakKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

// What a computer's recorder sends: its user's day, one front window after
// another, back to back, each stretch closed after at most a minute. The
// user keeps to a dozen programs, some much more than others, and to a few
// dozen titles in each; one title in ten is new (a new document or page).
std::vector<ActivityRecord> OfficeRecords(std::mt19937_64& random, std::size_t count, const std::string& computer,
                                          const std::string& user, std::int64_t& clockMs) {
    std::vector<ActivityRecord> records(count);
    for (auto& r : records) {
        const auto program = (random() % 4 == 0 ? random() % 12 : random() % 3);
        const auto title =
            random() % 10 == 0 ? "New " + std::to_string(random()) : "Document " + std::to_string(random() % 30);
        const auto duration = static_cast<std::int64_t>(1'000 + random() % 59'000);
        r = {user,
             computer,
             "program" + std::to_string(program) + ".exe",
             "Program " + std::to_string(program),
             title + " - Program " + std::to_string(program),
             clockMs,
             duration,
             static_cast<std::int64_t>(random() % 200),
             static_cast<std::int64_t>(random() % 100)};
        clockMs += duration + static_cast<std::int64_t>(random() % 2'000);
    }
    return records;
}

// The worst case for the rollups: every record from any of 300 users and any
// of 200 programs, an hour apart from the last one of its key, so that each
// adds a row at every bucket level.
std::vector<ActivityRecord> ScatteredRecords(std::mt19937_64& random, std::size_t count, const std::string& computer,
                                             std::int64_t& clockMs) {
    std::vector<ActivityRecord> records(count);
    for (auto& r : records) {
        const auto program = random() % 200;
        r = {"CORP\\user" + std::to_string(random() % 300),
             computer,
             "program" + std::to_string(program) + ".exe",
             "Program " + std::to_string(program),
             (random() % 10 == 0 ? "New " + std::to_string(random()) : "Document " + std::to_string(random() % 100)) +
                 " - Program " + std::to_string(program),
             clockMs,
             static_cast<std::int64_t>(random() % 60'000),
             static_cast<std::int64_t>(random() % 500),
             static_cast<std::int64_t>(random() % 500)};
        clockMs += 60'000;
    }
    return records;
}

void Run(const std::string& engine, const std::string& store, const TempDir& dir, const Options& options) {
    const std::string certs = CopyTestCertificates(dir);
    WriteRecords(store, {});
    const auto service = Serve(store, {"--tls-cert", certs + "/test-server.pem", "--tls-key",
                                       certs + "/test-server.key", "--recorder-ca", certs + "/test-recorder-ca.pem"});
    const std::string address = service->WaitUntilListening();
    if (address.empty()) {
        std::fprintf(stderr, "the service did not start:\n%s\n", service->Log().c_str());
        return;
    }
    std::vector<std::vector<double>> latencies(options.recorders);
    std::atomic<std::size_t> failures{0};
    std::string firstFailure;
    const std::size_t perRecorder = options.records / options.recorders;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < options.recorders; ++t) {
        threads.emplace_back([&, t] {
            // The test certificates name two computers; recorders share them, each with its own id.
            const std::string computer = t % 2 == 0 ? "WS-01" : "WS-02";
            const auto stub = RecorderStub(address, certs, "test-recorder-" + computer);
            std::mt19937_64 random(t);
            std::string id(16, '\0');
            for (auto& byte : id) byte = static_cast<char>(random());
            std::int64_t clockMs = 1'735'689'600'000 + static_cast<std::int64_t>(t) * 1000;
            for (std::size_t sent = 0; sent < perRecorder; sent += options.batch) {
                const std::size_t n = std::min(options.batch, perRecorder - sent);
                const auto batch =
                    WireBatch(id, sent + 1,
                              options.mix == "office"
                                  ? OfficeRecords(random, n, computer, "CORP\\user" + std::to_string(t), clockMs)
                                  : ScatteredRecords(random, n, computer, clockMs));
                const auto began = Clock::now();
                const grpc::Status status = SendBatch(*stub, batch);
                latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
                if (!status.ok() && failures++ == 0) firstFailure = status.error_message();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    const auto at = [&](double q) { return all.empty() ? 0.0 : all[static_cast<std::size_t>(q * (all.size() - 1))]; };
    std::printf("%-10s %zu records (%s) by %zu recorders in batches of %zu: %.1f s, %.0f records/s\n", engine.c_str(),
                perRecorder * options.recorders, options.mix.c_str(), options.recorders, options.batch, seconds,
                static_cast<double>(perRecorder * options.recorders) / seconds);
    std::printf("%-10s batch latency p50 %.1f ms, p99 %.1f ms; failed batches %zu%s%s\n", engine.c_str(), at(0.5),
                at(0.99), failures.load(), firstFailure.empty() ? "" : ": ", firstFailure.c_str());
    std::printf("%-10s service peak memory (VmHWM) %.1f MB\n", engine.c_str(),
                static_cast<double>(PeakKb(service->Pid())) / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--records")
            options.records = std::stoul(value);
        else if (name == "--recorders")
            options.recorders = std::max<std::size_t>(1, std::stoul(value));
        else if (name == "--batch")
            options.batch = std::max<std::size_t>(1, std::stoul(value));
        else if (name == "--engine")
            options.engine = value;
        else if (name == "--mix" && (value == "office" || value == "scattered"))
            options.mix = value;
        else {
            std::fprintf(stderr,
                         "usage: ingest_bench [--records N] [--recorders N] [--batch N] [--engine E] [--mix "
                         "office|scattered]\n");
            return 2;
        }
    }
    if (options.engine != "postgres") {
        const TempDir dir;
        Run("SQLite", dir.File("store.db"), dir, options);
    }
    if (options.engine != "sqlite") {
        const TempDir dir;
        // The throw-away cluster runs with fsync off, as the tests' does.
        Run("PostgreSQL", PostgresCluster::Shared().NewDatabase(), dir, options);
    }
    return 0;
}
