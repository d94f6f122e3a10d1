#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/Protect.h"

namespace kiv::cli {

// The outcome as a word for scripts: "ok", "output-exists", "load-error", ...
const char* KindName(engine::Outcome outcome);

// The report of `kivpfx protect`: the STATUS<TAB>PATH lines (or records ended by NUL) or the JSON
// report on `out`, the progress line and the summary on `err`. Files are added in the order they
// were found. Text from outside is written as filesystem::Quoted gives it.
class Reporter {
  public:
    Reporter(const ProtectOptions& options, std::FILE* out, std::FILE* err);

    void Add(const FileReport& report);
    // What the finder could not take, named on `err` at once and in the JSON report at the end.
    void Unreadable(const std::string& folder);
    void LeftOut(const std::string& path, const std::string& why);
    void ListUnread(const std::string& why);
    // A message that ends the run.
    void Tell(const std::string& message);
    // A reader that went away (a closed pipe) stops the run as Ctrl-C does.
    void Flush();
    void ShowProgress();
    void ClearProgress();
    // Closes the report of the `total` files found; returns the exit status. Anything left out
    // fails the run: its files may be among those never looked at.
    int Finish(int signal, std::size_t total);

  private:
    using Clock = std::chrono::steady_clock;

    void Open();  // the JSON report starts with its first file, so a run that ends first prints none

    const ProtectOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    Clock::time_point start_;
    bool progress_ = false;
    bool failuresOnly_ = false;
    bool shown_ = false;
    bool opened_ = false;
    bool listed_ = false;
    bool listUnread_ = false;
    std::size_t done_ = 0, ok_ = 0, exists_ = 0, ready_ = 0, skipped_ = 0, failed_ = 0, removed_ = 0;
    std::map<std::string, std::size_t> byKind_;
    std::vector<std::string> unreadable_;
    std::vector<std::string> leftOut_;
};

}  // namespace kiv::cli
