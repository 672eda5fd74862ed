#include "pack/glb_reader.h"

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace morvex {

Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 product{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k) sum += a[k * 4 + row] * b[column * 4 + k];
            product[column * 4 + row] = sum;
        }
    }
    return product;
}

namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kChunkJson = 0x4E4F534A;
constexpr std::uint32_t kChunkBin = 0x004E4942;

// The deepest nesting of arrays and objects in a JSON text, counted without parsing it (brackets
// inside strings do not count). A parser given a deeper document is never started.
int JsonDepth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (inString) {
            if (c == '\\') {
                ++k;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// Reading the document: every getter says what is wrong through `problem` and returns false.
class DocumentReader {
  public:
    explicit DocumentReader(std::string& problem) : problem_(problem) {}

    bool Fail(const std::string& what) {
        if (problem_.empty()) problem_ = what;
        return false;
    }

    // An optional member that must be an array; an absent one reads as empty.
    const Json* Array(const Json& object, const char* key) {
        static const Json empty = Json::array();
        const auto found = object.find(key);
        if (found == object.end()) return &empty;
        if (!found->is_array()) {
            Fail(std::string("\"") + key + "\" is not an array");
            return nullptr;
        }
        return &*found;
    }

    // A whole number in [low, high]; absent members keep `out`.
    bool Integer(const Json& object, const char* key, std::int64_t low, std::int64_t high,
                 std::int64_t& out) {
        const auto found = object.find(key);
        if (found == object.end()) return true;
        return IntegerValue(*found, key, low, high, out);
    }
    bool IntegerValue(const Json& value, const char* what, std::int64_t low, std::int64_t high,
                      std::int64_t& out) {
        // An index into an empty list has no value to take (high is then -1, which the
        // unsigned comparison below would read as the largest).
        if (high < low) return Fail(std::string(what) + " out of range");
        double number = 0;
        if (value.is_number_integer()) {
            if (value.is_number_unsigned()) {
                const auto u = value.get<std::uint64_t>();
                if (u > static_cast<std::uint64_t>(high))
                    return Fail(std::string(what) + " out of range");
                out = static_cast<std::int64_t>(u);
                return out >= low || Fail(std::string(what) + " out of range");
            }
            out = value.get<std::int64_t>();
            return (out >= low && out <= high) || Fail(std::string(what) + " out of range");
        }
        if (!value.is_number_float()) return Fail(std::string(what) + " is not a number");
        number = value.get<double>();
        if (!(number >= static_cast<double>(low) && number <= static_cast<double>(high)) ||
            std::floor(number) != number) {
            return Fail(std::string(what) + " is not a whole number in range");
        }
        out = static_cast<std::int64_t>(number);
        return true;
    }
    // An index into an array of `count` elements; absent members keep `out` (-1).
    bool Index(const Json& object, const char* key, std::size_t count, int& out) {
        std::int64_t value = out;
        if (!Integer(object, key, 0, static_cast<std::int64_t>(count) - 1, value)) return false;
        out = static_cast<int>(value);
        return true;
    }
    bool Number(const Json& object, const char* key, double& out) {
        const auto found = object.find(key);
        if (found == object.end()) return true;
        if (!found->is_number() || !std::isfinite(found->get<double>())) {
            return Fail(std::string("\"") + key + "\" is not a finite number");
        }
        out = found->get<double>();
        return true;
    }
    bool Text(const Json& object, const char* key, std::string& out) {
        const auto found = object.find(key);
        if (found == object.end()) return true;
        if (!found->is_string()) return Fail(std::string("\"") + key + "\" is not a string");
        out = found->get<std::string>();
        return true;
    }
    bool Numbers(const Json& object, const char* key, std::size_t count, double* out) {
        const auto found = object.find(key);
        if (found == object.end()) return true;
        if (!found->is_array() || found->size() != count) {
            return Fail(std::string("\"") + key + "\" is not an array of " + std::to_string(count) +
                        " numbers");
        }
        for (std::size_t k = 0; k < count; ++k) {
            const Json& v = (*found)[k];
            if (!v.is_number() || !std::isfinite(v.get<double>())) {
                return Fail(std::string("\"") + key + "\" holds something else than numbers");
            }
            out[k] = v.get<double>();
        }
        return true;
    }
    // "extras": {"it3": {...}}; anything else in extras is left alone.
    bool Extras(const Json& element, It3Extras& out) {
        const auto extras = element.find("extras");
        if (extras == element.end() || !extras->is_object()) return true;
        const auto it3 = extras->find("it3");
        if (it3 == extras->end() || !it3->is_object()) return true;
        constexpr std::int64_t kMax = 0x7FFFFFFF;
        if (!Integer(*it3, "object", 0, kMax, out.object) ||
            !Integer(*it3, "material", 0, kMax, out.material)) {
            return false;
        }
        const Json* meshes = Array(*it3, "meshes");
        if (meshes == nullptr) return false;
        for (const Json& m : *meshes) {
            std::int64_t mesh = 0;
            if (!IntegerValue(m, "mesh number", 0, kMax, mesh)) return false;
            out.meshes.push_back(mesh);
        }
        return true;
    }

  private:
    std::string& problem_;
};

int ComponentSize(int componentType) {
    switch (componentType) {
        case 5120:
        case 5121:
            return 1;
        case 5122:
        case 5123:
            return 2;
        case 5125:
        case 5126:
            return 4;
        default:
            return 0;
    }
}

int ComponentCount(const std::string& type) {
    static const std::pair<const char*, int> kTypes[] = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3},
                                                         {"VEC4", 4},   {"MAT2", 4}, {"MAT3", 9},
                                                         {"MAT4", 16}};
    for (const auto& [name, count] : kTypes) {
        if (type == name) return count;
    }
    return 0;
}

