// Paradox table encryption. The key (a checksum of the password) is stored
// in the header, so a table can be read without its password; the cipher
// works on 256-byte chunks, permuting and masking bytes with three fixed
// tables. Data blocks of the .db and the whole .mb are encrypted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::paradox {

inline constexpr size_t kCryptChunk = 256;

// Decrypts data block `block_number` (1-based, as in the chain) in place;
// `size` is the block size (a multiple of 256).
void DecryptDbBlock(unsigned char* block, size_t size, uint32_t key, uint32_t block_number);
// Decrypts 256-byte chunks of the .mb in place; `data` starts on a chunk
// boundary of the file and `size` is a multiple of 256.
void DecryptMbChunks(unsigned char* data, size_t size, uint32_t key);
// The inverse of DecryptDbBlock, for tests that build encrypted tables.
void EncryptDbBlock(unsigned char* block, size_t size, uint32_t key, uint32_t block_number);
void EncryptMbChunks(unsigned char* data, size_t size, uint32_t key);

}  // namespace corvane::paradox
