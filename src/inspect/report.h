// The inspect report (-i): what a loaded model holds and what a conversion of it would do,
// as plain data built from a `const Model&`, with a text form for people and a JSON form for
// programs (its schema: docs/inspect.schema.json).
//
// The report walks the model as the writers do (WalkObjects, WalkMeshes, the texture decoder),
// so "written" means what a conversion writes; nothing is written here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "it3/model.h"

namespace morvex {

struct MaterialReport {
    std::int32_t index = 0;
    std::string name;
    std::string texture;         // empty: none
    std::string alphaMap;        // empty: none
    bool textureFound = false;   // the file holds a TEXI block of the texture's name
    bool alphaMapFound = false;  // the same for the alpha map
    float power = 0.0f;          // as stored
};

struct MeshReport {
    std::int32_t index = 0;
    bool written = false;  // false: skipped (see the report's warnings)
    std::int32_t vertices = 0;
    std::int32_t triangles = 0;
    std::int32_t material = 0;  // the mesh's Material index
    std::string materialName;   // empty when the index lies outside the table
};

struct ObjectReport {
    std::int32_t index = 0;  // among the INFO blocks
    std::int32_t block = 0;  // position of its INFO block in the block list
    std::string name;
    bool written = false;
    std::string_view skipped;    // why it is not written: "no material block", ... (a literal)
    std::string materialTag;     // the material block chosen (empty: none)
    std::string vertexTag;       // the vertex block chosen (empty: none)
    std::int32_t meshCount = 0;  // as stored
    std::vector<MaterialReport> materials;
    std::vector<MeshReport> meshes;  // the meshes the vertex block locates
    // The object's OBJ and MTL file names and its Metasequoia document; none when the name is
    // longer than a folder holds (the glb holds the object all the same).
    std::vector<std::string> files;
    std::string mqoFile;
    // Whether --pack can write an edit of the object back: empty when it can, else why not
    // ("not written", "meshes that do not decode"); and the most vertices a mesh of its vertex
    // block can hold after an edit (65535 for the tags of 16-bit indices).
    std::string packProblem;
    std::int64_t packMeshVertices = 0;
};

struct TextureReport {
    std::int32_t block = 0;
    std::string name;
    std::optional<std::int32_t> format;  // the format code, when the header holds one
    std::int32_t width = 0;              // 0 when not known
    std::int32_t height = 0;
    bool converts = false;  // and so --pack can write a repainted picture back
    std::string problem;    // why it does not convert ("unsupported", "broken", ...)
    std::string file;       // the BMP file name
};

struct MissingTexture {
    std::string object;
    std::string material;
    bool alphaMap = false;  // the material's alpha map, else its texture
    std::string name;
};

struct UnknownBlock {
    std::string tag;
    std::uint32_t value = 0;
    std::int64_t offset = 0;
};

struct ReportTotals {
    std::int64_t objects = 0, objectsWritten = 0;
    std::int64_t meshes = 0, meshesWritten = 0;  // the meshes the vertex blocks locate
    std::int64_t vertices = 0, triangles = 0;    // of the written meshes
    std::int64_t materials = 0;
    std::int64_t textures = 0, texturesConverting = 0;
    std::int64_t missingTextures = 0;
    std::int64_t unknownBlocks = 0;
};

struct ModelReport {
    std::string path;
    std::string error;  // set when the file could not be loaded: nothing else is filled in
    std::int64_t size = 0;
    std::int64_t blocks = 0;
    std::vector<ObjectReport> objects;
    std::vector<TextureReport> textures;
    std::vector<MissingTexture> missingTextures;
    std::vector<UnknownBlock> unknownBlocks;  // the first 20; totals.unknownBlocks counts all
    std::optional<std::int64_t> brokenBlock;  // the offset where the scan stopped
    std::vector<std::string> warnings;  // the lines a conversion prints about objects and meshes
    // Over the written meshes' positions as stored (z up), non-finite values left out.
    std::optional<std::array<float, 3>> boundsMin, boundsMax;
    std::vector<std::string> objFiles, mqoFiles;  // every file of a conversion, in order
    std::string gltfFile;
    ReportTotals totals;
};

// The report of a loaded and indexed model.
ModelReport BuildReport(const Model& model);
// The report of a file that could not be loaded: `error` is the message without "Error : ".
ModelReport FailedReport(std::string path, std::string error);

// The text form: "Model : <path>" and sections, names shown as messages show them.
std::string ReportText(const ModelReport& report);
// The JSON form: one object, indented by two blanks, without a final line break. Names that
// are not UTF-8 are decoded from code page 932 (DecodeName); what neither reads is U+FFFD.
std::string ReportJson(const ModelReport& report);

}  // namespace morvex
