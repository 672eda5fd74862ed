#include "pack/mesh_match.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "export/object_walk.h"

namespace morvex {

MeshData DecodedMesh::View(const VertexLayout& layout) const {
    MeshData mesh;
    mesh.vertices = vertexBytes;
    mesh.indices = indexBytes;
    mesh.stride = layout.stride;
    mesh.indexSize = layout.indexSize;
    mesh.vertexCount = static_cast<std::int32_t>(vertexBytes.size() / layout.stride);
    mesh.faceCount = static_cast<std::int32_t>(indexBytes.size() / (3 * layout.indexSize));
    return mesh;
}

namespace {

using Point = std::array<float, 3>;

// The nearest of a set of points: a k-d tree laid out in one array (the median of each range at
// its middle).
class NearestPoints {
  public:
    explicit NearestPoints(std::vector<Point> points) : points_(std::move(points)) {
        order_.resize(points_.size());
        for (std::size_t k = 0; k < order_.size(); ++k) order_[k] = static_cast<std::uint32_t>(k);
        Build(0, order_.size(), 0);
    }
    // The index of the nearest point, -1 when there is none. Where no distance is finite (a
    // coordinate that is NaN or infinite), every point is as near: the first.
    std::int64_t Nearest(const Point& q) const {
        std::int64_t best = -1;
        double bestDistance = INFINITY;
        Search(0, order_.size(), 0, q, best, bestDistance);
        return best < 0 && !points_.empty() ? 0 : best;
    }

  private:
    void Build(std::size_t lo, std::size_t hi, int axis) {
        if (hi - lo < 2) return;
        const std::size_t mid = lo + (hi - lo) / 2;
        std::nth_element(order_.begin() + static_cast<std::ptrdiff_t>(lo),
                         order_.begin() + static_cast<std::ptrdiff_t>(mid),
                         order_.begin() + static_cast<std::ptrdiff_t>(hi),
                         [&](std::uint32_t a, std::uint32_t b) {
                             return points_[a][static_cast<std::size_t>(axis)] <
                                    points_[b][static_cast<std::size_t>(axis)];
                         });
        Build(lo, mid, (axis + 1) % 3);
        Build(mid + 1, hi, (axis + 1) % 3);
    }
    void Search(std::size_t lo, std::size_t hi, int axis, const Point& q, std::int64_t& best,
                double& bestDistance) const {
        if (lo >= hi) return;
        const std::size_t mid = lo + (hi - lo) / 2;
        const Point& p = points_[order_[mid]];
        double distance = 0;
        for (std::size_t c = 0; c < 3; ++c) {
            const double d = static_cast<double>(q[c]) - p[c];
            distance += d * d;
        }
        if (distance < bestDistance) {
            bestDistance = distance;
            best = order_[mid];
        }
        const double side = static_cast<double>(q[static_cast<std::size_t>(axis)]) -
                            p[static_cast<std::size_t>(axis)];
        const int next = (axis + 1) % 3;
        // The far side only when it may hold a nearer point: among points at one distance the
        // first found wins, so that many points at one place cost no more than one.
        if (side < 0) {
            Search(lo, mid, next, q, best, bestDistance);
            if (side * side < bestDistance) Search(mid + 1, hi, next, q, best, bestDistance);
        } else {
            Search(mid + 1, hi, next, q, best, bestDistance);
            if (side * side < bestDistance) Search(lo, mid, next, q, best, bestDistance);
        }
    }

