#include "batch/batch_run.h"

#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>

#include <chrono>
#include <cinttypes>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <utility>

#include "batch/destination.h"
#include "batch/model_list.h"
#include "batch/progress.h"
#include "convert/converter.h"
#include "decode/decoder_factory.h"
#include "export/output_file.h"
#include "inspect/report.h"
#include "it3/parallel.h"
#include "platform/platform.h"

namespace morvex {
namespace {

// What one model's run left for the printing stage.
struct Done {
    std::size_t index = 0;
    std::string text;      // its console lines or its report
    std::string messages;  // its warnings and errors, when they go apart
    bool failed = false;
    MessageCounts counts;
    std::string counted;  // the -v line
    std::int64_t objects = 0, textures = 0, files = 0, bytes = 0;
};

// The objects that convert and the textures of a loaded model.
void CountContents(const Model& model, std::int64_t& objects, std::int64_t& textures) {
    for (const ObjectBlocks& object : FindObjects(model)) objects += object.Converts();
    for (const Block& block : model.blocks) textures += block.TagBits() == kTagTexi;
}

const char* Plural(std::uint64_t count) {
    return count == 1 ? "" : "s";
}

// Every line of `lines` behind "<path>: ".
std::string Prefixed(const std::string& lines, const std::string& path) {
    std::string prefixed;
    std::size_t start = 0;
    while (start < lines.size()) {
        const std::size_t end = std::min(lines.find('\n', start), lines.size());
        prefixed += path;
        prefixed += ": ";
        prefixed.append(lines, start, end - start);
        prefixed += '\n';
        start = end + 1;
    }
    return prefixed;
}

class Run {
  public:
    Run(const BatchRequest& request, const ModelList& list, std::FILE* out, std::FILE* err)
        : request_(request),
          list_(list),
          out_(out),
          err_(err),
          progress_(err, request.progress && request.verbosity != Verbosity::Quiet,
                    list.models.size()) {}

    Done Convert(std::size_t index) {
        const PlannedModel& model = list_.models[index];
        const auto start = std::chrono::steady_clock::now();
        Done done;
        done.index = index;
        progress_.Started(model.path);
        // Memory that runs out ends this model alone; the others go on.
        try {
            ConvertModel(model, start, done);
        } catch (const std::bad_alloc&) {
            done = Done{};
            done.index = index;
            Fail(done, "Out of memory for " + model.path + ".");
        }
        progress_.Finished();
        return done;
    }

    void Print(const Done& done) {
        const PlannedModel& model = list_.models[done.index];
        const std::string shown = ConsoleName(model.path);
        progress_.Around([&] {
            if (request_.json) {
                std::fputs(printed_ == 0 ? "" : ",\n", out_);
            } else if (!request_.inspect && request_.verbosity != Verbosity::Quiet &&
                       !(request_.messagesApart && done.text.empty())) {
                WriteText(out_, "Model : " + shown + "\n");
            }
            WriteText(out_, done.text);
            std::fflush(out_);
            std::string apart = Prefixed(done.messages, shown);
            if (!done.counted.empty()) apart += shown + ": " + done.counted + "\n";
            WriteText(err_, apart);
            std::fflush(err_);
        });
        ++printed_;
        if (done.failed) {
            failed_.push_back({model.path, done.counts.Reason().empty() ? "Can not convert it."
                                                                        : done.counts.Reason()});
        } else if (done.counts.damage > 0) {
            std::string reason = done.counts.firstDamage;
            if (done.counts.damage > 1) {
                reason += " (and " + std::to_string(done.counts.damage - 1) + " more)";
            }
            damaged_.push_back({model.path, std::move(reason)});
        }
        warnings_ += done.counts.warnings;
        objects_ += done.objects;
        textures_ += done.textures;
        files_ += done.files;
        bytes_ += done.bytes;
    }

    // `many`: a run of several models, which ends with the summary (and a JSON array).
    int Finish(bool jsonArray, double seconds) {
        progress_.End();
        if (request_.json && jsonArray) std::fputs(printed_ == 0 ? "[]\n" : "\n]\n", out_);
        if (request_.json && !jsonArray && printed_ > 0) std::fputs("\n", out_);
        std::fflush(out_);
        std::vector<FailedInput> failed = list_.failed;
        failed.insert(failed.end(), failed_.begin(), failed_.end());
        if (!jsonArray) return failed.empty() ? 0 : 1;
        const std::size_t total = list_.models.size();
        const std::size_t converted = total - failed_.size() - damaged_.size();
        const char* verb = request_.inspect                     ? "inspected"
                           : request_.mode == OutputMode::Check ? "checked"
                                                                : "converted";
        std::fprintf(err_,
                     "morvex: %zu model%s %s, %zu damaged, %zu failed; %" PRIu64
                     " warning%s; %" PRId64 " objects, %" PRId64 " textures; %" PRId64
                     " files, %.1f MB written in %.1f s\n",
                     converted, Plural(converted), verb, damaged_.size(), failed.size(), warnings_,
                     Plural(warnings_), objects_, textures_, files_,
                     static_cast<double>(bytes_) / 1e6, seconds);
        for (const auto& [title, inputs] : {std::pair{"failed", &failed}, {"damaged", &damaged_}}) {
            if (inputs->empty()) continue;
            std::fprintf(err_, "%s:\n", title);
            for (const FailedInput& input : *inputs) {
                WriteText(err_,
                          "  " + ConsoleName(input.path) + ": " + ConsoleName(input.reason) + "\n");
            }
        }
        std::fflush(err_);
        return failed.empty() ? 0 : 1;
    }

