// The text outputs cut into pieces that can be formatted in parallel and written in order.
//
// A text document of a model object is a head and, for each mesh, a few stages: a fixed text,
// then the lines of one kind (positions, faces, ...) of that mesh. TextPieces walks the meshes
// and cuts the stages into pieces of about kPieceLines lines; a small mesh shares a piece with
// the next ones, a large one spreads over several. FormatPiece writes one piece's bytes into a
// buffer sized from its line counts and each kind's longest line, so no piece checks its room.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "decode/vertex_block.h"
#include "export/output_file.h"
#include "export/text/text_writer.h"
#include "it3/parallel.h"

namespace morvex {

inline constexpr std::int32_t kPieceLines = 4096;

// Some lines of one kind of one mesh, behind a fixed text.
struct LineSegment {
    std::string text;  // written first, as it is
    int kind = 0;      // which lines: the writer's own numbering
    MeshData mesh;
    std::shared_ptr<const void>
        hold;                         // keeps the mesh's bytes alive (see VertexBlock::HoldCurrent)
    std::int32_t begin = 0, end = 0;  // the lines [begin, end) of that kind
    std::int64_t base = 0;            // what the writer numbers the lines from
    std::int32_t material = 0;        // the mesh's Material index
};

// Pieces are reused (RunInOrder keeps them), so their text buffer only grows. It is sized for
// the longest lines but only the bytes written are touched; it is heap memory, not huge pages,
// since a piece of 1 MiB of text would hold a whole 2 MiB page.
struct TextPiece {
    std::vector<LineSegment> segments;
    std::unique_ptr<std::uint8_t[]> bytes;  // the formatted text: its first `used` bytes
    std::size_t capacity = 0;
    std::size_t used = 0;
};

// One stage of a mesh: a text, then `count` lines of `kind`.
struct MeshStage {
    std::string text;
    int kind = 0;
    std::int32_t count = 0;
};

// A mesh's stages with what its lines need.
struct MeshPlan {
    std::vector<MeshStage> stages;
    MeshData mesh;
    std::shared_ptr<const void> hold;
    std::int64_t base = 0;
    std::int32_t material = 0;
};

// Fills pieces from a head text and the plans that `next(plan)` gives (false: no more meshes).
// `next` runs inside Fill, so it runs in order on one thread at a time (RunInOrder's produce).
template <class NextMesh>
class TextPieces {
  public:
    TextPieces(std::string head, NextMesh next) : head_(std::move(head)), next_(std::move(next)) {}

    bool Fill(TextPiece& piece) {
        // A piece left over from a run that ended early may still list segments.
        piece.segments.clear();
        std::int32_t lines = 0;
        if (!head_.empty()) {
            LineSegment segment;
            segment.text = std::move(head_);
            piece.segments.push_back(std::move(segment));
            head_.clear();
        }
        while (lines < kPieceLines) {
            if (stage_ == plan_.stages.size()) {
                if (done_ || !next_(plan_)) {
                    done_ = true;
                    break;
                }
                stage_ = 0;
                position_ = 0;
                if (plan_.stages.empty()) continue;
            }
            MeshStage& stage = plan_.stages[stage_];
            const std::int32_t take = std::min(stage.count - position_, kPieceLines - lines);
            LineSegment segment;
            if (position_ == 0) segment.text = std::move(stage.text);
            segment.kind = stage.kind;
            segment.mesh = plan_.mesh;
            segment.hold = plan_.hold;
            segment.begin = position_;
            segment.end = position_ + take;
            segment.base = plan_.base;
            segment.material = plan_.material;
            piece.segments.push_back(std::move(segment));
            position_ += take;
            lines += take;
            if (position_ == stage.count) {
                ++stage_;
                position_ = 0;
            }
        }
        return !piece.segments.empty();
    }

  private:
    std::string head_;
    NextMesh next_;
    MeshPlan plan_;
    std::size_t stage_ = 0;
    std::int32_t position_ = 0;
    bool done_ = false;
};

// Writes the piece's segments into piece.bytes: each segment's text, then its lines through
// `format(writer, segment)`, which writes at most `maxLine(kind)` bytes a line.
template <class MaxLine, class Format>
void FormatPiece(TextPiece& piece, MaxLine&& maxLine, Format&& format) {
    std::size_t room = 0;
    for (const LineSegment& segment : piece.segments) {
        room += segment.text.size() +
                static_cast<std::size_t>(segment.end - segment.begin) * maxLine(segment.kind);
    }
    piece.used = 0;
    if (room == 0) return;
    if (piece.capacity < room) {
        // Left as it is: only the bytes written are touched. Grown by at least half, so that
        // pieces of varying sizes settle on one buffer each.
        piece.capacity = std::max(room, piece.capacity + piece.capacity / 2);
        piece.bytes.reset(new std::uint8_t[piece.capacity]);
    }
    char* const bytes = reinterpret_cast<char*>(piece.bytes.get());
    LineWriter writer(bytes, bytes + room);
    for (const LineSegment& segment : piece.segments) {
        writer.Str(segment.text);
        if (segment.end > segment.begin) format(writer, segment);
    }
    piece.used = writer.Written();
    piece.segments.clear();  // the views and holds are done with
}

// Writes a document of `head` and the meshes that `next` plans into `file`: its pieces are made
// in order, formatted in parallel (FormatPiece with `maxLine` and `format`) and appended in order.
template <class NextMesh, class MaxLine, class Format>
void WriteInPieces(OutputFile& file, std::string head, NextMesh next, MaxLine maxLine,
                   Format format) {
    TextPieces<NextMesh> pieces(std::move(head), std::move(next));
    // The pieces and their buffers serve every document this thread writes: a fresh buffer's
    // pages would fault again for every object.
    thread_local std::vector<std::unique_ptr<TextPiece>> kept;
    RunInOrder<TextPiece>(
        [&](TextPiece& piece) { return pieces.Fill(piece); },
        [&](TextPiece& piece) { FormatPiece(piece, maxLine, format); },
        [&file](TextPiece& piece) { file.Append(Bytes(piece.bytes.get(), piece.used)); },
        kPiecesPerThread, &kept);
}

}  // namespace morvex
