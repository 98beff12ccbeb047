#pragma once
// `qvrecorder daemon` as the recorder tests run it (the test recorder certificate of WS-01, quick retries), asked with
// `qvrecorder status`, in front of a real service, and the records of a SQLite store it fed. Needs QVRECORDER_PATH.
#include "tests/support/background_process.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {

// certs: CopyTestCertificates; config: an empty settings file, so that the machine's own is not read.
inline std::vector<std::string> RecorderDaemonCommand(const std::string& server, const std::string& certs,
                                                      const std::string& socket, const std::string& spool,
                                                      const std::string& config,
                                                      const std::string& key = "test-recorder-WS-01.key") {
    const std::string ca = certs + "/test-ca.pem", cert = certs + "/test-recorder-WS-01.pem";
    return {QVRECORDER_PATH, "daemon", "--config",   config, "--server",    server,
            "--tls-ca",      ca,       "--tls-cert", cert,   "--tls-key",   certs + "/" + key,
            "--socket",      socket,   "--spool",    spool,  "--retry-max", "1"};
}

// Asks until `qvrecorder status` prints the line (e.g. "waiting 0": the spool is empty); false when it never does.
inline bool RecorderStatusSays(const std::string& socket, const std::string& line) {
    for (int i = 0; i < 1200; ++i) {
        if (RunProgram({QVRECORDER_PATH, "status", "--socket", socket}).out.find("\n" + line + "\n") !=
            std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// A store made by `qvservice init`, the service recording into it and a daemon forwarding to it from the socket; each
// started again as it was, the service on its port.
struct RecordingChain {
    // store: "" for a SQLite file in dir; socket: "" for one in dir.
    explicit RecordingChain(const std::string& storeName = "", const std::string& socketPath = "")
        : store(storeName.empty() ? dir.File("store.db") : storeName),
          socket(socketPath.empty() ? dir.File("socket") : socketPath) {
        if (RunQvservice({"init", "--store", store}).exitCode != 0) throw std::runtime_error("qvservice init failed");
        WriteFile(dir.File("empty.conf"), "");
        StartService();
        StartDaemon();
    }
    void StartService() {
        service = ServeRecording(store, certs, {"--listen", "127.0.0.1:" + std::to_string(port)});
        const std::string address = service->ListeningAddress();
        port = std::stoi(address.substr(address.rfind(':') + 1));
    }
    void StartDaemon() {
        daemon = std::make_unique<BackgroundProcess>(
            RecorderDaemonCommand(Address(), certs, socket, dir.File("spool"), dir.File("empty.conf")));
        if (!daemon->WaitForLog("listening on ")) throw std::runtime_error("no daemon: " + daemon->Log());
    }
    std::string Address() const { return "localhost:" + std::to_string(port); }

    TempDir dir;
    std::string certs = CopyTestCertificates(dir), store, socket;
    int port = 0;
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<BackgroundProcess> daemon;
};

struct StoredActivity {
    std::string process, description, title;
    std::int64_t durationMs = 0, keyboard = 0, mouse = 0;
};

// A SQLite store's records with their names, by start.
inline std::vector<StoredActivity> ReadStoredActivity(const std::string& store) {
    std::vector<StoredActivity> rows;
    sqlite3* db = nullptr;
    sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT p.process_name, p.description, w.title, a.duration_ms, a.keyboard_events, "
                       "a.mouse_events FROM activity a JOIN programs p ON p.id = a.program_id "
                       "JOIN window_titles w ON w.id = a.window_id ORDER BY a.start_ms",
                       -1, &statement, nullptr);
    const auto text = [&](int column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
        return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                     : std::string();
    };
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        rows.push_back({text(0), text(1), text(2), sqlite3_column_int64(statement, 3),
                        sqlite3_column_int64(statement, 4), sqlite3_column_int64(statement, 5)});
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

}  // namespace qv::test