  private:
    // A model that fails before its conversion runs: `reason` names paths as they are.
    void Fail(Done& done, std::string reason) const {
        (request_.messagesApart ? done.messages : done.text) =
            "Error : " + ConsoleName(reason) + "\n";
        ++done.counts.errors;
        done.counts.firstError = std::move(reason);
        done.failed = true;
    }

    void ConvertModel(const PlannedModel& model, std::chrono::steady_clock::time_point start,
                      Done& done) {
        if (!model.conflict.empty()) {
            Fail(done, "Can not convert " + model.path + ": its outputs would replace those of " +
                           model.conflict + ".");
            return;
        }
        if (request_.inspect) {
            Inspect(model, done);
            return;
        }
        Console console = Console::Capturing(request_.messagesApart);
        console.SetQuiet(request_.verbosity == Verbosity::Quiet);
        // The model's folder is made once the model has loaded, below the open destination and
        // never through a link. A model that wrote nothing leaves no empty folder behind: its own
        // folder (not the one the .glb files of a folder share) is removed again.
        OutputFolder folder;
        ConvertOptions options = request_.options;
        if (!model.folder.empty()) {
            options.outputFolder = &folder.folder;
            options.prepareDestination = [&](Console& c) {
                return OpenModelFolder(model, folder, c);
            };
        }
        Converter converter(std::move(console));
        const int result = converter.Convert(model.path, model.destPath, request_.mode, options);
        done.failed = result != 0 || converter.OutputFailed();
        const Console& used = converter.GetConsole();
        done.text = used.Captured();
        if (request_.messagesApart) done.messages = used.CapturedMessages();
        done.counts = used.messages;
        done.files = static_cast<std::int64_t>(used.counters.filesPlaced);
        done.bytes = static_cast<std::int64_t>(used.counters.bytesPlaced);
        if (result == 0) CountContents(converter.GetModel(), done.objects, done.textures);
        if (folder.created && request_.mode != OutputMode::Gltf && done.files == 0) {
            platform::RemoveFolder(folder.name, &folder.parent);
        }
        if (request_.verbosity == Verbosity::Verbose) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            done.counted = ConversionCounts(converter, result == 0, seconds);
        }
    }

    // Opens (creating what is missing) the folder of `model` below the destination, which the
    // first model that writes makes and opens; the console says why when it cannot.
    Outcome OpenModelFolder(const PlannedModel& model, OutputFolder& folder, Console& console) {
        {
            const std::lock_guard<std::mutex> lock(destLock_);
            if (!dest_.IsOpen()) {
                if (const Outcome made = OpenDestination(request_.destPath, dest_, console);
                    made != Outcome::Ok) {
                    return made;
                }
                cleaned_.emplace("");  // OpenDestination removed its stale temporaries
            }
        }
        const std::string_view relative =
            std::string_view(model.folder).substr(request_.destPath.size());
        const Outcome opened =
            OpenOutputFolder(dest_, request_.destPath, relative, folder, console);
        if (opened == Outcome::Ok && !folder.created) {
            RemoveStaleTemporariesOnce(relative, folder.folder);
        }
        return opened;
    }

    // Temporaries that ended runs left in a folder the run writes into go, once a folder.
    void RemoveStaleTemporariesOnce(std::string_view relative, const platform::Folder& folder) {
        {
            const std::lock_guard<std::mutex> lock(destLock_);
            if (!cleaned_.emplace(relative).second) return;
        }
        RemoveStaleTemporaries(&folder, "");
    }

    void Inspect(const PlannedModel& model, Done& done) {
        Converter converter(Console::Capturing());
        ConvertOptions options;
        options.utf8Names = request_.options.utf8Names;
        const int result = converter.Convert(model.path, "", OutputMode::Check, options);
        const MessageCounts& counts = converter.GetConsole().messages;
        ModelReport report = result == 0 ? BuildReport(converter.GetModel())
                                         : FailedReport(model.path, counts.Reason());
        done.failed = result != 0;
        done.counts = counts;
        if (result == 0) CountContents(converter.GetModel(), done.objects, done.textures);
        done.text = request_.json ? ReportJson(report) : ReportText(report);
    }

