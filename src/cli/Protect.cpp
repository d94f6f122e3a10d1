#include "cli/Protect.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "cli/FindFiles.h"
#include "cli/Interrupt.h"
#include "cli/Report.h"
#include "filesystem/PathText.h"

namespace kiv::cli {
namespace {

using Clock = std::chrono::steady_clock;
using engine::Outcome;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

void SetOutcome(FileReport& report, engine::FileResult result) {
    report.kind = KindName(result.outcome);
    report.status = std::move(result.status);
    report.removed = result.sourceRemoved;
    // A source with a password of its own (an earlier run's output walked again, say) has nothing
    // left to do: it is skipped, not failed.
    report.skipped = result.outcome == Outcome::AlreadyProtected;
    report.failed = !engine::Succeeded(result.outcome) && !report.skipped;
}

// One run of `kivpfx protect`. The main thread finds the files and reports them; the workers protect
// them. Between the two is a window of files in the order found: taken by the workers in that order,
// reported in it, and kept a while after, so that a later file with the same output name (a.pfx
// after a.PFX) waits for the earlier one and, in a dry run, finds the name taken by it. The window
// holds a number of files that depends on the jobs only, so a run's memory does not grow with the
// number of files.
class Sweep {
  public:
    Sweep(const ProtectOptions& options, const CertificateFactoryFor& certificatesFor, std::FILE* out,
          std::FILE* err, const FileSystemMaker& fileSystems)
        : options_(options),
          certificatesFor_(certificatesFor),
          fileSystems_(fileSystems),
          err_(err),
          reporter_(options, out, err),
          jobs_(options.jobs > 0 ? options.jobs : CoreCount()),
          inFlight_(4 * static_cast<std::size_t>(jobs_) + 32) {}

    ~Sweep() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            abort_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }

    int Run() {
        const auto files = fileSystems_();
        FoundHooks hooks;
        hooks.file = [&](const std::string& path) { Found(path); };
        hooks.unreadable = [&](const std::string& folder) { reporter_.Unreadable(folder); };
        hooks.leftOut = [&](const std::string& path, const std::string& why) {
            reporter_.LeftOut(path, why);
        };
        hooks.stop = [&] { return exit_.has_value(); };
        std::string listError;
        const bool listRead = FindFiles(options_.paths, options_.list ? &*options_.list : nullptr, *files,
                                        false, options_.shard, hooks, listError);
        if (!listRead) reporter_.ListUnread(listError);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finding_ = false;
        }
        changed_.notify_all();
        if (!exit_ && workers_.empty() && !StartWorkers()) exit_ = 1;
        while (!exit_) {
            Pump();
            std::unique_lock<std::mutex> lock(mutex_);
            if (reported_ == found_ || (Stopping() && workersDone_ == workers_.size())) break;
            changed_.wait_for(lock, std::chrono::milliseconds(200));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            abort_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        workers_.clear();
        Pump();
        if (exit_) {
            // A dry run's password refused once files were reported: their report is closed all the same.
            if (reported_ > 0) reporter_.Finish(InterruptSignal(), found_);
            return *exit_;
        }
        if (found_ == 0 && !options_.quiet) std::fprintf(err_, "kivpfx: no .pfx or .p12 files found\n");
        return reporter_.Finish(InterruptSignal(), found_);
    }

  private:
    struct Slot {
        std::string source;
        std::string output;
        std::size_t sharesWith = kNone;  // an earlier file with the same output name
        std::optional<Outcome> outcome;  // once done
        FileReport report;
    };

    bool Stopping() const { return abort_ || InterruptSignal() != 0; }

    // Holds the slot of file `i` while it is in the window; under the lock.
    Slot* At(std::size_t i) { return i >= first_ && i < found_ ? &slots_[i - first_] : nullptr; }

    // The walk's hand-over of one file. The first file found brings the password (a dry run asks for
    // it only when a worker needs it); the jobs start once there is a file for each, or the finding ends.
    void Found(const std::string& path) {
        if (exit_ || (found_ == 0 && !options_.dryRun && !ReadThePassword())) return;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            Slot slot;
            slot.source = path;
            slot.output = engine::OutputPathFor(path, engine::Naming::Pkcs12);
            const auto [at, first] = lastWithOutput_.try_emplace(slot.output, found_);
            if (!first) slot.sharesWith = std::exchange(at->second, found_);
            slots_.push_back(std::move(slot));
            ++found_;
        }
        changed_.notify_all();
        if (workers_.empty() && found_ >= jobs_ && !StartWorkers()) exit_ = 1;
        // Each hand-over reports what is done; a full window waits for the workers.
        for (;;) {
            Pump();
            std::unique_lock<std::mutex> lock(mutex_);
            if (found_ - reported_ < inFlight_ || Stopping() || exit_) break;
            changed_.wait_for(lock, std::chrono::milliseconds(200));
        }
    }

    bool ReadThePassword() {
        const PasswordResult read = ReadPassword(options_.password, password_);
        if (read.kind == PasswordResult::Kind::Interrupted) {
            exit_ = InterruptExitStatus(InterruptSignal());
        } else if (read.kind == PasswordResult::Kind::Refused) {
            reporter_.Tell(read.message);
            exit_ = 2;
        }
        return !exit_;
    }

