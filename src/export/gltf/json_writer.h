// Compact JSON text for the glTF writer: strings escaped from any bytes, objects and arrays with
// their commas placed automatically, integers and shortest round-trip numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvex {

// Appends `bytes` to `out` as a JSON string with its quotes. Names from the model may hold any
// bytes: '"', '\' and the control characters below 0x20 are escaped, well-formed UTF-8 is kept,
// text that is not UTF-8 is decoded from code page 932 (DecodeName), and what neither reads
// becomes U+FFFD, so the result is always valid JSON.
void AppendJsonString(std::string& out, std::string_view bytes);

// Appends a decimal integer.
void AppendJsonInt(std::string& out, std::int64_t value);

// Appends the shortest text that reads back as exactly `value` (a float widened to double
// prints the float's exact value). `value` must be finite.
void AppendJsonNumber(std::string& out, double value);

// A member name written into the document as it stands: a string literal that needs no
// escaping, which is checked when the program is compiled.
class JsonName {
  public:
    template <std::size_t N>
    consteval JsonName(const char (&name)[N]) : text_(name, N - 1) {
        for (char c : text_) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b >= 0x80 || c == '"' || c == '\\') throw "a name that needs escaping";
        }
    }
    std::string_view Text() const { return text_; }

  private:
    std::string_view text_;
};

// Writes JSON values into a string, without blanks. Values inside an array and members inside
// an object get their separating commas; Key starts a member.
//
//     JsonWriter json(text);
//     json.BeginObject().Key("count").Int(3).Key("name").String("a").EndObject();
//
// gives {"count":3,"name":"a"}.
class JsonWriter {
  public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    // The name of the next member; the value follows.
    JsonWriter& Key(JsonName name);
    JsonWriter& String(std::string_view bytes);
    JsonWriter& Int(std::int64_t value);
    JsonWriter& Number(double value);

  private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    // A comma when a value already stands in the current container (not after a key).
    void BeforeValue();

    // Containers nest at most this deep in the documents we write; deeper ones still get their
    // brackets, but their commas follow the innermost tracked level.
    static constexpr int kMaxDepth = 16;

    std::string& out_;
    std::array<bool, kMaxDepth> filled_{};  // per open container: it holds a value already
    int depth_ = 0;
    bool afterKey_ = false;
};

}  // namespace morvex
