// kivpfx in pipelines: .p12 names, file lists, shards over several processes, and re-runs that
// tell finished work from names taken by something else.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "cli/CliFolder.h"
#include "cli/FindFiles.h"
#include "cli/KivpfxProcess.h"
#include "cli/MiniJson.h"
#include "engine/ProtectFile.h"

namespace kiv::cli::testing {
namespace {

using kiv::testing::PfxVariant;
using kiv::testing::ReadPfx;

constexpr const char* kPassword = "Pipeline-Pass-3";

class PipelinesTest : public CliFolderTest {
  protected:
    // `kivpfx protect ARGS` in this process, at the fewest iterations to keep it quick; `input` is its
    // standard input.
    Finished Protect(std::vector<std::string> args, const std::string& password = kPassword,
                     const std::string& input = {}) {
        std::vector<std::string> all = {"protect", "--iterations", "1000", "--password-file",
                                        PasswordFile(password + "\n")};
        all.insert(all.end(), args.begin(), args.end());
        return RunKivpfx(all, input);
    }
    bool Opens(const std::string& relative, const std::string& password = kPassword) const {
        return ReadPfx(Path(relative), password).has_value();
    }
};

TEST_F(PipelinesTest, TakenOutputCountsAsDoneOnlyWhenItIsThisFilesCopy) {
    struct Case {
        const char* name;
        std::function<void()> take;  // puts something at a_Password.Pfx
        int status;
        std::string reason;  // empty: the copy of this file, counted as done
    };
    const std::vector<Case> cases = {
        {"same copy", [this] { Protect({Path("a.pfx")}); }, 0, ""},
        {"other file",
         [this] {
             Pfx("other.pfx", PfxVariant::EcKey);
             Protect({Path("other.pfx")});
             std::filesystem::rename(Path("other_Password.Pfx"), Path("a_Password.Pfx"));
         },
         1, "other keys or certificates"},
        {"3DES copy",
         [this] {
             Protect({"--compat", Path("a.pfx")});
         },
         1, "not as AES-256 copies are"},
        {"folder", [this] { std::filesystem::create_directory(Path("a_Password.Pfx")); }, 1, "folder"},
        {"wrong password", [this] { Protect({Path("a.pfx")}, "another one"); }, 1, "password is not correct"},
        {"link to the copy",
         [this] {
             Protect({Path("a.pfx")});
             std::filesystem::rename(Path("a_Password.Pfx"), Path("real.bin"));
             std::filesystem::create_symlink(Path("real.bin"), Path("a_Password.Pfx"));
         },
         1, "symbolic link"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(Path(""));
        std::filesystem::create_directories(Path(".made"));
        Pfx("a.pfx");
        c.take();
        const auto before = Tree();
        for (const bool dryRun : {false, true}) {
            std::vector<std::string> args = {Path("a.pfx")};
            if (dryRun) args.insert(args.begin(), "--dry-run");
            const Finished run = Protect(args);
            const auto lines = Lines(run.out);
            ASSERT_EQ(lines.size(), 1u) << c.name << run.out << run.err;
            const std::string exists = "File [" + Path("a_Password.Pfx") + "] already exists";
            EXPECT_EQ(run.status, c.status) << c.name << " dry run " << dryRun;
            if (c.reason.empty()) {
                EXPECT_EQ(lines[0].first, exists) << c.name;
            } else {
                EXPECT_EQ(lines[0].first.rfind(exists + " and is not this file's protected copy: ", 0), 0u)
                    << lines[0].first;
                EXPECT_NE(lines[0].first.find(c.reason), std::string::npos)
                    << c.name << ": " << lines[0].first;
            }
            EXPECT_EQ(Tree(), before) << c.name << ": nothing is written or replaced";
        }
    }
}

TEST_F(PipelinesTest, P12NamesAreTakenAndAReRunHasNothingLeftToDo) {
    Pfx("a.pfx");
    Pfx("sub/b.P12", PfxVariant::KeyFirst);
    Pfx("sub/deeper/c.p12", PfxVariant::EcKey);
    Write("sub/notes.p7b", "not taken");
    const Finished first = Protect({Root()});
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_TRUE(Opens("a_Password.Pfx"));
    EXPECT_TRUE(Opens("sub/b_Password.p12"));
    EXPECT_TRUE(Opens("sub/deeper/c_Password.p12"));

    const Finished again = Protect({"--json", Root()});
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    const auto report = ParseJson(again.out);
    ASSERT_TRUE(report.has_value()) << again.out;
    EXPECT_EQ((*report)["counts"]["total"].number, 6);
    EXPECT_EQ((*report)["counts"]["exists"].number, 3);
    EXPECT_EQ((*report)["counts"]["alreadyProtected"].number, 3);
    EXPECT_EQ((*report)["counts"]["failed"].number, 0);
    EXPECT_EQ((*report)["byKind"]["already-protected"].number, 3);
    EXPECT_EQ((*report)["byKind"]["output-exists"].number, 3);
    EXPECT_NE(again.err.find("3 output already there, 3 already protected, 0 failed"), std::string::npos)
        << again.err;

    const Finished named = Protect({Path("sub/notes.p7b")});
    EXPECT_EQ(named.status, 2);
    EXPECT_NE(named.err.find("not a .pfx or .p12 file name"), std::string::npos) << named.err;
}

TEST_F(PipelinesTest, FileListsInLinesAndNulSeparatedKeepEveryByte) {
    const std::vector<std::string> names = {"plain.pfx", "caf\xe9.pfx", "two words.P12", "new\nline.pfx"};
    for (const std::string& name : names) Pfx("in/" + name);
    Pfx("in/folder/walked.pfx");
    Pfx("in/unlisted.pfx");
    for (const bool nul : {false, true}) {
        std::string list;
        for (const std::string& name : names) {
            if (!nul && name.find('\n') != std::string::npos) continue;
            list += Path("in/" + name) + (nul ? '\0' : '\n');
        }
        list += Path("in/folder") + (nul ? '\0' : '\n');
        // Lines from a file; NUL-separated names from standard input, as find -print0 pipes them.
        Write(".made/list", list);
        const Finished run = nul ? Protect({"--files-from", "-", "-0"}, kPassword, list)
                                 : Protect({"--files-from", Path(".made/list")});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        for (const std::string& name : names) {
            const bool listed = nul || name.find('\n') == std::string::npos;
            const std::string stem = name.substr(0, name.size() - 4);
            const std::string output =
                "in/" + stem + (name.ends_with(".P12") ? "_Password.p12" : "_Password.Pfx");
            EXPECT_EQ(Opens(output), listed) << name;
        }
        EXPECT_TRUE(Opens("in/folder/walked_Password.Pfx"));
        EXPECT_FALSE(std::filesystem::exists(Path("in/unlisted_Password.Pfx")));
    }
    const Finished missing = Protect({"--files-from", Path("missing-list")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("--files-from: " + Path("missing-list") + ": No such file"), std::string::npos)
        << missing.err;
}

// A sweep with --remove-sources leaves one protected copy per source that had a password-less key
// and none of those sources; every source whose copy was not made and verified stays. A run
// killed after publishing and before removing is the first run here: the next one removes.
TEST_F(PipelinesTest, RemoveSourcesTakesOnlySourcesWhoseCopyVerified) {
    Pfx("share/done.pfx");
    Pfx("share/new/a.p12", PfxVariant::KeyFirst);
    Write("share/junk.pfx", "junk");
    Pfx("share/locked.pfx", PfxVariant::PasswordProtected);
    Pfx("share/taken.pfx");
    Pfx("share/taken_Password.Pfx", PfxVariant::PasswordProtected);  // not its copy
    const std::string tooLong = std::string(250, 'n') + ".pfx";      // its output name cannot be made
    Pfx("share/" + tooLong);
    ASSERT_EQ(Protect({Path("share/done.pfx")}).status, 0);
    const auto before = Tree("share");
    const Finished dry = Protect({"-n", "--rm", Path("share")});
    EXPECT_EQ(Tree("share"), before);
    EXPECT_NE(dry.out.find("Ready, source to be removed\t" + Path("share/new/a.p12")), std::string::npos);
    const Finished run = Protect({"--remove-sources", "--json", Path("share")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(ParseJson(run.out).value_or(Json())["counts"]["removed"].number, 2) << run.out;
    EXPECT_EQ(Tree("share"),
              (std::set<std::string>{"done_Password.Pfx", "junk.pfx", "locked.pfx", tooLong, "new",
                                     "new/a_Password.p12", "taken.pfx", "taken_Password.Pfx"}));
    EXPECT_TRUE(Opens("share/done_Password.Pfx") && Opens("share/new/a_Password.p12"));
    const Finished again = RunKivpfx({"inspect", Path("share")});
    EXPECT_NE(again.err.find("7 files: 2 password-less, 4 protected, 1 unreadable"), std::string::npos)
        << again.err;
}

TEST(ShardTest, ParsesKOfNAndSplitsNamesEvenlyAndStably) {
    EXPECT_FALSE(Shard::Parse("4/4"));
    EXPECT_FALSE(Shard::Parse("0/0"));
    EXPECT_FALSE(Shard::Parse("1"));
    EXPECT_FALSE(Shard::Parse("-1/4"));
    EXPECT_FALSE(Shard::Parse("1/4x"));
    ASSERT_TRUE(Shard::Parse("3/4"));
    EXPECT_EQ(Shard::Parse("3/4")->index, 3u);
    // The same on every machine: fixed values of the hash, and a path named with "./" is the same path.
    EXPECT_EQ(StableHash(""), 0xf52a15e9a9b5e89bull);
    EXPECT_EQ(StableHash("a/b.pfx"), 0xc93c61fdace00929ull);
    EXPECT_EQ((Shard{1, 4}.Takes("./a/b.pfx")), (Shard{1, 4}.Takes("a/b.pfx")));
    std::vector<int> sizes(8);
    for (int i = 0; i < 8000; ++i) {
        const std::string name = "folder" + std::to_string(i % 37) + "/file" + std::to_string(i) + ".pfx";
        int takers = 0;
        for (unsigned k = 0; k < 8; ++k) {
            if (Shard{k, 8}.Takes(name)) {
                ++sizes[k];
                ++takers;
            }
        }
        ASSERT_EQ(takers, 1) << name;
    }
    for (const int size : sizes) EXPECT_NEAR(size, 1000, 120);
}

// Four processes over one tree, as four machines would run; one is killed and run again.
TEST_F(PipelinesTest, ShardsInParallelProcessesProtectEveryFileOnce) {
    Pfx(".made/source.pfx");
    std::set<std::string> all;
    for (int i = 0; i < 400; ++i) {
        const std::string name = "share/d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3) + "/f" +
                                 std::to_string(i) + (i % 2 ? ".p12" : ".pfx");
        std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
        std::filesystem::copy_file(Path(".made/source.pfx"), Path(name));
        all.insert(Path(name));
    }
    const std::string password = PasswordFile(std::string(kPassword) + "\n");
    const auto launch = [&](const std::string& shard, const std::string& root) {
        Launch l;
        l.args = {"protect", "--password-file", password, "--iterations", "1000", "--jobs", "1", "--json"};
        if (!shard.empty()) l.args.insert(l.args.end(), {"--shard", shard});
        l.args.push_back(root);
        return std::make_unique<Child>(l);
    };
    // The sources a run reported, outputs of earlier runs left out.
    const auto sources = [&](const Finished& run) {
        std::set<std::string> found;
        const auto report = ParseJson(run.out);
        if (!report) return found;
        for (const Json& file : (*report)["files"].array) {
            if (all.contains(file["source"].string)) found.insert(file["source"].string);
        }
        return found;
    };

    std::vector<std::unique_ptr<Child>> workers;
    for (int k = 0; k < 4; ++k) workers.push_back(launch(std::to_string(k) + "/4", Path("share")));
    std::vector<std::set<std::string>> shards;
    std::set<std::string> seen;
    for (auto& worker : workers) {
        const Finished run = worker->Wait();
        EXPECT_EQ(run.status, 0) << run.err;
        shards.push_back(sources(run));
        // A shard may meet an output another shard has just published: a file found, and skipped.
        const Json report = ParseJson(run.out).value_or(Json());
        EXPECT_EQ(report["counts"]["total"].number, report["files"].array.size());
        EXPECT_EQ(report["counts"]["alreadyProtected"].number,
                  report["files"].array.size() - shards.back().size());
        for (const std::string& source : shards.back()) EXPECT_TRUE(seen.insert(source).second) << source;
    }
    EXPECT_EQ(seen, all);
    for (const std::set<std::string>& shard : shards) EXPECT_GT(shard.size(), 60u);

    // Shard 2 again from scratch, killed part way; whatever it published is whole.
    for (const std::string& source : shards[2])
        std::filesystem::remove(engine::OutputPathFor(source, engine::Naming::Pkcs12));
    {
        auto killed = launch("2/4", Path("share"));
        // Killed once its first outputs are there, far from its last.
        const auto done = [&] {
            return std::count_if(shards[2].begin(), shards[2].end(), [](const std::string& source) {
                return std::filesystem::exists(engine::OutputPathFor(source, engine::Naming::Pkcs12));
            });
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (done() < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        killed->Signal(SIGKILL);
        EXPECT_EQ(killed->Wait().status, 128 + SIGKILL);
    }
    std::size_t published = 0;
    for (const std::string& name : Tree("share")) {
        const bool source = all.contains(Path("share/" + name));
        const bool output = name.find("_Password.") != std::string::npos;
        if (!source && !output) {
            EXPECT_TRUE(std::filesystem::is_directory(Path("share/" + name))) << "left behind: " << name;
        }
        if (output && shards[2].contains(Path("share/" + name.substr(0, name.find("_Password.")) +
                                              (name.ends_with(".p12") ? ".p12" : ".pfx")))) {
            ++published;
            EXPECT_TRUE(Opens("share/" + name)) << name;
        }
    }
    const Finished rerun = launch("2/4", Path("share"))->Wait();
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_EQ(sources(rerun), shards[2]);
    for (const std::string& source : shards[2])
        EXPECT_TRUE(ReadPfx(engine::OutputPathFor(source, engine::Naming::Pkcs12), kPassword));
    EXPECT_LT(published, shards[2].size()) << "the kill came after the whole shard was done";

    // A fifth run over the whole tree finds nothing left to do.
    const Finished whole = launch("", Path("share"))->Wait();
    EXPECT_EQ(whole.status, 0) << whole.err;
    const auto report = ParseJson(whole.out);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ((*report)["counts"]["exists"].number, 400);
    EXPECT_EQ((*report)["counts"]["alreadyProtected"].number, 400);
}

}  // namespace
}  // namespace kiv::cli::testing
