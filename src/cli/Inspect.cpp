#include "cli/Inspect.h"

#include "certificate/Inspection.h"
#include "cli/FindFiles.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "filesystem/PathText.h"

namespace kiv::cli {
namespace {

using certificate::CertificateSummary;
using certificate::Inspection;
using certificate::KeySummary;
using filesystem::Quoted;

const char* KindWord(Inspection::Kind kind) {
    switch (kind) {
        case Inspection::Kind::PasswordLess:
            return "password-less";
        case Inspection::Kind::Protected:
            return "protected";
        case Inspection::Kind::Unreadable:
            return "unreadable";
    }
    return "unreadable";
}

// Everything in the text report but the program's own words comes from the file or its name.
void PrintText(const std::string& path, const Inspection& inspection, std::FILE* out) {
    switch (inspection.kind) {
        case Inspection::Kind::Protected:
            std::fprintf(out, "%s: protected by a password\n  format: %s\n", Quoted(path).c_str(),
                         Quoted(inspection.format.description).c_str());
            return;
        case Inspection::Kind::Unreadable:
            std::fprintf(out, "%s: cannot be read: %s\n", Quoted(path).c_str(),
                         Quoted(inspection.detail).c_str());
            return;
        case Inspection::Kind::PasswordLess:
            break;
    }
    std::fprintf(out, "%s: password-less PKCS#12 file, %zu key%s, %zu certificate%s\n", Quoted(path).c_str(),
                 inspection.keys.size(), inspection.keys.size() == 1 ? "" : "s",
                 inspection.certificates.size(), inspection.certificates.size() == 1 ? "" : "s");
    std::fprintf(out, "  format: %s\n", Quoted(inspection.format.description).c_str());
    for (const KeySummary& key : inspection.keys) {
        std::fprintf(out, "  key: %s\n", Quoted(key.algorithm).c_str());
        if (!key.friendlyName.empty())
            std::fprintf(out, "    friendly name: %s\n", Quoted(key.friendlyName).c_str());
    }
    for (const CertificateSummary& certificate : inspection.certificates) {
        std::fprintf(out, "  certificate: %s\n", Quoted(certificate.subject).c_str());
        std::fprintf(out, "    issuer: %s\n", Quoted(certificate.issuer).c_str());
        std::fprintf(out, "    expires: %s%s\n", Quoted(certificate.notAfter).c_str(),
                     certificate.expired ? " (expired)" : "");
        if (!certificate.friendlyName.empty())
            std::fprintf(out, "    friendly name: %s\n", Quoted(certificate.friendlyName).c_str());
    }
}

void PrintJson(const std::string& path, const Inspection& inspection, bool first, std::FILE* out) {
    std::fprintf(out, "%s\n  {\"path\": %s, \"kind\": \"%s\"", first ? "" : ",", JsonString(path).c_str(),
                 KindWord(inspection.kind));
    if (inspection.kind == Inspection::Kind::Unreadable)
        std::fprintf(out, ", \"detail\": %s", JsonString(inspection.detail).c_str());
    if (inspection.kind == Inspection::Kind::PasswordLess || inspection.kind == Inspection::Kind::Protected) {
        const auto& algorithms = inspection.format.algorithms;
        std::fprintf(out, ", \"format\": %s, \"protection\": %s",
                     algorithms ? JsonString(certificate::FormatName(*algorithms)).c_str() : "null",
                     JsonString(inspection.format.description).c_str());
    }
    if (inspection.kind == Inspection::Kind::PasswordLess) {
        std::fprintf(out, ", \"keys\": [");
        for (std::size_t i = 0; i < inspection.keys.size(); ++i) {
            std::fprintf(out, "%s{\"algorithm\": %s, \"friendlyName\": %s}", i ? ", " : "",
                         JsonString(inspection.keys[i].algorithm).c_str(),
                         JsonString(inspection.keys[i].friendlyName).c_str());
        }
        std::fprintf(out, "], \"certificates\": [");
        for (std::size_t i = 0; i < inspection.certificates.size(); ++i) {
            const CertificateSummary& c = inspection.certificates[i];
            std::fprintf(out,
                         "%s{\"subject\": %s, \"issuer\": %s, \"notAfter\": %s, \"expired\": %s, "
                         "\"friendlyName\": %s}",
                         i ? ", " : "", JsonString(c.subject).c_str(), JsonString(c.issuer).c_str(),
                         JsonString(c.notAfter).c_str(), c.expired ? "true" : "false",
                         JsonString(c.friendlyName).c_str());
        }
        std::fprintf(out, "]");
    }
    std::fprintf(out, "}");
}

}  // namespace

int RunInspect(const std::vector<std::string>& paths, const InspectOptions& options, std::FILE* out,
               std::FILE* err) {
    std::size_t counts[3] = {};  // by kind
    std::size_t total = 0;
    bool unreadFolder = false;
    if (options.json) std::fprintf(out, "{\n\"command\": \"inspect\",\n\"files\": [");
    const auto files = filesystem::CreateLocalFileSystem();
    FoundHooks hooks;
    hooks.file = [&](const std::string& path) {
        const Inspection inspection = certificate::InspectFile(*files, path);
        if (options.json) {
            PrintJson(path, inspection, total == 0, out);
        } else {
            PrintText(path, inspection, out);
        }
        ++counts[static_cast<int>(inspection.kind)];
        ++total;
        std::fflush(out);
    };
    hooks.unreadable = [&](const std::string& folder) {
        unreadFolder = true;
        std::fprintf(err, "kivpfx: %s: the folder cannot be read; files in it may be left out\n",
                     Quoted(folder).c_str());
    };
    std::string unused;
    FindFiles(paths, nullptr, *files, true, std::nullopt, hooks, unused);
    const std::size_t passwordLess = counts[static_cast<int>(Inspection::Kind::PasswordLess)];
    const std::size_t unreadable = counts[static_cast<int>(Inspection::Kind::Unreadable)];
    if (options.json) {
        std::fprintf(out,
                     "\n],\n\"counts\": {\"total\": %zu, \"passwordLess\": %zu, \"protected\": %zu, "
                     "\"unreadable\": %zu}\n}\n",
                     total, passwordLess, counts[static_cast<int>(Inspection::Kind::Protected)], unreadable);
    }
    std::fflush(out);
    if (InterruptSignal() != 0) return InterruptExitStatus(InterruptSignal());
    // The line a scheduled job's log keeps: whether password-less keys are left on the share.
    if (total == 0) {
        std::fprintf(err, "kivpfx: no .pfx or .p12 files found\n");
    } else {
        std::fprintf(err, "kivpfx: %zu files: %zu password-less, %zu protected, %zu unreadable\n", total,
                     passwordLess, counts[static_cast<int>(Inspection::Kind::Protected)], unreadable);
    }
    const bool failed = unreadable > 0 || unreadFolder || (options.failIfPasswordLess && passwordLess > 0);
    return failed ? 1 : 0;
}

}  // namespace kiv::cli
