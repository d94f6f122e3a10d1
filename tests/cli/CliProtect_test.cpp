#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/CliFolder.h"
#include "cli/KivpfxProcess.h"
#include "cli/MiniJson.h"
#include "cli/Text.h"
#include "filesystem/PathText.h"

namespace kiv::cli::testing {
namespace {

using kiv::testing::PfxVariant;
using kiv::testing::ReadPfx;

constexpr const char* kPassword = "Run-Password-1";

class CliProtectTest : public CliFolderTest {
  protected:
    Finished Protect(std::vector<std::string> args) {
        std::vector<std::string> all = {"protect", "--password-file",
                                        PasswordFile(std::string(kPassword) + "\n")};
        all.insert(all.end(), args.begin(), args.end());
        return RunKivpfx(all);
    }
    bool Opens(const std::string& relative, const std::string& password = kPassword) const {
        return ReadPfx(Path(relative), password).has_value();
    }
    std::size_t Count(const std::string& prefix) const {
        const auto tree = Tree();
        return static_cast<std::size_t>(std::count_if(tree.begin(), tree.end(), [&](const std::string& name) {
            return name.find(prefix) != std::string::npos;
        }));
    }
};

TEST_F(CliProtectTest, BadUsageExitsWithTwoAndWritesNothing) {
    Pfx("a.pfx");
    Write("notes.txt", "not a certificate");
    const std::string password = PasswordFile("pw\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command"},
        {{"protect"}, "at least one"},
        {{"protect", "--password-file", password}, "at least one"},
        {{"protect", "--bogus", root_}, "unknown option '--bogus'"},
        {{"protect", "--jobs", "0", root_}, "--jobs"},
        {{"protect", "--jobs=many", root_}, "--jobs"},
        {{"protect", "-j"}, "--jobs"},
        {{"protect", "--password", "secret", root_}, "never taken from the command line"},
        {{"protect", "--password=secret", root_}, "never taken from the command line"},
        {{"protect", "--password-file", password, "--password-fd", "0", root_}, "not both"},
        {{"protect", "--password-fd", "x", root_}, "descriptor number"},
        {{"protect", "--iterations", "999", root_}, "from 1,000 to 1,000,000"},
        {{"protect", "--iterations=1000001", root_}, "from 1,000 to 1,000,000"},
        {{"protect", "--iterations", "many", root_}, "--iterations"},
        {{"protect", "--compat", "--iterations"}, "--iterations"},
        {{"protect", "--password-file", password, Path("notes.txt")}, "not a .pfx or .p12 file name"},
        {{"protect", "--password-file", password, Path("no-such-folder")}, "no such file or folder"},
        {{"inspect"}, "at least one"},
        {{"inspect", "--verbose", root_}, "unknown option"},
    };
    for (const auto& [args, message] : cases) {
        const Finished run = RunKivpfx(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_NE(run.err.find(message), std::string::npos) << ::testing::PrintToString(args) << "\n"
                                                            << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    EXPECT_EQ(Tree(), (std::set<std::string>{"a.pfx", "notes.txt"}));
}

TEST_F(CliProtectTest, HelpAndVersion) {
    for (const auto& args :
         {std::vector<std::string>{"--help"}, {"help"}, {"protect", "--help"}, {"inspect", "-h"}}) {
        const Finished run = RunKivpfx(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("Usage: kivpfx protect"), std::string::npos);
        EXPECT_NE(run.out.find("--password-file"), std::string::npos);
        EXPECT_NE(run.out.find("--compat"), std::string::npos);
        EXPECT_NE(run.out.find("--iterations N"), std::string::npos);
    }
    const Finished version = RunKivpfx({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kivpfx", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("OpenSSL"), std::string::npos);
}

TEST_F(CliProtectTest, ExitStatusIsZeroWhenEveryOutputIsWrittenOrThereAndOneOnAnyFailure) {
    Pfx("a.pfx");
    Pfx("sub/b.PFX", PfxVariant::EmptyPasswordMac);
    Finished run = Protect({root_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out), (std::vector<std::pair<std::string, std::string>>{{"OK", Path("a.pfx")},
                                                                                {"OK", Path("sub/b.PFX")}}));
    EXPECT_TRUE(Opens("a_Password.Pfx"));
    EXPECT_TRUE(Opens("sub/b_Password.Pfx"));
    EXPECT_FALSE(Opens("a_Password.Pfx", "wrong"));

    // Again over the same sources: every output is there, which still counts as done.
    run = Protect({Path("a.pfx"), Path("sub/b.PFX")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out),
              (std::vector<std::pair<std::string, std::string>>{
                  {"File [" + Path("a_Password.Pfx") + "] already exists", Path("a.pfx")},
                  {"File [" + Path("sub/b_Password.Pfx") + "] already exists", Path("sub/b.PFX")}}));

    Pfx("c.pfx", PfxVariant::PasswordProtected);
    run = Protect({Path("c.pfx"), Path("gone.pfx")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.out), (std::vector<std::pair<std::string, std::string>>{
                                  {"File is already password protected", Path("c.pfx")},
                                  {"File not found", Path("gone.pfx")}}));
    EXPECT_FALSE(std::filesystem::exists(Path("c_Password.Pfx")));
}

// --compat and --iterations reach the copy, at one job and at several.
TEST_F(CliProtectTest, CompatAndIterationsChooseHowCopiesAreProtected) {
    Pfx("a.pfx");
    Pfx("b.pfx", PfxVariant::NullPasswordMac);
    Pfx("c/d.pfx");
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        const Finished run = Protect({"--compat", "--iterations", "2048", "--jobs", jobs, root_});
        EXPECT_EQ(run.status, 0) << run.err;
        for (const char* copy : {"a_Password.Pfx", "b_Password.Pfx", "c/d_Password.Pfx"}) {
            const auto read = ReadPfx(Path(copy), kPassword);
            ASSERT_TRUE(read.has_value()) << copy;
            EXPECT_EQ(read->mac, "SHA1 iter=2048") << copy;
            for (const std::string& part : read->encryptions)
                EXPECT_TRUE(part.ends_with(" PBE-SHA1-3DES iter=2048")) << copy << ": " << part;
            std::filesystem::remove(Path(copy));
        }
    }
    const Finished run = Protect({"--iterations=20000", Path("a.pfx")});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto read = ReadPfx(Path("a_Password.Pfx"), kPassword);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->mac, "SHA256 iter=20000");
    for (const std::string& part : read->encryptions)
        EXPECT_TRUE(part.ends_with(" PBES2 PBKDF2 hmacWithSHA256 AES-256-CBC iter=20000")) << part;
}

TEST_F(CliProtectTest, PasswordFileGivesItsFirstLineWithoutTheLineEnd) {
    Pfx("a.pfx");
    const std::string password = "Pass word \xc3\xa9";
    const Finished run =
        RunKivpfx({"protect", "--password-file", PasswordFile(password + "\r\nsecond line\n"), root_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Opens("a_Password.Pfx", password));
    EXPECT_FALSE(Opens("a_Password.Pfx", password + "\r"));
}

TEST_F(CliProtectTest, PasswordFromStandardInputAndFromADescriptor) {
    Pfx("in/a.pfx");
    Pfx("fd/a.pfx");
    Finished run = RunKivpfx({"protect", "--password-file", "-", Path("in")}, "From-Stdin\nnext\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Opens("in/a_Password.Pfx", "From-Stdin"));

    int fd[2];
    ASSERT_EQ(::pipe(fd), 0);
    WriteAll(fd[1], "From-Fd-3");  // no newline at the end: the whole content is the line
    ::close(fd[1]);
    run = RunKivpfx({"protect", "--password-fd", std::to_string(fd[0]), Path("fd")});
    ::close(fd[0]);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Opens("fd/a_Password.Pfx", "From-Fd-3"));
}

TEST_F(CliProtectTest, UnusablePasswordsAreRefusedBeforeAnythingIsWritten) {
    Pfx("a.pfx");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--password-file", PasswordFile("")}, "holds no password"},
        {{"--password-file", PasswordFile("\n")}, "empty password"},
        {{"--password-file", PasswordFile("\r\n")}, "empty password"},
        {{"--password-file", PasswordFile("\xff\xfe-latin1\n")}, "UTF-8"},
        {{"--password-file", PasswordFile(std::string(2000, 'x'))}, "longer than"},
        {{"--password-file", Path("no-such-file")}, "cannot open the password file"},
        {{"--password-fd", "999"}, "descriptor 999 is not open"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args = {"protect"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(root_);
        const Finished run = RunKivpfx(args);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Tree(), (std::set<std::string>{"a.pfx"}));
}

TEST_F(CliProtectTest, TerminalPromptAsksTwiceWithoutEchoAndAgainOnMismatch) {
    Pfx("a.pfx");
    Pfx("b.pfx", PfxVariant::PasswordProtected);
    TerminalChild child({"protect", root_});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Expect("Password: ")) << child.Screen();
    child.Type("First-Try\n");
    ASSERT_TRUE(child.Expect("Password again: ")) << child.Screen();
    child.Type("Second-Try\n");
    ASSERT_TRUE(child.Expect("do not match")) << child.Screen();
    ASSERT_TRUE(child.Expect("Password: ")) << child.Screen();
    child.Type("\n");
    ASSERT_TRUE(child.Expect("empty password is not accepted")) << child.Screen();
    ASSERT_TRUE(child.Expect("Password: ")) << child.Screen();
    child.Type("Typed-Secret\n");
    ASSERT_TRUE(child.Expect("Password again: ")) << child.Screen();
    child.Type("Typed-Secret\n");
    EXPECT_EQ(child.Wait(), 0);  // b.pfx has a password of its own: skipped, not failed
    const std::string screen = child.Screen();
    EXPECT_EQ(screen.find("Typed-Secret"), std::string::npos) << "echoed: " << screen;
    EXPECT_EQ(screen.find("First-Try"), std::string::npos) << "echoed: " << screen;
    // On a terminal only failures get a line of their own; the rest is counted.
    EXPECT_EQ(screen.find("\t"), std::string::npos) << screen;
    EXPECT_NE(screen.find("2 of 2 files: 1 OK, 0 output already there, 1 already protected, 0 failed"),
              std::string::npos)
        << screen;
    EXPECT_TRUE(Opens("a_Password.Pfx", "Typed-Secret"));
}

TEST_F(CliProtectTest, CtrlCAtThePromptEndsTheRunWithoutWriting) {
    Pfx("a.pfx");
    TerminalChild child({"protect", root_});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Expect("Password: ")) << child.Screen();
    child.Type("\x03");  // the terminal's interrupt character
    EXPECT_EQ(child.Wait(), 130) << child.Screen();
    EXPECT_EQ(Tree(), (std::set<std::string>{"a.pfx"}));
}

// The built program exits with the run's status; without a terminal it cannot ask the password.
TEST_F(CliProtectTest, TheProgramExitsWithTheRunsStatus) {
    Pfx("a.pfx");
    const Finished noTerminal = RunProgram({{"protect", Path("a.pfx")}});
    EXPECT_EQ(noTerminal.status, 2);
    EXPECT_NE(noTerminal.err.find("no terminal"), std::string::npos) << noTerminal.err;
    EXPECT_EQ(RunProgram({{"protect", "--password-file", PasswordFile("pw\n"), Path("a.pfx")}}).status, 0);
}

TEST_F(CliProtectTest, ReportFollowsTheOrderFilesWereFoundWhateverOrderJobsFinishIn) {
    // Unreadable files fail at once and protected ones only after their key derivations, so with
    // several jobs the files finish out of order.
    std::vector<std::string> args = {"--jobs", "4"};
    for (int i = 0; i < 24; ++i) {
        const std::string name = "f" + std::to_string(i) + ".pfx";
        if (i % 3 == 0) {
            Pfx(name, PfxVariant::PasswordProtected);
        } else if (i % 3 == 1) {
            Write(name, "junk");
        } else {
            Pfx(name);
        }
    }
    for (int i : {5, 17, 0, 23, 11, 2, 8, 14, 20, 1, 22, 3, 9, 15, 4, 21, 6, 12, 18, 7, 19, 10, 13, 16})
        args.push_back(Path("f" + std::to_string(i) + ".pfx"));
    const Finished run = Protect(args);
    EXPECT_EQ(run.status, 1);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 24u) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].second, args[i + 2]);