    std::vector<Point> points_;
    std::vector<std::uint32_t> order_;
};

float Finite(float v) {
    return std::isfinite(v) ? v : 0.0f;
}

// A position as a key: its three floats' bits, negative zero counted as zero.
struct PositionKey {
    std::array<std::uint32_t, 3> bits{};
    bool operator==(const PositionKey&) const = default;
};
PositionKey KeyOf(const Point& p) {
    PositionKey key;
    for (std::size_t c = 0; c < 3; ++c) {
        const float v = p[c] == 0.0f ? 0.0f : p[c];
        std::memcpy(&key.bits[c], &v, 4);
    }
    return key;
}

// An original vertex as the glb shows it: position and texture coordinates made finite, the
// normal as a unit vector ((0, 0, 1) for one without a direction).
struct ShownVertex {
    Point position;
    std::array<float, 2> texCoord;
    std::array<double, 3> normal;
};

std::uint64_t Mix(std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h * 0xFF51AFD7ED558CCDull;
}
std::uint64_t HashOf(const PositionKey& key) {
    std::uint64_t h = 0;
    for (std::uint32_t b : key.bits) h = Mix(h, b);
    return h ^ (h >> 31);
}

// Items (numbered from 0) chained by the hash of their key: a table of chain heads and one
// link per item.
class ChainedHash {
  public:
    explicit ChainedHash(std::size_t items) : next_(items, -1) {
        std::size_t buckets = 16;
        while (buckets < 2 * items) buckets *= 2;
        heads_.assign(buckets, -1);
        mask_ = buckets - 1;
    }
    void Insert(std::uint64_t hash, std::int64_t item) {
        std::int64_t& head = heads_[hash & mask_];
        next_[static_cast<std::size_t>(item)] = head;
        head = item;
    }
    // Calls f(item) for the items of that hash's chain (others whose hash shares the bucket
    // included: f compares the keys) until f returns false.
    template <class F>
    void ForEach(std::uint64_t hash, F&& f) const {
        for (std::int64_t i = heads_[hash & mask_]; i >= 0;
             i = next_[static_cast<std::size_t>(i)]) {
            if (!f(i)) return;
        }
    }

  private:
    std::vector<std::int64_t> heads_, next_;
    std::size_t mask_ = 0;
};

constexpr int kMostAtOnePlace = 256;

// Every decoded vertex of an object's meshes as the glb shows it, found by position, and per mesh
// the nearest vertex to a place.
class ObjectIndex {
  public:
    ObjectIndex(const std::vector<DecodedMesh>& originals, const VertexLayout& layout)
        : views_(originals.size()), first_(originals.size() + 1, 0), nearest_(originals.size()) {
        for (std::size_t m = 0; m < originals.size(); ++m) {
            if (originals[m].decoded) views_[m] = originals[m].View(layout);
            first_[m + 1] = first_[m] + static_cast<std::size_t>(views_[m].vertexCount);
        }
        shown_.resize(first_.back());
        meshOf_.resize(first_.back());
        byPosition_ = std::make_unique<ChainedHash>(shown_.size());
        for (std::size_t m = 0; m < originals.size(); ++m) {
            const MeshData& view = views_[m];
            for (std::int32_t i = 0; i < view.vertexCount; ++i) {
                const std::size_t id = first_[m] + static_cast<std::size_t>(i);
                ShownVertex& s = shown_[id];
                const Point p = view.PositionAt(i);
                s.position = {Finite(p[0]), Finite(p[1]), Finite(p[2])};
                const auto t = view.TexCoordAt(i);
                s.texCoord = {Finite(t[0]), Finite(t[1])};
                const Point nv = view.NormalAt(i);
                const double x = nv[0], y = nv[1], z = nv[2];
                const double length = std::sqrt(x * x + y * y + z * z);
                s.normal = std::isfinite(length) && length > 0
                               ? std::array<double, 3>{x / length, y / length, z / length}
                               : std::array<double, 3>{0, 0, 1};
                meshOf_[id] = static_cast<std::int32_t>(m);
                byPosition_->Insert(HashOf(KeyOf(s.position)), static_cast<std::int64_t>(id));
            }
        }
    }

    const MeshData& View(std::int32_t mesh) const { return views_[static_cast<std::size_t>(mesh)]; }
    std::int32_t Count(std::int32_t mesh) const { return View(mesh).vertexCount; }
    const ShownVertex& Shown(std::int32_t mesh, std::int32_t i) const {
        return shown_[first_[static_cast<std::size_t>(mesh)] + static_cast<std::size_t>(i)];
    }
    // Calls f(mesh, vertex) for the vertices at exactly this position, at most kMostAtOnePlace
    // of them: a model that piles more vertices onto one place does not make every lookup
    // there cost them all.
    template <class F>
    void ForEachAt(const Point& p, F&& f) const {
        const PositionKey key = KeyOf(p);
        int found = 0, steps = 0;
        byPosition_->ForEach(HashOf(key), [&](std::int64_t id) {
            const auto at = static_cast<std::size_t>(id);
            if (KeyOf(shown_[at].position) == key) {
                const std::int32_t mesh = meshOf_[at];
                f(mesh, static_cast<std::int32_t>(at - first_[static_cast<std::size_t>(mesh)]));
                ++found;
            }
            return found < kMostAtOnePlace && ++steps < 4 * kMostAtOnePlace;
        });
    }
    // The mesh's vertex nearest to p (one of them when several are as near); -1 in an empty
    // mesh.
    std::int32_t Nearest(std::int32_t mesh, const Point& p) {
        auto& tree = nearest_[static_cast<std::size_t>(mesh)];
        if (!tree) {
            const auto begin = shown_.begin() +
                               static_cast<std::ptrdiff_t>(first_[static_cast<std::size_t>(mesh)]);
            std::vector<Point> points;
            points.reserve(static_cast<std::size_t>(Count(mesh)));
            for (auto it = begin; it != begin + Count(mesh); ++it) points.push_back(it->position);
            tree = std::make_unique<NearestPoints>(std::move(points));
        }
        return static_cast<std::int32_t>(tree->Nearest(p));
    }