Matrix4 FromTrs(const double t[3], const double r[4], const double s[3]) {
    const double x = r[0], y = r[1], z = r[2], w = r[3];
    // The rotation of a unit quaternion, columns first, each scaled.
    Matrix4 m = {(1 - 2 * (y * y + z * z)) * s[0],
                 (2 * (x * y + z * w)) * s[0],
                 (2 * (x * z - y * w)) * s[0],
                 0,
                 (2 * (x * y - z * w)) * s[1],
                 (1 - 2 * (x * x + z * z)) * s[1],
                 (2 * (y * z + x * w)) * s[1],
                 0,
                 (2 * (x * z + y * w)) * s[2],
                 (2 * (y * z - x * w)) * s[2],
                 (1 - 2 * (x * x + y * y)) * s[2],
                 0,
                 t[0],
                 t[1],
                 t[2],
                 1};
    return m;
}

}  // namespace

Outcome GlbFile::Read(Bytes file, std::string& problem, const GlbLimits& limits) {
    problem.clear();
    DocumentReader read(problem);
    auto broken = [&](const std::string& what) {
        read.Fail(what);
        return Outcome::Broken;
    };
    const ByteReader reader(file);
    // A word of the container; 0 past the end of the file.
    auto word = [&reader](std::uint64_t offset) {
        std::uint32_t value = 0;
        return reader.U32(offset, value) ? value : 0;
    };
    if (file.size() < 20 || word(0) != kGlbMagic) return broken("not a binary glTF file");
    if (word(4) != 2) return broken("not glTF version 2");
    const std::uint64_t length = std::min<std::uint64_t>(word(8), file.size());
    const std::uint64_t jsonLength = word(12);
    if (length < 20 || word(16) != kChunkJson || jsonLength > length - 20) {
        return broken("the JSON chunk is missing or cut");
    }
    if (jsonLength > limits.jsonBytes) return broken("the JSON chunk is too large");
    const std::string_view text(reinterpret_cast<const char*>(file.data() + 20), jsonLength);
    std::uint64_t next = 20 + ((jsonLength + 3) & ~std::uint64_t{3});
    bin_ = {};
    if (next + 8 <= length && word(next + 4) == kChunkBin) {
        const std::uint64_t binLength = word(next);
        if (binLength > length - next - 8) return broken("the BIN chunk is cut");
        bin_ = file.subspan(next + 8, binLength);
    }
    if (JsonDepth(text) > limits.jsonDepth) return broken("the JSON nests too deep");
    const Json document = Json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) return broken("the JSON does not parse");

    // The one buffer that is read: buffer 0, the BIN chunk.
    std::uint64_t bufferLength = 0;
    const Json* buffers = read.Array(document, "buffers");
    if (buffers == nullptr) return Outcome::Broken;
    if (!buffers->empty()) {
        const Json& buffer = (*buffers)[0];
        std::int64_t declared = 0;
        if (!buffer.is_object() || buffer.contains("uri") ||
            !read.Integer(buffer, "byteLength", 0, INT64_MAX, declared)) {
            return broken("buffer 0 is not the BIN chunk");
        }
        if (static_cast<std::uint64_t>(declared) > bin_.size()) {
            return broken("buffer 0 is longer than the BIN chunk");
        }
        bufferLength = static_cast<std::uint64_t>(declared);
    }

    const Json* list = read.Array(document, "bufferViews");
    if (list == nullptr) return Outcome::Broken;
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("a bufferView is not an object");
        std::int64_t buffer = -1, offset = 0, viewLength = -1, stride = 0;
        if (!read.Integer(item, "buffer", 0, INT32_MAX, buffer) ||
            !read.Integer(item, "byteOffset", 0, INT64_MAX, offset) ||
            !read.Integer(item, "byteLength", 1, INT64_MAX, viewLength) ||
            !read.Integer(item, "byteStride", 4, 252, stride)) {
            return Outcome::Broken;
        }
        GlbView view;
        if (buffer == 0 && viewLength > 0 && static_cast<std::uint64_t>(offset) <= bufferLength &&
            static_cast<std::uint64_t>(viewLength) <=
                bufferLength - static_cast<std::uint64_t>(offset)) {
            view.offset = static_cast<std::uint64_t>(offset);
            view.length = static_cast<std::uint64_t>(viewLength);
        } else if (buffer < 0 || viewLength < 0) {
            return broken("a bufferView has no buffer or length");
        } else {
            // Outside the BIN chunk (another buffer, or past its end): an empty view that every
            // read through it refuses.
            view.length = 0;
        }
        view.stride = static_cast<std::uint32_t>(stride);
        views.push_back(view);
    }

    if ((list = read.Array(document, "accessors")) == nullptr) return Outcome::Broken;
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("an accessor is not an object");
        GlbAccessor accessor;
        std::int64_t component = 0, offset = 0, count = -1;
        std::string type;
        if (!read.Index(item, "bufferView", views.size(), accessor.view) ||
            !read.Integer(item, "byteOffset", 0, INT64_MAX, offset) ||
            !read.Integer(item, "componentType", 0, 99999, component) ||
            !read.Integer(item, "count", 0, INT64_MAX, count) || !read.Text(item, "type", type)) {
            return Outcome::Broken;
        }
        accessor.componentType = static_cast<int>(component);
        accessor.components = ComponentCount(type);
        accessor.offset = static_cast<std::uint64_t>(offset);
        accessor.count = static_cast<std::uint64_t>(count);
        accessor.normalized = item.value("normalized", false) == true;
        accessor.sparse = item.contains("sparse");
        if (count < 0 || accessor.components == 0 || ComponentSize(accessor.componentType) == 0) {
            return broken("an accessor has no count, type or component type");
        }
        accessors.push_back(accessor);
    }

    if ((list = read.Array(document, "images")) == nullptr) return Outcome::Broken;
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("an image is not an object");
        GlbImage image;
        if (!read.Text(item, "name", image.name) ||
            !read.Index(item, "bufferView", views.size(), image.bufferView)) {
            return Outcome::Broken;
        }
        images.push_back(std::move(image));
    }

    if ((list = read.Array(document, "textures")) == nullptr) return Outcome::Broken;
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("a texture is not an object");
        int source = -1;
        if (!read.Index(item, "source", images.size(), source)) return Outcome::Broken;
        textureSources.push_back(source);
    }

    if ((list = read.Array(document, "materials")) == nullptr) return Outcome::Broken;
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("a material is not an object");
        GlbMaterial material;
        if (!read.Text(item, "name", material.name) || !read.Extras(item, material.it3)) {
            return Outcome::Broken;
        }
        const auto pbr = item.find("pbrMetallicRoughness");
        if (pbr != item.end() && pbr->is_object()) {
            if (!read.Number(*pbr, "roughnessFactor", material.roughness)) return Outcome::Broken;
            const auto base = pbr->find("baseColorTexture");
            if (base != pbr->end() && base->is_object()) {
                std::int64_t texCoord = 0;
                if (!read.Index(*base, "index", textureSources.size(), material.baseColorTexture) ||
                    !read.Integer(*base, "texCoord", 0, 255, texCoord)) {
                    return Outcome::Broken;
                }
                material.baseColorTexCoord = static_cast<int>(texCoord);
            }
        }
        materials.push_back(std::move(material));
    }

    if ((list = read.Array(document, "meshes")) == nullptr) return Outcome::Broken;
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("a mesh is not an object");
        GlbMesh mesh;
        if (!read.Text(item, "name", mesh.name) || !read.Extras(item, mesh.it3)) {
            return Outcome::Broken;
        }
        const Json* primitives = read.Array(item, "primitives");
        if (primitives == nullptr) return Outcome::Broken;
        for (const Json& p : *primitives) {
            if (!p.is_object()) return broken("a primitive is not an object");
            GlbPrimitive primitive;
            std::int64_t mode = 4;
            const auto attributes = p.find("attributes");
            if (attributes == p.end() || !attributes->is_object()) {
                return broken("a primitive has no attributes");
            }
            if (!read.Index(*attributes, "POSITION", accessors.size(), primitive.position) ||
                !read.Index(*attributes, "NORMAL", accessors.size(), primitive.normal) ||
                !read.Index(*attributes, "TEXCOORD_0", accessors.size(), primitive.texCoord) ||
                !read.Index(p, "indices", accessors.size(), primitive.indices) ||
                !read.Index(p, "material", materials.size(), primitive.material) ||
                !read.Integer(p, "mode", 0, 6, mode)) {
                return Outcome::Broken;
            }
            if (mode != 4) return broken("a primitive is not made of triangles");
            mesh.primitives.push_back(primitive);
        }
        meshes.push_back(std::move(mesh));
    }

    if ((list = read.Array(document, "nodes")) == nullptr) return Outcome::Broken;
    std::vector<int> parents(list->size(), -1);
    for (const Json& item : *list) {
        if (!item.is_object()) return broken("a node is not an object");
        GlbNode node;
        if (!read.Text(item, "name", node.name) ||
            !read.Index(item, "mesh", meshes.size(), node.mesh) || !read.Extras(item, node.it3)) {
            return Outcome::Broken;
        }
        const Json* children = read.Array(item, "children");
        if (children == nullptr) return Outcome::Broken;
        for (const Json& c : *children) {
            std::int64_t child = 0;
            if (!read.IntegerValue(c, "a child", 0, static_cast<std::int64_t>(list->size()) - 1,
                                   child)) {
                return Outcome::Broken;
            }
            int& parent = parents[static_cast<std::size_t>(child)];
            if (parent >= 0 || child == static_cast<std::int64_t>(nodes.size())) {
                return broken("a node is the child of two nodes, or of itself");
            }
            parent = static_cast<int>(nodes.size());
            node.children.push_back(static_cast<int>(child));
        }
        if (item.contains("matrix")) {
            if (!read.Numbers(item, "matrix", 16, node.local.data())) return Outcome::Broken;
        } else {
            double t[3] = {0, 0, 0}, r[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
            if (!read.Numbers(item, "translation", 3, t) || !read.Numbers(item, "rotation", 4, r) ||
                !read.Numbers(item, "scale", 3, s)) {
                return Outcome::Broken;
            }
            node.local = FromTrs(t, r, s);
        }
        nodes.push_back(std::move(node));
    }

    // The scene shown: "scene", else the first; without scenes, every root node.
    const Json* scenes = read.Array(document, "scenes");
    if (scenes == nullptr) return Outcome::Broken;
    int scene = scenes->empty() ? -1 : 0;
    if (!read.Index(document, "scene", scenes->size(), scene)) return Outcome::Broken;
    if (scene >= 0) {
        const Json& chosen = (*scenes)[static_cast<std::size_t>(scene)];
        const Json* roots = chosen.is_object() ? read.Array(chosen, "nodes") : nullptr;
        if (roots == nullptr) return broken("a scene is not an object");
        for (const Json& r : *roots) {
            std::int64_t root = 0;
            if (!read.IntegerValue(r, "a scene node", 0,
                                   static_cast<std::int64_t>(nodes.size()) - 1, root)) {
                return Outcome::Broken;
            }
            if (parents[static_cast<std::size_t>(root)] >= 0) {
                return broken("a scene names a node that has a parent");
            }
            sceneRoots.push_back(static_cast<int>(root));
        }
    } else {
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            if (parents[n] < 0) sceneRoots.push_back(static_cast<int>(n));
        }
    }
    return Outcome::Ok;
}