    // A folder is reported in the order of its walk, the order inspect lists it in.
    for (int i = 0; i < 6; ++i) {
        Pfx("tree/x" + std::to_string(i) + ".pfx");
        Pfx("tree/deep/y" + std::to_string(i) + ".pfx");
        Write("tree/deep/er/z" + std::to_string(i) + ".pfx", "junk");
    }
    const Finished walk = RunKivpfx({"inspect", Path("tree")});
    std::vector<std::string> walked;
    for (const auto& line : Lines(walk.out)) {
        if (line.first.rfind(root_, 0) == 0)
            walked.push_back(line.first.substr(0, line.first.find(".pfx: ") + 4));
    }
    ASSERT_EQ(walked.size(), 18u) << walk.out;
    const Finished tree = Protect({"--jobs", "3", Path("tree")});
    std::vector<std::string> reported;
    for (const auto& line : Lines(tree.out)) reported.push_back(line.second);
    EXPECT_EQ(reported, walked);
}

// Here names that differ only in letter case are two files; a path given twice is one.
TEST_F(CliProtectTest, NamesThatDifferOnlyInCaseAreTwoFilesAndAPathIsListedOnce) {
    Pfx("Dir/A.pfx");
    Pfx("Dir/a.pfx", PfxVariant::NoMac);
    const Finished run = Protect({Path("Dir"), Path("Dir/a.pfx"), Path("Dir/A.pfx")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out), (std::vector<std::pair<std::string, std::string>>{{"OK", Path("Dir/A.pfx")},
                                                                                {"OK", Path("Dir/a.pfx")}}));
    EXPECT_TRUE(Opens("Dir/A_Password.Pfx"));
    EXPECT_TRUE(Opens("Dir/a_Password.Pfx"));
}