  private:
    std::vector<MeshData> views_;
    std::vector<std::size_t> first_;  // the id of each mesh's vertex 0
    std::vector<ShownVertex> shown_;
    std::vector<std::int32_t> meshOf_;
    std::unique_ptr<ChainedHash> byPosition_;
    std::vector<std::unique_ptr<NearestPoints>> nearest_;
};

bool Near(double a, double b, double relative, double floor) {
    return std::fabs(a - b) <= relative * std::max({std::fabs(a), std::fabs(b), floor});
}

// How one edited vertex compares with one original vertex.
struct Comparison {
    bool position = false, texCoord = false, normal = false;
    double error = 0;  // to choose among several matches: smaller is closer
    bool All() const { return position && texCoord && normal; }
};

Comparison Compare(const EditedVertex& e, const ShownVertex& s, bool normals,
                   const MatchTolerances& tolerances) {
    Comparison c;
    c.position = true;
    for (std::size_t k = 0; k < 3; ++k) {
        c.position = c.position && Near(e.position[k], s.position[k], tolerances.position, 1e-3);
        c.error += std::fabs(static_cast<double>(e.position[k]) - s.position[k]);
    }
    c.texCoord = true;
    if (e.hasTexCoord) {
        for (std::size_t k = 0; k < 2; ++k) {
            c.texCoord = c.texCoord && Near(e.texCoord[k], s.texCoord[k], tolerances.texCoord, 1);
            c.error += std::fabs(static_cast<double>(e.texCoord[k]) - s.texCoord[k]);
        }
    }
    c.normal = true;
    if (normals && e.hasNormal) {
        double cosine = 0;
        for (std::size_t k = 0; k < 3; ++k) cosine += e.normal[k] * s.normal[k];
        c.normal = cosine >= tolerances.normalCosine;
        c.error += 1 - cosine;
    }
    return c;
}

// The vertex of `mesh` an edited vertex is, or -1: the closest of those that match; of equally
// close ones (vertices the glb cannot tell apart), one no other edited vertex is yet.
std::int32_t MatchVertex(const EditedVertex& e, ObjectIndex& index, std::int32_t mesh,
                         const std::vector<char>& claimed, bool normals,
                         const MatchTolerances& tolerances) {
    std::int32_t best = -1;
    std::pair<double, bool> bestKey{INFINITY, true};
    auto consider = [&](std::int32_t m, std::int32_t i) {
        if (m != mesh) return;
        const Comparison c = Compare(e, index.Shown(m, i), normals, tolerances);
        const std::pair<double, bool> key{c.error, claimed[static_cast<std::size_t>(i)] != 0};
        if (c.All() && (key < bestKey || (key == bestKey && i < best))) {
            best = i;
            bestKey = key;
        }
    };
    index.ForEachAt(e.position, consider);
    if (best < 0 && index.Count(mesh) > 0) {
        // Not bit for bit where it was: the nearest vertex, and those at its place.
        const std::int32_t nearest = index.Nearest(mesh, e.position);
        index.ForEachAt(index.Shown(mesh, nearest).position, consider);
    }
    return best;
}

// Which of a vertex's values differ from an original vertex's beyond the tolerances, where its
// node's transform puts it.
struct Placed {
    bool position = false, texCoord = false, normal = false;
    bool Any() const { return position || texCoord || normal; }
};
Placed Differences(const EditedVertex& e, const ShownVertex& s, bool normals,
                   const MatchTolerances& tolerances) {
    EditedVertex placed = e;
    placed.position = e.placed;
    placed.normal = e.placedNormal;
    const Comparison c = Compare(placed, s, normals, tolerances);
    return {!c.position, !c.texCoord, !c.normal};
}

// The original vertex a new vertex of `mesh` takes its bytes from: the nearest one by position;
// of several at that place, one whose place in the order is free (the vertex that was moved),
// then the one closest in texture coordinates and normal. -1 in an empty mesh.
std::int32_t BaseVertex(const EditedVertex& e, ObjectIndex& index, std::int32_t mesh,
                        const std::vector<char>& slotUsed, bool normals,
                        const MatchTolerances& tolerances) {
    if (index.Count(mesh) == 0) return -1;
    const std::int32_t nearest = index.Nearest(mesh, e.position);
    std::int32_t best = nearest;
    std::pair<bool, double> bestKey{true, INFINITY};  // (slot used, attribute error)
    index.ForEachAt(index.Shown(mesh, nearest).position, [&](std::int32_t m, std::int32_t i) {
        if (m != mesh) return;
        EditedVertex here = e;
        here.position = index.Shown(m, i).position;
        const std::pair<bool, double> key{
            slotUsed[static_cast<std::size_t>(i)] != 0,
            Compare(here, index.Shown(m, i), normals, tolerances).error};
        if (key < bestKey) {
            best = i;
            bestKey = key;
        }
    });
    return best;
}

// A triangle as a key: its corners rotated so that the smallest comes first (winding kept).
using TriangleKey = std::array<std::int32_t, 3>;
TriangleKey Rotated(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (a <= b && a <= c) return {a, b, c};
    if (b <= a && b <= c) return {b, c, a};
    return {c, a, b};
}

std::size_t TexCoordOffset(const VertexLayout& layout) {
    return layout.stride == 112 ? 48 : 12;
}

void StoreFloats(std::uint8_t* at, const float* values, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &values[k], 4);
        StoreU32(at + 4 * k, bits);
    }
}

