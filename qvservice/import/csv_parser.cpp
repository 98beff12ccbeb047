#include "qvservice/import/csv_parser.h"

namespace qv::server {

void CsvParser::Append(char c) {
  if (m_field.size() >= kMaxFieldBytes) {
    throw CsvError(m_recordLine, "a field is longer than " + std::to_string(kMaxFieldBytes) + " bytes");
  }
  m_field.push_back(c);
}

void CsvParser::EndField() {
  m_fields.push_back(std::move(m_field));
  m_field.clear();
  m_state = State::FieldStart;
}

void CsvParser::NextField() {
  EndField();
  if (m_fields.size() >= m_maxFields) {
    throw CsvError(m_recordLine, "more than " + std::to_string(m_maxFields) + " fields");
  }
}

void CsvParser::EndRecord() {
  EndField();
  m_handler(m_fields, m_recordLine);
  m_fields.clear();
  m_recordStarted = false;
}

void CsvParser::Feed(std::string_view chunk) {
  for (const char c : chunk) {
    if (m_pendingCr) {
      // A CR counts as part of the line break only right before LF.
      m_pendingCr = false;
      if (c != '\n') Append('\r');
    }
    if (!m_recordStarted) {
      m_recordStarted = true;
      m_recordLine = m_line;
    }
    if (c == '\n') ++m_line;
    switch (m_state) {
      case State::FieldStart:
      case State::Unquoted:
        if (c == '"') {
          if (m_state == State::Unquoted) throw CsvError(m_recordLine, "a quote inside an unquoted field");
          m_state = State::Quoted;
        } else if (c == ',') {
          NextField();
        } else if (c == '\n') {
          EndRecord();
        } else if (c == '\r') {
          m_pendingCr = true;
          m_state = State::Unquoted;
        } else {
          Append(c);
          m_state = State::Unquoted;
        }
        break;
      case State::Quoted:
        if (c == '"') {
          m_state = State::QuoteInQuoted;
        } else {
          Append(c);
        }
        break;
      case State::QuoteInQuoted:
        if (c == '"') {
          Append('"');
          m_state = State::Quoted;
        } else if (c == ',') {
          NextField();
        } else if (c == '\n') {
          EndRecord();
        } else if (c == '\r') {
          m_state = State::CrAfterQuote;
        } else {
          throw CsvError(m_recordLine, "text after the closing quote of a field");
        }
        break;
      case State::CrAfterQuote:
        // Only a line break may follow a closing quote; a CR on its own is text.
        if (c != '\n') throw CsvError(m_recordLine, "text after the closing quote of a field");
        EndRecord();
        break;
    }
  }
}

void CsvParser::Finish() {
  if (m_state == State::Quoted) throw CsvError(m_recordLine, "a quoted field is not closed");
  m_pendingCr = false;
  if (m_recordStarted) EndRecord();
}

}  // namespace qv::server
