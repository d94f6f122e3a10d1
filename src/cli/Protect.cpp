#include "cli/Protect.h"

#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "certificate/NewFileWriter.h"
#include "cli/FindFiles.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"

namespace kiv::cli {
namespace {

using Clock = std::chrono::steady_clock;
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

void SetOutcome(FileReport& report, engine::FileResult result) {
    report.kind = KindName(result.outcome);
    report.status = std::move(result.status);
    // A source with a password of its own (an earlier run's output walked again, say) has nothing
    // left to do: it is skipped, not failed.
    report.skipped = result.outcome == Outcome::AlreadyProtected;
    report.failed = !engine::Succeeded(result.outcome) && !report.skipped;
}

// Prints the report as files finish, in the order they were found.
class Reporter {
  public:
    Reporter(const ProtectOptions& options, std::size_t total, std::FILE* out, std::FILE* err)
        : options_(options), total_(total), out_(out), err_(err), start_(Clock::now()) {
        progress_ = !options.quiet && ::isatty(::fileno(err)) == 1;
        const bool outIsTerminal = ::isatty(::fileno(out)) == 1;
        failuresOnly_ = options.quiet || outIsTerminal;
        if (options_.json) {
            std::fprintf(out_, "{\n\"command\": \"protect\",\n\"dryRun\": %s,\n\"files\": [",
                         options_.dryRun ? "true" : "false");
        }
    }

    void Add(const FileReport& report) {
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
                         listed_ ? "," : "", JsonString(report.source).c_str(),
                         JsonString(report.output).c_str(), JsonString(report.status).c_str(),
                         report.kind.c_str(), report.milliseconds);
            listed_ = true;
            Flush();
            return;
        }
        if (failuresOnly_ && !report.failed) return;
        ClearProgress();
        std::fprintf(out_, "%s\t%s\n", report.status.c_str(), report.source.c_str());
        Flush();
    }

    // A reader that went away (a closed pipe) stops the run as Ctrl-C does.
    void Flush() {
        if (std::fflush(out_) != 0 || std::ferror(out_)) RequestStop(SIGPIPE);
    }

    void ShowProgress() {
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

    // Closes the report; returns the exit status. A folder left unread fails the run: its files
    // may be among those never looked at.
    int Finish(int signal, const std::vector<std::string>& unreadable) {
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
                         shard.c_str(), total_, ok_, exists_, ready_, skipped_, failed_, notRun,
                         kinds.c_str());
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

  private:
    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        shown_ = false;
    }

    const ProtectOptions& options_;
    std::size_t total_;
    std::FILE* out_;
    std::FILE* err_;
    Clock::time_point start_;
    bool progress_ = false;
    bool failuresOnly_ = false;
    bool shown_ = false;
    bool listed_ = false;
    std::size_t done_ = 0, ok_ = 0, exists_ = 0, ready_ = 0, skipped_ = 0, failed_ = 0;
    std::map<std::string, std::size_t> byKind_;
};

}  // namespace

unsigned CoreCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

