#include "encode/material_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "decode/decompress.h"
#include "encode/packed_chunk.h"

namespace morvex {
namespace {

constexpr std::size_t kFieldSize = 64;
constexpr std::size_t kPowerOffset = 372;

constexpr std::uint32_t kTagMate = TagValue("MATE");
constexpr std::uint32_t kTagMat2 = TagValue("MAT2");
constexpr std::uint32_t kTagMat3 = TagValue("MAT3");
constexpr std::uint32_t kTagMat4 = TagValue("MAT4");

bool IsPlain(std::uint32_t tag) {
    return tag == kTagMate || tag == kTagMat3;
}
bool IsPacked(std::uint32_t tag) {
    return tag == kTagMat2 || tag == kTagMat4;
}

std::size_t FieldOffset(MaterialField field) {
    switch (field) {
        case MaterialField::Name:
            return 0;
        case MaterialField::TextureName:
            return 64;
        case MaterialField::AlphaMapName:
            return 128;
    }
    return 0;
}

std::string_view FieldName(MaterialField field) {
    switch (field) {
        case MaterialField::Name:
            return "name";
        case MaterialField::TextureName:
            return "texture name";
        case MaterialField::AlphaMapName:
            return "alpha-map name";
    }
    return "";
}

}  // namespace

Outcome ReadMaterialRecords(std::uint32_t tag, Bytes payload,
                            std::vector<MaterialRecord>& records) {
    records.clear();
    if (!IsPlain(tag) && !IsPacked(tag)) return Outcome::Unsupported;
    try {
        std::vector<std::uint8_t> unpacked;
        Bytes table;
        if (IsPlain(tag)) {
            if (payload.size() < 4) return Outcome::Broken;
            table = payload.subspan(4);
        } else {
            if (!UnpackChunkAt(payload, 4, kGeometrySizeAdjust, unpacked)) return Outcome::Broken;
            table = unpacked;
        }
        records.resize(table.size() / kMaterialRecordSize);
        for (std::size_t i = 0; i < records.size(); ++i) {
            std::memcpy(records[i].data(), table.data() + i * kMaterialRecordSize,
                        kMaterialRecordSize);
        }
    } catch (const std::bad_alloc&) {
        records.clear();
        return Outcome::NoMemory;
    }
    return Outcome::Ok;
}

EncodeResult SetMaterialText(MaterialRecord& record, MaterialField field, std::string_view text,
                             std::string_view objectName, std::int32_t materialIndex) {
    std::uint8_t* at = record.data() + FieldOffset(field);
    if (text.size() > kMaxMaterialText || text.find('\0') != std::string_view::npos) {
        return EncodeResult::Fail(
            Outcome::TooLarge,
            "object \"" + std::string(objectName) + "\", material " +
                std::to_string(materialIndex) + ": the " + std::string(FieldName(field)) + " \"" +
                std::string(text) + "\" is " + std::to_string(text.size()) +
                " bytes; the field holds at most " + std::to_string(kMaxMaterialText));
    }
    if (ByteReader(Bytes(at, kFieldSize)).Text(0, kFieldSize) == text) return {};
    std::fill_n(at, kFieldSize, 0);
    if (!text.empty()) std::memcpy(at, text.data(), text.size());  // an empty view may be null
    return {};
}

void SetMaterialPower(MaterialRecord& record, float power) {
    std::uint32_t bits;
    std::memcpy(&bits, &power, sizeof bits);
    StoreU32(record.data() + kPowerOffset, bits);
}

EncodeResult EncodeMaterialBlock(std::uint32_t tag, std::span<const MaterialRecord> records,
                                 std::vector<std::uint8_t>& payload) {
    payload.clear();
    if (!IsPlain(tag) && !IsPacked(tag)) {
        return EncodeResult::Fail(Outcome::Unsupported, "not a material tag");
    }
    const std::uint64_t tableBytes = std::uint64_t{records.size()} * kMaterialRecordSize;
    if (tableBytes > kMaxChunkData) {
        return EncodeResult::Fail(Outcome::TooLarge, std::to_string(records.size()) +
                                                         " materials do not fit in one block");
    }
    try {
        payload.resize(4);
        StoreU32(payload.data(), static_cast<std::uint32_t>(records.size()));
        const Bytes table(records.empty() ? nullptr : records.front().data(),
                          static_cast<std::size_t>(tableBytes));
        if (IsPlain(tag)) {
            payload.insert(payload.end(), table.begin(), table.end());
        } else if (!AppendPackedChunk(payload, table, kGeometrySizeAdjust)) {
            payload.clear();
            return EncodeResult::Fail(Outcome::TooLarge, "material table too large");
        }
    } catch (const std::bad_alloc&) {
        payload.clear();
        return EncodeResult::Fail(Outcome::NoMemory, "no memory for the material block");
    }
    return {};
}

}  // namespace morvex