// Whether the edited triangles of one mesh, every corner matched (matchOf), are its original
// triangles: each as a rotation of an original one, with the same vertices (the lowest-numbered
// of vertices the glb cannot tell apart standing for all of them). Original triangles with two
// corners at one place, and repeats of a triangle, may be missing: editors drop them.
bool SameTriangles(const EditedObject& edited, const std::vector<std::size_t>& triangles,
                   const std::vector<std::int32_t>& matchOf, const ObjectIndex& index,
                   std::int32_t mesh) {
    const MeshData& view = index.View(mesh);
    const std::int32_t n = view.vertexCount;
    std::vector<std::int32_t> representative(static_cast<std::size_t>(n));
    {
        auto hashOf = [&](std::int32_t i) {
            const ShownVertex& s = index.Shown(mesh, i);
            std::uint64_t h = HashOf(KeyOf(s.position));
            for (float f : s.texCoord) h = Mix(h, std::bit_cast<std::uint32_t>(f));
            for (double d : s.normal) h = Mix(h, std::bit_cast<std::uint64_t>(d));
            return h;
        };
        auto same = [&](std::int32_t a, std::int32_t b) {
            const ShownVertex &x = index.Shown(mesh, a), &y = index.Shown(mesh, b);
            return x.position == y.position && x.texCoord == y.texCoord && x.normal == y.normal;
        };
        ChainedHash seen(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            const std::uint64_t h = hashOf(i);
            std::int32_t first = i;
            seen.ForEach(h, [&](std::int64_t j) {
                if (same(static_cast<std::int32_t>(j), i)) first = static_cast<std::int32_t>(j);
                return first == i;
            });
            representative[static_cast<std::size_t>(i)] = first;
            if (first == i) seen.Insert(h, i);
        }
    }
    struct Entry {
        TriangleKey key;  // the triangle, winding kept
        TriangleKey set;  // its three vertices, sorted
        bool degenerate;  // two corners at one place
        bool operator<(const Entry& other) const { return key < other.key; }
    };
    std::vector<Entry> original;
    original.reserve(static_cast<std::size_t>(view.faceCount));
    for (std::int32_t t = 0; t < view.faceCount; ++t) {
        const auto f = view.FaceAt(t);
        const Point &a = index.Shown(mesh, static_cast<std::int32_t>(f[0])).position,
                    &b = index.Shown(mesh, static_cast<std::int32_t>(f[1])).position,
                    &c = index.Shown(mesh, static_cast<std::int32_t>(f[2])).position;
        Entry entry{Rotated(representative[f[0]], representative[f[1]], representative[f[2]]),
                    {},
                    a == b || b == c || a == c};
        entry.set = entry.key;
        std::sort(entry.set.begin(), entry.set.end());
        original.push_back(entry);
    }
    std::vector<TriangleKey> shown;
    shown.reserve(triangles.size());
    for (std::size_t t : triangles) {
        const auto& c = edited.triangles[t].corners;
        auto rep = [&](std::uint32_t corner) {
            return representative[static_cast<std::size_t>(matchOf[corner])];
        };
        shown.push_back(Rotated(rep(c[0]), rep(c[1]), rep(c[2])));
    }
    std::sort(original.begin(), original.end());
    std::sort(shown.begin(), shown.end());
    // Walk both sorted lists key by key: an edited triangle the original lacks, or more copies
    // of one than it has, is a change. Then per set of three vertices: one that holds a triangle
    // of some area must keep at least one of its triangles (an editor keeps one face of a
    // vertex set, whatever its winding).
    struct SetCount {
        TriangleKey set;
        std::size_t edits;
        bool needed;
        bool operator<(const SetCount& other) const { return set < other.set; }
    };
    std::vector<SetCount> sets;
    std::size_t o = 0, e = 0;
    while (o < original.size() || e < shown.size()) {
        if (o == original.size() || (e < shown.size() && shown[e] < original[o].key)) {
            return false;  // an edited triangle the original does not hold
        }
        const Entry& first = original[o];
        SetCount count{first.set, 0, false};
        std::size_t stored = 0;
        for (; o < original.size() && original[o].key == first.key; ++o, ++stored) {
            count.needed = count.needed || !original[o].degenerate;
        }
        while (e < shown.size() && shown[e] == first.key) ++e, ++count.edits;
        if (count.edits > stored) return false;
        sets.push_back(count);
    }
    std::sort(sets.begin(), sets.end());
    for (std::size_t k = 0; k < sets.size();) {
        std::size_t edits = 0;
        bool needed = false;
        const TriangleKey set = sets[k].set;
        for (; k < sets.size() && sets[k].set == set; ++k) {
            edits += sets[k].edits;
            needed = needed || sets[k].needed;
        }
        if (needed && edits == 0) return false;
    }
    return true;
}

}  // namespace

