#include "records/csv_parser.h"

namespace qv {

void CsvParser::Append(char c) {
    if (field_.size() >= kMaxFieldBytes) {
        throw CsvError(recordLine_, "a field is longer than " + std::to_string(kMaxFieldBytes) + " bytes");
    }
    field_.push_back(c);
}

void CsvParser::EndField() {
    fields_.push_back(std::move(field_));
    field_.clear();
    state_ = State::FieldStart;
}

void CsvParser::NextField() {
    EndField();
    if (fields_.size() >= maxFields_) {
        throw CsvError(recordLine_, "more than " + std::to_string(maxFields_) + " fields");
    }
}

void CsvParser::EndRecord() {
    EndField();
    handler_(fields_, recordLine_);
    fields_.clear();
    recordStarted_ = false;
}

void CsvParser::Feed(std::string_view chunk) {
    for (const char c : chunk) {
        if (pendingCr_) {
            // A CR counts as part of the line break only right before LF.
            pendingCr_ = false;
            if (c != '\n') Append('\r');
        }
        if (!recordStarted_) {
            recordStarted_ = true;
            recordLine_ = line_;
        }
        if (c == '\n') ++line_;
        switch (state_) {
            case State::FieldStart:
            case State::Unquoted:
                if (c == '"') {
                    if (state_ == State::Unquoted) throw CsvError(recordLine_, "a quote inside an unquoted field");
                    state_ = State::Quoted;
                } else if (c == ',') {
                    NextField();
                } else if (c == '\n') {
                    EndRecord();
                } else if (c == '\r') {
                    pendingCr_ = true;
                    state_ = State::Unquoted;
                } else {
                    Append(c);
                    state_ = State::Unquoted;
                }
                break;
            case State::Quoted:
                if (c == '"') {
                    state_ = State::QuoteInQuoted;
                } else {
                    Append(c);
                }
                break;
            case State::QuoteInQuoted:
                if (c == '"') {
                    Append('"');
                    state_ = State::Quoted;
                } else if (c == ',') {
                    NextField();
                } else if (c == '\n') {
                    EndRecord();
                } else if (c == '\r') {
                    state_ = State::CrAfterQuote;
                } else {
                    throw CsvError(recordLine_, "text after the closing quote of a field");
                }
                break;
            case State::CrAfterQuote:
                // Only a line break may follow a closing quote; a CR on its own is text.
                if (c != '\n') throw CsvError(recordLine_, "text after the closing quote of a field");
                EndRecord();
                break;
        }
    }
}

void CsvParser::Finish() {
    if (state_ == State::Quoted) throw CsvError(recordLine_, "a quoted field is not closed");
    pendingCr_ = false;
    if (recordStarted_) EndRecord();
}

}  // namespace qv