TEST_F(CliProtectTest, JsonReportIsValidAndCarriesEveryFile) {
    Pfx("a.pfx");
    Pfx("b.pfx", PfxVariant::PasswordProtected);
    Pfx("c.pfx");
    Pfx("c_Password.Pfx", PfxVariant::PasswordProtected);  // taken before the run
    Write("quote\"back\\slash\ttab.pfx", "junk");
    Pfx("bad-\xff\xfe.pfx");  // a name that is not UTF-8
    const Finished run = Protect({"--json", "--jobs", "2", Path("a.pfx"), Path("b.pfx"), Path("c.pfx"),
                                  Path("quote\"back\\slash\ttab.pfx"), Path("bad-\xff\xfe.pfx")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(filesystem::IsValidUtf8(run.out));
    const auto report = ParseJson(run.out);
    ASSERT_TRUE(report.has_value()) << run.out;
    const Json& files = (*report)["files"];
    ASSERT_EQ(files.array.size(), 5u) << run.out;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"ok", "OK"},
        {"already-protected", "File is already password protected"},
        {"output-taken",
         "File [" + Path("c_Password.Pfx") + "] already exists and is not this file's protected copy"},
        {"load-error", "Error Loading : "},
        {"ok", "OK"},
    };
    for (std::size_t i = 0; i < files.array.size(); ++i) {
        const Json& file = files.array[i];
        EXPECT_EQ(file["outcome"].string, expected[i].first) << i;
        EXPECT_EQ(file["status"].string.rfind(expected[i].second, 0), 0u) << file["status"].string;
        EXPECT_EQ(file["milliseconds"].type, Json::Type::Number);
        EXPECT_GE(file["milliseconds"].number, 0);
    }
    EXPECT_EQ(files.array[3]["source"].string, Path("quote\"back\\slash\ttab.pfx"));
    // The bytes 0xFF 0xFE come back as U+DCFF U+DCFE.
    EXPECT_EQ(files.array[4]["source"].string, Path("bad-\xed\xb3\xbf\xed\xb3\xbe.pfx"));
    EXPECT_EQ(files.array[4]["output"].string, Path("bad-\xed\xb3\xbf\xed\xb3\xbe_Password.Pfx"));
    EXPECT_TRUE(Opens("bad-\xff\xfe_Password.Pfx"));
    const Json& counts = (*report)["counts"];
    EXPECT_EQ(counts["total"].number, 5);
    EXPECT_EQ(counts["ok"].number, 2);
    EXPECT_EQ(counts["exists"].number, 0);
    EXPECT_EQ(counts["alreadyProtected"].number, 1);
    EXPECT_EQ(counts["failed"].number, 2);
    EXPECT_EQ(counts["notRun"].number, 0);
    EXPECT_FALSE((*report)["interrupted"].boolean);
    EXPECT_FALSE((*report)["dryRun"].boolean);
}

