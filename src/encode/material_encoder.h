// Writing material blocks: an object's material table as MATE, MAT2, MAT3 or MAT4.
//
// The payload is the record count (i32) and the table of 384-byte Material records, stored as it
// is (MATE, MAT3) or in a packed chunk (MAT2, MAT4). A record is written as given: every byte
// the converter does not read (180 bytes behind the three names, 8 behind the power, the bytes
// behind each name's NUL) comes from the record the caller passes, normally the original's.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "decode/material_block.h"
#include "encode/encode_result.h"
#include "it3/byte_reader.h"

namespace morvex {

// One raw 384-byte Material record: name (64-byte field at 0), texture name (64 at 64),
// alpha-map name (64 at 128), power (f32 at 372), the other bytes unread.
using MaterialRecord = std::array<std::uint8_t, kMaterialRecordSize>;
static_assert(sizeof(MaterialRecord) == kMaterialRecordSize);  // records lie end to end

enum class MaterialField { Name, TextureName, AlphaMapName };

// The longest text a name field holds: 63 bytes and the NUL.
inline constexpr std::size_t kMaxMaterialText = 63;

// Reads the whole records of a material block payload of `tag` (MATE, MAT2, MAT3, MAT4): the
// table as the decoder produces it, cut into records (bytes of a last partial record are
// dropped). Broken when the payload is shorter than its count or its chunk cannot be located,
// Unsupported for another tag, NoMemory.
[[nodiscard]] Outcome ReadMaterialRecords(std::uint32_t tag, Bytes payload,
                                          std::vector<MaterialRecord>& records);

// Puts `text` into a name field of `record`: the text, then zeros to the end of the field. A
// field that holds `text` already is left as it is (the bytes behind its NUL included). TooLarge
// when `text` is longer than kMaxMaterialText or holds a NUL; the message names the object, the
// material and the field. `record` is unchanged on failure.
[[nodiscard]] EncodeResult SetMaterialText(MaterialRecord& record, MaterialField field,
                                           std::string_view text, std::string_view objectName,
                                           std::int32_t materialIndex);
void SetMaterialPower(MaterialRecord& record, float power);

// Writes the payload of a material block of `tag` from `records` into `payload` (replaced).
// Unsupported for a tag that is not a material tag; TooLarge when the table passes 2 GiB.
[[nodiscard]] EncodeResult EncodeMaterialBlock(std::uint32_t tag,
                                               std::span<const MaterialRecord> records,
                                               std::vector<std::uint8_t>& payload);

}  // namespace morvex
