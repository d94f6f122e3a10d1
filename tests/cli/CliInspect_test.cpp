#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "cli/CliFolder.h"
#include "cli/Inspect.h"
#include "cli/KivpfxProcess.h"
#include "cli/MiniJson.h"

namespace kiv::cli::testing {
namespace {

using kiv::testing::PfxVariant;

// `kivpfx inspect` in this process, its output streams caught in memory.
struct Inspected {
    int status = -1;
    std::string out;
    std::string err;
};

Inspected Inspect(const std::vector<std::string>& paths, bool json = false) {
    Inspected run;
    char* out = nullptr;
    char* err = nullptr;
    std::size_t outSize = 0, errSize = 0;
    std::FILE* outStream = ::open_memstream(&out, &outSize);
    std::FILE* errStream = ::open_memstream(&err, &errSize);
    InspectOptions options;
    options.json = json;
    run.status = RunInspect(paths, options, outStream, errStream);
    std::fclose(outStream);
    std::fclose(errStream);
    run.out.assign(out, outSize);
    run.err.assign(err, errSize);
    std::free(out);
    std::free(err);
    return run;
}

class CliInspectTest : public CliFolderTest {};

// Folders are walked as protect walks them; a file named is inspected whatever its name. A file
// that asks for endless key derivation is refused at once (the test's time-out bounds it).
TEST_F(CliInspectTest, PrintsEachFileAndExitsWithOneForUnreadableOnes) {
    Pfx("a.pfx");
    Pfx("sub/b.pfx", PfxVariant::PasswordProtected);
    Write("sub/c.pfx", "junk");
    Pfx("sub/hostile.pfx", PfxVariant::HugeMacCount);
    Write("sub/notes.txt", "not looked at");
    Pfx("other.p12");
    const Inspected run = Inspect({root_, Path("other.p12")});
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string expected[] = {
        Path("a.pfx") +
            ": password-less PKCS#12 file, 1 key, 3 certificates\n"
            "  format: AES-256 (PBES2, AES-256-CBC, HMAC-SHA256)\n  key: RSA 2048 bits\n"
            "  certificate: CN=Kiv Test Leaf,O=Kiv Test\n"
            "    issuer: CN=Kiv Test Intermediate CA,O=Kiv Test\n    expires: ",
        // .p12 files are walked too, and one named again is inspected again.
        Path("other.p12") + ": password-less PKCS#12 file",
        Path("sub/b.pfx") +
            ": protected by a password\n  format: AES-256 (PBES2, AES-256-CBC, HMAC-SHA256)\n",
        Path("sub/c.pfx") + ": cannot be read: The file is not a PKCS#12 file, or it is damaged.",
        Path("sub/hostile.pfx") +
            ": cannot be read: The file's integrity check asks for 2,147,483,647 iterations of key "
            "derivation; at most 1,000,000 are accepted.\n",
    };
    std::size_t at = 0;
    for (const std::string& line : expected) {
        const std::size_t found = run.out.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << run.out;
        at = found + line.size();
    }
    EXPECT_EQ(run.out.find("notes.txt"), std::string::npos);
    EXPECT_NE(run.out.find("other.p12", run.out.find("other.p12") + 1), std::string::npos);
    EXPECT_EQ(Tree(), (std::set<std::string>{"a.pfx", "sub", "sub/b.pfx", "sub/c.pfx", "sub/hostile.pfx",
                                             "sub/notes.txt", "other.p12"}));

    EXPECT_NE(run.err.find("kivpfx: 6 files: 3 password-less, 1 protected, 2 unreadable\n"),
              std::string::npos)
        << run.err;
    // A scheduled check of a share fails while a password-less file is on it.
    EXPECT_EQ(RunKivpfx({"inspect", "--fail-if-passwordless", Path("a.pfx")}).status, 1);
    EXPECT_EQ(RunKivpfx({"inspect", "--fail-if-passwordless", Path("sub/b.pfx")}).status, 0);

    Write("empty/x.txt", "");
    const Inspected none = Inspect({Path("empty")});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.err, "kivpfx: no .pfx or .p12 files found\n");
}

TEST_F(CliInspectTest, JsonCarriesWhatEachFileHoldsOrWhyItCannotBeRead) {
    Pfx("a.pfx", PfxVariant::ExtraAttributes);
    Pfx("hostile.pfx", PfxVariant::HugeMacCount);
    const Inspected run = Inspect({Path("a.pfx"), Path("gone.pfx"), Path("hostile.pfx")}, true);
    EXPECT_EQ(run.status, 1);
    const auto report = ParseJson(run.out);
    ASSERT_TRUE(report.has_value()) << run.out;
    EXPECT_EQ((*report)["command"].string, "inspect");
    const Json& files = (*report)["files"];
    ASSERT_EQ(files.array.size(), 3u);
    EXPECT_EQ(files.array[0]["path"].string, Path("a.pfx"));
    EXPECT_EQ(files.array[0]["kind"].string, "password-less");
    EXPECT_EQ(files.array[0]["format"].string, "AES-256");
    ASSERT_EQ(files.array[0]["keys"].array.size(), 1u);
    EXPECT_EQ(files.array[0]["keys"].array[0]["friendlyName"].string, "Kiv Leaf Key \xc3\xbc");
    const Json& intermediate = files.array[0]["certificates"].array[1];
    EXPECT_EQ(intermediate["issuer"].string, "CN=Kiv Test Root CA,O=Kiv Test");
    EXPECT_EQ(intermediate["expired"].type, Json::Type::Bool);
    EXPECT_EQ(files.array[1]["kind"].string, "unreadable");
    EXPECT_EQ(files.array[1]["detail"].string, "The file does not exist.");
    EXPECT_EQ(files.array[2]["kind"].string, "unreadable");
    EXPECT_NE(files.array[2]["detail"].string.find("2,147,483,647 iterations"), std::string::npos);
}

}  // namespace
}  // namespace kiv::cli::testing
