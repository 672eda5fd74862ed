// Writes the large benchmark model (16 spheres, 1,040,400 vertices, about two million triangles)
// to a file, for measuring whole conversions and imports by hand.
//
//   make_large_model <output.it3>
#include <cstdio>

#include "testdata/it3_writer.h"
#include "testdata/sample_model.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_large_model <output.it3>\n");
        return 2;
    }
    if (!morvex::testdata::BuildLargeModel().Save(argv[1])) {
        std::fprintf(stderr, "make_large_model: can not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