TEST_F(CliProtectTest, QuietPrintsFailuresOnly) {
    Pfx("a.pfx");
    Write("b.pfx", "junk");
    const Finished run = Protect({"--quiet", root_});
    EXPECT_EQ(run.status, 1);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(lines[0].first.rfind("Error Loading : ", 0), 0u);
    EXPECT_EQ(lines[0].second, Path("b.pfx"));
    EXPECT_TRUE(run.err.empty()) << run.err;
}

// The dry run ends each file as the run does up to its save; only a file the run writes differs.
TEST_F(CliProtectTest, DryRunGivesEachFileTheRunsStatusAndWritesNothing) {
    Pfx("a.pfx");
    Pfx("legacy.pfx", PfxVariant::Legacy);
    Pfx("b.pfx", PfxVariant::PasswordProtected);
    Write("c.pfx", "junk");
    Pfx("d.pfx");
    Pfx("d_Password.Pfx", PfxVariant::PasswordProtected);
    std::filesystem::create_directories(Path("e_Password.Pfx"));  // a folder takes the output name
    Pfx("e.pfx");
    const std::string tooLong = std::string(250, 'n') + ".pfx";  // for its output name
    Pfx(tooLong);
    Pfx("a.PFX", PfxVariant::NoMac);  // another file with a.pfx's output name
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.pfx", "ok"},           {"legacy.pfx", "ok"},      {"b.pfx", "already-protected"},
        {"c.pfx", "load-error"},   {"gone.pfx", "not-found"}, {"d.pfx", "output-taken"},
        {"e.pfx", "output-taken"}, {tooLong, "save-error"},   {"a.PFX", "output-exists"}};
    std::vector<std::string> args = {"-n", "--json", "--jobs", "3"};
    for (const auto& named : cases) args.push_back(Path(named.first));
    const auto before = Tree();
    // The password opens the outputs already there; nothing is written.
    const Finished dry = Protect(args);
    EXPECT_EQ(Tree(), before);
    const Finished run = Protect({args.begin() + 1, args.end()});
    EXPECT_EQ(dry.status, run.status);
    const auto checked = ParseJson(dry.out), done = ParseJson(run.out);
    ASSERT_TRUE(checked && done) << dry.out << run.out;
    ASSERT_EQ((*checked)["files"].array.size(), cases.size());
    ASSERT_EQ((*done)["files"].array.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [name, outcome] = cases[i];
        const Json& ready = (*checked)["files"].array[i];
        const Json& result = (*done)["files"].array[i];
        EXPECT_EQ(result["outcome"].string, outcome) << name << ": " << result["status"].string;
        EXPECT_EQ(ready["outcome"].string, outcome == "ok" ? "ready" : outcome) << name;
        EXPECT_EQ(ready["status"].string, outcome == "ok" ? "Ready" : result["status"].string) << name;
    }
    EXPECT_TRUE((*checked)["dryRun"].boolean);
    EXPECT_EQ((*checked)["counts"]["ready"].number, 2);
}

