#include "batch/batch_run.h"

#include <sys/stat.h>
#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <utility>

#include "batch/destination.h"
#include "batch/model_list.h"
#include "batch/progress.h"
#include "convert/converter.h"
#include "decode/decoder_factory.h"
#include "inspect/report.h"
#include "it3/parallel.h"

namespace morvex {
namespace {

// What one model's run left for the printing stage.
struct Done {
    std::size_t index = 0;
    std::string text;  // its console lines or its report
    bool failed = false;
    std::int64_t objects = 0, textures = 0, files = 0, bytes = 0;
};

// The objects that convert and the textures of a loaded model.
void CountContents(const Model& model, Done& done) {
    for (const ObjectBlocks& object : FindObjects(model)) done.objects += object.Converts();
    for (const Block& block : model.blocks) done.textures += block.TagBits() == kTagTexi;
}

// The message of the first "Error : " line, without its prefix.
std::string FirstError(const std::string& lines) {
    constexpr std::string_view kError = "Error : ";
    const std::size_t at = lines.find(kError);
    if (at == std::string::npos) return "Can not open file.";
    const std::size_t end = lines.find('\n', at);
    return lines.substr(at + kError.size(),
                        (end == std::string::npos ? lines.size() : end) - at - kError.size());
}

class Run {
  public:
    Run(const BatchRequest& request, const ModelList& list, std::FILE* out, std::FILE* err)
        : request_(request),
          list_(list),
          out_(out),
          err_(err),
          progress_(err, request.progress, list.models.size()) {}

    Done Convert(std::size_t index) {
        const PlannedModel& model = list_.models[index];
        Done done;
        done.index = index;
        progress_.Started(model.path);
        if (!model.conflict.empty()) {
            done.text = "Error : Can not convert " + model.path +
                        ": its outputs would replace those of " + model.conflict + ".\n";
            done.failed = true;
        } else if (request_.inspect) {
            Inspect(model, done);
        } else {
            Console console = Console::Capturing();
            const bool fresh = !model.folder.empty() && !IsFolder(model.folder);
            if (fresh && PrepareDestination(model.folder, console) != Outcome::Ok) {
                done.text = console.Captured();
                done.failed = true;
            } else {
                Converter converter(std::move(console));
                const int result =
                    converter.Convert(model.path, model.destPath, request_.mode, request_.options);
                done.failed = result != 0 || converter.OutputFailed();
                done.text = converter.GetConsole().Captured();
                if (result == 0) CountContents(converter.GetModel(), done);
                const WorkCounters& counters = converter.GetConsole().counters;
                done.files = static_cast<std::int64_t>(counters.filesPlaced);
                done.bytes = static_cast<std::int64_t>(counters.bytesPlaced);
                // A model that wrote nothing leaves no empty folder behind.
                if (fresh && done.files == 0) ::rmdir(model.folder.c_str());
            }
        }
        progress_.Finished();
        return done;
    }

    void Print(const Done& done) {
        const PlannedModel& model = list_.models[done.index];
        progress_.Around([&] {
            if (request_.json) {
                std::fputs(printed_ == 0 ? "" : ",\n", out_);
            } else if (!request_.inspect) {
                std::fprintf(out_, "Model : %s\n", ConsoleName(model.path).c_str());
            }
            std::fwrite(done.text.data(), 1, done.text.size(), out_);
            std::fflush(out_);
        });
        ++printed_;
        if (done.failed) failed_.push_back(model.path);
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
        const std::size_t total = list_.models.size();
        const std::size_t failed = failed_.size();
        const char* verb = request_.inspect                     ? "inspected"
                           : request_.mode == OutputMode::Check ? "checked"
                                                                : "converted";
        if (!jsonArray) return failed_.empty() ? 0 : 1;
        {
            std::fprintf(err_,
                         "morvex: %zu %s %s, %zu failed; %" PRId64 " objects, %" PRId64
                         " textures; %" PRId64 " files, %.1f MB written in %.1f s\n",
                         total - failed, total - failed == 1 ? "model" : "models", verb, failed,
                         objects_, textures_, files_, static_cast<double>(bytes_) / 1e6, seconds);
        }
        std::vector<std::string> problems = list_.unreadable;
        problems.insert(problems.end(), failed_.begin(), failed_.end());
        if (!problems.empty()) {
            std::fprintf(err_, "failed:\n");
            for (const std::string& path : problems) {
                std::fprintf(err_, "  %s\n", ConsoleName(path).c_str());
            }
        }
        std::fflush(err_);
        return problems.empty() ? 0 : 1;
    }

  private:
    void Inspect(const PlannedModel& model, Done& done) {
        Converter converter(Console::Capturing());
        const int result = converter.Convert(model.path, "", OutputMode::Check);
        ModelReport report =
            result == 0 ? BuildReport(converter.GetModel())
                        : FailedReport(model.path, FirstError(converter.GetConsole().Captured()));
        done.failed = result != 0;
        if (result == 0) CountContents(converter.GetModel(), done);
        done.text = request_.json ? ReportJson(report) : ReportText(report);
    }

    const BatchRequest& request_;
    const ModelList& list_;
    std::FILE* out_;
    std::FILE* err_;
    Progress progress_;
    std::size_t printed_ = 0;
    std::vector<std::string> failed_;
    std::int64_t objects_ = 0, textures_ = 0, files_ = 0, bytes_ = 0;
};

}  // namespace

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int ThreadsFor(int jobs) {
    if (jobs > 0) return jobs;
    return std::max(1, tbb::info::default_concurrency());
}

int RunBatch(const BatchRequest& request, std::FILE* out, std::FILE* err) {
    const auto start = std::chrono::steady_clock::now();
    const bool writes = !request.inspect && request.mode != OutputMode::Check;
    if (writes) {
        Console console(out);
        if (PrepareDestination(request.destPath, console) != Outcome::Ok) return 1;
    }
    const ModelList list = ListModels(request.inputs, request.destPath, request.byName,
                                      request.inspect ? OutputMode::Check : request.mode);
    // Standard output holds nothing but the JSON document with --json.
    std::FILE* messages = request.json ? err : out;
    for (const std::string& line : list.messages) std::fprintf(messages, "%s\n", line.c_str());
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
