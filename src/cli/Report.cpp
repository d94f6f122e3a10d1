#include "cli/Report.h"

#include <signal.h>
#include <unistd.h>

#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "filesystem/PathText.h"

namespace kiv::cli {

using engine::Outcome;

const char* KindName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return "ok";
        case Outcome::OutputExists:
            return "output-exists";
        case Outcome::NotFound:
            return "not-found";
        case Outcome::AlreadyProtected:
            return "already-protected";
        case Outcome::NoComponent:
            return "no-component";
        case Outcome::LoadError:
            return "load-error";
        case Outcome::SaveError:
            return "save-error";
        case Outcome::Unknown:
            return "unknown";
        case Outcome::Ready:
            return "ready";
        case Outcome::NotItsCopy:
            return "output-taken";
    }
    return "unknown";
}

Reporter::Reporter(const ProtectOptions& options, std::size_t total, std::FILE* out, std::FILE* err)
    : options_(options), total_(total), out_(out), err_(err), start_(Clock::now()) {
    progress_ = !options.quiet && ::isatty(::fileno(err)) == 1;
    const bool outIsTerminal = ::isatty(::fileno(out)) == 1;
    failuresOnly_ = options.quiet || outIsTerminal;
    if (options_.json) {
        std::fprintf(out_, "{\n\"command\": \"protect\",\n\"dryRun\": %s,\n\"files\": [",
                     options_.dryRun ? "true" : "false");
    }
}

void Reporter::Add(const FileReport& report) {
    ++done_;
    ++byKind_[report.kind];
    if (report.failed) {
        ++failed_;
    } else if (report.skipped) {
        ++skipped_;
    } else if (report.kind == "output-exists") {
        ++exists_;
    } else if (report.kind == "ready") {
        ++ready_;
    } else {
        ++ok_;
    }
    if (options_.json) {
        if (options_.quiet && !report.failed) return;
        ClearProgress();
        std::fprintf(out_,
                     "%s\n  {\"source\": %s, \"output\": %s, \"status\": %s, \"outcome\": \"%s\", "
                     "\"milliseconds\": %.3f}",
                     listed_ ? "," : "", JsonString(report.source).c_str(), JsonString(report.output).c_str(),
                     JsonString(report.status).c_str(), report.kind.c_str(), report.milliseconds);
        listed_ = true;
        Flush();
        return;
    }
    if (failuresOnly_ && !report.failed) return;
    ClearProgress();
    // A name can hold any byte but NUL, and a status no tab: a line cannot be split or forged.
    const std::string status = filesystem::Quoted(report.status);
    if (options_.zero) {
        std::fprintf(out_, "%s\t", status.c_str());
        std::fwrite(report.source.data(), 1, report.source.size(), out_);
        std::fputc('\0', out_);
    } else {
        std::fprintf(out_, "%s\t%s\n", status.c_str(), filesystem::Quoted(report.source).c_str());
    }
    Flush();
}

void Reporter::Flush() {
    if (std::fflush(out_) != 0 || std::ferror(out_)) RequestStop(SIGPIPE);
}

void Reporter::ShowProgress() {
    if (!progress_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
    std::string line = "\r\033[K" + std::to_string(done_) + " of " + std::to_string(total_) + " files, ";
    line += std::to_string(ok_ + exists_ + ready_) + (options_.dryRun ? " ready" : " OK") + ", ";
    if (skipped_ > 0) line += std::to_string(skipped_) + " already protected, ";
    line += std::to_string(failed_) + " failed";
    char tail[96];
    if (rate > 0) {
        const double left = static_cast<double>(total_ - done_) / rate;
        std::snprintf(tail, sizeof tail, ", %.1f files/s, %.0f s left", rate, left);
        line += tail;
    }
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    shown_ = true;
}

int Reporter::Finish(int signal, const std::vector<std::string>& unreadable) {
    ClearProgress();
    const std::size_t notRun = total_ - done_;
    if (options_.json) {
        std::string kinds;
        for (const auto& [kind, count] : byKind_) {
            kinds += (kinds.empty() ? "" : ", ") + JsonString(kind) + ": " + std::to_string(count);
        }
        const std::string shard = options_.shard ? "\"" + std::to_string(options_.shard->index) + "/" +
                                                       std::to_string(options_.shard->count) + "\""
                                                 : std::string("null");
        std::fprintf(out_,
                     "\n],\n\"shard\": %s,\n\"counts\": {\"total\": %zu, \"ok\": %zu, \"exists\": %zu, "
                     "\"ready\": %zu, \"alreadyProtected\": %zu, \"failed\": %zu, \"notRun\": %zu},\n"
                     "\"byKind\": {%s},\n\"unreadFolders\": [",
                     shard.c_str(), total_, ok_, exists_, ready_, skipped_, failed_, notRun, kinds.c_str());
        for (std::size_t i = 0; i < unreadable.size(); ++i)
            std::fprintf(out_, "%s%s", i > 0 ? ", " : "", JsonString(unreadable[i]).c_str());
        std::fprintf(out_, "],\n\"interrupted\": %s\n}\n", signal != 0 ? "true" : "false");
    }
    std::fflush(out_);
    if (!options_.quiet) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        std::string summary =
            "kivpfx: " + std::to_string(done_) + " of " + std::to_string(total_) + " files: ";
        if (options_.dryRun) {
            summary += std::to_string(ready_) + " ready, ";
        } else {
            summary += std::to_string(ok_) + " OK, ";
        }
        summary += std::to_string(exists_) + " output already there, " + std::to_string(skipped_) +
                   " already protected, " + std::to_string(failed_) + " failed";
        char time[48];
        std::snprintf(time, sizeof time, " (%.1f s)", seconds);
        summary += time;
        std::fprintf(err_, "%s\n", summary.c_str());
        if (signal != 0) {
            std::fprintf(err_, "kivpfx: stopped; %zu files were not started\n", notRun);
        }
    }
    if (signal != 0) return InterruptExitStatus(signal);
    return failed_ > 0 || !unreadable.empty() ? 1 : 0;
}

void Reporter::ClearProgress() {
    if (!shown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    shown_ = false;
}

}  // namespace kiv::cli
