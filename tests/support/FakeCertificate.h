#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "certificate/Certificate.h"

namespace kiv::testing {

// A certificate component whose outcomes a test sets per source file. A successful Save writes a
// small file at the output path unless told not to, so the run's existence tests see it.
class FakeCertificates {
  public:
    struct Outcome {
        std::string loadError;  // Load fails with this description when not empty
        std::string saveError;  // Save fails with this description when not empty
        bool saveWritesNothing = false;
    };

    std::map<std::string, Outcome> outcomes;  // by source path
    std::function<void(const std::string& path)> onLoad;
    std::vector<std::string> calls;  // "Load <path> <password> <flag> <location>", "Save ..."
    int made = 0;
    int alive = 0;
    int maxAlive = 0;
    bool refuse = false;  // the factory gives nothing

    certificate::CertificateFactory Factory();
};

}  // namespace kiv::testing
