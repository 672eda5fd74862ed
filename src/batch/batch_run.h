// A run of many models: every file and folder given, converted (or checked, or inspected) in
// parallel, the console lines of each model printed together and in input order.
//
// Each model goes through the same Converter::Convert as a one-file run, with a capturing
// Console; this stage only schedules the models and collects what they print. Standard output
// gets, per model, "Model : <path>" and then its lines ("-> ", "Warning : ", "Error : "), or its
// inspect report; standard error gets the progress line (only when it is a terminal) and at
// the end the summary and the list of the models that failed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "convert/options.h"

namespace morvex {

struct BatchRequest {
    std::vector<std::string> inputs;
    std::string destPath;      // empty or ending in '/'
    bool byName = false;       // --out: every input under destPath by its name
    bool followLinks = false;  // --follow-links: links below the input folders are followed
    OutputMode mode = OutputMode::Obj;
    bool inspect = false;
    bool json = false;
    ConvertOptions options;
    bool progress = false;  // draw the progress line on `err`
};

// Runs the request; returns the exit status: 0, or 1 when a model failed, an entry of a folder
// could not be read or the destination could not be created.
int RunBatch(const BatchRequest& request, std::FILE* out, std::FILE* err);

// True when `path` names a folder (following links).
bool IsFolder(const std::string& path);

// The number of threads a --jobs value stands for (0: every core).
int ThreadsFor(int jobs);

}  // namespace morvex
