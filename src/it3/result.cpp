#include "it3/result.h"

namespace morvex {

std::string_view OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return "ok";
        case Outcome::Unsupported:
            return "unsupported";
        case Outcome::Broken:
            return "broken";
        case Outcome::NoMemory:
            return "no memory";
        case Outcome::TooLarge:
            return "too large";
        case Outcome::CannotOpen:
            return "can not open";
        case Outcome::NotIt3:
            return "not an it3 file";
        case Outcome::CannotLoad:
            return "can not load";
        case Outcome::CannotCreate:
            return "can not create";
        case Outcome::CannotWrite:
            return "can not write";
    }
    return "unknown";
}

}  // namespace morvex
