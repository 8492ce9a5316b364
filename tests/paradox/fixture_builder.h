// Hand-built Paradox files for reader tests: every byte placed here from
// the published layout, independently of our writer, so that the reader is
// checked against the format and not against ourselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::paradox::testing {

struct FixtureField {
  uint8_t type;
  uint8_t size_byte;  // BCD: decimal places
  std::string name;   // in the table's code page
};

struct FixtureTable {
  uint8_t version = 0x0B;
  uint8_t file_type = 2;
  int block_kib = 2;
  uint16_t code_page = 1252;
  std::string sort_id = "ANSIINTL";
  uint8_t sort_byte = 0x62;
  std::vector<FixtureField> fields;
  std::vector<std::string> records;  // each exactly the record size
  int per_block = 0;                 // records per block; 0 = as many as fit
  // Physical block number of the 1st, 2nd ... block of the chain; empty
  // means 1, 2, 3 ... A number listed twice is a cycle.
  std::vector<int> chain;
  // Non-zero: the data blocks are encrypted with this key (our own cipher
  // code; real encrypted tables are checked by the samples test).
  uint32_t encryption_key = 0;
  int record_count_delta = 0;  // added to the header's record count
};

int RecordSize(const FixtureTable& t);
// The whole .db file.
std::string BuildDb(const FixtureTable& t);

// Field encoders.
std::string FlipInt(int n, int64_t v);  // S, I, +, D, T, L
std::string FlipDouble(double v);       // N, $, @
std::string Zeros(int n);
std::string Alpha(int size, const std::string& bytes);
// BCD from a digit string like "-12.50" (scale taken from its decimals).
std::string Bcd(int scale, const std::string& value);
// A blob field of `size` bytes: leader (first size-10 bytes of `leader`),
// then pointer, length, modification number.
std::string BlobRef(int size, const std::string& leader, uint32_t pointer, uint32_t length,
                    uint16_t mod = 1);

// A .mb file: header block, then blocks as added.
class MbBuilder {
 public:
  MbBuilder();
  // A type-2 block; returns the record pointer.
  uint32_t AddSingle(const std::string& data);
  // One type-3 block holding `values` (each <= 2048 bytes) in slots 63, 62 ...
  std::vector<uint32_t> AddSubAllocated(const std::vector<std::string>& values);
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);  // empty when unreadable
// Every table file (.db, .DB) under CORVANE_PARADOX_SAMPLES; none when it is
// not set.
std::vector<std::string> SampleTableFiles();

}  // namespace corvane::paradox::testing
