#include "convert/converter.h"

namespace morvex {

int Converter::ExportObj(std::string_view) { return 0; }
int Converter::ExportMqo(std::string_view) { return 0; }

}  // namespace morvex
