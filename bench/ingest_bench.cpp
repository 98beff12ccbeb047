// Ingest benchmark: recorders as threads, each with its own id and its own
// computer certificate's name, send records in batches through the real
// recording method of a qvservice child process, on a new store of each
// engine. Prints records per second, batch latency percentiles and the
// service's peak memory, then the rate of qvservice import of the same
// records from one file. With --relay, then the relay's phase: a real
// qvrecorder daemon forwarding `qvrecorder send` of --relay-records records
// to a real service on SQLite, and the daemon's memory while and after it
// forwards.
//   ingest_bench [--records N] [--recorders N] [--batch N] [--engine sqlite|postgres|both|none]
//                [--mix office|scattered] [--relay] [--relay-records N]
#include "records/log.h"
#include "tests/support/background_process.h"
#include "tests/support/child_process.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/random_records.h"
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
    bool relay = false;
    std::size_t relayRecords = 100'000;
};

// A figure of /proc/PID/status in kB, such as VmHWM or RssAnon; 0 when absent.
long StatusKb(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
    }
    return 0;
}

long PeakKb(pid_t pid) { return StatusKb(pid, "VmHWM"); }

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

// The test certificates name two computers; recorders share them, each with its own id.
std::string ComputerOf(std::size_t recorder) { return recorder % 2 == 0 ? "WS-01" : "WS-02"; }

// A recorder's next count records, of the chosen mix.
std::vector<ActivityRecord> NextRecords(const Options& options, std::size_t recorder, std::size_t count,
                                        std::mt19937_64& random, std::int64_t& clockMs) {
    return options.mix == "office"
               ? OfficeRecords(random, count, ComputerOf(recorder), "CORP\\user" + std::to_string(recorder), clockMs)
               : ScatteredRecords(random, count, ComputerOf(recorder), clockMs);
}

std::int64_t FirstStartMs(std::size_t recorder) {
    return 1'735'689'600'000 + static_cast<std::int64_t>(recorder) * 1000;
}

// The same records as qvservice import takes them: one file, in one transaction.
void RunImport(const std::string& engine, const std::string& store, const TempDir& dir, const Options& options) {
    std::vector<ActivityRecord> records;
    for (std::size_t t = 0; t < options.recorders; ++t) {
        std::mt19937_64 random(t);
        std::int64_t clockMs = FirstStartMs(t);
        const auto more = NextRecords(options, t, options.records / options.recorders, random, clockMs);
        records.insert(records.end(), more.begin(), more.end());
    }
    const std::string file = dir.File("records.csv");
    WriteFile(file, RecordsCsv(records));
    const auto start = Clock::now();
    const ToolResult run = RunQvservice({"import", "--store", store, file});
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (run.exitCode != 0) throw std::runtime_error("qvservice import failed: " + run.err);
    std::printf("%-10s import of %zu records (%s) from one file: %.1f s, %.0f records/s\n", engine.c_str(),
                records.size(), options.mix.c_str(), seconds, static_cast<double>(records.size()) / seconds);
    std::fflush(stdout);
}

void Run(const std::string& engine, const std::string& store, const TempDir& dir, const Options& options) {
    const std::string certs = CopyTestCertificates(dir);
    WriteRecords(store, {});
    const auto service = ServeRecording(store, certs);
    const std::string address = service->ListeningAddress();  // throws with the service's log
    std::vector<std::vector<double>> latencies(options.recorders);
    std::atomic<std::size_t> failures{0};
    std::string firstFailure;
    const std::size_t perRecorder = options.records / options.recorders;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < options.recorders; ++t) {
        threads.emplace_back([&, t] {
            const auto stub = RecorderStub(address, certs, "test-recorder-" + ComputerOf(t));
            std::mt19937_64 random(t);
            std::string id(16, '\0');
            for (auto& byte : id) byte = static_cast<char>(random());
            std::int64_t clockMs = FirstStartMs(t);
            for (std::size_t sent = 0; sent < perRecorder; sent += options.batch) {
                const std::size_t n = std::min(options.batch, perRecorder - sent);
                const auto batch = WireBatch(id, sent + 1, NextRecords(options, t, n, random, clockMs));
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

// The process's proportional share of its pages (shared library pages split among their users), in kB.
long PssKb(pid_t pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);) {
        if (line.rfind("Pss:", 0) == 0) return std::stol(line.substr(4));
    }
    return 0;
}

// The daemon's memory as /proc has it, in MB.
std::string Memory(pid_t pid) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "VmHWM %.1f MB, VmRSS %.1f MB (RssAnon %.1f, RssFile %.1f, RssShmem %.1f), Pss %.1f MB",
                  StatusKb(pid, "VmHWM") / 1024.0, StatusKb(pid, "VmRSS") / 1024.0, StatusKb(pid, "RssAnon") / 1024.0,
                  StatusKb(pid, "RssFile") / 1024.0, StatusKb(pid, "RssShmem") / 1024.0, PssKb(pid) / 1024.0);
    return text;
}

