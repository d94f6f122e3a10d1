#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kiv::certificate {

// Outcome of one certificate call: ok, or a description the user is shown after a status prefix.
struct CallResult {
    bool ok = true;
    std::string description;
    bool targetExists = false;  // Save found a file already at the output path and left it alone

    static CallResult Success() { return {}; }
    static CallResult Failure(std::string text) { return {false, std::move(text), false}; }
};

// One certificate object handles one PKCS#12 file: Load it, then Save a copy.
// Paths and passwords are UTF-8. Neither call throws.
class Certificate {
  public:
    virtual ~Certificate() = default;

    // keyStorageFlag 1: keep the private key exportable; keyLocation 0: the current user's store.
    virtual CallResult Load(const std::string& path, const std::string& password, int keyStorageFlag,
                            int keyLocation) = 0;

    // saveType 0: PKCS#12; includeOption 1: the whole chain. Never replaces an existing file.
    virtual CallResult Save(const std::string& path, const std::string& password, int saveType,
                            int includeOption) = 0;
    // Succeeds when the file at `path` is a protected copy of the loaded file: a regular file (not a
    // link) that opens with `password` and holds the same keys and certificates with their
    // attributes, in the same order. Otherwise the description says what is there instead. Reads
    // under the same limits as Load.
    virtual CallResult IsCopyAt(const std::string& path, const std::string& password) {
        (void)path;
        (void)password;
        return CallResult::Failure("This certificate object cannot compare files.");
    }
};

// Makes a fresh certificate object, or nothing when the component is unavailable.
using CertificateFactory = std::function<std::unique_ptr<Certificate>()>;

// Iterations of every key derivation of a copy. A build may lower it (the fuzzing build does, to run fast).
#ifdef KIV_SAVE_ITERATIONS
inline constexpr int kProtectionIterations = KIV_SAVE_ITERATIONS;
#else
inline constexpr int kProtectionIterations = 10000;
#endif

// How Save protects the copy.
struct SaveOptions {
    // Aes256: PBES2 (PBKDF2-HMAC-SHA256, AES-256-CBC) and an HMAC-SHA256 MAC.
    // TripleDesSha1: pbeWithSHAAnd3-KeyTripleDES-CBC and an HMAC-SHA1 MAC, for systems that cannot
    // read PBES2 (Windows before 10 1709 and Server 2016, macOS up to 10.15, Android up to 9, Java 8
    // before update 301).
    enum class Algorithms { Aes256, TripleDesSha1 };
    Algorithms algorithms = Algorithms::Aes256;
    int iterations = kProtectionIterations;
    // False when the caller already runs files side by side: each save then derives its keys on
    // the calling thread instead of handing them to helper threads.
    bool parallelDerivations = true;
};

// Fewest iterations Save accepts: fewer makes each password guess too cheap (RFC 8018 asks for at
// least 1,000). A build with a lower default accepts that default.
inline constexpr int kFewestSaveIterations = kProtectionIterations < 1000 ? kProtectionIterations : 1000;
// Most iterations Save accepts: the ceiling any file is read with, so the check of the written file
// can open what was written.
inline constexpr int kMostSaveIterations = 1'000'000;

// Empty when `options` can be used; otherwise what is wrong with them, for a usage message.
std::string SaveOptionsProblem(const SaveOptions& options);

// The factory of the real component. Objects it makes save with `options`, which must be usable
// (SaveOptionsProblem); Save refuses otherwise.
CertificateFactory OpenSslCertificateFactory(SaveOptions options = {});

// Saves announced ahead. While a run loads, writes and checks one file, helper threads derive the
// keys of its next copies, so the cores do not wait for one another. Each key gets its own random
// salt and serves one encryption, as if the save had derived it itself. Ending the announcement
// (destroying this) wipes every key made ahead and not used.
class SavesAhead {
  public:
    virtual ~SavesAhead() = default;
};

// Announces `saves` saves under `password` by objects of OpenSslCertificateFactory(`options`).
// Only AES copies have keys made ahead; for other options nothing is. At most a couple of saves'
// keys are made ahead at a time, and none beyond the announced saves. One announcement is in
// force at a time: a new one ends the one before.
std::unique_ptr<SavesAhead> AnnounceSaves(const std::string& password, std::size_t saves,
                                          const SaveOptions& options = {});

}  // namespace kiv::certificate
