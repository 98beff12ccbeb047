// RFC 4180 CSV, fed in chunks of any size: fields separated by commas,
// records by CRLF or LF, quoted fields may hold commas, line breaks and
// doubled quotes. Each record is reported with the line it starts on. Fields
// and their count are bounded, so memory stays bounded whatever the input.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class CsvError : public std::runtime_error {
public:
    CsvError(std::size_t line, const std::string& what) : std::runtime_error(what), line_(line) {}
    std::size_t Line() const { return line_; }

private:
    std::size_t line_;
};

class CsvParser {
public:
    using RecordHandler = std::function<void(std::vector<std::string>& fields, std::size_t line)>;

    static constexpr std::size_t kMaxFieldBytes = 1 << 20;

    // A record with more than maxFields fields is refused as its extra field starts.
    CsvParser(std::size_t maxFields, RecordHandler handler) : maxFields_(maxFields), handler_(std::move(handler)) {}

    void Feed(std::string_view chunk);
    // Ends the input: reports a last record without a line break.
    void Finish();

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted, CrAfterQuote };

    void Append(char c);
    void EndField();
    void NextField();
    void EndRecord();

    std::size_t maxFields_;
    RecordHandler handler_;
    State state_ = State::FieldStart;
    std::vector<std::string> fields_;
    std::string field_;
    bool recordStarted_ = false;
    bool pendingCr_ = false;
    std::size_t line_ = 1;
    std::size_t recordLine_ = 1;
};

}  // namespace qv