void GlbFile::WorldTransforms(std::vector<Matrix4>& world, std::vector<bool>& reached) const {
    world.assign(nodes.size(), kIdentity4);
    reached.assign(nodes.size(), false);
    // Every node has at most one parent (checked by Read), so from the roots each is met once.
    std::vector<int> stack;
    for (int root : sceneRoots) {
        if (reached[static_cast<std::size_t>(root)]) continue;
        reached[static_cast<std::size_t>(root)] = true;
        world[static_cast<std::size_t>(root)] = nodes[static_cast<std::size_t>(root)].local;
        stack.push_back(root);
        while (!stack.empty()) {
            const int n = stack.back();
            stack.pop_back();
            for (int child : nodes[static_cast<std::size_t>(n)].children) {
                const auto c = static_cast<std::size_t>(child);
                if (reached[c]) continue;
                reached[c] = true;
                world[c] = Multiply(world[static_cast<std::size_t>(n)], nodes[c].local);
                stack.push_back(child);
            }
        }
    }
}

namespace {

// The elements of accessor `index` inside the BIN chunk, after every check: the accessor, or
// null (with `problem`) when it does not lie wholly inside its bufferView.
const GlbAccessor* Locate(const GlbFile& glb, Bytes bin, int index, GlbFile::Elements& out,
                          std::string& problem) {
    if (index < 0 || static_cast<std::size_t>(index) >= glb.accessors.size()) {
        problem = "an accessor is missing";
        return nullptr;
    }
    const GlbAccessor& a = glb.accessors[static_cast<std::size_t>(index)];
    if (a.sparse || a.view < 0) {
        problem = "accessor " + std::to_string(index) + " is sparse or has no bufferView";
        return nullptr;
    }
    const GlbView& view = glb.views[static_cast<std::size_t>(a.view)];
    const std::uint64_t elementSize = static_cast<std::uint64_t>(ComponentSize(a.componentType)) *
                                      static_cast<std::uint64_t>(a.components);
    const std::uint64_t stride = view.stride != 0 ? view.stride : elementSize;
    // count ≤ length keeps every product below in 64 bits (stride ≤ 252, length < 2^32 here).
    const bool fits =
        view.length > 0 && view.offset + view.length <= bin.size() && a.offset <= view.length &&
        a.count <= view.length &&
        (a.count == 0 || (a.count - 1) * stride + elementSize <= view.length - a.offset);
    if (!fits) {
        problem = "accessor " + std::to_string(index) + " leaves its bufferView";
        return nullptr;
    }
    out = {bin.data() + view.offset + a.offset, stride, a.count, a.componentType};
    return &a;
}

}  // namespace

