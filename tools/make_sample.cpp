// Writes the bundled sample model: a textured crate and a small figure made of several meshes
// and materials, using compressed and uncompressed material and vertex tags. With --japanese, a
// small model whose object, material and texture names are Japanese in code page 932 (the
// names of the game's own models), among them characters whose second byte is 0x5C ('\').
//
//   make_sample [--japanese] <output.it3>
#include <cstdio>
#include <string>
#include <string_view>

#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"
#include "testdata/texture_writer.h"

namespace {

morvex::testdata::It3Writer BuildJapaneseModel() {
    using namespace morvex::testdata;
    const std::string box = "\x94\xA0";                    // 箱
    const std::string table = "\x95\x5C\x83\x5C";          // 表ソ
    const std::string wood = "\x96\xD8\x96\xDA";           // 木目
    const std::string cloth = "\x95\x7A\x81\x45\x94\x5C";  // 布・能
    It3Writer file;
    file.Info(box);
    file.Block("MAT2", MaterialPayload("MAT2", {{wood, wood, "", 12.5f}}));
    file.Block("VPA5", VertexPayload("VPA5", {BoxMesh({0, 0, 0.5f}, {0.5f, 0.5f, 0.5f}, 0)}));
    file.Info(table);
    file.Block("MATE", MaterialPayload("MATE", {{cloth, cloth, "", 8.0f}}));
    file.Block("VPAC", VertexPayload("VPAC", {BoxMesh({2.0f, 0, 0.4f}, {0.8f, 0.5f, 0.4f}, 0)}));
    file.Block("TEXI", TexiPayload(wood, EncodeTexture1002(WoodPlanks(32, 32))));
    file.Block("TEXI", TexiPayload(cloth, EncodeTexture1004(ClothPattern(32, 32))));
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    const bool japanese = argc == 3 && std::string_view(argv[1]) == "--japanese";
    if (argc != 2 && !japanese) {
        std::fprintf(stderr, "usage: make_sample [--japanese] <output.it3>\n");
        return 2;
    }
    const char* output = argv[argc - 1];
    morvex::testdata::It3Writer file =
        japanese ? BuildJapaneseModel() : morvex::testdata::BuildSampleModel();
    if (!file.Save(output)) {
        std::fprintf(stderr, "make_sample: can not write %s\n", output);
        return 1;
    }
    return 0;
}
