#include "qvservice/demo/demo_data.h"

#include "qvservice/demo/demo_catalog.h"
#include "qvservice/model/ole_time.h"
#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/store/new_store_file.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace qv::server {

namespace {

// A working day: 7.5 to 9.5 hours from the first record to the last, less
// half an hour to an hour of lunch.
constexpr double kWorkMsPerDay = 7.75 * kMsPerHour;

struct Person {
    std::int64_t id;
    std::int64_t computer;
    std::vector<std::size_t> programs;  // indexes into the catalog, most used first
};

struct Program {
    std::int64_t id;
    std::vector<std::int64_t> titles;
    double keyboardRate;
    double mouseRate;
};

struct Entry {
    std::int64_t start;
    std::int64_t duration;
    RecordIds ids;
    std::int64_t keyboard;
    std::int64_t mouse;
};

class Generator {
public:
    Generator(const DemoOptions& options, const ProgressCallback& progress, RecordWriter& writer)
        : options_(options), progress_(progress), writer_(writer), random_(options.seed) {}

    DemoSummary Run() {
        Setup();
        const std::int64_t lastDay = LocalDayNumber(endMs_);
        const std::int64_t firstDay = lastDay - options_.days + 1;
        std::int64_t workdays = 0;
        for (std::int64_t day = firstDay; day <= lastDay; ++day) workdays += IsWeekend(day) ? 0 : 1;
        const double perDay =
            static_cast<double>(options_.records) /
            std::max(1.0, static_cast<double>(workdays * static_cast<std::int64_t>(people_.size())) * 0.96);
        slotMs_ = std::max(1000.0, kWorkMsPerDay / std::max(perDay, 1.0));
        for (std::int64_t day = firstDay; day <= lastDay; ++day) {
            Day(day);
            if (progress_) {
                progress_(writer_.RecordCount(),
                          static_cast<double>(day - firstDay + 1) / static_cast<double>(lastDay - firstDay + 1));
            }
        }
        return {writer_.RecordCount(), programs_.size(), titles_};
    }

private:
    static bool IsWeekend(std::int64_t day) {
        const std::int64_t weekday = ((day % 7) + 11) % 7;  // 0 = Sunday; day 0 was a Thursday
        return weekday == 0 || weekday == 6;
    }