    bool StartWorkers() {
        const std::size_t jobs = std::max<std::size_t>(1, std::min<std::size_t>(jobs_, found_));
        certificate::SaveOptions save = options_.save;
        // --jobs N keeps at most N cores busy, one file each. Only when the number of jobs was left to
        // us and there are fewer files than cores does a save spread its derivations over the idle ones.
        save.parallelDerivations = options_.jobs == 0 && found_ < CoreCount();
        certificates_ = certificatesFor_(save);
        // Only this thread sees Ctrl-C; the workers just stop taking files.
        InterruptsBlocked blocked;
        for (std::size_t j = 0; j < jobs && found_ > 0; ++j) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (...) {
                break;
            }
        }
        if (workers_.empty() && found_ > 0) {
            reporter_.Tell("no worker thread could be started");
            return false;
        }
        return true;
    }

    // On the main thread: reports the files done, in order, and lets go of those no later file can
    // still ask about; asks the password a dry run's worker is waiting for; keeps the progress line.
    void Pump() {
        std::vector<FileReport> done;
        bool wantsPassword = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Slot* slot = At(reported_); slot && slot->outcome; slot = At(reported_)) {
                done.push_back(std::move(slot->report));
                ++reported_;
            }
            while (reported_ - first_ > inFlight_) {
                const auto at = lastWithOutput_.find(slots_.front().output);
                if (at != lastWithOutput_.end() && at->second == first_) lastWithOutput_.erase(at);
                slots_.pop_front();
                ++first_;
            }
            wantsPassword = passwordWanted_ && !passwordDone_;
        }
        for (const FileReport& report : done) reporter_.Add(report);
        if (wantsPassword) {
            reporter_.ClearProgress();
            const bool read = ReadThePassword();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                passwordDone_ = true;
                passwordOk_ = read;
                if (!read) abort_ = true;
            }
            changed_.notify_all();
        }
        if (Clock::now() - shown_ >= std::chrono::milliseconds(200)) {
            reporter_.ShowProgress();
            shown_ = Clock::now();
        }
    }

    // A dry run's worker that must open an output already there: the password, once the main thread
    // has read it; null when it was refused or the run stops.
    const std::string* PasswordForDryRun() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!passwordWanted_) {
            passwordWanted_ = true;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return passwordDone_ || Stopping(); });
        return passwordOk_ ? &password_.Text() : nullptr;
    }

    engine::FileResult Protect(filesystem::FileSystem* files, const Slot& slot,
                               std::optional<Outcome> earlier) {
        if (options_.dryRun && earlier == Outcome::Ready) {
            // The earlier file's copy is to take the name; there is nothing on disk to open yet.
            return engine::OutputTaken(slot.output);
        }
        // What the name was when it was read, for --remove-sources to tell it still is.
        std::optional<filesystem::FileStamp> read;
        if (options_.removeSources) read = files->Stamp(slot.source);
        engine::FileResult result;
        if (options_.dryRun) {
            result = engine::CheckFile(files, certificates_, slot.source, slot.output);
        } else {
            result = engine::ProtectFile(files, certificates_, slot.source, slot.output, password_.Text());
        }
        // A name taken before the file's turn counts as done only when it holds this file's copy.
        if (result.outcome == Outcome::OutputExists) {
            const std::string* password = options_.dryRun ? PasswordForDryRun() : &password_.Text();
            if (!password) return engine::UnknownFailure();
            result = engine::CheckTakenOutput(files, certificates_, slot.source, slot.output, *password);
        }
        if (options_.removeSources && (result.outcome == Outcome::Ok || result.outcome == Outcome::Ready ||
                                       result.outcome == Outcome::OutputExists))
            result = engine::RemoveSource(files, std::move(result), slot.source, read, options_.dryRun);
        return result;
    }

    void Work() {
        const auto files = fileSystems_();
        for (;;) {
            std::size_t i = 0;
            Slot slot;
            std::optional<Outcome> earlier;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return next_ < found_ || !finding_ || Stopping(); });
                if (Stopping() || next_ >= found_) break;
                i = next_++;
                slot.source = At(i)->source;
                slot.output = At(i)->output;
                // The earlier file was taken first, so its job finishes it whatever happens; one that
                // has left the window was done long ago.
                if (const std::size_t other = At(i)->sharesWith; other != kNone) {
                    changed_.wait(lock, [&] { return !At(other) || At(other)->outcome; });
                    if (At(other)) earlier = At(other)->outcome;
                }
            }
            FileReport report;
            report.source = slot.source;
            report.output = slot.output;
            const auto start = Clock::now();
            engine::FileResult result;
            try {
                result = Protect(files.get(), slot, earlier);
            } catch (...) {
                result = engine::UnknownFailure();
            }
            report.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                At(i)->outcome = result.outcome;
                SetOutcome(report, std::move(result));
                At(i)->report = std::move(report);
            }
            changed_.notify_all();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++workersDone_;
        }
        changed_.notify_all();
    }

    const ProtectOptions& options_;
    const CertificateFactoryFor& certificatesFor_;
    const FileSystemMaker& fileSystems_;
    std::FILE* err_;
    Reporter reporter_;
    const unsigned jobs_;
    const std::size_t inFlight_;  // files found and not yet reported, at most
    certificate::CertificateFactory certificates_;
    Secret password_;
    std::optional<int> exit_;  // the run ends at once with this status (main thread only)
    Clock::time_point shown_{};

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Slot> slots_;  // files first_ to found_ - 1: reported and kept, then in the window
    std::size_t first_ = 0, reported_ = 0, next_ = 0, found_ = 0;
    std::unordered_map<std::string, std::size_t> lastWithOutput_;  // of the files in slots_
    bool finding_ = true;
    bool abort_ = false;
    bool passwordWanted_ = false, passwordDone_ = false, passwordOk_ = false;
    std::vector<std::thread> workers_;
    std::size_t workersDone_ = 0;
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
    const std::vector<std::string> problems = NamedPathProblems(*fileSystems(), options.paths, false);
    for (const std::string& problem : problems) std::fprintf(err, "kivpfx: %s\n", problem.c_str());
    if (!problems.empty()) return 2;
    return Sweep(options, certificatesFor, out, err, fileSystems).Run();
}

}  // namespace kiv::cli
