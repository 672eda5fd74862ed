#include "convert/converter.h"

namespace morvex {

int Converter::ExportTextures(std::string_view) { return 0; }

}  // namespace morvex