bool GlbFile::FloatElements(int accessor, int components, Elements& out,
                            std::string& problem) const {
    const GlbAccessor* a = Locate(*this, bin_, accessor, out, problem);
    if (a == nullptr) return false;
    const bool unorm = a->normalized && (a->componentType == 5121 || a->componentType == 5123);
    if (a->components == components && (a->componentType == 5126 || unorm)) return true;
    problem = "accessor " + std::to_string(accessor) + " is not of the expected kind";
    return false;
}

bool GlbFile::IndexElements(int accessor, Elements& out, std::string& problem) const {
    const GlbAccessor* a = Locate(*this, bin_, accessor, out, problem);
    if (a == nullptr) return false;
    const int type = a->componentType;
    if (a->components == 1 && (type == 5121 || type == 5123 || type == 5125)) return true;
    problem = "accessor " + std::to_string(accessor) + " is not an index accessor";
    return false;
}

Outcome GlbFile::Floats(int accessor, int components, std::vector<float>& out,
                        std::string& problem) const {
    Elements e;
    if (!FloatElements(accessor, components, e, problem)) return Outcome::Broken;
    out.resize(e.count * static_cast<std::uint64_t>(components));
    // FloatElements proved every element inside the BIN chunk.
    for (std::uint64_t k = 0; k < e.count; ++k) {
        const std::uint8_t* at = e.first + k * e.stride;
        for (int c = 0; c < components; ++c) {
            float value = 0;
            if (e.componentType == 5126) {
                value = LoadF32(at + 4 * c);
            } else if (e.componentType == 5121) {
                value = static_cast<float>(at[c]) / 255.0f;
            } else {
                value = static_cast<float>(LoadU16(at + 2 * c)) / 65535.0f;
            }
            out[k * static_cast<std::uint64_t>(components) + static_cast<std::uint64_t>(c)] = value;
        }
    }
    return Outcome::Ok;
}

Outcome GlbFile::Indices(int accessor, std::vector<std::uint32_t>& out,
                         std::string& problem) const {
    Elements e;
    if (!IndexElements(accessor, e, problem)) return Outcome::Broken;
    out.resize(e.count);
    for (std::uint64_t k = 0; k < e.count; ++k) {
        const std::uint8_t* at = e.first + k * e.stride;
        out[k] = e.componentType == 5121   ? *at
                 : e.componentType == 5123 ? LoadU16(at)
                                           : LoadU32(at);
    }
    return Outcome::Ok;
}

Bytes GlbFile::ImageBytes(int image) const {
    if (image < 0 || static_cast<std::size_t>(image) >= images.size()) return {};
    const int v = images[static_cast<std::size_t>(image)].bufferView;
    if (v < 0) return {};
    const GlbView& view = views[static_cast<std::size_t>(v)];
    if (view.length == 0 || view.offset + view.length > bin_.size()) return {};
    return bin_.subspan(view.offset, view.length);
}

}  // namespace morvex