    const BatchRequest& request_;
    const ModelList& list_;
    std::mutex destLock_;  // guards dest_ and cleaned_
    platform::Folder dest_;
    std::set<std::string, std::less<>> cleaned_;
    std::FILE* out_;
    std::FILE* err_;
    Progress progress_;
    std::size_t printed_ = 0;
    std::vector<FailedInput> failed_, damaged_;
    std::uint64_t warnings_ = 0;
    std::int64_t objects_ = 0, textures_ = 0, files_ = 0, bytes_ = 0;
};

}  // namespace

bool IsFolder(const std::string& path) {
    platform::FileStatus info;
    return !platform::StatusOf(path, info) && info.kind == platform::FileKind::Folder;
}

int ThreadsFor(int jobs) {
    if (jobs > 0) return jobs;
    return std::max(1, tbb::info::default_concurrency());
}

std::string ConversionCounts(const Converter& converter, bool loaded, double seconds) {
    std::int64_t objects = 0, textures = 0;
    if (loaded) CountContents(converter.GetModel(), objects, textures);
    const WorkCounters& work = converter.GetConsole().counters;
    const std::uint64_t warnings = converter.GetConsole().messages.warnings;
    char text[200];
    std::snprintf(text, sizeof text,
                  "%" PRId64 " object%s, %" PRId64 " texture%s, %" PRIu64
                  " file%s (%.1f MB), %" PRIu64 " warning%s, %.2f s",
                  objects, Plural(static_cast<std::uint64_t>(objects)), textures,
                  Plural(static_cast<std::uint64_t>(textures)), work.filesPlaced,
                  Plural(work.filesPlaced), static_cast<double>(work.bytesPlaced) / 1e6, warnings,
                  Plural(warnings), seconds);
    return text;
}

int RunBatch(const BatchRequest& request, std::FILE* out, std::FILE* err) {
    const auto start = std::chrono::steady_clock::now();
    const bool writes = !request.inspect && request.mode != OutputMode::Check;
    // A destination that cannot be a folder (it, or the nearest of its folders that exists, is
    // a file) fails the run at once; one that is missing is made for the first model that loads.
    std::error_code error;
    std::filesystem::path nearest = platform::FilesystemPath(request.destPath);
    while (!nearest.empty() && !std::filesystem::exists(nearest, error)) {
        nearest = nearest.has_relative_path() ? nearest.parent_path() : std::filesystem::path();
    }
    if (writes && !nearest.empty() && !IsFolder(platform::PathText(nearest))) {
        Console console(request.messagesApart ? err : out);
        if (PrepareDestination(request.destPath, console) != Outcome::Ok) return 1;
    }
    const ModelList list =
        ListModels(request.inputs, request.destPath, request.byName,
                   request.inspect ? OutputMode::Check : request.mode, request.followLinks);
    // Standard output holds nothing but the JSON document with --json.
    std::FILE* messages = request.json || request.messagesApart ? err : out;
    for (const std::string& line : list.messages) WriteText(messages, line + "\n");
    std::fflush(messages);

    // One JSON object for one file given, an array for several or for folders.
    const bool many = request.inputs.size() > 1 || request.byName ||
                      (request.inputs.size() == 1 && IsFolder(request.inputs[0]));
    if (request.json && many) std::fputs("[\n", out);

    Run run(request, list, out, err);
    const std::size_t count = list.models.size();
    const int threads = ThreadsFor(request.options.jobs);
    if (threads == 1) {
        // Strictly single-threaded: no scheduler at all, in the conversions either.
        SerialScope serial;
        for (std::size_t k = 0; k < count; ++k) run.Print(run.Convert(k));
    } else {
        // The arena caps every thread of the run, including any that a conversion starts
        // inside it, at --jobs.
        RunWithThreads(threads, [&] {
            std::size_t next = 0;
            tbb::parallel_pipeline(
                static_cast<std::size_t>(threads) * 2,
                tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order,
                                                    [&](tbb::flow_control& control) {
                                                        if (next == count) control.stop();
                                                        return next++;
                                                    }) &
                    tbb::make_filter<std::size_t, Done>(
                        tbb::filter_mode::parallel, [&](std::size_t k) { return run.Convert(k); }) &
                    tbb::make_filter<Done, void>(tbb::filter_mode::serial_in_order,
                                                 [&](const Done& done) { run.Print(done); }));
        });
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run.Finish(many, seconds);
}

}  // namespace morvex
