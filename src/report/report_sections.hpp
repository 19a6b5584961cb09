// The pieces that the step report and the final report share: the run header,
// the statistics table, the sample head lines, and the writing of one record
// into a report file's buffer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "report/record.hpp"
#include "report/record_file.hpp"
#include "run/params.hpp"

namespace ladyzh::report {

inline constexpr std::string_view hyphens49 = "-------------------------------------------------";
inline constexpr std::string_view hyphens51 = "---------------------------------------------------";
inline constexpr std::string_view two_blanks = "  ";

inline constexpr std::string_view psi_head = "---------- streamfunction values at  --------------";
inline constexpr std::string_view omega_head =
    "------------ vorticity values at  -----------------";
inline constexpr std::string_view coord_head =
    "------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------";

// One free-format record and its line end.
inline void free_line(RecordFile& f, std::span<const Item> items) {
  std::string& b = f.buffer();
  append_free_record(b, items);
  b += '\n';
  f.commit();
}
inline void free_line(RecordFile& f, std::initializer_list<Item> items) {
  free_line(f, std::span<const Item>(items.begin(), items.size()));
}

// One formatted record and its line end.
inline void format_line(RecordFile& f, const Format& format, std::span<const Item> items) {
  std::string& b = f.buffer();
  append_record(b, format, items);
  b += '\n';
  f.commit();
}

// The title and the ten records of the parameter block.
void write_run_header(RecordFile& f, const RunParams& p);

// The three records of the table head.
void write_table_head(RecordFile& f);

// One table row for each pass 1..rows.
void write_table_rows(RecordFile& f, const RunStats& stats, std::int32_t rows);

}  // namespace ladyzh::report