TEST_F(CliProtectTest, TwoRunsAtOnceWriteEachOutputExactlyOnce) {
    std::vector<std::string> sources;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "s" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".pfx";
        Pfx(name);
        sources.push_back(Path(name));
    }
    const std::string password = PasswordFile(std::string(kPassword) + "\n");
    const std::vector<std::string> args = {"protect", "--jobs",   "2",        "--password-file",
                                           password,  Path("s0"), Path("s1"), Path("s2")};
    Finished a, b;
    std::thread other([&] { b = RunKivpfx(args); });
    a = RunKivpfx(args);
    other.join();

    // A run that starts its walk after the other has written outputs finds them too and reports
    // them as protected files, as the window's search would; only those make it exit with 1.
    std::map<std::string, std::vector<std::string>> statuses;
    for (const Finished* run : {&a, &b}) {
        bool foundOutputs = false;
        for (const auto& [status, path] : Lines(run->out)) {
            if (path.ends_with("_Password.Pfx")) {
                EXPECT_EQ(status, "File is already password protected") << path;
                foundOutputs = true;
            } else {
                statuses[path].push_back(status);
            }
        }
        EXPECT_EQ(run->status, foundOutputs ? 1 : 0) << run->err;
    }
    ASSERT_EQ(statuses.size(), sources.size());
    for (const std::string& source : sources) {
        const std::string output = source.substr(0, source.size() - 4) + "_Password.Pfx";
        std::vector<std::string> got = statuses[source];
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<std::string>{"File [" + output + "] already exists", "OK"})) << source;
        EXPECT_TRUE(ReadPfx(output, kPassword).has_value()) << output;
    }
    EXPECT_EQ(Count(".kivpfx-"), 0u);
    EXPECT_EQ(Count("_Password.Pfx"), sources.size());
}

