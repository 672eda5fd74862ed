// Re-encoding the decoded blocks of an it3 file with the library's encoders, and comparing what
// two payloads decode to: the identity check of the tests, the size table of
// tools/reencode_sizes and the re-encoding benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode/encode_result.h"
#include "it3/byte_reader.h"

namespace morvex::testdata {

// One block of a file: its tag value, and its bytes from the header to the end of the payload.
struct FileBlock {
    std::uint32_t tag = 0;
    std::uint64_t offset = 0;  // of its header in the file
    Bytes bytes;
    Bytes Payload() const { return bytes.subspan(8); }
};

// The blocks of an it3 file in order, up to the first one that leaves the file.
std::vector<FileBlock> ListBlocks(Bytes file);

// Whether the library re-encodes blocks of this tag: the four material tags, the six vertex
// tags and TEXI.
bool IsReencoded(std::uint32_t tag);

// Decodes `block` and encodes what it decodes to in its own tag (or texture format): material
// records as stored, every mesh the block locates (vertices and whole triangles as decoded, the
// records and kept bytes of the original), the picture as decoded. Fails where the decoders
// cannot read the block or the encoders refuse its content (a triangle naming a vertex the mesh
// does not have, say).
EncodeResult ReencodeBlock(const FileBlock& block, std::vector<std::uint8_t>& payload);

// Whether two payloads of `tag` decode to the same: the material records; the meshes' vertices,
// triangles, material indices and records (VPA2's unread vertex count aside); the picture. When
// not, `why` says where they differ.
bool SameContent(std::uint32_t tag, Bytes a, Bytes b, std::string& why);

}  // namespace morvex::testdata
