#include "batch/batch_run.h"

#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>

#include <chrono>
#include <cinttypes>
#include <utility>

#include "batch/destination.h"
#include "batch/model_list.h"
#include "batch/progress.h"
#include "convert/converter.h"
#include "inspect/report.h"
#include "it3/parallel.h"
#include "platform/platform.h"

namespace morvex {
namespace {

// What one model's run left for the printing stage.
struct Done {
    std::size_t index = 0;
    std::string text;  // its console lines or its report
    bool failed = false;
    std::int64_t objects = 0, textures = 0, files = 0, bytes = 0;
};

constexpr std::string_view kWrittenPrefix = "-> ";

// The files named by the "-> " lines of a conversion, and their sizes now.
void CountWritten(const std::string& lines, Done& done) {
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        const std::string_view line(lines.data() + start, end - start);
        if (line.substr(0, kWrittenPrefix.size()) == kWrittenPrefix) {
            const std::string path(line.substr(kWrittenPrefix.size()));
            platform::FileStatus info;
            if (!platform::StatusOf(path, info)) {
                ++done.files;
                done.bytes += static_cast<std::int64_t>(info.size);
            }
        }
        start = end + 1;
    }
}

// Objects (INFO blocks with a material and a vertex block) and textures of a loaded model.
void CountContents(const Model& model, Done& done) {
    for (std::size_t b = 0; b < model.blocks.size(); ++b) {
        const std::uint32_t tag = model.blocks[b].TagBits();
        if (tag == kTagTexi) ++done.textures;
        if (tag != kTagInfo) continue;
        const int info = static_cast<int>(b);
        bool material = false, vertex = false;
        for (std::string_view t : {"MATE", "MAT2", "MAT3", "MAT4"}) {
            material = material || model.FindInObject(info, TagValue(t)) >= 0;
        }
        for (std::string_view t : {"VPA2", "VPA4", "VPA5", "VPA7", "VPA8", "VPAC"}) {
            vertex = vertex || model.FindInObject(info, TagValue(t)) >= 0;
        }
        if (material && vertex) ++done.objects;
    }
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
                CountWritten(done.text, done);
                // A model that wrote nothing leaves no empty folder behind.
                if (fresh && done.files == 0) platform::RemoveFolder(model.folder);
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
                WriteText(out_, "Model : " + ConsoleName(model.path) + "\n");
            }
            WriteText(out_, done.text);
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
                WriteText(err_, "  " + ConsoleName(path) + "\n");
            }
        }
        std::fflush(err_);
        return problems.empty() ? 0 : 1;
    }

  private:
    void Inspect(const PlannedModel& model, Done& done) {
        Converter converter(Console::Capturing());
        ConvertOptions options;
        options.utf8Names = request_.options.utf8Names;
        const int result = converter.Convert(model.path, "", OutputMode::Check, options);
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
    platform::FileStatus info;
    return !platform::StatusOf(path, info) && info.kind == platform::FileKind::Folder;
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
