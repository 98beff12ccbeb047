// Load benchmark: a qvservice on a generated demo store, and N simulated
// viewers in threads that each connect, load the three trees and open 20
// reports of random items and periods through the viewer's own client code,
// over and over until the time is up. Prints requests per second, latency
// percentiles, errors and the service's peak memory.
//   load_bench [--viewers N] [--seconds S] [--records N] [--store FILE|postgresql://...]
// A store that exists already is used as it is.
#include "platform/ole_date.h"
#include "qvservice/demo/demo_data.h"
#include "qvservice/store/store_database.h"
#include "service/data_access_error.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "tests/support/service_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReportsPerSession = 20;
constexpr double kPeriodDays[] = {1, 7, 31, 365, 0};  // 0 = all time

struct Figures {
    std::vector<double> latencyMs;
    std::size_t errors = 0;
    std::size_t sessions = 0;
    std::string firstError;
};

struct Ids {
    std::vector<std::uint32_t> users, computers, programs;
};

std::vector<std::uint32_t> ReadIds(RecordsetPtr answer) {
    RecordsetReader reader(std::move(answer));
    Field id = reader.GetField("ID");
    std::vector<std::uint32_t> ids;
    for (; !reader.IsEOF(); reader.MoveNext()) ids.push_back(static_cast<std::uint32_t>(GetFieldInt(id)));
    return ids;
}

std::size_t ReadAll(RecordsetPtr answer) {
    RecordsetReader reader(std::move(answer));
    Field time = reader.GetField("TimeSpent");
    std::size_t rows = 0;
    for (; !reader.IsEOF(); reader.MoveNext(), ++rows) GetFieldDouble(time);
    return rows;
}

class Viewer {
public:
    Viewer(std::string address, unsigned seed, Figures& figures)
        : address_(std::move(address)), random_(seed), figures_(figures) {}

    void Session() {
        std::unique_ptr<RemoteQVQuery> service;
        Timed([&] {
            ActivationResult activation = ActivateQuorvisService(address_);
            if (activation.hr < 0) throw DataAccessError(activation.hr, activation.description);
            service = std::make_unique<RemoteQVQuery>(activation.object);
        });
        if (!service) return;
        Ids ids;
        Timed([&] { ids.users = ReadIds(RunQuery(service.get(), Request(QueryKind::Users))); });
        Timed([&] { ids.computers = ReadIds(RunQuery(service.get(), Request(QueryKind::Computers))); });
        Timed([&] { ids.programs = ReadIds(RunQuery(service.get(), Request(QueryKind::Programs))); });
        for (int report = 0; report < kReportsPerSession; ++report) {
            QueryRequest request = RandomReport(ids);
            Timed([&] { ReadAll(RunQuery(service.get(), request)); });
        }
        ++figures_.sessions;
    }

private:
    static QueryRequest Request(QueryKind kind) {
        QueryRequest request;
        request.kind = static_cast<std::int32_t>(kind);
        return request;
    }

    std::uint32_t Pick(const std::vector<std::uint32_t>& ids) {
        if (ids.empty()) return 0;
        return ids[std::uniform_int_distribution<std::size_t>(0, ids.size() - 1)(random_)];
    }

    // What a click in a tree asks for: the other trees' rows for one user,
    // computer or program, or one program's window titles, over a period.
    QueryRequest RandomReport(const Ids& ids) {
        QueryRequest request;
        switch (std::uniform_int_distribution<int>(0, 3)(random_)) {
            case 0:
                request = Request(QueryKind::Computers);
                request.userId = Pick(ids.users);
                break;
            case 1:
                request = Request(QueryKind::Programs);
                request.computerId = Pick(ids.computers);
                break;
            case 2:
                request = Request(QueryKind::Users);
                request.programId = Pick(ids.programs);
                break;
            default:
                request = Request(QueryKind::ProgramDetails);
                request.programId = Pick(ids.programs);
                break;
        }
        const double days =
            kPeriodDays[std::uniform_int_distribution<std::size_t>(0, std::size(kPeriodDays) - 1)(random_)];
        if (days > 0) {
            const double now = OleDateNow();
            request.periodStart = now - days;
            request.periodEnd = now;
        }
        return request;
    }

