// Readers of our glTF output for the tests: a strict JSON reader (a document it accepts is valid
// JSON: no control characters in strings, only valid escapes, nothing after the value but
// blanks) and a GLB reader that checks the container and gives typed access to accessors. Every
// fault throws std::runtime_error.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvex::test {

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::string> keys;  // an object's member names, in order
    std::vector<Json> values;       // and their values

    bool Has(const std::string& key) const {
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    }
    const Json& operator[](const std::string& key) const {
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (keys[k] == key) return values[k];
        }
        throw std::runtime_error("no member " + key);
    }
    const Json& operator[](std::size_t i) const {
        if (i >= items.size()) throw std::runtime_error("index past the array");
        return items[i];
    }
    std::size_t Size() const { return kind == Kind::Array ? items.size() : keys.size(); }
    std::size_t Index() const { return static_cast<std::size_t>(number); }
};

// Parses a whole JSON document.
Json ParseJson(std::string_view text);

// True when `s` is well-formed UTF-8.
bool IsUtf8(std::string_view s);

struct Glb {
    Json json;
    std::vector<std::uint8_t> bin;
    bool hasBin = false;
};

// Reads and checks a .glb file: header, chunk order, lengths and padding, UTF-8 JSON, one buffer
// that is the BIN chunk, every bufferView 4-byte aligned inside it.
Glb ReadGlb(const std::filesystem::path& file);

// The data of accessor `a` (tightly packed, as the writer stores them), as doubles.
std::vector<double> AccessorValues(const Glb& glb, std::size_t a);

// The bytes of bufferView v.
std::vector<std::uint8_t> ViewBytes(const Glb& glb, std::size_t v);

}  // namespace morvex::test
