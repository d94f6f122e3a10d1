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
        case Outcome::SourceKept:
            return "source-kept";
    }
    return "unknown";
}

Reporter::Reporter(const ProtectOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err), start_(Clock::now()) {
    progress_ = !options.quiet && ::isatty(::fileno(err)) == 1;
    const bool outIsTerminal = ::isatty(::fileno(out)) == 1;
    failuresOnly_ = options.quiet || outIsTerminal;
}

void Reporter::Open() {
    if (!options_.json || opened_) return;
    opened_ = true;
    std::fprintf(out_, "{\n\"command\": \"protect\",\n\"dryRun\": %s,\n\"files\": [",
                 options_.dryRun ? "true" : "false");
}

void Reporter::Unreadable(const std::string& folder) {
    unreadable_.push_back(folder);
    Tell(filesystem::Quoted(folder) + ": the folder cannot be read; files in it may be left out");
}

void Reporter::LeftOut(const std::string& path, const std::string& why) {
    leftOut_.push_back(path);
    Tell(filesystem::Quoted(path) + ": " + why + "; left out");
}

void Reporter::ListUnread(const std::string& why) {
    listUnread_ = true;
    Tell("--files-from: " + why + "; the paths after it are left out");
}

void Reporter::Tell(const std::string& message) {
    ClearProgress();
    std::fprintf(err_, "kivpfx: %s\n", message.c_str());
    std::fflush(err_);
}

void Reporter::Add(const FileReport& report) {
    Open();
    ++done_;
    removed_ += report.removed ? 1 : 0;
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
    // The files still to be found are not known: what is done, and how fast.
    std::string line = "\r\033[K" + std::to_string(done_) + " files, ";
    line += std::to_string(ok_ + exists_ + ready_) + (options_.dryRun ? " ready" : " OK") + ", ";
    if (skipped_ > 0) line += std::to_string(skipped_) + " already protected, ";
    if (options_.removeSources) line += std::to_string(removed_) + " sources removed, ";
    line += std::to_string(failed_) + " failed";
    char tail[48];
    if (rate > 0) {
        std::snprintf(tail, sizeof tail, ", %.1f files/s", rate);
        line += tail;
    }
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    shown_ = true;
}

int Reporter::Finish(int signal, std::size_t total) {
    ClearProgress();
    Open();
    const std::size_t notRun = total - done_;
    const auto list = [&](const std::vector<std::string>& paths) {
        std::string items;
        for (const std::string& path : paths) items += (items.empty() ? "" : ", ") + JsonString(path);
        return items;
    };
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
                     "\"ready\": %zu, \"alreadyProtected\": %zu, \"failed\": %zu, \"notRun\": %zu, "
                     "\"removed\": %zu},\n\"byKind\": {%s},\n\"unreadFolders\": [%s],\n\"leftOut\": [%s],\n"
                     "\"interrupted\": %s\n}\n",
                     shard.c_str(), total, ok_, exists_, ready_, skipped_, failed_, notRun, removed_,
                     kinds.c_str(), list(unreadable_).c_str(), list(leftOut_).c_str(),
                     signal != 0 ? "true" : "false");
    }
    std::fflush(out_);
    if (!options_.quiet) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        std::string summary =
            "kivpfx: " + std::to_string(done_) + " of " + std::to_string(total) + " files: ";
        if (options_.dryRun) {
            summary += std::to_string(ready_) + " ready, ";
        } else {
            summary += std::to_string(ok_) + " OK, ";
        }
        summary += std::to_string(exists_) + " output already there, " + std::to_string(skipped_) +
                   " already protected, " + std::to_string(failed_) + " failed";
        if (options_.removeSources)
            summary += ", " + std::to_string(removed_) +
                       (options_.dryRun ? " sources to remove" : " sources removed");
        char time[48];
        std::snprintf(time, sizeof time, " (%.1f s)", seconds);
        summary += time;
        std::fprintf(err_, "%s\n", summary.c_str());
        if (signal != 0) {
            std::fprintf(err_, "kivpfx: stopped; %zu files were not started\n", notRun);
        }
    }
    if (signal != 0) return InterruptExitStatus(signal);
    return failed_ > 0 || !unreadable_.empty() || !leftOut_.empty() || listUnread_ ? 1 : 0;
}

void Reporter::ClearProgress() {
    if (!shown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    shown_ = false;
}

}  // namespace kiv::cli
