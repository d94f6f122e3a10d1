#include "support/FakeCertificate.h"

#include <algorithm>
#include <fstream>

namespace kiv::testing {
namespace {

class FakeCertificate final : public certificate::Certificate {
  public:
    explicit FakeCertificate(FakeCertificates& owner) : owner_(owner) {
        ++owner_.alive;
        owner_.maxAlive = std::max(owner_.maxAlive, owner_.alive);
    }
    ~FakeCertificate() override { --owner_.alive; }

    certificate::CallResult Load(const std::string& path, const std::string& password, int flag,
                                 int location) override {
        owner_.calls.push_back("Load " + path + " [" + password + "] " + std::to_string(flag) + " " +
                               std::to_string(location));
        if (owner_.onLoad) owner_.onLoad(path);
        source_ = path;
        const auto outcome = Find();
        if (!outcome.loadError.empty()) return certificate::CallResult::Failure(outcome.loadError);
        return certificate::CallResult::Success();
    }

    certificate::CallResult Save(const std::string& path, const std::string& password, int type,
                                 int include) override {
        owner_.calls.push_back("Save " + path + " [" + password + "] " + std::to_string(type) + " " +
                               std::to_string(include));
        const auto outcome = Find();
        if (!outcome.saveError.empty()) return certificate::CallResult::Failure(outcome.saveError);
        if (!outcome.saveWritesNothing) std::ofstream(path) << "protected copy of " << source_;
        return certificate::CallResult::Success();
    }

  private:
    FakeCertificates::Outcome Find() const {
        auto found = owner_.outcomes.find(source_);
        return found == owner_.outcomes.end() ? FakeCertificates::Outcome{} : found->second;
    }

    FakeCertificates& owner_;
    std::string source_;
};

}  // namespace

certificate::CertificateFactory FakeCertificates::Factory() {
    return [this]() -> std::unique_ptr<certificate::Certificate> {
        if (refuse) return nullptr;
        ++made;
        return std::make_unique<FakeCertificate>(*this);
    };
}

}  // namespace kiv::testing
