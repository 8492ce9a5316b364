// The rule files of a table being written: encoded from the finished
// table file (read back block by block, so rows need not be held), written
// to scratch files beside it and published with the table in PlaceFiles.
#include <cstring>

#include "base/ascii.h"
#include "paradox/file_io.h"
#include "paradox/gathered_writes.h"
#include "paradox/table_writer.h"
#include "paradox/temp_file.h"

namespace corvane::paradox {

namespace fs = std::filesystem;

Status TableWriter::WriteRuleFiles() {
  TableInfo info;
  info.path = db_path_.string();
  info.version_byte = 0x0B;  // as EncodeDbHeader writes
  info.keyed = key_fields_ > 0;
  info.key_fields = key_fields_;
  info.block_size = block_size_;
  info.header_size = header_size_;
  info.record_size = record_size_;
  info.code_page = code_page_;
  info.fields = fields_;
  for (size_t i = 1; i <= fields_.size(); ++i) info.field_numbers.push_back(static_cast<uint16_t>(i));
  ReadOnlyFile db;
  CORVANE_RETURN_IF_ERROR(db.Open(db_file_->path().string()));
  const RecordWalk walk = [&](const std::function<Status(const RecordPlace&)>& each) -> Status {
    std::string block(static_cast<size_t>(block_size_), '\0');
    uint32_t number = 0;
    for (uint32_t b = 0; b < blocks_; ++b) {
      const uint64_t at = static_cast<uint64_t>(header_size_) + uint64_t{b} * block_size_;
      CORVANE_RETURN_IF_ERROR(db.ReadExactly(at, block.size(), block.data()));
      const auto* p = reinterpret_cast<const unsigned char*>(block.data());
      const int last = static_cast<int16_t>(LoadLe16(p + 4));
      for (int slot = 0; last >= 0 && slot <= last / record_size_; ++slot) {
        const std::string_view bytes(block.data() + kBlockHeaderSize + slot * record_size_,
                                     static_cast<size_t>(record_size_));
        CORVANE_RETURN_IF_ERROR(each({number++, static_cast<uint16_t>(b + 1),
                                      static_cast<uint16_t>(slot), bytes}));
      }
    }
    return Status::Ok();
  };
  // Extensions in the letter case of the table file's.
  const std::string db_ext = db_path_.extension().string();
  const bool lower = db_ext.size() > 1 && db_ext[1] == 'd';
  const RuleFileSink put = [&](const std::string& extension, const std::string& bytes) -> Status {
    std::string name = db_path_.stem().string() + extension;
    if (lower) {
      for (size_t i = name.size() - extension.size(); i < name.size(); ++i) {
        name[i] = AsciiLower(name[i]);
      }
    }
    const fs::path path = db_path_.parent_path() / name;
    auto file = TempFile::Create(path);
    if (!file.ok()) return file.status();
    CORVANE_RETURN_IF_ERROR((*file)->WriteAt(0, bytes.data(), bytes.size()));
    CORVANE_RETURN_IF_ERROR((*file)->Sync());
    rule_files_.emplace_back(std::move(file).value(), path);
    return Status::Ok();
  };
  Result<std::vector<std::string>> left_off = EncodeRuleFiles(info, rules_, walk, put);
  if (!left_off.ok()) return left_off.status();
  rules_left_off_ = std::move(left_off).value();
  return Status::Ok();
}

bool TableWriter::IsOwnRuleFile(const fs::path& p) const {
  std::error_code ec;
  for (const auto& [file, path] : rule_files_) {
    if (fs::equivalent(p, path, ec)) return true;
  }
  return false;
}

}  // namespace corvane::paradox