    double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random_); }
    bool Chance(double p) { return Uniform(0, 1) < p; }

    void Setup() {
        endMs_ = options_.endMs != 0 ? options_.endMs
                                     : std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count();
        auto& entities = writer_.Entities();
        const auto catalog = DemoPrograms();
        for (std::size_t i = 0; i < catalog.size(); ++i) {
            Program program{entities.ProgramId(catalog[i].process, catalog[i].description), {}, 0, 0};
            entities.SetIcon(program.id, DemoIcon(i));
            for (const auto& title : DemoWindowTitles(catalog[i], random_)) {
                program.titles.push_back(entities.WindowId(program.id, title));
            }
            titles_ += program.titles.size();
            std::tie(program.keyboardRate, program.mouseRate) = DemoEventRates(catalog[i].kind);
            programs_.push_back(std::move(program));
        }
        for (const auto& name : DemoComputerNames(options_.computers)) computers_.push_back(entities.ComputerId(name));
        const auto names = DemoUserNames(options_.users);
        for (std::size_t i = 0; i < names.size(); ++i) {
            Person person{entities.UserId(names[i]), computers_[i % computers_.size()], {3, 9, 28, 8}};
            const std::size_t extra = 6 + random_() % 8;
            while (person.programs.size() < 4 + extra) {
                const std::size_t pick = random_() % catalog.size();
                if (std::find(person.programs.begin(), person.programs.end(), pick) == person.programs.end()) {
                    person.programs.push_back(pick);
                }
            }
            std::shuffle(person.programs.begin(), person.programs.end(), random_);
            people_.push_back(std::move(person));
        }
    }

    // Zipf-like choice: the first entries are used most.
    template <typename T>
    const T& Favourite(const std::vector<T>& values) {
        const double u = Uniform(0, 1);
        return values[static_cast<std::size_t>(std::pow(u, 2.2) * static_cast<double>(values.size())) % values.size()];
    }

    void Day(std::int64_t day) {
        const std::int64_t midnight = LocalDayStartMs(day);
        const bool weekend = IsWeekend(day);
        std::vector<Entry> entries;
        for (const Person& person : people_) {
            if (weekend ? !Chance(0.03) : Chance(0.04)) continue;
            const std::int64_t computer =
                computers_.size() > people_.size() && Chance(0.08)
                    ? computers_[people_.size() + random_() % (computers_.size() - people_.size())]
                    : person.computer;
            const auto start = midnight + static_cast<std::int64_t>(Uniform(7.5, 9.5) * kMsPerHour);
            const auto end =
                start + static_cast<std::int64_t>((weekend ? Uniform(1, 3) : Uniform(7.5, 9.5)) * kMsPerHour);
            const auto lunch = start + static_cast<std::int64_t>(Uniform(3.5, 4.5) * kMsPerHour);
            const auto lunchEnd = lunch + static_cast<std::int64_t>(Uniform(0.5, 1.0) * kMsPerHour);
            for (std::int64_t t = start; t < end && t < endMs_;) {
                if (t >= lunch && t < lunchEnd) {
                    t = lunchEnd;  // which may lie past the day's or the demo's end
                    continue;
                }
                std::exponential_distribution<double> length(1.0 / (0.85 * slotMs_));
                auto duration = std::clamp(static_cast<std::int64_t>(length(random_)), std::int64_t{200},
                                           static_cast<std::int64_t>(10 * slotMs_));
                duration = std::min(duration, endMs_ - t);
                const Program& program = programs_[Favourite(person.programs)];
                const double seconds = static_cast<double>(duration) / 1000.0;
                entries.push_back({t,
                                   duration,
                                   {person.id, computer, program.id, Favourite(program.titles)},
                                   std::llround(seconds * program.keyboardRate * Uniform(0.3, 1.7)),
                                   std::llround(seconds * program.mouseRate * Uniform(0.3, 1.7))});
                std::exponential_distribution<double> gap(1.0 / (0.15 * slotMs_));
                t += duration + static_cast<std::int64_t>(gap(random_));
            }
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.start < b.start; });
        for (const Entry& e : entries) writer_.AddResolved(e.ids, e.start, e.duration, e.keyboard, e.mouse);
    }

    const DemoOptions& options_;
    const ProgressCallback& progress_;
    RecordWriter& writer_;
    std::mt19937_64 random_;
    std::int64_t endMs_ = 0;
    double slotMs_ = 0;
    std::vector<Program> programs_;
    std::vector<std::int64_t> computers_;
    std::vector<Person> people_;
    std::size_t titles_ = 0;
};

DemoSummary WriteDemo(Database& db, const DemoOptions& options, const ProgressCallback& progress) {
    Transaction transaction(db, Transaction::Kind::Write);
    // Only under the writers' lock: a database shared with other hosts may
    // have been filled since it was opened.
    if (db.SchemaVersion() != 0)
        throw std::runtime_error(db.Name() + " holds a store already; the demo writes a new store");
    PrepareSchema(db);
    RecordWriter writer(db);
    const DemoSummary summary = Generator(options, progress, writer).Run();
    writer.Finish();
    transaction.Commit();
    db.RefreshPlannerStatistics();
    return summary;
}

}  // namespace

DemoSummary WriteDemoStore(const std::string& store, const DemoOptions& options, const ProgressCallback& progress) {
    if (IsPostgresStore(store)) return WriteDemo(*OpenStore(store, Database::Mode::Create), options, progress);
    if (std::filesystem::exists(store))
        throw std::runtime_error(store + " exists already; the demo writes a new store");
    NewStoreFile file(store);
    DemoSummary summary;
    {
        const auto db = OpenStore(file.BuildPath(), Database::Mode::Create);
        summary = WriteDemo(*db, options, progress);
    }
    file.Publish();
    return summary;
}

}  // namespace qv::server