TEST_F(CliProtectTest, CtrlCFinishesFilesInFlightAndLeavesNothingPartial) {
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i) Pfx("f" + std::to_string(1000 + i) + ".pfx");
    Launch launch;
    launch.args = {"protect", "--jobs", "2", "--password-file", PasswordFile(std::string(kPassword) + "\n"),
                   root_};
    Child run(launch);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Count("_Password.Pfx") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    run.Signal(SIGINT);
    const Finished finished = run.Wait();
    EXPECT_EQ(finished.status, 130) << finished.err;
    EXPECT_NE(finished.err.find("stopped"), std::string::npos) << finished.err;

    std::set<std::string> reportedOk;
    for (const auto& [status, path] : Lines(finished.out)) {
        EXPECT_EQ(status, "OK") << path;
        reportedOk.insert(path.substr(0, path.size() - 4) + "_Password.Pfx");
    }
    std::set<std::string> written;
    for (const std::string& name : Tree()) {
        if (name.find("_Password.Pfx") != std::string::npos) written.insert(Path(name));
    }
    EXPECT_EQ(written, reportedOk);
    EXPECT_GE(written.size(), 1u);
    EXPECT_LT(written.size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(Count(".kivpfx-"), 0u);
    for (const std::string& output : written) EXPECT_TRUE(ReadPfx(output, kPassword).has_value()) << output;
}

// A second stop ends the program at once, without waiting for the file in flight: at the most
// iterations each file takes a good part of a second, and the run ends before the first is done.
TEST_F(CliProtectTest, ASecondCtrlCEndsTheRunAtOnceAndLeavesNothingPartial) {
    for (int i = 0; i < 4; ++i) Pfx("f" + std::to_string(i) + ".pfx");
    Launch launch;
    launch.args = {"protect",
                   "--jobs",
                   "1",
                   "--iterations",
                   "1000000",
                   "--password-file",
                   PasswordFile(std::string(kPassword) + "\n"),
                   root_};
    Child run(launch);
    // A worker thread runs once the password is read and the handlers are in place; then a moment
    // more puts it inside the first save.
    const std::string tasks = "/proc/" + std::to_string(run.Pid()) + "/task";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::distance(std::filesystem::directory_iterator(tasks), std::filesystem::directory_iterator()) <
               2 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Two signals pending at once are one; the second goes once the first has been taken.
    const auto pending = [&] {
        std::ifstream status("/proc/" + std::to_string(run.Pid()) + "/status");
        unsigned long long mask = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0)
                mask |= std::stoull(line.substr(7), nullptr, 16);
        }
        return (mask & (1ull << (SIGINT - 1))) != 0;
    };
    run.Signal(SIGINT);
    while (pending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.Signal(SIGINT);
    const Finished finished = run.Wait();
    EXPECT_EQ(finished.status, 130) << finished.err;
    EXPECT_NE(finished.err.find("kivpfx: stopped at once"), std::string::npos) << finished.err;
    EXPECT_EQ(finished.err.find(" of 4 files"), std::string::npos) << finished.err;  // no summary
    EXPECT_EQ(finished.out, "");
    EXPECT_EQ(Tree(), (std::set<std::string>{"f0.pfx", "f1.pfx", "f2.pfx", "f3.pfx"}));
}

TEST_F(CliProtectTest, AReaderThatGoesAwayStopsTheRunWithoutPartialFiles) {
    for (int i = 0; i < 60; ++i) Pfx("f" + std::to_string(i) + ".pfx");
    Launch launch;
    launch.args = {"protect", "--jobs", "2", "--password-file", PasswordFile(std::string(kPassword) + "\n"),
                   root_};
    launch.closedOutput = true;
    const Finished finished = RunProgram(launch);
    EXPECT_EQ(finished.status, 128 + SIGPIPE) << finished.err;
    EXPECT_EQ(Count(".kivpfx-"), 0u);
    EXPECT_LT(Count("_Password.Pfx"), 60u);
    for (const std::string& name : Tree()) {
        if (name.find("_Password.Pfx") != std::string::npos) {
            EXPECT_TRUE(Opens(name)) << name;
        }
    }
}

}  // namespace
}  // namespace kiv::cli::testing
