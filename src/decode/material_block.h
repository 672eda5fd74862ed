// Material blocks: an object's material table, a counted array of 384-byte Material records.
//
// MATE and MAT3 store the table as it is, MAT2 and MAT4 in a packed chunk. A record holds the
// NUL-terminated name (offset 0), texture name (64) and alpha-map name (128), each in a 64-byte
// field, and the float specular power at offset 372.
//
// Safe for untrusted input: an index outside the table reads as an empty record (no name, no
// texture, no alpha map, power 0); a name without a NUL is cut at the end of its field.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "it3/block.h"

namespace morvex {

inline constexpr std::size_t kMaterialRecordSize = 384;

class MaterialBlock : public Block {
  public:
    // The number of records stored at payload offset 0; needs no Decode.
    virtual std::int32_t Count() const { return PayloadCount(); }
    // Produces the table; 0 on success, nonzero when it cannot be produced.
    virtual int Decode() = 0;
    virtual int Release();

    // Accessors, valid between a successful Decode and Release.
    std::string_view MaterialAt(std::int32_t i) const;  // the record's name
    std::string_view TextureNameAt(std::int32_t i) const;
    bool HasTexture(std::int32_t i) const { return !TextureNameAt(i).empty(); }
    std::string_view AlphaMapNameAt(std::int32_t i) const;
    bool HasAlphaMap(std::int32_t i) const { return !AlphaMapNameAt(i).empty(); }
    float PowerAt(std::int32_t i) const;
    // True when record i lies wholly inside the decoded table.
    bool HasRecord(std::int32_t i) const;
    std::size_t TableSize() const { return table_.size(); }
    // The decoded table as it is: every record's 384 bytes.
    Bytes Table() const { return table_; }
    bool IsDecoded() const { return decoded_; }

  protected:
    // Runs `fill`, which produces table_ and returns false when it cannot; the one place where
    // a material block's allocation failure is caught. Returns Decode's result.
    template <class Fill>
    int DecodeTable(Fill&& fill);
    std::string_view Field(std::int32_t i, std::size_t fieldOffset) const;

    std::vector<std::uint8_t> table_;
    bool decoded_ = false;
};

// MATE: the table_ follows the count uncompressed.
class MateBlock : public MaterialBlock {
  public:
    MateBlock() { typeTag = TagValue("MATE"); }
    int Decode() override;
};
class Mat3Block : public MateBlock {
  public:
    Mat3Block() { typeTag = TagValue("MAT3"); }
};

// MAT2: count, then a packed chunk holding the table_ (source size packedSize - 16).
class Mat2Block : public MaterialBlock {
  public:
    Mat2Block() { typeTag = TagValue("MAT2"); }
    int Decode() override;
};
class Mat4Block : public Mat2Block {
  public:
    Mat4Block() { typeTag = TagValue("MAT4"); }
};

}  // namespace morvex
