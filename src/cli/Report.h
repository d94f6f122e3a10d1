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
    Reporter(const ProtectOptions& options, std::size_t total, std::FILE* out, std::FILE* err);

    void Add(const FileReport& report);
    // A reader that went away (a closed pipe) stops the run as Ctrl-C does.
    void Flush();
    void ShowProgress();
    // Closes the report; returns the exit status. A folder left unread fails the run: its files
    // may be among those never looked at.
    int Finish(int signal, const std::vector<std::string>& unreadable);

  private:
    using Clock = std::chrono::steady_clock;

    void ClearProgress();

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

}  // namespace kiv::cli