int RunProtect(const ProtectOptions& options, const CertificateFactoryFor& certificatesFor, std::FILE* out,
               std::FILE* err, const FileSystemMaker& fileSystems) {
    FoundFiles found;
    {
        const auto files = fileSystems();
        found = FindFiles(options.paths, *files, false, options.shard);
    }
    if (!found.problems.empty()) {
        for (const std::string& problem : found.problems) std::fprintf(err, "kivpfx: %s\n", problem.c_str());
        return 2;
    }
    if (found.interrupted) return InterruptExitStatus(InterruptSignal());
    for (const std::string& folder : found.unreadable)
        std::fprintf(err, "kivpfx: %s: the folder cannot be read; files in it may be left out\n",
                     folder.c_str());

    // A dry run needs the password only to tell whether outputs already there are this run's copies.
    const auto outputTaken = [](const std::string& source) {
        return certificate::CheckNewFile(engine::OutputPathFor(source, engine::Naming::Pkcs12)).targetExists;
    };
    Secret password;
    if (!found.files.empty() &&
        (!options.dryRun || std::any_of(found.files.begin(), found.files.end(), outputTaken))) {
        const PasswordResult read = ReadPassword(options.password, password);
        if (read.kind == PasswordResult::Kind::Interrupted) return InterruptExitStatus(InterruptSignal());
        if (read.kind == PasswordResult::Kind::Refused) {
            std::fprintf(err, "kivpfx: %s\n", read.message.c_str());
            return 2;
        }
    }
    if (found.files.empty() && !options.quiet) std::fprintf(err, "kivpfx: no .pfx or .p12 files found\n");

    const std::size_t total = found.files.size();
    const unsigned jobs = static_cast<unsigned>(std::max<std::size_t>(
        1, std::min<std::size_t>(options.jobs > 0 ? options.jobs : CoreCount(), total)));
    Reporter reporter(options, total, out, err);
    certificate::SaveOptions save = options.save;
    // --jobs N keeps at most N cores busy, one file each. Only when the number of jobs was left to
    // us and there are fewer files than cores does a save spread its derivations over the idle ones.
    save.parallelDerivations = options.jobs == 0 && total < CoreCount();
    const certificate::CertificateFactory certificates = certificatesFor(save);

    std::mutex mutex;
    std::condition_variable changed;
    // Files finished ahead of one still in flight wait here; at most about one per job.
    std::map<std::size_t, FileReport> finished;
    std::atomic<std::size_t> next{0};
    unsigned workersDone = 0;
    // For each file, the one found before it with the same output name (or total), and what came of
    // each file once it is done.
    std::vector<std::size_t> sharesOutputWith(total, total);
    std::vector<std::optional<Outcome>> outcomes(total);
    {
        std::map<std::string, std::size_t> lastWithOutput;
        for (std::size_t i = 0; i < total; ++i) {
            auto [at, first] =
                lastWithOutput.try_emplace(engine::OutputPathFor(found.files[i], engine::Naming::Pkcs12), i);
            if (!first) sharesOutputWith[i] = std::exchange(at->second, i);
        }
    }

    const auto work = [&, certificates]() {
        const auto files = fileSystems();
        for (;;) {
            if (InterruptSignal() != 0) break;
            const std::size_t i = next++;
            if (i >= total) break;
            FileReport report;
            report.source = found.files[i];
            report.output = engine::OutputPathFor(report.source, engine::Naming::Pkcs12);
            // The earlier file was taken first, so its job finishes it whatever happens.
            std::optional<Outcome> earlier;
            if (const std::size_t other = sharesOutputWith[i]; other < total) {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return outcomes[other].has_value(); });
                earlier = outcomes[other];
            }
            const auto start = Clock::now();
            engine::FileResult result;
            try {
                const bool takenInThisRun = options.dryRun && earlier == Outcome::Ready;
                if (takenInThisRun) {
                    // The earlier file's copy is to take the name; there is nothing on disk to open yet.
                    result = engine::OutputTaken(report.output);
                } else if (options.dryRun) {
                    result = engine::CheckFile(files.get(), certificates, report.source, report.output);
                } else {
                    result = engine::ProtectFile(files.get(), certificates, report.source, report.output,
                                                 password.Text());
                }
                // A name taken before the file's turn counts as done only when it holds this file's copy.
                if (result.outcome == Outcome::OutputExists && !takenInThisRun) {
                    result = engine::CheckTakenOutput(files.get(), certificates, report.source, report.output,
                                                      password.Text());
                }
            } catch (...) {
                result = engine::UnknownFailure();
            }
            report.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            {
                std::lock_guard<std::mutex> lock(mutex);
                outcomes[i] = result.outcome;
                SetOutcome(report, std::move(result));
                finished.emplace(i, std::move(report));
            }
            changed.notify_all();
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++workersDone;
        }
        changed.notify_all();
    };

    std::vector<std::thread> workers;
    {
        // Only this thread sees Ctrl-C; the workers just stop taking files.
        InterruptsBlocked blocked;
        for (unsigned j = 0; j < jobs && total > 0; ++j) {
            try {
                workers.emplace_back(work);
            } catch (...) {
                break;
            }
        }
    }
    if (workers.empty() && total > 0) {
        std::fprintf(err, "kivpfx: no worker thread could be started\n");
        return 1;
    }

    std::size_t reported = 0;
    std::vector<FileReport> ready;
    for (bool allDone = workers.empty(); !allDone;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(200),
                             [&] { return workersDone == workers.size() || finished.contains(reported); });
            for (auto next = finished.find(reported); next != finished.end();
                 next = finished.find(reported)) {
                ready.push_back(std::move(next->second));
                finished.erase(next);
                ++reported;
            }
            allDone = workersDone == workers.size();
        }
        for (const FileReport& report : ready) reporter.Add(report);
        ready.clear();
        if (!allDone) reporter.ShowProgress();
    }
    for (std::thread& worker : workers) worker.join();
    return reporter.Finish(InterruptSignal(), found.unreadable);
}

}  // namespace kiv::cli
