#include "tests/support/random_records.h"

#include "qvservice/import/csv_import.h"

#include <ctime>

namespace qv::test {

using namespace std::string_literals;

std::vector<qv::ActivityRecord> RandomRecords(std::mt19937_64& random, std::size_t count, std::int64_t fromMs,
                                              std::int64_t toMs) {
    static const std::vector<std::string> users{"anna",
                                                "Anna",
                                                "ben",
                                                "j\xC3\xBCrgen",
                                                "CORP\\dora",
                                                "\xC3\xA7"
                                                "a\xC4\x9F"
                                                "la"};
    static const std::vector<std::string> computers{"WS-01", "ws-01", "WS-02", "LAB-7"};
    static const std::vector<std::pair<std::string, std::string>> programs{
        {"browser.exe", "Web Browser"}, {"editor.exe", "Text Editor"}, {"mail.exe", "Mail"}, {"cmd.exe", ""}};
    static const std::vector<std::string> titles{
        "Report.docx",         "",           "bad \xFF\xFE title", "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82",
        "a \"quoted\", title", "  padded  ", "nul\0inside"s};
    const auto pick = [&](const auto& values) { return values[random() % values.size()]; };
    const auto between = [&](std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(high - low + 1));
    };
    constexpr std::int64_t kMinute = 60'000, kHour = 60 * kMinute;
    std::vector<qv::ActivityRecord> records;
    for (std::size_t i = 0; i < count; ++i) {
        qv::ActivityRecord record;
        record.user = pick(users);
        record.computer = pick(computers);
        std::tie(record.process, record.description) = pick(programs);
        record.windowTitle = pick(titles);
        record.startMs = between(fromMs / 1000, toMs / 1000 - 1) * 1000;
        const auto kind = random() % 20;
        record.durationMs = kind < 2    ? 0
                            : kind < 16 ? between(1, 20 * kMinute)
                            : kind < 19 ? between(20 * kMinute, 6 * kHour)
                                        : between(6 * kHour, 50 * kHour);
        record.keyboardEvents = random() % 20 == 0 ? 0 : between(0, 1000);
        record.mouseEvents = between(0, 700);
        records.push_back(std::move(record));
    }
    return records;
}

std::string RecordsCsv(const std::vector<qv::ActivityRecord>& records) {
    const auto quoted = [](const std::string& field) {
        std::string out = "\"";
        for (char c : field) out += c == '"' ? "\"\""s : std::string(1, c);
        return out + "\",";
    };
    std::string csv = std::string(qv::kCsvHeader) + "\r\n";
    for (const qv::ActivityRecord& r : records) {
        const auto seconds = static_cast<std::time_t>(r.startMs / 1000);
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char start[32];
        std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%SZ", &utc);
        csv += quoted(r.user) + quoted(r.computer) + quoted(r.process) + quoted(r.description) + quoted(r.windowTitle) +
               start + "," + std::to_string(r.durationMs) + "," + std::to_string(r.keyboardEvents) + "," +
               std::to_string(r.mouseEvents) + "\r\n";
    }
    return csv;
}

}  // namespace qv::test
