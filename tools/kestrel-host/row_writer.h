// Prints the records the plug-in delivered: as an aligned table, as CSV or as JSON lines.
#pragma once

#include "variant_text.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::host {

enum class OutputFormat { Table, Csv, JsonLines };

struct NamedValue {
  std::string name; // UTF-8
  ValueText value;
};

// One parsed record with where it came from.
struct Record {
  uint64_t number = 0; // 1, 2, ... over the whole run
  int32_t source = 0;
  int32_t client = 0;
  std::vector<NamedValue> values;
};

class RowWriter {
public:
  // Names in `hidden` (compared without regard to ASCII case) are left out of every record.
  // Warnings go to `err`.
  RowWriter(std::FILE* out, OutputFormat format, const std::vector<std::string>& hidden,
            std::FILE* err = stderr);

  // CSV from now on: a header "record,source,client,<columns>" before the first record, then
  // one field per column in every record (empty when the record has no such value). A value
  // without a column is left out: one warning per name, and counted.
  void FixColumns(std::vector<std::string> columns);
  // Writes one record; the output is flushed by Flush (the host does it once per packet).
  void Write(const Record& record);
  void Flush();
  // Values left out for want of a column.
  uint64_t Dropped() const { return dropped_; }

private:
  bool Hidden(const std::string& name) const;
  void WriteTable(const Record& record);
  void WriteCsv(const Record& record);
  void WriteJson(const Record& record);

  void WriteCsvColumns(const Record& record);

  std::FILE* out_;
  std::FILE* err_;
  OutputFormat format_;
  std::set<std::string> hidden_;     // lower case
  std::vector<std::string> columns_; // fixed CSV columns; empty: name,type,value triples
  bool header_written_ = false;
  std::set<std::string> warned_;       // names without a column, reported once
  std::set<std::string> warned_twice_; // names given twice in a record, reported once
  uint64_t dropped_ = 0;
  std::string line_; // the CSV line being written, kept for its capacity
};

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);
// As CsvField, appended to `line`.
void AppendCsvField(std::string& line, std::string_view text);

} // namespace kestrel::host
