// Writes the bundled sample model: a textured crate and a small figure made of several meshes
// and materials, using compressed and uncompressed material and vertex tags.
//
//   make_sample <output.it3>
#include <cmath>
#include <cstdio>
#include <string>

#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample <output.it3>\n");
        return 2;
    }
    morvex::testdata::It3Writer file = morvex::testdata::BuildSampleModel();
    if (!file.Save(argv[1])) {
        std::fprintf(stderr, "make_sample: can not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
