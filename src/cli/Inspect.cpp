#include "cli/Inspect.h"

#include "certificate/Inspection.h"
#include "cli/FindFiles.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"

namespace kiv::cli {
namespace {

using certificate::CertificateSummary;
using certificate::Inspection;
using certificate::KeySummary;

const char* KindWord(Inspection::Kind kind) {
    switch (kind) {
        case Inspection::Kind::PasswordLess:
            return "password-less";
        case Inspection::Kind::Protected:
            return "protected";
        case Inspection::Kind::NotPkcs12:
            return "not-pkcs12";
        case Inspection::Kind::Unreadable:
            return "unreadable";
    }
    return "unreadable";
}

void PrintText(const std::string& path, const Inspection& inspection, std::FILE* out) {
    switch (inspection.kind) {
        case Inspection::Kind::Protected:
            std::fprintf(out, "%s: protected by a password\n", path.c_str());
            return;
        case Inspection::Kind::NotPkcs12:
            std::fprintf(out, "%s: not a PKCS#12 file\n", path.c_str());
            return;
        case Inspection::Kind::Unreadable:
            std::fprintf(out, "%s: cannot be read: %s\n", path.c_str(), inspection.detail.c_str());
            return;
        case Inspection::Kind::PasswordLess:
            break;
    }
    std::fprintf(out, "%s: password-less PKCS#12 file, %zu key%s, %zu certificate%s\n", path.c_str(),
                 inspection.keys.size(), inspection.keys.size() == 1 ? "" : "s",
                 inspection.certificates.size(), inspection.certificates.size() == 1 ? "" : "s");
    for (const KeySummary& key : inspection.keys) {
        std::fprintf(out, "  key: %s\n", key.algorithm.c_str());
        if (!key.friendlyName.empty()) std::fprintf(out, "    friendly name: %s\n", key.friendlyName.c_str());
    }
    for (const CertificateSummary& certificate : inspection.certificates) {
        std::fprintf(out, "  certificate: %s\n", certificate.subject.c_str());
        std::fprintf(out, "    issuer: %s\n", certificate.issuer.c_str());
        std::fprintf(out, "    expires: %s%s\n", certificate.notAfter.c_str(),
                     certificate.expired ? " (expired)" : "");
        if (!certificate.friendlyName.empty())
            std::fprintf(out, "    friendly name: %s\n", certificate.friendlyName.c_str());
    }
}

void PrintJson(const std::string& path, const Inspection& inspection, bool first, std::FILE* out) {
    std::fprintf(out, "%s\n  {\"path\": %s, \"kind\": \"%s\"", first ? "" : ",", JsonString(path).c_str(),
                 KindWord(inspection.kind));
    if (inspection.kind == Inspection::Kind::Unreadable)
        std::fprintf(out, ", \"detail\": %s", JsonString(inspection.detail).c_str());
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

int RunInspect(const std::vector<std::string>& paths, bool json, std::FILE* out, std::FILE* err) {
    FoundFiles found;
    {
        const auto files = filesystem::CreateLocalFileSystem();
        found = FindFiles(paths, *files, true);
    }
    if (found.interrupted) return InterruptExitStatus(InterruptSignal());
    if (found.files.empty()) std::fprintf(err, "kivpfx: no .pfx files found\n");
    int status = 0;
    if (json) std::fprintf(out, "{\n\"command\": \"inspect\",\n\"files\": [");
    bool first = true;
    for (const std::string& path : found.files) {
        if (InterruptSignal() != 0) break;
        const Inspection inspection = certificate::InspectFile(path);
        if (inspection.kind == Inspection::Kind::Unreadable) status = 1;
        if (json) {
            PrintJson(path, inspection, first, out);
        } else {
            PrintText(path, inspection, out);
        }
        first = false;
    }
    if (json) std::fprintf(out, "\n]\n}\n");
    std::fflush(out);
    if (InterruptSignal() != 0) return InterruptExitStatus(InterruptSignal());
    return status;
}

}  // namespace kiv::cli
