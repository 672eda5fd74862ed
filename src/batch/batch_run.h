// A run of many models: every file and folder given, converted (or checked, or inspected) in
// parallel, the console lines of each model printed together and in input order.
//
// Each model goes through the same Converter::Convert as a one-file run, with a capturing
// Console; this stage only schedules the models and collects what they print. Standard output
// gets, per model, "Model : <path>" and then its lines ("-> ", "Warning : ", "Error : "), or its
// inspect report; with `messagesApart` the warnings and errors go to standard error instead,
// each line behind "<path>: ". Standard error gets the progress line (only when it is a
// terminal) and at the end the summary and the models that failed or were damaged, each with
// its reason.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "convert/options.h"

namespace morvex {

// How much a run prints: Quiet leaves out the "Model : " and "-> " lines, the warnings (still
// counted) and the progress line; Verbose adds a line of counts and time per model.
enum class Verbosity { Quiet, Normal, Verbose };

struct BatchRequest {
    std::vector<std::string> inputs;
    std::string destPath;  // empty or ending in '/'
    bool byName = false;   // --out: every input under destPath by its name
    OutputMode mode = OutputMode::Obj;
    bool inspect = false;
    bool json = false;
    ConvertOptions options;
    bool progress = false;  // draw the progress line on `err`
    Verbosity verbosity = Verbosity::Normal;
    bool messagesApart = false;  // warnings and errors on `err`
};

// Runs the request; returns the exit status: 0, or 1 when a model failed, an entry of a folder
// could not be read, a folder given holds no model or the destination could not be created.
// Destination folders are created only for models that load: a run that converts nothing
// creates nothing.
int RunBatch(const BatchRequest& request, std::FILE* out, std::FILE* err);

// True when `path` names a folder (following links).
bool IsFolder(const std::string& path);

// The number of threads a --jobs value stands for (0: every core).
int ThreadsFor(int jobs);

// What a conversion made, for -v: "2 objects, 3 textures, 7 files (0.3 MB), 1 warning, 0.05 s".
std::string ConversionCounts(const Converter& converter, bool loaded, double seconds);

}  // namespace morvex