bool PrimitiveAsWritten(const GlbFile& glb, const EditedPrimitive& placed, const MeshData& mesh,
                        std::int32_t materialIndex) {
    if (placed.Transformed() || placed.record != materialIndex) return false;
    const GlbPrimitive& primitive = glb.meshes[static_cast<std::size_t>(placed.glbMesh)]
                                        .primitives[static_cast<std::size_t>(placed.glbPrimitive)];
    const auto vertices = static_cast<std::uint64_t>(mesh.vertexCount);
    std::string problem;
    GlbFile::Elements positions, normals, texCoords, indices;
    if (!glb.FloatElements(primitive.position, 3, positions, problem) ||
        !glb.FloatElements(primitive.texCoord, 2, texCoords, problem) ||
        !glb.IndexElements(primitive.indices, indices, problem) ||
        positions.componentType != 5126 || texCoords.componentType != 5126 ||
        positions.count != vertices || texCoords.count != vertices ||
        indices.count != static_cast<std::uint64_t>(mesh.faceCount) * 3) {
        return false;
    }
    if (mesh.HasNormals() != (primitive.normal >= 0)) return false;
    if (mesh.HasNormals() && (!glb.FloatElements(primitive.normal, 3, normals, problem) ||
                              normals.componentType != 5126 || normals.count != vertices)) {
        return false;
    }
    auto same = [](const std::uint8_t* at, const float* values, int count) {
        for (int c = 0; c < count; ++c) {
            if (LoadF32(at + 4 * c) != values[c]) return false;
        }
        return true;
    };
    for (std::int32_t k = 0; k < mesh.vertexCount; ++k) {
        const auto at = static_cast<std::uint64_t>(k);
        const Point p = mesh.PositionAt(k);
        const Point shown = Upright({Finite(p[0]), Finite(p[1]), Finite(p[2])});
        const auto uv = mesh.TexCoordAt(k);
        const float shownUv[2] = {Finite(uv[0]), Finite(uv[1])};
        if (!same(positions.first + at * positions.stride, shown.data(), 3) ||
            !same(texCoords.first + at * texCoords.stride, shownUv, 2)) {
            return false;
        }
        if (mesh.HasNormals() && !same(normals.first + at * normals.stride,
                                       UnitNormal(Upright(mesh.NormalAt(k))).data(), 3)) {
            return false;
        }
    }
    for (std::int32_t t = 0; t < mesh.faceCount; ++t) {
        const auto f = mesh.FaceAt(t);
        const std::uint32_t written[3] = {f[0], f[2], f[1]};
        for (std::uint64_t c = 0; c < 3; ++c) {
            const std::uint8_t* at =
                indices.first + (static_cast<std::uint64_t>(t) * 3 + c) * indices.stride;
            const std::uint32_t index = indices.componentType == 5121   ? *at
                                        : indices.componentType == 5123 ? LoadU16(at)
                                                                        : LoadU32(at);
            if (index != written[c]) return false;
        }
    }
    return true;
}

