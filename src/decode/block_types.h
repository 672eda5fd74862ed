// The block registry: one prototype per known tag, and the class tree behind it.
//
// Position 0 holds a plain Block (typeTag 0xFFFFFFFF) and stands for unknown tags; the other 39
// entries are sorted by the ASCII order of their tags. The scan recognises a block by comparing
// its tag with the prototypes' typeTag values.
#pragma once

#include <memory>
#include <vector>

#include "it3/block.h"

namespace morvex {

// A tag class: a Block whose typeTag is its tag's value. Base is Block or an intermediate class.
template <std::uint32_t Tag, class Base = Block>
class TagBlock : public Base {
  public:
    TagBlock() { this->typeTag = Tag; }
};

// Shared intermediate classes of some tag classes.
class KanBlock : public Block {};
class ManBlock : public Block {
  public:
    virtual std::int32_t Count() const { return PayloadCount(); }
};
class Plu2Base : public Block {};

inline constexpr int kRegistrySize = 40;

// Creates the 40 prototypes in registry order and appends them to `registry`.
void RegisterBlockTypes(std::vector<std::unique_ptr<Block>>& registry);

}  // namespace morvex
