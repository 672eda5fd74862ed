#include "testdata/compress.h"

namespace morvex::testdata {

std::vector<std::uint8_t> CompressLiterals(std::span<const std::uint8_t> data) {
    // Every literal takes one 0 control bit: the first control byte covers 8 literals, each
    // further control word 16, and a word sits right before the literal that needs it.
    std::vector<std::uint8_t> out;
    std::size_t pos = 0;
    int segment = 0;
    do {
        std::size_t start = out.size();
        out.insert(out.end(), {0, 0, 0, 0});
        std::size_t body = 0;
        int bits = 8;
        while (pos < data.size()) {
            std::size_t need = bits == 0 ? 3 : 1;
            if (body + need > kMaxSegmentBody) break;
            if (bits == 0) {
                out.insert(out.end(), {0, 0});
                bits = 16;
                body += 2;
            }
            out.push_back(data[pos++]);
            --bits;
            ++body;
        }
        out[start] = static_cast<std::uint8_t>(body + 4);
        out[start + 1] = static_cast<std::uint8_t>((body + 4) >> 8);
        bool last = pos >= data.size();
        // The first segment's terminator never ends the stream (0 counts as 255); from the
        // second on, 0 ends it. Non-zero terminators stay at 1 so none exceeds the one before.
        out.push_back(last && segment > 0 ? 0 : 1);
        if (last && segment == 0) {
            out.insert(out.end(), {4, 0, 0, 0, 0});  // an empty second segment ends the stream
        }
        ++segment;
    } while (pos < data.size());
    return out;
}

}  // namespace morvex::testdata