void RunRelay(const Options& options) {
    const TempDir dir;
    const std::string certs = CopyTestCertificates(dir);
    const std::string store = dir.File("store.db");
    WriteRecords(store, {});
    const auto service = ServeRecording(store, certs);
    const std::string address = service->ListeningAddress();  // throws with the service's log
    WriteFile(dir.File("empty.conf"), "");
    const std::string socket = dir.File("socket");
    BackgroundProcess daemon({QVRECORDER_PATH, "daemon", "--config", dir.File("empty.conf"), "--server", address,
                              "--tls-ca", certs + "/test-ca.pem", "--tls-cert", certs + "/test-recorder-WS-01.pem",
                              "--tls-key", certs + "/test-recorder-WS-01.key", "--socket", socket, "--spool",
                              dir.File("spool")});
    if (!daemon.WaitForLog("listening on ")) {
        std::fprintf(stderr, "the daemon did not start:\n%s\n", daemon.Log().c_str());
        return;
    }
    std::printf("relay      idle daemon: %s\n", Memory(daemon.Pid()).c_str());
    std::mt19937_64 random(1);
    std::int64_t clockMs = 1'735'689'600'000;
    // The sender's own records: the daemon fills in its user and computer.
    const std::vector<ActivityRecord> records = OfficeRecords(random, options.relayRecords, "", "", clockMs);
    WriteFile(dir.File("records.csv"), RecordsCsv(records));
    const auto start = Clock::now();
    const ToolResult sent = RunWithInput({QVRECORDER_PATH, "send", "--socket", socket}, dir.File("records.csv"));
    const double sending = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("relay      %s in %.1f s; %s\n",
                Printable(sent.out.substr(0, sent.out.find('\n')) + sent.err, 200).c_str(), sending,
                Memory(daemon.Pid()).c_str());
    // The forwarder runs while send fills the spool; waiting 0 is its end.
    for (;;) {
        const ToolResult status = RunProgram({QVRECORDER_PATH, "status", "--socket", socket});
        if (status.exitCode != 0 || status.out.find("\nwaiting 0\n") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("relay      %zu records forwarded in %.1f s, %.0f records/s; %s\n", records.size(), seconds,
                static_cast<double>(records.size()) / seconds, Memory(daemon.Pid()).c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (name != "--relay") ++i;
        if (name == "--relay")
            options.relay = true;
        else if (value.empty()) {
            std::fprintf(stderr, "%s needs a value\n", name.c_str());
            return 2;
        } else if (name == "--records")
            options.records = std::stoul(value);
        else if (name == "--recorders")
            options.recorders = std::max<std::size_t>(1, std::stoul(value));
        else if (name == "--batch")
            options.batch = std::max<std::size_t>(1, std::stoul(value));
        else if (name == "--engine")
            options.engine = value;
        else if (name == "--mix" && (value == "office" || value == "scattered"))
            options.mix = value;
        else if (name == "--relay-records")
            options.relayRecords = std::max<std::size_t>(1, std::stoul(value));
        else {
            std::fprintf(stderr,
                         "usage: ingest_bench [--records N] [--recorders N] [--batch N] [--engine E] "
                         "[--mix office|scattered] [--relay] [--relay-records N]\n");
            return 2;
        }
    }
    try {
        if (options.engine != "postgres" && options.engine != "none") {
            const TempDir dir;
            Run("SQLite", dir.File("store.db"), dir, options);
            RunImport("SQLite", dir.File("imported.db"), dir, options);
        }
        if (options.engine != "sqlite" && options.engine != "none") {
            const TempDir dir;
            // The throw-away cluster runs with fsync off, as the tests' does.
            Run("PostgreSQL", PostgresCluster::Shared().NewDatabase(), dir, options);
            RunImport("PostgreSQL", PostgresCluster::Shared().NewDatabase(), dir, options);
        }
        if (options.relay) RunRelay(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ingest_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