    template <typename Work>
    void Timed(Work&& work) {
        const auto start = Clock::now();
        try {
            work();
            figures_.latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        } catch (const DataAccessError& error) {
            if (figures_.errors++ == 0) figures_.firstError = error.Description();
        } catch (const std::exception& error) {
            if (figures_.errors++ == 0) figures_.firstError = error.what();
        }
    }

    std::string address_;
    std::mt19937 random_;
    Figures& figures_;
};

long PeakKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double Percentile(std::vector<double>& sorted, double share) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(share * static_cast<double>(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int viewers = 50;
    int seconds = 30;
    std::int64_t records = 1'200'000;
    std::string store;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--viewers")
            viewers = std::stoi(argv[i + 1]);
        else if (option == "--seconds")
            seconds = std::stoi(argv[i + 1]);
        else if (option == "--records")
            records = std::stoll(argv[i + 1]);
        else if (option == "--store")
            store = argv[i + 1];
        else {
            std::cerr
                << "usage: load_bench [--viewers N] [--seconds S] [--records N] [--store FILE|postgresql://...]\n";
            return 2;
        }
    }
    if (viewers < 1 || seconds < 1) {
        std::cerr << "load_bench: --viewers and --seconds must be positive\n";
        return 2;
    }
    std::filesystem::path temporary;
    if (store.empty()) {
        temporary = std::filesystem::temp_directory_path() / ("qv-load-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(temporary);
        store = (temporary / "store.db").string();
    }
    if (!qv::server::StoreExists(store)) {
        qv::server::DemoOptions options;
        options.records = records;
        const auto summary = qv::server::WriteDemoStore(store, options);
        std::printf("built a store of %lld records\n", static_cast<long long>(summary.records));
    }
    // The simulated viewers share this process's login name and address, so
    // the service is told to let that one caller have a call per viewer.
    qv::test::ServiceProcess process({"serve", "--store", store, "--listen", "127.0.0.1:0", "--max-calls-per-caller",
                                      std::to_string(viewers), "--max-calls-per-address", std::to_string(viewers)});
    const std::string address = process.WaitUntilListening();
    if (address.empty()) {
        std::cerr << "load_bench: the service did not start\n" << process.Log();
        return 1;
    }

    std::vector<Figures> figures(static_cast<std::size_t>(viewers));
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int v = 0; v < viewers; ++v) {
        threads.emplace_back([&, v] {
            Viewer viewer(address, static_cast<unsigned>(v), figures[static_cast<std::size_t>(v)]);
            do viewer.Session();
            while (Clock::now() < end);
        });
    }
    for (auto& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const long peak = PeakKilobytes(process.Pid());

    std::vector<double> latencies;
    std::size_t errors = 0;
    std::size_t sessions = 0;
    std::string firstError;
    for (const Figures& f : figures) {
        latencies.insert(latencies.end(), f.latencyMs.begin(), f.latencyMs.end());
        errors += f.errors;
        sessions += f.sessions;
        if (firstError.empty()) firstError = f.firstError;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("viewers %d, %.1f s, %zu sessions, %zu requests\n", viewers, elapsed, sessions,
                latencies.size() + errors);
    std::printf("requests/s %.1f\n", static_cast<double>(latencies.size() + errors) / elapsed);
    std::printf("latency ms p50 %.1f  p99 %.1f  max %.1f\n", Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                latencies.empty() ? 0.0 : latencies.back());
    std::printf("errors %zu%s%s\n", errors, firstError.empty() ? "" : ", first: ", firstError.c_str());
    std::printf("service peak memory (VmHWM) %.1f MB\n", static_cast<double>(peak) / 1024.0);
    const int exitCode = process.Stop(SIGTERM);
    if (exitCode != 0) std::printf("the service ended with %d; its log:\n%s", exitCode, process.Log().c_str());
    if (!temporary.empty()) std::filesystem::remove_all(temporary);
    return errors == 0 ? 0 : 1;
}
