// Linked into every program of the sanitized build only (KIV_SANITIZE).
//
// OpenSSL frees its global state at exit. That orphans the providers which the certificate
// component and the test-file maker load once per process and never unload, and LeakSanitizer
// then reports them from every test that reads a file. Without that clean-up they stay reachable,
// as they are while the program runs; anything else left unfreed is still reported. (Suppressing
// them instead needs whole stacks through OpenSSL, which makes the tests some twenty times slower.)

#include <openssl/crypto.h>

namespace {

// Must be OpenSSL's first initialisation to take effect, hence a static initialiser.
[[maybe_unused]] const bool kOpenSslCleanUpSkipped =
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

}  // namespace