Outcome MatchObject(const EditedObject& edited, const VertexLayout& layout,
                    const std::vector<DecodedMesh>& originals, std::string_view objectName,
                    Console& console, std::vector<ResultMesh>& result, bool& changed,
                    const MatchTolerances& tolerances) {
    const bool normals = layout.stride == 112;
    const auto meshCount = static_cast<std::int32_t>(originals.size());
    ObjectIndex index(originals, layout);
    auto materialOf = [&](std::int32_t m) {
        return originals[static_cast<std::size_t>(m)].materialIndex;
    };

    // 1. Each triangle's mesh.
    std::vector<std::int32_t> meshOf(edited.triangles.size(), -1);
    std::vector<std::pair<std::int32_t, std::int64_t>> votes;  // (mesh, votes) of one triangle
    for (std::size_t t = 0; t < edited.triangles.size(); ++t) {
        const EditedTriangle& triangle = edited.triangles[t];
        const std::int32_t hint = triangle.mesh;
        if (hint >= 0 && hint < meshCount && originals[static_cast<std::size_t>(hint)].decoded &&
            materialOf(hint) == triangle.material) {
            meshOf[t] = hint;
            continue;
        }
        // Votes: 3 for a corner that is a vertex of the mesh, 1 for one at a vertex's place.
        votes.clear();
        for (std::uint32_t corner : triangle.corners) {
            const EditedVertex& e = edited.vertices[corner];
            const std::size_t before = votes.size();
            index.ForEachAt(e.position, [&](std::int32_t m, std::int32_t i) {
                const std::int64_t vote =
                    Compare(e, index.Shown(m, i), normals, tolerances).All() ? 3 : 1;
                for (std::size_t k = before; k < votes.size(); ++k) {
                    if (votes[k].first == m) {
                        votes[k].second = std::max(votes[k].second, vote);
                        return;
                    }
                }
                votes.emplace_back(m, vote);
            });
        }
        std::int32_t best = -1;
        std::array<std::int64_t, 3> bestScore{};
        for (std::size_t k = 0; k < votes.size(); ++k) {
            const std::int32_t m = votes[k].first;
            std::int64_t total = 0;
            for (const auto& [other, vote] : votes) total += other == m ? vote : 0;
            const std::array<std::int64_t, 3> score = {materialOf(m) == triangle.material ? 1 : 0,
                                                       total, -m};
            if (best < 0 || score > bestScore) {
                best = m;
                bestScore = score;
            }
        }
        if (best < 0) {
            // No corner is at an original vertex: the mesh of the nearest vertex, among the
            // meshes of its material when there are any.
            double bestDistance = INFINITY;
            bool bestSameMaterial = false;
            const Point& p = edited.vertices[triangle.corners[0]].position;
            for (std::int32_t m = 0; m < meshCount; ++m) {
                if (index.Count(m) == 0) continue;
                const Point& q = index.Shown(m, index.Nearest(m, p)).position;
                double distance = 0;
                for (std::size_t c = 0; c < 3; ++c) {
                    distance += (static_cast<double>(p[c]) - q[c]) * (p[c] - q[c]);
                }
                const bool same = materialOf(m) == triangle.material;
                if (best < 0 || (same && !bestSameMaterial) ||
                    (same == bestSameMaterial && distance < bestDistance)) {
                    best = m;
                    bestDistance = distance;
                    bestSameMaterial = same;
                }
            }
        }
        if (best < 0) {
            console.Error("object %s: there is no mesh to put its edited triangles in.",
                          ConsoleName(objectName).c_str());
            return Outcome::Broken;
        }
        meshOf[t] = best;
    }

    // 2. Per mesh, its triangles by material; the material that stays, the ones split off.
    std::vector<std::map<std::int32_t, std::vector<std::size_t>>> groups(originals.size());
    for (std::size_t t = 0; t < edited.triangles.size(); ++t) {
        groups[static_cast<std::size_t>(meshOf[t])][edited.triangles[t].material].push_back(t);
    }
    struct Plan {
        std::int32_t source;
        std::int32_t material;
        const std::vector<std::size_t>* triangles;
        bool split;
    };
    static const std::vector<std::size_t> kNone;
    std::vector<Plan> plans, splits;
    for (std::int32_t m = 0; m < meshCount; ++m) {
        const auto& byMaterial = groups[static_cast<std::size_t>(m)];
        if (byMaterial.empty()) {
            plans.push_back({m, materialOf(m), &kNone, false});
            continue;
        }
        auto stays = byMaterial.find(materialOf(m));
        if (stays == byMaterial.end()) {
            stays = std::max_element(
                byMaterial.begin(), byMaterial.end(),
                [](const auto& a, const auto& b) { return a.second.size() < b.second.size(); });
        }
        plans.push_back({m, stays->first, &stays->second, false});
        for (auto g = byMaterial.begin(); g != byMaterial.end(); ++g) {
            if (g != stays) splits.push_back({m, g->first, &g->second, true});
        }
    }
    plans.insert(plans.end(), splits.begin(), splits.end());

    // 3. The vertices and triangles of each mesh.
    changed = !splits.empty();
    result.clear();
    result.reserve(plans.size());
    const std::size_t texCoordOffset = TexCoordOffset(layout);
    // Per edited vertex, within one mesh: the original vertex it is (>= 0), none (-1) or not
    // looked at yet (-2); and where a new one went.
    std::vector<std::int32_t> matchOf(edited.vertices.size(), -2);
    std::vector<std::int64_t> newOf(edited.vertices.size(), 0);
    std::vector<std::uint32_t> touched;
    for (const Plan& plan : plans) {
        const DecodedMesh& original = originals[static_cast<std::size_t>(plan.source)];
        ResultMesh mesh;
        mesh.source = plan.source;
        mesh.materialIndex = plan.material;
        if (!original.decoded || (plan.triangles->empty() && !original.written && !plan.split)) {
            if (!original.decoded && !plan.triangles->empty()) {
                console.Error("object %s mesh %d: can not be written back: it does not decode.",
                              ConsoleName(objectName).c_str(), plan.source);
                return Outcome::Broken;
            }
            // Not in the glb: kept as stored.
            mesh.unchanged = true;
            mesh.vertexBytes = original.vertexBytes;
            mesh.indexBytes = original.indexBytes;
            result.push_back(std::move(mesh));
            continue;
        }
        for (std::uint32_t corner : touched) matchOf[corner] = -2;
        touched.clear();
        const std::int32_t n = index.Count(plan.source);
        std::vector<char> slotUsed(static_cast<std::size_t>(n), 0);
        bool allMatched = true, anyMoved = false;
        for (std::size_t t : *plan.triangles) {
            for (std::uint32_t corner : edited.triangles[t].corners) {
                if (matchOf[corner] != -2) continue;
                touched.push_back(corner);
                const EditedVertex& e = edited.vertices[corner];
                const std::int32_t j =
                    MatchVertex(e, index, plan.source, slotUsed, normals, tolerances);
                matchOf[corner] = j;
                if (j >= 0) {
                    slotUsed[static_cast<std::size_t>(j)] = 1;
                    anyMoved =
                        anyMoved ||
                        Differences(e, index.Shown(plan.source, j), normals, tolerances).Any();
                } else {
                    allMatched = false;
                }
            }
        }

        if (allMatched && !anyMoved && !plan.split && plan.material == original.materialIndex &&
            SameTriangles(edited, *plan.triangles, matchOf, index, plan.source)) {
            mesh.unchanged = true;
            mesh.vertexBytes = original.vertexBytes;
            mesh.indexBytes = original.indexBytes;
            result.push_back(std::move(mesh));
            continue;
        }
        changed = true;
        // The output vertices: the original order of those used or replaced, then the rest.
        // Each slot (an original vertex) is written from an edited vertex (its own, moved by
        // its transform, or a new vertex that took its place) or kept as it is.
        const MeshData& view = index.View(plan.source);
        std::vector<std::int32_t> slotOutput(static_cast<std::size_t>(n), -1);
        std::vector<std::int64_t> slotFrom(static_cast<std::size_t>(n), -1);  // edited vertex
        struct Extra {
            std::uint32_t corner;
            std::int32_t base;
        };
        std::vector<Extra> extra;
        for (std::size_t t : *plan.triangles) {
            for (std::uint32_t corner : edited.triangles[t].corners) {
                const std::int32_t j = matchOf[corner];
                const EditedVertex& e = edited.vertices[corner];
                if (j >= 0) {
                    // An original vertex, moved by its node's transform where it was.
                    if (slotFrom[static_cast<std::size_t>(j)] < 0 &&
                        Differences(e, index.Shown(plan.source, j), normals, tolerances).Any()) {
                        slotFrom[static_cast<std::size_t>(j)] = corner;
                    }
                    continue;
                }
                if (j != -1) continue;
                matchOf[corner] = -3;  // placed
                const std::int32_t base =
                    BaseVertex(e, index, plan.source, slotUsed, normals, tolerances);
                if (base >= 0 && !slotUsed[static_cast<std::size_t>(base)]) {
                    slotUsed[static_cast<std::size_t>(base)] = 1;
                    slotFrom[static_cast<std::size_t>(base)] = corner;
                    newOf[corner] = base;
                } else {
                    extra.push_back({corner, base});
                    newOf[corner] = ~static_cast<std::int64_t>(extra.size() - 1);
                }
            }
        }
        std::int64_t outputCount = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            if (slotUsed[static_cast<std::size_t>(i)]) {
                slotOutput[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(outputCount++);
            }
        }
        const std::int64_t total = outputCount + static_cast<std::int64_t>(extra.size());
        const std::int64_t most = layout.indexSize == 2 ? 65535 : INT32_MAX / layout.stride;
        if (total > most) {
            console.Error(
                "object %s mesh %d: %lld vertices, more than the %lld its vertex block "
                "can hold.",
                ConsoleName(objectName).c_str(), plan.source, static_cast<long long>(total),
                static_cast<long long>(most));
            return Outcome::Broken;
        }
        mesh.vertexBytes.resize(static_cast<std::size_t>(total) * layout.stride);
        // Vertex `base`'s bytes (zeros without one) at `to`, then the values of edited vertex
        // `from` that differ from them.
        auto write = [&](std::uint8_t* to, std::int64_t from, std::int32_t base) {
            Placed differs{true, true, true};
            if (base >= 0) {
                std::memcpy(to,
                            view.vertices.data() + static_cast<std::size_t>(base) * layout.stride,
                            layout.stride);
                if (from < 0) return;
                differs = Differences(edited.vertices[static_cast<std::size_t>(from)],
                                      index.Shown(plan.source, base), normals, tolerances);
            } else {
                std::memset(to, 0, layout.stride);
            }
            const EditedVertex& e = edited.vertices[static_cast<std::size_t>(from)];
            if (differs.position) StoreFloats(to, e.placed.data(), 3);
            if (e.hasTexCoord && differs.texCoord)
                StoreFloats(to + texCoordOffset, e.texCoord.data(), 2);
            if (normals && e.hasNormal && differs.normal)
                StoreFloats(to + 16, e.placedNormal.data(), 3);
        };
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t out = slotOutput[static_cast<std::size_t>(i)];
            if (out < 0) continue;
            write(mesh.vertexBytes.data() + static_cast<std::size_t>(out) * layout.stride,
                  slotFrom[static_cast<std::size_t>(i)], i);
        }
        for (std::size_t k = 0; k < extra.size(); ++k) {
            write(mesh.vertexBytes.data() +
                      (static_cast<std::size_t>(outputCount) + k) * layout.stride,
                  extra[k].corner, extra[k].base);
        }
        auto outputOf = [&](std::uint32_t corner) -> std::uint32_t {
            const std::int32_t j = matchOf[corner];
            if (j >= 0) return static_cast<std::uint32_t>(slotOutput[static_cast<std::size_t>(j)]);
            const std::int64_t at = newOf[corner];
            if (at >= 0)
                return static_cast<std::uint32_t>(slotOutput[static_cast<std::size_t>(at)]);
            return static_cast<std::uint32_t>(outputCount + ~at);
        };
        mesh.indexBytes.resize(plan.triangles->size() * 3 * layout.indexSize);
        std::uint8_t* to = mesh.indexBytes.data();
        for (std::size_t t : *plan.triangles) {
            for (std::uint32_t corner : edited.triangles[t].corners) {
                const std::uint32_t v = outputOf(corner);
                if (layout.indexSize == 2) {
                    StoreU16(to, v);
                } else {
                    StoreU32(to, v);
                }
                to += layout.indexSize;
            }
        }
        result.push_back(std::move(mesh));
    }
    return Outcome::Ok;
}

}  // namespace morvex
